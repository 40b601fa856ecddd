#include "check/checker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "db/database.h"
#include "db/index_page.h"
#include "db/row.h"
#include "db/usage_map.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/prefetch.h"
#include "tessmark/database.h"

namespace tessmark::jet {

std::string Finding::Text() const {
  std::string text = (severity == Severity::kError ? "error: " : "warning: ") + message;
  const std::string place = where.ToString();
  if (!place.empty()) text += " (" + place + ")";
  return text;
}

namespace {

constexpr uint32_t kNoOwner = 0xFFFFFFFF;
constexpr size_t kMaxIndexDepth = 8;

uint64_t Key(RowPointer p) { return p.Stored(); }

// A set of row pointers: a bitmap of 256 rows for each page that has any,
// found through a table indexed by page number, so checking a table of
// millions of rows stays within a few MiB. Beside each page's members lies
// a second bitmap of marks, which an index walk sets for the rows its
// entries point at: member and mark share one cache line. Every pointer put
// in has been read from the file, so page numbers stay below the page count.
class RowSet {
 public:
  enum class Mark { kNotMember, kFirst, kAgain };

  bool insert(RowPointer p) {
    uint64_t& word = bitmaps_[BitmapOf(p.page)].members[p.row / 64];
    const uint64_t bit = uint64_t{1} << (p.row % 64);
    if ((word & bit) != 0) return false;
    word |= bit;
    ++size_;
    return true;
  }
  bool contains(RowPointer p) const {
    const Bits* b = Find(p);
    return b != nullptr && ((b->members[p.row / 64] >> (p.row % 64)) & 1) != 0;
  }
  uint64_t size() const { return size_; }
  // Makes room for members on `pages` distinct pages numbered below
  // `page_limit`, so that filling the set never moves what it holds.
  void Reserve(uint32_t page_limit, size_t pages) {
    if (page_limit > bitmap_of_.size()) bitmap_of_.resize(page_limit, kNone);
    bitmaps_.reserve(pages);
  }

  // Marks member `p`; says whether it was a member and marked before.
  Mark MarkMember(RowPointer p) {
    Bits* b = Find(p);
    const uint64_t bit = uint64_t{1} << (p.row % 64);
    if (b == nullptr || (b->members[p.row / 64] & bit) == 0) return Mark::kNotMember;
    uint64_t& mark = b->marks[p.row / 64];
    if ((mark & bit) != 0) return Mark::kAgain;
    mark |= bit;
    return Mark::kFirst;
  }
  // Marks `p` whether or not it is a member.
  void MarkAny(RowPointer p) {
    const uint32_t b = BitmapOf(p.page);
    bitmaps_[b].marks[p.row / 64] |= uint64_t{1} << (p.row % 64);
  }
  // How many marked pointers are not members.
  uint64_t MarkedNonMembers() const {
    uint64_t n = 0;
    for (const Bits& b : bitmaps_) {
      for (size_t w = 0; w < b.marks.size(); ++w)
        n += static_cast<uint64_t>(std::popcount(b.marks[w] & ~b.members[w]));
    }
    return n;
  }
  bool marked(RowPointer p) const {
    const Bits* b = Find(p);
    return b != nullptr && ((b->marks[p.row / 64] >> (p.row % 64)) & 1) != 0;
  }
  void ClearMarks() {
    for (Bits& b : bitmaps_) b.marks = {};
  }

  // Asks the processor to fetch the bitmaps of `p`'s page ahead of use.
  void Prefetch(RowPointer p) const {
    if (p.page < bitmap_of_.size() && bitmap_of_[p.page] != kNone)
      PrefetchForRead(&bitmaps_[bitmap_of_[p.page]]);
  }
  // Visits the members in page and row order.
  template <typename F>
  void ForEach(F&& visit) const {
    for (uint32_t page = 0; page < bitmap_of_.size(); ++page) {
      if (bitmap_of_[page] == kNone) continue;
      const auto& words = bitmaps_[bitmap_of_[page]].members;
      for (uint32_t r = 0; r < 256; ++r) {
        if (((words[r / 64] >> (r % 64)) & 1) != 0)
          visit(RowPointer{page, static_cast<uint8_t>(r)});
      }
    }
  }

 private:
  struct alignas(64) Bits {
    std::array<uint64_t, 4> members{};
    std::array<uint64_t, 4> marks{};
  };
  uint32_t BitmapOf(uint32_t page) {
    if (page >= bitmap_of_.size()) bitmap_of_.resize(size_t{page} + 1, kNone);
    uint32_t& b = bitmap_of_[page];
    if (b == kNone) {
      b = static_cast<uint32_t>(bitmaps_.size());
      bitmaps_.push_back({});
    }
    return b;
  }
  const Bits* Find(RowPointer p) const {
    if (p.page >= bitmap_of_.size() || bitmap_of_[p.page] == kNone) return nullptr;
    return &bitmaps_[bitmap_of_[p.page]];
  }
  Bits* Find(RowPointer p) {
    if (p.page >= bitmap_of_.size() || bitmap_of_[p.page] == kNone) return nullptr;
    return &bitmaps_[bitmap_of_[p.page]];
  }
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  std::vector<uint32_t> bitmap_of_;  // page -> index in bitmaps_, or kNone
  std::vector<Bits> bitmaps_;
  uint64_t size_ = 0;
};

class Checker {
 public:
  Checker(Database& db, const CheckOptions& options) : Checker(db, db.file(), options) {}
  Checker(Database& db, PageFile& file, const CheckOptions& options)
      : db_(db), file_(file), f_(db.format()), options_(options) {
    report_.stats.pages = file_.page_count();
    owner_.assign(file_.page_count(), kNoOwner);
    checked_free_.assign(file_.page_count(), false);
    index_stamp_.assign(file_.page_count(), 0);
  }

