// Typed values of row fields, and their canonical text form (used by dumps
// and by comparisons with other readers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/long_value.h"
#include "db/row.h"
#include "db/table_def.h"
#include "format/format.h"
#include "tessmark/jet_types.h"

namespace tessmark::jet {

struct Value {
  // Where a kind keeps its value: kCurrency the amount times 10 000 in
  // `integer`, kDateTime days since 1899-12-30 in `real`, kText UTF-8 in
  // `text`, kGuid the 16 bytes as stored in `bytes`, kNumeric the decimal
  // number in `text`.
  using Kind = ValueKind;
  Kind kind = Kind::kNull;
  bool boolean = false;
  int64_t integer = 0;
  double real = 0;
  std::string text;
  std::vector<uint8_t> bytes;

  bool is_null() const { return kind == Kind::kNull; }
};

// Decodes the value of column `column` whose field in `row` is `field`.
// Long values are read through `long_values`. Fields of the wrong size for
// their type are damage (3049 at `where`).
Value DecodeValue(const ColumnDef& column, const Format& format, const Field& field, Bytes row,
                  LongValueReader& long_values, const Location& where);

// Throws 3049 at `where`, naming the column, when a value present in the
// row has not the size its type stores (types of any size always pass).
// What DecodeValue checks before it reads a value, without reading it.
void CheckValueSize(const ColumnDef& column, const Field& field, const Location& where);

// Text of a stored value of `column` (Jet 3 code page, Jet 4 UCS-2 or
// compressed Unicode).
std::string DecodeText(const ColumnDef& column, const Format& format, Bytes bytes);

// Numeric (decimal) column value: 17 bytes, sign then magnitude.
std::string DecodeNumeric(Bytes stored, uint8_t scale);

// Canonical text of a value:
//   integers in decimal; Currency with four decimals ("12.3400");
//   Single/Double in the shortest form that reads back exactly;
//   DateTime as "YYYY-MM-DD HH:MM:SS"; GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
//   binary as upper-case hex; Boolean "true"/"false"; NULL as an empty string.
std::string FormatValue(const Value& value);

// DateTime text for days since 1899-12-30 ("YYYY-MM-DD HH:MM:SS").
std::string FormatDateTime(double days);

}  // namespace tessmark::jet
