#include "compact/write_progress.h"

#include <algorithm>
#include <utility>

#include "db/usage_map.h"
#include "tessmark/error.h"

namespace tessmark::jet {
namespace {

// The pages a usage map lists. A map that cannot be read weighs nothing:
// the weights only pace the progress, and the check of the source reports
// the damage.
uint64_t MapPages(PageFile& source, RowPointer map, const Location& where) {
  if (map.null()) return 0;
  try {
    return ReadUsageMap(source, map, where).pages.size();
  } catch (const Error&) {
    return 0;
  }
}

}  // namespace

WriteProgress::WriteProgress(PageFile& source, const std::vector<TableDef>& tables,
                             std::function<void(const CompactProgress&)> report)
    : report_(std::move(report)) {
  if (!report_) return;
  for (const TableDef& def : tables) {
    const Location where = def.where();
    Weight w;
    w.rows = MapPages(source, def.owned_map, where);
    for (const LongValueMapDef& m : def.long_value_maps)
      w.rows += MapPages(source, m.owned_map, where);
    for (const RealIndexDef& ri : def.real_indexes)
      w.indexes.push_back(MapPages(source, ri.usage_map, where));
    total_ += w.rows;
    for (uint64_t p : w.indexes) total_ += p;
    weights_.push_back(std::move(w));
  }
  // About a thousand reports over the whole run.
  step_ = std::max<uint64_t>(1, total_ / 1000);
  Report(0);
}

void WriteProgress::DataPages(uint64_t done, uint64_t pages) {
  if (!report_ || table_ >= weights_.size()) return;
  Within(0, weights_[table_].rows, done, pages);
}

void WriteProgress::Entries(size_t index, uint64_t done, uint64_t entries) {
  if (!report_ || table_ >= weights_.size()) return;
  const Weight& w = weights_[table_];
  if (index >= w.indexes.size()) return;
  uint64_t before = w.rows;
  for (size_t i = 0; i < index; ++i) before += w.indexes[i];
  Within(before, w.indexes[index], done, entries);
}

void WriteProgress::TableDone() {
  if (!report_ || table_ >= weights_.size()) return;
  const Weight& w = weights_[table_];
  finished_ += w.rows;
  for (uint64_t p : w.indexes) finished_ += p;
  ++table_;
  Report(finished_);
}

void WriteProgress::Within(uint64_t before, uint64_t weight, uint64_t done, uint64_t all) {
  const uint64_t part = all == 0 ? weight : weight * std::min(done, all) / all;
  const uint64_t pages = finished_ + before + part;
  if (pages >= shown_ + step_) Report(pages);
}

void WriteProgress::Report(uint64_t pages) {
  shown_ = pages;
  report_(CompactProgress{Phase::kWrite, static_cast<uint32_t>(table_),
                          static_cast<uint32_t>(weights_.size()), pages, total_});
}

}  // namespace tessmark::jet
