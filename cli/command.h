// Subcommands of tessmark-cli. Each lives in its own source file, in a
// namespace of its own (the sources are compiled as one), and registers
// itself with a static CommandRegistration:
//
//   namespace tessmark::cli::name {
//   std::function<int()> Define(CLI::App& app);  // declares options, returns the run
//   CommandRegistration registration{{"name", "summary", kDetails, Define}};
//   }
//
// The registry parses the command line with CLI11, which also writes each
// command's --help from its options; it reports usage errors and the
// engine's errors the same way for every command.
#pragma once

#include <functional>
#include <vector>

#include "format/error.h"

namespace CLI {
class App;
}

namespace tessmark::cli {

struct Command {
  const char* name;
  const char* summary;  // one line, for the command list and the command's help
  const char* details;  // the rest of the command's help, after its options
  // Declares the command's arguments and options on `app` and returns what
  // runs the command once the command line has been parsed into them.
  std::function<int()> (*define)(CLI::App& app);
};

struct CommandRegistration {
  explicit CommandRegistration(const Command& command);
};

const std::vector<Command>& Commands();

// Exit codes shared by every subcommand; a usage error exits with 2.
enum ExitCode { kExitOk = 0, kExitDamaged = 1, kExitCannotOpen = 2 };

// Prints "tessmark-cli: error N: description" on stderr.
void ReportError(const jet::Error& error);

}  // namespace tessmark::cli
