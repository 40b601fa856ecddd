// Path and window helpers shared by the picker's procedures. None keeps state.
#include <cctype>
#include <string>
#include <vector>

#include "folder_picker/picker_state.h"

namespace modBrowseForFolder {

std::string GetWindowString(HWND hwnd) {
  const LRESULT length = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  const LRESULT copied = SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                                      reinterpret_cast<LPARAM>(text.data()));
  // A window whose text shrank between the two messages gives back less.
  if (copied >= 0 && copied < length) text.resize(static_cast<std::size_t>(copied));
  return TrimAtNull(text);
}

std::string LastPathPart(const std::string& sPath) {
  if (sPath.size() == 3) return sPath;  // a drive root such as c:\ stays whole
  const auto slash = sPath.rfind('\\');
  if (slash == std::string::npos) return sPath;
  return sPath.substr(slash + 1);
}

std::string ParentPath(const std::string& sPath) {
  const auto slash = sPath.rfind('\\');
  if (slash == std::string::npos) return std::string();
  return sPath.substr(0, slash);  // up to the last backslash, that one dropped
}

namespace {

// The drive letters the system reports, upper case, whatever their number.
std::string DriveLetters() {
  std::vector<char> buffer(64, '\0');
  DWORD needed = GetLogicalDriveStringsA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (needed > buffer.size()) {
    // The list did not fit: ask again with room for all of it.
    buffer.assign(static_cast<std::size_t>(needed) + 1, '\0');
    needed = GetLogicalDriveStringsA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (needed >= buffer.size()) return std::string();
  }
  std::string letters;
  // Entries are "C:\" followed by a NUL; the list ends with an empty entry.
  for (std::size_t at = 0; at < needed && buffer[at] != '\0';) {
    letters.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(buffer[at]))));
    while (at < needed && buffer[at] != '\0') ++at;
    ++at;
  }
  return letters;
}

}  // namespace

bool PathExists(const std::string& sPath) {
  if (sPath.empty()) return false;
  if (sPath.size() >= 2 && sPath.compare(sPath.size() - 2, 2, ":\\") == 0) {
    // A drive root: only "X:\" with X a drive the system has.
    if (sPath.size() != 3) return false;
    const auto letter = static_cast<unsigned char>(sPath[0]);
    if (!std::isalpha(letter)) return false;
    return DriveLetters().find(static_cast<char>(std::toupper(letter))) != std::string::npos;
  }
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(sPath.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

std::string TrimAtNull(const std::string& sIn) {
  const auto nul = sIn.find('\0');
  return nul == std::string::npos ? sIn : sIn.substr(0, nul);
}

bool IsVersion5OrLater() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
  GetVersionExA(&info);                               // on failure the major version stays 0
  return info.dwMajorVersion > 4;
}

}  // namespace modBrowseForFolder
