// Forms-runtime services over the Win32 subset.
#include "platform/forms_runtime.h"

#include <cstring>
#include <exception>

#include "platform/shell32.h"
#include "tessmark/error.h"

namespace tessmark::platform {
namespace {

MousePointer g_pointer = MousePointer::kDefault;
bool g_ending = false;

struct ErrorText {
  DWORD code;
  int32_t number;
  const char* description;
};

// Win32 file errors as the runtime reports them.
constexpr ErrorText kErrors[] = {
    {ERROR_FILE_NOT_FOUND, kErrFileNotFound, "File not found"},
    {ERROR_PATH_NOT_FOUND, kErrPathNotFound, "Path not found"},
    {ERROR_ACCESS_DENIED, kErrPathFileAccess, "Path/File access error"},
    {ERROR_INVALID_DRIVE, kErrDeviceUnavailable, "Device unavailable"},
    {ERROR_NOT_READY, kErrDeviceUnavailable, "Device unavailable"},
    {ERROR_NOT_SAME_DEVICE, kErrRenameAcrossDrives, "Can't rename with different drive"},
    {ERROR_WRITE_PROTECT, kErrPermissionDenied, "Permission denied"},
    {ERROR_SHARING_VIOLATION, kErrPermissionDenied, "Permission denied"},
    // A full disk and a failing device carry the numbers the database engine
    // uses for them, so the operator sees one number for one kind of trouble.
    {ERROR_HANDLE_DISK_FULL, jet::kDiskFull, "There is not enough space on the disk"},
    {ERROR_DISK_FULL, jet::kDiskFull, "There is not enough space on the disk"},
    {ERROR_FILE_EXISTS, kErrFileAlreadyExists, "File already exists"},
    {ERROR_ALREADY_EXISTS, kErrFileAlreadyExists, "File already exists"},
    {ERROR_INVALID_NAME, kErrBadFileName, "Bad file name or number"},
    {ERROR_DIR_NOT_EMPTY, kErrPathFileAccess, "Path/File access error"},
    {ERROR_WRITE_FAULT, jet::kIoError, "Disk or network error"},
    {ERROR_READ_FAULT, jet::kIoError, "Disk or network error"},
    {ERROR_GEN_FAILURE, jet::kIoError, "Disk or network error"},
    {ERROR_IO_DEVICE, jet::kIoError, "Disk or network error"},
    {ERROR_CRC, jet::kIoError, "Disk or network error"},
};

bool IsDiskFull(DWORD code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

bool IsDeviceFailure(DWORD code) {
  return code == ERROR_WRITE_FAULT || code == ERROR_READ_FAULT || code == ERROR_GEN_FAILURE ||
         code == ERROR_IO_DEVICE || code == ERROR_CRC;
}

void Check(BOOL ok) {
  if (!ok) throw ErrorFromWin32(GetLastError());
}

}  // namespace

RuntimeError ErrorFromWin32(DWORD code) {
  for (const ErrorText& e : kErrors) {
    if (e.code == code) return RuntimeError(e.number, e.description);
  }
  return RuntimeError(kErrPathFileAccess,
                      "Path/File access error (system error " + std::to_string(code) + ")");
}

void ReportUntrapped() noexcept {
  try {
    const jet::Error e = jet::ErrorOf(std::current_exception());
    MsgBox("Run-time error '" + std::to_string(e.number()) + "':\r\n\r\n" + e.description(),
           BoxIcon::kCritical);
  } catch (...) {
    // Not even the report could be shown; the program ends all the same.
  }
  EndProgram();
}

void MsgBox(const std::string& text, BoxIcon icon, const std::string& title) {
  UINT type = MB_OK;
  if (icon == BoxIcon::kInformation) type |= MB_ICONINFORMATION;
  if (icon == BoxIcon::kCritical) type |= MB_ICONHAND;
  MessageBoxA(GetActiveWindow(), text.c_str(), title.empty() ? kApplicationTitle : title.c_str(),
              type);
}

namespace {

int ScreenDotsPerInch(int index) {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, index) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

int TwipsToPixelsX(int twips) { return MulDiv(twips, ScreenDotsPerInch(LOGPIXELSX), 1440); }
int TwipsToPixelsY(int twips) { return MulDiv(twips, ScreenDotsPerInch(LOGPIXELSY), 1440); }

HFONT CreateFormFont() {
  constexpr int kPoints = 8;
  constexpr char kFace[] = "MS Sans Serif";
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  LOGFONTA font{};
  font.lfHeight = -MulDiv(kPoints, dpi > 0 ? dpi : 96, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  static_assert(sizeof kFace <= sizeof font.lfFaceName);
  std::memcpy(font.lfFaceName, kFace, sizeof kFace);
  return CreateFontIndirectA(&font);
}

void SetMousePointer(MousePointer pointer) {
  g_pointer = pointer;
  SetCursor(LoadCursorA(nullptr, pointer == MousePointer::kHourglass ? IDC_WAIT : IDC_ARROW));
}

MousePointer GetMousePointer() { return g_pointer; }

bool ApplyMousePointer() {
  if (g_pointer != MousePointer::kHourglass) return false;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  return true;
}

std::string Dir(const std::string& path) {
  std::string pattern = path;
  if (!pattern.empty() && (pattern.back() == '\\' || pattern.back() == '/')) pattern += "*.*";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_NO_MORE_FILES) {
      return "";
    }
    throw ErrorFromWin32(error);
  }
  constexpr DWORD kNotNormal =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  std::string found;
  do {
    if ((data.dwFileAttributes & kNotNormal) == 0) {
      found.assign(data.cFileName, strnlen(data.cFileName, MAX_PATH));
      break;
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return found;
}

void Kill(const std::string& path) { Check(DeleteFileA(path.c_str())); }

void Name(const std::string& from, const std::string& to) {
  Check(MoveFileExA(from.c_str(), to.c_str(), 0));
}

void MoveReplacing(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return;
  }
  // This puts a newly written version of a file in place: a full disk or a
  // failing device here is the same failure the database engine reports
  // while writing that version, and it keeps the engine's number for it.
  const DWORD error = GetLastError();
  const std::string what = "'" + from + "' in place of '" + to + "'";
  if (IsDiskFull(error)) {
    throw RuntimeError(jet::kDiskFull,
                       "There is not enough space on the disk to put " + what + ".");
  }
  if (IsDeviceFailure(error)) {
    throw RuntimeError(jet::kIoError, "Disk or network error while putting " + what +
                                          " (system error " + std::to_string(error) + ").");
  }
  throw ErrorFromWin32(error);
}

void MkDir(const std::string& path) { Check(CreateDirectoryA(path.c_str(), nullptr)); }

ScreenSize GetScreenSize() {
  return ScreenSize{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

HINSTANCE ModuleInstance() { return GetModuleHandleA(nullptr); }

void StartProgram() {
  g_ending = false;
  g_pointer = MousePointer::kDefault;
}

OleSession::OleSession() : started_(SUCCEEDED(OleInitialize(nullptr))) {}

OleSession::~OleSession() {
  if (started_) OleUninitialize();
}

void EndProgram() {
  g_ending = true;
  PostQuitMessage(0);
}

bool ProgramEnding() { return g_ending; }

void UnloadWindow(HWND window) {
  if (IsWindow(window)) DestroyWindow(window);
}

}  // namespace tessmark::platform
