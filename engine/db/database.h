// An open database: header, pages, the catalog (MSysObjects) and access to
// every table's definition and rows. Read-only; what the checker, the dump
// and the compactor build on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/long_value.h"
#include "db/table_def.h"
#include "db/table_rows.h"
#include "db/value.h"
#include "format/env.h"
#include "format/format.h"
#include "format/page_file.h"

namespace tessmark::jet {

// Catalog object types (MSysObjects.Type).
enum ObjectType : int16_t {
  kObjectTable = 1,
  kObjectDatabase = 2,
  kObjectContainer = 3,
  kObjectLinkedOdbc = 4,
  kObjectQuery = 5,
  kObjectLinkedTable = 6,
  kObjectRelationship = 8,
};

struct CatalogObject {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  int32_t flags = 0;
  RowPointer row;  // the catalog row (header slot)

  bool table() const { return type == kObjectTable; }
  // The table's first TDEF page (tables only).
  uint32_t table_page() const { return static_cast<uint32_t>(id) & 0x00FFFFFFu; }
  // MSys* tables and objects flagged as system objects.
  bool system() const;
};

// Hands over the rows of the catalog table (a repair's salvaged rows).
using CatalogRowSource = std::function<void(PageFile&, const TableDef& catalog,
                                            const std::function<void(const TableRow&)>&)>;

struct OpenOptions {
  Env* env = nullptr;  // the default Env when null
  LockMode lock = LockMode::kShared;
  size_t cache_bytes = kDefaultPageCacheBytes;
  // When set, the database password must match it (3031 otherwise). When
  // unset, a password-protected database is opened without the check; use
  // RequirePassword() before showing its data.
  std::optional<std::string> password;
  // The catalog's rows come from here when set, instead of from the pages
  // its usage map lists.
  CatalogRowSource catalog_rows;
};

class Database {
 public:
  // Opens the database at `path`: header, then the catalog. Throws the Env's
  // errors, 3343 for a file of another format, 3049 for a damaged catalog.
  static std::unique_ptr<Database> Open(const std::string& path, const OpenOptions& options = {});
  explicit Database(std::unique_ptr<PageFile> file, const CatalogRowSource& catalog_rows = {});

  PageFile& file() { return *file_; }
  const DatabaseHeader& header() const { return file_->header(); }
  const Format& format() const { return Format::For(file_->version()); }
  uint32_t page_count() const { return file_->page_count(); }

  // The password stored in the header (UTF-8), empty when there is none.
  std::string StoredPassword() const;
  // Throws 3031 unless the database has no password or `password` matches.
  void RequirePassword(const std::optional<std::string>& password) const;

  const TableDef& catalog_table() const { return catalog_; }
  const std::vector<CatalogObject>& objects() const { return objects_; }
  // Type-1 objects, in catalog order.
  std::vector<const CatalogObject*> Tables(bool include_system = true) const;
  // The objects whose definition lies in the file: every table, in catalog
  // order, then each object of another type whose Id is the page of a table
  // definition no object before it names (a table linked through ODBC
  // keeps the remote table's columns and indexes there).
  std::vector<const CatalogObject*> Definitions();
  // Case-insensitive (ASCII) lookup of a table by name; null when absent.
  const CatalogObject* FindTable(const std::string& name) const;
  // The definition of a table object (read once, then kept).
  const TableDef& Table(const CatalogObject& object);

  LongValueReader& long_values() { return long_values_; }

  // Live rows of `table` (see ForEachTableRow).
  uint64_t ForEachRow(const TableDef& table, const std::function<void(const TableRow&)>& visit) {
    return ForEachTableRow(*file_, table, visit);
  }
  // Decodes every column of a row, in TableDef::columns order.
  std::vector<Value> DecodeValues(const TableDef& table, const TableRow& row);

 private:
  void LoadCatalog(const CatalogRowSource& rows);

  std::unique_ptr<PageFile> file_;
  LongValueReader long_values_;
  TableDef catalog_;
  std::vector<CatalogObject> objects_;
  std::map<uint32_t, TableDef> tables_;
};

}  // namespace tessmark::jet
