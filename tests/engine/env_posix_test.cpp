// The POSIX file environment: every operation's failures carry the Jet
// error number the engine promises, and writes reach the file. And the
// index sort's scratch files, which go through whatever Env is in use.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <span>
#include <vector>

#include "db/entry_sorter.h"
#include "format/env.h"
#include "tessmark/error.h"
#include "tests/support/corpus.h"
#include "tests/support/fault_env.h"
#include "tests/support/mem_env.h"

namespace tessmark::jet {
namespace {

int32_t NumberOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(PosixEnv, ErrorNumbersOfEachOperation) {
  Env* env = PlatformEnv();
  testing::TempDir dir;
  const std::string existing = dir.Write("a.mdb", {1, 2, 3}).string();
  const std::string missing = (dir.path() / "missing.mdb").string();
  const std::string under_file = existing + "/x";
  const std::string long_name = (dir.path() / std::string(300, 'n')).string();

  EXPECT_EQ(NumberOf([&] { env->OpenForRead(missing, LockMode::kShared); }), kFileNotFound);
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(under_file, LockMode::kShared); }), kInvalidPath);
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(long_name, LockMode::kShared); }), kInvalidPath);
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(dir.path().string(), LockMode::kShared); }),
            kInvalidPath);
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(std::string("a\0b", 3), LockMode::kShared); }),
            kInvalidPath);
  EXPECT_EQ(NumberOf([&] { env->CreateNew(existing); }), kDatabaseExists);
  EXPECT_EQ(NumberOf([&] { env->CreateNew(under_file); }), kInvalidPath);
  EXPECT_EQ(NumberOf([&] { env->CreateNew((dir.path() / "no/such/dir.mdb").string()); }),
            kFileNotFound);
  EXPECT_EQ(NumberOf([&] { env->Remove(missing); }), kFileNotFound);
  EXPECT_EQ(NumberOf([&] { env->RenameReplace(missing, existing); }), kFileNotFound);
  EXPECT_EQ(NumberOf([&] { env->FileSize(missing); }), kFileNotFound);
  EXPECT_EQ(NumberOf([&] { env->SyncDirectory(missing); }), kFileNotFound);
  EXPECT_FALSE(env->FileExists(missing));
  EXPECT_TRUE(env->FileExists(existing));
  EXPECT_EQ(env->FileSize(existing), 3u);
}

TEST(PosixEnv, WriteSyncRenameOverAndRead) {
  Env* env = PlatformEnv();
  testing::TempDir dir;
  const std::string target = dir.Write("db.mdb", {9, 9}).string();
  const std::string temp = (dir.path() / "db.tmp").string();
  {
    std::unique_ptr<WritableFile> f = env->CreateNew(temp);
    const uint8_t a[] = {1, 2, 3, 4};
    f->Append(a, 4);
    const uint8_t b[] = {7};
    f->WriteAt(1, b, 1);
    f->Append(a, 2);
    f->Sync();
    f->Close();
  }
  env->RenameReplace(temp, target);
  env->SyncDirectory(dir.path().string());
  EXPECT_FALSE(env->FileExists(temp));
  std::unique_ptr<RandomAccessFile> r = env->OpenForRead(target, LockMode::kShared);
  ASSERT_EQ(r->Size(), 6u);
  uint8_t got[8] = {};
  EXPECT_EQ(r->Read(0, 8, got), 6u) << "a read past the end returns what there is";
  EXPECT_EQ(std::vector<uint8_t>(got, got + 6), (std::vector<uint8_t>{1, 7, 3, 4, 1, 2}));
  EXPECT_EQ(r->Read(100, 4, got), 0u);

  const std::string sub = (dir.path() / "sub").string();
  env->MakeDirectory(sub);
  EXPECT_EQ(NumberOf([&] { env->MakeDirectory(sub); }), kDatabaseExists);
}

TEST(PosixEnv, FileBeingWrittenByANewFileHolderIsInUse) {
  Env* env = PlatformEnv();
  testing::TempDir dir;
  const std::string path = (dir.path() / "new.mdb").string();
  std::unique_ptr<WritableFile> writer = env->CreateNew(path);
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(path, LockMode::kShared); }), kFileInUse);
  writer->Close();
  writer.reset();
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(path, LockMode::kShared); }), 0);
}

// A file read only through Read, so that the generic scattered read runs.
class PlainReads final : public RandomAccessFile {
 public:
  explicit PlainReads(const RandomAccessFile& f) : f_(f) {}
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    return f_.Read(offset, n, out);
  }
  uint64_t Size() const override { return f_.Size(); }

 private:
  const RandomAccessFile& f_;
};

TEST(PosixEnv, ScatteredReadsFillBuffersInTurnUpToTheEnd) {
  Env* env = PlatformEnv();
  testing::TempDir dir;
  std::vector<uint8_t> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const std::string path = dir.Write("pages.bin", bytes).string();
  std::unique_ptr<RandomAccessFile> file = env->OpenForRead(path, LockMode::kShared);
  const PlainReads plain(*file);
  for (const RandomAccessFile* f : {static_cast<const RandomAccessFile*>(file.get()),
                                    static_cast<const RandomAccessFile*>(&plain)}) {
    std::vector<uint8_t> a(4096, 0xEE), b(4096, 0xEE), c(4096, 0xEE);
    const std::span<uint8_t> buffers[] = {a, b, c};
    // From 3000: the first buffer full, the second holding the last 2904
    // bytes of the file, the third untouched.
    ASSERT_EQ(f->ReadScattered(3000, buffers), 7000u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), bytes.begin() + 3000));
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 2904, bytes.begin() + 7096));
    EXPECT_EQ(b[2904], 0xEE);
    EXPECT_EQ(c[0], 0xEE);
    EXPECT_EQ(f->ReadScattered(20000, buffers), 0u);
    // One buffer, running past the end.
    std::fill(c.begin(), c.end(), 0xEE);
    ASSERT_EQ(f->ReadScattered(9000, std::span(&buffers[2], 1)), 1000u);
    EXPECT_TRUE(std::equal(c.begin(), c.begin() + 1000, bytes.begin() + 9000));
    EXPECT_EQ(c[1000], 0xEE);
  }
}

