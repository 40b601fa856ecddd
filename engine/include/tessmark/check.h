// Structural check of a database: proves a file sound or names what is
// wrong and where. Errors mean the file is damaged: compacting it would lose
// or misread data. Warnings are states the desktop product itself leaves
// behind and its compaction rewrites (stale counts and map bits, pages in
// use that nothing refers to).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tessmark/location.h"

namespace tessmark::jet {

class OpenedDatabase;

enum class Severity { kWarning, kError };

// What a finding concerns. Damage confined to the global usage map (page 1)
// loses no data: the map only records which pages are free, and a writer
// that rebuilds it from what the catalog reaches (as compaction does)
// repairs it.
enum class FindingArea { kStructure, kGlobalMap };

struct Finding {
  Severity severity = Severity::kError;
  Location where;
  std::string message;
  FindingArea area = FindingArea::kStructure;

  // "error: <message> (<where>)" / "warning: ...".
  std::string Text() const;
};

struct CheckStats {
  uint32_t pages = 0;
  uint32_t free_pages = 0;    // marked free in the global map
  uint32_t leaked_pages = 0;  // marked in use but reachable from nothing
  uint32_t tables = 0;
  uint64_t rows = 0;  // live rows of all tables
  uint64_t long_values = 0;
  uint32_t indexes = 0;  // real indexes
  uint64_t index_entries = 0;
};

struct CheckReport {
  std::vector<Finding> findings;  // the first ones, as many as asked for
  uint64_t errors = 0;
  uint64_t warnings = 0;
  CheckStats stats;

  uint64_t global_map_errors = 0;  // errors with FindingArea::kGlobalMap

  bool sound() const { return errors == 0; }
  // True when every error concerns the global usage map only.
  bool data_intact() const { return errors == global_map_errors; }
};

// Runs every check on an open database, keeping the first `max_findings`
// findings and counting the rest. `progress`, when set, is called now and
// then with the pages read so far and the pages of the file, and once at
// the end with both equal. Damage found is reported in the result, never
// thrown; only I/O failures propagate as Error.
CheckReport CheckDatabase(
    OpenedDatabase& db,
    const std::function<void(uint64_t pages_done, uint64_t pages_total)>& progress = {},
    size_t max_findings = 1000);

}  // namespace tessmark::jet
