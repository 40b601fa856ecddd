#include "compact/compact_verify.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "compact/compactor.h"
#include "db/row.h"
#include "db/system_tables.h"
#include "format/bytes_write.h"
#include "format/text.h"

namespace tessmark::jet {
namespace {

[[noreturn]] void Differs(const std::string& what) {
  throw CopyRejected(kDamaged, "differs from the original (" + what + ")");
}

// Hashes a row's canonical bytes twice, eight bytes at a time, in two
// independent chains (so the processor works on both at once). Each step
// is a bijection of a chain's state for a given word (xor or add, multiply
// by an odd constant, rotate), so two inputs of the same length that differ
// anywhere leave different states; the final mix spreads the difference
// over all 64 bits. The length goes into the starting states.
std::pair<uint64_t, uint64_t> HashBytes(std::span<const uint8_t> buf) {
  auto finish = [](uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    return x ^ (x >> 33);
  };
  uint64_t a = 0x9E3779B97F4A7C15ull ^ buf.size();
  uint64_t b = 0xC2B2AE3D27D4EB4Full + buf.size();
  auto step = [&](uint64_t w) {
    a = std::rotl((a ^ w) * 0x9FB21C651E98DF25ull, 27);
    b = std::rotl((b + w) * 0x94D049BB133111EBull, 31);
  };
  size_t i = 0;
  for (; i + 8 <= buf.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, buf.data() + i, 8);
    step(w);
  }
  uint64_t tail = 0;
  if (i < buf.size()) std::memcpy(&tail, buf.data() + i, buf.size() - i);
  step(tail);
  return {finish(a), finish(b)};
}

// Canonical bytes as they are put together. The buffer only grows, so
// after the first rows of a table a row is written with no allocation; each
// value makes sure of its room once (Need) and is then written without
// further checks. `used` counts the bytes of the current row.
class CanonicalBuffer {
 public:
  explicit CanonicalBuffer(std::vector<uint8_t>& storage) : buf_(storage) {}
  // Room for `n` more bytes.
  void Need(size_t n) {
    if (n > buf_.size() - used_) buf_.resize(std::max(used_ + n, 2 * buf_.size()));
  }
  // The writers below assume the room was made.
  void Byte(uint8_t b) { buf_.data()[used_++] = b; }
  void U32(uint32_t v) {
    PutU32(buf_, used_, v);
    used_ += 4;
  }
  // The span's length (4 bytes), then its bytes.
  void Span(std::span<const uint8_t> s) {
    U32(static_cast<uint32_t>(s.size()));
    if (!s.empty()) std::memcpy(buf_.data() + used_, s.data(), s.size());
    used_ += s.size();
  }
  std::span<const uint8_t> bytes() const { return std::span<const uint8_t>(buf_).first(used_); }

 private:
  std::vector<uint8_t>& buf_;
  size_t used_ = 0;
};

std::vector<bool> IdColumns(const TableDef& def) {
  std::vector<bool> out(def.columns.size());
  for (size_t c = 0; c < def.columns.size(); ++c) out[c] = HoldsTableIds(def, def.columns[c]);
  return out;
}

// The canonical bytes of a row, put together in `storage`: per column a
// presence byte, then the value's bytes (long values read in full; table
// Ids mapped through `ids` when given).
std::span<const uint8_t> CanonicalRow(Database& db, const TableDef& def,
                                      const std::vector<bool>& id_column, Bytes row,
                                      const DecodedRow& d, const std::map<uint32_t, uint32_t>* ids,
                                      const Location& at, std::vector<uint8_t>& storage) {
  CanonicalBuffer buf(storage);
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const Field& f = d.fields[c];
    const ColumnDef& col = def.columns[c];
    // The most any column takes but an out-of-line long value: a presence
    // byte, a length and its bytes (or a mapped table Id).
    buf.Need(9 + size_t{f.length});
    buf.Byte(f.is_null ? 0 : 1);
    if (col.boolean()) {
      buf.Byte(f.bool_value ? 1 : 0);
      continue;
    }
    if (f.is_null) continue;
    const auto field = row.subspan(f.offset, f.length);
    if (col.long_value()) {
      // A field without bytes is an empty value, as an empty inline one.
      if (field.empty()) {
        buf.Span(field);
        continue;
      }
      const LongValueField lv = ParseLongValueField(field, at);
      if (lv.form == LongValueForm::kInline) {
        buf.Span(lv.inline_data);
      } else {
        // Rows are digested by the million; each thread keeps one buffer.
        thread_local std::vector<uint8_t> value;
        db.long_values().ReadInto(lv, at, value);
        buf.Need(4 + value.size());
        buf.Span(value);
      }
    } else if (ids != nullptr && id_column[c] && f.length == 4) {
      uint32_t v = LoadU32(field.data());
      auto it = ids->find(v);
      if (it != ids->end()) v = it->second;
      buf.U32(4);
      buf.U32(v);
    } else {
      buf.Span(field);
    }
  }
  return buf.bytes();
}

