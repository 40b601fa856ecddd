// RandC under failing I/O. Every file operation of one press of Compact
// Database is numbered in one sequence: the window's own calls (the two
// existence tests, the replace) through the headless layer's hook, and the
// engine's through its Env. Each of them is made to fail in turn, just once
// and from then on, as an input/output error and as a full disk.
//
// After every run the name holds the original byte for byte, or the
// verified compacted database; nothing else is left beside it but the
// compacted copy of a failed replace (which is kept on purpose) or a file
// the system would not let the engine remove. Exactly one box is shown:
// the completion box, or RandC's error box with a number: 3026 for a full
// disk and 3043 for an I/O error, whichever step failed: the file search,
// the engine or the replace.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "format/env.h"
#include "main_window/form1_fixture.h"
#include "tessmark/error.h"
#include "tessmark/generate.h"
#include "tests/support/content.h"
#include "tests/support/corpus.h"
#include "tests/support/fault_env.h"

namespace tessmark::testing {
namespace {

namespace fs = std::filesystem;
using headless::FileOperation;
using headless::ScriptedUser;

constexpr char kPath[] = "C:\\Data\\qvd.mdb";
constexpr char kName[] = "Data\\qvd.mdb";
constexpr char kTemporaryName[] = "Data\\qvd1.mdb";
constexpr char kCompleted[] = "Compact Database Operation Completed";

struct FaultCase {
  int32_t error;  // jet::kIoError or jet::kDiskFull
  bool persistent;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << (c.error == jet::kDiskFull ? "disk full" : "I/O error")
       << (c.persistent ? " from then on" : " once");
}

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  return std::string(info.param.error == jet::kDiskFull ? "DiskFull" : "IoError") +
         (info.param.persistent ? "FromThenOn" : "Once");
}

FaultOp CountedAs(FileOperation operation) {
  switch (operation) {
    case FileOperation::kFind:
      return FaultOp::kFind;
    case FileOperation::kDelete:
      return FaultOp::kRemove;
    case FileOperation::kMove:
      return FaultOp::kRename;
    case FileOperation::kCreateDirectory:
      return FaultOp::kMakeDir;
    case FileOperation::kSetAttributes:
      return FaultOp::kWrite;
  }
  return FaultOp::kWrite;
}

// Numbers the window's file calls and the engine's in one FaultEnv for as
// long as it lives. A failure planned for a window's call comes back as
// the Win32 error a system gives for it.
class OneCount {
 public:
  explicit OneCount(FaultEnv& env) {
    jet::SetDefaultEnv(&env);
    headless::SetFileOperationHook([&env](FileOperation op, const std::string& path) -> DWORD {
      try {
        env.Step(CountedAs(op), path);
      } catch (const jet::Error& e) {
        if (e.number() == jet::kDiskFull) return ERROR_DISK_FULL;
        return op == FileOperation::kFind ? ERROR_GEN_FAILURE : ERROR_WRITE_FAULT;
      }
      return ERROR_SUCCESS;
    });
  }
  ~OneCount() {
    headless::SetFileOperationHook({});
    jet::SetDefaultEnv(nullptr);
  }
  OneCount(const OneCount&) = delete;
  OneCount& operator=(const OneCount&) = delete;
};

// The first failed operation of a log line by line ("12 write <path> FAILED"):
// its number and its kind; number 0 when nothing failed.
struct Failure {
  uint64_t number = 0;
  std::string kind;
  std::string line;
};

Failure FirstFailure(const std::vector<std::string>& log) {
  for (const std::string& line : log) {
    if (line.size() < 7 || line.compare(line.size() - 7, 7, " FAILED") != 0) continue;
    Failure f;
    std::istringstream in(line);
    in >> f.number >> f.kind;
    f.line = line;
    return f;
  }
  return {};
}

bool RemovalFailed(const std::vector<std::string>& log, const std::string& name_part) {
  for (const std::string& line : log) {
    if (line.find(" remove ") != std::string::npos && line.find(name_part) != std::string::npos &&
        line.find(" FAILED") != std::string::npos) {
      return true;
    }
  }
  return false;
}

class RandCFaultsTest : public Form1Test, public ::testing::WithParamInterface<FaultCase> {
 protected:
  // The database the runs start from: the corpus sample with deleted rows,
  // or a small aged client catalog from the builder when the corpus is absent.
  void SetUp() override {
    Form1Test::SetUp();
    original_file_ = originals_.path() / "original.mdb";
    const fs::path sample = SharedDir() / "corpus" / "jet4" / "delTestV2000.mdb";
    if (fs::exists(sample)) {
      fs::copy_file(sample, original_file_);
    } else {
      jet::CatalogOptions options;
      options.kind = jet::CatalogKind::kClient;
      options.rows = 20;
      options.deleted = 0.4;
      options.seed = 7;
      jet::GenerateCatalog(original_file_.string(), options);
    }
    original_bytes_ = ReadWholeFile(original_file_);
    original_content_ = DatabaseContent(original_file_.string());
  }

