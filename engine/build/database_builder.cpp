#include "build/database_builder.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "db/entry_sorter.h"
#include "db/system_tables.h"
#include "format/bytes_write.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/output_file.h"
#include "format/page_image.h"
#include "format/page_writer.h"
#include "format/random.h"
#include "format/text.h"
#include "tessmark/error.h"

namespace tessmark::jet {
namespace {

constexpr double kDefaultCreationDate = 43831.0;  // 2020-01-01
constexpr size_t kSystemTables = 4;               // MSysObjects .. MSysRelationships
constexpr uint32_t kInlineLongValueMax = 64;

[[noreturn]] void Bad(const std::string& what) { throw Error(kInvalidArgument, what); }

struct TableState {
  TableLayout layout;
  uint32_t id = 0;
  std::vector<uint32_t> tdef_pages;
  bool loaded = false;
  std::vector<uint32_t> data_pages, free_data_pages;
  uint32_t row_count = 0;
  uint32_t last_autonumber = 0;
  std::vector<TableDefNumbers::Index> index_numbers;
  std::vector<std::vector<uint32_t>> index_pages;
  std::vector<std::vector<uint32_t>> lv_pages, lv_free;  // per memo/OLE column, column order
  StaleBookkeeping stale;
  bool linked_odbc = false;  // then the connect string and the remote table's name
  std::string connect, foreign_name;
};

// Byte-wise order of keys (spelled out: GCC 12's warnings misread the
// standard three-way comparison of vectors on 32-bit targets).
struct KeyLess {
  bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const {
    const size_t n = std::min(a.size(), b.size());
    const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    return c != 0 ? c < 0 : a.size() < b.size();
  }
};

// A data page being filled, with the slot flags to set when it is written.
struct OpenPage {
  explicit OpenPage(const PageGeometry& g, uint32_t owner, bool left = false)
      : builder(g, owner), stale(left) {}
  DataPageBuilder builder;
  bool stale;  // taken out of the table's usage map, rows and owner left
  uint32_t number = 0;
  size_t live = 0;  // rows on it that were not deleted
  std::vector<std::pair<uint8_t, uint16_t>> flags;
};

// Index entries are collected with one more byte, set for the entries of
// rows deleted after they were indexed.
constexpr uint8_t kEntryLive = 0, kEntryReleased = 1;

}  // namespace

struct DatabaseBuilder::Impl {
  BuildOptions options;
  Env* env;
  std::string path, partial;
  const Format& format;
  PageGeometry geometry;
  std::unique_ptr<OutputFile> out;
  std::vector<TableState> tables;
  std::vector<RelationshipDecl> relationships;
  std::vector<uint32_t> free_pages;
  bool frozen = false;
  bool finished = false;
  BuildStats stats;

  // The table being loaded.
  size_t active = SIZE_MAX;
  std::unique_ptr<OpenPage> page, overflow, stale;
  std::vector<std::unique_ptr<EntrySorter>> sorters;
  // Keys of unique indexes that hold a NULL: Jet lets those repeat.
  std::vector<std::set<std::vector<uint8_t>, KeyLess>> null_keys;
  // Per index: the key inserted last, and whether keys came out of order.
  std::vector<std::vector<uint8_t>> last_keys;
  std::vector<bool> out_of_order;
  std::map<size_t, std::unique_ptr<LongValueWriter>> lv_writers;

  Impl(const std::string& target, const BuildOptions& o)
      : options(o),
        env(o.env != nullptr ? o.env : DefaultEnv()),
        path(target),
        partial(target + ".partial"),
        format(Format::For(o.version)),
        geometry(PageGeometry::For(o.version)) {
    if (options.creation_date == 0) options.creation_date = kDefaultCreationDate;
    if (options.password.size() > 80) Bad("The password is too long.");
    NewHeaderFor();  // validates the password before the file exists
    DatabaseHeader h;
    h.version = o.version;
    h.page_size = geometry.page_size;
    h.database_key = o.database_key;
    // The database is written under a temporary name beside its place and
    // only renamed into place once it is complete and flushed.
    if (env->FileExists(path))
      throw Error(kDatabaseExists,
                  "The file \"" + path + "\" exists already; it is not overwritten.");
    out = std::make_unique<OutputFile>(env, partial, h);
    RemoveStaleSortScratch(*env, partial);
    out->Allocate();  // 0: header
    out->Allocate();  // 1: global usage map
    const std::vector<TableDecl> system = SystemTableDecls(o.version);
    for (const TableDecl& decl : system) {
      TableState t;
      t.layout = LayOutTable(decl, o.version);
      t.id = out->Allocate();  // 2..5: the catalog first
      t.tdef_pages.push_back(t.id);
      tables.push_back(std::move(t));
    }
  }

