// The database builder, read back: every type, NULLs, the three long-value
// forms, deep indexes, deleted and moved rows, for Jet 3 and Jet 4; checked
// by our checker and compared with what was inserted through our reader
// and through both independent readers.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/checker.h"
#include "engine/database.h"
#include "engine/database_builder.h"
#include "engine/error.h"
#include "engine/index_page.h"
#include "engine/long_value.h"
#include "engine/row.h"
#include "tests/engine/builder_test_support.h"
#include "tests/support/corpus.h"
#include "tests/support/readers.h"

namespace tessmark::jet {
namespace {

using builder_test::AllTypesRow;
using builder_test::AllTypesTable;

constexpr int kRows = 1400;

class BuilderRoundTrip : public ::testing::TestWithParam<JetVersion> {
 protected:
  bool jet3() const { return GetParam() == JetVersion::kJet3; }
  BuildOptions Options() const {
    BuildOptions o;
    o.version = GetParam();
    return o;
  }

  // Builds AllTypes (every 6th row deleted, every 10th moved) and a small
  // Child table related to it. Returns the live rows by ID.
  std::map<int64_t, std::vector<Value>> Build(const std::string& path, BuildOptions options,
                                              BuildStats* stats = nullptr) {
    options.version = GetParam();
    DatabaseBuilder b(path, options);
    b.AddTable(AllTypesTable());
    TableSpec child;
    child.name = "Child";
    ColumnSpec id = builder_test::Col("ChildId", ColumnType::kLong);
    id.autonumber = true;
    ColumnSpec parent = builder_test::Col("ParentId", ColumnType::kLong);
    parent.required = true;
    child.columns = {id, parent, builder_test::Col("Name", ColumnType::kText, 30)};
    IndexSpec pk;
    pk.name = "PrimaryKey";
    pk.primary = true;
    pk.columns = {{"ChildId", true}};
    child.indexes = {pk};
    b.AddTable(child);
    b.AddRelationship({"AllTypesChild", "Child", "ParentId", "AllTypes", "ID"});

    std::map<int64_t, std::vector<Value>> live;
    b.BeginTable("AllTypes");
    for (int i = 0; i < kRows; ++i) {
      std::vector<Value> row = AllTypesRow(i, jet3());
      const RowFate fate =
          i % 6 == 5 ? RowFate::kDeleted : (i % 10 == 3 ? RowFate::kMoved : RowFate::kLive);
      const int64_t id_value = b.Insert(row, fate);
      EXPECT_EQ(id_value, i + 1);
      row[0] = IntValue(id_value);
      if (fate != RowFate::kDeleted) live[id_value] = row;
      if (i % 50 == 7) b.AddOrphanedLongValue("Notes", TextValue(std::string(3000, 'o')));
    }
    b.EndTable();
    b.BeginTable("Child");
    for (int i = 0; i < 30; ++i)
      b.Insert({NullValue(), IntValue(1 + i % 5), TextValue("Child " + std::to_string(i))});
    b.EndTable();
    b.AddFreePages(3);
    const BuildStats s = b.Finish();
    if (stats != nullptr) *stats = s;
    return live;
  }

  testing::TempDir dir_;
};

TEST_P(BuilderRoundTrip, ChecksCleanAndReadsBackWhatWasInserted) {
  const std::string path = (dir_.path() / "all.mdb").string();
  BuildStats stats;
  const auto live = Build(path, {}, &stats);
  EXPECT_GT(stats.moved_rows, 80u);
  EXPECT_GT(stats.deleted_rows, 200u);
  EXPECT_EQ(stats.free_pages, 3u);
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));

  auto db = Database::Open(path);
  EXPECT_EQ(db->header().version, GetParam());
  EXPECT_EQ(db->header().sort_order, 1033);
  EXPECT_EQ(db->header().code_page, 1252);
  EXPECT_FALSE(db->header().has_password);
  const CheckReport report = CheckDatabase(*db);
  builder_test::ExpectCleanApartFromOrphans(report);
  EXPECT_EQ(report.stats.free_pages, 3u);

