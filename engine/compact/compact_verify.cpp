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

// Hashes a row's canonical bytes, eight bytes at a time, into four lanes
// that take the words in turn (so the processor works on four chains at
// once). Each step is a bijection of its lane's state for a given word
// (xor, multiply by an odd constant, rotate), so two inputs of the same
// length that differ anywhere leave different states in some lane. The
// length and `tag` go into the starting states. Each of the two results
// folds the four lanes so that, with the other three fixed, it is a
// bijection of any one (add, xor, multiply by odd constants, rotate, and a
// bijective final mix): a difference confined to one lane changes both
// results; one spread over more changes them but by chance.
std::pair<uint64_t, uint64_t> HashBytes(std::span<const uint8_t> buf, uint64_t tag) {
  auto finish = [](uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    return x ^ (x >> 33);
  };
  const uint64_t n = buf.size();
  uint64_t lane[4] = {0x9E3779B97F4A7C15ull ^ n, 0xC2B2AE3D27D4EB4Full + n,
                      0x165667B19E3779F9ull ^ tag, 0xD6E8FEB86659FD93ull + tag};
  constexpr uint64_t kMul[4] = {0x9FB21C651E98DF25ull, 0x94D049BB133111EBull, 0xBF58476D1CE4E5B9ull,
                                0x87C37B91114253D5ull};
  constexpr int kRot[4] = {27, 31, 29, 23};
  auto step = [&](size_t l, uint64_t w) { lane[l] = std::rotl((lane[l] ^ w) * kMul[l], kRot[l]); };
  const uint8_t* p = buf.data();
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    uint64_t w[4];
    std::memcpy(w, p + i, 32);
    for (size_t l = 0; l < 4; ++l) step(l, w[l]);
  }
  size_t l = 0;
  for (; i + 8 <= n; i += 8, ++l) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    step(l, w);
  }
  if (i < n) {
    uint64_t w = 0;
    std::memcpy(&w, p + i, static_cast<size_t>(n - i));
    step(l, w);
  }
  const uint64_t ab = lane[0] + std::rotl(lane[1], 17) * 0xA0761D6478BD642Full;
  const uint64_t cd = lane[2] + std::rotl(lane[3], 41) * 0xE7037ED1A0B428DBull;
  const uint64_t ad = lane[3] ^ std::rotl(lane[0], 13) * 0x8EBC6AF09C88C6E3ull;
  const uint64_t bc = lane[1] ^ std::rotl(lane[2], 53) * 0x589965CC75374CC3ull;
  return {finish(ab ^ std::rotl(cd * 0x1D8E4E27C47D124Full, 29)),
          finish(bc + std::rotl(finish(ad), 19))};
}

// Each copied row keeps its bytes but for two kinds of field: a long value
// kept outside the row is written afresh, its field pointing at the new
// place, and a table Id takes its new number (fields of the same length as
// before). A row's canonical bytes are therefore its own bytes, with each
// long-value field that points outside the row replaced by the value's
// length (4 bytes) and bytes, and each table Id mapped (when a map is
// given), followed by the offset and length of each long-value field
// replaced; their number goes into the hash. These determine the row: the
// offsets part the bytes kept from the values read, and the bytes kept
// hold the row's layout, so two rows alike in them hold the same values.
// A row without such fields is hashed where it lies.
RowPlan PlanRows(const TableDef& def) {
  RowPlan plan;
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const bool lv = def.columns[c].long_value();
    const bool id = HoldsTableIds(def, def.columns[c]);
    if (lv) plan.long_values.push_back(c);
    if (id) plan.ids.push_back(c);
    if (lv || id) plan.both.push_back(c);
  }
  return plan;
}

