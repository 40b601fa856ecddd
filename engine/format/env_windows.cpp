// Windows file environment for the engine. Locks are share modes: a database
// is opened denying writers (and, for compaction, everybody), so a file that
// another process holds open for writing is refused with 3045, and nobody can
// write to it while we work.
#include <windows.h>

#include <string>

#include "format/env.h"
#include "tessmark/error.h"

namespace tessmark::jet {

namespace {

int32_t NumberForError(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
      return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_BAD_NETPATH:
      return kInvalidPath;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kDiskFull;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return kDatabaseExists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kFileInUse;
    default:
      return kIoError;
  }
}

std::string SystemMessage(DWORD err) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err,
                           0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == '.')) --n;
  return n > 0 ? std::string(buffer, n) : "system error " + std::to_string(err);
}

[[noreturn]] void ThrowLastError(const std::string& what, const std::string& path) {
  const DWORD err = GetLastError();
  throw FileError(NumberForError(err), what, path, SystemMessage(err));
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// The largest piece handed to one ReadFile or WriteFile call.
constexpr size_t kChunk = 1u << 30;

class WindowsReadFile final : public RandomAccessFile {
 public:
  WindowsReadFile(HANDLE file, uint64_t size, std::string path)
      : file_(file), size_(size), path_(std::move(path)) {}
  ~WindowsReadFile() override { CloseHandle(file_); }

  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = At(offset + done);
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(n - done < kChunk ? n - done : kChunk);
      if (!ReadFile(file_, out + done, want, &got, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        ThrowLastError("read", path_);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }
  uint64_t Size() const override { return size_; }

 private:
  HANDLE file_;
  uint64_t size_;
  std::string path_;
};

class WindowsWritableFile final : public WritableFile {
 public:
  WindowsWritableFile(HANDLE file, std::string path) : file_(file), path_(std::move(path)) {}
  ~WindowsWritableFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  void WriteAt(uint64_t offset, const uint8_t* data, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = At(offset + done);
      DWORD put = 0;
      const DWORD want = static_cast<DWORD>(n - done < kChunk ? n - done : kChunk);
      if (!WriteFile(file_, data + done, want, &put, &at)) ThrowLastError("write", path_);
      done += put;
    }
    if (offset + n > end_) end_ = offset + n;
  }
  void Append(const uint8_t* data, size_t n) override { WriteAt(end_, data, n); }
  void Sync() override {
    if (!FlushFileBuffers(file_)) ThrowLastError("flush", path_);
  }
  void Close() override {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file)) ThrowLastError("close", path_);
  }

 private:
  HANDLE file_;
  std::string path_;
  uint64_t end_ = 0;
};

class WindowsEnv final : public Env {
 public:
  std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path, LockMode mode) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw Error(kInvalidPath, "'" + path + "' is a folder, not a database file.");
    }
    const DWORD share = mode == LockMode::kShared ? FILE_SHARE_READ : 0;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file == INVALID_HANDLE_VALUE) ThrowLastError("open", path);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
      const DWORD err = GetLastError();
      CloseHandle(file);
      SetLastError(err);
      ThrowLastError("read the size of", path);
    }
    return std::make_unique<WindowsReadFile>(file, static_cast<uint64_t>(size.QuadPart), path);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ThrowLastError("create", path);
    return std::make_unique<WindowsWritableFile>(file, path);
  }

  void Remove(const std::string& path) override {
    if (!DeleteFileA(path.c_str())) ThrowLastError("delete", path);
  }

  void RenameReplace(const std::string& from, const std::string& to) override {
    if (!MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      ThrowLastError("replace", to);
    }
  }

  void MakeDirectory(const std::string& path) override {
    if (!::CreateDirectoryA(path.c_str(), nullptr)) ThrowLastError("create the folder", path);
  }

  bool FileExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  uint64_t FileSize(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
      ThrowLastError("read the size of", path);
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  // A rename with MOVEFILE_WRITE_THROUGH is on disk when it returns; there is
  // no separate flush of a folder on Windows.
  void SyncDirectory(const std::string&) override {}
};

}  // namespace

Env* PlatformEnv() {
  static WindowsEnv env;
  return &env;
}

}  // namespace tessmark::jet