  CheckReport Run() {
    if (file_.trailing_bytes() != 0) {
      Error({}, "the file ends with " + std::to_string(file_.trailing_bytes()) +
                    " bytes that do not fill a page");
    }
    const uint32_t header = Owner("database header");
    Claim(0, header, {});
    const uint32_t global = Owner("global usage map");
    Claim(1, global, {});
    map_hosts_ = Owner("usage-map pages");

    for (const CatalogObject* t : db_.Definitions()) Guard([&] { CheckTable(*t); });
    CheckForeignKeys();
    area_ = FindingArea::kGlobalMap;
    Guard([&] { CheckGlobalMap(); });
    area_ = FindingArea::kStructure;
    if (options_.progress) options_.progress(file_.page_count(), file_.page_count());
    return std::move(report_);
  }

 private:
  // ---- findings ---------------------------------------------------------
  void Add(Severity s, const Location& where, const std::string& message) {
    (s == Severity::kError ? report_.errors : report_.warnings)++;
    if (s == Severity::kError && area_ == FindingArea::kGlobalMap) ++report_.global_map_errors;
    if (s == Severity::kError && area_ != FindingArea::kGlobalMap && !data_error_signalled_) {
      data_error_signalled_ = true;
      if (options_.on_data_error) options_.on_data_error();
    }
    if (report_.findings.size() < options_.max_findings) {
      report_.findings.push_back(Finding{s, where, message, area_});
    }
  }
  void Error(const Location& where, const std::string& message) {
    Add(Severity::kError, where, message);
  }
  void Warning(const Location& where, const std::string& message) {
    Add(Severity::kWarning, where, message);
  }
  // Runs `body`; damage it throws becomes an error finding. The Error's text
  // already names the place.
  template <typename F>
  void Guard(F&& body) {
    try {
      body();
    } catch (const jet::Error& e) {
      if (e.number() != kDamaged) throw;
      Error({}, DamageFinding(e));
    }
  }

  // A data, long-value or index page was read: progress now and then.
  void Visited() {
    ++visited_;
    if (options_.progress && visited_ % 1024 == 0)
      options_.progress(std::min<uint64_t>(visited_, file_.page_count()), file_.page_count());
  }

  // ---- page ownership ---------------------------------------------------
  // A claim a helper checker made, for the checker it helps to make again.
  struct ClaimRecord {
    uint32_t page, owner;
    Location where;
  };
  uint32_t Owner(const std::string& name) {
    owner_names_.push_back(name);
    return static_cast<uint32_t>(owner_names_.size() - 1);
  }
  // Records that `owner` uses `page`; a page used by two owners, or a page
  // outside the file, is an error.
  bool Claim(uint32_t page, uint32_t owner, const Location& where) {
    if (claim_log_ != nullptr) {
      claim_log_->push_back({page, owner, where});
      return true;
    }
    if (page >= owner_.size()) {
      Error(where, "page " + std::to_string(page) + " lies beyond the end of the file (" +
                       std::to_string(owner_.size()) + " pages)");
      return false;
    }
    if (owner_[page] == kNoOwner) {
      owner_[page] = owner;
      return true;
    }
    if (owner_[page] != owner) {
      Error(where.WithPage(page), "the page is used by both " + owner_names_[owner_[page]] +
                                      " and " + owner_names_[owner]);
    }
    return false;
  }
  // Map rows live on shared host pages (owner field 0).
  UsageMap ReadMap(RowPointer pointer, const Location& where) {
    Claim(pointer.page, map_hosts_, where);
    const Location at = where.WithRow(pointer.page, pointer.row);
    RowRef host = ReadRow(file_, pointer, where);
    if (host.page.owner != 0 && pointer.page != 1) {
      Error(at, "a usage map lies on a data page owned by " + std::to_string(host.page.owner));
    }
    CheckDataPageFree(host.page, at);
    UsageMap map = ReadUsageMap(file_, pointer, where);
    ClaimBitmapPages(map, at);
    if (map.beyond_file > 0) {
      Error(at, "the usage map lists " + std::to_string(map.beyond_file) +
                    " pages beyond the end of the file (" + std::to_string(file_.page_count()) +
                    " pages)");
    }
    return map;
  }
  // The 0x05 pages of a reference map belong to that map alone.
  void ClaimBitmapPages(const UsageMap& map, const Location& at) {
    if (map.bitmap_pages.empty()) return;
    const uint32_t owner = Owner("the usage map at " + at.ToString());
    for (uint32_t p : map.bitmap_pages) Claim(p, owner, at.WithPage(p));
  }
  void CheckDataPageFree(const DataPage& page, const Location& where) {
    if (checked_free_[page.number()]) return;
    checked_free_[page.number()] = true;
    const uint32_t computed = page.ComputedFreeSpace(f_);
    // A count the writer did not bring up to date; every reader works it
    // out from the slots, and compaction writes it afresh.
    if (page.free_space != computed) {
      Warning(where.WithPage(page.number()), "the page records " + std::to_string(page.free_space) +
                                                 " bytes free but has " + std::to_string(computed));
    }
  }

  Location TableLocation(const CatalogObject& t) {
    Location l;
    l.table = t.name;
    return l;
  }

  // ---- tables -------------------------------------------------------------
  // Column number -> the pages of its long-value map.
  using LongValuePages = std::map<uint16_t, std::set<uint32_t>>;

