#include "format/damage.h"

#include <utility>

namespace tessmark::jet {

std::string Location::ToString() const {
  std::string out;
  auto add = [&out](const std::string& part) {
    if (!out.empty()) out += ", ";
    out += part;
  };
  if (!table.empty()) add("table " + table);
  if (!index.empty()) add("index " + index);
  if (!column.empty()) add("column " + column);
  if (page) add("page " + std::to_string(*page));
  if (row) add("row " + std::to_string(*row));
  return out;
}

namespace {

std::string Finding(const Location& where, const std::string& what) {
  const std::string place = where.ToString();
  return place.empty() ? what : what + " (" + place + ")";
}

}  // namespace

DamageError::DamageError(const Location& where, const std::string& what)
    : Error(kDamaged, "The database is damaged: " + Finding(where, what) + "."),
      where_(where),
      what_(what),
      finding_(Finding(where, what)) {}

void ThrowDamaged(const Location& where, const std::string& what) {
  throw DamageError(where, what);
}

std::string DamageFinding(const Error& error) {
  if (const auto* damage = dynamic_cast<const DamageError*>(&error)) return damage->finding();
  std::string text = error.description();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string FindingAt(const Location& found, const std::string& what, const Location& at) {
  const bool within = found.table == at.table && found.page == at.page && found.row == at.row &&
                      (at.index.empty() || found.index == at.index) &&
                      (at.column.empty() || found.column == at.column);
  if (!within) return Finding(found, what);
  Location finer;
  if (at.index.empty()) finer.index = found.index;
  if (at.column.empty()) finer.column = found.column;
  return Finding(finer, what);
}

std::string DamageFindingAt(const Error& error, const Location& at) {
  const auto* damage = dynamic_cast<const DamageError*>(&error);
  if (damage == nullptr) return DamageFinding(error);
  return FindingAt(damage->where(), damage->what_found(), at);
}

}  // namespace tessmark::jet
