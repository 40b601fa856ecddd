#include "repair/row_keys.h"

#include "db/table_layout.h"
#include "db/value.h"
#include "tessmark/error.h"

namespace tessmark::jet {

std::optional<RowKey> KeyOfRow(const TableDef& table, const Format& format,
                               const RealIndexDef& index, Bytes row, const DecodedRow& decoded,
                               LongValueReader& long_values, const Location& where) {
  // The key encoder works on a laid-out table: only the types, the scale
  // and the version count.
  TableLayout layout;
  layout.version = format.jet3() ? JetVersion::kJet3 : JetVersion::kJet4;
  layout.name = table.name;
  RowKey out;
  for (const IndexColumn& ic : index.columns) {
    const ColumnDef* column = table.ColumnByNumber(ic.column_number);
    if (column == nullptr) ThrowDamaged(where, "an index names a column the table does not have");
    const auto pos = static_cast<size_t>(column - table.columns.data());
    ColumnLayout c;
    c.decl.name = column->name;
    c.decl.type = column->column_type();
    c.decl.scale = column->scale;
    layout.columns.assign(1, c);
    const Value value = DecodeValue(*column, format, decoded.fields[pos], row, long_values, where);
    if (value.is_null() && !column->boolean()) ++out.null_columns;
    try {
      AppendKeySegment(layout, 0, value, ic.ascending, out.key);
    } catch (const Error& e) {
      if (e.number() != kInvalidArgument) throw;
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace tessmark::jet
