// Index keys made from rows: the key a row has in an index, built from the
// row's values, for indexes rebuilt from rows alone.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "db/long_value.h"
#include "db/row.h"
#include "db/table_def.h"
#include "format/format.h"

namespace tessmark::jet {

struct RowKey {
  std::vector<uint8_t> key;
  size_t null_columns = 0;  // indexed columns of the row that are NULL
};

// The key of the row `row` (decoded as `decoded`) in `index` of `table`.
// nullopt when a value has no known key form (text with characters the
// collation tables do not cover). Throws 3049 at `where` for a value of
// the wrong size.
std::optional<RowKey> KeyOfRow(const TableDef& table, const Format& format,
                               const RealIndexDef& index, Bytes row, const DecodedRow& decoded,
                               LongValueReader& long_values, const Location& where);

}  // namespace tessmark::jet
