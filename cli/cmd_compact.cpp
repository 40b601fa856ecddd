// tessmark-cli compact: writes a compacted, verified copy of a database, or
// compacts it in place through a temporary file beside it.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define TESSMARK_ISATTY _isatty
#else
#include <unistd.h>
#define TESSMARK_ISATTY isatty
#endif

#include "cli/command.h"
#include "engine/compact.h"
#include "engine/env.h"

namespace tessmark::cli {
namespace {

const char kUsage[] =
    "Usage: tessmark-cli compact [--reset-autonumber] [--json] [--quiet] SOURCE [DESTINATION]\n\n"
    "Compacts the database SOURCE. With DESTINATION, writes the compacted copy\n"
    "there (it must not exist) and leaves SOURCE as it is. Without, compacts\n"
    "SOURCE in place: the copy is written beside it, verified, flushed and then\n"
    "renamed over it, so a failure at any point leaves the original under its\n"
    "name.\n\n"
    "  --reset-autonumber  restart AutoNumber columns after their highest value\n"
    "  --json              print the summary as one JSON object\n"
    "  --quiet             print nothing on success\n\n"
    "Exit status: 0 done, 1 refused or failed, 2 usage error.\n";

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

int Run(const std::vector<std::string>& args) {
  jet::CompactOptions options;
  bool json = false, quiet = false;
  std::vector<std::string> paths;
  for (const std::string& a : args) {
    if (a == "--reset-autonumber") {
      options.reset_autonumber = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--quiet") {
      quiet = true;
    } else if (a.size() > 1 && a[0] == '-') {
      UsageError("compact: unknown option '" + a + "'");
      return kExitUsage;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty() || paths.size() > 2) {
    UsageError("compact: expected SOURCE [DESTINATION]");
    return kExitUsage;
  }
  const std::string source = paths[0];
  const bool in_place = paths.size() == 1;

  const bool show_progress = !quiet && !json && TESSMARK_ISATTY(2);
  if (show_progress) {
    options.progress = [](const jet::CompactProgress& p) {
      std::cerr << "\rcompacting: " << p.phase;
      if (p.total > 1) std::cerr << " " << p.done << "/" << p.total;
      std::cerr << "        " << std::flush;
    };
  }
  jet::CompactStats stats;
  options.stats = &stats;
  const auto start = std::chrono::steady_clock::now();
  std::string destination = in_place ? source : paths[1];
  try {
    if (in_place) {
      jet::CompactInPlace(source, options);
    } else {
      jet::CompactDatabase(source, destination, options);
    }
  } catch (const jet::Error& e) {
    if (show_progress) std::cerr << "\n";
    ReportError(e);
    return kExitFailed;
  }
  if (show_progress) std::cerr << "\r" << std::string(40, ' ') << "\r";
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const uint64_t reclaimed =
      stats.bytes_before > stats.bytes_after ? stats.bytes_before - stats.bytes_after : 0;
  if (json) {
    std::ostringstream o;
    o << "{\"source\":" << JsonString(source) << ",\"destination\":" << JsonString(destination)
      << ",\"in_place\":" << (in_place ? "true" : "false")
      << ",\"pages_before\":" << stats.pages_before << ",\"pages_after\":" << stats.pages_after
      << ",\"bytes_before\":" << stats.bytes_before << ",\"bytes_after\":" << stats.bytes_after
      << ",\"bytes_reclaimed\":" << reclaimed << ",\"tables\":" << stats.tables
      << ",\"rows\":" << stats.rows << ",\"elapsed_seconds\":" << elapsed << "}\n";
    std::cout << o.str();
  } else if (!quiet) {
    std::cout << "Compacted " << source;
    if (!in_place) std::cout << " into " << destination;
    std::cout << "\n  pages:   " << stats.pages_before << " -> " << stats.pages_after
              << "\n  bytes:   " << stats.bytes_before << " -> " << stats.bytes_after
              << " (reclaimed " << reclaimed << ")"
              << "\n  tables:  " << stats.tables << "\n  rows:    " << stats.rows
              << "\n  elapsed: " << elapsed << " s\n";
  }
  return 0;
}

const CommandRegistration kRegistration{
    {"compact", "write a compacted, verified copy of a database (or compact it in place)", kUsage,
     Run}};

}  // namespace
}  // namespace tessmark::cli
