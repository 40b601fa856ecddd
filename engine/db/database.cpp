#include "db/database.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "format/text.h"

namespace tessmark::jet {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

bool CatalogObject::system() const {
  return name.rfind("MSys", 0) == 0 || (static_cast<uint32_t>(flags) & 0x80000002u) != 0;
}

std::unique_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options) {
  auto db = std::make_unique<Database>(
      PageFile::Open(path, options.env, options.lock, options.cache_bytes), options.catalog_rows);
  if (options.password) db->RequirePassword(options.password);
  return db;
}

Database::Database(std::unique_ptr<PageFile> file, const CatalogRowSource& catalog_rows)
    : file_(std::move(file)), long_values_(*file_) {
  LoadCatalog(catalog_rows);
}

std::string Database::StoredPassword() const {
  const std::vector<uint8_t>& d = header().decoded_page;
  std::string out;
  if (header().jet3()) {
    Bytes raw(d.data() + 0x42, 20);
    size_t n = 0;
    while (n < raw.size() && raw[n] != 0) ++n;
    return SingleByteToUtf8(raw.first(n), header().code_page);
  }
  if (!header().has_password) return out;
  const double day = std::floor(header().creation_date);
  uint32_t mask = 0;
  if (day >= -2147483648.0 && day < 2147483648.0) {
    mask = static_cast<uint32_t>(static_cast<int32_t>(day));
  }
  std::vector<uint8_t> raw(40);
  for (uint32_t i = 0; i < 40; ++i) {
    raw[i] = static_cast<uint8_t>(d[0x42 + i] ^ static_cast<uint8_t>(mask >> (8 * (i % 4))));
  }
  size_t n = 0;
  while (n + 1 < raw.size() && (raw[n] != 0 || raw[n + 1] != 0)) n += 2;
  return Utf16LeToUtf8(Bytes(raw.data(), n));
}

void Database::RequirePassword(const std::optional<std::string>& password) const {
  if (!header().has_password) return;
  if (!password || *password != StoredPassword()) {
    throw Error(kPasswordRequired,
                password ? "The password is not the database's password."
                         : "The database is protected by a password; give the password to "
                           "read its data.");
  }
}

void Database::LoadCatalog(const CatalogRowSource& rows) {
  catalog_ = ReadTableDef(*file_, kCatalogPage, "MSysObjects");
  const ColumnDef* id = catalog_.FindColumn("Id");
  const ColumnDef* parent = catalog_.FindColumn("ParentId");
  const ColumnDef* name = catalog_.FindColumn("Name");
  const ColumnDef* type = catalog_.FindColumn("Type");
  const ColumnDef* flags = catalog_.FindColumn("Flags");
  if (!id || !parent || !name || !type || !flags) {
    ThrowDamaged(catalog_.where(),
                 "the catalog lacks one of its columns Id, ParentId, Name, "
                 "Type and Flags");
  }
  auto pos = [&](const ColumnDef* c) { return static_cast<size_t>(c - catalog_.columns.data()); };
  const std::function<void(const TableRow&)> load = [&](const TableRow& row) {
    const Location at = catalog_.where().WithRow(row.header.page, row.header.row);
    DecodedRow d = DecodeRow(catalog_, format(), row.bytes, at);
    auto value = [&](const ColumnDef* c) {
      return DecodeValue(*c, format(), d.fields[pos(c)], row.bytes, long_values_, at);
    };
    CatalogObject o;
    o.id = static_cast<int32_t>(value(id).integer);
    o.parent_id = static_cast<int32_t>(value(parent).integer);
    o.name = value(name).text;
    o.type = static_cast<int16_t>(value(type).integer);
    o.flags = static_cast<int32_t>(value(flags).integer);
    o.row = row.header;
    objects_.push_back(std::move(o));
  };
  if (rows) {
    rows(*file_, catalog_, load);
  } else {
    ForEachTableRow(*file_, catalog_, load);
  }
}

std::vector<const CatalogObject*> Database::Tables(bool include_system) const {
  std::vector<const CatalogObject*> out;
  for (const CatalogObject& o : objects_) {
    if (o.table() && (include_system || !o.system())) out.push_back(&o);
  }
  return out;
}

std::vector<const CatalogObject*> Database::Definitions() {
  std::vector<const CatalogObject*> out;
  std::set<uint32_t> pages;
  for (const CatalogObject& o : objects_) {
    if (o.table()) {
      out.push_back(&o);
      pages.insert(o.table_page());
    }
  }
  for (const CatalogObject& o : objects_) {
    if (o.table() || o.id < 0 || (static_cast<uint32_t>(o.id) >> 24) != 0) continue;
    const uint32_t page = o.table_page();
    if (page >= page_count() || pages.count(page) != 0) continue;
    if (file_->Get(page)->type() != kPageTableDef) continue;
    pages.insert(page);
    out.push_back(&o);
  }
  return out;
}

const CatalogObject* Database::FindTable(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const CatalogObject& o : objects_) {
    if (o.table() && Lower(o.name) == wanted) return &o;
  }
  return nullptr;
}

const TableDef& Database::Table(const CatalogObject& object) {
  const uint32_t page = object.table_page();
  auto it = tables_.find(page);
  if (it != tables_.end()) return it->second;
  if (page == kCatalogPage) return catalog_;
  return tables_.emplace(page, ReadTableDef(*file_, page, object.name)).first->second;
}

std::vector<Value> Database::DecodeValues(const TableDef& table, const TableRow& row) {
  const Location at = table.where().WithRow(row.header.page, row.header.row);
  DecodedRow d = DecodeRow(table, format(), row.bytes, at);
  std::vector<Value> out;
  out.reserve(table.columns.size());
  for (size_t i = 0; i < table.columns.size(); ++i) {
    out.push_back(
        DecodeValue(table.columns[i], format(), d.fields[i], row.bytes, long_values_, at));
  }
  return out;
}

}  // namespace tessmark::jet
