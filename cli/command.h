// Subcommands of tessmark-cli. Each lives in its own source file, in a
// namespace of its own (the sources are compiled as one), and registers
// itself with a static CommandRegistration:
//
//   namespace tessmark::cli::name {
//   std::function<int()> Define(CLI::App& app);  // declares options, returns the run
//   const CommandRegistration kRegistration{{"name", "summary", kDetails, Define}};
//   }
//
// The registry parses the command line with CLI11, which also writes each
// command's --help from its options; it reports usage errors and the
// engine's errors the same way for every command.
#pragma once

#include <functional>
#include <vector>

#include "tessmark/error.h"

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

// The exit codes of every command, in one list: 0 done, 1 the command ran
// but what it found or wrote is not all that was hoped for, 2 nothing was
// done.
enum ExitCode : int {
  kExitOk = 0,
  kExitDamaged = 1,         // check, dump: the database is damaged
  kExitFailed = 1,          // compact, generate: refused or failed
  kExitLost = 1,            // repair: written, but not every row came back unchanged
  kExitCannotOpen = 2,      // check, dump, info: the database cannot be opened
  kExitNothingWritten = 2,  // repair: nothing was written
  kExitUsage = 2,           // a usage error, for every command
};

// Prints "tessmark-cli: error N: description" on stderr.
void ReportError(const jet::Error& error);

}  // namespace tessmark::cli
