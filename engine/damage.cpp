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

std::string DamageText(const Location& where, const std::string& what) {
  std::string text = "The database is damaged: " + what;
  const std::string place = where.ToString();
  if (!place.empty()) text += " (" + place + ")";
  return text + ".";
}

void ThrowDamaged(const Location& where, const std::string& what) {
  throw Error(kDamaged, DamageText(where, what));
}

}  // namespace tessmark::jet
