// Creates a new Jet 3 or Jet 4 database from scratch: header, global map,
// the system tables and catalog of a new database, and user tables with
// their rows, long values and indexes.
//
// Tables are declared first (with the relationships between them); rows
// are then loaded one table at a time and written straight to data pages,
// while each index collects its entries in a bounded sorter. Closing a
// table builds its index trees bottom-up. Finish() writes the catalog, the
// usage maps and table definitions, page 1 and page 0, flushes, and only
// then leaves the file in place; a builder destroyed before that removes it.
//
// Rows can be loaded as the desktop product leaves them after use:
// deleted (written, then deleted: the slot flagged and empty, its bytes and
// long values given back as free space, its index entries gone from leaves
// that keep their place; a page left without rows becomes a free page) or
// moved (the slot holding a pointer to the row's data on a later page),
// stale (left on a page its table no longer lists), and
// a database can be aged with free pages, released and orphaned long values.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/table_layout.h"
#include "db/value.h"
#include "format/env.h"
#include "format/header.h"
#include "tessmark/generate.h"

namespace tessmark::jet {

struct BuildOptions {
  JetVersion version = JetVersion::kJet4;
  std::string password;             // UTF-8; empty = none
  uint32_t database_key = 0;        // non-zero: every page after the header RC4-encoded
  double creation_date = 0;         // days since 1899-12-30 (0: 2020-01-01)
  Env* env = nullptr;               // the default Env when null
  size_t index_memory = 64u << 20;  // sort buffer for all indexes of one table
  // Non-zero: the leaves of an index whose keys were inserted out of key
  // order are left as the splits of those inserts leave them, between half
  // and wholly full (drawn from this seed); zero: leaves are packed densely.
  uint64_t leaf_split_seed = 0;
};

// Foreign key: `table`.`column` refers to the primary key column
// `referenced_table`.`referenced_column`.
struct RelationshipDecl {
  std::string name;
  std::string table, column;
  std::string referenced_table, referenced_column;
};

enum class RowFate {
  kLive,
  kDeleted,  // written and then deleted: slot flagged, bytes released
  kMoved,    // live, but its data moved to another page behind a pointer
  // Gone with its page when the table was emptied or rewritten: the page
  // is out of the table's usage map but keeps its owner, in use in the
  // global map, and the row keeps its bytes and long values; no index
  // names it. Such rows share pages only with each other.
  kStale,
};

// The bookkeeping of a table as the desktop product leaves it when a
// program ends without closing the database: counts and map bits it had
// not brought up to date. Compaction writes the true values.
struct StaleBookkeeping {
  int32_t row_count = 0;        // added to the definition's count of rows
  uint32_t autonumber_lag = 0;  // the AutoNumber counter stays this far below the largest value
  int32_t distinct_keys = 0;    // added to every index's count of distinct keys
  int16_t free_space = 0;       // added to the free-space count of every data page
  // Pages emptied by deletes stay the table's, in its usage map, holding
  // only deleted slots, instead of going back to the file.
  bool emptied_pages_mapped = false;
  // Deletes leave the parent entry of a leaf that lost its last entries
  // as it was: the key of the deleted row, above what the leaf still holds.
  bool deleted_separators = false;
};

class DatabaseBuilder {
 public:
  // Starts the database `path`, which must not exist (3204).
  DatabaseBuilder(const std::string& path, const BuildOptions& options);
  ~DatabaseBuilder();
  DatabaseBuilder(const DatabaseBuilder&) = delete;
  DatabaseBuilder& operator=(const DatabaseBuilder&) = delete;

  // Declarations, before the first row. Bad ones throw 3001 and leave the
  // builder as it was.
  void AddTable(const TableDecl& decl);
  void AddRelationship(const RelationshipDecl& relationship);
  // A table linked through ODBC, which the product keeps as a catalog
  // object of type 4 with the connect string in Connect and the remote
  // table's name in ForeignName, and a definition of the remote table's
  // columns and indexes shaped by `decl`, without rows.
  void AddLinkedOdbcTable(const TableDecl& decl, const std::string& connect,
                          const std::string& foreign_name);

  // Leaves the bookkeeping of user table `table` stale; before its rows
  // are loaded.
  void LeaveStale(const std::string& table, const StaleBookkeeping& stale);

  // Loads rows into `table`; each user table is loaded at most once.
  void BeginTable(const std::string& table);
  // Inserts a row (values in declaration order). A NULL AutoNumber value
  // is handed out by the table; the value used is returned (0 without an
  // AutoNumber column). Deleted rows also consume their AutoNumber.
  int64_t Insert(std::vector<Value> values, RowFate fate = RowFate::kLive);
  // Writes a long value of `column` that no row refers to (as a row update
  // or delete leaves behind).
  void AddOrphanedLongValue(const std::string& column, const Value& value);
  // Writes a long value of `column` of `length` bytes and deletes it again,
  // as rewriting a value elsewhere leaves the old one.
  void AddReleasedLongValue(const std::string& column, size_t length);
  void EndTable();

  // Leaves `count` pages unused (marked free in the global map).
  void AddFreePages(uint32_t count);

  // Size the file would have if the table being loaded were closed now
  // (index pages estimated from the entries collected so far).
  uint64_t EstimatedSize() const;

  // Writes everything else, flushes, and renames the file into place: it
  // is written as PATH.partial and appears under its name only complete.
  BuildStats Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Values for building rows.
Value NullValue();
Value BoolValue(bool v);
Value IntValue(int64_t v);  // Byte, Integer, Long
Value CurrencyValue(int64_t ten_thousandths);
Value SingleValue(float v);
Value DoubleValue(double v);
Value DateValue(double days_since_1899_12_30);
Value TextValue(std::string utf8);              // Text and Memo
Value BinaryValue(std::vector<uint8_t> bytes);  // Binary and OLE
Value GuidValue(const std::array<uint8_t, 16>& stored);
Value NumericValue(std::string decimal);

}  // namespace tessmark::jet