  NewHeader NewHeaderFor() const {
    NewHeader n;
    n.version = options.version;
    n.database_key = options.database_key;
    n.creation_date = options.creation_date;
    if (options.version == JetVersion::kJet3) {
      const auto bytes = Utf8ToCodePage1252(options.password);
      if (bytes.size() > 20) Bad("A Jet 3 password has at most 20 characters.");
      n.password_bytes.assign(bytes.begin(), bytes.end());
    } else {
      for (char32_t c : Utf8ToCodePoints(options.password)) {
        if (c > 0xFFFF) Bad("The password holds a character Jet 4 cannot store.");
        n.password.push_back(static_cast<char16_t>(c));
      }
      if (n.password.size() > 20) Bad("A Jet 4 password has at most 20 characters.");
    }
    return n;
  }

  size_t Find(const std::string& name) const {
    for (size_t i = 0; i < tables.size(); ++i)
      if (SameNameIgnoringCase(tables[i].layout.name, name)) return i;
    Bad("There is no table \"" + name + "\".");
  }

  // A catalog name must be a valid key of MSysObjects' ParentIdName index.
  void CheckCatalogName(const std::string& name) const {
    std::vector<uint8_t> key;
    const TableLayout& catalog = tables[0].layout;
    AppendKeySegment(catalog, catalog.ColumnPosition("Name"), TextValue(name), true, key);
  }

  void AddTable(const TableDecl& decl) {
    if (frozen) Bad("Tables must be declared before rows are loaded.");
    for (const TableState& t : tables)
      if (SameNameIgnoringCase(t.layout.name, decl.name))
        Bad("Table \"" + decl.name + "\" exists already.");
    TableDecl user = decl;
    user.system = false;
    TableState t;
    t.layout = LayOutTable(user, options.version);
    CheckCatalogName(decl.name);
    tables.push_back(std::move(t));
  }

  void AddRelationship(const RelationshipDecl& r) {
    if (frozen) Bad("Relationships must be declared before rows are loaded.");
    const size_t fk = Find(r.table), pk = Find(r.referenced_table);
    if (fk < kSystemTables || pk < kSystemTables) Bad("System tables take no relationships.");
    const size_t fk_col = tables[fk].layout.ColumnPosition(r.column);
    const size_t pk_col = tables[pk].layout.ColumnPosition(r.referenced_column);
    const TableLayout& pl = tables[pk].layout;
    bool unique = false;
    for (const RealIndexLayout& ri : pl.real_indexes)
      if (ri.columns.size() == 1 && ri.columns[0].first == pk_col && (ri.flags & kIndexUnique))
        unique = true;
    if (!unique)
      Bad("Relationship \"" + r.name + "\" must refer to a uniquely indexed column of \"" +
          r.referenced_table + "\".");
    if (tables[fk].layout.columns[fk_col].decl.type != pl.columns[pk_col].decl.type)
      Bad("The columns of relationship \"" + r.name + "\" differ in type.");
    for (const RelationshipDecl& other : relationships)
      if (SameNameIgnoringCase(other.name, r.name))
        Bad("Relationship \"" + r.name + "\" exists already.");
    // Its name and those of both sides are keys of MSysRelationships' indexes.
    const TableLayout& rel = tables[3].layout;
    for (const std::string* text : {&r.name, &r.table, &r.referenced_table}) {
      std::vector<uint8_t> key;
      AppendKeySegment(rel, 0, TextValue(*text), true, key);
    }
    relationships.push_back(r);
  }

  TableDefNumbers EmptyNumbers(const TableLayout& l) const {
    TableDefNumbers n;
    n.indexes.resize(l.real_indexes.size());
    for (const ColumnLayout& c : l.columns)
      if (c.long_value()) n.long_values.emplace_back();
    n.fk_table_pages.assign(l.logical_indexes.size(), 0);
    return n;
  }

