// Bad input: every malformed file gives the right error number and never a
// crash, a hang or an unbounded allocation (the suite also runs under ASan).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "check/checker.h"
#include "db/database.h"
#include "db/index_page.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/usage_map.h"
#include "format/data_page.h"
#include "format/env.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

using testing::TempDir;
using Image = std::vector<uint8_t>;

std::filesystem::path Sample(const std::string& relative) {
  return testing::SharedDir() / "corpus" / relative;
}

#define REQUIRE_SAMPLE(rel)                          \
  if (!std::filesystem::exists(Sample(rel))) {       \
    GTEST_SKIP() << testing::CorpusMissingMessage(); \
  }

// Opens the database, checks it and dumps every table; returns the error
// number of the first failure, or 0 when it all went through. Any error is
// acceptable as long as it carries a number; the caller says which.
struct Outcome {
  int32_t open_error = 0;  // Database::Open
  bool sound = true;       // the checker's verdict (when it opened)
  int32_t dump_error = 0;  // reading every row of every table
};

Outcome Exercise(const std::filesystem::path& file) {
  Outcome out;
  std::unique_ptr<Database> db;
  try {
    db = Database::Open(file.string());
  } catch (const Error& e) {
    out.open_error = e.number();
    return out;
  }
  out.sound = CheckDatabase(*db).sound();
  try {
    for (const CatalogObject* t : db->Tables()) {
      const TableDef& def = db->Table(*t);
      db->ForEachRow(def, [&](const TableRow& row) { db->DecodeValues(def, row); });
    }
  } catch (const Error& e) {
    out.dump_error = e.number();
  }
  return out;
}

