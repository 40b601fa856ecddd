// tessmark-cli generate: writes a new, realistic backup catalog (a server's
// qvd.mdb or a client's backup.mdb) for tests, demonstrations and
// benchmarks.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "tessmark/generate.h"

namespace tessmark::cli::generate {

const char kDetails[] =
    "Writes a new backup catalog to OUT.mdb, which must not exist. 'server'\n"
    "shapes the server's catalog (clients, media, jobs, sessions and a large\n"
    "files table, with relationships); 'client' a client's (settings,\n"
    "selections, history and the files of each run).\n\n"
    "The file is written under OUT.mdb.partial, flushed, and only then\n"
    "renamed to OUT.mdb.\n\n"
    "Exit status: 0 done, 1 failed, 2 usage error.";

struct Arguments {
  jet::CatalogOptions options;
  std::string out;
  bool quiet = false;
};

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

// A share from 0% to `most`% ("40%" or "40").
bool ParsePercent(std::string text, double most, double& out) {
  if (!text.empty() && text.back() == '%') text.pop_back();
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != 0 || !(v >= 0) || v > most) return false;
  out = v / 100.0;
  return true;
}

// An option whose text `parse` turns into its value; text that `parse`
// refuses is a usage error saying what the option `needs`.
CLI::Option* AddParsed(CLI::App& app, const std::string& name, const std::string& value,
                       const std::string& help, const std::string& needs,
                       std::function<bool(const std::string&)> parse) {
  return app
      .add_option_function<std::string>(
          name,
          [name, needs, parse](const std::string& text) {
            if (!parse(text)) throw CLI::ValidationError(name, "needs " + needs);
          },
          help)
      ->option_text(value);
}

// An option that takes one of `choices` (shown as "a|b"); `take` is given
// the one chosen.
CLI::Option* AddChoice(CLI::App& app, const std::string& name,
                       const std::vector<std::string>& choices, const std::string& help,
                       std::function<void(const std::string&)> take) {
  std::string shown;
  for (const std::string& c : choices) shown += (shown.empty() ? "" : "|") + c;
  return app.add_option_function<std::string>(name, std::move(take), help)
      ->option_text(shown)
      ->check(CLI::IsMember(choices));
}

int Run(const Arguments& args) {
  const auto start = std::chrono::steady_clock::now();
  jet::CatalogResult result;
  try {
    result = jet::GenerateCatalog(args.out, args.options);
  } catch (const jet::Error& e) {
    ReportError(e);
    return e.number() == jet::kInvalidArgument ? kExitUsage : kExitFailed;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!args.quiet) {
    const jet::BuildStats& s = result.stats;
    std::cout << args.out << ": " << s.bytes << " bytes, " << s.pages << " pages\n"
              << "  bulk rows: " << result.bulk_rows << " (" << s.live_rows
              << " live rows in all tables, " << s.deleted_rows << " deleted, " << s.moved_rows
              << " moved)\n"
              << "  aging:     " << s.free_pages << " free pages, " << s.orphaned_long_values
              << " orphaned long values";
    if (s.stale_pages != 0)
      std::cout << ", " << s.stale_pages << " stale pages (" << s.stale_rows << " rows)";
    std::cout << "\n"
              << "  elapsed:   " << seconds << " s\n";
  }
  return kExitOk;
}

std::function<int()> Define(CLI::App& app) {
  auto args = std::make_shared<Arguments>();
  jet::CatalogOptions& o = args->options;
  app.add_option("OUT", args->out, "the new database file")->required();
  AddChoice(app, "--kind", {"server", "client"}, "the catalog's kind (required)",
            [&o](const std::string& kind) {
              o.kind = kind == "server" ? jet::CatalogKind::kServer : jet::CatalogKind::kClient;
            })
      ->required();
  CLI::Option* size = AddParsed(
      app, "--size", "SIZE",
      "grow the bulk table until the file is about SIZE\n(bytes, or with KB, MB or GB)",
      "a size such as 200MB", [&o](const std::string& t) { return ParseSize(t, o.target_bytes); });
  AddParsed(app, "--rows", "N", "put N rows into the bulk table (default 1000)", "a number of rows",
            [&o](const std::string& t) { return ParseCount(t, o.rows); })
      ->excludes(size);
  AddParsed(app, "--deleted", "P%",
            "delete that share of the rows after writing them, as the\n"
            "desktop product does: their space stays free on its pages,\n"
            "runs of them free whole pages, long values are rewritten\n"
            "and orphaned, index leaves are split and thinned",
            "a share from 0% to 95%",
            [&o](const std::string& t) { return ParsePercent(t, 95, o.deleted); });
  AddParsed(app, "--moved", "P%", "load that share of the live rows as moved rows",
            "a share from 0% to 50%",
            [&o](const std::string& t) { return ParsePercent(t, 50, o.moved); });
  AddParsed(app, "--stale", "P%",
            "load that share of the rows as rows of an earlier version\n"
            "of their table: left on pages its usage map no longer\n"
            "lists, as the desktop product leaves them until compaction",
            "a share from 0% to 50%",
            [&o](const std::string& t) { return ParsePercent(t, 50, o.stale); });
  AddParsed(app, "--seed", "S", "the same seed gives the same file (default 1)", "a number",
            [&o](const std::string& t) { return ParseCount(t, o.seed); });
  AddChoice(app, "--jet", {"3", "4"}, "file format (default 4)", [&o](const std::string& v) {
    o.version = v == "3" ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;
  });
  AddParsed(app, "--password", "P", "protect the database with a password", "a password",
            [&o](const std::string& t) {
              o.password = t;
              return !t.empty();
            });
  app.add_flag("--encrypt", o.encrypt, "encode every page after the header (RC4)");
  app.add_flag("-q,--quiet", args->quiet, "print nothing on success");
  return [args] { return Run(*args); };
}

const CommandRegistration kRegistration{
    {"generate", "write a new, realistic backup catalog (server or client)", kDetails, Define}};

}  // namespace tessmark::cli::generate