  void Freeze() {
    if (frozen) return;
    frozen = true;
    // Each relationship adds a foreign-key index to both tables.
    std::map<size_t, int> hidden_names;
    for (const RelationshipDecl& r : relationships) {
      const size_t fk = Find(r.table), pk = Find(r.referenced_table);
      TableLayout& fl = tables[fk].layout;
      TableLayout& pl = tables[pk].layout;
      const size_t fk_col = fl.ColumnPosition(r.column);
      const size_t pk_col = pl.ColumnPosition(r.referenced_column);
      LogicalIndexLayout f;
      f.name = r.name;
      f.number = static_cast<uint32_t>(fl.logical_indexes.size());
      f.real = fl.RealIndexFor({{fk_col, true}});
      f.type = kIndexTypeForeignKey;
      f.fk_role = 2;
      f.fk_table = pk;
      f.update_action = 0;
      f.delete_action = 0;
      LogicalIndexLayout p;
      p.name = ".r" + std::string(1, static_cast<char>('A' + hidden_names[pk]++ % 26)) +
               std::to_string(hidden_names[pk] / 26);
      p.number = static_cast<uint32_t>(pl.logical_indexes.size());
      p.real = pl.RealIndexFor({{pk_col, true}});
      p.type = kIndexTypeForeignKey;
      p.fk_role = 1;
      p.fk_table = fk;
      p.update_action = 0;
      p.delete_action = 0;
      f.fk_index = static_cast<int32_t>(p.number);
      p.fk_index = static_cast<int32_t>(f.number);
      fl.logical_indexes.push_back(f);
      pl.logical_indexes.push_back(p);
    }
    for (TableState& t : tables) {
      const size_t len = EncodeTableDef(t.layout, EmptyNumbers(t.layout)).size();
      const uint32_t count = TableDefPageCount(geometry, len);
      while (t.tdef_pages.size() < count) t.tdef_pages.push_back(out->Allocate());
      if (t.id == 0) t.id = t.tdef_pages.front();
    }
  }

  void Begin(size_t index) {
    if (active != SIZE_MAX)
      Bad("Table \"" + tables[active].layout.name + "\" is still being loaded.");
    TableState& t = tables[index];
    if (t.loaded) Bad("Table \"" + t.layout.name + "\" has been loaded already.");
    active = index;
    page = std::make_unique<OpenPage>(geometry, t.id);
    overflow = std::make_unique<OpenPage>(geometry, t.id);
    stale = std::make_unique<OpenPage>(geometry, t.id, true);
    sorters.clear();
    null_keys.assign(t.layout.real_indexes.size(), {});
    last_keys.assign(t.layout.real_indexes.size(), {});
    out_of_order.assign(t.layout.real_indexes.size(), false);
    const size_t share = options.index_memory / std::max<size_t>(1, t.layout.real_indexes.size());
    for (size_t i = 0; i < t.layout.real_indexes.size(); ++i)
      sorters.push_back(std::make_unique<EntrySorter>(share, *env, partial));
    lv_writers.clear();
    for (size_t c = 0; c < t.layout.columns.size(); ++c)
      if (t.layout.columns[c].long_value())
        lv_writers[c] = std::make_unique<LongValueWriter>(geometry, format, *out);
  }

  TableState& Active() {
    if (active == SIZE_MAX) Bad("No table is being loaded.");
    return tables[active];
  }

  void Flush(OpenPage& p) {
    if (p.number == 0) return;
    TableState& t = tables[active];
    if (p.live == 0 && !t.stale.emptied_pages_mapped) {
      // Every row on it was deleted: the page went back to the file.
      p.builder.Finish();
      p.flags.clear();
      out->Write(p.number, PageImage(geometry.page_size, 0));
      free_pages.push_back(p.number);
      ++stats.free_pages;
      p.number = 0;
      return;
    }
    const size_t free = p.builder.free_space();
    PageImage image = p.builder.Finish();
    for (const auto& [row, flag] : p.flags) {
      const size_t at = geometry.data_header_size() + 2u * row;
      PutU16(image, at, static_cast<uint16_t>(LoadU16(image.data() + at) | flag));
    }
    p.flags.clear();
    if (t.stale.free_space != 0)
      PutU16(image, kPageFreeSpace,
             static_cast<uint16_t>(static_cast<int64_t>(free) + t.stale.free_space));
    out->Write(p.number, image);
    if (p.stale) {
      ++stats.stale_pages;
    } else {
      t.data_pages.push_back(p.number);
      if (free >= kFreeMapThreshold) t.free_data_pages.push_back(p.number);
    }
    p.number = 0;
    p.live = 0;
  }