  void CheckTable(const CatalogObject& object) {
    Location where = TableLocation(object);
    if (object.id < 0 || (static_cast<uint32_t>(object.id) >> 24) != 0) {
      Error(where, "the catalog gives the table the Id " + std::to_string(object.id) +
                       ", which is not a page number");
      return;
    }
    const TableDef& def = db_.Table(object);
    ++report_.stats.tables;
    const uint32_t owner = Owner("table " + object.name);
    table_pages_.insert(def.page);
    for (uint32_t p : def.pages) Claim(p, owner, where.WithPage(p));
    for (const DefinitionFault& fault : DefinitionFaults(def, where))
      Error(fault.where, fault.what);
    CheckDefinitionPages(def, where);
    const std::optional<UsageMap> owned = ClaimDataPages(def, where, owner);
    if (!owned) return;
    const LongValuePages lv_pages = ClaimLongValuePages(def, where, object.name);
    RowSet live;  // header slots of live rows
    layout_.Assign(def, f_);
    long_value_columns_.clear();
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].long_value()) long_value_columns_.push_back(i);
    }
    autonumber_column_.reset();
    max_autonumber_.reset();
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].autonumber() && def.columns[i].column_type() == ColumnType::kLong) {
        autonumber_column_ = i;
        break;
      }
    }
    const uint64_t rows = CheckRows(def, where, owned->pages, lv_pages, live);
    CheckCounts(def, where, rows);
    CheckIndexes(def, where, live);
  }

  // The table's usage map of its data pages, whose pages are claimed for
  // the table, and its free-space map, which must list only those pages.
  // Nothing when the table's pages cannot be told.
  std::optional<UsageMap> ClaimDataPages(const TableDef& def, const Location& where,
                                         uint32_t owner) {
    if (def.owned_map.null()) {
      Error(where, "the table has no usage map of its pages");
      return std::nullopt;
    }
    UsageMap owned = ReadMap(def.owned_map, where);
    std::set<uint32_t> owned_pages(owned.pages.begin(), owned.pages.end());
    for (uint32_t p : owned.pages) {
      if (p >= file_.page_count()) {
        Error(where, "the table's usage map lists page " + std::to_string(p) +
                         " beyond the end of the file");
        return std::nullopt;
      }
      Claim(p, owner, where.WithPage(p));
    }
    if (!def.free_map.null()) {
      const UsageMap free_map = ReadMap(def.free_map, where);
      for (uint32_t p : free_map.pages) {
        if (!owned_pages.count(p)) {
          Warning(where.WithPage(p), "the table's free-space map lists a page it does not own");
        }
      }
    }
    return owned;
  }

  // The long-value maps of the table's columns, their pages claimed for
  // each column (that every memo and OLE column has one is a rule of the
  // definition).
  LongValuePages ClaimLongValuePages(const TableDef& def, const Location& where,
                                     const std::string& table) {
    LongValuePages lv_pages;
    for (const LongValueMapDef& m : def.long_value_maps) {
      const Location cl = ColumnLocation(def, where, m.column_number);
      const uint32_t lv_owner = Owner("long values of " + table + "." + cl.column);
      std::set<uint32_t>& pages = lv_pages[m.column_number];
      if (!m.owned_map.null()) {
        const UsageMap map = ReadMap(m.owned_map, cl);
        // The pages themselves are read with the rows (see
        // CheckLongValuePage).
        for (uint32_t p : map.pages) {
          if (Claim(p, lv_owner, cl.WithPage(p))) pages.insert(p);
        }
      }
      if (!m.free_map.null()) {
        const UsageMap map = ReadMap(m.free_map, cl);
        for (uint32_t p : map.pages) {
          if (!pages.count(p)) {
            Warning(cl.WithPage(p),
                    "the long-value free-space map lists a page the column does "
                    "not own");
          }
        }
      }
    }
    return lv_pages;
  }

  // Rows: every page of the map must be a data page of this table. Each
  // long-value page is looked at once, when the pass through the data
  // pages has gone past it or the values read so far have reached it,
  // so that it is still in the cache: the two kinds of page lie mixed
  // in a file Access wrote, and in sequence (data first) in a compacted
  // one. Which of its rows no value uses is known once all rows are read.
  // Returns the number of live rows, whose header slots go into `live`.
  uint64_t CheckRows(const TableDef& def, const Location& where,
                     const std::vector<uint32_t>& owned_pages, const LongValuePages& lv_pages,
                     RowSet& live) {
    std::vector<std::pair<uint32_t, uint16_t>> lv_order;  // page, column
    for (const auto& [column, pages] : lv_pages) {
      for (uint32_t p : pages) lv_order.emplace_back(p, column);
    }
    std::sort(lv_order.begin(), lv_order.end());
    auto next_lv = lv_order.begin();
    auto check_lv_pages_before = [&](uint64_t limit) {
      for (; next_lv != lv_order.end() && next_lv->first < limit; ++next_lv)
        CheckLongValuePage(def, where, next_lv->second, next_lv->first);
    };
    RowSet targets_seen;
    uint64_t rows = 0;
    lv_reached_ = 0;
    // Every live row's header slot lies on one of the table's pages (all
    // within the file: ClaimDataPages made sure).
    if (!owned_pages.empty())
      live.Reserve(*std::max_element(owned_pages.begin(), owned_pages.end()) + 1,
                   owned_pages.size());
    for (uint32_t p : owned_pages) {
      check_lv_pages_before(std::max<uint64_t>(p, uint64_t{lv_reached_} + 1));
      CheckPageRows(def, where, p, lv_pages, live, targets_seen, rows);
    }
    for (uint64_t t : moved_targets_) {
      const RowPointer rp = RowPointer::FromStored(static_cast<uint32_t>(t));
      if (!targets_seen.contains(rp)) {
        Error(where.WithRow(rp.page, rp.row), "a moved row's data is not pointed at by any row");
      }
    }
    check_lv_pages_before(UINT64_MAX);
    moved_targets_.clear();
    ReportUnusedLongValues(def, where);
    report_.stats.rows += rows;
    return rows;
  }

  // The rows of data page `p` of the table: each live row is checked,
  // handed to CheckOptions::on_row and counted in `rows`; its header slot
  // goes into `live`, and the data a moved row leads to into `targets_seen`.
  void CheckPageRows(const TableDef& def, const Location& where, uint32_t p,
                     const LongValuePages& lv_pages, RowSet& live, RowSet& targets_seen,
                     uint64_t& rows) {
    const Location pl = where.WithPage(p);
    Guard([&] {
      Visited();
      DataPage dp = ParseDataPage(file_.Get(p, pl), f_, pl);
      if (dp.owner != def.page) {
        Error(pl, "the table's usage map lists a page owned by " + std::to_string(dp.owner));
        return;
      }
      CheckDataPageFree(dp, pl);
      Location rl = pl;  // the row's place, updated row by row
      for (uint32_t r = 0; r < dp.slots.size(); ++r) {
        const RowSlot& slot = dp.slots[r];
        rl.row = r;
        if ((slot.raw & 0x2000) != 0) Warning(rl, "the row slot has the unknown flag 0x2000");
        if (slot.deleted()) continue;
        if (slot.moved_target()) {
          moved_targets_.insert(Key(RowPointer{p, static_cast<uint8_t>(r)}));
          continue;
        }
        Guard([&] {
          Bytes bytes = dp.RowBytes(r);
          RowRef moved;  // keeps the page of a moved row's data
          if (slot.moved_pointer()) {
            moved = FollowMovedRow(file_, def, RowRef{dp, r}, where);
            if (!targets_seen.insert(
                    RowPointer{moved.page.number(), static_cast<uint8_t>(moved.row)})) {
              Error(rl, "two moved-row pointers lead to the same row");
            }
            bytes = moved.bytes();
          }
          CheckRow(def, bytes, rl, lv_pages);
          if (autonumber_column_) NoteAutoNumber(bytes, decoded_.fields[*autonumber_column_]);
          if (options_.on_row) options_.on_row(def, bytes, decoded_, rl);
          live.insert(RowPointer{p, static_cast<uint8_t>(r)});
          ++rows;
        });
      }
    });
  }

  void NoteAutoNumber(Bytes row, const Field& f) {
    if (f.is_null || f.length != 4) return;
    const auto value = static_cast<int32_t>(LoadU32(row.data() + f.offset));
    if (!max_autonumber_ || value > *max_autonumber_) max_autonumber_ = value;
  }

  void CheckCounts(const TableDef& def, const Location& where, uint64_t rows) {
    // The desktop product keeps the count lazily: a program that ends
    // without closing the database leaves it stale, and compaction recounts.
    if (rows != def.row_count) {
      Warning(where, "the table definition counts " + std::to_string(def.row_count) +
                         " rows but the table has " + std::to_string(rows));
    }
    // Likewise the AutoNumber counter, which would next hand out a number
    // already used; the copy's counter starts after the largest value.
    if (max_autonumber_ && *max_autonumber_ > static_cast<int32_t>(def.last_autonumber)) {
      Warning(where, "the AutoNumber counter stands at " + std::to_string(def.last_autonumber) +
                         " below the largest value present, " + std::to_string(*max_autonumber_));
    }
  }

  // The physical indexes against the table's live rows, and the logical
  // ones against the physical; foreign keys are checked once every table
  // is known (CheckForeignKeys).
  void CheckIndexes(const TableDef& def, const Location& where, RowSet& live) {
    const size_t n = def.real_indexes.size();
    for (size_t i = 0; i < n; ++i) {
      if (options_.parallel_indexes && i + 1 < n) {
        CheckIndexPair(def, where, i, live);
        ++i;
      } else {
        CheckIndexAt(def, where, i, live);
      }
    }
    for (const LogicalIndexDef& li : def.logical_indexes) {
      Location il = where;
      il.index = li.name;
      if (li.foreign_key()) fk_checks_.push_back({il, li.fk_table_page});
    }
  }

  void CheckIndexAt(const TableDef& def, const Location& where, size_t i, RowSet& live) {
    Location il = where;
    il.index = def.IndexName(def.real_indexes[i]);
    Guard([&] { CheckIndex(def, def.real_indexes[i], il, live); });
  }

  // Indexes `i` and `i + 1` at once, the second on another thread by a
  // helper with its own reader and its own marks of the rows. What it finds
  // and the pages it claims are taken over once both are done, so they come
  // in index order.
  void CheckIndexPair(const TableDef& def, const Location& where, size_t i, RowSet& live) {
    const std::unique_ptr<PageFile> reader = file_.Beside();
    CheckOptions helper_options;
    helper_options.max_findings = options_.max_findings;
    Checker helper(db_, *reader, helper_options);
    std::vector<ClaimRecord> claims;
    helper.claim_log_ = &claims;
    helper.map_hosts_ = helper.Owner("usage-map pages");
    helper.checked_free_ = checked_free_;
    RowSet rows = live;
    std::exception_ptr failed;
    std::thread other([&] {
      try {
        helper.CheckIndexAt(def, where, i + 1, rows);
      } catch (...) {
        failed = std::current_exception();
      }
    });
    try {
      CheckIndexAt(def, where, i, live);
    } catch (...) {
      other.join();
      throw;
    }
    other.join();
    if (failed) std::rethrow_exception(failed);
    TakeOver(helper, claims);
  }

  // What a helper found and the pages it claimed, as if found and claimed here.
  void TakeOver(const Checker& helper, const std::vector<ClaimRecord>& claims) {
    uint64_t errors = helper.report_.errors, warnings = helper.report_.warnings;
    for (const Finding& f : helper.report_.findings) {
      Add(f.severity, f.where, f.message);
      --(f.severity == Severity::kError ? errors : warnings);
    }
    // Those it counted beyond the findings it kept.
    report_.errors += errors;
    report_.warnings += warnings;
    if (errors > 0 && !data_error_signalled_) {
      data_error_signalled_ = true;
      if (options_.on_data_error) options_.on_data_error();
    }
    report_.stats.indexes += helper.report_.stats.indexes;
    report_.stats.index_entries += helper.report_.stats.index_entries;
    visited_ += helper.visited_;
    std::map<uint32_t, uint32_t> owners = {
        {helper.map_hosts_, map_hosts_}};  // the helper's -> ours
    for (const ClaimRecord& c : claims) {
      auto it = owners.find(c.owner);
      if (it == owners.end())
        it = owners.emplace(c.owner, Owner(helper.owner_names_[c.owner])).first;
      Claim(c.page, it->second, c.where);
    }
  }

  // `where` naming the column numbered `column` ("#N" when the table has
  // no such column).
  static Location ColumnLocation(const TableDef& def, const Location& where, uint16_t column) {
    const ColumnDef* c = def.ColumnByNumber(column);
    Location at = where;
    at.column = c ? c->name : "#" + std::to_string(column);
    return at;
  }

  // A page of a long-value column's map: it must be a long-value page with
  // a sound free-space count. Its rows in use are remembered as marks of
  // the column's set of used rows, to be compared once every row has said
  // which values it uses (see ReportUnusedLongValues).
  void CheckLongValuePage(const TableDef& def, const Location& where, uint16_t column, uint32_t p) {
    const Location cl = ColumnLocation(def, where, column);
    RowSet& used = lv_rows_used_[column];
    Guard([&] {
      Visited();
      const DataPage dp = ParseDataPage(file_.Get(p, cl.WithPage(p)), f_, cl.WithPage(p));
      if (!dp.long_values()) {
        Error(cl.WithPage(p), "a page of the long-value map is not a long-value page");
      }
      CheckDataPageFree(dp, cl);
      for (uint32_t r = 0; r < dp.slots.size(); ++r) {
        if (dp.slots[r].plain()) used.MarkAny(RowPointer{p, static_cast<uint8_t>(r)});
      }
    });
  }

  // Live long-value rows that no value refers to are space lost to the
  // file, not damage.
  void ReportUnusedLongValues(const TableDef& def, const Location& where) {
    for (const auto& [column, used] : lv_rows_used_) {
      const uint64_t unused = used.MarkedNonMembers();
      if (unused == 0) continue;
      Warning(ColumnLocation(def, where, column),
              std::to_string(unused) +
                  " long-value rows are not referred to by any row (leaked space)");
    }
    lv_rows_used_.clear();
  }

  // The pages of the definition: the VC mark of Jet 3, the free-space
  // count of Jet 4.
  void CheckDefinitionPages(const TableDef& def, const Location& where) {
    if (f_.jet3()) {
      // Jet 3 marks every definition page with "VC" where Jet 4 keeps its free space.
      for (uint32_t p : def.pages) {
        const PageRef page = file_.Get(p, where.WithPage(p));
        if (page->data[kTdefMark] != 'V' || page->data[kTdefMark + 1] != 'C') {
          Error(where.WithPage(p), "the table definition page lacks its VC mark");
        }
      }
      return;
    }
    // Bytes of the logical stream on each page, header included; the free
    // field is what is left of the page less 8.
    uint64_t remaining = def.declared_length;
    for (size_t i = 0; i < def.pages.size(); ++i) {
      uint64_t on_page;
      if (i == 0) {
        on_page = std::min<uint64_t>(remaining, f_.page_size);
        remaining -= on_page;
      } else {
        const uint64_t chunk = std::min<uint64_t>(remaining, f_.page_size - kTdefPageHeader);
        remaining -= chunk;
        on_page = chunk + kTdefPageHeader;
      }
      const uint64_t expected = on_page + 8 >= f_.page_size ? 0 : f_.page_size - on_page - 8;
      if (def.page_free_fields[i] != expected) {
        Warning(where.WithPage(def.pages[i]),
                "the table definition page records " + std::to_string(def.page_free_fields[i]) +
                    " bytes free instead of " + std::to_string(expected));
      }
    }
  }

  void CheckRow(const TableDef& def, Bytes row, const Location& where,
                const LongValuePages& lv_pages) {
    DecodedRow& d = decoded_;
    CheckRowRules(layout_, row, where, d);
    for (const size_t i : long_value_columns_) {
      const ColumnDef& c = def.columns[i];
      if (!d.fields[i].is_null && d.fields[i].length > 0) {
        // Assigned, not made afresh: the names' storage is kept from value to value.
        Location& cl = lv_at_;
        cl = where;
        cl.column = c.name;
        const LongValueField lv = ParseLongValueField(d.FieldBytes(row, i), cl);
        std::vector<RowPointer>& rows = lv_rows_;
        rows.clear();
        db_.long_values().ReadInto(lv, cl, lv_value_, &rows);
        ++report_.stats.long_values;
        auto it = lv_pages.find(c.number);
        RowSet& used = lv_rows_used_[c.number];
        for (const RowPointer& rp : rows) {
          lv_reached_ = std::max(lv_reached_, rp.page);
          if (it == lv_pages.end() || !it->second.count(rp.page)) {
            Error(cl.WithRow(rp.page, rp.row),
                  "the long value lies on a page outside the column's long-value map");
          }
          if (!used.insert(rp)) {
            Error(cl.WithRow(rp.page, rp.row), "two long values share a long-value row");
          }
        }
      }
    }
  }

  // ---- indexes ------------------------------------------------------------
  struct Leaf {
    uint32_t page, prev, next;  // the page and its links as stored
  };
  // The bytes entries are ordered by, key then row pointer, seen where they
  // lie: `head` followed by the `tail_size` bytes of `tail`.
  struct OrderedBytes {
    std::span<const uint8_t> head;
    std::array<uint8_t, kRowPointerSize> tail{};
    size_t tail_size = 0;

    static OrderedBytes Of(const IndexEntry& e) {
      OrderedBytes o{e.key};
      PutIndexRowPointer(o.tail, 0, e.row);
      o.tail_size = kRowPointerSize;
      return o;
    }
    static OrderedBytes Of(std::span<const uint8_t> bytes) { return OrderedBytes{bytes}; }
    size_t size() const { return head.size() + tail_size; }
    uint8_t operator[](size_t i) const { return i < head.size() ? head[i] : tail[i - head.size()]; }
    // Byte-wise comparison, as of the bytes put together: <0, 0 or >0.
    friend int Compare(const OrderedBytes& a, const OrderedBytes& b) {
      const size_t common = std::min(a.head.size(), b.head.size());
      if (common != 0) {
        if (const int c = std::memcmp(a.head.data(), b.head.data(), common); c != 0) return c;
      }
      const size_t n = std::min(a.size(), b.size());
      for (size_t i = common; i < n; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
      }
      return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    }
    // The same for two leaf entries (each with its row pointer as the
    // tail), telling besides whether their keys are equal.
    friend int CompareEntries(const OrderedBytes& a, const OrderedBytes& b, bool& same_key) {
      same_key = false;
      if (a.head.size() != b.head.size()) return Compare(a, b);
      if (!a.head.empty()) {
        if (const int c = std::memcmp(a.head.data(), b.head.data(), a.head.size()); c != 0)
          return c;
      }
      same_key = true;
      const uint32_t x = LoadU32BE(a.tail), y = LoadU32BE(b.tail);
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    static uint32_t LoadU32BE(const std::array<uint8_t, kRowPointerSize>& t) {
      return uint32_t{t[0]} << 24 | uint32_t{t[1]} << 16 | uint32_t{t[2]} << 8 | t[3];
    }
    void CopyTo(std::vector<uint8_t>& out) const {
      out.assign(head.begin(), head.end());
      out.insert(out.end(), tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(tail_size));
    }
  };
  struct Separator {
    std::vector<uint8_t> entry;  // ordered bytes
    Location at;
    size_t number;
  };
  struct IndexWalk {
    std::vector<Leaf> leaves;     // in tree order
    std::vector<uint32_t> pages;  // in the order reached
    // The key and row pointer of the last leaf entry seen, kept from one
    // leaf page to the next.
    std::vector<uint8_t> previous_key;
    std::array<uint8_t, kRowPointerSize> previous_row{};
    bool have_previous = false;
    // The ordered bytes of the last entry of the subtree walked last (empty
    // when its last leaf is empty).
    std::vector<uint8_t> last;
    uint64_t entries = 0;
    uint64_t distinct = 0;  // entries whose key differs from the one before
    // Intermediate entries above their child's last entry, which the next
    // leaf entry must exceed.
    std::vector<Separator> separators;
    // The page being walked at each depth.
    std::vector<IndexPage> levels = std::vector<IndexPage>(kMaxIndexDepth + 1);
  };

  // Walks the subtree at `number`, leaving the ordered bytes of its last
  // entry in `w.last`.
  void WalkSubtree(const TableDef& def, const RealIndexDef& index, uint32_t number, size_t depth,
                   const Location& where, IndexWalk& w, RowSet& live) {
    const Location at = where.WithPage(number);
    if (depth > kMaxIndexDepth) ThrowDamaged(at, "the index tree is deeper than any real index");
    // Pages of the index being walked carry its stamp; a page beyond the
    // file is left for the read below to refuse.
    if (number < index_stamp_.size()) {
      if (index_stamp_[number] == index_walks_) {
        ThrowDamaged(at, "the index page is reached twice in the tree");
      }
      index_stamp_[number] = index_walks_;
    }
    w.pages.push_back(number);
    Visited();
    // One parsed page kept per level (a page's entries are read again after
    // its children are walked); the levels never move.
    IndexPage& ip = w.levels[depth];
    ParseIndexPage(file_.Get(number, at), f_, at, ip);
    if (ip.owner != def.page) {
      Error(at, "the index page is owned by " + std::to_string(ip.owner));
    }
    if (ip.free_space != ip.ComputedFreeSpace(f_)) {
      Warning(at, "the index page records " + std::to_string(ip.free_space) +
                      " bytes free but has " + std::to_string(ip.ComputedFreeSpace(f_)));
    }
    if (ip.leaf) {
      w.leaves.push_back({number, ip.prev, ip.next});
      // The entries' rows are looked up in sets far bigger than the caches
      // on big tables; fetching them all first lets the misses overlap.
      for (const IndexEntry& e : ip.entries) live.Prefetch(e.row);
      // The entry before, on this page or (for the first) kept from the last.
      OrderedBytes previous{w.previous_key, w.previous_row, kRowPointerSize};
      for (size_t k = 0; k < ip.entries.size(); ++k) {
        const IndexEntry& e = ip.entries[k];
        const OrderedBytes ordered = OrderedBytes::Of(e);
        bool same_key = false;
        if (w.have_previous && CompareEntries(previous, ordered, same_key) >= 0) {
          Error(at,
                "index entry " + std::to_string(k) + " is not greater than the entry before it");
        }
        for (const Separator& sep : w.separators) {
          if (Compare(OrderedBytes::Of(sep.entry), ordered) >= 0) {
            Error(sep.at, "intermediate entry " + std::to_string(sep.number) +
                              " is not below the first entry of the next child page");
          }
        }
        w.separators.clear();
        if (!same_key) ++w.distinct;
        // Jet lets a unique index repeat a key in which a column is NULL.
        if (index.unique() && same_key && live.contains(e.row) &&
            IndexedValues(def, index, e.row, where).size() == index.columns.size()) {
          Error(at, "index entry " + std::to_string(k) +
                        " repeats the key of the entry before it in a unique index");
        }
        previous = ordered;
        w.have_previous = true;
        ++w.entries;
        const RowSet::Mark mark = live.MarkMember(e.row);
        if (mark == RowSet::Mark::kNotMember) {
          Error(at, "index entry " + std::to_string(k) + " points at page " +
                        std::to_string(e.row.page) + " row " + std::to_string(e.row.row) +
                        ", which is not a live row of the table");
        } else if (mark == RowSet::Mark::kAgain) {
          Error(at, "two index entries point at page " + std::to_string(e.row.page) + " row " +
                        std::to_string(e.row.row));
        }
      }
      if (ip.entries.empty()) {
        if (depth > 0) Error(at, "a leaf page of the index holds no entries");
        w.last.clear();
        return;
      }
      // The page's entries go with it: the last is kept, once per page.
      w.previous_key.assign(previous.head.begin(), previous.head.end());
      w.previous_row = previous.tail;
      previous.CopyTo(w.last);
      return;
    }
    w.last.clear();
    for (size_t k = 0; k < ip.entries.size(); ++k) {
      const IndexEntry& e = ip.entries[k];
      WalkSubtree(def, index, e.child, depth + 1, where, w, live);
      const int order = Compare(OrderedBytes::Of(e), OrderedBytes::Of(w.last));
      if (order < 0) {
        Error(at, "intermediate entry " + std::to_string(k) +
                      " is below the last entry of its child page " + std::to_string(e.child));
      } else if (order != 0) {
        // Deletes leave the entry of a child that lost its last entries
        // as it was: it still parts the children, so it only has to stay
        // below the next child's first entry.
        Warning(at, "intermediate entry " + std::to_string(k) +
                        " is greater than the last entry of its child page " +
                        std::to_string(e.child));
        w.separators.push_back({e.Ordered(), at, k});
      }
    }
    if (ip.tail != 0) WalkSubtree(def, index, ip.tail, depth + 1, where, w, live);
    if (ip.entries.empty() && ip.tail == 0) Error(at, "an intermediate index page has no children");
  }

  // The indexed columns of a row that hold a value (not NULL), in index order.
  std::vector<std::string> IndexedValues(const TableDef& def, const RealIndexDef& index,
                                         RowPointer rp, const Location& where) {
    const Location rl = where.WithRow(rp.page, rp.row);
    RowRef ref = ReadRow(file_, rp, where, &def.page);
    if (ref.slot().moved_pointer()) ref = FollowMovedRow(file_, def, ref, where);
    const DecodedRow d = DecodeRow(def, f_, ref.bytes(), rl);
    std::vector<std::string> out;
    for (const IndexColumn& ic : index.columns) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == ic.column_number && !d.fields[i].is_null) {
          out.push_back(def.columns[i].name);
        }
      }
    }
    return out;
  }

  void CheckIndex(const TableDef& def, const RealIndexDef& index, const Location& where,
                  RowSet& live) {
    ++report_.stats.indexes;
    live.ClearMarks();
    const uint32_t owner = Owner("index " + where.index + " of " + where.table);
    IndexWalk w;
    ++index_walks_;
    WalkSubtree(def, index, index.root_page, 0, where, w, live);
    std::sort(w.pages.begin(), w.pages.end());
    report_.stats.index_entries += w.entries;
    // A statistic the desktop product keeps lazily, as it does the row count.
    if (w.distinct != index.stat_unique) {
      Warning(where, "the index counts " + std::to_string(index.stat_unique) +
                         " distinct keys but holds " + std::to_string(w.distinct));
    }
    for (uint32_t p : w.pages) Claim(p, owner, where.WithPage(p));

    if (index.usage_map.null()) {
      Error(where, "the index has no usage map");
    } else {
      const UsageMap map = ReadMap(index.usage_map, where);
      // Readers walk the tree from its root; the map only tells a writer
      // which pages are the index's, and the copy's is new.
      const std::set<uint32_t> mapped(map.pages.begin(), map.pages.end());
      if (!std::ranges::equal(mapped, w.pages)) {
        for (uint32_t p : w.pages) {
          if (!mapped.count(p))
            Warning(where.WithPage(p), "the index page is missing from the index's usage map");
        }
        for (uint32_t p : mapped) {
          if (!std::binary_search(w.pages.begin(), w.pages.end(), p))
            Warning(where.WithPage(p), "the index's usage map lists a page outside the index");
        }
      }
    }

    if (w.entries != live.size()) {
      if (!(index.ignore_nulls() && w.entries < live.size())) {
        Error(where, "the index has " + std::to_string(w.entries) + " entries for " +
                         std::to_string(live.size()) + " rows");
      } else {
        // An index that ignores NULLs leaves out exactly the rows whose
        // indexed columns are all NULL.
        live.ForEach([&](RowPointer rp) {
          if (live.marked(rp)) return;
          Guard([&] {
            const std::vector<std::string> values = IndexedValues(def, index, rp, where);
            if (!values.empty()) {
              Error(where.WithRow(rp.page, rp.row),
                    "the row is missing from the index although column " + values.front() +
                        " has a value");
            }
          });
        });
      }
    }

    // The leaf level's links must give the leaves in tree order.
    for (size_t i = 0; i < w.leaves.size(); ++i) {
      const Leaf& leaf = w.leaves[i];
      const Location at = where.WithPage(leaf.page);
      const uint32_t prev = i == 0 ? 0 : w.leaves[i - 1].page;
      const uint32_t next = i + 1 == w.leaves.size() ? 0 : w.leaves[i + 1].page;
      if (leaf.prev != prev || leaf.next != next) {
        Error(at, "the leaf links (previous " + std::to_string(leaf.prev) + ", next " +
                      std::to_string(leaf.next) + ") differ from the tree order (previous " +
                      std::to_string(prev) + ", next " + std::to_string(next) + ")");
      }
    }
  }

  // ---- global map -----------------------------------------------------------
  void CheckForeignKeys() {
    for (const auto& [where, page] : fk_checks_) {
      if (!table_pages_.count(page)) {
        Error(where, "the foreign key refers to page " + std::to_string(page) +
                         ", which is not a table of the catalog");
      }
    }
  }

  void CheckGlobalMap() {
    const UsageMap global = ReadGlobalUsageMap(file_);
    ClaimBitmapPages(global, Location::Page(1));
    std::vector<bool> free(file_.page_count(), false);
    for (uint32_t p : global.pages) {
      if (p < free.size()) free[p] = true;
    }
    for (uint32_t p = 0; p < file_.page_count(); ++p) {
      const bool covered = global.Covers(p);
      if (free[p]) {
        ++report_.stats.free_pages;
        if (owner_[p] != kNoOwner) {
          Error(Location::Page(p), "the global usage map marks the page free, but it is used by " +
                                       owner_names_[owner_[p]]);
        }
      } else if (owner_[p] == kNoOwner) {
        if (!covered) {
          ++report_.stats.free_pages;  // beyond the map: free by convention
          continue;
        }
        ++report_.stats.leaked_pages;
        ++leaked_;
      }
    }
    if (leaked_ > 0) {
      // One finding for the lot, naming the first few.
      std::string list;
      uint32_t shown = 0;
      for (uint32_t p = 0; p < file_.page_count() && shown < 8; ++p) {
        if (!free[p] && owner_[p] == kNoOwner && global.Covers(p)) {
          list += (shown ? ", " : "") + std::to_string(p);
          ++shown;
        }
      }
      Warning({}, std::to_string(leaked_) +
                      " pages are marked in use but nothing refers to them (leaked pages: " + list +
                      (leaked_ > shown ? ", ..." : "") + ")");
    }
    const uint64_t range_end = global.range_first + global.range_span;
    const uint64_t beyond = range_end > file_.page_count() ? range_end - file_.page_count() : 0;
    if (global.beyond_file < beyond) {
      Warning(Location::Page(1), "the global usage map marks " +
                                     std::to_string(beyond - global.beyond_file) +
                                     " pages beyond the end of the file as in use");
    }
  }

  Database& db_;
  PageFile& file_;
  const Format& f_;
  CheckOptions options_;
  CheckReport report_;
  uint64_t visited_ = 0;
  std::vector<uint32_t> owner_;
  std::vector<std::string> owner_names_;
  uint32_t map_hosts_ = 0;
  std::vector<bool> checked_free_;                 // data pages whose free space was checked
  std::vector<uint32_t> index_stamp_;              // per page, the walk that last reached it
  uint32_t index_walks_ = 0;                       // index walks begun
  std::vector<ClaimRecord>* claim_log_ = nullptr;  // a helper's claims (null: made here)
  std::unordered_set<uint64_t> moved_targets_;
  std::map<uint16_t, RowSet> lv_rows_used_;  // per LV column of the table being checked
  uint32_t lv_reached_ = 0;                 // the highest long-value page its rows have read so far
  std::vector<uint8_t> lv_value_;           // the long value being checked
  std::vector<RowPointer> lv_rows_;         // its rows
  Location lv_at_;                          // its place
  DecodedRow decoded_;                      // the row being checked, its storage reused
  RowLayout layout_;                        // of the table being checked
  std::vector<size_t> long_value_columns_;  // of the table being checked (positions)
  std::optional<size_t> autonumber_column_;  // of the table being checked
  std::optional<int32_t> max_autonumber_;    // its largest value found so far
  std::set<uint32_t> table_pages_;
  std::vector<std::pair<Location, uint32_t>> fk_checks_;
  uint32_t leaked_ = 0;
  FindingArea area_ = FindingArea::kStructure;  // area of the findings being made
  bool data_error_signalled_ = false;
};

}  // namespace

