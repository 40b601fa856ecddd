// Message boxes and the mouse pointer. A message box is recorded and
// answered by the scripted user while its owner is disabled, as a real box
// is modal to the window that owns it.
#include "platform/headless/state.h"
#include "platform/win32.h"

namespace {

constexpr uintptr_t kCursorBase = 0x20000;

HCURSOR CursorFromId(uintptr_t id) { return reinterpret_cast<HCURSOR>(kCursorBase + id); }

}  // namespace

using tessmark::headless::state;

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  using namespace tessmark::headless;
  State& s = state();
  MessageBoxRecord record{owner, text != nullptr ? text : "",
                          caption != nullptr ? caption : "Error", type, IDOK};
  HWND root = owner != nullptr && IsWindow(owner) ? GetAncestor(owner, GA_ROOT) : nullptr;
  // The box takes activation and focus away from its owner while it is open.
  HWND had_active = GetActiveWindow();
  if (had_active != nullptr) SendMessageA(had_active, WM_ACTIVATE, WA_INACTIVE, 0);
  s.active = nullptr;
  if (HWND focus = GetFocus(); focus != nullptr) SetFocus(nullptr);
  const bool disabled = root != nullptr && EnableWindow(root, FALSE) == FALSE;
  ++s.modal_depth;
  int answer = IDOK;
  if (!s.box_answers.empty()) {
    auto respond = std::move(s.box_answers.front());
    s.box_answers.pop_front();
    answer = respond(record);
  }
  --s.modal_depth;
  if (disabled && IsWindow(root)) EnableWindow(root, TRUE);
  record.answer = answer;
  state().boxes.push_back(record);
  HWND back = root != nullptr && IsWindow(root) ? root : had_active;
  if (back != nullptr && IsWindow(back)) {
    state().active = nullptr;
    SetActiveWindow(back);
  }
  return answer;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  const auto id = reinterpret_cast<uintptr_t>(name);
  if (instance != nullptr || id >= 0x10000) return nullptr;  // only the system's cursors
  return CursorFromId(id);
}

// The headless program is not an executable image: it carries no icon
// resources, so every icon it asks for is missing, as in a module without one.
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) { return nullptr; }

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  auto& s = state();
  HCURSOR old = s.cursor;
  s.cursor = cursor;
  if (old != cursor) s.cursor_history.push_back(cursor == CursorFromId(32514));
  return old;
}

HCURSOR WINAPI GetCursor() { return state().cursor; }

namespace tessmark::headless {

bool HourglassShown() { return state().cursor == CursorFromId(32514); }
const std::vector<bool>& CursorHistory() { return state().cursor_history; }

}  // namespace tessmark::headless
