// Compaction: writes a compacted, verified copy of a Jet database.
#pragma once

#include <string>

namespace tessmark::jet {

struct CompactOptions {
  // Restart every AutoNumber column after its highest remaining value, as
  // the desktop product's own compaction does. Off by default: a catalog
  // must never hand out a number it has already used.
  bool reset_autonumber = false;
};

// Compacts the database at `source` into a new file at `destination`.
// On success the destination holds a compacted database whose content has
// been verified against the source; the source is never written to.
// On failure throws Error and leaves no destination file behind.
void CompactDatabase(const std::string& source, const std::string& destination,
                     const CompactOptions& options = {});

}  // namespace tessmark::jet
