// The file system as Windows shows it: drive letters mapped to host
// folders, names matched without regard to case, the attributes the host
// file system lacks (hidden, system, read-only) kept in a side table, and
// the kernel32 calls the program makes on files, directories and drives.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <system_error>

#include "platform/headless/state.h"
#include "platform/host_path.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace tessmark::headless {
namespace {

constexpr DWORD kSideAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Where a Windows path leads on the host.
struct Resolved {
  char drive = 0;
  fs::path folder;   // host folder holding the last component
  std::string name;  // last component, matched to the host's spelling when it exists
  bool folder_exists = false;
  fs::path Full() const { return name.empty() ? folder : folder / name; }
};

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// The host entry in `folder` whose name equals `name` without regard to case.
std::optional<std::string> MatchEntry(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(folder / name, ec)) return name;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string candidate = entry.path().filename().string();
    if (EqualNoCase(candidate, name)) return candidate;
  }
  return std::nullopt;
}

bool HasInvalidCharacter(const std::string& component, bool allow_wildcards) {
  for (char c : component) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|') return true;
    if (!allow_wildcards && (c == '*' || c == '?')) return true;
  }
  return false;
}

// Windows drops trailing dots and blanks from each name.
std::string TrimName(std::string name) {
  if (name == "." || name == "..") return name;
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name;
}

std::optional<Resolved> Resolve(const char* windows_path, bool allow_wildcards) {
  State& s = state();
  if (windows_path == nullptr || *windows_path == '\0') {
    s.last_error = ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  std::string path = windows_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  Resolved r;
  std::string rest;
  const char current_drive =
      static_cast<char>(std::toupper(static_cast<unsigned char>(s.current_folder[0])));
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    r.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    rest = path.substr(2);
  } else if (path.rfind("\\\\", 0) == 0) {
    s.last_error = ERROR_PATH_NOT_FOUND;  // no network shares here
    return std::nullopt;
  } else {
    r.drive = current_drive;
    rest = path;
  }
  auto drive = s.drives.find(r.drive);
  if (drive == s.drives.end()) {
    s.last_error = ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  // A path that does not start at a root goes on from the drive's current
  // folder: the program's current folder on its drive, the root elsewhere.
  if ((rest.empty() || rest.front() != '\\') && r.drive == current_drive) {
    std::string base = s.current_folder.substr(2);  // "\\" or "\\Data"
    if (!rest.empty()) {
      if (base.back() != '\\') base += '\\';
      base += rest;
    }
    rest = base;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  const bool trailing_separator = !rest.empty() && rest.back() == '\\';
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = TrimName(rest.substr(start, end - start));
    const bool last = end == rest.size();
    if (HasInvalidCharacter(part, allow_wildcards && last)) {
      s.last_error = ERROR_INVALID_NAME;
      return std::nullopt;
    }
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (trailing_separator) parts.emplace_back();
  r.folder = drive->second;
  r.folder_exists = true;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    std::error_code ec;
    auto match = r.folder_exists ? MatchEntry(r.folder, parts[i]) : std::nullopt;
    r.folder /= match ? *match : parts[i];
    r.folder_exists = match.has_value() && fs::is_directory(r.folder, ec);
  }
  if (!parts.empty()) {
    r.name = parts.back();
    if (r.folder_exists && !r.name.empty()) {
      auto match = MatchEntry(r.folder, r.name);
      if (match && r.name.find_first_of("*?") == std::string::npos) r.name = *match;
    }
  }
  return r;
}

std::string Key(const fs::path& host) { return host.lexically_normal().string(); }

DWORD SideAttributes(const fs::path& host) {
  auto& table = state().attributes;
  auto it = table.find(Key(host));
  return it == table.end() ? 0 : it->second;
}

DWORD Attributes(const fs::path& host) {
  std::error_code ec;
  DWORD attributes = SideAttributes(host);
  if (fs::is_directory(host, ec)) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  } else {
    attributes |= FILE_ATTRIBUTE_ARCHIVE;
  }
  return attributes;
}

bool TakeQueuedFault(FileOperation operation, const char* path) {
  State& s = state();
  const std::string text = UpperAscii(path != nullptr ? path : "");
  for (auto it = s.faults.begin(); it != s.faults.end(); ++it) {
    if (it->operation == operation && text.find(UpperAscii(it->path_part)) != std::string::npos) {
      s.last_error = it->error;
      s.faults.erase(it);
      return true;
    }
  }
  return false;
}

// Whether an injected fault fails this call: a queued one matching either
// path, else the hook's answer. Sets the last error when it does.
bool Fails(FileOperation operation, const char* path, const char* other_path = nullptr) {
  if (TakeQueuedFault(operation, path)) return true;
  if (other_path != nullptr && TakeQueuedFault(operation, other_path)) return true;
  State& s = state();
  if (!s.file_hook) return false;
  // The hook may be replaced while it runs; call a copy.
  const FileOperationHook hook = s.file_hook;
  const DWORD error = hook(operation, path != nullptr ? path : "");
  if (error == ERROR_SUCCESS) return false;
  s.last_error = error;
  return true;
}

