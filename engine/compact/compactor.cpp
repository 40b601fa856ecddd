#include "compact/compactor.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <numeric>
#include <set>
#include <thread>
#include <utility>

#include "compact/entry_pipe.h"
#include "compact/write_progress.h"
#include "db/entry_sorter.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/system_tables.h"
#include "db/table_rows.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/index_key.h"
#include "format/page_image.h"
#include "format/page_writer.h"
#include "format/prefetch.h"

namespace tessmark::jet {

namespace {

// Added to a stale table Id that would otherwise name a new table: page
// numbers of a database stay far below it (2 GiB / 4 KiB = 2^19 pages).
constexpr uint32_t kStaleIdBit = 0x00800000;

// Memory an index rebuild may use for sorting before it spills to disk.
constexpr size_t kIndexSortMemory = 32u << 20;
// Budget for one run of equal keys of an index being rebuilt.
constexpr size_t kKeyRunMemory = 4u << 20;

// Old row pointer -> new one, for one table: a slot for every row number
// up to the highest one used on each source page, found by the page's first
// slot and the row number, so a look-up is two array reads and no search.
// Every row is announced first (Expect), the slots are laid out (Lay), and
// then the new pointers filled in (Add).
class PointerMap {
 public:
  explicit PointerMap(uint32_t source_pages) : rows_(source_pages, 0) {}
  void Expect(RowPointer from) {
    if (from.page < rows_.size())
      rows_[from.page] = std::max<uint16_t>(rows_[from.page], uint16_t{from.row} + 1);
  }
  void Lay() {
    start_.assign(rows_.size() + 1, 0);
    for (size_t p = 0; p < rows_.size(); ++p) start_[p + 1] = start_[p] + rows_[p];
    slots_.assign(start_.back(), kNone);
    rows_ = {};
  }
  // False when `from` was not announced or already has a new place.
  bool Add(RowPointer from, RowPointer to) {
    const size_t i = Slot(from);
    if (i == kNoSlot || slots_[i] != kNone) return false;
    slots_[i] = to.Stored();
    return true;
  }
  bool Find(RowPointer from, RowPointer& to) const {
    const size_t i = Slot(from);
    if (i == kNoSlot || slots_[i] == kNone) return false;
    to = RowPointer::FromStored(slots_[i]);
    return true;
  }
  // Asks the processor to fetch the slot of `from` ahead of a look-up.
  void Prefetch(RowPointer from) const {
    const size_t i = Slot(from);
    if (i != kNoSlot) PrefetchForRead(slots_.data() + i);
  }

 private:
  // Page 0 holds the header, never a row, so no new pointer is 0.
  static constexpr uint32_t kNone = 0;
  static constexpr size_t kNoSlot = SIZE_MAX;
  size_t Slot(RowPointer from) const {
    if (size_t{from.page} + 1 >= start_.size()) return kNoSlot;
    const size_t i = size_t{start_[from.page]} + from.row;
    return i < start_[from.page + 1] ? i : kNoSlot;
  }
  std::vector<uint16_t> rows_;   // per source page: highest row number used + 1
  std::vector<uint32_t> start_;  // per source page: its first slot
  std::vector<uint32_t> slots_;  // new pointers (stored form)
};

// Size of a key segment whose value bytes have a fixed length (flag byte
// included), or 0 when the length depends on the value.
size_t FixedSegmentSize(uint8_t type) {
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
      return 2;
    case ColumnType::kInteger:
      return 3;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 5;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 9;
    case ColumnType::kGuid:
      return 19;
    case ColumnType::kNumeric:
      return 18;
    default:
      return 0;
  }
}

// Index entries as a walk hands them over, held back a few at a time.
class EntryBatch {
 public:
  // True when the batch is full and wants draining.
  bool Add(std::span<const uint8_t> key, RowPointer row) {
    if (used_ + key.size() > keys_.size()) keys_.resize(2 * (used_ + key.size()));
    if (!key.empty()) std::memcpy(keys_.data() + used_, key.data(), key.size());
    entries_[count_++] = {used_, key.size(), row};
    used_ += key.size();
    return count_ == kSize;
  }
  // Hands the entries to `take` in the order they came, and empties the batch.
  template <typename Take>
  void Drain(Take& take) {
    for (size_t i = 0; i < count_; ++i) {
      const Entry& e = entries_[i];
      take(std::span<const uint8_t>(keys_.data() + e.offset, e.length), e.row);
    }
    count_ = 0;
    used_ = 0;
  }

