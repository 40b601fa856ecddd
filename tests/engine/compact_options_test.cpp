// Compaction of page-encrypted databases, the AutoNumber options, and the
// renumbering of table Ids wherever the catalog and the navigation pane
// hold them.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "build/database_builder.h"
#include "db/database.h"
#include "db/row.h"
#include "db/system_tables.h"
#include "format/header.h"
#include "format/rc4.h"
#include "tessmark/compact.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;

size_t PageSizeOf(const std::vector<uint8_t>& file) {
  return DetectVersion(file) == JetVersion::kJet3 ? 2048 : 4096;
}

void Crypt(std::vector<uint8_t>& file, uint32_t key) {
  const size_t ps = PageSizeOf(file);
  for (size_t p = 1; p * ps < file.size(); ++p) {
    const uint32_t k = key ^ static_cast<uint32_t>(p);
    const uint8_t kb[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                           static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
    Rc4Apply(kb, std::span<uint8_t>(file.data() + p * ps, ps));
  }
}

// A copy of a sample database with a database key: the key in the header,
// every page after the first RC4-encrypted with its own number.
std::vector<uint8_t> Encrypted(const std::vector<uint8_t>& plain, uint32_t key) {
  std::vector<uint8_t> file = plain;
  const JetVersion v = DetectVersion(file);
  std::span<uint8_t> page0(file.data(), PageSizeOf(file));
  ApplyHeaderMask(v, page0);
  for (size_t i = 0; i < 4; ++i) page0[0x3E + i] = static_cast<uint8_t>(key >> (8 * i));
  ApplyHeaderMask(v, page0);
  Crypt(file, key);
  return file;
}

TEST(CompactEncryptedTest, PagesAreEncryptedAgainWithTheirNewNumbers) {
  TESSMARK_REQUIRE_CORPUS();
  for (const char* sample : {"jet4/overflowTestV2003.mdb", "jet3/testV1997.mdb"}) {
    SCOPED_TRACE(sample);
    ScratchDir dir;
    const uint32_t key = 0x5EC2E7A1;
    const auto plain = ReadAll(CorpusFile(sample));
    WriteAll(dir.File("enc.mdb"), Encrypted(plain, key));
    ASSERT_NO_THROW(CompactDatabase(dir.File("enc.mdb"), dir.File("enc-out.mdb")));
    ASSERT_NO_THROW(
        CompactDatabase(PrivateCopy(dir, CorpusFile(sample)), dir.File("plain-out.mdb")));
    auto enc = ReadAll(dir.File("enc-out.mdb"));
    const auto ref = ReadAll(dir.File("plain-out.mdb"));
    ASSERT_EQ(enc.size(), ref.size());
    const size_t ps = PageSizeOf(ref);
    EXPECT_NE(std::memcmp(enc.data() + ps, ref.data() + ps, ps), 0) << "page 1 not encrypted";
    auto db = Database::Open(dir.File("enc-out.mdb"));
    EXPECT_EQ(db->header().database_key, key);
    Crypt(enc, key);
    EXPECT_TRUE(std::equal(enc.begin() + static_cast<std::ptrdiff_t>(ps), enc.end(),
                           ref.begin() + static_cast<std::ptrdiff_t>(ps)))
        << "decrypted pages differ from the compaction of the plain file";
  }
}

struct AutoNumberTable {
  std::string name;
  uint32_t tdef_page = 0;
  uint32_t counter = 0;
  int64_t highest = 0;
};

// The first user table of `file` with rows and a Long AutoNumber column.
std::optional<AutoNumberTable> FindAutoNumberTable(const std::string& file) {
  auto db = Database::Open(file);
  for (const CatalogObject* t : db->Tables(false)) {
    const TableDef& d = db->Table(*t);
    for (size_t c = 0; c < d.columns.size(); ++c) {
      if (!d.columns[c].autonumber() || d.columns[c].column_type() != ColumnType::kLong) continue;
      AutoNumberTable a{t->name, d.page, d.last_autonumber, 0};
      uint64_t rows = 0;
      db->ForEachRow(d, [&](const TableRow& r) {
        const DecodedRow dr = DecodeRow(d, db->format(), r.bytes, d.where());
        if (dr.fields[c].is_null) return;
        int32_t v;
        std::memcpy(&v, r.bytes.data() + dr.fields[c].offset, 4);
        a.highest = std::max<int64_t>(a.highest, v);
        ++rows;
      });
      if (rows > 0) return a;
    }
  }
  return std::nullopt;
}

TEST(CompactAutoNumberTest, CounterKeptOrResetToTheHighestValue) {
  TESSMARK_REQUIRE_CORPUS();
  std::string sample;
  std::optional<AutoNumberTable> found;
  for (const fs::path& f : testing::CorpusFiles()) {
    found = FindAutoNumberTable(f.string());
    sample = f.string();
    if (found) break;
  }
  ASSERT_TRUE(found.has_value()) << "no AutoNumber table in the samples";
  ScratchDir dir;
  // Pretend rows were deleted from the end: the counter is ahead of the data.
  auto bytes = ReadAll(sample);
  const size_t ps = PageSizeOf(bytes);
  const uint32_t ahead = static_cast<uint32_t>(found->highest) + 50;
  const size_t at = found->tdef_page * ps + Format::For(DetectVersion(bytes)).tdef_autonumber;
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(ahead >> (8 * i));
  WriteAll(dir.File("src.mdb"), bytes);

  for (bool reset : {false, true}) {
    const std::string out = dir.File(reset ? "reset.mdb" : "kept.mdb");
    CompactOptions o;
    o.reset_autonumber = reset;
    ASSERT_NO_THROW(CompactDatabase(dir.File("src.mdb"), out, o));
    auto db = Database::Open(out);
    const TableDef& d = db->Table(*db->FindTable(found->name));
    EXPECT_EQ(d.last_autonumber, reset ? static_cast<uint32_t>(found->highest) : ahead);
  }
}

}  // namespace
}  // namespace tessmark::jet

