// Set-up and inspection of the headless system for tests.
#include <algorithm>
#include <cstring>

#include "platform/headless/state.h"
#include "platform/win32.h"

namespace tessmark::headless {

void Reset() {
  State& s = state();
  s = State{};
  s.version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  s.version.dwMajorVersion = 5;
  s.version.dwMinorVersion = 0;
  s.version.dwBuildNumber = 2195;
  s.version.dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::strcpy(s.version.szCSDVersion, "Service Pack 4");
  RegisterSystemClasses();
  s.cursor = LoadCursorA(nullptr, IDC_ARROW);
}

void SetScreenSize(int width, int height) {
  State& s = state();
  s.screen_width = width;
  s.screen_height = height;
  if (Window* desktop = FindWindowRecord(s.desktop)) desktop->rect = RECT{0, 0, width, height};
}

void SetScreenDpi(int dpi) { state().screen_dpi = dpi; }

void SetSystemVersion(DWORD major, DWORD minor, DWORD build, DWORD platform_id,
                      const std::string& service_pack) {
  OSVERSIONINFOA& v = state().version;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  v.dwBuildNumber = build;
  v.dwPlatformId = platform_id;
  std::memset(v.szCSDVersion, 0, sizeof v.szCSDVersion);
  std::strncpy(v.szCSDVersion, service_pack.c_str(), sizeof v.szCSDVersion - 1);
}

const std::vector<LoggedMessage>& MessageLog() { return state().log; }
const std::vector<ProcedureChange>& ProcedureChanges() { return state().procedure_changes; }
void ClearMessageLog() {
  state().log.clear();
  state().procedure_changes.clear();
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return state().boxes; }

void QueueMessageBoxAnswer(std::function<int(const MessageBoxRecord&)> answer) {
  state().box_answers.push_back(std::move(answer));
}

void QueueMessageBoxAnswer(int button) {
  QueueMessageBoxAnswer([button](const MessageBoxRecord&) { return button; });
}

size_t PendingMessageBoxAnswers() { return state().box_answers.size(); }

void SetIdleHandler(std::function<bool()> handler) { state().idle = std::move(handler); }

int ModalDepth() { return state().dispatch_depth + state().modal_depth; }
bool QuitPosted() { return state().quit_posted; }
int QuitCode() { return state().quit_code; }

std::string VerifyTree() {
  const State& s = state();
  for (const auto& [number, w] : s.windows) {
    if (reinterpret_cast<uintptr_t>(w->handle) != number) return "handle table key mismatch";
    if (w->handle == s.desktop) continue;
    if (w->parent != nullptr) {
      auto it = s.windows.find(reinterpret_cast<uintptr_t>(w->parent));
      if (it == s.windows.end()) return "child with a missing parent";
      const auto& siblings = it->second->children;
      if (std::count(siblings.begin(), siblings.end(), w->handle) != 1) {
        return "child not listed exactly once under its parent";
      }
    } else if (std::count(s.top_level.begin(), s.top_level.end(), w->handle) != 1) {
      return "top-level window not listed exactly once";
    }
    if (w->owner != nullptr && s.windows.count(reinterpret_cast<uintptr_t>(w->owner)) == 0) {
      return "window owned by a missing window";
    }
    for (HWND child : w->children) {
      auto it = s.windows.find(reinterpret_cast<uintptr_t>(child));
      if (it == s.windows.end() || it->second->parent != w->handle) return "stale child link";
    }
  }
  if (s.focus != nullptr && s.windows.count(reinterpret_cast<uintptr_t>(s.focus)) == 0) {
    return "focus on a missing window";
  }
  return "";
}

}  // namespace tessmark::headless

namespace tessmark::headless {

void PostKeyboardInput(UINT message, WPARAM wparam, LPARAM lparam) {
  state().queue.push_back(MSG{nullptr, message, wparam, lparam, kKeyboardInputMark, {0, 0}});
}

void SetPendingDrag(int dx, int dy) { state().pending_drag = POINT{dx, dy}; }

}  // namespace tessmark::headless