TEST(PosixEnv, NewFileSharedForReadingAdmitsReadersOnly) {
  Env* env = PlatformEnv();
  testing::TempDir dir;
  const std::string path = (dir.path() / "new.mdb").string();
  std::unique_ptr<WritableFile> writer = env->CreateNew(path);
  const uint8_t page[16] = {1, 2, 3};
  writer->WriteAt(0, page, sizeof(page));
  ASSERT_TRUE(writer->ShareForReading());
  std::unique_ptr<RandomAccessFile> reader = env->OpenForRead(path, LockMode::kShared);
  uint8_t back[16] = {};
  EXPECT_EQ(reader->Read(0, sizeof(back), back), sizeof(back));
  EXPECT_EQ(back[2], 3);
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(path, LockMode::kExclusive); }), kFileInUse);
  writer->Sync();
  writer->Close();
  reader.reset();
  EXPECT_EQ(NumberOf([&] { env->OpenForRead(path, LockMode::kExclusive); }), 0);
}

TEST(Env, DefaultCanBeReplacedAndRestored) {
  EXPECT_EQ(DefaultEnv(), PlatformEnv());
  class NoFiles : public Env {
   public:
    std::unique_ptr<RandomAccessFile> OpenForRead(const std::string&, LockMode) override {
      throw Error(kIoError, "no files here");
    }
    std::unique_ptr<WritableFile> CreateNew(const std::string&) override {
      throw Error(kIoError, "no files here");
    }
    void Remove(const std::string&) override {}
    void RenameReplace(const std::string&, const std::string&) override {}
    void MakeDirectory(const std::string&) override {}
    bool FileExists(const std::string&) override { return false; }
    uint64_t FileSize(const std::string&) override { return 0; }
    void SyncDirectory(const std::string&) override {}
  } none;
  SetDefaultEnv(&none);
  EXPECT_EQ(DefaultEnv(), &none);
  EXPECT_EQ(NumberOf([&] { DefaultEnv()->OpenForRead("x", LockMode::kShared); }), kIoError);
  SetDefaultEnv(nullptr);
  EXPECT_EQ(DefaultEnv(), PlatformEnv());
}

// Adds 20000 entries of 14 bytes, in an order far from sorted, to a sorter
// of 64 KiB (several spilled runs), drains it and returns what came out.
std::vector<std::vector<uint8_t>> SortSpilling(Env& env, size_t* runs = nullptr) {
  EntrySorter sorter(1, env, "/db/new.mdb");
  for (uint32_t i = 0; i < 20000; ++i) {
    const uint32_t k = (i * 7919u) % 20000u;
    std::vector<uint8_t> e(14, static_cast<uint8_t>(i % 3));
    for (size_t b = 0; b < 4; ++b) e[b] = static_cast<uint8_t>(k >> (24 - 8 * b));
    sorter.Add(e);
  }
  if (runs != nullptr) *runs = sorter.spilled_runs();
  std::vector<std::vector<uint8_t>> out;
  sorter.Drain([&](std::span<const uint8_t> e) { out.emplace_back(e.begin(), e.end()); });
  return out;
}

TEST(EntrySorter, SpillsRunsBesideTheNewFileMergesThemAndRemovesThem) {
  testing::MemEnv mem;
  mem.MakeDirectory("/db");
  size_t runs = 0;
  const auto out = SortSpilling(mem, &runs);
  EXPECT_GT(runs, 2u);
  ASSERT_EQ(out.size(), 20000u);
  EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
  EXPECT_EQ(out.front()[3], 0);
  EXPECT_EQ(out.back()[3], static_cast<uint8_t>(19999 & 0xFF));
  EXPECT_TRUE(mem.Files().empty()) << mem.Files().front();
}

TEST(EntrySorter, AFailingScratchFileIsReportedAndNothingIsLeft) {
  // The operation to fail: the second creation (one run exists), a write,
  // the opening for the merge, and a read during it.
  for (const char* op : {"create", "write", "open", "read"}) {
    SCOPED_TRACE(op);
    testing::MemEnv mem;
    mem.MakeDirectory("/db");
    testing::FaultEnv counter(&mem);
    SortSpilling(counter);
    uint64_t fail_at = 0;
    int seen = 0;
    for (const std::string& line : counter.log()) {
      if (line.find(std::string(" ") + op + " /db/new.mdb.sort-scratch") == std::string::npos)
        continue;
      if (++seen == 2) fail_at = std::stoull(line);
    }
    ASSERT_NE(fail_at, 0u);
    testing::FaultEnv env(&mem, {.fail_at = fail_at});
    try {
      SortSpilling(env);
      ADD_FAILURE() << "the failure was not reported";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kIoError);
      EXPECT_NE(e.description().find("scratch file"), std::string::npos) << e.description();
    }
    EXPECT_TRUE(mem.Files().empty()) << mem.Files().front();
  }
}

}  // namespace
}  // namespace tessmark::jet