std::vector<DefinitionFault> DefinitionFaults(const TableDef& table, const Location& where) {
  std::vector<DefinitionFault> out;
  auto at_column = [&](const std::string& name) {
    Location l = where;
    l.column = name;
    return l;
  };
  if (table.declared_length != table.parsed_length)
    out.push_back({where, "the table definition declares " + std::to_string(table.declared_length) +
                              " bytes but holds " + std::to_string(table.parsed_length)});
  for (const ColumnDef& c : table.columns) {
    // Rows carry a variable trailer only when the definition counts
    // variable columns, so every variable column's slot lies within it.
    if (!c.fixed() && c.var_index >= table.var_columns)
      out.push_back(
          {at_column(c.name), "the variable-length column has slot " + std::to_string(c.var_index) +
                                  ", but the table definition counts " +
                                  std::to_string(table.var_columns) + " variable columns"});
    if (c.long_value() &&
        std::none_of(table.long_value_maps.begin(), table.long_value_maps.end(),
                     [&](const LongValueMapDef& m) { return m.column_number == c.number; }))
      out.push_back({at_column(c.name), "the memo or OLE column has no long-value map"});
  }
  // The map of a memo or OLE column that has since been deleted stays in
  // the definition: its pages remain the table's, and the values on them,
  // which no row refers to any more, are leaked space.
  for (const LongValueMapDef& m : table.long_value_maps) {
    const ColumnDef* c = table.ColumnByNumber(m.column_number);
    if (c != nullptr && !c->long_value())
      out.push_back(
          {at_column(c->name), "a long-value map names a column that is not a memo or OLE column"});
  }
  for (const RealIndexDef& ri : table.real_indexes) {
    Location il = where;
    il.index = table.IndexName(ri);
    for (const IndexColumn& ic : ri.columns) {
      if (table.ColumnByNumber(ic.column_number) == nullptr)
        out.push_back({il, "the index names column number " + std::to_string(ic.column_number) +
                               ", which the table does not have"});
    }
  }
  for (const LogicalIndexDef& li : table.logical_indexes) {
    Location il = where;
    il.index = li.name;
    if (li.real_index >= table.real_indexes.size())
      out.push_back({il, "the index refers to physical index " + std::to_string(li.real_index) +
                             ", which the table does not have"});
  }
  return out;
}

