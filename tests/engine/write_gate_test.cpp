// The copy of a compaction is written on one thread while its source is
// checked on another; once the check finds damage it holds the writer's
// gate, then opens it (damage compaction repairs) or closes it (refused).
// A writer that ran on past a held gate, or stayed stuck after the gate
// was opened or closed, would fill the disk with a copy to be thrown away
// or hang the compaction.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "format/env.h"
#include "format/error.h"
#include "format/output_file.h"
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

}  // namespace
}  // namespace tessmark::jet