DWORD ErrorFromHost(const std::error_code& ec) {
  switch (ec.value()) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

BOOL Fail(DWORD error) {
  state().last_error = error;
  return FALSE;
}

// Glob matching as a directory search does it, without regard to case.
// A pattern ending in ".*" also matches names without an extension.
bool WildcardMatch(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* n = name;; ++n) {
      if (WildcardMatch(pattern + 1, n)) return true;
      if (*n == '\0') return false;
    }
  }
  if (*name == '\0') return std::strcmp(pattern, ".*") == 0 || std::strcmp(pattern, ".") == 0;
  if (*pattern == '?' || std::toupper(static_cast<unsigned char>(*pattern)) ==
                             std::toupper(static_cast<unsigned char>(*name))) {
    return WildcardMatch(pattern + 1, name + 1);
  }
  return false;
}

void FillFindData(const fs::path& host, const std::string& name, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes =
      name == "." || name == ".." ? FILE_ATTRIBUTE_DIRECTORY : Attributes(host);
  std::error_code ec;
  if ((data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const auto size = fs::file_size(host, ec);
    if (!ec) {
      data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
      data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
  }
  const size_t n = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
  std::memcpy(data->cFileName, name.data(), n);
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

std::string UpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void MapDrive(char letter, const fs::path& host_folder) {
  state().drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
      fs::absolute(host_folder).lexically_normal().string();
}

void SetCurrentFolder(const std::string& windows_path) {
  std::string folder = windows_path;
  std::replace(folder.begin(), folder.end(), '/', '\\');
  if (folder.size() == 2) folder += '\\';
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  state().current_folder = folder;
}

void UnmapDrive(char letter) {
  state().drives.erase(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

fs::path HostPath(const std::string& windows_path) {
  const DWORD saved = state().last_error;
  auto r = Resolve(windows_path.c_str(), false);
  state().last_error = saved;
  return r ? r->Full() : fs::path();
}

}  // namespace tessmark::headless

std::optional<std::string> tessmark::platform::HostPathOf(const std::string& windows_path) {
  std::string host = tessmark::headless::HostPath(windows_path).string();
  if (host.empty()) return std::nullopt;
  return host;
}

namespace tessmark::headless {

void FailNextFileOperation(FileOperation operation, DWORD error, const std::string& path_part) {
  state().faults.push_back(Fault{operation, error, path_part});
}

void SetFileOperationHook(FileOperationHook hook) { state().file_hook = std::move(hook); }

}  // namespace tessmark::headless

using tessmark::headless::state;

DWORD WINAPI GetLastError() { return state().last_error; }
void WINAPI SetLastError(DWORD error) { state().last_error = error; }

HMODULE WINAPI GetModuleHandleA(LPCSTR module_name) {
  if (module_name != nullptr) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND: no other modules here
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *info = state().version;
  return TRUE;
}

DWORD WINAPI GetLogicalDriveStringsA(DWORD buffer_length, LPSTR buffer) {
  const auto& drives = state().drives;
  const auto needed = static_cast<DWORD>(drives.size() * 4);
  // Too small: the size needed, terminator included, and the buffer untouched.
  if (buffer == nullptr || needed + 1 > buffer_length) return needed + 1;
  char* p = buffer;
  for (const auto& [letter, host] : drives) {
    *p++ = letter;
    *p++ = ':';
    *p++ = '\\';
    *p++ = '\0';
  }
  *p = '\0';
  return needed;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  using namespace tessmark::headless;
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (Fails(FileOperation::kFind, pattern)) return INVALID_HANDLE_VALUE;
  auto r = Resolve(pattern, true);
  if (!r) return INVALID_HANDLE_VALUE;
  if (!r->folder_exists) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (r->name.empty()) {  // "C:\" or "C:\Data\": no name to look for
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_unique<FindSearch>();
  std::vector<std::string> names;
  std::error_code ec;
  if (fs::path(r->folder) != fs::path(state().drives[r->drive])) {
    names = {".", ".."};
  }
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(r->folder, ec)) {
    entries.push_back(entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  names.insert(names.end(), entries.begin(), entries.end());
  for (const std::string& name : names) {
    if (!WildcardMatch(r->name.c_str(), name.c_str())) continue;
    WIN32_FIND_DATAA found;
    FillFindData(r->folder / name, name, &found);
    search->entries.push_back(found);
  }
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = search->entries[0];
  search->next = 1;
  State& s = state();
  const uintptr_t number = s.next_search++;
  s.searches[number] = std::move(search);
  return reinterpret_cast<HANDLE>(number);
}

BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
  auto& searches = state().searches;
  auto it = searches.find(reinterpret_cast<uintptr_t>(find));
  if (it == searches.end() || data == nullptr)
    return tessmark::headless::Fail(ERROR_INVALID_HANDLE);
  auto& search = *it->second;
  if (search.next >= search.entries.size()) return tessmark::headless::Fail(ERROR_NO_MORE_FILES);
  *data = search.entries[search.next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) {
  if (state().searches.erase(reinterpret_cast<uintptr_t>(find)) == 0) {
    return tessmark::headless::Fail(ERROR_INVALID_HANDLE);
  }
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  using namespace tessmark::headless;
  auto r = Resolve(path, false);
  if (!r) return INVALID_FILE_ATTRIBUTES;
  std::error_code ec;
  if (!r->folder_exists) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!fs::exists(r->Full(), ec)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return Attributes(r->Full());
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  using namespace tessmark::headless;
  if (Fails(FileOperation::kSetAttributes, path)) return FALSE;
  auto r = Resolve(path, false);
  if (!r) return FALSE;
  std::error_code ec;
  if (!r->folder_exists) return Fail(ERROR_PATH_NOT_FOUND);
  if (!fs::exists(r->Full(), ec)) return Fail(ERROR_FILE_NOT_FOUND);
  const DWORD kept = attributes & kSideAttributes;
  if (kept == 0) {
    state().attributes.erase(Key(r->Full()));
  } else {
    state().attributes[Key(r->Full())] = kept;
  }
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  using namespace tessmark::headless;
  if (Fails(FileOperation::kCreateDirectory, path)) return FALSE;
  auto r = Resolve(path, false);
  if (!r) return FALSE;
  std::error_code ec;
  if (!r->folder_exists) return Fail(ERROR_PATH_NOT_FOUND);
  if (r->name.empty() || fs::exists(r->Full(), ec)) return Fail(ERROR_ALREADY_EXISTS);
  if (!fs::create_directory(r->Full(), ec)) return Fail(ErrorFromHost(ec));
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path) {
  using namespace tessmark::headless;
  auto r = Resolve(path, false);
  if (!r) return FALSE;
  std::error_code ec;
  if (!r->folder_exists) return Fail(ERROR_PATH_NOT_FOUND);
  if (!fs::is_directory(r->Full(), ec))
    return Fail(fs::exists(r->Full(), ec) ? 267 /* ERROR_DIRECTORY */ : ERROR_FILE_NOT_FOUND);
  if (!fs::remove(r->Full(), ec)) return Fail(ErrorFromHost(ec));
  state().attributes.erase(Key(r->Full()));
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  using namespace tessmark::headless;
  if (Fails(FileOperation::kDelete, path)) return FALSE;
  auto r = Resolve(path, false);
  if (!r) return FALSE;
  std::error_code ec;
  if (!r->folder_exists) return Fail(ERROR_PATH_NOT_FOUND);
  const fs::path host = r->Full();
  if (r->name.empty() || !fs::exists(host, ec)) return Fail(ERROR_FILE_NOT_FOUND);
  if (fs::is_directory(host, ec)) return Fail(ERROR_ACCESS_DENIED);
  if ((SideAttributes(host) & FILE_ATTRIBUTE_READONLY) != 0) return Fail(ERROR_ACCESS_DENIED);
  if (!fs::remove(host, ec)) return Fail(ErrorFromHost(ec));
  state().attributes.erase(Key(host));
  return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags) {
  using namespace tessmark::headless;
  if (Fails(FileOperation::kMove, existing, new_name)) return FALSE;
  auto from = Resolve(existing, false);
  if (!from) return FALSE;
  auto to = Resolve(new_name, false);
  if (!to) return FALSE;
  std::error_code ec;
  if (!from->folder_exists) return Fail(ERROR_PATH_NOT_FOUND);
  const fs::path source = from->Full();
  if (from->name.empty() || !fs::exists(source, ec)) return Fail(ERROR_FILE_NOT_FOUND);
  if (!to->folder_exists || to->name.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  const fs::path target = to->Full();
  if (from->drive != to->drive && (flags & MOVEFILE_COPY_ALLOWED) == 0) {
    return Fail(ERROR_NOT_SAME_DEVICE);
  }
  const bool same_file = fs::exists(target, ec) && fs::equivalent(source, target, ec);
  if (fs::exists(target, ec) && !same_file) {
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return Fail(ERROR_ALREADY_EXISTS);
    if (fs::is_directory(target, ec) || fs::is_directory(source, ec)) {
      return Fail(ERROR_ACCESS_DENIED);
    }
    if ((SideAttributes(target) & FILE_ATTRIBUTE_READONLY) != 0) return Fail(ERROR_ACCESS_DENIED);
  }
  fs::rename(source, target, ec);
  if (ec) return Fail(ErrorFromHost(ec));
  auto& table = state().attributes;
  const DWORD attributes = SideAttributes(source);
  table.erase(Key(source));
  if (attributes != 0) {
    table[Key(target)] = attributes;
  } else {
    table.erase(Key(target));
  }
  if ((flags & MOVEFILE_WRITE_THROUGH) != 0) SyncFolder(to->folder);
  return TRUE;
}
