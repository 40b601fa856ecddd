// What a front end names of the file format itself: its two versions, and
// the kinds of value a column holds.
#pragma once

namespace tessmark::jet {

enum class JetVersion { kJet3, kJet4 };

enum class ValueKind {
  kNull,
  kBoolean,
  kInteger,  // Byte, Integer, Long
  kCurrency,
  kSingle,
  kDouble,
  kDateTime,
  kBinary,  // Binary, OLE, fixed binary
  kText,    // Text, Memo
  kGuid,
  kNumeric,  // Decimal
};

}  // namespace tessmark::jet