RowDigests DigestTable(Database& db, const TableDef& def, const std::map<uint32_t, uint32_t>* ids) {
  const std::vector<bool> id_column = IdColumns(def);
  RowDigests out;
  std::vector<uint8_t> buf;
  DecodedRow d;
  Location at = def.where();
  db.ForEachRow(def, [&](const TableRow& row) {
    at.page = row.data.page;
    at.row = row.data.row;
    DecodeRow(def, db.format(), row.bytes, at, d);
    out.Add(HashBytes(CanonicalRow(db, def, id_column, row.bytes, d, ids, at, buf)));
  });
  return out;
}

uint32_t MapId(const std::map<uint32_t, uint32_t>& ids, uint32_t id) {
  auto it = ids.find(id);
  return it == ids.end() ? id : it->second;
}

void CompareDefinitions(const TableDef& a, const TableDef& b,
                        const std::map<uint32_t, uint32_t>& ids, bool autonumber_reset) {
  const std::string t = "table '" + a.name + "'";
  if (a.table_type != b.table_type || a.max_columns != b.max_columns ||
      a.var_columns != b.var_columns)
    Differs(t + ": the definition header differs");
  // A counter left below the highest value is moved up to it (the copy's
  // check holds it there); otherwise it is kept.
  if (!autonumber_reset &&
      static_cast<int32_t>(b.last_autonumber) < static_cast<int32_t>(a.last_autonumber))
    Differs(t + ": the AutoNumber counter differs");
  if (a.columns.size() != b.columns.size()) Differs(t + ": the number of columns differs");
  for (size_t i = 0; i < a.columns.size(); ++i) {
    const ColumnDef& x = a.columns[i];
    const ColumnDef& y = b.columns[i];
    if (x.type != y.type || x.number != y.number || x.var_index != y.var_index ||
        x.flags != y.flags || x.fixed_offset != y.fixed_offset || x.length != y.length ||
        x.name != y.name || x.ext_flags != y.ext_flags)
      Differs(t + ": column '" + x.name + "' differs");
  }
  if (a.real_indexes.size() != b.real_indexes.size() ||
      a.logical_indexes.size() != b.logical_indexes.size())
    Differs(t + ": the number of indexes differs");
  for (size_t i = 0; i < a.real_indexes.size(); ++i) {
    const RealIndexDef& x = a.real_indexes[i];
    const RealIndexDef& y = b.real_indexes[i];
    bool same = x.flags == y.flags && x.columns.size() == y.columns.size();
    for (size_t k = 0; same && k < x.columns.size(); ++k) {
      same = x.columns[k].column_number == y.columns[k].column_number &&
             x.columns[k].ascending == y.columns[k].ascending;
    }
    if (!same) Differs(t + ": physical index " + std::to_string(i) + " differs");
  }
  for (size_t i = 0; i < a.logical_indexes.size(); ++i) {
    const LogicalIndexDef& x = a.logical_indexes[i];
    const LogicalIndexDef& y = b.logical_indexes[i];
    if (x.name != y.name || x.number != y.number || x.real_index != y.real_index ||
        x.fk_role != y.fk_role || x.fk_index != y.fk_index ||
        MapId(ids, x.fk_table_page) != y.fk_table_page || x.update_action != y.update_action ||
        x.delete_action != y.delete_action || x.index_type != y.index_type)
      Differs(t + ": index '" + x.name + "' differs");
  }
  if (a.long_value_maps.size() != b.long_value_maps.size())
    Differs(t + ": the long-value columns differ");
}

}  // namespace

