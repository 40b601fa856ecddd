// Where the engine finds a file the program names by its Windows path: the
// path itself on Windows; on the headless layer, the host file that the
// path's mapped drive shows, or nothing when the path is on no mapped drive
// or is malformed.
#pragma once

#include <optional>
#include <string>

namespace tessmark::platform {

#ifdef _WIN32
inline std::optional<std::string> HostPathOf(const std::string& windows_path) {
  return windows_path;
}
#else
std::optional<std::string> HostPathOf(const std::string& windows_path);  // headless/file_system.cpp
#endif

}  // namespace tessmark::platform
