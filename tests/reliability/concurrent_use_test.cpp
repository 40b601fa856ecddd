// Compaction among other processes and awkward files: a database someone
// else holds, two compactions at once, read-only files and folders, missing
// folders, long and non-ASCII paths. Each ends in a clear error or a correct
// result, and the database is never lost.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "format/env.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tests/reliability/child_process.h"
#include "tests/support/content.h"
#include "tests/support/corpus.h"

namespace tessmark::testing {
namespace {

namespace fs = std::filesystem;

const std::string kCli = TESSMARK_CLI;
const std::string kKillable = TESSMARK_KILLABLE_CLI;

class ConcurrentUse : public ::testing::Test {
 protected:
  void SetUp() override {
    sample_ = SharedDir() / "corpus" / "jet4" / "delTestV2000.mdb";
    if (!fs::exists(sample_)) GTEST_SKIP() << CorpusMissingMessage();
    original_ = ReadWholeFile(sample_);
    content_ = DatabaseContent(sample_.string());
    work_ = dir_.path() / "work";
    fs::create_directory(work_);
  }
  fs::path Place(const std::string& name) {
    const fs::path p = work_ / name;
    fs::copy_file(sample_, p);
    return p;
  }
  std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  ChildResult Cli(const std::vector<std::string>& args) {
    return RunChild(kCli, args, {}, dir_.path().string());
  }

  TempDir dir_;
  fs::path sample_, work_;
  std::vector<uint8_t> original_;
  std::string content_;
};

TEST_F(ConcurrentUse, ADatabaseHeldOpenByAnotherIsRefusedUnchanged) {
  const fs::path db = Place("qvd.mdb");
  {
    // The same advisory lock a reader (check, dump, the product) takes.
    auto holder = jet::PlatformEnv()->OpenForRead(db.string(), jet::LockMode::kShared);
    const ChildResult r = Cli({"compact", db.string()});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("error 3045"), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(db), original_);
    EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"qvd.mdb"});
  }
  const ChildResult r = Cli({"compact", "--quiet", db.string()});
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(ConcurrentUse, ASecondCompactionWhileTheFirstRunsIsRefused) {
  const fs::path db = Place("qvd.mdb");
  // The first compaction stops half way, holding the database.
  const uint64_t total = CountCompactionOperations(kKillable, db.string(), dir_.path().string());
  ASSERT_GT(total, 2u);
  Child first(kKillable, {"compact", "--quiet", db.string()},
              {{"TESSMARK_TEST_STOP_AT", std::to_string(total / 2)}}, dir_.path().string());
  ASSERT_TRUE(first.WaitStopped());
  const ChildResult second = Cli({"compact", db.string()});
  EXPECT_EQ(second.code, 1);
  EXPECT_NE(second.err.find("error 3045"), std::string::npos) << second.err;
  const ChildResult reader = Cli({"check", db.string()});
  EXPECT_NE(reader.err.find("error 3045"), std::string::npos) << reader.err;
  EXPECT_EQ(ReadWholeFile(db), original_);
  first.Continue();
  const ChildResult done = first.Wait();
  EXPECT_TRUE(done.exited && done.code == 0) << done.err;
  EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"qvd.mdb"});
  EXPECT_EQ(DatabaseContent(db.string()), content_);
  EXPECT_EQ(CheckClean(db.string()), "");
}

// Passes everything to the platform's Env and, when the compacted copy is
// renamed over the database, notes whether another opener would still be
// refused at that moment.
class RenameWatchingEnv final : public jet::Env {
 public:
  std::unique_ptr<jet::RandomAccessFile> OpenForRead(const std::string& p,
                                                     jet::LockMode m) override {
    return base_->OpenForRead(p, m);
  }
  std::unique_ptr<jet::WritableFile> CreateNew(const std::string& p) override {
    return base_->CreateNew(p);
  }
  void Remove(const std::string& p) override { base_->Remove(p); }
  void RenameReplace(const std::string& from, const std::string& to) override {
    try {
      base_->OpenForRead(to, jet::LockMode::kShared);
      held_at_rename = false;
    } catch (const jet::Error& e) {
      held_at_rename = e.number() == jet::kFileInUse;
    }
    base_->RenameReplace(from, to);
  }
  void MakeDirectory(const std::string& p) override { base_->MakeDirectory(p); }
  bool FileExists(const std::string& p) override { return base_->FileExists(p); }
  uint64_t FileSize(const std::string& p) override { return base_->FileSize(p); }
  void SyncDirectory(const std::string& p) override { base_->SyncDirectory(p); }
  bool CanReplaceOpenFiles() override { return base_->CanReplaceOpenFiles(); }

