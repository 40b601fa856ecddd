// tessmark-cli: command-line front end of the Jet engine.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
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

namespace {

// CLI11's help, with the usage line first, and options shown with the
// name of their value only ("--size SIZE"): what the value must be, and
// whether the option is needed, its description says.
class HelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    const std::string& value = option->get_option_text();
    return value.empty() ? "" : " " + value;
  }
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    return make_usage(app, name) + "\n" + make_description(app) + make_positionals(app) +
           make_groups(app, mode) + make_subcommands(app, mode) + "\n" + make_footer(app);
  }
};

// Prints "tessmark-cli: <message>" and where to find help on stderr, and
// returns the exit code of a usage error.
int UsageError(const std::string& message, const std::string& command) {
  std::cerr << "tessmark-cli: " << message << "\nTry 'tessmark-cli "
            << (command.empty() ? "" : command + " ") << "--help'.\n";
  return kExitUsage;
}

int RunCommand(const std::function<int()>& run) {
  try {
    return run();
  } catch (...) {
    const jet::Error e = jet::ErrorOf(std::current_exception());
    ReportError(e);
    return e.number() == jet::kDamaged ? kExitDamaged : kExitCannotOpen;
  }
}

}  // namespace
}  // namespace tessmark::cli

int main(int argc, char** argv) {
  using namespace tessmark::cli;
  CLI::App app("Reads, checks and compacts Jet 3 / Jet 4 database files (.mdb).", "tessmark-cli");
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer("'tessmark-cli COMMAND --help' describes a command.");
  app.require_subcommand(1);
  std::map<const CLI::App*, std::function<int()>> runs;
  for (const Command& c : Commands()) {
    CLI::App* sub = app.add_subcommand(c.name, c.summary);
    sub->footer(c.details);
    runs[sub] = c.define(*sub);
  }

  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cout << app.help();
    return kExitUsage;
  }
  if (args[0] == "--version") {
    std::cout << "tessmark-cli " << TESSMARK_VERSION << "\n";
    return kExitOk;
  }
  if (args[0] == "help") {
    std::cout << app.help();
    return kExitOk;
  }
  bool known = false;
  for (const Command& c : Commands()) known = known || args[0] == c.name;
  if (!known && args[0][0] != '-') return UsageError("unknown command '" + args[0] + "'", "");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    const std::string command = chosen.empty() ? "" : chosen[0]->get_name();
    return UsageError((command.empty() ? "" : command + ": ") + e.what(), command);
  }
  return RunCommand(runs.at(app.get_subcommands().at(0)));
}