CopyRejected::CopyRejected(int32_t number, const std::string& why)
    : Error(number, "Compaction was abandoned because the compacted copy " + why +
                        "; the original database is untouched.") {}

void RowDigests::Add(std::pair<uint64_t, uint64_t> h) {
  ++count;
  sum_a += h.first;
  sum_b += h.second;
  uint64_t m = h.first ^ (h.second * 0x9E3779B97F4A7C15ull);
  m ^= m >> 31;
  sum_mixed += m * 0xBF58476D1CE4E5B9ull;
}

void TableDigests::AddRow(const TableDef& table, Bytes row, const DecodedRow& d,
                          const Location& where) {
  auto [it, fresh] = tables_.try_emplace(table.page);
  Table& t = it->second;
  if (fresh) {
    t.id_column = IdColumns(table);
    t.skipped = !with_id_tables_ &&
                std::find(t.id_column.begin(), t.id_column.end(), true) != t.id_column.end();
  }
  if (t.skipped) return;
  t.digests.Add(HashBytes(CanonicalRow(db_, table, t.id_column, row, d, nullptr, where, scratch_)));
}

void TableDigests::AddEveryRow() {
  DecodedRow d;
  for (const CatalogObject* t : db_.Tables()) {
    const TableDef& def = db_.Table(*t);
    Location at = def.where();
    db_.ForEachRow(def, [&](const TableRow& row) {
      at.page = row.data.page;
      at.row = row.data.row;
      DecodeRow(def, db_.format(), row.bytes, at, d);
      AddRow(def, row.bytes, d, at);
    });
  }
}

const RowDigests* TableDigests::Find(uint32_t table_page) const {
  auto it = tables_.find(table_page);
  if (it == tables_.end() || it->second.skipped) return nullptr;
  return &it->second.digests;
}

void VerifySameContent(Database& source, Database& copy,
                       const std::map<uint32_t, uint32_t>& table_ids, bool autonumber_reset,
                       const TableDigests* source_digests, const TableDigests* copy_digests) {
  if (source.header().version != copy.header().version ||
      source.header().decoded_page != copy.header().decoded_page)
    Differs("the header page differs");
  // Every definition, a linked table's too, has one in the copy, named by
  // the same object.
  const auto src_tables = source.Definitions();
  const auto dst_tables = copy.Definitions();
  if (src_tables.size() != dst_tables.size()) Differs("the number of tables differs");
  for (const CatalogObject* s : src_tables) {
    const CatalogObject* d = nullptr;
    for (const CatalogObject* o : dst_tables) {
      if (o->type == s->type && SameNameIgnoringCase(o->name, s->name)) d = o;
    }
    if (d == nullptr) Differs("table '" + s->name + "' is missing");
    if (d->table_page() != MapId(table_ids, s->table_page()))
      Differs("table '" + s->name + "' has an unexpected Id");
    const TableDef& a = source.Table(*s);
    const TableDef& b = copy.Table(*d);
    CompareDefinitions(a, b, table_ids, autonumber_reset);
    const RowDigests* known_x = source_digests ? source_digests->Find(a.page) : nullptr;
    const RowDigests* known_y = copy_digests ? copy_digests->Find(b.page) : nullptr;
    const RowDigests x = known_x ? *known_x : DigestTable(source, a, &table_ids);
    const RowDigests y = known_y ? *known_y : DigestTable(copy, b, nullptr);
    if (x.count != y.count) {
      Differs("table '" + s->name + "' has " + std::to_string(y.count) + " rows instead of " +
              std::to_string(x.count));
    }
    if (x != y) Differs("rows of table '" + s->name + "' differ");
    if (b.row_count != y.count) Differs("table '" + s->name + "' records a wrong row count");
  }
}

}  // namespace tessmark::jet
