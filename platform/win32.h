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

// A window procedure as the 32-bit value that SetWindowLongA(GWL_WNDPROC)
// takes and returns, and back. On 32-bit Windows this is a plain cast; the
// headless build hands out 32-bit tokens because host pointers are wider.
#ifdef _WIN32
inline LONG WndProcToLong(WNDPROC proc) {
  return static_cast<LONG>(reinterpret_cast<LONG_PTR>(proc));
}
inline WNDPROC LongToWndProc(LONG value) {
  return reinterpret_cast<WNDPROC>(static_cast<LONG_PTR>(value));
}
#else
LONG WndProcToLong(WNDPROC proc);
WNDPROC LongToWndProc(LONG value);
#endif

}  // namespace tessmark::platform