  RowPointer Place(OpenPage& p, std::span<const uint8_t> row, uint16_t flag) {
    if (p.number == 0 || !p.builder.Fits(row.size())) {
      Flush(p);
      p.number = out->Allocate();
    }
    const uint8_t r = p.builder.Add(row);
    if (flag != 0) p.flags.emplace_back(r, flag);
    ++p.live;
    return RowPointer{p.number, r};
  }

  // A row of `length` bytes written and then deleted.
  RowPointer PlaceReleased(OpenPage& p, size_t length) {
    if (p.number == 0 || !p.builder.Fits(length)) {
      Flush(p);
      p.number = out->Allocate();
    }
    return RowPointer{p.number, p.builder.AddReleased(length)};
  }

  // The AutoNumber of a new row: the value given, or the next one when it
  // is NULL (0 for a table without one).
  int64_t TakeAutoNumber(TableState& t, std::vector<Value>& values) {
    const TableLayout& l = t.layout;
    int64_t autonumber = 0;
    if (l.autonumber) {
      Value& v = values[*l.autonumber];
      if (v.is_null()) {
        if (t.last_autonumber == INT32_MAX)
          Bad("The AutoNumber of \"" + l.name + "\" is exhausted.");
        v = IntValue(static_cast<int64_t>(t.last_autonumber) + 1);
      }
      if (v.kind != Value::Kind::kInteger || v.integer < 1 || v.integer > INT32_MAX)
        Bad("AutoNumber values of \"" + l.name + "\" must be positive Long numbers.");
      autonumber = v.integer;
      t.last_autonumber = std::max(t.last_autonumber, static_cast<uint32_t>(v.integer));
    }
    return autonumber;
  }

  // The row's key in each real index, checked against the index's rules;
  // `skip` marks the indexes that take no entry for it.
  void MakeKeys(const TableLayout& l, const std::vector<Value>& values, RowFate fate,
                std::vector<std::vector<uint8_t>>& keys, std::vector<bool>& skip) {
    keys.assign(l.real_indexes.size(), {});
    skip.assign(l.real_indexes.size(), fate == RowFate::kStale);
    for (size_t i = 0; i < l.real_indexes.size(); ++i) {
      const RealIndexLayout& ri = l.real_indexes[i];
      bool all_null = true, any_null = false;
      for (const auto& [col, asc] : ri.columns) {
        const Value& v = values[col];
        const bool null = v.is_null() && l.columns[col].decl.type != ColumnType::kBoolean;
        all_null = all_null && null;
        any_null = any_null || null;
        AppendKeySegment(l, col, v, asc, keys[i]);
      }
      if (keys[i].size() + kRowPointerSize > geometry.idx_entry_area / 2)
        Bad("A key of " + std::to_string(keys[i].size()) + " bytes in an index of \"" + l.name +
            "\" is longer than an index page can take.");
      if (any_null && (ri.flags & kIndexRequired))
        Bad("An indexed column of \"" + l.name + "\" requires a value.");
      if (all_null && (ri.flags & kIndexIgnoreNulls)) skip[i] = true;
      if (fate == RowFate::kStale) continue;
      if (any_null && !skip[i] && (ri.flags & kIndexUnique) && fate != RowFate::kDeleted)
        null_keys[i].insert(keys[i]);
      if (!skip[i]) {
        if (KeyLess()(keys[i], last_keys[i])) out_of_order[i] = true;
        last_keys[i] = keys[i];
      }
    }
    for (const LogicalIndexLayout& li : l.logical_indexes) {
      if (li.type != kIndexTypePrimaryKey) continue;
      for (const auto& [col, asc] : l.real_indexes[li.real].columns)
        if (values[col].is_null())
          Bad("Column \"" + l.columns[col].decl.name + "\" of the primary key of \"" + l.name +
              "\" requires a value.");
    }
  }

