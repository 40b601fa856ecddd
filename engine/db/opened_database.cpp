// The front ends' view of an open database: the engine's Database behind a
// narrow interface of names, counts and text.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/database.h"
#include "db/value.h"
#include "tessmark/database.h"

namespace tessmark::jet {
namespace {

TableEntry EntryOf(const std::vector<CatalogObject>& objects, const CatalogObject& o) {
  return TableEntry{o.name, o.system(), static_cast<size_t>(&o - objects.data())};
}

}  // namespace

std::unique_ptr<OpenedDatabase> OpenedDatabase::Open(const std::string& path, Env* env) {
  OpenOptions options;
  options.env = env;
  return std::make_unique<OpenedDatabase>(Database::Open(path, options));
}

OpenedDatabase::OpenedDatabase(std::unique_ptr<Database> db) : db_(std::move(db)) {}

OpenedDatabase::~OpenedDatabase() = default;

void OpenedDatabase::RequirePassword(const std::optional<std::string>& password) const {
  db_->RequirePassword(password);
}

DatabaseSummary OpenedDatabase::Summary() const {
  const DatabaseHeader& h = db_->header();
  DatabaseSummary s;
  s.version = h.version;
  s.page_size = h.page_size;
  s.pages = db_->page_count();
  s.sort_order = h.sort_order;
  s.code_page = h.code_page;
  s.has_password = h.has_password;
  s.encrypted = h.encrypted();
  if (!h.jet3()) s.creation_date = FormatDateTime(h.creation_date);
  return s;
}

std::vector<TableEntry> OpenedDatabase::Tables(bool include_system) const {
  std::vector<TableEntry> out;
  for (const CatalogObject* o : db_->Tables(include_system))
    out.push_back(EntryOf(db_->objects(), *o));
  return out;
}

std::optional<TableEntry> OpenedDatabase::FindTable(const std::string& name) const {
  const CatalogObject* o = db_->FindTable(name);
  if (o == nullptr) return std::nullopt;
  return EntryOf(db_->objects(), *o);
}

std::vector<std::string> OpenedDatabase::Columns(const TableEntry& table) {
  std::vector<std::string> out;
  for (const ColumnDef* c : db_->Table(db_->objects().at(table.object)).ColumnsByNumber()) {
    out.push_back(c->name);
  }
  return out;
}

uint64_t OpenedDatabase::CountRows(const TableEntry& table) {
  return db_->ForEachRow(db_->Table(db_->objects().at(table.object)), [](const TableRow&) {});
}

uint64_t OpenedDatabase::ForEachRow(
    const TableEntry& table, const std::function<void(const std::vector<FieldText>&)>& visit) {
  const TableDef& def = db_->Table(db_->objects().at(table.object));
  std::vector<size_t> positions;
  for (const ColumnDef* c : def.ColumnsByNumber()) {
    positions.push_back(static_cast<size_t>(c - def.columns.data()));
  }
  std::vector<FieldText> fields(positions.size());
  return db_->ForEachRow(def, [&](const TableRow& row) {
    const std::vector<Value> values = db_->DecodeValues(def, row);
    for (size_t i = 0; i < positions.size(); ++i) {
      const Value& v = values[positions[i]];
      fields[i].kind = v.kind;
      fields[i].text = FormatValue(v);
    }
    visit(fields);
  });
}

}  // namespace tessmark::jet
