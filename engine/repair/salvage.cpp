#include "repair/salvage.h"

#include <algorithm>
#include <optional>
#include <set>

#include "check/checker.h"
#include "db/index_page.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/table_rows.h"
#include "db/usage_map.h"
#include "format/data_page.h"
#include "tessmark/error.h"

namespace tessmark::jet {

const char* LossKindName(RepairLoss::Kind kind) {
  switch (kind) {
    case RepairLoss::Kind::kTable:
      return "table";
    case RepairLoss::Kind::kPage:
      return "page";
    case RepairLoss::Kind::kRow:
      return "row";
    case RepairLoss::Kind::kLongValue:
      return "long value";
    case RepairLoss::Kind::kDuplicateKey:
      return "duplicate key";
  }
  return "row";
}

DataPageScan FindDataPages(PageFile& file) {
  const Format& format = Format::For(file.version());
  DataPageScan pages;
  try {
    const std::vector<uint32_t> free = ReadGlobalUsageMap(file).pages;
    pages.free.insert(free.begin(), free.end());
  } catch (const Error& e) {
    if (e.number() != kDamaged) throw;
    // Without the global map every page may be in use.
  }
  for (uint32_t p = 1; p < file.page_count(); ++p) {
    const PageRef page = file.Get(p, Location::Page(p));
    if (!page->data.empty() && page->data[0] == kPageTableDef) pages.table_definitions.push_back(p);
    if (page->data.empty() || page->data[0] != kPageData) continue;
    try {
      const DataPage dp = ParseDataPage(page, format, Location::Page(p));
      pages.by_owner[dp.owner].push_back(p);
    } catch (const Error& e) {
      if (e.number() != kDamaged) throw;
      pages.unreadable.push_back(p);
    }
  }
  return pages;
}

namespace {

class Salvager {
 public:
  Salvager(PageFile& file, const TableDef& table)
      : file_(file), def_(table), format_(Format::For(file.version())), long_values_(file) {}

  SalvagedTable Run(const DataPageScan& scan, bool count_holds) {
    const Location where = def_.where();
    std::set<uint32_t> owned;
    if (auto it = scan.by_owner.find(def_.page); it != scan.by_owner.end())
      owned.insert(it->second.begin(), it->second.end());
    // Pages the usage map lists that are not data pages of the table held
    // rows of it that cannot be read.
    std::set<uint32_t> mapped;
    bool map_read = true;
    try {
      for (uint32_t p : ReadUsageMap(file_, def_.owned_map, where).pages) {
        mapped.insert(p);
        if (p < file_.page_count() && !owned.count(p) && !ReadableDataPage(p, scan))
          Lose(RepairLoss::Kind::kPage, where.WithPage(p),
               "the table's usage map lists the page, which is not a readable data page");
      }
    } catch (const Error& e) {
      if (e.number() != kDamaged) throw;
      map_read = false;
    }
    for (uint32_t p : owned)
      if (mapped.count(p)) ReadPage(p);
    // The map is the table's account of its pages; other pages it owns are
    // searched only when that account cannot be read or falls short.
    if (!map_read || (count_holds && slots_read_ < def_.row_count)) {
      std::vector<uint32_t> others;
      for (uint32_t p : owned)
        if (!mapped.count(p) && !scan.free.count(p)) others.push_back(p);
      const std::optional<std::set<uint32_t>> named =
          others.empty() ? std::nullopt : PagesNamedByAnIndex();
      outside_ = true;
      for (uint32_t p : others)
        if (!named || named->count(p)) ReadPage(p);
    }
    // Moved rows whose pointer was lost with its page are rows all the same.
    for (const RowPointer& target : targets_) {
      if (reached_.count(target)) continue;
      const Location at = where.WithRow(target.page, target.row);
      outside_ = !mapped.count(target.page);
      Guarded(at, [&] {
        const RowRef ref = ReadRow(file_, target, at, &def_.page);
        Keep(target, target, ref.bytes(), at);
      });
    }
    return std::move(out_);
  }

 private:
  // A page listed in the map that is a readable data page of another owner:
  // the map is wrong, but no row of this table is lost there.
  static bool ReadableDataPage(uint32_t p, const DataPageScan& scan) {
    for (const auto& [owner, list] : scan.by_owner) {
      if (std::binary_search(list.begin(), list.end(), p)) return true;
    }
    return false;
  }