  // The long-value fields of a row: short values inline, others written
  // to the column's long-value pages. A deleted row is written as it was
  // before the delete, which then gave its bytes and long values back as
  // free space and left only the flagged, empty slot.
  std::vector<std::vector<uint8_t>> LongValueFields(const TableLayout& l,
                                                    const std::vector<Value>& values,
                                                    bool deleted) {
    std::vector<std::vector<uint8_t>> long_fields(l.columns.size());
    for (size_t c = 0; c < l.columns.size(); ++c) {
      if (!l.columns[c].long_value() || values[c].is_null()) continue;
      const std::vector<uint8_t> bytes = LongValueBytes(l, c, values[c]);
      std::vector<uint8_t>& field = long_fields[c];
      if (bytes.size() <= kInlineLongValueMax) {
        field.assign(kLongValueFieldSize, 0);
        PutU32(field, 0, static_cast<uint32_t>(bytes.size()) | kLongValueInline);
        field.insert(field.end(), bytes.begin(), bytes.end());
      } else if (deleted) {
        lv_writers.at(c)->WriteReleased(bytes.size());
        field.assign(kLongValueFieldSize, 0);
      } else {
        const auto f = lv_writers.at(c)->Write(bytes);
        field.assign(f.begin(), f.end());
      }
    }
    return long_fields;
  }

  // Writes the row where its fate puts it; returns the slot that names it.
  RowPointer PlaceRow(const std::vector<uint8_t>& row, RowFate fate) {
    RowPointer at;
    if (fate == RowFate::kDeleted) {
      at = PlaceReleased(*page, row.size());
      ++stats.deleted_rows;
    } else if (fate == RowFate::kMoved) {
      const RowPointer data = Place(*overflow, row, kSlotDeleted);  // alone: a moved row's data
      std::vector<uint8_t> pointer(4);
      PutU32(pointer, 0, data.Stored());
      at = Place(*page, pointer, kSlotMoved);
      ++stats.moved_rows;
    } else if (fate == RowFate::kStale) {
      at = Place(*stale, row, 0);
      ++stats.stale_rows;
    } else {
      at = Place(*page, row, 0);
    }
    return at;
  }

  int64_t Insert(std::vector<Value> values, RowFate fate) {
    TableState& t = Active();
    const TableLayout& l = t.layout;
    if (values.size() != l.columns.size())
      Bad("A row of table \"" + l.name + "\" needs " + std::to_string(l.columns.size()) +
          " values, not " + std::to_string(values.size()) + ".");
    const int64_t autonumber = TakeAutoNumber(t, values);
    // Index keys first: they validate the row before anything is written.
    std::vector<std::vector<uint8_t>> keys;
    std::vector<bool> skip;
    MakeKeys(l, values, fate, keys, skip);
    const bool deleted = fate == RowFate::kDeleted;
    const std::vector<uint8_t> row = EncodeRow(l, values, LongValueFields(l, values, deleted));
    const RowPointer at = PlaceRow(row, fate);
    if (!deleted && fate != RowFate::kStale) {
      ++stats.live_rows;
      ++t.row_count;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      if (skip[i]) continue;
      std::vector<uint8_t>& e = keys[i];
      const size_t pointer_at = e.size();
      e.resize(pointer_at + kRowPointerSize + 1);
      PutIndexRowPointer(e, pointer_at, at);
      e.back() = deleted ? kEntryReleased : kEntryLive;
      sorters[i]->Add(e);
    }
    return autonumber;
  }

  void AddOrphan(const std::string& column, const Value& value) {
    TableState& t = Active();
    const size_t c = t.layout.ColumnPosition(column);
    if (!t.layout.columns[c].long_value()) Bad("Column \"" + column + "\" holds no long values.");
    const std::vector<uint8_t> bytes = LongValueBytes(t.layout, c, value);
    lv_writers.at(c)->Write(bytes);
    ++stats.orphaned_long_values;
  }

  void AddReleasedLongValue(const std::string& column, size_t length) {
    TableState& t = Active();
    const size_t c = t.layout.ColumnPosition(column);
    if (!t.layout.columns[c].long_value()) Bad("Column \"" + column + "\" holds no long values.");
    if (length <= kInlineLongValueMax) return;  // was stored in its row
    lv_writers.at(c)->WriteReleased(length);
  }

