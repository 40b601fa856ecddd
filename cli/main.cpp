// tessmark-cli: command-line front end of the Jet engine.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/command.h"

namespace tessmark::cli {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

CommandRegistration::CommandRegistration(const Command& command) { Registry().push_back(command); }

const std::vector<Command>& Commands() { return Registry(); }

void ReportError(const jet::Error& error) {
  std::cerr << "tessmark-cli: error " << error.number() << ": " << error.description() << "\n";
}

int UsageError(const std::string& message) {
  std::cerr << "tessmark-cli: " << message << "\nTry 'tessmark-cli --help'.\n";
  return kExitCannotOpen;
}

namespace {

void PrintHelp() {
  std::cout << "Usage: tessmark-cli COMMAND [ARGUMENTS]\n\n"
               "Reads, checks and compacts Jet 3 / Jet 4 database files (.mdb).\n\n"
               "Commands:\n";
  for (const Command& c : Commands()) {
    std::string name = c.name;
    name.resize(std::max<size_t>(name.size() + 2, 10), ' ');
    std::cout << "  " << name << c.summary << "\n";
  }
  std::cout << "\n'tessmark-cli COMMAND --help' describes a command.\n";
}

}  // namespace
}  // namespace tessmark::cli

int main(int argc, char** argv) {
  using namespace tessmark::cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return kExitCannotOpen;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp();
    return kExitOk;
  }
  for (const Command& c : Commands()) {
    if (args[0] != c.name) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
      if (a == "--help" || a == "-h") {
        std::cout << c.usage;
        return kExitOk;
      }
    }
    try {
      return c.run(rest);
    } catch (const tessmark::jet::Error& e) {
      ReportError(e);
      return e.number() == tessmark::jet::kDamaged ? kExitDamaged : kExitCannotOpen;
    } catch (const std::bad_alloc&) {
      std::cerr << "tessmark-cli: error " << tessmark::jet::kIoError
                << ": There is not enough memory to finish the command.\n";
      return kExitCannotOpen;
    } catch (const std::exception& e) {
      // Not expected: every engine failure is an Error. Still report it in
      // the usual form rather than abort.
      std::cerr << "tessmark-cli: error " << tessmark::jet::kIoError
                << ": The command failed unexpectedly (" << e.what() << ").\n";
      return kExitCannotOpen;
    }
  }
  return UsageError("unknown command '" + args[0] + "'");
}
