// Errors of the Jet engine. Every failure carries a number from the Jet
// numbering, so operators can look it up, and a description in our words.
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

}  // namespace tessmark::jet