  void End() {
    TableState& t = Active();
    Flush(*page);
    Flush(*overflow);
    Flush(*stale);
    std::sort(t.data_pages.begin(), t.data_pages.end());
    std::sort(t.free_data_pages.begin(), t.free_data_pages.end());
    for (auto& [col, w] : lv_writers) {
      w->Close();
      t.lv_pages.push_back(w->pages());
      t.lv_free.push_back(w->free_pages());
      for (uint32_t p : w->released_pages()) free_pages.push_back(p);
      stats.free_pages += static_cast<uint32_t>(w->released_pages().size());
    }
    lv_writers.clear();
    PageOutput po{[this] { return out->Allocate(); },
                  [this](uint32_t p, const PageImage& img) { out->Write(p, img); }};
    for (size_t i = 0; i < t.layout.real_indexes.size(); ++i) {
      const RealIndexLayout& ri = t.layout.real_indexes[i];
      IndexTreeBuilder tree(geometry, t.id, po);
      if (t.stale.deleted_separators) tree.KeepDeletedSeparators();
      Random fill(options.leaf_split_seed ^ (uint64_t{t.id} << 8 | i));
      if (options.leaf_split_seed != 0 && out_of_order[i]) {
        const size_t area = geometry.idx_entry_area;
        tree.SetLeafFill(
            [&fill, area] { return area / 2 + static_cast<size_t>(fill.Below(area / 2 + 1)); });
      }
      std::vector<uint8_t> previous;
      bool first = true;
      uint32_t distinct = 0;
      sorters[i]->Drain([&](std::span<const uint8_t> flagged) {
        const auto e = flagged.first(flagged.size() - 1);
        if (flagged.back() == kEntryReleased) {
          tree.AddReleased(e);
          return;
        }
        const auto key = e.first(e.size() - kRowPointerSize);
        const bool same = !first && previous.size() == key.size() &&
                          std::equal(key.begin(), key.end(), previous.begin());
        if (same && (ri.flags & kIndexUnique) &&
            !null_keys[i].count(std::vector<uint8_t>(key.begin(), key.end())))
          throw Error(kDuplicateKey,
                      "Table \"" + t.layout.name + "\" holds duplicate values in a unique index.");
        if (!same) ++distinct;
        previous.assign(key.begin(), key.end());
        first = false;
        tree.Add(e);
      });
      TableDefNumbers::Index n;
      n.root = tree.Finish();
      n.entries = static_cast<uint32_t>(tree.entries());
      n.unique_keys = distinct;
      std::vector<uint32_t> pages = tree.pages();
      std::sort(pages.begin(), pages.end());
      t.index_numbers.push_back(n);
      t.index_pages.push_back(std::move(pages));
    }
    sorters.clear();
    page.reset();
    overflow.reset();
    stale.reset();
    t.loaded = true;
    active = SIZE_MAX;
  }

  void AddFree(uint32_t count) {
    const PageImage blank(geometry.page_size, 0);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t p = out->Allocate();
      out->Write(p, blank);
      free_pages.push_back(p);
    }
    stats.free_pages += count;
  }

  void LoadCatalog() {
    const double date = options.creation_date;
    Begin(0);
    const TableLayout& catalog = tables[0].layout;
    auto object = [&](int32_t id, int32_t parent, const std::string& name, int16_t type,
                      int32_t flags, const TableState* linked = nullptr) {
      std::vector<Value> v(catalog.columns.size(), NullValue());
      v[0] = IntValue(id);
      v[1] = IntValue(parent);
      v[2] = TextValue(name);
      v[3] = IntValue(type);
      v[4] = DateValue(date);
      v[5] = DateValue(date);
      v[7] = IntValue(flags);
      if (linked != nullptr) {
        v[catalog.ColumnPosition("Connect")] = TextValue(linked->connect);
        v[catalog.ColumnPosition("ForeignName")] = TextValue(linked->foreign_name);
      }
      Insert(std::move(v), RowFate::kLive);
    };
    for (const FixedCatalogObject& o : FixedCatalogObjects())
      object(o.id, o.parent_id, o.name, o.type, kSystemObjectFlag);
    for (size_t i = 0; i < tables.size(); ++i) {
      const TableState& t = tables[i];
      object(static_cast<int32_t>(t.id), kTablesContainerId, t.layout.name, t.linked_odbc ? 4 : 1,
             i < kSystemTables ? kSystemObjectFlag : 0, t.linked_odbc ? &t : nullptr);
    }
    for (size_t k = 0; k < relationships.size(); ++k)
      object(static_cast<int32_t>(kFirstSyntheticId + k), kRelationshipsContainerId,
             relationships[k].name, 8, 0);
    End();
    Begin(1);
    End();
    Begin(2);
    End();
    Begin(3);
    for (const RelationshipDecl& r : relationships) {
      std::vector<Value> v = {TextValue(r.name),
                              IntValue(0),
                              IntValue(1),
                              IntValue(0),
                              TextValue(r.table),
                              TextValue(r.column),
                              TextValue(r.referenced_table),
                              TextValue(r.referenced_column)};
      Insert(std::move(v), RowFate::kLive);
    }
    End();
  }

