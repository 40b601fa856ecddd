#include "engine/env.h"

namespace tessmark::jet {

namespace {
Env* g_default_env = nullptr;
}

Env* DefaultEnv() { return g_default_env != nullptr ? g_default_env : PlatformEnv(); }

void SetDefaultEnv(Env* env) { g_default_env = env; }

}  // namespace tessmark::jet
