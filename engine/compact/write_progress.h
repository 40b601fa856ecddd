// The writer's progress, counted in pages of the source: each table weighs
// what its usage maps give it (data and long-value pages, and the pages of
// each index), and moves forward as its rows are written and as each of its
// indexes is rebuilt. The total is known before the first table is written,
// so the figure only grows, and reaches the total when the last table is
// done.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "db/table_def.h"
#include "format/page_file.h"
#include "tessmark/compact.h"

namespace tessmark::jet {

class WriteProgress {
 public:
  // Weighs `tables` (in the order they will be written) by their usage
  // maps. `report` may be empty: then nothing is weighed or reported.
  WriteProgress(PageFile& source, const std::vector<TableDef>& tables,
                std::function<void(const CompactProgress&)> report);

  // Of the data pages of the table being written, `done` of `pages` are
  // written.
  void DataPages(uint64_t done, uint64_t pages);
  // Index `index` of the table being written: `done` entries of about
  // `entries` taken.
  void Entries(size_t index, uint64_t done, uint64_t entries);
  // The table being written is done.
  void TableDone();

  uint64_t pages_total() const { return total_; }

 private:
  struct Weight {
    uint64_t rows = 0;              // data and long-value pages
    std::vector<uint64_t> indexes;  // pages of each real index
  };
  // Of the table being written, `before` pages are done and, of the next
  // `weight`, the share `done` of `all`.
  void Within(uint64_t before, uint64_t weight, uint64_t done, uint64_t all);
  void Report(uint64_t pages);

  std::function<void(const CompactProgress&)> report_;
  std::vector<Weight> weights_;
  uint64_t total_ = 0;
  size_t table_ = 0;       // the table being written
  uint64_t finished_ = 0;  // pages of the tables done
  uint64_t shown_ = 0;     // pages last reported
  uint64_t step_ = 1;      // the least advance worth a report
};

}  // namespace tessmark::jet
