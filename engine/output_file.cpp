#include "engine/output_file.h"

#include <vector>

#include "engine/error.h"
#include "engine/rc4.h"

namespace tessmark::jet {

OutputFile::OutputFile(Env* env, std::string path, const DatabaseHeader& header)
    : env_(env != nullptr ? env : DefaultEnv()),
      path_(std::move(path)),
      page_size_(header.page_size),
      key_(header.database_key) {
  file_ = env_->CreateNew(path_);
}

OutputFile::~OutputFile() {
  if (!committed_) Discard();
}

void OutputFile::Write(uint32_t page, std::span<const uint8_t> image) {
  if (image.size() != page_size_ || page >= next_page_)
    throw Error(kIoError, "internal: a page image of the wrong size or number was written");
  const uint64_t offset = uint64_t{page} * page_size_;
  if (page == 0 || key_ == 0) {
    file_->WriteAt(offset, image.data(), image.size());
  } else {
    std::vector<uint8_t> sealed(image.begin(), image.end());
    const uint32_t k = key_ ^ page;
    const uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                            static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
    Rc4Apply(key, sealed);
    file_->WriteAt(offset, sealed.data(), sealed.size());
  }
  bytes_written_ += image.size();
}

void OutputFile::Commit() {
  file_->Sync();
  file_->Close();
  file_.reset();
  committed_ = true;
}

void OutputFile::Discard() noexcept {
  try {
    if (file_) file_->Close();
  } catch (...) {
  }
  file_.reset();
  try {
    env_->Remove(path_);
  } catch (...) {
  }
}

}  // namespace tessmark::jet