  // A fresh window (a completed run closes it) and the original database
  // in place of whatever the last run left.
  void StartRun() {
    form_.reset();
    user_.reset();
    headless::Reset();
    headless::MapDrive('C', drive_c_);
    user_ = std::make_unique<ScriptedUser>();
    fs::remove_all(OnC("Data"));
    fs::create_directories(OnC("Data"));
    fs::copy_file(original_file_, OnC(kName));
    fs::permissions(OnC(kName), fs::perms::owner_write, fs::perm_options::add);
    platform::StartProgram();
    form_ = std::make_unique<Form1>();
    ASSERT_TRUE(form_->Create(SW_SHOWNORMAL));
    EnterPath(kPath);
  }

  // Presses Compact Database with every file operation numbered by `env`
  // and answers the box it brings.
  void PressCompact(FaultEnv& env) {
    hourglass_at_box_ = true;
    OneCount count(env);
    user().AnswerNextMessageBox([this](const headless::MessageBoxRecord&) {
      hourglass_at_box_ = ScriptedUser::Hourglass();
      return IDOK;
    });
    ASSERT_TRUE(Click(main_window::kCommand2));
  }

  bool Intact() const { return ReadWholeFile(OnC(kName)) == original_bytes_; }

  // Empty when `relative` holds a sound database with the original's
  // content. The compaction is deterministic, so each distinct file is
  // checked once and the verdict kept.
  std::string CompactedCopyProblem(const std::string& relative) {
    const fs::path host = OnC(relative);
    std::vector<uint8_t> bytes = ReadWholeFile(host);
    auto known = verdicts_.find(bytes);
    if (known != verdicts_.end()) return known->second;
    std::string problem;
    const std::string check = CheckClean(host.string());
    if (!check.empty()) {
      problem = "does not check clean: " + check;
    } else if (DatabaseContent(host.string()) != original_content_) {
      problem = "content differs from the original";
    }
    verdicts_.emplace(std::move(bytes), problem);
    return problem;
  }

