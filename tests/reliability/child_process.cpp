#include "tests/reliability/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace tessmark::testing {

namespace {
int g_serial = 0;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& env,
             const std::string& scratch, int run_as) {
  const std::string stem =
      scratch + "/child-" + std::to_string(::getpid()) + "-" + std::to_string(++g_serial);
  out_path_ = stem + ".out";
  err_path_ = stem + ".err";
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) ::_exit(127);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (run_as >= 0 &&
        (::setgid(static_cast<gid_t>(run_as)) != 0 || ::setuid(static_cast<uid_t>(run_as)) != 0))
      ::_exit(126);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
}

Child::~Child() {
  if (!done_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::kill(pid_, SIGCONT);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool Child::WaitStopped() {
  int status = 0;
  if (::waitpid(pid_, &status, WUNTRACED) != pid_) return false;
  if (WIFSTOPPED(status)) return true;
  done_ = true;
  result_.exited = WIFEXITED(status);
  result_.code = result_.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return false;
}

void Child::Continue() { ::kill(pid_, SIGCONT); }

ChildResult Child::Wait() {
  if (!done_) {
    int status = 0;
    while (::waitpid(pid_, &status, 0) == pid_ && WIFSTOPPED(status)) {
    }
    done_ = true;
    result_.exited = WIFEXITED(status);
    result_.code = result_.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  }
  result_.out = Slurp(out_path_);
  result_.err = Slurp(err_path_);
  ::unlink(out_path_.c_str());
  ::unlink(err_path_.c_str());
  return result_;
}

uint64_t CountCompactionOperations(const std::string& killable, const std::string& database,
                                   const std::string& scratch) {
  const std::filesystem::path copy = std::filesystem::path(scratch) / "count.mdb";
  std::filesystem::copy_file(database, copy, std::filesystem::copy_options::overwrite_existing);
  const ChildResult r = RunChild(killable, {"compact", "--quiet", copy.string()},
                                 {{"TESSMARK_TEST_COUNT", "1"}}, scratch);
  std::filesystem::remove(copy);
  std::smatch m;
  if (!r.exited || r.code != 0 || !std::regex_search(r.err, m, std::regex("operations: ([0-9]+)")))
    return 0;
  return std::stoull(m[1]);
}

}  // namespace tessmark::testing