void PutU32(Image& img, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) img[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- files that are not databases ---------------------------------------------------

TEST(NotADatabase, MissingEmptyDirectoryAndForeignFiles) {
  TempDir dir;
  auto open_error = [](const std::filesystem::path& p) {
    try {
      Database::Open(p.string());
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(open_error(dir.path() / "absent.mdb"), kFileNotFound);
  EXPECT_EQ(open_error(dir.path() / "absent" / "x.mdb"), kFileNotFound);
  EXPECT_EQ(open_error(dir.Write("notdir", {1}) / "x.mdb"), kInvalidPath);
  EXPECT_EQ(open_error(dir.path()), kInvalidPath);
  EXPECT_EQ(open_error(""), kInvalidPath);
  EXPECT_EQ(open_error(dir.Write("empty.mdb", {})), kUnrecognizedFormat);
  EXPECT_EQ(open_error(dir.Write("text.mdb", Image(5000, 'x'))), kUnrecognizedFormat);
  EXPECT_EQ(open_error(dir.Write("short.mdb", Image(10, 0))), kUnrecognizedFormat);
}

TEST(NotADatabase, VersionsOtherThanJet3AndJet4AreRefused) {
  REQUIRE_SAMPLE("jet4/emptyJet4.mdb");
  TempDir dir;
  const Image original = testing::ReadWholeFile(Sample("jet4/emptyJet4.mdb"));
  for (uint32_t version : {2u, 3u, 5u, 0xFFu, 0x01000001u}) {
    Image img = original;
    PutU32(img, 0x14, version);
    const Outcome o = Exercise(dir.Write("v" + std::to_string(version) + ".mdb", img));
    EXPECT_EQ(o.open_error, kUnrecognizedFormat) << "version " << version;
  }
  Image img = original;
  img[4] = 'X';  // signature
  EXPECT_EQ(Exercise(dir.Write("sig.mdb", img)).open_error, kUnrecognizedFormat);
}

// ---- truncation ---------------------------------------------------------------------------

TEST(Truncated, AtPageBoundariesAndInsidePages) {
  REQUIRE_SAMPLE("jet3/testV1997.mdb");
  TempDir dir;
  const Image original = testing::ReadWholeFile(Sample("jet3/testV1997.mdb"));
  const size_t page = 2048;
  for (size_t pages : {1u, 2u, 3u, 6u, 10u, 20u, 40u, 57u}) {
    SCOPED_TRACE(std::to_string(pages) + " pages");
    Image img(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(pages * page));
    const Outcome o = Exercise(dir.Write("t" + std::to_string(pages) + ".mdb", img));
    if (o.open_error != 0) {
      EXPECT_EQ(o.open_error, kDamaged);
    } else {
      EXPECT_FALSE(o.sound) << "a truncated file must not check sound";
    }
  }
  Image half(original.begin(), original.begin() + 1000);
  EXPECT_EQ(Exercise(dir.Write("half.mdb", half)).open_error, kUnrecognizedFormat);
  Image ragged(original.begin(), original.end() - 100);
  const Outcome o = Exercise(dir.Write("ragged.mdb", ragged));
  EXPECT_EQ(o.open_error, 0);
  EXPECT_FALSE(o.sound) << "a file that is not a whole number of pages is damaged";
}

// ---- damaged references -------------------------------------------------------------------

class Damaged : public ::testing::Test {
 protected:
  void Load(const std::string& rel) {
    if (!std::filesystem::exists(Sample(rel))) GTEST_SKIP() << testing::CorpusMissingMessage();
    path_ = Sample(rel);
    image_ = testing::ReadWholeFile(path_);
    db_ = Database::Open(path_.string());
    page_size_ = db_->header().page_size;
  }
  size_t At(uint32_t page, size_t offset) const { return size_t{page} * page_size_ + offset; }
  Outcome Run(const std::string& name) { return Exercise(dir_.Write(name, image_)); }
  const CatalogObject& TableNamed(const std::string& name) {
    const CatalogObject* t = db_->FindTable(name);
    EXPECT_NE(t, nullptr) << name;
    return *t;
  }

  TempDir dir_;
  std::filesystem::path path_;
  Image image_;
  std::unique_ptr<Database> db_;
  uint32_t page_size_ = 0;
};

TEST_F(Damaged, CatalogMapPointingPastTheEnd) {
  Load("jet4/testV2000.mdb");
  PutU32(image_, At(2, kJet4Format.tdef_owned_map), (0xFFFFFFu << 8) | 0);
  EXPECT_EQ(Run("map.mdb").open_error, kDamaged);
}

TEST_F(Damaged, TableDefinitionChainIntoItself) {
  Load("jet4/testV2000.mdb");
  const TableDef& t = db_->Table(TableNamed("Table1"));
  PutU32(image_, At(t.pages.back(), 4), t.pages.front());
  const Outcome o = Run("tdef.mdb");
  EXPECT_EQ(o.open_error, 0);
  EXPECT_FALSE(o.sound);
  EXPECT_EQ(o.dump_error, kDamaged);
}

TEST_F(Damaged, Jet3DefinitionPageWithoutItsMark) {
  Load("jet3/testV1997.mdb");
  const TableDef& t = db_->Table(TableNamed("Table1"));
  image_[At(t.pages.front(), 2)] = 'X';
  const Outcome o = Run("vc.mdb");
  EXPECT_EQ(o.open_error, 0);
  EXPECT_FALSE(o.sound);
}

TEST_F(Damaged, DefinitionCountingNoVariableColumnsBesideAVariableOne) {
  // Read by such a definition the rows have no trailer and the text
  // columns look NULL: a damaged count must not pass for a sound table.
  for (const char* sample : {"jet3/testV1997.mdb", "jet4/testV2000.mdb"}) {
    SCOPED_TRACE(sample);
    Load(sample);
    const TableDef& t = db_->Table(TableNamed("Table1"));
    ASSERT_GT(t.var_columns, 0u);
    const Format& f = db_->format();
    image_[At(t.page, f.tdef_var_cols)] = 0;
    image_[At(t.page, f.tdef_var_cols + 1)] = 0;
    const std::filesystem::path file = dir_.Write("count.mdb", image_);
    auto db = Database::Open(file.string());
    const CheckReport report = CheckDatabase(*db);
    EXPECT_FALSE(report.sound());
    bool named = false;
    for (const Finding& finding : report.findings)
      named |= finding.message.find("counts 0 variable columns") != std::string::npos;
    EXPECT_TRUE(named) << "no finding names the count";
  }
}

TEST_F(Damaged, CatalogDefinitionChainIntoItself) {
  Load("jet3/testV1997.mdb");
  PutU32(image_, At(2, 4), 2);
  EXPECT_EQ(Run("cat.mdb").open_error, kDamaged);
}

TEST_F(Damaged, IndexTreeAndLeafChainCycles) {
  Load("jet3/testIndexCodesV1997.mdb");
  // Find an index whose root is an intermediate page.
  uint32_t root = 0;
  for (const CatalogObject* o : db_->Tables()) {
    for (const RealIndexDef& ri : db_->Table(*o).real_indexes) {
      if (db_->file().Get(ri.root_page)->type() == kPageIndexNode) root = ri.root_page;
    }
  }
  ASSERT_NE(root, 0u) << "the sample has a two-level index";
  const Image original = image_;
  PutU32(image_, At(root, kJet3Format.idx_tail), root);  // tail child = itself
  Outcome o = Run("tail.mdb");
  EXPECT_FALSE(o.sound);

  image_ = original;
  const IndexPage node = ParseIndexPage(db_->file().Get(root), kJet3Format, Location{});
  const uint32_t leaf = node.entries.front().child;
  PutU32(image_, At(leaf, kJet3Format.idx_next), leaf);  // next leaf = itself
  o = Run("next.mdb");
  EXPECT_FALSE(o.sound);
}

TEST_F(Damaged, LongValueChainIntoItself) {
  Load("jet4/testV2000.mdb");
  // Find a chained long value and point its first row at itself.
  std::optional<RowPointer> first;
  for (const CatalogObject* o : db_->Tables()) {
    const TableDef& def = db_->Table(*o);
    db_->ForEachRow(def, [&](const TableRow& row) {
      const DecodedRow d = DecodeRow(def, db_->format(), row.bytes, Location{});
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (!def.columns[i].long_value() || d.fields[i].is_null || d.fields[i].length < 12)
          continue;
        const LongValueField lv = ParseLongValueField(d.FieldBytes(row.bytes, i), Location{});
        if (lv.form == LongValueForm::kChain && !first) first = lv.first;
      }
    });
  }
  ASSERT_TRUE(first.has_value()) << "the sample holds a chained long value";
  const DataPage dp = ParseDataPage(db_->file().Get(first->page), db_->format(), Location{});
  PutU32(image_, At(first->page, dp.slots[first->row].offset), first->Stored());
  const Outcome o = Run("lv.mdb");
  EXPECT_FALSE(o.sound);
  EXPECT_EQ(o.dump_error, kDamaged);
}

TEST_F(Damaged, MovedRowPointersInACircle) {
  Load("jet4/overflowTestV2000.mdb");
  bool patched = false;
  for (const CatalogObject* o : db_->Tables(false)) {
    const TableDef& def = db_->Table(*o);
    db_->ForEachRow(def, [&](const TableRow& row) {
      if (patched || row.header == row.data) return;
      const DataPage dp =
          ParseDataPage(db_->file().Get(row.header.page), db_->format(), Location{});
      PutU32(image_, At(row.header.page, dp.slots[row.header.row].offset), row.header.Stored());
      // Make the slot look like a pointer to itself: flags 0x4000 stay.
      patched = true;
    });
  }
  ASSERT_TRUE(patched) << "the sample has moved rows";
  const Outcome o = Run("moved.mdb");
  EXPECT_FALSE(o.sound);
  EXPECT_EQ(o.dump_error, kDamaged);
}

TEST_F(Damaged, GarbageInARowTrailer) {
  Load("jet4/testV2000.mdb");
  const TableDef& def = db_->Table(TableNamed("Table1"));
  std::optional<RowPointer> where;
  db_->ForEachRow(def, [&](const TableRow& row) {
    if (!where) where = row.data;
  });
  ASSERT_TRUE(where.has_value());
  const DataPage dp = ParseDataPage(db_->file().Get(where->page), db_->format(), Location{});
  const RowSlot& slot = dp.slots[where->row];
  const uint32_t mask = (def.max_columns + 7u) / 8u;
  // nvar, the word before the null mask.
  image_[At(where->page, slot.end - mask - 2)] = 0xFF;
  image_[At(where->page, slot.end - mask - 1)] = 0x7F;
  const Outcome o = Run("trailer.mdb");
  EXPECT_FALSE(o.sound);
  EXPECT_EQ(o.dump_error, kDamaged);
}

TEST_F(Damaged, RowSlotsOutsideTheirPage) {
  Load("jet4/testV2000.mdb");
  const TableDef& def = db_->Table(TableNamed("Table1"));
  const uint32_t page = ReadUsageMap(db_->file(), def.owned_map, Location{}).pages.front();
  image_[At(page, kJet4Format.data_row_count)] = 0xFF;  // 255+ slots
  image_[At(page, kJet4Format.data_row_count + 1)] = 0x7F;
  const Outcome o = Run("slots.mdb");
  EXPECT_FALSE(o.sound);
  EXPECT_EQ(o.dump_error, kDamaged);
}

// Random byte damage in the structure pages: whatever happens, it is an
// Error with a number, never a crash (ASan/UBSan builds check memory
// safety). TESSMARK_FUZZ_ROUNDS raises the number of rounds for a longer run.
class RandomDamage : public Damaged, public ::testing::WithParamInterface<const char*> {};

TEST_P(RandomDamage, NeverCrashes) {
  Load(GetParam());
  const Image original = image_;
  std::mt19937 rng(20261208);
  const uint32_t pages = static_cast<uint32_t>(original.size() / page_size_);
  int rounds = 60;
  if (const char* env = std::getenv("TESSMARK_FUZZ_ROUNDS")) rounds = std::atoi(env);
  for (int round = 0; round < rounds; ++round) {
    image_ = original;
    const int hits = 1 + static_cast<int>(rng() % 16);
    for (int k = 0; k < hits; ++k) {
      const auto page = static_cast<uint32_t>(1 + rng() % std::min<uint32_t>(pages - 1, 64));
      const size_t offset = rng() % page_size_;
      image_[At(page, offset)] = static_cast<uint8_t>(rng());
    }
    EXPECT_NO_FATAL_FAILURE(Run("fuzz.mdb")) << "round " << round;
    std::filesystem::remove(dir_.path() / "fuzz.mdb");
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, RandomDamage,
                         ::testing::Values("jet3/testV1997.mdb", "jet3/testIndexCodesV1997.mdb",
                                           "jet4/testV2000.mdb", "jet4/overflowTestV2000.mdb",
                                           "jet4/bigIndexTestV2000.mdb"));

// ---- the file environment -------------------------------------------------------------

// Passes everything to the platform's Env but fails reads past a byte limit.
class FailingReadsEnv : public Env {
 public:
  explicit FailingReadsEnv(uint64_t fail_from) : fail_from_(fail_from) {}
  std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path, LockMode mode) override {
    class File : public RandomAccessFile {
     public:
      File(std::unique_ptr<RandomAccessFile> inner, uint64_t fail_from)
          : inner_(std::move(inner)), fail_from_(fail_from) {}
      size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
        if (offset + n > fail_from_) throw Error(kIoError, "injected read failure");
        return inner_->Read(offset, n, out);
      }
      uint64_t Size() const override { return inner_->Size(); }

     private:
      std::unique_ptr<RandomAccessFile> inner_;
      uint64_t fail_from_;
    };
    return std::make_unique<File>(PlatformEnv()->OpenForRead(path, mode), fail_from_);
  }
  std::unique_ptr<WritableFile> CreateNew(const std::string& p) override {
    return PlatformEnv()->CreateNew(p);
  }
  void Remove(const std::string& p) override { PlatformEnv()->Remove(p); }
  void RenameReplace(const std::string& a, const std::string& b) override {
    PlatformEnv()->RenameReplace(a, b);
  }
  void MakeDirectory(const std::string& p) override { PlatformEnv()->MakeDirectory(p); }
  bool FileExists(const std::string& p) override { return PlatformEnv()->FileExists(p); }
  uint64_t FileSize(const std::string& p) override { return PlatformEnv()->FileSize(p); }
  void SyncDirectory(const std::string& p) override { PlatformEnv()->SyncDirectory(p); }

 private:
  uint64_t fail_from_;
};

TEST(Environment, ReadFailuresCarryTheirNumberThroughCheckAndDump) {
  REQUIRE_SAMPLE("jet4/testV2000.mdb");
  const std::string file = Sample("jet4/testV2000.mdb").string();
  FailingReadsEnv env(40 * 4096);
  OpenOptions options;
  options.env = &env;
  auto db = Database::Open(file, options);  // the catalog lies in the first pages
  try {
    CheckDatabase(*db);
    FAIL() << "the checker must not hide a read failure as damage";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kIoError);
  }
  FailingReadsEnv early(3 * 4096);
  options.env = &early;
  try {
    Database::Open(file, options);
    FAIL() << "expected a read error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kIoError);
  }
}

TEST(Environment, ExclusiveHolderKeepsOthersOut) {
  REQUIRE_SAMPLE("jet4/emptyJet4.mdb");
  TempDir dir;
  const auto copy = dir.Write("db.mdb", testing::ReadWholeFile(Sample("jet4/emptyJet4.mdb")));
  OpenOptions exclusive;
  exclusive.lock = LockMode::kExclusive;
  auto holder = Database::Open(copy.string(), exclusive);
  try {
    Database::Open(copy.string());
    FAIL() << "a second open must be refused while the file is held exclusively";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kFileInUse);
  }
  holder.reset();
  EXPECT_NO_THROW(Database::Open(copy.string()));
  // Readers share.
  auto a = Database::Open(copy.string());
  EXPECT_NO_THROW(Database::Open(copy.string()));
  try {
    Database::Open(copy.string(), exclusive);
    FAIL() << "an exclusive open must wait for readers to go";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kFileInUse);
  }
}

}  // namespace
}  // namespace tessmark::jet
