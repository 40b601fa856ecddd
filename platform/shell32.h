// The shell's folder-browse dialog and item identifier lists: <shlobj.h> on
// Windows, the headless folder dialog elsewhere, with the same names.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <objbase.h>
#include <shlobj.h>
#else
#include "platform/headless/shell32_api.h"
#endif