 private:
  static constexpr size_t kSize = 32;
  struct Entry {
    size_t offset, length;
    RowPointer row;
  };
  std::array<Entry, kSize> entries_{};
  size_t count_ = 0;
  std::vector<uint8_t> keys_;  // the entries' keys, one after another
  size_t used_ = 0;            // bytes of keys_ they take
};

// The entries of one index on their way into its tree, which wants them in
// order. The source hands them over in key order, and only their row
// pointers change, so only entries with equal keys can change places: each
// run of equal keys is sorted on its own and handed on when the next key
// begins. Keys holding table Ids get new values and may move anywhere, so
// those indexes (of small system tables) are sorted whole. Either way the
// sorter spills to scratch files beyond its memory budget. Entries and
// distinct keys are counted on the way out.
class KeyRunSorter {
 public:
  // Runs that outgrow the memory budget spill to scratch files beside
  // `beside`, the copy being written.
  KeyRunSorter(EntryPipe& tree, bool whole, const Location& where, Env& env,
               const std::string& beside)
      : tree_(tree),
        whole_(whole),
        where_(where),
        sorter_(whole ? kIndexSortMemory : kKeyRunMemory, env, beside) {}

  // The next entry in the source's order: its key and the row's new place.
  // The key's bytes must stay as they are until the next Add or Hold: the
  // key of a run is compared where it lies, not copied.
  void Add(std::span<const uint8_t> key, RowPointer row) {
    if (whole_) {
      Pack(key, row, entry_);
      sorter_.Add(entry_);
      return;
    }
    if (in_run_) {
      // One comparison tells whether the key is the run's, and what the
      // tree needs to know of it otherwise. Keys are self-delimiting (each
      // column's part has a fixed length or an end mark), so one key never
      // begins another; if one did, entries of different keys could change
      // places too.
      const size_t common = CommonPrefix(key, run_key_);
      if (common == key.size() && common == run_key_.size()) {
        AddToRun(row);
        return;
      }
      if (common == key.size() || common == run_key_.size())
        ThrowDamaged(where_, "an index key is the beginning of the next one");
      EndRun();
      shared_ = common;
    }
    run_key_ = key;
    run_rows_.clear();
    run_rows_.push_back(row.Stored());
    in_run_ = true;
  }

  // Keeps a copy of the key of the run under way, whose bytes the caller
  // is about to reuse.
  void Hold() {
    if (!in_run_ || run_key_.data() == held_key_.data()) return;
    held_key_.assign(run_key_.begin(), run_key_.end());
    run_key_ = held_key_;
  }

  // Hands on the entries still held.
  void Finish() {
    if (!whole_) {
      if (in_run_) EndRun();
      return;
    }
    sorter_.Drain([this](std::span<const uint8_t> e) {
      const std::span<const uint8_t> key = e.first(e.size() - kRowPointerSize);
      const size_t common = CommonPrefix(key, previous_key_);
      const bool new_key = entries_ == 0 || common != key.size() || common != previous_key_.size();
      previous_key_.assign(key.begin(), key.end());
      Emit(key, RowFromEntry(e), new_key, common);
    });
  }

  uint32_t entries() const { return entries_; }
  uint32_t distinct() const { return distinct_; }

 private:
  // Rows of a run are held as their stored pointers, whose order is that
  // of the entries; a run beyond the budget goes through the sorter.
  void AddToRun(RowPointer row) {
    if (run_rows_.empty()) {
      Pack(run_key_, row, entry_);
      sorter_.Add(entry_);
      return;
    }
    run_rows_.push_back(row.Stored());
    if (run_rows_.size() * sizeof(uint32_t) < kKeyRunMemory) return;
    for (const uint32_t r : run_rows_) {
      Pack(run_key_, RowPointer::FromStored(r), entry_);
      sorter_.Add(entry_);
    }
    run_rows_.clear();
  }

  // Hands the run under way to the tree, its entries in row order.
  void EndRun() {
    if (run_rows_.size() > 1) std::sort(run_rows_.begin(), run_rows_.end());
    bool first = true;
    for (const uint32_t r : run_rows_) {
      Emit(run_key_, RowPointer::FromStored(r), first, first ? shared_ : run_key_.size());
      first = false;
    }
    if (sorter_.size() > 0) {
      sorter_.Drain([this, &first](std::span<const uint8_t> e) {
        Emit(run_key_, RowFromEntry(e), first, first ? shared_ : run_key_.size());
        first = false;
      });
    }
    in_run_ = false;
  }

  // Entries come out in order, so one with the key of the entry before
  // differs from it only in the row, and must differ there. `shared` is
  // what the entry has in common with the one before.
  void Emit(std::span<const uint8_t> key, RowPointer row, bool new_key, size_t shared) {
    if (new_key) {
      ++distinct_;
    } else if (row == previous_row_) {
      ThrowDamaged(where_, "two index entries point at the same row");
    }
    previous_row_ = row;
    ++entries_;
    tree_.Add(key, row, shared);
  }

  static RowPointer RowFromEntry(std::span<const uint8_t> e) {
    const uint8_t* const p = e.data() + e.size() - kRowPointerSize;
    return RowPointer{LoadU24BE(p), p[3]};
  }

