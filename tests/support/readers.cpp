#include "tests/support/readers.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace tessmark::testing {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

bool OnPath(const std::string& program) {
  const std::string cmd = "command -v " + program + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

ReaderRun Run(const std::string& command) {
  ReaderRun run;
  run.available = true;
  std::random_device rd;
  const std::filesystem::path err =
      std::filesystem::temp_directory_path() / ("tessmark-reader-" + std::to_string(rd()));
  const std::string full = command + " 2>" + Quote(err.string());
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr) {
    run.available = false;
    run.missing = "cannot start: " + command;
    return run;
  }
  std::array<char, 65536> buf{};
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) run.output.append(buf.data(), n);
  const int status = ::pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  std::ifstream in(err);
  run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::error_code ec;
  std::filesystem::remove(err, ec);
  return run;
}

}  // namespace

CsvTable ParseCsv(const std::string& text) {
  CsvTable table;
  std::vector<CsvRow> records;
  std::vector<std::vector<bool>> nulls;
  CsvRow row;
  std::vector<bool> row_nulls;
  std::string field;
  bool quoted = false, in_quotes = false, any = false;
  auto end_field = [&] {
    row.push_back(field);
    row_nulls.push_back(!quoted && field.empty());
    field.clear();
    quoted = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    any = true;
    if (in_quotes) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          in_quotes = false;
        }
      } else {
        field += c;
      }
    } else if (c == '"') {
      in_quotes = true;
      quoted = true;
    } else if (c == ',') {
      end_field();
    } else if (c == '\n') {
      end_field();
      records.push_back(std::move(row));
      nulls.push_back(std::move(row_nulls));
      row.clear();
      row_nulls.clear();
      any = false;
    } else if (c != '\r') {
      field += c;
    }
  }
  if (any) {
    end_field();
    records.push_back(std::move(row));
    nulls.push_back(std::move(row_nulls));
  }
  if (records.empty()) return table;
  table.columns = records.front();
  table.rows.assign(records.begin() + 1, records.end());
  table.nulls.assign(nulls.begin() + 1, nulls.end());
  return table;
}

ReaderRun RunMdbExport(const std::string& file, const std::string& table) {
  if (!OnPath("mdb-export")) {
    ReaderRun r;
    r.missing = "mdb-export (mdbtools) is not installed";
    return r;
  }
  return Run("mdb-export -b hex -T '%Y-%m-%d %H:%M:%S' " + Quote(file) + " " + Quote(table));
}

ReaderRun RunMdbReader(const std::string& file, const std::string& table) {
  const std::filesystem::path dir(TESSMARK_READERS_DIR);
  ReaderRun r;
  if (!OnPath("node")) {
    r.missing = "node is not installed";
    return r;
  }
  if (!std::filesystem::exists(dir / "node_modules" / "mdb-reader")) {
    r.missing = "mdb-reader is not installed (run 'npm ci' in tools/readers)";
    return r;
  }
  return Run("TZ=UTC node " + Quote((dir / "dump-table.js").string()) + " " + Quote(file) + " " +
             Quote(table));
}

std::optional<std::vector<std::string>> ListTablesWithMdbTools(const std::string& file) {
  if (!OnPath("mdb-tables")) return std::nullopt;
  ReaderRun r = Run("mdb-tables -1 -S " + Quote(file));
  if (r.exit_code != 0) return std::nullopt;
  std::vector<std::string> out;
  std::string line;
  for (char c : r.output) {
    if (c == '\n') {
      if (!line.empty()) out.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) out.push_back(line);
  return out;
}

}  // namespace tessmark::testing
