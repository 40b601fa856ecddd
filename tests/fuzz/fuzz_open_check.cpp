// Fuzz harness: open arbitrary bytes as a database, check it, and read every
// row of every table as a dump would.
#include <cstddef>
#include <cstdint>

#include "check/checker.h"
#include "db/database.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmark;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Guarded([&] {
    auto file = std::make_unique<jet::PageFile>(
        std::make_unique<fuzz::MemoryFile>(std::vector<uint8_t>(data, data + size)));
    jet::Database db(std::move(file));
    jet::CheckOptions options;
    options.max_findings = 50;
    const jet::CheckReport report = jet::CheckDatabase(db, options);
    for (const jet::Finding& f : report.findings) {
      if (f.message.empty()) fuzz::Fail("finding without a message", f.Text().c_str());
    }
    for (const jet::CatalogObject* t : db.Tables()) {
      fuzz::Guarded([&] {
        const jet::TableDef& def = db.Table(*t);
        db.ForEachRow(def, [&](const jet::TableRow& row) { db.DecodeValues(def, row); });
      });
    }
  });
  return 0;
}