  // The pages on which an index that names every row of the table (one
  // that leaves out no NULL keys) names one, from the first such index
  // that reads in full; none when no such index reads.
  std::optional<std::set<uint32_t>> PagesNamedByAnIndex() {
    for (const RealIndexDef& ri : def_.real_indexes) {
      if (ri.ignore_nulls()) continue;
      std::set<uint32_t> pages;
      IndexWalkVisitor v;
      v.on_leaf_entry = [&](const IndexEntry& e) { pages.insert(e.row.page); };
      Location il = def_.where();
      il.index = def_.IndexName(ri);
      try {
        WalkIndex(file_, ri, il, v);
      } catch (const Error& e) {
        if (e.number() != kDamaged) throw;
        continue;
      }
      return pages;
    }
    return std::nullopt;
  }

  void ReadPage(uint32_t p) {
    const Location pl = def_.where().WithPage(p);
    const DataPage dp = ParseDataPage(file_.Get(p, pl), format_, pl);
    for (uint32_t r = 0; r < dp.slots.size(); ++r) {
      const RowSlot& slot = dp.slots[r];
      const RowPointer at{p, static_cast<uint8_t>(r)};
      const Location rl = def_.where().WithRow(p, r);
      if (slot.deleted()) continue;
      if (slot.moved_target()) {
        targets_.insert(at);
        continue;
      }
      ++slots_read_;
      Guarded(rl, [&] {
        if (slot.moved_pointer()) {
          const RowRef target = FollowMovedRow(file_, def_, RowRef{dp, r}, rl);
          const RowPointer data{target.page.number(), static_cast<uint8_t>(target.row)};
          if (reached_.count(data)) ThrowDamaged(rl, "two moved-row pointers lead to the same row");
          Keep(at, data, target.bytes(), rl);
          return;
        }
        Keep(at, at, dp.RowBytes(r), rl);
      });
    }
  }

  // Runs `body`; damage it reports becomes the loss of the row at `at`.
  template <typename F>
  void Guarded(const Location& at, F&& body) {
    try {
      body();
    } catch (const Error& e) {
      if (e.number() != kDamaged) throw;
      Lose(RepairLoss::Kind::kRow, at, DamageFindingAt(e, at));
    }
  }

  void Keep(RowPointer header, RowPointer data, Bytes bytes, const Location& at) {
    SalvagedRow row{header, data, std::vector<uint8_t>(bytes.begin(), bytes.end()), outside_,
                    false};
    CheckRowRules(def_, format_, row.bytes, at, decoded_);
    for (size_t i = 0; i < def_.columns.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      const Field& f = decoded_.fields[i];
      if (!c.long_value() || f.is_null || f.length == 0) continue;
      Location cl = at;
      cl.column = c.name;
      try {
        const LongValueField lv = ParseLongValueField(decoded_.FieldBytes(row.bytes, i), cl);
        long_values_.ReadInto(lv, cl, value_);
      } catch (const Error& e) {
        if (e.number() != kDamaged) throw;
        Lose(RepairLoss::Kind::kLongValue, cl,
             DamageFinding(e) + "; the value is NULL in the repaired table");
        SetNull(row.bytes, c, f);
        row.long_value_null = true;
      }
    }
    reached_.insert(data);
    out_.rows.push_back(std::move(row));
  }

  // Makes a field NULL: its bit in the null mask (the row's last bytes) is
  // cleared and its bytes zeroed, so nothing of the lost value is left.
  void SetNull(std::vector<uint8_t>& row, const ColumnDef& column, const Field& field) const {
    std::fill_n(row.begin() + static_cast<std::ptrdiff_t>(field.offset), field.length, uint8_t{0});
    if (column.number >= decoded_.num_cols) return;
    row[decoded_.null_mask + column.number / 8u] &=
        static_cast<uint8_t>(~(1u << (column.number % 8u)));
  }

  void Lose(RepairLoss::Kind kind, const Location& where, const std::string& what) {
    out_.losses.push_back(RepairLoss{kind, where, what});
  }

  PageFile& file_;
  const TableDef& def_;
  const Format& format_;
  LongValueReader long_values_;
  DecodedRow decoded_;
  std::vector<uint8_t> value_;
  std::set<RowPointer> targets_;  // moved-row targets seen on the pages
  std::set<RowPointer> reached_;  // where the bytes of rows kept lay
  uint64_t slots_read_ = 0;       // rows the pages read so far hold, read or not
  bool outside_ = false;          // reading pages the usage map does not list
  SalvagedTable out_;
};

}  // namespace

SalvagedTable SalvageRows(PageFile& file, const TableDef& table, const DataPageScan& pages,
                          bool count_holds) {
  return Salvager(file, table).Run(pages, count_holds);
}

}  // namespace tessmark::jet
