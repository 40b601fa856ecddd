#include "format/page_file.h"

#include <algorithm>
#include <array>

#include "format/bytes_write.h"
#include "format/rc4.h"
#include "tessmark/error.h"

namespace tessmark::jet {

std::unique_ptr<PageFile> PageFile::Open(const std::string& path, Env* env, LockMode mode,
                                         size_t cache_bytes) {
  if (env == nullptr) env = DefaultEnv();
  return std::make_unique<PageFile>(env->OpenForRead(path, mode), cache_bytes);
}

namespace {

// An open file as a second reader sees it: the same file, read with
// positioned reads, which any number of threads may issue at once.
class SharedFileView final : public RandomAccessFile {
 public:
  explicit SharedFileView(const RandomAccessFile& file) : file_(file) {}
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    return file_.Read(offset, n, out);
  }
  size_t ReadScattered(uint64_t offset,
                       std::span<const std::span<uint8_t>> buffers) const override {
    return file_.ReadScattered(offset, buffers);
  }
  uint64_t Size() const override { return file_.Size(); }

 private:
  const RandomAccessFile& file_;
};

}  // namespace

std::unique_ptr<PageFile> PageFile::Beside() const {
  return std::make_unique<PageFile>(std::make_unique<SharedFileView>(*file_));
}

PageFile::PageFile(std::unique_ptr<RandomAccessFile> file, size_t cache_bytes)
    : file_(std::move(file)) {
  file_size_ = file_->Size();
  uint8_t first[0x18] = {};
  const size_t got = file_->Read(0, sizeof(first), first);
  const JetVersion version = DetectVersion(std::span<const uint8_t>(first, got));
  const uint32_t size = version == JetVersion::kJet3 ? 2048 : 4096;
  std::vector<uint8_t> page0(size);
  if (file_->Read(0, size, page0.data()) != size) {
    throw Error(kUnrecognizedFormat,
                "The file is not a database in a recognized format (it is shorter than one "
                "page).");
  }
  header_ = ParseHeader(page0);
  const uint64_t pages = file_size_ / header_.page_size;
  // Row pointers hold 24-bit page numbers; nothing beyond can be addressed.
  page_count_ = static_cast<uint32_t>(std::min<uint64_t>(pages, 0x1000000));
  capacity_pages_ = std::max<size_t>(16, cache_bytes / header_.page_size);
  cached_.reserve(capacity_pages_ + kReadAheadPages);
}

PageRef PageFile::Get(uint32_t number, const Location& where) {
  if (number >= page_count_) {
    ThrowDamaged(where, "a reference to page " + std::to_string(number) +
                            " lies beyond the end of the file (" + std::to_string(page_count_) +
                            " pages)");
  }
  auto it = cached_.find(number);
  if (it != cached_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return *it->second;
  }
  // A miss right after the pages the last miss brought in continues a pass
  // through the file: read a run of pages with one call instead of one call
  // per page. Any other miss reads just its page.
  const uint32_t run =
      number == run_end_ ? std::min<uint32_t>(kReadAheadPages, page_count_ - number) : 1;
  const uint32_t ps = page_size();
  // The run is read straight into the storage of its pages.
  std::array<std::shared_ptr<Page>, kReadAheadPages> fresh;
  std::array<std::span<uint8_t>, kReadAheadPages> buffers;
  for (uint32_t i = 0; i < run; ++i) {
    fresh[i] = Recycled();
    fresh[i]->data.resize(ps);
    buffers[i] = fresh[i]->data;
  }
  const size_t got = file_->ReadScattered(uint64_t{number} * ps, std::span(buffers.data(), run));
  if (got < ps) {
    for (uint32_t i = 0; i < run; ++i) Recycle(std::move(fresh[i]));
    throw Error(kIoError, "Could not read page " + std::to_string(number) +
                              " of the database: the file ended early.");
  }
  const auto whole = static_cast<uint32_t>(got / ps);
  run_end_ = number + whole;
  PageRef wanted;
  // The wanted page goes in last, so it is the most recently used.
  for (uint32_t i = run; i-- > 0;) {
    if (i >= whole || (i != 0 && cached_.count(number + i) != 0)) {
      Recycle(std::move(fresh[i]));
      continue;
    }
    PageRef page = Loaded(number + i, std::move(fresh[i]));
    lru_.push_front(page);
    cached_[number + i] = lru_.begin();
    if (i == 0) wanted = std::move(page);
  }
  while (lru_.size() > capacity_pages_) {
    cached_.erase(lru_.back()->number);
    // A page nobody else holds gives its storage to the next load.
    if (lru_.back().use_count() == 1) Recycle(std::const_pointer_cast<Page>(lru_.back()));
    lru_.pop_back();
  }
  return wanted;
}

std::shared_ptr<Page> PageFile::Recycled() {
  if (spares_.empty()) return std::make_shared<Page>();
  std::shared_ptr<Page> page = std::move(spares_.back());
  spares_.pop_back();
  return page;
}

void PageFile::Recycle(std::shared_ptr<Page> page) {
  if (page != nullptr && spares_.size() < kReadAheadPages) spares_.push_back(std::move(page));
}

PageRef PageFile::Loaded(uint32_t number, std::shared_ptr<Page> page) {
  page->number = number;
  ++reads_;
  if (number != 0 && header_.encrypted()) {
    const uint32_t k = header_.database_key ^ number;
    std::array<uint8_t, 4> key{};
    PutU32(key, 0, k);
    Rc4Apply(key, page->data);
  }
  return page;
}

}  // namespace tessmark::jet