  uint64_t EstimatedSize() const {
    uint64_t bytes = uint64_t{out->page_count()} * geometry.page_size;
    for (size_t i = 0; i < sorters.size(); ++i) {
      const uint64_t entries = sorters[i]->bytes() * geometry.page_size / geometry.idx_entry_area;
      // Split leaves are three quarters full on average.
      bytes += options.leaf_split_seed != 0 && out_of_order[i] ? entries * 4 / 3 : entries;
    }
    return bytes;
  }

  BuildStats Finish() {
    if (finished) Bad("The database has been written already.");
    if (active != SIZE_MAX) End();
    Freeze();
    for (size_t i = kSystemTables; i < tables.size(); ++i)
      if (!tables[i].loaded) {
        Begin(i);
        End();
      }
    LoadCatalog();
    // Usage maps: rows on shared host pages (owner 0).
    OpenPage host(geometry, 0);
    std::vector<PageImage> done;
    auto place_map = [&](std::span<const uint32_t> members) {
      const std::vector<uint8_t> row = WriteUsageMapRow(*out, geometry, members);
      if (host.number == 0 || !host.builder.Fits(row.size())) {
        if (host.number != 0) out->Write(host.number, host.builder.Finish());
        host.number = out->Allocate();
      }
      return RowPointer{host.number, host.builder.Add(row)};
    };
    std::vector<TableDefNumbers> numbers(tables.size());
    for (size_t i = 0; i < tables.size(); ++i) {
      TableState& t = tables[i];
      TableDefNumbers& n = numbers[i];
      n.row_count = t.row_count + static_cast<uint32_t>(t.stale.row_count);
      n.last_autonumber = t.last_autonumber - std::min(t.last_autonumber, t.stale.autonumber_lag);
      n.owned_map = place_map(t.data_pages);
      n.free_map = place_map(t.free_data_pages);
      n.indexes = t.index_numbers;
      for (TableDefNumbers::Index& x : n.indexes)
        x.unique_keys += static_cast<uint32_t>(t.stale.distinct_keys);
      for (size_t k = 0; k < n.indexes.size(); ++k) n.indexes[k].map = place_map(t.index_pages[k]);
      for (size_t k = 0; k < t.lv_pages.size(); ++k) {
        TableDefNumbers::LongValueMaps m;
        m.owned = place_map(t.lv_pages[k]);
        m.free = place_map(t.lv_free[k]);
        n.long_values.push_back(m);
      }
      for (const LogicalIndexLayout& li : t.layout.logical_indexes)
        n.fk_table_pages.push_back(li.fk_table == SIZE_MAX ? 0 : tables[li.fk_table].id);
    }
    if (host.number != 0) out->Write(host.number, host.builder.Finish());
    for (size_t i = 0; i < tables.size(); ++i)
      WriteTableDefPages(*out, geometry, EncodeTableDef(tables[i].layout, numbers[i]),
                         tables[i].tdef_pages);
    out->Write(0, EncodeHeaderPage(NewHeaderFor()));
    std::sort(free_pages.begin(), free_pages.end());
    WriteGlobalMap(*out, geometry, free_pages);
    stats.pages = out->page_count();
    stats.bytes = uint64_t{stats.pages} * geometry.page_size;
    out->Commit();
    try {
      if (env->FileExists(path))
        throw Error(kDatabaseExists,
                    "The file \"" + path +
                        "\" appeared while the database was written; it is not overwritten.");
      env->RenameReplace(partial, path);
      env->SyncDirectory(FolderOf(path));
    } catch (...) {
      try {
        env->Remove(partial);
      } catch (...) {
      }
      throw;
    }
    finished = true;
    return stats;
  }
};

