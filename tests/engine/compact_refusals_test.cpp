// Every way CompactDatabase refuses or fails: the error number, nothing left
// at the destination, an existing destination and the source untouched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "check/checker.h"
#include "db/database.h"
#include "db/usage_map.h"
#include "format/env.h"
#include "format/header.h"
#include "format/rc4.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;

// Runs a compaction that must fail with `number`; returns the description.
std::string Refused(const std::string& source, const std::string& destination, int32_t number,
                    const CompactOptions& options = {}) {
  try {
    CompactDatabase(source, destination, options);
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), number) << e.description();
    return e.description();
  }
  ADD_FAILURE() << "compaction of " << source << " succeeded, expected error " << number;
  return {};
}

// A refusal of a damaged source names at most three findings, counts the
// rest (`findings` in all, when the check can tell), and ends saying the
// file is unchanged; what to do next is the front end's to say.
void ExpectRefusalSaysWhatToDo(const std::string& why, const std::string& source,
                               uint64_t findings) {
  const std::string head = "The database '" + source + "' is damaged and was not compacted: ";
  const std::string tail = ". The file is unchanged.";
  ASSERT_EQ(why.rfind(head, 0), 0u) << why;
  ASSERT_GT(why.size(), head.size() + tail.size()) << why;
  EXPECT_EQ(why.substr(why.size() - tail.size()), tail) << why;
  const std::string named = why.substr(head.size(), why.size() - head.size() - tail.size());
  size_t shown = 0;
  for (const char* severity : {"error: ", "warning: "}) {
    for (size_t at = named.find(severity); at != std::string::npos;
         at = named.find(severity, at + 1))
      ++shown;
  }
  EXPECT_GE(shown, 1u) << why;
  EXPECT_LE(shown, 3u) << why;
  if (findings > shown) {
    EXPECT_NE(named.find("(and " + std::to_string(findings - shown) + " more)"), std::string::npos)
        << why;
  } else {
    EXPECT_EQ(named.find("more)"), std::string::npos) << why;
  }
}

// The number of findings a check of `file` makes.
uint64_t FindingsOf(const std::string& file) {
  auto db = Database::Open(file);
  const CheckReport report = CheckDatabase(*db);
  return report.errors + report.warnings;
}

class CompactRefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TESSMARK_REQUIRE_CORPUS();
    source_ = dir_.File("source.mdb");
    WriteAll(source_, ReadAll(CorpusFile("jet4/delTestV2000.mdb")));
    original_ = ReadAll(source_);
    dest_ = dir_.File("dest.mdb");
  }
  void TearDown() override {
    if (!source_.empty()) {
      EXPECT_TRUE(ReadAll(source_) == original_) << "the source was changed";
    }
  }

  ScratchDir dir_;
  std::string source_, dest_;
  std::vector<uint8_t> original_;
};

