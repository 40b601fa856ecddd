// Reading a database from outside the engine: its header's settings, its
// tables and their rows as text. An OpenedDatabase holds the engine's own
// open database; a check of it is CheckDatabase (tessmark/check.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tessmark/jet_types.h"

namespace tessmark::jet {

class Database;
class Env;

// The settings the header of a database holds.
struct DatabaseSummary {
  JetVersion version = JetVersion::kJet4;
  uint32_t page_size = 0;
  uint32_t pages = 0;
  uint16_t sort_order = 0;  // collation LCID (1033 = General)
  uint16_t code_page = 0;
  bool has_password = false;
  bool encrypted = false;     // its pages are RC4-encoded
  std::string creation_date;  // Jet 4 only, as text; empty for Jet 3
};

// A table of the catalog.
struct TableEntry {
  std::string name;
  bool system = false;  // an MSys* table or one flagged as a system object
  size_t object = 0;    // its place among the catalog's objects
};

// One field of a row: its kind and its canonical text (empty when null).
struct FieldText {
  ValueKind kind = ValueKind::kNull;
  std::string text;

  bool is_null() const { return kind == ValueKind::kNull; }
};

class OpenedDatabase {
 public:
  // Opens the database at `path` for reading, shared with other readers,
  // through `env` (the default Env when null). Throws the Env's errors,
  // 3343 for a file of another format, 3049 for a damaged catalog.
  static std::unique_ptr<OpenedDatabase> Open(const std::string& path, Env* env = nullptr);
  explicit OpenedDatabase(std::unique_ptr<Database> db);
  ~OpenedDatabase();
  OpenedDatabase(const OpenedDatabase&) = delete;
  OpenedDatabase& operator=(const OpenedDatabase&) = delete;

  // Throws 3031 unless the database has no password or `password` matches.
  void RequirePassword(const std::optional<std::string>& password) const;
  DatabaseSummary Summary() const;

  // The tables, in catalog order.
  std::vector<TableEntry> Tables(bool include_system = true) const;
  // Case-insensitive (ASCII) lookup of a table by name.
  std::optional<TableEntry> FindTable(const std::string& name) const;
  // The names of a table's columns, in the order of their numbers.
  std::vector<std::string> Columns(const TableEntry& table);
  // Counts the live rows of a table.
  uint64_t CountRows(const TableEntry& table);
  // Visits every live row of a table with its fields in Columns order, and
  // returns how many it visited. A damaged table throws 3049.
  uint64_t ForEachRow(const TableEntry& table,
                      const std::function<void(const std::vector<FieldText>&)>& visit);

  // The engine's own open database, for the engine's functions.
  Database& database() { return *db_; }

 private:
  std::unique_ptr<Database> db_;
};

}  // namespace tessmark::jet
