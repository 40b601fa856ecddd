// The independent Jet readers the tests compare with: mdb-export (mdbtools)
// and mdb-reader (node, tools/readers/dump-table.js). Both produce CSV whose
// header names the columns; values are compared after normalisation.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessmark::testing {

using CsvRow = std::vector<std::string>;
struct CsvTable {
  std::vector<std::string> columns;
  std::vector<CsvRow> rows;              // NULL fields are std::string() with null flag below
  std::vector<std::vector<bool>> nulls;  // parallel to rows: field was empty and unquoted
};

// Parses RFC 4180-style CSV ("" escapes a quote inside a quoted field).
CsvTable ParseCsv(const std::string& text);

struct ReaderRun {
  bool available = false;  // the reader is installed
  std::string missing;     // why not, when unavailable
  int exit_code = 0;
  std::string output;  // stdout
  std::string errors;  // stderr
};

// mdb-export -b hex with ISO date-times.
ReaderRun RunMdbExport(const std::string& file, const std::string& table);
// node tools/readers/dump-table.js (TZ=UTC).
ReaderRun RunMdbReader(const std::string& file, const std::string& table);
// mdb-tables -1 -S: every table, system tables included.
std::optional<std::vector<std::string>> ListTablesWithMdbTools(const std::string& file);

}  // namespace tessmark::testing
