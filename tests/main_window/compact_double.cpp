// Stand-in for the engine's CompactDatabase; see compact_double.h.
#include "main_window/compact_double.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "engine/compact.h"
#include "engine/error.h"
#include "platform/headless/world.h"

namespace tessmark::testing {
namespace {

std::vector<CompactCall>& Calls() {
  static std::vector<CompactCall> calls;
  return calls;
}

std::optional<jet::Error>& PendingFailure() {
  static std::optional<jet::Error> failure;
  return failure;
}

}  // namespace

const std::vector<CompactCall>& CompactCalls() { return Calls(); }
void ForgetCompactCalls() { Calls().clear(); }
void FailNextCompact(int32_t number, const std::string& description) {
  PendingFailure() = jet::Error(number, description);
}

}  // namespace tessmark::testing

namespace tessmark::jet {

void CompactDatabase(const std::string& source, const std::string& destination,
                     const CompactOptions&) {
  namespace fs = std::filesystem;
  testing::Calls().push_back({source, destination, headless::HourglassShown()});
  if (auto& failure = testing::PendingFailure(); failure) {
    const Error e = *failure;
    failure.reset();
    throw e;
  }
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) {
    throw Error(kFileNotFound, "Could not find file '" + source + "'.");
  }
  if (fs::exists(destination, ec)) throw Error(kDatabaseExists, "Database already exists.");
  if (!fs::is_directory(fs::path(destination).parent_path(), ec)) {
    throw Error(kInvalidPath, "'" + destination + "' is not a valid path.");
  }
  std::ifstream in(source, std::ios::binary);
  const std::string content(std::istreambuf_iterator<char>(in), {});
  if (content.size() < 20 || content.compare(4, 15, "Standard Jet DB") != 0) {
    throw Error(kUnrecognizedFormat, "Unrecognized database format '" + source + "'.");
  }
  {
    std::ofstream out(destination, std::ios::binary);
    out << content;
    out.flush();
    if (!out) {
      out.close();
      fs::remove(destination, ec);
      throw Error(kIoError, "Disk or network error.");
    }
  }
  const int fd = ::open(destination.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace tessmark::jet