  static void Pack(std::span<const uint8_t> key, RowPointer row, std::vector<uint8_t>& entry) {
    entry.resize(key.size() + kRowPointerSize);
    std::ranges::copy(key, entry.begin());
    PutIndexRowPointer(entry, key.size(), row);
  }

  EntryPipe& tree_;  // on its way to the tree
  const bool whole_;
  const Location& where_;
  EntrySorter sorter_;
  std::vector<uint8_t> entry_;        // the entry being added to the sorter
  std::span<const uint8_t> run_key_;  // the key of the run under way
  std::vector<uint8_t> held_key_;     // its bytes, once the caller's are gone
  std::vector<uint32_t> run_rows_;    // its rows not in the sorter (stored form)
  size_t shared_ = 0;                 // what its key has in common with the one before
  bool in_run_ = false;
  std::vector<uint8_t> previous_key_;  // whole sorting: the key handed on last
  RowPointer previous_row_;
  uint32_t entries_ = 0, distinct_ = 0;
};

class Compactor {
 public:
  Compactor(PageFile& source, OutputFile& out, const CompactOptions& options,
            const IndexWalker& walk, const WriteSources& sources)
      : src_(source),
        out_(out),
        options_(options),
        walk_(walk),
        sources_(sources),
        format_(Format::For(source.version())),
        geometry_(PageGeometry::For(source.version())) {}

  CompactResult Run(const std::vector<CatalogTable>& catalog) {
    out_.Allocate();  // page 0: the header
    out_.Allocate();  // page 1: the global usage map
    std::vector<CatalogTable> tables = catalog;
    std::sort(tables.begin(), tables.end(),
              [](const CatalogTable& a, const CatalogTable& b) { return a.id < b.id; });
    if (tables.empty() || tables.front().id != kCatalogPage)
      ThrowDamaged({}, "the catalog does not list itself at page " + std::to_string(kCatalogPage));
    // Every table's first definition page comes first, so that every table
    // Id is known before any row that mentions one is written.
    for (const CatalogTable& t : tables) {
      const uint32_t page = out_.Allocate();
      result_.table_ids[t.id] = page;
      if (t.stored_id != 0 && t.stored_id != t.id) result_.table_ids[t.stored_id] = page;
      new_ids_.insert(page);
    }
    std::vector<TableDef> defs;
    size_t map_rows = 0;
    for (const CatalogTable& t : tables) {
      defs.push_back(ReadTableDef(src_, t.id, t.name));
      map_rows += 2 + defs.back().real_indexes.size() + 2 * defs.back().long_value_maps.size();
    }
    // The usage maps of all tables share host pages, allocated up front.
    const size_t per_host = std::min<size_t>(
        kMaxRowsPerPage, geometry_.data_capacity() / (geometry_.map_row_length() + 2));
    hosts_.resize((map_rows + per_host - 1) / per_host);
    for (uint32_t& h : hosts_) h = out_.Allocate();
    WriteProgress progress(src_, defs, options_.progress);
    progress_ = &progress;
    for (size_t i = 0; i < defs.size(); ++i) {
      WriteTable(defs[i], result_.table_ids.at(tables[i].id));
      ++result_.tables;
      progress.TableDone();
    }
    progress_ = nullptr;
    if (!host_.empty()) out_.Write(hosts_[host_index_], host_.Finish());
    // Page 0 travels unchanged: it refers to no other page.
    out_.Write(0, src_.Get(0)->data);
    WriteGlobalMap(out_, geometry_);
    result_.pages = out_.page_count();
    return result_;
  }

 private:
  // The new value of a table Id. A value that names no table of the source
  // (the navigation pane's entry of a dropped table, a category's stale
  // selection) stays as it is, unless it now names one of the new tables:
  // then it moves past any page a database can have, so it keeps naming no
  // table.
  uint32_t MapId(uint32_t id) {
    auto it = result_.table_ids.find(id);
    if (it != result_.table_ids.end()) return it->second;
    if (new_ids_.count(id) == 0) return id;
    const uint32_t moved = id | kStaleIdBit;
    result_.table_ids[id] = moved;
    return moved;
  }

  // A table's rows as written: their data pages and what the usage maps
  // and the definition need of them.
  struct WrittenRows {
    uint32_t first_page = 0;
    uint32_t pages = 0;
    std::vector<uint32_t> free_pages;  // data pages with room for more rows
    uint64_t count = 0;
    int64_t max_autonumber = 0;
    std::map<uint16_t, LongValueWriter> long_values;  // one writer per memo/OLE column
  };

  // The rows of a table in the order its primary key gives them, as the
  // first pass over them noted it, so that the second need not walk the
  // key again: four bytes a row, the slot the key names. Kept in blocks,
  // so that growing never holds two copies.
  struct RowOrder {
    bool wanted = true;  // whether a walk notes the order
    bool noted = false;
    std::deque<uint32_t> headers;  // stored row pointers
  };

