// Shared by the fuzz harnesses: the one acceptable way for the engine to
// reject an input (an Error with a known number and a description), and an
// in-memory file for inputs that are opened directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <vector>

#include "format/env.h"
#include "tessmark/error.h"

namespace tessmark::fuzz {

// A failure a harness must never see: report it and abort, so libFuzzer
// keeps the input.
[[noreturn]] inline void Fail(const char* what, const char* detail) {
  std::fprintf(stderr, "fuzz: %s: %s\n", what, detail);
  std::abort();
}

// Errors a malformed file may produce: not a database, damaged (naming a
// page or a table), or a password (a header whose password area is not
// blank).
inline void ExpectCleanError(const jet::Error& e) {
  const int32_t n = e.number();
  if (n != jet::kUnrecognizedFormat && n != jet::kDamaged && n != jet::kPasswordRequired)
    Fail("unexpected error number", e.what());
  if (std::strlen(e.what()) == 0) Fail("error without a description", "");
  // Damage names where it was found.
  if (n == jet::kDamaged && std::strstr(e.what(), "page ") == nullptr &&
      std::strstr(e.what(), "table ") == nullptr)
    Fail("damage reported without a location", e.what());
}

class MemoryFile final : public jet::RandomAccessFile {
 public:
  explicit MemoryFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    if (offset >= bytes_.size()) return 0;
    const size_t got = static_cast<size_t>(
        n < bytes_.size() - offset ? n : static_cast<size_t>(bytes_.size() - offset));
    std::memcpy(out, bytes_.data() + offset, got);
    return got;
  }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

// Runs `body`; an Error must be a clean one, anything else thrown is a fault.
template <typename Body>
void Guarded(Body&& body) {
  try {
    body();
  } catch (const jet::Error& e) {
    ExpectCleanError(e);
  } catch (const std::exception& e) {
    Fail("exception other than jet::Error", e.what());
  }
}

}  // namespace tessmark::fuzz
