// The copy of a compaction is written on one thread while its source is
// checked on another; once the check finds damage it holds the writer's
// gate, then opens it (damage compaction repairs) or closes it (refused).
// A writer that ran on past a held gate, or stayed stuck after the gate
// was opened or closed, would fill the disk with a copy to be thrown away
// or hang the compaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "compact/compact_phases.h"
#include "compact/entry_pipe.h"
#include "format/env.h"
#include "format/output_file.h"
#include "tessmark/error.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace std::chrono_literals;

class WriteGateTest : public ::testing::Test {
 protected:
  WriteGateTest() : out_(DefaultEnv(), dir_.File("copy.mdb"), DatabaseHeader{}) {
    out_.set_gate(&gate_);
    page_ = out_.Allocate();
  }
  // Writes one page on another thread.
  std::future<void> WriteLater() {
    return std::async(std::launch::async,
                      [this] { out_.Write(page_, std::vector<uint8_t>(4096, 0x11)); });
  }

  compact_test::ScratchDir dir_;
  WriteGate gate_;
  OutputFile out_;
  uint32_t page_ = 0;
};

TEST_F(WriteGateTest, AHeldGateHoldsTheWriteUntilItOpens) {
  gate_.Hold();
  std::future<void> write = WriteLater();
  EXPECT_EQ(write.wait_for(100ms), std::future_status::timeout) << "the write ran past the gate";
  gate_.Open();
  ASSERT_EQ(write.wait_for(10s), std::future_status::ready) << "the opened gate left it waiting";
  EXPECT_NO_THROW(write.get());
  out_.Commit();
  EXPECT_EQ(compact_test::ReadAll(dir_.File("copy.mdb")).size(), 4096u);
}

TEST_F(WriteGateTest, ClosingTheGateStopsTheWaitingWriteAndAllLaterOnes) {
  gate_.Hold();
  std::future<void> write = WriteLater();
  EXPECT_EQ(write.wait_for(100ms), std::future_status::timeout);
  gate_.Close();
  ASSERT_EQ(write.wait_for(10s), std::future_status::ready) << "the closed gate left it waiting";
  EXPECT_THROW(write.get(), Error);
  EXPECT_THROW(out_.Write(page_, std::vector<uint8_t>(4096, 0x22)), Error);
}

TEST_F(WriteGateTest, HoldingAfterTheVerdictChangesNothing) {
  gate_.Close();
  gate_.Hold();  // a late finding must not reopen a refused copy for waiting
  EXPECT_THROW(out_.Write(page_, std::vector<uint8_t>(4096, 0x33)), Error);
}

// When phases that ran side by side both fail, the earlier phase's error is
// the one reported: a writer stopped by the check's refusal fails too, and
// its error must not hide the refusal. Phases run on threads and on the
// calling thread alike.
TEST(PhaseRunnerTest, TheEarliestFailedPhaseIsReportedWhereverEachRan) {
  struct Case {
    Phase threaded;  // started on a thread of its own
    bool threaded_fails;
    Phase here;  // run on the calling thread
    bool here_fails;
    std::optional<Phase> reported;
  };
  const Case cases[] = {
      {Phase::kWrite, true, Phase::kCheck, true, Phase::kCheck},
      {Phase::kWrite, true, Phase::kCheck, false, Phase::kWrite},
      {Phase::kFlush, true, Phase::kVerify, true, Phase::kFlush},
      {Phase::kFlush, false, Phase::kVerify, true, Phase::kVerify},
      {Phase::kWrite, false, Phase::kCheck, false, std::nullopt},
  };
  for (const Case& c : cases) {
    std::vector<std::string> heard;
    PhaseRunner runner([&](const CompactProgress& p) { heard.emplace_back(PhaseName(p.phase)); });
    auto body = [](Phase phase, bool fails) {
      return [phase, fails] {
        if (fails) throw Error(kIoError, PhaseName(phase));
      };
    };
    runner.Start(c.threaded, 1, body(c.threaded, c.threaded_fails));
    runner.Run(c.here, 1, body(c.here, c.here_fails));
    runner.Join();
    const std::optional<PhaseFailure> failure = runner.Failure();
    ASSERT_EQ(failure.has_value(), c.reported.has_value()) << PhaseName(c.here);
    EXPECT_EQ(runner.Times().size(), 2u) << "a failed phase is timed as well";
    EXPECT_EQ(heard.size(), 2u) << "each phase is heard of as it begins";
    if (!failure) continue;
    EXPECT_EQ(failure->phase, *c.reported);
    try {
      std::rethrow_exception(failure->error);
    } catch (const Error& e) {
      EXPECT_EQ(e.description(), PhaseName(*c.reported)) << "the error is the phase's own";
    }
  }
}

TEST(PhaseRunnerTest, RunBothRethrowsThisThreadsErrorFirst) {
  auto fail = [](const char* what) { return [what] { throw Error(kIoError, what); }; };
  auto quiet = [] {};
  auto reported = [](const std::function<void()>& here, const std::function<void()>& there) {
    try {
      RunBoth(here, there);
    } catch (const Error& e) {
      return e.description();
    }
    return std::string("none");
  };
  EXPECT_EQ(reported(fail("here"), fail("there")), "here");
  EXPECT_EQ(reported(quiet, fail("there")), "there");
  EXPECT_EQ(reported(fail("here"), quiet), "here");
  EXPECT_EQ(reported(quiet, quiet), "none");
}

// An index is rebuilt by two threads joined by a pipe of entries: one that
// lost entries or their order would build a wrong tree, one that stranded
// a side after the other failed would hang the compaction.
TEST(EntryPipeTest, EntriesArriveInOrderAndFailuresReachTheOtherSide) {
  constexpr uint32_t kEntries = 40000;  // several blocks
  {
    EntryPipe pipe;
    std::thread producer([&] {
      for (uint32_t i = 0; i < kEntries; ++i) {
        const std::vector<uint8_t> key(i % 7, static_cast<uint8_t>(i));
        pipe.Add(key, RowPointer::FromStored(i + 256), i % 5);
      }
      pipe.Close(std::make_exception_ptr(std::runtime_error("walk failed")));
    });
    uint32_t seen = 0;
    bool in_order = true;
    try {
      pipe.Drain([&](std::span<const uint8_t> key, RowPointer row, size_t shared) {
        in_order = in_order && row.Stored() == seen + 256 && shared == seen % 5 &&
                   key.size() == seen % 7 &&
                   std::ranges::all_of(key, [&](uint8_t b) { return b == uint8_t(seen); });
        ++seen;
      });
      ADD_FAILURE() << "the producer's failure was lost";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "walk failed");
    }
    producer.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(seen, kEntries) << "every entry added before the failure is taken first";
  }
  {
    // The consumer gives up while the producer waits on a full pipe.
    EntryPipe pipe;
    auto producer = std::async(std::launch::async, [&] {
      try {
        for (uint32_t i = 0; i < 100 * kEntries; ++i) pipe.Add({}, RowPointer{1, 0}, 0);
      } catch (const EntryPipe::Stopped&) {
        pipe.Close();
        return true;
      }
      return false;
    });
    std::this_thread::sleep_for(50ms);
    pipe.Stop();
    ASSERT_EQ(producer.wait_for(10s), std::future_status::ready) << "the producer was stranded";
    EXPECT_TRUE(producer.get());
  }
}

}  // namespace
}  // namespace tessmark::jet