  const auto rows = builder_test::ReadRows(*db, "AllTypes");
  ASSERT_EQ(rows.size(), live.size());
  for (const auto& [id, values] : live) {
    const auto it = rows.find(id);
    ASSERT_NE(it, rows.end()) << "row " << id << " is missing";
    for (size_t c = 0; c < values.size(); ++c)
      EXPECT_EQ(FormatValue(it->second[c]), FormatValue(values[c]))
          << "row " << id << " column " << c;
  }
  const TableDef& def = db->Table(*db->FindTable("AllTypes"));
  EXPECT_EQ(def.row_count, live.size());
  EXPECT_EQ(def.last_autonumber, static_cast<uint32_t>(kRows));

  // The catalog knows both tables, the relationship and its indexes.
  const CatalogObject* child = db->FindTable("Child");
  ASSERT_NE(child, nullptr);
  const TableDef& child_def = db->Table(*child);
  bool fk = false;
  for (const LogicalIndexDef& li : child_def.logical_indexes)
    if (li.foreign_key()) fk = li.fk_table_page == def.page && li.fk_role == 2;
  EXPECT_TRUE(fk);
  bool relationship = false;
  for (const CatalogObject& o : db->objects())
    relationship = relationship || (o.type == kObjectRelationship && o.name == "AllTypesChild");
  EXPECT_TRUE(relationship);
}

TEST_P(BuilderRoundTrip, LongTextKeysGiveAnIndexThreeLevelsDeep) {
  const std::string path = (dir_.path() / "deep.mdb").string();
  Build(path, {});
  auto db = Database::Open(path);
  const TableDef& def = db->Table(*db->FindTable("AllTypes"));
  uint32_t depth = 0;
  uint64_t entries = 0;
  for (const LogicalIndexDef& li : def.logical_indexes) {
    if (li.name != "Label") continue;
    WalkIndex(db->file(), def.real_indexes.at(li.real_index), def.where(),
              {[&](const IndexPage&, uint32_t d) { depth = std::max(depth, d); },
               [&](const IndexEntry&) { ++entries; }});
  }
  EXPECT_GE(depth, 2u) << "the Label index should have a root, intermediate pages and leaves";
  EXPECT_EQ(entries, def.row_count);
}

TEST_P(BuilderRoundTrip, IndependentReadersSeeTheInsertedValues) {
  const std::string path = (dir_.path() / "readers.mdb").string();
  const auto live = Build(path, {});
  // mdb-export shows Jet 3 decimals without their scale; that column is
  // left to mdb-reader there.
  std::vector<size_t> skip_export;
  if (jet3()) skip_export = {13};
  const bool ran_export = builder_test::ExpectReaderAgrees(testing::RunMdbExport(path, "AllTypes"),
                                                           live, skip_export, true);
  const bool ran_reader =
      builder_test::ExpectReaderAgrees(testing::RunMdbReader(path, "AllTypes"), live, {}, false);
  if (!ran_export && !ran_reader) GTEST_SKIP() << "neither mdb-export nor mdb-reader is available";
}

TEST_P(BuilderRoundTrip, PasswordAndEncryptedPagesAreHonouredByEveryReader) {
  const std::string path = (dir_.path() / "locked.mdb").string();
  BuildOptions options;
  options.password = "Secret7";
  options.database_key = 0x5A17C0DE;
  const auto live = Build(path, options);

  auto db = Database::Open(path);
  EXPECT_TRUE(db->header().has_password);
  EXPECT_EQ(db->header().database_key, 0x5A17C0DEu);
  EXPECT_EQ(db->StoredPassword(), "Secret7");
  try {
    db->RequirePassword(std::nullopt);
    ADD_FAILURE() << "a password-protected database opened without its password";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kPasswordRequired);
  }
  OpenOptions with;
  with.password = "Secret7";
  auto opened = Database::Open(path, with);
  EXPECT_TRUE(CheckDatabase(*opened).sound());
  EXPECT_EQ(builder_test::ReadRows(*opened, "AllTypes").size(), live.size());

  // Page 2 on disk is not the plain TDEF: the pages really are encoded.
  const std::vector<uint8_t> raw = testing::ReadWholeFile(path);
  const size_t ps = jet3() ? 2048 : 4096;
  EXPECT_NE(raw.at(2 * ps), 0x02);

  std::vector<size_t> skip_export;
  if (jet3()) skip_export = {13};
  builder_test::ExpectReaderAgrees(testing::RunMdbExport(path, "AllTypes"), live, skip_export,
                                   true);
  // mdb-reader decodes the pages too (it does not ask for Jet 4 passwords).
  builder_test::ExpectReaderAgrees(testing::RunMdbReader(path, "AllTypes"), live, {}, false);
}