TEST_F(CompactRefusalTest, MissingSource) {
  Refused(dir_.File("nothing.mdb"), dest_, kFileNotFound);
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(CompactRefusalTest, DestinationFolderMissingOrPathInvalid) {
  Refused(source_, dir_.File("no/such/folder/d.mdb"), kInvalidPath);
  EXPECT_FALSE(fs::exists(dir_.path() / "no"));
  Refused(source_, "", kInvalidPath);
  Refused(source_, dir_.File("d.mdb") + "/", kInvalidPath);
  // A destination under a plain file cannot be created either.
  Refused(source_, source_ + "/d.mdb", kInvalidPath);
}

TEST_F(CompactRefusalTest, ExistingDestinationIsLeftAlone) {
  WriteAll(dest_, {1, 2, 3});
  Refused(source_, dest_, kDatabaseExists);
  EXPECT_EQ(ReadAll(dest_), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(CompactRefusalTest, DestinationIsTheSourceUnderAnySpelling) {
  Refused(source_, source_, kDatabaseExists);
  Refused(source_, (dir_.path() / "." / "source.mdb").string(), kDatabaseExists);
  Refused(source_, (dir_.path() / ".." / dir_.path().filename() / "source.mdb").string(),
          kDatabaseExists);
  fs::create_symlink(source_, dir_.File("link.mdb"));
  Refused(source_, dir_.File("link.mdb"), kDatabaseExists);
}

TEST_F(CompactRefusalTest, NotADatabase) {
  const std::string text = dir_.File("notes.mdb");
  WriteAll(text, std::vector<uint8_t>(5000, 'x'));
  Refused(text, dest_, kUnrecognizedFormat);
  EXPECT_FALSE(fs::exists(dest_));
  WriteAll(text, {});
  Refused(text, dest_, kUnrecognizedFormat);
  Refused(dir_.path().string(), dest_, kInvalidPath);  // a folder is no database
  EXPECT_FALSE(fs::exists(dest_));
}

// Sets a password in a copy of a sample database: the password area of the
// decoded header differs from its bare mask.
void GivePassword(const std::string& file) {
  std::vector<uint8_t> bytes = ReadAll(file);
  const JetVersion v = DetectVersion(bytes);
  const size_t ps = v == JetVersion::kJet3 ? 2048 : 4096;
  std::span<uint8_t> page0(bytes.data(), ps);
  ApplyHeaderMask(v, page0);
  page0[0x42] ^= 'p';
  page0[0x43] ^= v == JetVersion::kJet3 ? 'w' : 0;
  ApplyHeaderMask(v, page0);
  WriteAll(file, bytes);
}

TEST_F(CompactRefusalTest, PasswordProtected) {
  for (const char* sample : {"jet4/delTestV2000.mdb", "jet3/delTestV1997.mdb"}) {
    const std::string locked = dir_.File("locked.mdb");
    WriteAll(locked, ReadAll(CorpusFile(sample)));
    GivePassword(locked);
    Refused(locked, dest_, kPasswordRequired);
    EXPECT_FALSE(fs::exists(dest_));
    fs::remove(locked);
  }
}

TEST_F(CompactRefusalTest, SourceInUse) {
  for (LockMode mode : {LockMode::kShared, LockMode::kExclusive}) {
    auto held = PlatformEnv()->OpenForRead(source_, mode);
    Refused(source_, dest_, kFileInUse);
    EXPECT_FALSE(fs::exists(dest_));
  }
}

TEST_F(CompactRefusalTest, TruncatedSourceIsDamage) {
  const std::string cut = dir_.File("cut.mdb");
  auto bytes = ReadAll(CorpusFile("jet4/testV2000.mdb"));
  bytes.resize(bytes.size() / 2 + 100);
  WriteAll(cut, bytes);
  const std::string why = Refused(cut, dest_, kDamaged);
  EXPECT_NE(why.find("page"), std::string::npos) << why;
  ExpectRefusalSaysWhatToDo(why, cut, FindingsOf(cut));
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(CompactRefusalTest, ManyFindingsAreCountedNotListed) {
  // Every data page but the catalog's names another owner: one finding
  // per page.
  const std::string bad = dir_.File("bad.mdb");
  auto bytes = original_;
  size_t pages = 0;
  for (size_t p = 2; (p + 1) * 4096 <= bytes.size(); ++p) {
    if (bytes[p * 4096] != 0x01 || bytes[p * 4096 + 4] == 2) continue;
    bytes[p * 4096 + 5] ^= 0x55;
    ++pages;
  }
  WriteAll(bad, bytes);
  const uint64_t findings = FindingsOf(bad);
  ASSERT_GT(findings, 3u) << pages << " data pages";
  const std::string why = Refused(bad, dest_, kDamaged);
  ExpectRefusalSaysWhatToDo(why, bad, findings);
  EXPECT_EQ(ReadAll(bad), bytes) << "the damaged source was changed";
}

TEST_F(CompactRefusalTest, UnreadableCatalogSaysWhatToDoToo) {
  const std::string bad = dir_.File("catalog.mdb");
  auto bytes = original_;
  bytes[2 * 4096 + 4] = 2;  // the catalog's definition continues on itself
  WriteAll(bad, bytes);
  const std::string why = Refused(bad, dest_, kDamaged);
  ExpectRefusalSaysWhatToDo(why, bad, 1);
  EXPECT_NE(why.find("MSysObjects"), std::string::npos) << why;
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(CompactRefusalTest, DamagedTableIsRefusedNamingIt) {
  // Turn the first data page of a user table into something else.
  uint32_t page = 0;
  std::string table;
  {
    auto db = Database::Open(source_);
    for (const CatalogObject* t : db->Tables(false)) {
      const TableDef& d = db->Table(*t);
      const UsageMap owned = ReadUsageMap(db->file(), d.owned_map, d.where());
      if (owned.pages.empty()) continue;
      page = owned.pages.front();
      table = t->name;
      break;
    }
  }
  ASSERT_NE(page, 0u);
  const std::string bad = dir_.File("bad.mdb");
  auto bytes = original_;
  bytes[size_t{page} * 4096] = 0x04;
  WriteAll(bad, bytes);
  const std::string why = Refused(bad, dest_, kDamaged);
  // The copy is written while the source is checked, and the writer trips
  // over the same page; the check's finding is what the user must see.
  ExpectRefusalSaysWhatToDo(why, bad, FindingsOf(bad));
  EXPECT_NE(why.find(std::to_string(page)), std::string::npos) << why;
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(CompactRefusalTest, ReadOnlyDestinationFolder) {
  fs::path ro = dir_.path() / "ro";
  if (geteuid() == 0) {
    // Permission bits do not stop root; sysfs refuses new files to anyone.
    ro = "/sys/kernel";
    if (!fs::is_directory(ro)) GTEST_SKIP() << "running as root and /sys is absent";
  } else {
    fs::create_directory(ro);
    fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
  }
  try {
    CompactDatabase(source_, (ro / "tessmark-d.mdb").string());
    ADD_FAILURE() << "compaction into a read-only folder succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kIoError) << e.description();
  }
  EXPECT_FALSE(fs::exists(ro / "tessmark-d.mdb"));
  if (geteuid() != 0) fs::permissions(ro, fs::perms::owner_all);
}

// An Env that passes everything through but lets a test spoil the writes.
class FaultyEnv : public Env {
 public:
  enum class Fault { kNone, kDiskFull, kIoError, kCorruptRows, kSyncFails };
  explicit FaultyEnv(Fault fault, uint64_t after_bytes = 0) : fault_(fault), after_(after_bytes) {}
  // Whether the copy may be read (and so verified) before it is closed.
  void set_share(bool share) { share_ = share; }
  // Compaction options that use this Env.
  CompactOptions options() {
    CompactOptions o;
    o.env = this;
    return o;
  }

  std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& p, LockMode m) override {
    return base_->OpenForRead(p, m);
  }
  std::unique_ptr<WritableFile> CreateNew(const std::string& p) override {
    return std::make_unique<File>(base_->CreateNew(p), *this);
  }
  void Remove(const std::string& p) override { base_->Remove(p); }
  void RenameReplace(const std::string& a, const std::string& b) override {
    base_->RenameReplace(a, b);
  }
  void MakeDirectory(const std::string& p) override { base_->MakeDirectory(p); }
  bool FileExists(const std::string& p) override { return base_->FileExists(p); }
  uint64_t FileSize(const std::string& p) override { return base_->FileSize(p); }
  void SyncDirectory(const std::string& p) override { base_->SyncDirectory(p); }

 private:
  class File : public WritableFile {
   public:
    File(std::unique_ptr<WritableFile> f, FaultyEnv& env) : f_(std::move(f)), env_(env) {}
    void WriteAt(uint64_t offset, const uint8_t* data, size_t n) override {
      env_.written_ += n;
      if (env_.written_ > env_.after_) {
        if (env_.fault_ == Fault::kDiskFull) throw Error(kDiskFull, "The disk is full.");
        if (env_.fault_ == Fault::kIoError) throw Error(kIoError, "Write failed.");
      }
      if (env_.fault_ == Fault::kCorruptRows) {
        // Jet 4 data pages of user tables (writes may hold several pages):
        // alter the first byte of the fixed area of each one's first row, a
        // value and nothing structural.
        std::vector<uint8_t> copy(data, data + n);
        for (size_t at = 0; at + 4096 <= n; at += 4096) {
          uint8_t* page = copy.data() + at;
          if (offset + at == 0 || page[0] != 0x01 || page[4] < 6 || page[5] != 0 || page[6] != 0 ||
              page[7] != 0)
            continue;
          const size_t row0 = page[14] | (size_t{page[15]} << 8);
          page[row0 + 2] ^= 0x5A;
        }
        f_->WriteAt(offset, copy.data(), n);
        return;
      }
      f_->WriteAt(offset, data, n);
    }
    void Append(const uint8_t* data, size_t n) override { f_->Append(data, n); }
    void Sync() override {
      if (env_.fault_ == Fault::kSyncFails) throw Error(kDiskFull, "The disk is full.");
      f_->Sync();
    }
    void Close() override { f_->Close(); }
    bool ShareForReading() override { return env_.share_ && f_->ShareForReading(); }

   private:
    std::unique_ptr<WritableFile> f_;
    FaultyEnv& env_;
  };

  Env* base_ = PlatformEnv();
  Fault fault_;
  uint64_t after_;
  uint64_t written_ = 0;
  bool share_ = false;
};

// A fault of ours in any phase (a broken invariant, or an exception no
// part of the engine throws, here raised from the phase's progress report;
// while writing, from the writer's thread after its first table) is an
// internal error, never one of the disk or of the copy; the copy is
// removed, even once it is flushed, and the source left as it was.
TEST_F(CompactRefusalTest, FaultInAnyPhaseIsAnInternalError) {
  const std::function<void()> faults[] = {
      [] { throw InternalError("the rows need more pages than planned"); },
      [] { throw std::logic_error("the rows need more pages than planned"); }};
  for (const std::string phase : {"checking", "writing", "verifying", "committing"}) {
    for (const std::function<void()>& fault : faults) {
      CompactOptions options;
      options.progress = [&](const CompactProgress& p) {
        if (PhaseName(p.phase) == phase && (phase != "writing" || p.done > 0)) fault();
      };
      const std::string why = Refused(source_, dest_, kInternalError, options);
      EXPECT_EQ(why,
                "Internal error: the rows need more pages than planned. The compaction was "
                "abandoned; the original database is untouched.")
          << phase;
      EXPECT_FALSE(fs::exists(dest_)) << "copy left behind after a fault while " << phase;
    }
  }
}

TEST_F(CompactRefusalTest, WriteFailuresRemoveThePartialCopy) {
  for (auto [fault, number] : {std::pair{FaultyEnv::Fault::kDiskFull, kDiskFull},
                               std::pair{FaultyEnv::Fault::kIoError, kIoError}}) {
    for (uint64_t after : {uint64_t{0}, uint64_t{40000}}) {
      FaultyEnv env(fault, after);
      Refused(source_, dest_, number, env.options());
      EXPECT_FALSE(fs::exists(dest_)) << "partial copy left behind";
    }
  }
}

// The copy is flushed to disk either before it is verified or, where it
// can be read while still open, during the verification; a failure of
// either removes it.
TEST_F(CompactRefusalTest, CopyThatDiffersIsAbandoned) {
  for (bool share : {false, true}) {
    FaultyEnv env(FaultyEnv::Fault::kCorruptRows);
    env.set_share(share);
    const std::string why = Refused(source_, dest_, kDamaged, env.options());
    EXPECT_NE(why.find("abandoned"), std::string::npos) << why;
    EXPECT_NE(why.find("untouched"), std::string::npos) << why;
    EXPECT_NE(why.find("differ"), std::string::npos)
        << "the content comparison should catch it: " << why;
    EXPECT_FALSE(fs::exists(dest_));
  }
}

TEST_F(CompactRefusalTest, CopyThatCannotBeFlushedIsRemoved) {
  for (bool share : {false, true}) {
    FaultyEnv env(FaultyEnv::Fault::kSyncFails);
    env.set_share(share);
    const std::string why = Refused(source_, dest_, kDiskFull, env.options());
    EXPECT_EQ(why, "The disk is full.") << "the flush's own error, not a verification failure";
    EXPECT_FALSE(fs::exists(dest_)) << (share ? "flushed while verified" : "flushed first");
  }
}

TEST_F(CompactRefusalTest, CopyVerifiedWhileFlushedIsKept) {
  FaultyEnv env(FaultyEnv::Fault::kNone);
  env.set_share(true);
  CompactDatabase(source_, dest_, env.options());
  auto copy = Database::Open(dest_);
  EXPECT_TRUE(CheckDatabase(*copy).sound());
}

}  // namespace
}  // namespace tessmark::jet