  // What a single pass over a table's rows notes for the row map, which is
  // laid out once every row is known: each row's slot in the order written,
  // where the bytes lay of those that had moved, and how many rows each new
  // data page took.
  struct RowLog {
    std::deque<uint32_t> headers;                      // stored row pointers
    std::vector<std::pair<size_t, RowPointer>> moved;  // position in `headers`, bytes
    std::vector<uint8_t> page_rows;
  };

  // An index rebuilt in the copy.
  struct BuiltIndex {
    uint32_t root = 0;
    std::vector<uint32_t> pages;
    uint32_t entries = 0, distinct = 0;
  };

  void WriteTable(const TableDef& def, uint32_t tdef_page) {
    const uint32_t length = DefinitionLength(def);
    // Definition continuation pages and usage-map host pages come first.
    const std::vector<uint32_t> tdef_pages = AllocateDefinitionPages(length, tdef_page);
    PointerMap pointers(src_.page_count());
    WrittenRows rows;
    {
      RowOrder order;
      if (def.long_value_maps.empty()) {
        // Nothing but data pages is allocated while such a table's rows are
        // written, so they take pages as these fill: one pass over the rows.
        order.wanted = false;
        RowLog log;
        rows.first_page = out_.page_count();
        WriteRows(def, tdef_page, pointers, order, &log, rows);
        MapRows(def, log, rows, pointers);
      } else {
        // Long values follow the data pages: those are counted first.
        rows.pages = CountDataPages(def, pointers, order);
        pointers.Lay();
        rows.first_page = out_.page_count();
        for (uint32_t i = 0; i < rows.pages; ++i) out_.Allocate();
        WriteRows(def, tdef_page, pointers, order, nullptr, rows);
      }
    }
    result_.rows += rows.count;

    // Indexes, rebuilt from their entries.
    std::vector<BuiltIndex> built;
    for (size_t i = 0; i < def.real_indexes.size(); ++i)
      built.push_back(BuildIndex(def, i, tdef_page, pointers, rows.count));

    const std::vector<RowPointer> map_rows_at = WriteUsageMaps(def, rows, built);
    WriteDefinition(def, length, rows, built, map_rows_at, tdef_pages);
  }

  // The length of the definition that is written. Everything parsed from
  // the definition is patched, so it must all lie within that length.
  uint32_t DefinitionLength(const TableDef& def) const {
    const uint32_t length = def.declared_length;
    if (length > def.stream.size() || length < format_.tdef_var_part || def.parsed_length > length)
      ThrowDamaged(def.where(), "the table definition's length field is wrong");
    return length;
  }

  // The pages of a definition of `length` bytes: the first, then as many
  // continuation pages as the rest needs.
  std::vector<uint32_t> AllocateDefinitionPages(uint32_t length, uint32_t tdef_page) {
    std::vector<uint32_t> tdef_pages = {tdef_page};
    if (length > geometry_.page_size) {
      const uint32_t per = geometry_.page_size - kTdefPageHeader;
      const uint32_t extra = (length - geometry_.page_size + per - 1) / per;
      for (uint32_t i = 0; i < extra; ++i) tdef_pages.push_back(out_.Allocate());
    }
    return tdef_pages;
  }

  // First pass over the rows, in output order: their lengths alone fix
  // how many data pages the table takes, so its long values can follow.
  // Every row is announced to `pointers` on the way, and their order noted
  // in `order` for the second pass.
  uint32_t CountDataPages(const TableDef& def, PointerMap& pointers, RowOrder& order) {
    const Location where = def.where();
    uint32_t data_pages = 0;
    size_t free = 0, rows = kMaxRowsPerPage;
    ForEachRowInOrder(def, order, [&](RowPointer header, RowPointer data, Bytes bytes) {
      pointers.Expect(header);
      if (bytes.size() + 2 > geometry_.data_capacity())
        ThrowDamaged(where.WithRow(data.page, data.row), "a row is longer than a page");
      if (rows >= kMaxRowsPerPage || bytes.size() + 2 > free) {
        ++data_pages;
        free = geometry_.data_capacity();
        rows = 0;
      }
      free -= bytes.size() + 2;
      ++rows;
    });
    return data_pages;
  }

