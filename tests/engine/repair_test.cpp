// Repair of generated catalogs damaged in each way the checker knows: every
// row off the damaged pages comes back with its content, every row that
// does not is named by the report, and the result checks clean.
#include "tessmark/repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "db/database.h"
#include "db/usage_map.h"
#include "format/data_page.h"
#include "repair/salvage.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tessmark/generate.h"
#include "tests/engine/builder_test_support.h"
#include "tests/support/content.h"
#include "tests/support/corpus.h"
#include "tests/support/readers.h"

namespace tessmark::jet {
namespace {

using Case = builder_test::CatalogCase;

struct PlacedRow {
  RowPointer header, data;
  std::string text;
};

// Every user table's rows with where they lie.
std::map<std::string, std::vector<PlacedRow>> Rows(const std::string& path) {
  auto db = Database::Open(path);
  std::map<std::string, std::vector<PlacedRow>> out;
  for (const CatalogObject* o : db->Tables(false)) {
    const TableDef& def = db->Table(*o);
    std::vector<PlacedRow>& rows = out[o->name];
    db->ForEachRow(def, [&](const TableRow& row) {
      std::string line;
      for (const Value& v : db->DecodeValues(def, row)) line += FormatValue(v) + "\x1f";
      rows.push_back({row.header, row.data, line});
    });
  }
  return out;
}

enum class Damage {
  kNone,
  kDataPage,
  kIndexPage,
  kUsageMapCut,
  kTableDefinitionSecondHalf,
  kLongValueChain,
  kRowTrailer,
  kPage1Zeroed,
  kKeyRepeated,    // a row's primary key changed to an earlier row's
  kCatalogRowLost  // the trailer of the catalog row naming the table garbled
};

struct DamageCase {
  Damage damage;
  const char* name;
  std::optional<RepairLoss::Kind> loss;  // what the report must name in the table
  bool found_outside = false;            // rows come back from pages the map does not list
};

const DamageCase kDamages[] = {
    {Damage::kNone, "none", std::nullopt},
    {Damage::kDataPage, "data page overwritten", RepairLoss::Kind::kPage},
    {Damage::kIndexPage, "index page overwritten", std::nullopt},
    {Damage::kUsageMapCut, "usage map cut", std::nullopt, true},
    {Damage::kTableDefinitionSecondHalf, "table definition's second half destroyed",
     RepairLoss::Kind::kTable},
    {Damage::kLongValueChain, "long-value chain broken", RepairLoss::Kind::kLongValue},
    {Damage::kRowTrailer, "row trailer garbled", RepairLoss::Kind::kRow},
    {Damage::kPage1Zeroed, "page 1 zeroed", std::nullopt},
    {Damage::kKeyRepeated, "primary key repeated", RepairLoss::Kind::kDuplicateKey},
    {Damage::kCatalogRowLost, "catalog row garbled", RepairLoss::Kind::kTable},
};

class RepairTest : public ::testing::TestWithParam<Case> {
 protected:
  // `stale`: the share of rows left on pages out of their table's usage map.
  std::string Generate(const std::string& name, double stale = 0.05) {
    CatalogOptions o;
    o.kind = GetParam().kind;
    o.version = GetParam().version;
    // The client's memo table gets a row for every 300 of the bulk table:
    // enough of them for values that lie outside their rows.
    o.rows = GetParam().kind == CatalogKind::kServer ? 400 : 6000;
    o.deleted = 0.2;
    o.moved = 0.1;
    o.stale = stale;
    o.seed = 11;
    const std::string path = File(name);
    GenerateCatalog(path, o);
    return path;
  }
  std::string File(const std::string& name) const { return (dir_.path() / name).string(); }
  // The table the damage is aimed at: the bulk table, or the one with a
  // memo column for the long values.
  std::string Target(Damage d) const {
    const bool server = GetParam().kind == CatalogKind::kServer;
    if (d == Damage::kLongValueChain) return server ? "Files" : "History";
    return server ? "Files" : "HistoryFiles";
  }

