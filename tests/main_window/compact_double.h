// Control of the stand-in for tessmark::jet::CompactDatabase that the main
// window's tests link while the engine is not part of the tree. It behaves
// like the engine towards its caller: it refuses a missing source, an
// existing destination, a missing destination folder and a file without
// the Jet signature, and otherwise writes the copy completely and flushes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmark::testing {

struct CompactCall {
  std::string source;
  std::string destination;
  bool hourglass;  // the pointer was the hourglass during the call
};

// Calls made since the last ForgetCompactCalls.
const std::vector<CompactCall>& CompactCalls();
void ForgetCompactCalls();
// The next call fails with this error and writes nothing.
void FailNextCompact(int32_t number, const std::string& description);

}  // namespace tessmark::testing