  // The rows themselves, in the same order: onto the pages counted for
  // them, each row's new place given to `pointers`; or, with a `log`, onto
  // pages allocated as they fill, each row's new place noted in the log.
  void WriteRows(const TableDef& def, uint32_t tdef_page, PointerMap& pointers, RowOrder& order,
                 RowLog* log, WrittenRows& rows) {
    const Location where = def.where();
    for (const LongValueMapDef& m : def.long_value_maps)
      rows.long_values.try_emplace(m.column_number, geometry_, format_, out_);
    // The columns whose values are table Ids.
    std::vector<bool> id_column(def.columns.size(), false);
    for (size_t i = 0; i < def.columns.size(); ++i)
      id_column[i] = HoldsTableIds(def, def.columns[i]);
    // Rows are decoded only where a field may change (long values, table
    // Ids) or the highest AutoNumber is wanted (the copy's counter is never
    // below it), and then only those fields; else they go as they are.
    std::vector<size_t> rewritten;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const ColumnDef& col = def.columns[i];
      if (id_column[i] || col.long_value() ||
          (col.autonumber() && col.column_type() == ColumnType::kLong))
        rewritten.push_back(i);
    }
    const bool decode = !rewritten.empty();
    if (decode) layout_.Assign(def, format_, rewritten);

    LongValueReader lv_reader(src_);
    DataPageBuilder page(geometry_, tdef_page);
    uint32_t open_index = 0;
    std::vector<uint8_t> bytes;
    auto flush_page = [&] {
      if (log != nullptr) {
        if (out_.Allocate() != rows.first_page + open_index)
          throw InternalError("the data pages of a table are not one after another");
        log->page_rows.push_back(static_cast<uint8_t>(page.rows()));
      } else if (open_index >= rows.pages) {
        throw InternalError("the rows need more pages than planned");
      }
      if (page.free_space() >= kFreeMapThreshold)
        rows.free_pages.push_back(rows.first_page + open_index);
      out_.Write(rows.first_page + open_index, page.Finish());
      ++open_index;
      // Pages written as they fill have no count to go by.
      if (log == nullptr) progress_->DataPages(open_index, rows.pages);
    };
    Location at = where;
    ForEachRowInOrder(def, order, [&](RowPointer header, RowPointer data, Bytes row_bytes) {
      at.page = data.page;
      at.row = data.row;
      if (log != nullptr && row_bytes.size() + 2 > geometry_.data_capacity())
        ThrowDamaged(at, "a row is longer than a page");
      // A row that keeps its bytes goes onto the page straight from the
      // source page; only one that changes is copied first.
      Bytes written = row_bytes;
      if (decode && RewriteFields(def, rewritten, id_column, at, lv_reader, row_bytes, bytes, rows))
        written = bytes;
      if (!page.Fits(written.size())) flush_page();
      const uint8_t row = page.Add(written);
      if (log != nullptr) {
        log->headers.push_back(header.Stored());
        if (data != header) log->moved.emplace_back(log->headers.size() - 1, data);
      } else if (!pointers.Add(header, RowPointer{rows.first_page + open_index, row})) {
        ThrowDamaged(at, "two rows are reached through the same row slot");
      }
      ++rows.count;
    });
    if (rows.count > 0) flush_page();
    if (log != nullptr) rows.pages = open_index;
    if (open_index != rows.pages) throw InternalError("the rows took fewer pages than planned");
    for (auto& [col, w] : rows.long_values) w.Close();
  }

  // Lays out `pointers` for the rows a single pass wrote and gives each its
  // new place, as noted in `log`.
  void MapRows(const TableDef& def, const RowLog& log, const WrittenRows& rows,
               PointerMap& pointers) {
    for (const uint32_t header : log.headers) pointers.Expect(RowPointer::FromStored(header));
    pointers.Lay();
    auto header = log.headers.begin();
    for (size_t p = 0; p < log.page_rows.size(); ++p) {
      for (uint8_t r = 0; r < log.page_rows[p]; ++r, ++header) {
        const RowPointer from = RowPointer::FromStored(*header);
        if (pointers.Add(from, RowPointer{rows.first_page + static_cast<uint32_t>(p), r})) continue;
        const size_t i = static_cast<size_t>(header - log.headers.begin());
        RowPointer data = from;
        for (const auto& [k, d] : log.moved)
          if (k == i) data = d;
        ThrowDamaged(def.where().WithRow(data.page, data.row),
                     "two rows are reached through the same row slot");
      }
    }
  }