namespace tessmark::jet {
namespace {

// Values of MSysNavPaneObjectIDs.Id, and the table Ids of the catalog.
void NavPaneIds(const std::string& file, std::vector<uint32_t>& nav, std::set<uint32_t>& tables,
                std::vector<uint64_t>* file_offsets = nullptr) {
  auto db = Database::Open(file);
  for (const CatalogObject* t : db->Tables()) tables.insert(t->table_page());
  const TableDef& d = db->Table(*db->FindTable("MSysNavPaneObjectIDs"));
  size_t id = 0;
  while (d.columns[id].name != "Id") ++id;
  db->ForEachRow(d, [&](const TableRow& r) {
    const DecodedRow dr = DecodeRow(d, db->format(), r.bytes, d.where());
    if (dr.fields[id].is_null) return;
    uint32_t v;
    std::memcpy(&v, r.bytes.data() + dr.fields[id].offset, 4);
    nav.push_back(v);
    if (file_offsets != nullptr) {
      const auto in_page = static_cast<uint64_t>(r.bytes.data() - r.page->page->data.data());
      file_offsets->push_back(uint64_t{r.data.page} * 4096 + in_page + dr.fields[id].offset);
    }
  });
}

TEST(CompactTableIdTest, StaleNavigationIdsNeverNameANewTable) {
  TESSMARK_REQUIRE_CORPUS();
  // delTestV2003 keeps a navigation entry for a dropped table. Make that
  // entry's Id equal a page that becomes a table Id after compaction.
  const std::string sample = CorpusFile("jet4/delTestV2003.mdb");
  std::vector<uint32_t> nav;
  std::set<uint32_t> tables;
  std::vector<uint64_t> at;
  NavPaneIds(sample, nav, tables, &at);
  size_t stale = nav.size();
  for (size_t i = 0; i < nav.size(); ++i) {
    if (nav[i] < 0x01000000 && tables.count(nav[i]) == 0) stale = i;
  }
  ASSERT_LT(stale, nav.size()) << "the sample has no stale navigation entry";
  uint32_t target = 6;
  while (tables.count(target) != 0) ++target;  // not a table in the original
  ScratchDir dir;
  auto bytes = ReadAll(sample);
  for (size_t i = 0; i < 4; ++i) bytes[at[stale] + i] = static_cast<uint8_t>(target >> (8 * i));
  WriteAll(dir.File("src.mdb"), bytes);
  ASSERT_NO_THROW(CompactDatabase(dir.File("src.mdb"), dir.File("out.mdb")));

  std::vector<uint32_t> before, after;
  std::set<uint32_t> tables_before, tables_after;
  NavPaneIds(dir.File("src.mdb"), before, tables_before);
  NavPaneIds(dir.File("out.mdb"), after, tables_after);
  ASSERT_TRUE(tables_after.count(target) != 0) << "the test needs the value to become a table Id";
  auto naming_tables = [](const std::vector<uint32_t>& ids, const std::set<uint32_t>& t) {
    return std::count_if(ids.begin(), ids.end(), [&](uint32_t v) { return t.count(v) != 0; });
  };
  EXPECT_EQ(naming_tables(before, tables_before), naming_tables(after, tables_after));
}

// ---- navigation-pane Ids, in builder-made tables --------------------------------

// The columns by which the navigation pane names an object.
struct NavPaneIdColumn {
  const char* table;
  const char* column;
};
constexpr NavPaneIdColumn kNavPaneIdColumns[] = {
    {"MSysNavPaneObjectIDs", "Id"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
    {"MSysNavPaneGroups", "ObjectID"},
    {"MSysNavPaneGroupCategories", "SelectedObjectID"},
};

// What each row of a navigation-pane table holds in its object-Id column;
// the row's Name says which.
enum class IdCase {
  kLive,
  kStaleBecomingATableId,
  kStaleBeyondTheFile,
  kOtherObject,
  kZero,
  kNull
};
constexpr std::pair<IdCase, const char*> kIdCases[] = {
    {IdCase::kLive, "live"},
    {IdCase::kStaleBecomingATableId, "stale, a table Id after compaction"},
    {IdCase::kStaleBeyondTheFile, "stale, beyond the file"},
    {IdCase::kOtherObject, "the Tables container"},
    {IdCase::kZero, "zero"},
    {IdCase::kNull, "null"},
};
constexpr int32_t kBeyondTheFile = 4000;

// Builds a Jet 4 database whose first table has a definition of several
// pages (so later tables change Id when compacted), a table Orders, and
// the four navigation-pane tables with their columns as the desktop
// product declares them (variable-length Longs besides the names). Each
// navigation-pane table has a row per IdCase; `live` and `stale` are the
// values those cases use.
void BuildWithNavigationPane(const std::string& path, int32_t live, int32_t stale) {
  auto col = [](const std::string& name, ColumnType type, bool variable = true) {
    ColumnDecl c;
    c.name = name;
    c.type = type;
    c.variable_length = variable && type == ColumnType::kLong;
    return c;
  };
  using T = ColumnType;
  BuildOptions options;
  DatabaseBuilder b(path, options);
  TableDecl wide;
  wide.name = "Wide";
  for (int i = 0; i < 200; ++i)
    wide.columns.push_back(col("A long column name to fill pages " + std::to_string(i), T::kByte));
  b.AddTable(wide);
  TableDecl orders;
  orders.name = "Orders";
  orders.columns = {col("OrderId", T::kLong, false), col("Customer", T::kText)};
  b.AddTable(orders);
  // Column lists of the navigation-pane tables, the Name column second.
  const std::vector<std::pair<const char*, std::vector<const char*>>> nav = {
      {"MSysNavPaneObjectIDs", {"Id", "Name", "Type"}},
      {"MSysNavPaneGroupToObjects",
       {"ObjectID", "Name", "Id", "GroupID", "Position", "Icon", "Flags"}},
      {"MSysNavPaneGroups",
       {"ObjectID", "Name", "Id", "GroupCategoryID", "Position", "Object Type Group", "Flags"}},
      {"MSysNavPaneGroupCategories",
       {"SelectedObjectID", "Name", "Id", "Type", "Filter", "Position", "Flags"}},
  };
  for (const auto& [table, columns] : nav) {
    TableDecl t;
    t.name = table;
    for (const char* c : columns) {
      const bool text = std::string(c) == "Name" || std::string(c) == "Filter";
      t.columns.push_back(col(c, text ? T::kText : T::kLong));
    }
    b.AddTable(t);
  }
  b.BeginTable("Orders");
  b.Insert({IntValue(1), TextValue("First")});
  b.EndTable();
  for (const auto& [table, columns] : nav) {
    b.BeginTable(table);
    int n = 0;
    for (const auto& [id_case, name] : kIdCases) {
      Value id = NullValue();
      switch (id_case) {
        case IdCase::kLive:
          id = IntValue(live);
          break;
        case IdCase::kStaleBecomingATableId:
          id = IntValue(stale);
          break;
        case IdCase::kStaleBeyondTheFile:
          id = IntValue(kBeyondTheFile);
          break;
        case IdCase::kOtherObject:
          id = IntValue(kTablesContainerId);
          break;
        case IdCase::kZero:
          id = IntValue(0);
          break;
        case IdCase::kNull:
          break;
      }
      std::vector<Value> row = {id, TextValue(name)};
      while (row.size() < columns.size())
        row.push_back(std::string(columns[row.size()]) == "Filter" ? NullValue() : IntValue(++n));
      b.Insert(row);
    }
    b.EndTable();
  }
  b.Finish();
}

// The object-Id column's value of each row of `table`, by the row's Name.
std::map<std::string, std::optional<int32_t>> IdsByCase(Database& db, const std::string& table,
                                                        const std::string& column) {
  std::map<std::string, std::optional<int32_t>> out;
  const TableDef& def = db.Table(*db.FindTable(table));
  db.ForEachRow(def, [&](const TableRow& row) {
    std::optional<int32_t> id;
    std::string name;
    const std::vector<Value> values = db.DecodeValues(def, row);
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (def.columns[c].name == column && !values[c].is_null())
        id = static_cast<int32_t>(values[c].integer);
      if (def.columns[c].name == "Name") name = values[c].text;
    }
    out[name] = id;
  });
  return out;
}

TEST(CompactTableIdTest, NavigationPaneIdsFollowTheirObjectsAndStaleOnesNameNothing) {
  ScratchDir dir;
  // The Ids follow from the declarations alone: a first build tells them.
  BuildWithNavigationPane(dir.File("probe.mdb"), 0, 0);
  std::set<int32_t> source_tables;
  int32_t orders = 0;
  {
    auto probe = Database::Open(dir.File("probe.mdb"));
    for (const CatalogObject* t : probe->Tables()) source_tables.insert(t->id);
    orders = probe->FindTable("Orders")->id;
  }
  // A page that is no table now but will be one: inside the Ids the
  // copy's tables take, which lie densely from page 2 on.
  int32_t stale = 2;
  while (source_tables.count(stale) != 0) ++stale;
  ASSERT_LT(stale, 2 + static_cast<int32_t>(source_tables.size()))
      << "the first table's definition should span several pages";

  const std::string source = dir.File("nav.mdb");
  BuildWithNavigationPane(source, orders, stale);
  ASSERT_NO_THROW(CompactDatabase(source, dir.File("out.mdb")));
  auto copy = Database::Open(dir.File("out.mdb"));
  std::set<int32_t> copy_objects;
  for (const CatalogObject& o : copy->objects()) copy_objects.insert(o.id);
  ASSERT_TRUE(copy_objects.count(stale) != 0) << "the test needs the value to become a table Id";
  const int32_t orders_now = copy->FindTable("Orders")->id;
  ASSERT_NE(orders_now, orders) << "the test needs Orders to change its Id";

  for (const auto& [table, column] : kNavPaneIdColumns) {
    SCOPED_TRACE(std::string(table) + "." + column);
    const auto ids = IdsByCase(*copy, table, column);
    ASSERT_EQ(ids.size(), std::size(kIdCases));
    for (const auto& [id_case, name] : kIdCases) {
      SCOPED_TRACE(name);
      const std::optional<int32_t> id = ids.at(name);
      switch (id_case) {
        case IdCase::kLive:
          EXPECT_EQ(id, orders_now);
          break;
        case IdCase::kStaleBecomingATableId:
        case IdCase::kStaleBeyondTheFile:
        case IdCase::kZero:
          ASSERT_TRUE(id.has_value());
          EXPECT_EQ(copy_objects.count(*id), 0u) << *id << " names an object";
          if (id_case == IdCase::kZero) {
            EXPECT_EQ(*id, 0);
          }
          break;
        case IdCase::kOtherObject:
          EXPECT_EQ(id, kTablesContainerId);
          break;
        case IdCase::kNull:
          EXPECT_FALSE(id.has_value());
          break;
      }
    }
  }
}

}  // namespace
}  // namespace tessmark::jet