  // Damages `bytes` as `d` says, in `table` of the database at `path`.
  static void Apply(Damage d, const std::string& path, const std::string& table,
                    std::vector<uint8_t>& bytes) {
    auto db = Database::Open(path);
    const uint32_t ps = db->header().page_size;
    const Format& f = db->format();
    const TableDef& def = db->Table(*db->FindTable(table));
    auto fill = [&](uint32_t page, uint32_t from, uint32_t to, uint8_t v) {
      std::fill(bytes.begin() + page * ps + from, bytes.begin() + page * ps + to, v);
    };
    // The count of variable columns, just before the null mask, made
    // larger than the row.
    auto garble_trailer = [&](const TableDef& of, RowPointer at) {
      const RowRef row = ReadRow(db->file(), at, {});
      const uint32_t mask = (static_cast<uint32_t>(of.columns.size()) + 7) / 8;
      const uint32_t count = f.jet3() ? 1 : 2;
      fill(at.page, row.slot().end - mask - count, row.slot().end - mask, 0xFF);
    };
    const std::vector<uint32_t> pages = ReadUsageMap(db->file(), def.owned_map, {}).pages;
    ASSERT_FALSE(pages.empty());
    switch (d) {
      case Damage::kNone:
        break;
      case Damage::kDataPage:
        fill(pages[pages.size() / 2], 0, ps, 0xA5);
        break;
      case Damage::kIndexPage:
        fill(def.real_indexes.back().root_page, 0, ps, 0xA5);
        break;
      case Damage::kUsageMapCut: {
        const RowRef map = ReadRow(db->file(), def.owned_map, {});
        const uint32_t bits = map.bytes()[0] == 0 ? 5 : 1;
        fill(def.owned_map.page, map.slot().offset + bits, map.slot().end, 0);
        break;
      }
      case Damage::kTableDefinitionSecondHalf:
        fill(def.page, std::min(def.declared_length, ps) / 2, ps, 0xA5);
        break;
      case Damage::kLongValueChain: {
        ASSERT_FALSE(def.long_value_maps.empty());
        const std::vector<uint32_t> lv =
            ReadUsageMap(db->file(), def.long_value_maps.front().owned_map, {}).pages;
        ASSERT_FALSE(lv.empty()) << "no value of " << table << " lies outside its row";
        fill(lv.front(), 0, ps, 0xA5);
        break;
      }
      case Damage::kRowTrailer: {
        const DataPage dp = ParseDataPage(db->file().Get(pages.front()), f, {});
        for (uint32_t r = 0; r < dp.slots.size(); ++r) {
          if (!dp.slots[r].plain()) continue;
          garble_trailer(def, RowPointer{pages.front(), static_cast<uint8_t>(r)});
          return;
        }
        FAIL() << "no plain row on page " << pages.front();
      }
      case Damage::kCatalogRowLost:
        garble_trailer(db->catalog_table(), db->FindTable(table)->row);
        break;
      case Damage::kPage1Zeroed:
        fill(1, 0, ps, 0);
        break;
      case Damage::kKeyRepeated: {
        // The first column is the AutoNumber key; the fixed area follows
        // the column count.
        const DataPage dp = ParseDataPage(db->file().Get(pages.front()), f, {});
        std::vector<uint32_t> plain;
        for (const RowSlot& s : dp.slots)
          if (s.plain()) plain.push_back(s.offset);
        ASSERT_GE(plain.size(), 2u);
        const uint32_t at = f.row_count_size + def.columns.front().fixed_offset;
        const size_t base = size_t{pages.front()} * ps;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(base + plain[0] + at), 4,
                    bytes.begin() + static_cast<std::ptrdiff_t>(base + plain[1] + at));
        break;
      }
    }
  }

