// Page access to an open database file: bounds-checked, decrypted, read on
// demand with positioned reads and kept in a cache of fixed size, so a file
// of any size is read with a few MiB of memory.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "format/bytes.h"
#include "format/damage.h"
#include "format/env.h"
#include "format/header.h"

namespace tessmark::jet {

// One page of the file, as the engine sees it (decrypted; page 0 is the raw
// header page, its decoded form is DatabaseHeader::decoded_page).
struct Page {
  uint32_t number = 0;
  std::vector<uint8_t> data;

  uint8_t type() const { return data.empty() ? 0 : data[0]; }
  ByteView View(const Location& where) const { return ByteView(data, where); }
};
using PageRef = std::shared_ptr<const Page>;

constexpr size_t kDefaultPageCacheBytes = 4u << 20;

class PageFile {
 public:
  // Opens `path` through `env` (the default Env when null), takes a lock of
  // `mode` and reads the header. Throws 3024/3044/3045/3043 from the Env,
  // 3343 for a file that is not a Jet 3 or Jet 4 database.
  static std::unique_ptr<PageFile> Open(const std::string& path, Env* env = nullptr,
                                        LockMode mode = LockMode::kShared,
                                        size_t cache_bytes = kDefaultPageCacheBytes);
  // Takes an already opened file (tests, in-memory images).
  PageFile(std::unique_ptr<RandomAccessFile> file, size_t cache_bytes = kDefaultPageCacheBytes);
  // A second reader of the same open file, with a cache of its own, for
  // another thread (reads are positioned, so one file serves both). It must
  // not outlive this one.
  std::unique_ptr<PageFile> Beside() const;

  const DatabaseHeader& header() const { return header_; }
  JetVersion version() const { return header_.version; }
  bool jet3() const { return header_.jet3(); }
  uint32_t page_size() const { return header_.page_size; }
  // Number of whole pages in the file.
  uint32_t page_count() const { return page_count_; }
  uint64_t file_size() const { return file_size_; }
  // Bytes after the last whole page (a sound file has none).
  uint32_t trailing_bytes() const { return static_cast<uint32_t>(file_size_ % page_size()); }

  // The page `number`; a page outside the file is damage reported at `where`.
  PageRef Get(uint32_t number, const Location& where = {});

  // The file itself, for a second PageFile reading it beside this one
  // (reads are positioned, so one file serves both).
  const RandomAccessFile& file() const { return *file_; }
  // Pages read from the file so far (cache misses), for the curious.
  uint64_t reads() const { return reads_; }

 private:
  // Page storage: a spare one when there is one, else new.
  std::shared_ptr<Page> Recycled();
  // Keeps `page`, which no one else holds, as a spare (up to one run).
  void Recycle(std::shared_ptr<Page> page);
  // `page`, just read from the file, as page `number`, decrypted.
  PageRef Loaded(uint32_t number, std::shared_ptr<Page> page);

  // Pages read with one call when a pass goes through the file in order.
  static constexpr uint32_t kReadAheadPages = 32;

  std::unique_ptr<RandomAccessFile> file_;
  DatabaseHeader header_;
  uint64_t file_size_ = 0;
  uint32_t page_count_ = 0;
  size_t capacity_pages_ = 0;
  uint64_t reads_ = 0;
  std::list<PageRef> lru_;  // most recently used first
  std::unordered_map<uint32_t, std::list<PageRef>::iterator> cached_;
  // Evicted pages no one holds, for reuse: a pass through a large file
  // then loads every page into storage it already has.
  std::vector<std::shared_ptr<Page>> spares_;
  uint32_t run_end_ = 0;  // the page after those the last miss read
};

}  // namespace tessmark::jet
