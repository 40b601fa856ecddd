// Fuzz harness: compact arbitrary bytes in place, in memory. A rejected
// input must leave the file exactly as it was and nothing beside it; an
// accepted one must leave a database that checks clean (the compaction has
// verified its content against the original already).
#include <cstddef>
#include <cstdint>

#include "tessmark/compact.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/content.h"
#include "tests/support/mem_env.h"

using namespace tessmark;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = "data/catalog.mdb";
  const std::vector<uint8_t> original(data, data + size);
  testing::MemEnv env;
  env.PutFile(path, original);
  jet::CompactOptions options;
  options.env = &env;
  bool compacted = false;
  fuzz::Guarded([&] {
    jet::CompactInPlace(path, options);
    compacted = true;
  });
  if (env.Files() != std::vector<std::string>{path}) fuzz::Fail("files left behind", path.c_str());
  if (!compacted) {
    if (env.GetFile(path) != original) fuzz::Fail("a refused compaction changed the file", "");
    return 0;
  }
  const std::string verdict = testing::CheckClean(path, &env);
  if (!verdict.empty()) fuzz::Fail("the compacted database does not check clean", verdict.c_str());
  return 0;
}
