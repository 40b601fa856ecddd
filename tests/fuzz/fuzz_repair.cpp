// Fuzz harness: repair arbitrary bytes into a new file, in memory. A refused
// input must leave the source as it was and nothing beside it; a repaired
// one must leave the source as it was, a destination that checks clean and
// a report whose row counts add up.
// A repair abandoned because its own result failed the check is a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tessmark/repair.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/content.h"
#include "tests/support/mem_env.h"

using namespace tessmark;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = "data/catalog.mdb";
  const std::string destination = "data/repaired.mdb";
  const std::vector<uint8_t> original(data, data + size);
  testing::MemEnv env;
  env.PutFile(source, original);
  jet::RepairOptions options;
  options.env = &env;
  bool repaired = false;
  jet::RepairReport report;
  try {
    report = jet::RepairDatabase(source, destination, options);
    repaired = true;
  } catch (const jet::Error& e) {
    if (e.number() == jet::kInternalError ||
        std::strncmp(e.what(), "The repair was abandoned", 24) == 0)
      fuzz::Fail("the repair failed on its own result", e.what());
    fuzz::ExpectCleanError(e);
  } catch (const std::exception& e) {
    fuzz::Fail("exception other than jet::Error", e.what());
  }
  if (env.GetFile(source) != original) fuzz::Fail("the source was written", "");
  const std::vector<std::string> expected =
      repaired ? std::vector<std::string>{source, destination} : std::vector<std::string>{source};
  if (env.Files() != expected) fuzz::Fail("files left behind or missing", destination.c_str());
  if (!repaired) return 0;
  if (report.rows_recovered !=
          report.rows_unchanged + report.rows_changed + report.rows_found_outside ||
      report.found_outside.size() != report.rows_found_outside)
    fuzz::Fail("the report's row counts do not add up", "");
  const std::string verdict = testing::CheckClean(destination, &env);
  if (!verdict.empty()) fuzz::Fail("the repaired database does not check clean", verdict.c_str());
  return 0;
}
