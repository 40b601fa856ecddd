#include "db/system_tables.h"

#include <utility>

#include "format/text.h"

namespace tessmark::jet {
namespace {

constexpr uint8_t kSys = 0x10;       // flag bit of system-table columns
constexpr uint8_t kSysOwner = 0x30;  // ... and of owner SIDs

ColumnDecl Col(const char* name, ColumnType type, uint8_t flags = kSys, uint16_t length = 0) {
  ColumnDecl c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.system_flags = flags;
  c.compressed = false;
  return c;
}

IndexDecl Index(const char* name, std::vector<IndexColumnDecl> columns, bool primary, bool unique,
                bool ignore_nulls, bool required) {
  IndexDecl ix;
  ix.name = name;
  ix.columns = std::move(columns);
  ix.primary = primary;
  ix.unique = unique;
  ix.ignore_nulls = ignore_nulls;
  ix.required = required;
  return ix;
}

}  // namespace

std::vector<TableDecl> SystemTableDecls(JetVersion version) {
  using T = ColumnType;
  std::vector<TableDecl> out;

  TableDecl objects;
  objects.name = "MSysObjects";
  objects.system = true;
  objects.columns = {Col("Id", T::kLong),
                     Col("ParentId", T::kLong),
                     Col("Name", T::kText, kSys, 255),
                     Col("Type", T::kInteger),
                     Col("DateCreate", T::kDateTime),
                     Col("DateUpdate", T::kDateTime),
                     Col("Owner", T::kBinary, kSysOwner, 255),
                     Col("Flags", T::kLong),
                     Col("Database", T::kMemo),
                     Col("Connect", T::kMemo),
                     Col("ForeignName", T::kText, kSys, 255),
                     Col("RmtInfoShort", T::kBinary, kSys, 255),
                     Col("RmtInfoLong", T::kOle),
                     Col("Lv", T::kOle),
                     Col("LvProp", T::kOle),
                     Col("LvModule", T::kOle),
                     Col("LvExtra", T::kOle)};
  objects.indexes = {
      Index("ParentIdName", {{"ParentId", true}, {"Name", true}}, false, true, false, false),
      Index("Id", {{"Id", true}}, true, true, false, false)};
  out.push_back(objects);

  TableDecl aces;
  aces.name = "MSysACEs";
  aces.system = true;
  aces.columns = {Col("ObjectId", T::kLong), Col("SID", T::kBinary, kSysOwner, 255),
                  Col("ACM", T::kLong), Col("FInheritable", T::kBoolean)};
  aces.indexes = {Index("ObjectId", {{"ObjectId", true}}, false, false, false, true)};
  out.push_back(aces);

  TableDecl queries;
  queries.name = "MSysQueries";
  queries.system = true;
  queries.columns = {Col("ObjectId", T::kLong),
                     Col("Attribute", T::kByte),
                     Col("Order", T::kBinary, kSys, 255),
                     Col("Name1", T::kText, kSys, 255),
                     Col("Name2", T::kText, kSys, 255),
                     Col("Expression", T::kMemo),
                     Col("Flag", T::kInteger)};
  if (version == JetVersion::kJet4) queries.columns.push_back(Col("LvExtra", T::kLong));
  queries.indexes = {Index("ObjectIdAttribute",
                           {{"ObjectId", true}, {"Attribute", true}, {"Order", true}}, true, true,
                           false, false)};
  out.push_back(queries);

  TableDecl rel;
  rel.name = "MSysRelationships";
  rel.system = true;
  rel.columns = {Col("szRelationship", T::kText, kSys, 255),
                 Col("grbit", T::kLong),
                 Col("ccolumn", T::kLong),
                 Col("icolumn", T::kLong),
                 Col("szObject", T::kText, kSys, 255),
                 Col("szColumn", T::kText, kSys, 255),
                 Col("szReferencedObject", T::kText, kSys, 255),
                 Col("szReferencedColumn", T::kText, kSys, 255)};
  rel.indexes = {
      Index("szRelationship", {{"szRelationship", true}}, false, false, true, false),
      Index("szObject", {{"szObject", true}}, false, false, true, false),
      Index("szReferencedObject", {{"szReferencedObject", true}}, false, false, true, false)};
  out.push_back(rel);
  return out;
}

const std::vector<FixedCatalogObject>& FixedCatalogObjects() {
  static const std::vector<FixedCatalogObject> objects = {
      {kTablesContainerId, kRootContainerId, "Tables", 3},
      {kDatabasesContainerId, kRootContainerId, "Databases", 3},
      {kRelationshipsContainerId, kRootContainerId, "Relationships", 3},
      {kDatabaseObjectId, kDatabasesContainerId, "MSysDb", 2},
  };
  return objects;
}

bool HoldsTableIds(const TableDef& table, const ColumnDef& column) {
  // The catalog, the permissions, and every column by which the navigation
  // pane names an object (its groups name their table in ObjectID, its
  // categories the object selected last).
  static constexpr std::pair<const char*, const char*> kIdColumns[] = {
      {"MSysObjects", "Id"},
      {"MSysACEs", "ObjectId"},
      {"MSysNavPaneObjectIDs", "Id"},
      {"MSysNavPaneGroupToObjects", "ObjectID"},
      {"MSysNavPaneGroups", "ObjectID"},
      {"MSysNavPaneGroupCategories", "SelectedObjectID"},
  };
  if (column.column_type() != ColumnType::kLong) return false;
  // The catalog is known by its page: a garbled catalog row may have
  // renamed it.
  const std::string name = table.page == kCatalogPage ? "MSysObjects" : table.name;
  for (const auto& [t, c] : kIdColumns) {
    if (SameNameIgnoringCase(name, t) && SameNameIgnoringCase(column.name, c)) return true;
  }
  return false;
}

}  // namespace tessmark::jet