DatabaseBuilder::DatabaseBuilder(const std::string& path, const BuildOptions& options)
    : impl_(std::make_unique<Impl>(path, options)) {}

DatabaseBuilder::~DatabaseBuilder() = default;

void DatabaseBuilder::AddTable(const TableDecl& decl) { impl_->AddTable(decl); }
void DatabaseBuilder::AddRelationship(const RelationshipDecl& r) { impl_->AddRelationship(r); }

void DatabaseBuilder::AddLinkedOdbcTable(const TableDecl& decl, const std::string& connect,
                                         const std::string& foreign_name) {
  impl_->AddTable(decl);
  TableState& t = impl_->tables.back();
  t.linked_odbc = true;
  t.connect = connect;
  t.foreign_name = foreign_name;
}

void DatabaseBuilder::BeginTable(const std::string& table) {
  impl_->Freeze();
  const size_t i = impl_->Find(table);
  if (i < kSystemTables)
    Bad("The system table \"" + table + "\" is written by the builder itself.");
  if (impl_->tables[i].linked_odbc)
    Bad("The linked table \"" + table + "\" keeps its rows on its server.");
  impl_->Begin(i);
}

void DatabaseBuilder::LeaveStale(const std::string& table, const StaleBookkeeping& stale) {
  const size_t i = impl_->Find(table);
  if (i < kSystemTables)
    Bad("The system table \"" + table + "\" is written by the builder itself.");
  if (impl_->tables[i].loaded || impl_->active == i)
    Bad("Table \"" + table + "\" must be left stale before its rows are loaded.");
  impl_->tables[i].stale = stale;
}

int64_t DatabaseBuilder::Insert(std::vector<Value> values, RowFate fate) {
  return impl_->Insert(std::move(values), fate);
}

void DatabaseBuilder::AddOrphanedLongValue(const std::string& column, const Value& value) {
  impl_->AddOrphan(column, value);
}

void DatabaseBuilder::AddReleasedLongValue(const std::string& column, size_t length) {
  impl_->AddReleasedLongValue(column, length);
}

void DatabaseBuilder::EndTable() {
  impl_->Active();
  impl_->End();
}

void DatabaseBuilder::AddFreePages(uint32_t count) { impl_->AddFree(count); }

BuildStats DatabaseBuilder::Finish() { return impl_->Finish(); }

uint64_t DatabaseBuilder::EstimatedSize() const { return impl_->EstimatedSize(); }

Value NullValue() { return Value{}; }
Value BoolValue(bool v) {
  Value x;
  x.kind = Value::Kind::kBoolean;
  x.boolean = v;
  return x;
}
Value IntValue(int64_t v) {
  Value x;
  x.kind = Value::Kind::kInteger;
  x.integer = v;
  return x;
}
Value CurrencyValue(int64_t v) {
  Value x;
  x.kind = Value::Kind::kCurrency;
  x.integer = v;
  return x;
}
Value SingleValue(float v) {
  Value x;
  x.kind = Value::Kind::kSingle;
  x.real = v;
  return x;
}
Value DoubleValue(double v) {
  Value x;
  x.kind = Value::Kind::kDouble;
  x.real = v;
  return x;
}
Value DateValue(double v) {
  Value x;
  x.kind = Value::Kind::kDateTime;
  x.real = v;
  return x;
}
Value TextValue(std::string v) {
  Value x;
  x.kind = Value::Kind::kText;
  x.text = std::move(v);
  return x;
}
Value BinaryValue(std::vector<uint8_t> v) {
  Value x;
  x.kind = Value::Kind::kBinary;
  x.bytes = std::move(v);
  return x;
}
Value GuidValue(const std::array<uint8_t, 16>& v) {
  Value x;
  x.kind = Value::Kind::kGuid;
  x.bytes.assign(v.begin(), v.end());
  return x;
}
Value NumericValue(std::string v) {
  Value x;
  x.kind = Value::Kind::kNumeric;
  x.text = std::move(v);
  return x;
}

}  // namespace tessmark::jet
