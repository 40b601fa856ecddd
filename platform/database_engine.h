// The database engine as the program calls it: Windows paths in, errors
// with the engine's number and description out.
#pragma once

#include <string>

namespace tessmark::platform {

// Compacts the Jet database at `source` into a new file at `destination`,
// both Windows paths, with the engine's default options. On success the
// destination holds the compacted database, written and flushed; the source
// is never written to. Raises RuntimeError with the engine's number and
// description on failure.
void CompactDatabase(const std::string& source, const std::string& destination);

}  // namespace tessmark::platform
