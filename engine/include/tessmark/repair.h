// Repair: salvages what can be read of a damaged database into a new file,
// and accounts for everything that could not be.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tessmark/location.h"

namespace tessmark::jet {

class Env;

// Something a repair could not carry over, and where it was.
struct RepairLoss {
  enum class Kind {
    kTable,         // the table's definition cannot be read: all its rows
    kPage,          // a page of the table that is not a readable data page
    kRow,           // a live slot whose row does not decode or breaks a rule
    kLongValue,     // a memo/OLE value that cannot be read in full (now NULL)
    kDuplicateKey,  // a row repeating the key of an earlier one in a unique index
  };
  Kind kind = Kind::kRow;
  Location where;
  std::string what;
};

// "table", "page", "row", "long value", "duplicate key".
const char* LossKindName(RepairLoss::Kind kind);

struct RepairedTable {
  std::string name;
  bool definition_lost = false;   // the table could not be read at all
  bool catalog_row_lost = false;  // its catalog row is lost, and the table with it
  // Rows written: unchanged, changed and found outside the table's pages.
  uint64_t rows_recovered = 0;
  uint64_t rows_unchanged = 0;
  uint64_t rows_changed = 0;  // a memo/OLE value made NULL (listed as long-value losses)
  uint64_t rows_found_outside = 0;
  uint64_t rows_lost = 0;  // slots that did not decode or broke a rule, duplicate keys
  uint64_t long_values_lost = 0;
  uint32_t indexes_rebuilt = 0;
};

struct RepairReport {
  std::vector<RepairedTable> tables;  // catalog order, linked tables' definitions last
  // Every loss, each with its place; losses not tied to a table (pages
  // whose owner cannot be read) name no table.
  std::vector<RepairLoss> losses;
  // Every row written that was found on a page its table's usage map does
  // not list (it may be a row the product had deleted).
  std::vector<Location> found_outside;
  // The tables' figures summed.
  uint64_t rows_recovered = 0;
  uint64_t rows_unchanged = 0;
  uint64_t rows_changed = 0;
  uint64_t rows_found_outside = 0;
  uint64_t rows_lost = 0;
  uint32_t pages_before = 0;
  uint32_t pages_after = 0;

  bool nothing_lost() const { return losses.empty(); }
  // Every row came back as it was, from its table's own pages.
  bool all_unchanged() const { return losses.empty() && found_outside.empty(); }
};

struct RepairOptions {
  Env* env = nullptr;  // the default Env when null
  // The database password: one protected by a password is repaired only
  // when this matches it, and the new database keeps it.
  std::optional<std::string> password;
};

// Writes what can be read of the database at `source` into a new database
// at `destination` (same version, sort order, code page and encryption):
// every table whose definition reads, with every row that decodes and
// keeps the row rules on the pages its usage map lists (see SalvageRows for
// when other pages are searched); readable long values (others
// become NULL); indexes built from those rows, a unique index's later
// duplicates left out; the system tables with their Ids renumbered as
// compaction does; relationships between surviving tables. The copy is
// written under a temporary name beside `destination`, checked (no
// finding at all), flushed and then renamed. SOURCE is never written.
// Lost tables, catalog rows and relationships are all in the report; a
// table whose catalog row is lost (its key cannot be made, or repeats an
// earlier row's) is lost with it; a foreign key whose other table is lost
// becomes a plain index.
// Throws Error, leaving no file behind: 3204 for an existing destination,
// 3031 for a password not given or not matched, 3343 for a file of another format, 3049 when not
// even the catalog can be read (nothing is recoverable), the Env's errors,
// and 30000 when the copy fails its check (a fault of ours, never of the
// source).
RepairReport RepairDatabase(const std::string& source, const std::string& destination,
                            const RepairOptions& options = {});

}  // namespace tessmark::jet
