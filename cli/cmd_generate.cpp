// tessmark-cli generate: writes a new, realistic backup catalog (a server's
// qvd.mdb or a client's backup.mdb) for tests, demonstrations and
// benchmarks.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "engine/catalog_generator.h"

namespace tessmark::cli {
namespace {

const char kUsage[] =
    "Usage: tessmark-cli generate --kind server|client [--size SIZE | --rows N]\n"
    "                             [--deleted P%] [--moved P%] [--seed S] [--jet 3|4]\n"
    "                             [--password P] [--encrypt] [--quiet] OUT.mdb\n\n"
    "Writes a new backup catalog to OUT.mdb, which must not exist. 'server'\n"
    "shapes the server's catalog (clients, media, jobs, sessions and a large\n"
    "files table, with relationships); 'client' a client's (settings,\n"
    "selections, history and the files of each run).\n\n"
    "  --size SIZE    grow the bulk table until the file is about SIZE\n"
    "                 (bytes, or with KB, MB or GB)\n"
    "  --rows N       put N rows into the bulk table (default 1000)\n"
    "  --deleted P%   load that share of the rows as deleted rows, and age the\n"
    "                 file with free pages and orphaned long values\n"
    "  --moved P%     load that share of the live rows as moved rows\n"
    "  --seed S       the same seed gives the same file (default 1)\n"
    "  --jet 3|4      file format (default 4)\n"
    "  --password P   protect the database with a password\n"
    "  --encrypt      encode every page after the header (RC4)\n"
    "  --quiet        print nothing on success\n\n"
    "The file is written under OUT.mdb.partial, flushed, and only then\n"
    "renamed to OUT.mdb.\n\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

bool ParseCount(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  for (char ch : text)
    if (ch < '0' || ch > '9') return false;
  out = std::stoull(text);
  return true;
}

bool ParseSize(std::string text, uint64_t& out) {
  uint64_t unit = 1;
  auto ends = [&](const char* suffix, uint64_t u) {
    const std::string s(suffix);
    if (text.size() > s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0) {
      text.resize(text.size() - s.size());
      unit = u;
      return true;
    }
    return false;
  };
  ends("GB", 1ull << 30) || ends("MB", 1ull << 20) || ends("KB", 1ull << 10) || ends("B", 1);
  // A whole number, or a decimal one with a unit ("1.5GB").
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text.front() == '.' || text.back() == '.')
    return false;
  const double v = std::strtod(text.c_str(), nullptr) * static_cast<double>(unit);
  if (!(v >= 1) || v > static_cast<double>(4ull << 30)) return false;
  out = static_cast<uint64_t>(v);
  return true;
}

bool ParsePercent(std::string text, double& out) {
  if (!text.empty() && text.back() == '%') text.pop_back();
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != 0 || !(v >= 0) || v > 100) return false;
  out = v / 100.0;
  return true;
}

int Run(const std::vector<std::string>& args) {
  jet::CatalogOptions options;
  std::string out, kind;
  bool quiet = false, have_size = false, have_rows = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--kind") {
      if (!value(kind)) return UsageError("generate: --kind needs 'server' or 'client'");
    } else if (a == "--size") {
      if (!value(v) || !ParseSize(v, options.target_bytes))
        return UsageError("generate: --size needs a size such as 200MB");
      have_size = true;
    } else if (a == "--rows") {
      if (!value(v) || !ParseCount(v, options.rows))
        return UsageError("generate: --rows needs a number of rows");
      have_rows = true;
    } else if (a == "--deleted") {
      if (!value(v) || !ParsePercent(v, options.deleted) || options.deleted > 0.95)
        return UsageError("generate: --deleted needs a share from 0% to 95%");
    } else if (a == "--moved") {
      if (!value(v) || !ParsePercent(v, options.moved) || options.moved > 0.5)
        return UsageError("generate: --moved needs a share from 0% to 50%");
    } else if (a == "--seed") {
      if (!value(v) || !ParseCount(v, options.seed))
        return UsageError("generate: --seed needs a number");
    } else if (a == "--jet") {
      if (!value(v) || (v != "3" && v != "4")) return UsageError("generate: --jet needs 3 or 4");
      options.version = v == "3" ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;
    } else if (a == "--password") {
      if (!value(options.password) || options.password.empty())
        return UsageError("generate: --password needs a password");
    } else if (a == "--encrypt") {
      options.encrypt = true;
    } else if (a == "--quiet" || a == "-q") {
      quiet = true;
    } else if (a.rfind("--", 0) == 0) {
      return UsageError("generate: unknown option '" + a + "'");
    } else if (out.empty()) {
      out = a;
    } else {
      return UsageError("generate: only one output file can be written at a time");
    }
  }
  if (kind != "server" && kind != "client")
    return UsageError("generate: --kind server or --kind client is required");
  options.kind = kind == "server" ? jet::CatalogKind::kServer : jet::CatalogKind::kClient;
  if (have_size && have_rows) return UsageError("generate: give either --size or --rows, not both");
  if (out.empty()) return UsageError("generate: no output file given");

  const auto start = std::chrono::steady_clock::now();
  jet::CatalogResult result;
  try {
    result = jet::GenerateCatalog(out, options);
  } catch (const jet::Error& e) {
    ReportError(e);
    return e.number() == jet::kInvalidArgument ? kExitUsage : kExitFailed;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!quiet) {
    const jet::BuildStats& s = result.stats;
    std::cout << out << ": " << s.bytes << " bytes, " << s.pages << " pages\n"
              << "  bulk rows: " << result.bulk_rows << " (" << s.live_rows
              << " live rows in all tables, " << s.deleted_rows << " deleted, " << s.moved_rows
              << " moved)\n"
              << "  aging:     " << s.free_pages << " free pages, " << s.orphaned_long_values
              << " orphaned long values\n"
              << "  elapsed:   " << seconds << " s\n";
  }
  return kExitOk;
}

CommandRegistration registration{
    {"generate", "write a new, realistic backup catalog (server or client)", kUsage, Run}};

}  // namespace
}  // namespace tessmark::cli
