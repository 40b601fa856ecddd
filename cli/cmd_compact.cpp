// tessmark-cli compact: writes a compacted, verified copy of a database, or
// compacts it in place through a temporary file beside it.
#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "cli/command.h"
#include "cli/json_text.h"
#include "cli/progress_line.h"
#include "tessmark/compact.h"

namespace tessmark::cli::compact {

const char kDetails[] =
    "With DESTINATION, writes the compacted copy there (it must not exist)\n"
    "and leaves SOURCE as it is. Without, compacts SOURCE in place: the copy\n"
    "is written beside it, verified, flushed and then renamed over it, so a\n"
    "failure at any point leaves the original under its name.\n\n"
    "Exit status: 0 done, 1 refused or failed, 2 usage error.";

// Seconds of each phase, in the order of the phases. Checking and writing
// run side by side, and so do flushing and verifying where they can.
Json PhaseSeconds(const jet::CompactStats& stats) {
  Json out = Json::object();
  for (const jet::PhaseTime& t : stats.phases) out[t.phase] = t.seconds;
  return out;
}

struct Arguments {
  std::string source;
  std::optional<std::string> destination;  // none: in place
  bool reset_autonumber = false;
  std::optional<std::string> password;
  bool json = false;
  bool quiet = false;
};

int Run(const Arguments& args) {
  jet::CompactOptions options;
  options.reset_autonumber = args.reset_autonumber;
  options.password = args.password;
  const std::string& source = args.source;
  const bool in_place = !args.destination;
  const std::string& destination = in_place ? source : *args.destination;

  std::error_code size_error;
  const uintmax_t size = std::filesystem::file_size(source, size_error);
  ProgressLine line(std::cerr,
                    WantsProgress(args.quiet, StderrIsTerminal(), size_error ? 0 : size));
  const auto start = std::chrono::steady_clock::now();
  auto since_start = [&start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  // The percent shown is that of the latest phase to count pages (the
  // writer's while the copy is written, then the copy's check).
  uint64_t pages_done = 0, pages_total = 0;
  options.progress = [&](const jet::CompactProgress& p) {
    if (p.pages_total > 0) {
      pages_done = p.pages_done;
      pages_total = p.pages_total;
    } else if (p.phase == jet::Phase::kVerify) {
      pages_done = pages_total = 0;
    }
    line.Show(std::string("compacting, ") + jet::PhaseName(p.phase), pages_done, pages_total);
  };
  jet::CompactStats stats;
  options.stats = &stats;
  try {
    if (in_place) {
      jet::CompactInPlace(source, options);
    } else {
      jet::CompactDatabase(source, destination, options);
    }
  } catch (const jet::Error& e) {
    line.Clear();
    if (e.number() != jet::kDamaged) {
      ReportError(e);
      return kExitFailed;
    }
    // What to do about a damaged database: the commands that say more and
    // that recover it.
    ReportError(jet::Error(e.number(), e.description() + " The command tessmark-cli check \"" +
                                           source +
                                           "\" lists every finding, and tessmark-cli repair can "
                                           "recover the database into a new file."));
    return kExitFailed;
  }
  line.Clear();
  const double elapsed = since_start();
  const uint64_t reclaimed =
      stats.bytes_before > stats.bytes_after ? stats.bytes_before - stats.bytes_after : 0;
  if (args.json) {
    const Json summary = {{"source", source},
                          {"destination", destination},
                          {"in_place", in_place},
                          {"pages_before", stats.pages_before},
                          {"pages_after", stats.pages_after},
                          {"bytes_before", stats.bytes_before},
                          {"bytes_after", stats.bytes_after},
                          {"bytes_reclaimed", reclaimed},
                          {"tables", stats.tables},
                          {"rows", stats.rows},
                          {"elapsed_seconds", elapsed},
                          {"phase_seconds", PhaseSeconds(stats)}};
    std::cout << JsonText(summary) << "\n";
  } else if (!args.quiet) {
    std::cout << "Compacted " << source;
    if (!in_place) std::cout << " into " << destination;
    std::cout << "\n  pages:   " << stats.pages_before << " -> " << stats.pages_after
              << "\n  bytes:   " << stats.bytes_before << " -> " << stats.bytes_after
              << " (reclaimed " << reclaimed << ")"
              << "\n  tables:  " << stats.tables << "\n  rows:    " << stats.rows
              << "\n  elapsed: " << elapsed << " s\n";
  }
  return kExitOk;
}

std::function<int()> Define(CLI::App& app) {
  auto args = std::make_shared<Arguments>();
  app.add_option("SOURCE", args->source, "the database to compact")->required();
  app.add_option("DESTINATION", args->destination, "where to write the compacted copy");
  app.add_flag("--reset-autonumber", args->reset_autonumber,
               "restart AutoNumber columns after their highest value");
  app.add_option("--password", args->password,
                 "the database's password (the copy keeps it); without it a database "
                 "protected by a password is refused with 3031");
  app.add_flag("--json", args->json, "print the summary as one JSON object");
  app.add_flag("--quiet", args->quiet, "print nothing on success");
  return [args] { return Run(*args); };
}

const CommandRegistration kRegistration{
    {"compact", "write a compacted, verified copy of a database (or compact it in place)", kDetails,
     Define}};

}  // namespace tessmark::cli::compact
