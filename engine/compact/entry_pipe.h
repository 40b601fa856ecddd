// Index entries on their way from the thread that reads and orders them to
// the one that builds the index tree, handed over in blocks, so that each
// side works while the other does. Entries keep their order, so the tree is
// the one a single thread would build.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <vector>

#include "format/format.h"

namespace tessmark::jet {

class EntryPipe {
 public:
  // Thrown to the producer when the consumer has given up.
  struct Stopped {};

  // Producer: the next entry, its key, its row and how many bytes the key
  // shares with the one before. The key is copied.
  void Add(std::span<const uint8_t> key, RowPointer row, size_t shared) {
    filling_.items.push_back({static_cast<uint32_t>(filling_.keys.size()),
                              static_cast<uint32_t>(key.size()), row.Stored(),
                              static_cast<uint32_t>(shared)});
    filling_.keys.insert(filling_.keys.end(), key.begin(), key.end());
    if (filling_.items.size() == kBlockEntries) Send();
  }
  // Producer: the last entry was added, or `failure` ended the producer
  // (the consumer gets it once every entry added before it is taken).
  void Close(std::exception_ptr failure = nullptr);

  // Consumer: hands each entry to `take(key, row, shared)` in order until
  // the producer closes the pipe; rethrows the producer's failure.
  template <typename Take>
  void Drain(Take&& take) {
    Block block;
    while (Receive(block)) {
      for (const Item& i : block.items) {
        take(std::span<const uint8_t>(block.keys).subspan(i.offset, i.length),
             RowPointer::FromStored(i.row), size_t{i.shared});
      }
    }
  }
  // Consumer: gives up; the producer's next hand-over throws Stopped.
  void Stop();

 private:
  // Large blocks: each hand-over may wake a sleeping thread, which costs
  // far more than the entries it brings (a few hundred per index of a
  // million rows; four blocks in flight hold well under 4 MiB of keys).
  static constexpr size_t kBlockEntries = 16384;
  static constexpr size_t kBlocksInFlight = 4;
  struct Item {
    uint32_t offset, length, row, shared;
  };
  struct Block {
    std::vector<uint8_t> keys;
    std::vector<Item> items;
  };
  // Hands the block being filled over, waiting while enough are in flight.
  void Send();
  // Recycles `block` and takes the next one; false once the pipe is closed
  // and empty.
  bool Receive(Block& block);

  Block filling_;  // the producer's
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Block> full_;
  std::vector<Block> spare_;
  bool closed_ = false;
  bool stopped_ = false;
  // Who sleeps on `changed_`, so that only a sleeper is woken.
  bool producer_waits_ = false;
  bool consumer_waits_ = false;
  std::exception_ptr failure_;
};

}  // namespace tessmark::jet
