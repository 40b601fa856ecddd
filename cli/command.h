// Subcommands of tessmark-cli. Each lives in its own source file and
// registers itself with a static CommandRegistration:
//
//   namespace { int Run(const std::vector<std::string>& args); }
//   static tessmark::cli::CommandRegistration reg{{"name", "summary", "usage", Run}};
//
// `args` are the arguments after the subcommand's name. The registry adds
// "--help" handling and the common error report.
#pragma once

#include <string>
#include <vector>

#include "engine/error.h"

namespace tessmark::cli {

struct Command {
  const char* name;
  const char* summary;  // one line for the command list
  const char* usage;    // full help text shown by "--help"
  int (*run)(const std::vector<std::string>& args);
};

struct CommandRegistration {
  explicit CommandRegistration(const Command& command);
};

const std::vector<Command>& Commands();

// Exit codes shared by every subcommand.
enum ExitCode { kExitOk = 0, kExitDamaged = 1, kExitCannotOpen = 2 };

// Prints "tessmark-cli: error N: description" on stderr.
void ReportError(const jet::Error& error);
// Prints "tessmark-cli: <message>" on stderr and returns kExitCannotOpen
// (for usage errors).
int UsageError(const std::string& message);

}  // namespace tessmark::cli
