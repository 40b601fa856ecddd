// The one way the engine reports a damaged structure: error 3049 naming the
// place where the damage was found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tessmark/error.h"
#include "tessmark/location.h"

namespace tessmark::jet {

// Error 3049 for a damaged structure: "The database is damaged: <what>
// (<where>)." It keeps what was found, for reports that list findings.
class DamageError : public Error {
 public:
  DamageError(const Location& where, const std::string& what);
  // "<what> (<where>)", or just <what> when the place is not known.
  const std::string& finding() const { return finding_; }
  const Location& where() const { return where_; }
  const std::string& what_found() const { return what_; }

 private:
  Location where_;
  std::string what_;
  std::string finding_;
};

// Throws DamageError.
[[noreturn]] void ThrowDamaged(const Location& where, const std::string& what);

// What a damage error says is wrong, with its place; for a 3049 raised
// otherwise, its description without the final period.
std::string DamageFinding(const Error& error);

// What was found at `found`, for a report that names `at` already: of the
// place, only what `at` does not say (the column or index within it) when
// it lies in `at`, the whole place otherwise.
std::string FindingAt(const Location& found, const std::string& what, const Location& at);

// The same for a damage error (see DamageFinding for any other 3049).
std::string DamageFindingAt(const Error& error, const Location& at);

}  // namespace tessmark::jet