  // The fields of the source row `row` that change on the way to the copy
  // (at the column positions `rewritten`): long values are written afresh
  // and point at their new place, table Ids take their new values. The
  // highest AutoNumber is noted. Returns whether anything changed; the row
  // is then copied into `bytes` and changed there.
  bool RewriteFields(const TableDef& def, const std::vector<size_t>& rewritten,
                     const std::vector<bool>& id_column, const Location& at,
                     LongValueReader& lv_reader, Bytes row, std::vector<uint8_t>& bytes,
                     WrittenRows& rows) {
    DecodeRow(layout_, row, at, rewritten, decoded_);
    bool copied = false;
    auto copy = [&] {
      if (!copied) bytes.assign(row.begin(), row.end());
      copied = true;
    };
    for (const size_t c : rewritten) {
      const ColumnDef& col = def.columns[c];
      const Field& f = decoded_.fields[c];
      if (f.is_null) continue;
      if (col.long_value()) {
        // A field without bytes is an empty value: nothing to move.
        if (f.length == 0) continue;
        auto w = rows.long_values.find(col.number);
        if (w == rows.long_values.end())
          ThrowDamaged(at, "memo/OLE column '" + col.name + "' has no long-value map");
        const LongValueField lv = ParseLongValueField(row.subspan(f.offset, f.length), at);
        if (lv.form == LongValueForm::kInline) continue;
        lv_reader.ReadInto(lv, at, value_);
        const auto field = w->second.Write(value_);
        copy();
        std::memcpy(bytes.data() + f.offset, field.data(), field.size());
      } else if (id_column[c] && f.length == 4) {
        const uint32_t old_id = LoadU32(row.data() + f.offset);
        copy();
        PutU32(bytes, f.offset, MapId(old_id));
      }
      if (col.autonumber() && col.column_type() == ColumnType::kLong && f.length == 4) {
        const uint8_t* const value = (copied ? bytes.data() : row.data()) + f.offset;
        rows.max_autonumber =
            std::max<int64_t>(rows.max_autonumber, static_cast<int32_t>(LoadU32(value)));
      }
    }
    return copied;
  }

  // Usage maps on the host pages: owned, free, one per index, then the
  // owned and free maps of each long-value column. Returns where each one
  // lies, in that order.
  std::vector<RowPointer> WriteUsageMaps(const TableDef& def, const WrittenRows& rows,
                                         const std::vector<BuiltIndex>& built) {
    std::vector<std::vector<uint32_t>> maps;
    std::vector<uint32_t> owned(rows.pages);
    std::iota(owned.begin(), owned.end(), rows.first_page);
    maps.push_back(owned);
    maps.push_back(rows.free_pages);
    for (const BuiltIndex& b : built) {
      std::vector<uint32_t> p = b.pages;
      std::sort(p.begin(), p.end());
      maps.push_back(p);
    }
    for (const LongValueMapDef& m : def.long_value_maps) {
      const LongValueWriter& w = rows.long_values.at(m.column_number);
      maps.push_back(w.pages());
      maps.push_back(w.free_pages());
    }
    std::vector<RowPointer> map_rows_at;
    for (const auto& members : maps) {
      std::vector<uint8_t> row = WriteUsageMapRow(out_, geometry_, members);
      if (!host_.Fits(row.size())) {
        out_.Write(hosts_[host_index_++], host_.Finish());
        if (host_index_ >= hosts_.size()) throw InternalError("more usage maps than planned");
      }
      map_rows_at.push_back(RowPointer{hosts_[host_index_], host_.Add(row)});
    }
    return map_rows_at;
  }

  // The definition, patched with every new page number and true counts.
  void WriteDefinition(const TableDef& def, uint32_t length, const WrittenRows& rows,
                       const std::vector<BuiltIndex>& built,
                       const std::vector<RowPointer>& map_rows_at,
                       const std::vector<uint32_t>& tdef_pages) {
    std::vector<uint8_t> s(def.stream.begin(),
                           def.stream.begin() + static_cast<std::ptrdiff_t>(length));
    PutU32(s, format_.tdef_row_count, static_cast<uint32_t>(rows.count));
    // The counter restarts after the highest value when asked to, and
    // never stays below it: a counter left behind would hand out a number
    // that is in use.
    if (HasAutoNumber(def) && (options_.reset_autonumber ||
                               rows.max_autonumber > static_cast<int32_t>(def.last_autonumber)))
      PutU32(s, format_.tdef_autonumber, static_cast<uint32_t>(rows.max_autonumber));
    size_t m = 0;
    PutU32(s, format_.tdef_owned_map, map_rows_at[m++].Stored());
    PutU32(s, format_.tdef_free_map, map_rows_at[m++].Stored());
    for (size_t i = 0; i < def.real_indexes.size(); ++i) {
      const RealIndexDef& ri = def.real_indexes[i];
      PutU32(s, ri.count_block_offset + format_.ric_entries, built[i].entries);
      PutU32(s, ri.count_block_offset + format_.ric_unique_keys, built[i].distinct);
      PutU32(s, ri.block_offset + format_.ri_usage_map, map_rows_at[m++].Stored());
      PutU32(s, ri.block_offset + format_.ri_root, built[i].root);
    }
    for (const LogicalIndexDef& li : def.logical_indexes) {
      if (li.fk_table_page != 0)
        PutU32(s, li.block_offset + format_.li_fk_table, MapId(li.fk_table_page));
    }
    for (const LongValueMapDef& lm : def.long_value_maps) {
      PutU32(s, lm.offset + kLvMapOwned, map_rows_at[m++].Stored());
      PutU32(s, lm.offset + kLvMapFree, map_rows_at[m++].Stored());
    }
    if (sources_.definition) sources_.definition(def, s);
    WriteTableDefPages(out_, geometry_, s, tdef_pages);
  }

