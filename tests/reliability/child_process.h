// Running tessmark-cli (or its killable test build) as a child process:
// arguments, extra environment variables, its exit status or the signal
// that ended it, and what it wrote.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tessmark::testing {

struct ChildResult {
  bool exited = false;  // false: ended by a signal
  int code = -1;        // exit status, or the signal number
  std::string out, err;
};

class Child {
 public:
  // Starts `program` with `args`; stdout and stderr go to files beside
  // `scratch` (a folder that exists). With `run_as` (a user id; the test
  // must be root) the child drops to that user before it starts.
  Child(const std::string& program, const std::vector<std::string>& args,
        const std::vector<std::pair<std::string, std::string>>& env, const std::string& scratch,
        int run_as = -1);
  ~Child();
  // Waits until the child stops itself (SIGSTOP); false when it ended instead.
  bool WaitStopped();
  void Continue();
  ChildResult Wait();

 private:
  pid_t pid_ = -1;
  std::string out_path_, err_path_;
  bool done_ = false;
  ChildResult result_;
};

inline ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::pair<std::string, std::string>>& env,
                            const std::string& scratch, int run_as = -1) {
  return Child(program, args, env, scratch, run_as).Wait();
}

// The number of file operations the killable build of the CLI makes to
// compact a copy of `database` in place (0 when it could not be counted).
uint64_t CountCompactionOperations(const std::string& killable, const std::string& database,
                                   const std::string& scratch);

}  // namespace tessmark::testing