void CheckRowRules(const RowLayout& layout, Bytes row, const Location& where, DecodedRow& out) {
  DecodeRow(layout, row, where, out);
  // A fixed-length value is decoded at its type's size. Text is any bytes
  // (what cannot be decoded becomes U+FFFD), so a short text field holds
  // nothing to check beyond its place in the row, which DecodeRow has
  // checked; long values are read by the caller. Other values among the
  // variable data are any bytes of their type's size.
  for (const RowLayout::SizedColumn& sc : layout.sized_variable) {
    const Field& field = out.fields[sc.position];
    if (!field.is_null && field.length != sc.size)
      CheckValueSize(layout.table->columns[sc.position], field, where);
  }
}

void CheckRowRules(const TableDef& table, const Format& format, Bytes row, const Location& where,
                   DecodedRow& out) {
  thread_local RowLayout layout;
  layout.Assign(table, format);
  CheckRowRules(layout, row, where, out);
}

CheckReport CheckDatabase(Database& db, const CheckOptions& options) {
  return Checker(db, options).Run();
}

CheckReport CheckDatabase(OpenedDatabase& db,
                          const std::function<void(uint64_t, uint64_t)>& progress,
                          size_t max_findings) {
  CheckOptions options;
  options.max_findings = max_findings;
  options.progress = progress;
  return CheckDatabase(db.database(), options);
}

}  // namespace tessmark::jet