  bool held_at_rename = false;

 private:
  jet::Env* base_ = jet::PlatformEnv();
};

TEST_F(ConcurrentUse, NoOneCanOpenTheDatabaseBetweenVerificationAndReplacement) {
  const fs::path db = Place("qvd.mdb");
  RenameWatchingEnv env;
  jet::CompactOptions options;
  options.env = &env;
  jet::CompactInPlace(db.string(), options);
  EXPECT_TRUE(env.held_at_rename) << "the database was free while its copy replaced it";
  EXPECT_EQ(DatabaseContent(db.string()), content_);
  EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"qvd.mdb"});
}

TEST_F(ConcurrentUse, ThroughALinkTheDatabaseItselfIsCompacted) {
  const fs::path db = Place("qvd.mdb");
  const fs::path link = dir_.path() / "link.mdb";
  fs::create_symlink(db, link);
  const ChildResult r = Cli({"compact", "--quiet", link.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_TRUE(fs::is_symlink(link)) << "the link was replaced by a file";
  EXPECT_EQ(fs::read_symlink(link), db);
  EXPECT_LT(fs::file_size(db), original_.size());
  EXPECT_EQ(DatabaseContent(db.string()), content_);
  EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"qvd.mdb"});
}

TEST_F(ConcurrentUse, AReadOnlyDatabaseStaysReadOnly) {
  const fs::path db = Place("backup.mdb");
  ::chmod(db.c_str(), 0440);
  const ChildResult r = Cli({"compact", "--quiet", db.string()});
  // Either refused with the file unchanged, or compacted keeping its mode.
  if (r.code == 0) {
    EXPECT_EQ(DatabaseContent(db.string()), content_);
  } else {
    EXPECT_EQ(ReadWholeFile(db), original_) << r.err;
  }
  struct stat st {};
  ASSERT_EQ(::stat(db.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0440u);
  EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"backup.mdb"});
}

TEST_F(ConcurrentUse, AReadOnlyFolderIsRefusedUnchanged) {
  // Permission bits do not stop root; as root the CLI runs as an
  // unprivileged user instead (uid/gid 65534, "nobody").
  const int run_as = ::geteuid() == 0 ? 65534 : -1;
  const fs::path db = Place("qvd.mdb");
  ::chmod(dir_.path().c_str(), 0755);
  ::chmod(db.c_str(), 0666);
  ::chmod(work_.c_str(), 0555);
  const ChildResult r = RunChild(kCli, {"compact", db.string()}, {}, "/tmp", run_as);
  ::chmod(work_.c_str(), 0755);
  ASSERT_TRUE(r.exited);
  if (r.code == 126 || r.code == 127) {
    GTEST_SKIP() << "the CLI could not be run as an unprivileged user (uid 65534) here: " << r.err;
  }
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error 3043"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ermission denied"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeFile(db), original_);
  EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"qvd.mdb"});
}

TEST_F(ConcurrentUse, MissingFoldersAndFoldersAsFilesAreClearErrors) {
  const fs::path missing = work_ / "no such folder" / "qvd.mdb";
  ChildResult r = Cli({"compact", missing.string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error 3024"), std::string::npos) << r.err;
  r = Cli({"compact", work_.string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error 3044"), std::string::npos) << r.err;
  const fs::path db = Place("qvd.mdb");
  r = Cli({"compact", db.string(), (work_ / "absent" / "out.mdb").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error 3044"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeFile(db), original_);
  EXPECT_EQ(FilesIn(work_), std::vector<std::string>{"qvd.mdb"});
}

TEST_F(ConcurrentUse, LongAndNonAsciiPathsCompactCorrectly) {
  // Well over 260 characters, as Windows' classic limit would refuse.
  fs::path deep = work_;
  while (deep.string().size() < 300) deep /= "Sicherungskopie des Katalogs";
  fs::create_directories(deep);
  const std::vector<fs::path> targets = {deep / "qvd.mdb",
                                         dir_.path() / u8"Ablage ü" / u8"Katalog äöü 数据 ñ.mdb"};
  for (const fs::path& db : targets) {
    SCOPED_TRACE(db.string());
    fs::create_directories(db.parent_path());
    fs::copy_file(sample_, db);
    const ChildResult r = Cli({"compact", "--quiet", db.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(CheckClean(db.string()), "");
    EXPECT_EQ(DatabaseContent(db.string()), content_);
    EXPECT_LT(fs::file_size(db), original_.size());
    EXPECT_EQ(FilesIn(db.parent_path()), std::vector<std::string>{db.filename().string()});
  }
}

}  // namespace
}  // namespace tessmark::testing
