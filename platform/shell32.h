// The shell's folder-browse dialog and item identifier lists, and starting
// OLE for it: <shlobj.h> and <ole2.h> on Windows, the headless folder dialog
// elsewhere, with the same names.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>
#else
#include "platform/headless/shell32_api.h"
#endif
