// The system tables every new database carries, in the shape the desktop
// product gives them: MSysObjects (the catalog, page 2), MSysACEs,
// MSysQueries and MSysRelationships (pages 3 to 5), and the fixed objects
// of a new catalog (containers and the database object).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/table_def.h"
#include "db/table_layout.h"
#include "format/header.h"

namespace tessmark::jet {

// Well-known catalog Ids.
inline constexpr int32_t kRootContainerId = 0x0F000000;
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kDatabaseObjectId = 0x10000000;
inline constexpr int32_t kSystemObjectFlag = static_cast<int32_t>(0x80000000u);
// Objects that are not tables count their Ids upwards from here.
inline constexpr uint32_t kFirstSyntheticId = 0x80000000u;

// MSysObjects, MSysACEs, MSysQueries, MSysRelationships, in that order.
std::vector<TableDecl> SystemTableDecls(JetVersion version);

struct FixedCatalogObject {
  int32_t id;
  int32_t parent_id;
  const char* name;
  int16_t type;
};
// The containers Tables, Databases, Relationships and the database object MSysDb.
const std::vector<FixedCatalogObject>& FixedCatalogObjects();

// Whether `column` of `table` holds table Ids (TDEF page numbers), which
// change when the tables move: the Long columns that the system tables
// use to name catalog objects.
bool HoldsTableIds(const TableDef& table, const ColumnDef& column);

}  // namespace tessmark::jet