TEST_P(BuilderRoundTrip, BadInputIsRefusedAndLeavesNoFile) {
  const std::string path = (dir_.path() / "refused.mdb").string();
  {
    DatabaseBuilder b(path, Options());
    TableSpec t;
    t.name = "Keys";
    t.columns = {builder_test::Col("Code", ColumnType::kText, 20)};
    IndexSpec ix;
    ix.name = "Code";
    ix.columns = {{"Code", true}};
    t.indexes = {ix};
    b.AddTable(t);
    b.BeginTable("Keys");
    b.Insert({TextValue("Plain 42")});
    // A character whose collation code is not established is refused,
    // not guessed.
    try {
      b.Insert({TextValue("naïve\u2603")});
      ADD_FAILURE() << "an index key of unknown characters was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kInvalidArgument);
      EXPECT_NE(e.description().find("index codes"), std::string::npos) << e.description();
    }
    try {
      b.Insert({TextValue(std::string(21, 'a'))});
      ADD_FAILURE() << "a text longer than its column was accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kInvalidArgument);
    }
    // Destroyed before Finish: nothing is left behind.
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));

  // An existing file is never overwritten.
  const auto existing = dir_.Write("existing.mdb", {1, 2, 3});
  try {
    DatabaseBuilder b(existing.string(), Options());
    ADD_FAILURE() << "an existing file was opened for building";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kDatabaseExists);
  }
  EXPECT_EQ(testing::ReadWholeFile(existing), (std::vector<uint8_t>{1, 2, 3}));

  // Duplicate primary keys fail the build.
  const std::string dup = (dir_.path() / "dup.mdb").string();
  try {
    DatabaseBuilder b(dup, Options());
    TableSpec t;
    t.name = "Dup";
    t.columns = {builder_test::Col("Id", ColumnType::kLong)};
    IndexSpec pk;
    pk.name = "PrimaryKey";
    pk.primary = true;
    pk.columns = {{"Id", true}};
    t.indexes = {pk};
    b.AddTable(t);
    b.BeginTable("Dup");
    b.Insert({IntValue(1)});
    b.Insert({IntValue(1)});
    b.Finish();
    ADD_FAILURE() << "duplicate primary keys were accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kDuplicateKey);
  }
  EXPECT_FALSE(std::filesystem::exists(dup));
}