  static bool HasAutoNumber(const TableDef& def) {
    for (const ColumnDef& c : def.columns)
      if (c.autonumber() && c.column_type() == ColumnType::kLong) return true;
    return false;
  }

  // The bytes of the row in slot `at` of a page of `def`; the page parsed
  // last is kept, since rows mostly come in page order.
  Bytes SourceRow(const TableDef& def, RowPointer at, const Location& where) {
    if (!last_page_.page || last_page_.number() != at.page) {
      ParseDataPage(src_.Get(at.page, where), format_, where, last_page_);
      if (last_page_.owner != def.page)
        ThrowDamaged(where, "a row's page belongs to another table");
    }
    if (at.row >= last_page_.slots.size()) ThrowDamaged(where, "a row number past the page's rows");
    return last_page_.RowBytes(at.row);
  }

  // Visits the live rows of `def` in the order they are written: by the
  // primary key when the table has one (its leaves name every row once,
  // as the checker has made sure), else in page and slot order. `header`
  // is the slot indexes point at, `data` where the bytes lie. A walk of the
  // primary key notes the rows' order in `order`; a later visit with that
  // order goes through the noted rows instead of walking the key again.
  void ForEachRowInOrder(
      const TableDef& def, RowOrder& order,
      const std::function<void(RowPointer header, RowPointer data, Bytes)>& visit) {
    if (sources_.rows) {
      sources_.rows(src_, def, visit);
      return;
    }
    // One place, updated row by row: naming the table anew for every row
    // would copy its name each time.
    Location at = def.where();
    if (order.noted) {
      for (const uint32_t header : order.headers)
        VisitRowAt(def, RowPointer::FromStored(header), at, visit);
      return;
    }
    const RealIndexDef* pk = nullptr;
    for (const LogicalIndexDef& li : def.logical_indexes) {
      if (li.primary_key() && li.real_index < def.real_indexes.size())
        pk = &def.real_indexes[li.real_index];
    }
    if (pk == nullptr) {
      ForEachTableRow(src_, def, [&](const TableRow& r) { visit(r.header, r.data, r.bytes); });
      return;
    }
    walk_(src_, def, *pk, [&](Bytes, RowPointer header) {
      if (order.wanted) order.headers.push_back(header.Stored());
      VisitRowAt(def, header, at, visit);
    });
    order.noted = order.wanted;
  }

  // Visits the row a primary key entry names at `header`, following it
  // where it has moved.
  void VisitRowAt(const TableDef& def, RowPointer header, Location& at,
                  const std::function<void(RowPointer header, RowPointer data, Bytes)>& visit) {
    at.page = header.page;
    at.row = header.row;
    const Bytes bytes = SourceRow(def, header, at);
    const RowSlot& slot = last_page_.slots[header.row];
    if (slot.plain()) {
      visit(header, header, bytes);
      return;
    }
    if (!slot.moved_pointer()) ThrowDamaged(at, "an index entry points at a deleted row");
    RowRef ref = ReadRow(src_, header, at, &def.page);
    RowRef target = FollowMovedRow(src_, def, ref, at);
    visit(header, RowPointer{target.page.number(), static_cast<uint8_t>(target.row)},
          target.bytes());
  }

  // Rebuilds real index `number` of `def`, whose `rows` rows are written.
  BuiltIndex BuildIndex(const TableDef& def, size_t number, uint32_t owner,
                        const PointerMap& pointers, uint64_t rows) {
    const RealIndexDef& ri = def.real_indexes[number];
    const Location where = def.where();
    // Key segments that hold table Ids are re-encoded with the new Ids.
    std::vector<const ColumnDef*> cols;
    int id_segment = -1;
    for (size_t k = 0; k < ri.columns.size(); ++k) {
      const ColumnDef* c = def.ColumnByNumber(ri.columns[k].column_number);
      if (c == nullptr) ThrowDamaged(where, "an index names a column the table does not have");
      cols.push_back(c);
      if (HoldsTableIds(def, *c)) id_segment = static_cast<int>(k);
    }
    // The entries are read, mapped and put in order on a thread of their
    // own while this one builds the tree from them.
    IndexTreeBuilder tree(
        geometry_, owner,
        PageOutput{[this] { return out_.Allocate(); },
                   [this](uint32_t p, const PageImage& img) { out_.Write(p, img); }});
    EntryPipe pipe;
    uint32_t entries = 0, distinct = 0;
    std::thread reader([&] {
      try {
        KeyRunSorter runs(pipe, /*whole=*/id_segment >= 0, where, out_.env(), out_.path());
        ReadIndexEntries(def, number, pointers, rows, cols, id_segment, runs);
        runs.Finish();
        entries = runs.entries();
        distinct = runs.distinct();
        pipe.Close();
      } catch (const EntryPipe::Stopped&) {
        pipe.Close();
      } catch (...) {
        pipe.Close(std::current_exception());
      }
    });
    try {
      pipe.Drain([&](std::span<const uint8_t> key, RowPointer row, size_t shared) {
        tree.Add(key, row, shared);
      });
    } catch (...) {
      pipe.Stop();
      reader.join();
      throw;
    }
    reader.join();
    const uint32_t root = tree.Finish();
    return BuiltIndex{root, tree.pages(), entries, distinct};
  }

