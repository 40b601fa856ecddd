// Runs the tessmark-cli executable under test and collects what a user sees.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/corpus.h"

namespace tessmark::cli {

struct CliResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `tessmark-cli ARGS` through the shell (ARGS are quoted by the caller).
inline CliResult RunCli(const std::string& args) {
  testing::TempDir dir;
  const std::string err_file = (dir.path() / "stderr").string();
  const std::string command = std::string(TESSMARK_CLI) + " " + args + " 2>" + err_file;
  CliResult r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

// A path quoted for the shell.
inline std::string Quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

}  // namespace tessmark::cli
