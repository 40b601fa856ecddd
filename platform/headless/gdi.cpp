// The few gdi32 calls of the program: stock objects, fonts made from a
// LOGFONTA (read back with GetObjectA, so tests see which font a control
// got) and the screen's device context for its resolution. Nothing is
// drawn, so a font is only its description.
#include <cstdlib>

#include "platform/headless/state.h"
#include "platform/win32.h"

namespace {

constexpr uintptr_t kStockBase = 0x8A0000;
constexpr uintptr_t kScreenDc = 0x8C0000;

}  // namespace

using tessmark::headless::state;

HGDIOBJ WINAPI GetStockObject(int object) {
  return reinterpret_cast<HGDIOBJ>(kStockBase + static_cast<uintptr_t>(object));
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font) {
  if (font == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto& s = state();
  const uintptr_t handle = s.next_font++;
  LOGFONTA& kept = s.fonts[handle];
  kept = *font;
  kept.lfFaceName[LF_FACESIZE - 1] = '\0';
  return reinterpret_cast<HFONT>(handle);
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  // Stock objects may be "deleted"; the call does nothing, as on Windows.
  return state().fonts.erase(reinterpret_cast<uintptr_t>(object)) == 1 ? TRUE : FALSE;
}

int WINAPI GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
  const auto& fonts = state().fonts;
  auto it = fonts.find(reinterpret_cast<uintptr_t>(object));
  if (it == fonts.end()) return 0;
  if (buffer == nullptr) return static_cast<int>(sizeof(LOGFONTA));
  if (size < static_cast<int>(sizeof(LOGFONTA))) return 0;
  *static_cast<LOGFONTA*>(buffer) = it->second;
  return static_cast<int>(sizeof(LOGFONTA));
}

HDC WINAPI GetDC(HWND hwnd) {
  if (hwnd != nullptr && !IsWindow(hwnd)) return nullptr;
  return reinterpret_cast<HDC>(kScreenDc);
}

int WINAPI ReleaseDC(HWND, HDC dc) { return reinterpret_cast<uintptr_t>(dc) == kScreenDc ? 1 : 0; }

int WINAPI GetDeviceCaps(HDC dc, int index) {
  if (reinterpret_cast<uintptr_t>(dc) != kScreenDc) return 0;
  return index == LOGPIXELSX || index == LOGPIXELSY ? state().screen_dpi : 0;
}

// kernel32's MulDiv, with which font heights are worked out: number *
// numerator / denominator in 64 bits, rounded half away from zero;
// -1 when the denominator is 0 or the result does not fit.
int WINAPI MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const long long product = static_cast<long long>(number) * numerator;
  const long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  const bool negative = (product < 0) != (denominator < 0);
  const long long magnitude =
      (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator));
  const long long result = negative ? -magnitude : magnitude;
  if (result > 2147483647LL || result < -2147483648LL) return -1;
  return static_cast<int>(result);
}