  testing::TempDir dir_;
};

// Whether the report accounts for `row` of `table`: its table, its page or
// the row itself is named by a loss.
bool Accounted(const RepairReport& report, const std::string& table, const PlacedRow& row) {
  for (const RepairLoss& l : report.losses) {
    if (!l.where.table.empty() && l.where.table != table) continue;
    if (l.kind == RepairLoss::Kind::kTable) return true;
    for (const RowPointer& at : {row.header, row.data}) {
      if (l.where.page == at.page && (!l.where.row || *l.where.row == at.row)) return true;
    }
  }
  return false;
}

TEST_P(RepairTest, EachDamageLosesOnlyWhatItTouchesAndSaysSo) {
  const std::string sound = Generate("sound.mdb");
  const std::vector<uint8_t> original = testing::ReadWholeFile(sound);
  const auto before = Rows(sound);
  int n = 0;
  for (const DamageCase& c : kDamages) {
    SCOPED_TRACE(c.name);
    const std::string table = Target(c.damage);
    std::vector<uint8_t> bytes = original;
    Apply(c.damage, sound, table, bytes);
    if (::testing::Test::HasFatalFailure()) return;
    const std::string source = dir_.Write("damaged" + std::to_string(n) + ".mdb", bytes).string();
    const std::string dest = File("repaired" + std::to_string(n++) + ".mdb");
    RepairReport report;
    try {
      report = RepairDatabase(source, dest);
    } catch (const Error& e) {
      ADD_FAILURE() << e.number() << " " << e.description();
      continue;
    }
    EXPECT_EQ(testing::ReadWholeFile(source), bytes) << "the source was written";
    EXPECT_EQ(testing::CheckClean(dest), "");
    EXPECT_EQ(report.found_outside.empty(), !c.found_outside);
    EXPECT_EQ(report.rows_recovered,
              report.rows_unchanged + report.rows_changed + report.rows_found_outside);
    for (const RepairLoss& l : report.losses) {
      const std::string place = l.where.ToString();
      EXPECT_TRUE(place.empty() || l.what.find(place) == std::string::npos)
          << "the loss repeats its place: " << l.what;
    }
    if (c.loss) {
      EXPECT_TRUE(std::any_of(report.losses.begin(), report.losses.end(), [&](const RepairLoss& l) {
        // A table whose catalog row is lost is known by its page only.
        return l.kind == *c.loss && (l.where.table == table || l.where.table.empty());
      })) << "the report does not name the loss";
      EXPECT_FALSE(report.nothing_lost());
    } else {
      for (const RepairLoss& l : report.losses)
        ADD_FAILURE() << LossKindName(l.kind) << ": " << l.what << " (" << l.where.ToString()
                      << ")";
    }
    const auto after = Rows(dest);
    for (const auto& [name, rows] : before) {
      std::multiset<std::string> got;
      if (auto it = after.find(name); it != after.end())
        for (const PlacedRow& r : it->second) got.insert(r.text);
      std::multiset<std::string> expected;
      for (const PlacedRow& r : rows) expected.insert(r.text);
      // Rows whose long value was lost come back with it NULL, counted as
      // changed; any other row the database never had (a stale one) is a
      // fault.
      size_t long_values_lost = 0;
      for (const RepairLoss& l : report.losses)
        long_values_lost += l.kind == RepairLoss::Kind::kLongValue && l.where.table == name;
      size_t never_had = 0;
      for (const std::string& g : got) never_had += expected.count(g) == 0;
      EXPECT_LE(never_had, long_values_lost) << name << ": rows the database never had";
      if (auto it = std::find_if(report.tables.begin(), report.tables.end(),
                                 [&](const RepairedTable& t) { return t.name == name; });
          it != report.tables.end() && long_values_lost > 0) {
        EXPECT_GT(it->rows_changed, 0u) << name << ": a row with a NULLed value counted unchanged";
      }
      for (const PlacedRow& r : rows) {
        auto it = got.find(r.text);
        if (it != got.end()) {
          got.erase(it);
        } else {
          EXPECT_TRUE(Accounted(report, name, r))
              << name << ": the row at page " << r.header.page << " row " << int{r.header.row}
              << " is missing and no loss names it: " << r.text;
        }
      }
    }
  }
}

// Also with the pages of rows the product deleted by emptying or
// rewriting a table still owned by it: they are not the table's.
TEST_P(RepairTest, SoundCatalogRepairsToWhatCompactionWrites) {
  for (const double stale : {0.0, 0.1}) {
    SCOPED_TRACE(stale);
    const std::string tag = std::to_string(static_cast<int>(stale * 100));
    const std::string sound = Generate("sound" + tag + ".mdb", stale);
    const std::string compacted = File("compacted" + tag + ".mdb");
    const std::string repaired = File("repaired" + tag + ".mdb");
    CompactDatabase(sound, compacted);
    const RepairReport report = RepairDatabase(sound, repaired);
    EXPECT_TRUE(report.all_unchanged());
    EXPECT_EQ(report.rows_unchanged, report.rows_recovered);
    EXPECT_EQ(testing::DatabaseContent(repaired), testing::DatabaseContent(sound));
    EXPECT_EQ(testing::ReadWholeFile(repaired), testing::ReadWholeFile(compacted))
        << "rows in another order, or indexes built differently";
    // The independent readers, too, read the source's rows in the copy.
    for (const auto& [table, rows] : Rows(sound)) {
      for (bool mdb_export : {true, false}) {
        auto read = [&](const std::string& path) {
          const testing::ReaderRun run =
              mdb_export ? testing::RunMdbExport(path, table) : testing::RunMdbReader(path, table);
          std::vector<testing::CsvRow> out = testing::ParseCsv(run.output).rows;
          std::sort(out.begin(), out.end());
          return std::make_pair(run.available, out);
        };
        const auto [available, source_rows] = read(sound);
        if (!available) continue;
        EXPECT_EQ(read(repaired).second, source_rows)
            << (mdb_export ? "mdb-export " : "mdb-reader ") << table;
        EXPECT_EQ(source_rows.size(), rows.size()) << table;
      }
    }
  }
}

// Salvage on its own, over a sound catalog with stale pages (the earlier
// rows of rewritten tables, still owned by them): each table's rows are
// exactly the rows it reads, each with its slot and its bytes, and nothing
// is lost or taken from outside the table's pages.
TEST_P(RepairTest, SalvageOfASoundTableTakesTheRowsItReads) {
  auto db = Database::Open(Generate("stale.mdb", 0.1));
  const DataPageScan scan = FindDataPages(db->file());
  for (const CatalogObject* o : db->Tables(false)) {
    const TableDef& def = db->Table(*o);
    using Placed = std::tuple<uint32_t, uint32_t, std::vector<uint8_t>>;
    std::multiset<Placed> read, salvaged;
    db->ForEachRow(def, [&](const TableRow& r) {
      read.emplace(r.header.Stored(), r.data.Stored(), std::vector(r.bytes.begin(), r.bytes.end()));
    });
    const SalvagedTable got = SalvageRows(db->file(), def, scan, true);
    for (const SalvagedRow& r : got.rows) {
      EXPECT_FALSE(r.outside || r.long_value_null) << o->name;
      salvaged.emplace(r.header.Stored(), r.data.Stored(), r.bytes);
    }
    EXPECT_TRUE(got.losses.empty()) << o->name;
    EXPECT_EQ(salvaged, read) << o->name;
  }
}

TEST_P(RepairTest, RepairedFileReadsInBothPeerReaders) {
  const std::string sound = Generate("sound.mdb");
  std::vector<uint8_t> bytes = testing::ReadWholeFile(sound);
  Apply(Damage::kDataPage, sound, Target(Damage::kDataPage), bytes);
  const std::string source = dir_.Write("damaged.mdb", bytes).string();
  const std::string dest = File("repaired.mdb");
  RepairDatabase(source, dest);
  const auto ours = Rows(dest);
  bool ran = false;
  for (const auto& [table, rows] : ours) {
    for (bool mdb_export : {true, false}) {
      const testing::ReaderRun run =
          mdb_export ? testing::RunMdbExport(dest, table) : testing::RunMdbReader(dest, table);
      if (!run.available) continue;
      ran = true;
      SCOPED_TRACE(std::string(mdb_export ? "mdb-export " : "mdb-reader ") + table);
      EXPECT_EQ(run.exit_code, 0) << run.errors;
      EXPECT_EQ(testing::ParseCsv(run.output).rows.size(), rows.size());
    }
  }
  if (!ran) GTEST_SKIP() << "neither mdb-export nor mdb-reader is installed";
}

INSTANTIATE_TEST_SUITE_P(Kinds, RepairTest, ::testing::ValuesIn(builder_test::kEveryCatalog),
                         builder_test::CatalogCaseName);

// What repair refuses, it refuses before writing anything: the source stays
// as it was and no file is left beside the destination.
TEST(RepairRefusals, RefusedSourcesAndDestinationsLeaveEveryFileAsItWas) {
  testing::TempDir dir;
  auto path = [&](const std::string& name) { return (dir.path() / name).string(); };
  CatalogOptions o;
  o.rows = 50;
  GenerateCatalog(path("sound.mdb"), o);
  o.password = "Admin1";
  GenerateCatalog(path("locked.mdb"), o);
  std::vector<uint8_t> no_catalog = testing::ReadWholeFile(path("sound.mdb"));
  std::fill(no_catalog.begin() + 2 * 4096, no_catalog.begin() + 3 * 4096, uint8_t{0});
  dir.Write("no-catalog.mdb", no_catalog);
  dir.Write("text.mdb", std::vector<uint8_t>(8192, 'x'));
  dir.Write("taken.mdb", {1, 2, 3});
  struct Refusal {
    const char* source;
    const char* destination;
    int number;
  };
  const Refusal refusals[] = {
      {"sound.mdb", "taken.mdb", kDatabaseExists},
      {"locked.mdb", "new.mdb", kPasswordRequired},
      {"text.mdb", "new.mdb", kUnrecognizedFormat},
      {"no-catalog.mdb", "new.mdb", kDamaged},
      {"missing.mdb", "new.mdb", kFileNotFound},
      {"sound.mdb", "no-such-folder/new.mdb", kInvalidPath},
  };
  std::map<std::string, std::vector<uint8_t>> before;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    before[e.path().filename().string()] = testing::ReadWholeFile(e.path());
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(std::string(r.source) + " -> " + r.destination);
    try {
      RepairDatabase(path(r.source), path(r.destination));
      ADD_FAILURE() << "repaired";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), r.number) << e.description();
    }
    std::map<std::string, std::vector<uint8_t>> after;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      after[e.path().filename().string()] = testing::ReadWholeFile(e.path());
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace tessmark::jet