// Jet 4 text goes into the compressed form (FF FE, one byte a character)
// only from three to 1 024 characters, as the desktop product stores it;
// shorter texts and the empty text stay UTF-16, and every reader reads
// them (mdb-reader takes a lone FF FE for a character).
TEST_P(BuilderRoundTrip, ShortAndLongTextsAreStoredAsTheProductStoresThem) {
  const std::string path = (dir_.path() / "words.mdb").string();
  TableSpec t;
  t.name = "Words";
  t.columns = {builder_test::Col("N", ColumnType::kLong),
               builder_test::Col("Word", ColumnType::kText, 50),
               builder_test::Col("Note", ColumnType::kMemo)};
  struct Case {
    std::string text;
    bool memo;
    size_t jet3_bytes, jet4_bytes;
  };
  const Case cases[] = {
      {"", false, 0, 0},
      {"A", false, 1, 2},
      {"AB", false, 2, 4},
      {"ABC", false, 3, 5},
      {"\xC3\xA9t\xC3\xA9", false, 3, 5},  // "été": Latin-1 characters
      {"\xE2\x82\xAC"
       "12",
       false, 3, 6},  // "€12": the euro sign is past U+00FF
      {std::string(1024, 'm'), true, 1024, 1026},
      {std::string(1025, 'm'), true, 1025, 2050},
  };
  std::map<int64_t, std::vector<Value>> expected;
  {
    DatabaseBuilder b(path, Options());
    b.AddTable(t);
    b.BeginTable("Words");
    for (size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      std::vector<Value> row = {IntValue(static_cast<int64_t>(i)),
                                c.memo ? NullValue() : TextValue(c.text),
                                c.memo ? TextValue(c.text) : NullValue()};
      b.Insert(row);
      expected[static_cast<int64_t>(i)] = row;
    }
    b.EndTable();
    b.Finish();
  }
  auto db = Database::Open(path);
  EXPECT_TRUE(CheckDatabase(*db).sound());
  const TableDef& def = db->Table(*db->FindTable("Words"));
  size_t seen = 0;
  db->ForEachRow(def, [&](const TableRow& row) {
    const DecodedRow d = DecodeRow(def, db->format(), row.bytes, Location{});
    const std::vector<Value> values = db->DecodeValues(def, row);
    const Case& c = cases[static_cast<size_t>(values[0].integer)];
    const size_t pos = c.memo ? 2 : 1;
    ASSERT_FALSE(d.fields[pos].is_null) << c.text.size() << " bytes of text";
    size_t stored = d.fields[pos].length;
    if (c.memo) stored = ParseLongValueField(d.FieldBytes(row.bytes, pos), Location{}).length;
    EXPECT_EQ(stored, jet3() ? c.jet3_bytes : c.jet4_bytes) << c.text.substr(0, 10);
    EXPECT_EQ(values[pos].text, c.text);
    ++seen;
  });
  EXPECT_EQ(seen, std::size(cases));
  const bool ran_export =
      builder_test::ExpectReaderAgrees(testing::RunMdbExport(path, "Words"), expected, {}, true);
  const bool ran_reader =
      builder_test::ExpectReaderAgrees(testing::RunMdbReader(path, "Words"), expected, {}, false);
  if (!ran_export && !ran_reader) GTEST_SKIP() << "neither mdb-export nor mdb-reader is available";
}

TEST_P(BuilderRoundTrip, WideTableGetsAMultiPageDefinition) {
  const std::string path = (dir_.path() / "wide.mdb").string();
  DatabaseBuilder b(path, Options());
  TableSpec t;
  t.name = "Wide";
  std::vector<std::string> names;
  for (int i = 0; i < 200; ++i)
    names.push_back("A fairly long column name number " + std::to_string(i));
  for (const std::string& n : names)
    t.columns.push_back(builder_test::Col(n.c_str(), ColumnType::kByte));
  b.AddTable(t);
  b.BeginTable("Wide");
  for (int r = 0; r < 20; ++r) {
    std::vector<Value> row;
    for (int i = 0; i < 200; ++i)
      row.push_back((i + r) % 7 == 0 ? NullValue() : IntValue((i * r) % 256));
    b.Insert(row);
  }
  b.EndTable();
  b.Finish();
  auto db = Database::Open(path);
  const TableDef& def = db->Table(*db->FindTable("Wide"));
  EXPECT_GT(def.pages.size(), 1u);
  EXPECT_EQ(def.columns.size(), 200u);
  EXPECT_TRUE(CheckDatabase(*db).sound());
  EXPECT_EQ(def.row_count, 20u);
}

INSTANTIATE_TEST_SUITE_P(Versions, BuilderRoundTrip,
                         ::testing::Values(JetVersion::kJet3, JetVersion::kJet4),
                         [](const ::testing::TestParamInfo<JetVersion>& p) {
                           return p.param == JetVersion::kJet3 ? "Jet3" : "Jet4";
                         });

}  // namespace
}  // namespace tessmark::jet
