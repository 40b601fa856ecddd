// The engine's view of the file system, in the style of LevelDB's Env: every
// file operation the engine performs goes through an Env, so tests can put a
// fault-injecting one in its place and each platform supplies its own
// (env_posix.cpp here; the Windows one lives with the platform layer).
//
// All operations throw Error with a Jet error number on failure:
//   3024 file not found, 3044 not a valid path, 3045 file in use,
//   3026 disk full, 3043 any other input/output failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "tessmark/error.h"

namespace tessmark::jet {

// A file opened for reading. Reads may come from any offset in any order,
// and from more than one thread at once.
class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;
  // Reads up to `n` bytes at `offset` into `out` and returns how many were
  // read; fewer than `n` only at the end of the file.
  virtual size_t Read(uint64_t offset, size_t n, uint8_t* out) const = 0;
  // Reads the bytes from `offset` on into `buffers`, filling each before the
  // next, and returns how many were read in all (fewer only at the end of
  // the file). The default reads them with one Read, into a staging buffer
  // copied out when there are several; a system that can read into several
  // buffers at once saves that copy.
  virtual size_t ReadScattered(uint64_t offset, std::span<const std::span<uint8_t>> buffers) const;
  // Size of the file in bytes, as it was when it was opened.
  virtual uint64_t Size() const = 0;
};

// A file opened for writing; created by Env::NewWritableFile.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual void WriteAt(uint64_t offset, const uint8_t* data, size_t n) = 0;
  virtual void Append(const uint8_t* data, size_t n) = 0;
  // Flushes the file's data to stable storage.
  virtual void Sync() = 0;
  // Closes the file; errors the system reports on close are thrown.
  virtual void Close() = 0;
  // Lets the file be opened for reading with a shared lock while this
  // stays open (to be synced and closed); false where the system cannot,
  // and then the file stays held as it was.
  virtual bool ShareForReading() { return false; }
};

enum class LockMode {
  kShared,     // other readers may open the file; writers and exclusive holders may not
  kExclusive,  // nobody else may hold the file (compaction)
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens an existing file for reading and takes a lock of `mode` on it.
  // A file that someone else holds in a conflicting mode gives 3045.
  // Opening a directory gives 3044.
  virtual std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path, LockMode mode) = 0;
  // Creates a new file that must not exist yet (3204 if it does), holding
  // it exclusively until it is closed.
  virtual std::unique_ptr<WritableFile> CreateNew(const std::string& path) = 0;
  virtual void Remove(const std::string& path) = 0;
  // Renames `from` to `to`, replacing `to` atomically if it exists.
  virtual void RenameReplace(const std::string& from, const std::string& to) = 0;
  // (Not named CreateDirectory: <windows.h> turns that name into a macro.)
  virtual void MakeDirectory(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual uint64_t FileSize(const std::string& path) = 0;
  // Flushes a directory entry change (a rename or new file) to stable storage.
  virtual void SyncDirectory(const std::string& path) = 0;
  // The file a path names once symbolic links are followed (the path itself
  // where there are none, or where the system has no such links).
  virtual std::string ResolveLinks(const std::string& path) { return path; }
  // Whether RenameReplace may replace a file this process holds open and
  // locked (POSIX: yes; Windows refuses a file opened without delete sharing).
  virtual bool CanReplaceOpenFiles() { return false; }
};

// The error an environment raises when the system refuses to `what` (a verb
// such as "open" or "write") the file at `path`: `number` from the list at the
// top of this file, `reason` the system's own words, used where the number
// alone does not say what went wrong.
Error FileError(int32_t number, const std::string& what, const std::string& path,
                const std::string& reason);

// The environment the engine uses when none is passed in. Initially the
// platform's own; tests may replace it (pass nullptr to restore the platform's).
Env* DefaultEnv();
void SetDefaultEnv(Env* env);

// The platform's own environment (defined by the platform's Env source file).
Env* PlatformEnv();

}  // namespace tessmark::jet
