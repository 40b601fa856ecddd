// The engine call: maps the Windows paths to the host's and translates the
// engine's errors into the runtime's.
#include "platform/database_engine.h"

#include <exception>
#include <optional>

#include "platform/forms_runtime.h"
#include "platform/host_path.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"

namespace tessmark::platform {
namespace {

std::string EnginePathOf(const std::string& windows_path) {
  std::optional<std::string> host = HostPathOf(windows_path);
  if (!host) throw RuntimeError(jet::kInvalidPath, "'" + windows_path + "' is not a valid path.");
  return *host;
}

}  // namespace

void CompactDatabase(const std::string& source, const std::string& destination) {
  const std::string from = EnginePathOf(source);
  const std::string to = EnginePathOf(destination);
  try {
    jet::CompactDatabase(from, to);
  } catch (...) {
    const jet::Error e = jet::ErrorOf(std::current_exception());
    throw RuntimeError(e.number(), e.description());
  }
}

}  // namespace tessmark::platform