  std::vector<std::string> FilesInData() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(OnC("Data"))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir originals_;
  fs::path original_file_;
  std::vector<uint8_t> original_bytes_;
  std::string original_content_;
  bool hourglass_at_box_ = true;
  std::map<std::vector<uint8_t>, std::string> verdicts_;
};

TEST_P(RandCFaultsTest, EveryFileOperationFailsInTurnAndTheDatabaseSurvives) {
  const FaultCase fc = GetParam();

  // A clean run numbers the operations.
  StartRun();
  FaultEnv counter(jet::PlatformEnv());
  PressCompact(counter);
  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  ASSERT_EQ(headless::MessageBoxes()[0].text, kCompleted);
  ASSERT_FALSE(Intact()) << "the sample must change when compacted, or success proves nothing";
  ASSERT_EQ(CompactedCopyProblem(kName), "");
  const std::vector<std::string>& clean_log = counter.log();
  const uint64_t total = counter.operations();
  ASSERT_GT(total, 10u);
  // The command's existence test and RandC's come first, the replace last.
  ASSERT_EQ(clean_log[0].rfind("1 find C:\\Data\\qvd.mdb", 0), 0u) << clean_log[0];
  ASSERT_EQ(clean_log[1].rfind("2 find C:\\Data\\qvd.mdb", 0), 0u) << clean_log[1];
  ASSERT_EQ(clean_log.back(), std::to_string(total) + " rename C:\\Data\\qvd1.mdb");

  int completed_runs = 0;
  int failed_runs = 0;
  for (uint64_t n = 1; n <= total; ++n) {
    SCOPED_TRACE("failing operation " + clean_log[n - 1] + " of " + std::to_string(total));
    StartRun();
    FaultPlan plan;
    plan.fail_at = n;
    plan.persistent = fc.persistent;
    plan.error = fc.error;
    plan.spare_reads_and_removals = fc.error == jet::kDiskFull;
    FaultEnv env(jet::PlatformEnv(), plan);
    PressCompact(env);
    const Failure first = FirstFailure(env.log());

    ASSERT_EQ(headless::MessageBoxes().size(), 1u) << "exactly one box per press";
    const headless::MessageBoxRecord box = headless::MessageBoxes()[0];
    EXPECT_FALSE(hourglass_at_box_) << "the pointer is the default before the box shows";
    EXPECT_FALSE(ScriptedUser::Hourglass());
    ASSERT_TRUE(Exists(kName)) << "the database is gone";
    const bool intact = Intact();

    if (box.text == kCompleted) {
      ++completed_runs;
      EXPECT_EQ(box.caption, "Tessmark");
      EXPECT_FALSE(intact) << "completion was reported but the database was not compacted";
      EXPECT_EQ(CompactedCopyProblem(kName), "");
      EXPECT_FALSE(IsWindow(form_->hwnd())) << "the window closes after completion";
      EXPECT_EQ(FilesInData(), std::vector<std::string>{"qvd.mdb"});
      // Only the command's own existence test may fail unseen: when its
      // test cannot be evaluated, the command goes on into RandC, whose
      // search then decides.
      if (first.number != 0) {
        EXPECT_EQ(first.number, 1u) << "a failure was swallowed: " << first.line;
        EXPECT_EQ(env.failures(), 1u) << "a failure was swallowed";
      }
      continue;
    }

    ++failed_runs;
    ASSERT_NE(first.number, 0u) << "an error was reported but nothing failed: " << box.text;
    EXPECT_EQ(box.caption, "RandC");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONHAND));
    const std::string prefix =
        fc.error == jet::kDiskFull ? "3026 Description: " : "3043 Description: ";
    EXPECT_EQ(box.text.rfind(prefix, 0), 0u) << box.text;
    EXPECT_GT(box.text.size(), prefix.size()) << "the description is missing";
    EXPECT_TRUE(IsWindow(form_->hwnd())) << "the window stays open after an error";
    EXPECT_FALSE(ScriptedUser::ProgramEnded());
    EXPECT_TRUE(intact) << "a failed run must leave the original as it was";
    EXPECT_EQ(PathBox(), kPath);

    if (first.kind == "rename") {
      // The replace failed: the compacted copy stays under the temporary
      // name beside the untouched original, never deleted by the program.
      EXPECT_EQ(FilesInData(), (std::vector<std::string>{"qvd.mdb", "qvd1.mdb"}));
      EXPECT_EQ(CompactedCopyProblem(kTemporaryName), "") << "the copy left by a failed replace";
    } else if (RemovalFailed(env.log(), "qvd1.mdb")) {
      // The engine tried to remove its unfinished copy and the system
      // refused; there is nothing more it could do.
      EXPECT_EQ(FilesInData(), (std::vector<std::string>{"qvd.mdb", "qvd1.mdb"}));
    } else {
      EXPECT_EQ(FilesInData(), std::vector<std::string>{"qvd.mdb"})
          << "the engine left its unfinished copy behind";
    }
  }
  EXPECT_GT(failed_runs, 0);
  RecordProperty("operations", static_cast<int>(total));
  RecordProperty("completed_runs", completed_runs);
  RecordProperty("failed_runs", failed_runs);
}

INSTANTIATE_TEST_SUITE_P(Faults, RandCFaultsTest,
                         ::testing::Values(FaultCase{jet::kIoError, false},
                                           FaultCase{jet::kIoError, true},
                                           FaultCase{jet::kDiskFull, false},
                                           FaultCase{jet::kDiskFull, true}),
                         CaseName);

}  // namespace
}  // namespace tessmark::testing