  // Reads the entries of real index `number` of `def` from the source, in
  // its order, and hands each to `runs` with its row's new place (and its
  // table Id, in segment `id_segment` of columns `cols`, made new).
  void ReadIndexEntries(const TableDef& def, size_t number, const PointerMap& pointers,
                        uint64_t rows, const std::vector<const ColumnDef*>& cols, int id_segment,
                        KeyRunSorter& runs) {
    const RealIndexDef& ri = def.real_indexes[number];
    const Location where = def.where();
    std::vector<uint8_t> remapped;
    auto take = [&](std::span<const uint8_t> key, RowPointer old_row) {
      RowPointer row;
      if (!pointers.Find(old_row, row)) {
        ThrowDamaged(where, "an index entry points at page " + std::to_string(old_row.page) +
                                " row " + std::to_string(old_row.row) +
                                ", which holds no row of the table");
      }
      if (id_segment < 0) {
        runs.Add(key, row);
        return;
      }
      remapped.assign(key.begin(), key.end());
      RemapIdSegment(remapped, 0, cols, ri, static_cast<size_t>(id_segment), where);
      runs.Add(remapped, row);
    };
    // The entries of a secondary index point all over the table, so the
    // map slots of a batch of entries are fetched before they are used.
    EntryBatch batch;
    uint64_t walked = 0;
    walk_(src_, def, ri, [&](Bytes key, RowPointer old_row) {
      pointers.Prefetch(old_row);
      if (batch.Add(key, old_row)) {
        batch.Drain(take);
        runs.Hold();
      }
      if ((++walked & 1023) == 0) progress_->Entries(number, walked, rows);
    });
    batch.Drain(take);
    runs.Hold();
  }

  void RemapIdSegment(std::vector<uint8_t>& flat, size_t begin,
                      const std::vector<const ColumnDef*>& cols, const RealIndexDef& ri,
                      size_t segment, const Location& where) {
    size_t off = begin;
    for (size_t k = 0; k < segment; ++k) {
      if (off >= flat.size()) ThrowDamaged(where, "an index key is shorter than its columns");
      const bool desc = !ri.columns[k].ascending;
      if (flat[off] == (desc ? index_key::kNullDescending : index_key::kNullAscending)) {
        off += 1;
        continue;
      }
      const size_t size = FixedSegmentSize(cols[k]->type);
      if (size == 0) {
        ThrowDamaged(where,
                     "a table Id cannot be rewritten inside an index whose earlier columns "
                     "have keys of variable length");
      }
      off += size;
    }
    const bool desc = !ri.columns[segment].ascending;
    std::optional<int32_t> value;
    try {
      value = index_key::ReadLong(std::span<const uint8_t>(flat), off, desc);
    } catch (const Error&) {
      // The key decoder knows no place; name the table here.
      ThrowDamaged(where, "an index entry holds a malformed table Id in its key");
    }
    if (!value) return;
    index_key::Key fresh;
    index_key::AppendLong(fresh, static_cast<int32_t>(MapId(static_cast<uint32_t>(*value))), desc);
    std::copy(fresh.begin(), fresh.end(), flat.begin() + static_cast<std::ptrdiff_t>(off));
  }

  WriteProgress* progress_ = nullptr;  // while Run writes the tables
  DataPage last_page_;
  RowLayout layout_;            // of the columns a table's rows change in, laid out once
  DecodedRow decoded_;          // reused from row to row
  std::vector<uint8_t> value_;  // a long value, likewise
  std::set<uint32_t> new_ids_;  // the destination's table Ids
  PageFile& src_;
  OutputFile& out_;
  const CompactOptions& options_;
  const IndexWalker& walk_;
  const WriteSources& sources_;
  const Format& format_;
  PageGeometry geometry_;
  CompactResult result_;
  std::vector<uint32_t> hosts_;  // usage-map host pages
  size_t host_index_ = 0;        // the one being filled
  DataPageBuilder host_{geometry_, 0};
};

}  // namespace

CompactResult WriteCompacted(PageFile& source, const std::vector<CatalogTable>& tables,
                             OutputFile& out, const CompactOptions& options,
                             const IndexWalker& walk_index, const WriteSources& sources) {
  Compactor c(source, out, options, walk_index, sources);
  return c.Run(tables);
}

}  // namespace tessmark::jet
