// Where in a database file something was found: what checks, repairs and
// damage errors name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessmark::jet {

struct Location {
  std::optional<uint32_t> page;
  std::optional<uint32_t> row;
  std::string table;   // table name, when known
  std::string index;   // index name, when known
  std::string column;  // column name, when known

  static Location Page(uint32_t page_number) {
    Location l;
    l.page = page_number;
    return l;
  }
  Location WithPage(uint32_t page_number) const {
    Location l = *this;
    l.page = page_number;
    l.row.reset();
    return l;
  }
  Location WithRow(uint32_t page_number, uint32_t row_number) const {
    Location l = *this;
    l.page = page_number;
    l.row = row_number;
    return l;
  }

  // "table T, index I, page 12, row 3"; empty when nothing is known.
  std::string ToString() const;
};

}  // namespace tessmark::jet
