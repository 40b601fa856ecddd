// Structural check of a database (see tessmark/check.h), with what the
// engine's own callers see beyond the report: every sound row, the first
// damage, the rules rows and table definitions are held to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/row.h"
#include "db/table_def.h"
#include "format/damage.h"
#include "tessmark/check.h"

namespace tessmark::jet {

class Database;

struct CheckOptions {
  size_t max_findings = 1000;  // further findings are counted, not kept
  // Called with every live row found sound (the row's data, at the target
  // of a moved row) and its decoded fields, in no particular order. Rows of
  // a table with damage may be left out, so use what it gathers only from a
  // check that found the database sound.
  std::function<void(const TableDef& table, Bytes row, const DecodedRow& decoded,
                     const Location& where)>
      on_row;
  // Called once, at the first error found outside the global usage map
  // (damage compaction refuses), while the check goes on.
  std::function<void()> on_data_error;
  // Called now and then with the pages read so far (data, long-value and
  // index pages) and the pages of the file, and once at the end with both
  // equal to the pages of the file.
  std::function<void(uint64_t pages_done, uint64_t pages_total)> progress;
  // Checks a table's indexes two at a time, the second on a thread of its
  // own with a reader of its own, for a caller with a core to spare. The
  // findings are those of one index at a time, but for two kinds: a page an
  // index shares with another owner is reported after that index's other
  // findings, and a wrong free count of a usage-map page may be reported
  // twice.
  bool parallel_indexes = false;
};

// The rules every live row of a sound database satisfies, long values
// aside: it decodes for `table` (see DecodeRow) and every value present has
// the size its type stores. Decodes into `out`; throws 3049 at `where`
// naming what is wrong. Memo and OLE fields are left to the caller, who
// reads their values.
void CheckRowRules(const TableDef& table, const Format& format, Bytes row, const Location& where,
                   DecodedRow& out);
// The same with the table's layout, for loops over its rows.
void CheckRowRules(const RowLayout& layout, Bytes row, const Location& where, DecodedRow& out);

// A rule of table definitions broken, with its place.
struct DefinitionFault {
  Location where;
  std::string what;
};

// The rules a table definition at `where` must follow beyond those its
// reader holds it to (lengths that agree, variable columns the definition
// counts, long-value maps for memo and OLE columns only and for each of
// them, indexes over columns and physical indexes the table has): what the
// check reports, and what makes a definition unfit for a writer to copy.
std::vector<DefinitionFault> DefinitionFaults(const TableDef& table, const Location& where);

// Runs every check on an open database. Damage found is reported in the
// result, never thrown; only I/O failures propagate as Error.
CheckReport CheckDatabase(Database& db, const CheckOptions& options = {});

}  // namespace tessmark::jet
