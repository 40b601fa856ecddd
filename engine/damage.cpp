#include "engine/damage.h"

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
constexpr char kDamagePrefix[] = "The database is damaged: ";
}  // namespace

std::string DamageText(const Location& where, const std::string& what) {
  std::string text = kDamagePrefix + what;
  const std::string place = where.ToString();
  if (!place.empty()) text += " (" + place + ")";
  return text + ".";
}

std::string DamageFinding(const std::string& description) {
  std::string text = description;
  const std::string prefix = kDamagePrefix;
  if (text.rfind(prefix, 0) == 0) text = text.substr(prefix.size());
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

void ThrowDamaged(const Location& where, const std::string& what) {
  throw Error(kDamaged, DamageText(where, what));
}

}  // namespace tessmark::jet
