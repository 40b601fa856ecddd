// Errors of the Jet engine. Every failure carries a number from the Jet
// numbering, so operators can look it up, and a description in our words;
// a fault of the engine itself has a number of its own (kInternalError).
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace tessmark::jet {

enum ErrorNumber : int32_t {
  // Not a Jet number: memory ran out. The number DAO and the forms runtime
  // report for it, so the operator sees one number for it everywhere.
  kOutOfMemory = 7,
  kInvalidArgument = 3001,
  kFileNotFound = 3024,
  kDiskFull = 3026,
  kPasswordRequired = 3031,
  kIoError = 3043,
  kInvalidPath = 3044,
  kFileInUse = 3045,
  kDamaged = 3049,
  kDuplicateKey = 3022,
  kDatabaseExists = 3204,
  kUnrecognizedFormat = 3343,
  // Not a Jet number: an invariant of this program's own did not hold, a
  // fault in our code and never one of the disk or the database.
  kInternalError = 30000,
};

class Error : public std::runtime_error {
 public:
  Error(int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  int32_t number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int32_t number_;
};

// The error for a broken invariant: "Internal error: <what>."
inline Error InternalError(const std::string& what) {
  return Error(kInternalError, "Internal error: " + what + ".");
}

// The number and description any exception stands for, for every place
// that must report whatever was thrown: an Error (or an error type derived
// from it) as it is, memory running out as kOutOfMemory, and anything else
// as a fault of ours (kInternalError).
inline Error ErrorOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    return Error(e.number(), e.description());
  } catch (const std::bad_alloc&) {
    return Error(kOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return InternalError(e.what());
  } catch (...) {
    return InternalError("an exception of an unknown kind");
  }
}

}  // namespace tessmark::jet