// The hash of a row's canonical bytes; `d` gives the fields of the plan's
// columns (of its long-value columns alone when `ids` is null). `storage`
// is scratch kept from row to row.
std::pair<uint64_t, uint64_t> DigestRow(Database& db, const RowPlan& plan, Bytes row,
                                        const DecodedRow& d,
                                        const std::map<uint32_t, uint32_t>* ids, const Location& at,
                                        std::vector<uint8_t>& storage) {
  struct Edit {
    uint32_t offset, length;
    LongValueField lv;  // the long value, or none for a table Id
    uint32_t id = 0;
    bool long_value = false;
  };
  // Rows are digested by the million; each thread keeps its buffers.
  thread_local std::vector<Edit> edits;
  thread_local std::vector<uint8_t> value;
  edits.clear();
  for (const size_t c : plan.long_values) {
    const Field& f = d.fields[c];
    if (f.is_null || f.length == 0) continue;
    LongValueField lv = ParseLongValueField(row.subspan(f.offset, f.length), at);
    if (lv.form != LongValueForm::kInline) edits.push_back({f.offset, f.length, lv, 0, true});
  }
  if (ids != nullptr) {
    for (const size_t c : plan.ids) {
      const Field& f = d.fields[c];
      if (f.is_null || f.length != 4) continue;
      const uint32_t v = LoadU32(row.data() + f.offset);
      const auto it = ids->find(v);
      if (it != ids->end() && it->second != v) edits.push_back({f.offset, 4, {}, it->second});
    }
  }
  if (edits.empty()) return HashBytes(row, 0);
  std::sort(edits.begin(), edits.end(),
            [](const Edit& x, const Edit& y) { return x.offset < y.offset; });
  storage.clear();
  uint64_t replaced = 0;
  uint32_t kept_from = 0;
  auto put_u32 = [&](uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    storage.insert(storage.end(), b, b + 4);
  };
  for (const Edit& e : edits) {
    storage.insert(storage.end(), row.begin() + static_cast<std::ptrdiff_t>(kept_from),
                   row.begin() + static_cast<std::ptrdiff_t>(e.offset));
    kept_from = e.offset + e.length;
    if (e.long_value) {
      db.long_values().ReadInto(e.lv, at, value);
      put_u32(static_cast<uint32_t>(value.size()));
      storage.insert(storage.end(), value.begin(), value.end());
      ++replaced;
    } else {
      put_u32(e.id);
    }
  }
  storage.insert(storage.end(), row.begin() + static_cast<std::ptrdiff_t>(kept_from), row.end());
  for (const Edit& e : edits) {
    if (!e.long_value) continue;
    put_u32(e.offset);
    put_u32(e.length);
  }
  return HashBytes(storage, replaced);
}

// Decodes what `plan` needs of a row read by the table's own reader: the
// long-value columns, and the Id columns too when they are mapped.
void DecodeForPlan(const RowLayout& layout, const RowPlan& plan, Bytes row, const Location& at,
                   bool mapped, DecodedRow& d) {
  const std::vector<size_t>& columns = mapped ? plan.both : plan.long_values;
  if (!columns.empty()) DecodeRow(layout, row, at, columns, d);
}

RowDigests DigestTable(Database& db, const TableDef& def, const std::map<uint32_t, uint32_t>* ids) {
  const RowPlan plan = PlanRows(def);
  const RowLayout layout(def, db.format());
  RowDigests out;
  std::vector<uint8_t> buf;
  DecodedRow d;
  Location at = def.where();
  db.ForEachRow(def, [&](const TableRow& row) {
    at.page = row.data.page;
    at.row = row.data.row;
    DecodeForPlan(layout, plan, row.bytes, at, ids != nullptr, d);
    out.Add(DigestRow(db, plan, row.bytes, d, ids, at, buf));
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

TableDigests::Table& TableDigests::Entry(const TableDef& table) {
  // Rows come table by table: the last table's entry is mostly the one.
  if (last_ != nullptr && last_page_ == table.page) return *last_;
  auto [it, fresh] = tables_.try_emplace(table.page);
  Table& t = it->second;
  if (fresh) {
    t.plan = PlanRows(table);
    t.skipped = !with_id_tables_ && !t.plan.ids.empty();
  }
  last_ = &t;
  last_page_ = table.page;
  return t;
}

void TableDigests::AddRow(const TableDef& table, Bytes row, const DecodedRow& d,
                          const Location& where) {
  Table& t = Entry(table);
  if (t.skipped) return;
  t.digests.Add(DigestRow(db_, t.plan, row, d, nullptr, where, scratch_));
}

void TableDigests::AddEveryRow() {
  DecodedRow d;
  RowLayout layout;
  for (const CatalogObject* object : db_.Tables()) {
    const TableDef& def = db_.Table(*object);
    layout.Assign(def, db_.format());
    Location at = def.where();
    db_.ForEachRow(def, [&](const TableRow& row) {
      Table& t = Entry(def);
      if (t.skipped) return;
      at.page = row.data.page;
      at.row = row.data.row;
      DecodeForPlan(layout, t.plan, row.bytes, at, false, d);
      t.digests.Add(DigestRow(db_, t.plan, row.bytes, d, nullptr, at, scratch_));
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
