// Errors of the Jet engine. Every failure carries a number from the Jet
// numbering, so operators can look it up, and a description in our words;
// a fault of the engine itself has a number of its own (kInternalError).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessmark::jet {

enum ErrorNumber : int32_t {
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

}  // namespace tessmark::jet
