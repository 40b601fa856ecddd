// The Win32 subset the program is written against. On Windows this is the
// system's own <windows.h>; everywhere else it is the headless window and
// file system of platform/headless, with the same names, types and values.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/headless/win32_api.h"
#endif

namespace tessmark::platform {

// A window procedure as the value that SetWindowLongPtrA(GWLP_WNDPROC) takes
// and returns, and back. The value is pointer-sized; on 32-bit Windows
// LONG_PTR is LONG and SetWindowLongPtrA is SetWindowLongA.
inline LONG_PTR WndProcToLong(WNDPROC proc) { return reinterpret_cast<LONG_PTR>(proc); }
inline WNDPROC LongToWndProc(LONG_PTR value) { return reinterpret_cast<WNDPROC>(value); }

}  // namespace tessmark::platform
