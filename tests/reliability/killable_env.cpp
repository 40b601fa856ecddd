// Linked into tessmark-cli-killable only, a test build of the CLI: puts a
// counting FaultEnv in place of the default Env, driven by the environment:
//   TESSMARK_TEST_KILL_AT=N   SIGKILL just before the Nth file operation
//   TESSMARK_TEST_STOP_AT=N   SIGSTOP just before it (continue with SIGCONT)
//   TESSMARK_TEST_COUNT=1     print "operations: N" on stderr at exit
// The product's own CLI has none of this.
#include <cstdio>
#include <cstdlib>

#include "format/env.h"
#include "tests/support/fault_env.h"

namespace {

tessmark::testing::FaultEnv* g_env = nullptr;

void PrintCount() {
  if (g_env != nullptr)
    std::fprintf(stderr, "operations: %llu\n",
                 static_cast<unsigned long long>(g_env->operations()));
}

struct Install {
  Install() {
    tessmark::testing::FaultPlan plan;
    if (const char* kill = std::getenv("TESSMARK_TEST_KILL_AT")) {
      plan.fail_at = std::strtoull(kill, nullptr, 10);
      plan.action = tessmark::testing::FaultPlan::Action::kKill;
    } else if (const char* stop = std::getenv("TESSMARK_TEST_STOP_AT")) {
      plan.fail_at = std::strtoull(stop, nullptr, 10);
      plan.action = tessmark::testing::FaultPlan::Action::kStop;
    }
    g_env = new tessmark::testing::FaultEnv(tessmark::jet::PlatformEnv(), plan);
    tessmark::jet::SetDefaultEnv(g_env);
    if (std::getenv("TESSMARK_TEST_COUNT") != nullptr) std::atexit(PrintCount);
  }
} g_install;

}  // namespace
