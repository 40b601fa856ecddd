// POSIX file environment. Locks are advisory flock() locks, which belong to
// the open file description: two opens in one process conflict just as two
// processes do, which is what a second compaction of the same file needs.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/env.h"
#include "tessmark/error.h"

namespace tessmark::jet {

namespace {

int32_t NumberForErrno(int err) {
  switch (err) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case EISDIR:
    case ELOOP:
      return kInvalidPath;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    case EEXIST:
      return kDatabaseExists;
    case EWOULDBLOCK:
    case ETXTBSY:
      return kFileInUse;
    default:
      return kIoError;
  }
}

[[noreturn]] void ThrowErrno(int err, const std::string& what, const std::string& path) {
  throw FileError(NumberForErrno(err), what, path, std::strerror(err));
}

class PosixReadFile final : public RandomAccessFile {
 public:
  PosixReadFile(int fd, uint64_t size, std::string path)
      : fd_(fd), size_(size), path_(std::move(path)) {}
  ~PosixReadFile() override { ::close(fd_); }

  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    const std::span<uint8_t> one(out, n);
    return ReadScattered(offset, std::span(&one, 1));
  }
  size_t ReadScattered(uint64_t offset,
                       std::span<const std::span<uint8_t>> buffers) const override {
    // One call reads a run of pages straight into their own storage.
    std::vector<iovec> iov;
    iov.reserve(buffers.size());
    for (const std::span<uint8_t>& b : buffers) iov.push_back({b.data(), b.size()});
    size_t done = 0, first = 0;
    while (first < iov.size()) {
      const int count = static_cast<int>(std::min<size_t>(iov.size() - first, IOV_MAX));
      const ssize_t got =
          ::preadv(fd_, iov.data() + first, count, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        throw Error(kIoError, "Could not read '" + path_ + "': " + std::strerror(err) + ".");
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
      // Past the buffers filled; a partly filled one continues where it stopped.
      for (size_t left = static_cast<size_t>(got); left > 0 && first < iov.size();) {
        const size_t take = std::min(left, iov[first].iov_len);
        iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + take;
        iov[first].iov_len -= take;
        left -= take;
        if (iov[first].iov_len == 0) ++first;
      }
    }
    return done;
  }
  uint64_t Size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
  std::string path_;
};

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  void WriteAt(uint64_t offset, const uint8_t* data, size_t n) override {
    size_t done = 0;
    while (done < n) {
      const ssize_t put = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(offset + done));
      if (put < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno, "write", path_);
      }
      done += static_cast<size_t>(put);
    }
    if (offset + n > end_) end_ = offset + n;
    StartWriteBack(offset, n);
  }
  void Append(const uint8_t* data, size_t n) override { WriteAt(end_, data, n); }
  void Sync() override {
    if (::fsync(fd_) != 0) ThrowErrno(errno, "flush", path_);
  }
  bool ShareForReading() override {
    // The exclusive lock becomes a shared one (readers may join, no one
    // may take it exclusively). flock converts by releasing and taking
    // again; if someone came in between, the file is left unlocked and
    // we say no.
    return fd_ >= 0 && ::flock(fd_, LOCK_SH | LOCK_NB) == 0;
  }
  void Close() override {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) ThrowErrno(errno, "close", path_);
  }

 private:
  // Large files are handed to the disk as they are written, a stretch at a
  // time, instead of all at once by the final flush: the flush then waits
  // for little, and written pages do not pile up in memory. Only a hint;
  // the flush remains what makes the file durable.
  void StartWriteBack(uint64_t offset, size_t n) {
#ifdef SYNC_FILE_RANGE_WRITE
    pending_low_ = std::min(pending_low_, offset);
    pending_high_ = std::max(pending_high_, offset + n);
    pending_bytes_ += n;
    if (pending_bytes_ < kWriteBackBytes) return;
    ::sync_file_range(fd_, static_cast<off_t>(pending_low_),
                      static_cast<off_t>(pending_high_ - pending_low_), SYNC_FILE_RANGE_WRITE);
    pending_low_ = UINT64_MAX;
    pending_high_ = 0;
    pending_bytes_ = 0;
#else
    (void)offset;
    (void)n;
#endif
  }

  static constexpr uint64_t kWriteBackBytes = 8u << 20;
  int fd_;
  uint64_t end_ = 0;
  uint64_t pending_low_ = UINT64_MAX, pending_high_ = 0, pending_bytes_ = 0;
  std::string path_;
};

class PosixEnv final : public Env {
 public:
  std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path, LockMode mode) override {
    if (path.empty() || path.find('\0') != std::string::npos) ThrowErrno(EINVAL, "open", path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(errno, "open", path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const int err = errno;
      ::close(fd);
      ThrowErrno(err, "open", path);
    }
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      ThrowErrno(EISDIR, "open", path);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      ThrowErrno(EINVAL, "open", path);
    }
    const int op = (mode == LockMode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(fd, op) != 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ThrowErrno(err == EWOULDBLOCK ? EWOULDBLOCK : err, "lock", path);
    }
    return std::make_unique<PosixReadFile>(fd, static_cast<uint64_t>(st.st_size), path);
  }

  std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
    if (path.empty() || path.find('\0') != std::string::npos) ThrowErrno(EINVAL, "create", path);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno(errno, "create", path);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      ThrowErrno(err, "lock", path);
    }
    return std::make_unique<PosixWritableFile>(fd, path);
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) ThrowErrno(errno, "delete", path);
  }

  void RenameReplace(const std::string& from, const std::string& to) override {
    // A file that replaces another takes over its permissions and, where
    // the system lets us, its owner: a catalog that belongs to a service
    // account must stay writable by it after an administrator compacted it.
    struct stat st {};
    if (::stat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      if (::chmod(from.c_str(), st.st_mode & 07777) != 0)
        ThrowErrno(errno, "set the permissions of", from);
      if (::chown(from.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
        ThrowErrno(errno, "set the owner of", from);
    }
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowErrno(errno, "rename", from);
  }

  void MakeDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0755) != 0) ThrowErrno(errno, "create the folder", path);
  }

  bool FileExists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  uint64_t FileSize(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) ThrowErrno(errno, "examine", path);
    return static_cast<uint64_t>(st.st_size);
  }

  void SyncDirectory(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(errno, "open the folder", path);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0) ThrowErrno(err, "flush the folder", path);
  }

  bool CanReplaceOpenFiles() override { return true; }

  std::string ResolveLinks(const std::string& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;  // a dangling link: opening it will say why
    std::string out(resolved);
    std::free(resolved);
    return out;
  }
};

}  // namespace

Env* PlatformEnv() {
  static PosixEnv env;
  return &env;
}

}  // namespace tessmark::jet
