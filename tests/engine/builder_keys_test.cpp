// The index keys the builder writes, against the keys the desktop product
// wrote: every index entry of the sample databases whose key can be built
// from its row is rebuilt through the builder's key path (the table layout
// and the value conversions it uses) and must equal the stored key byte for
// byte. Keys of characters without established codes must be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "build/database_builder.h"
#include "db/database.h"
#include "db/index_page.h"
#include "db/table_layout.h"
#include "tessmark/error.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

// A layout with the columns of a table read from a file, in TDEF order.
TableLayout LayoutOf(const TableDef& def, JetVersion version) {
  TableLayout l;
  l.version = version;
  l.name = def.name;
  for (const ColumnDef& c : def.columns) {
    ColumnLayout cl;
    cl.decl.name = c.name;
    cl.decl.type = static_cast<ColumnType>(c.type);
    cl.decl.scale = c.scale;
    cl.decl.precision = c.precision;
    cl.number = c.number;
    l.columns.push_back(cl);
  }
  return l;
}

struct Tally {
  uint64_t compared = 0, refused = 0, mismatched = 0;
};

void CompareKeys(const std::filesystem::path& file, Tally& tally) {
  auto db = Database::Open(file.string());
  const JetVersion version = db->header().version;
  for (const CatalogObject* object : db->Tables()) {
    const TableDef& def = db->Table(*object);
    const TableLayout layout = LayoutOf(def, version);
    std::map<uint32_t, std::vector<Value>> rows;
    db->ForEachRow(def,
                   [&](const TableRow& r) { rows[r.header.Stored()] = db->DecodeValues(def, r); });
    for (const RealIndexDef& ri : def.real_indexes) {
      std::vector<std::pair<size_t, bool>> columns;
      bool usable = true;
      for (const IndexColumn& ic : ri.columns) {
        size_t pos = def.columns.size();
        for (size_t i = 0; i < def.columns.size(); ++i)
          if (def.columns[i].number == ic.column_number) pos = i;
        if (pos == def.columns.size() || def.columns[pos].long_value()) usable = false;
        columns.emplace_back(pos, ic.ascending);
      }
      if (!usable) continue;
      WalkIndex(db->file(), ri, def.where(),
                {nullptr, [&](const IndexEntry& e) {
                   const auto it = rows.find(e.row.Stored());
                   if (it == rows.end()) return;
                   std::vector<uint8_t> key;
                   try {
                     for (const auto& [pos, asc] : columns)
                       AppendKeySegment(layout, pos, it->second[pos], asc, key);
                   } catch (const Error& err) {
                     EXPECT_EQ(err.number(), kInvalidArgument);
                     ++tally.refused;
                     return;
                   }
                   ++tally.compared;
                   if (!std::ranges::equal(key, e.key) && tally.mismatched++ < 5)
                     ADD_FAILURE() << file.filename() << " " << def.name << " entry on page "
                                   << e.page << ": the builder's key differs from the stored key";
                 }});
    }
  }
}

TEST(BuilderKeys, EqualTheKeysTheDesktopProductWrote) {
  const auto files = testing::CorpusFiles();
  if (files.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  Tally jet3, jet4;
  for (const auto& f : files) {
    const bool is_jet3 = f.parent_path().filename() == "jet3";
    CompareKeys(f, is_jet3 ? jet3 : jet4);
  }
  EXPECT_EQ(jet3.mismatched + jet4.mismatched, 0u);
  // The comparison covers a real share of the samples, text keys included.
  EXPECT_GT(jet3.compared, 1000u);
  EXPECT_GT(jet4.compared, 1000u);
  RecordProperty("jet3_compared", std::to_string(jet3.compared));
  RecordProperty("jet4_compared", std::to_string(jet4.compared));
  RecordProperty("refused", std::to_string(jet3.refused + jet4.refused));
}

TEST(BuilderKeys, RefuseCharactersWithoutEstablishedCodes) {
  TableDecl decl;
  decl.name = "T";
  ColumnDecl c;
  c.name = "Name";
  c.type = ColumnType::kText;
  decl.columns = {c};
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const TableLayout l = LayOutTable(decl, v);
    std::vector<uint8_t> key;
    AppendKeySegment(l, 0, TextValue("Backup Server 12"), true, key);
    EXPECT_FALSE(key.empty());
    for (const char* text : {"caf\xC3\xA9", "a-b", "tab\there"}) {
      std::vector<uint8_t> k;
      EXPECT_THROW(AppendKeySegment(l, 0, TextValue(text), true, k), Error) << text;
    }
  }
  // Ordinary punctuation is established for Jet 3 only.
  std::vector<uint8_t> k3, k4;
  AppendKeySegment(LayOutTable(decl, JetVersion::kJet3), 0, TextValue("a.b"), true, k3);
  EXPECT_THROW(
      AppendKeySegment(LayOutTable(decl, JetVersion::kJet4), 0, TextValue("a.b"), true, k4), Error);
}

}  // namespace
}  // namespace tessmark::jet
