// Long values (memo and OLE): the 12-byte field in the row and the LVAL
// rows it points at, in the inline, single-row and chained forms.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "format/bytes.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/page_file.h"

namespace tessmark::jet {

enum class LongValueForm : uint8_t { kInline = 0x80, kSingleRow = 0x40, kChain = 0x00 };

struct LongValueField {
  uint32_t length = 0;  // bytes of the value
  LongValueForm form = LongValueForm::kInline;
  RowPointer first;    // single-row and chain forms
  uint32_t stamp = 0;  // Jet 4 bytes 8..11
  Bytes inline_data;   // inline form: the bytes after the 12-byte field
};

// Parses a long-value field (the column's bytes in the row). Throws 3049 at
// `where` for a field shorter than 12 bytes, the unused form 0xC0, or an
// inline field whose data length differs from its declared length.
LongValueField ParseLongValueField(Bytes field, const Location& where);

class LongValueReader {
 public:
  explicit LongValueReader(PageFile& file) : file_(file) {}

  // Reads the whole value. `rows`, when given, receives every LVAL row the
  // value occupies (for ownership checks). Lengths must agree exactly;
  // cycles, deleted rows and pages that are not LVAL pages are damage.
  std::vector<uint8_t> Read(const LongValueField& field, const Location& where,
                            std::vector<RowPointer>* rows = nullptr);
  // The same into `out` (replacing what it held), so that a caller reading
  // many values reuses one buffer.
  void ReadInto(const LongValueField& field, const Location& where, std::vector<uint8_t>& out,
                std::vector<RowPointer>* rows = nullptr);

 private:
  // True when the chain has been at `row` before.
  bool Revisits(RowPointer row);

  // The row at `pointer`, which must lie on a long-value page. Values
  // read one after another mostly share a page, so the last page parsed
  // is kept.
  // The bytes stay valid until the next call.
  struct Found {
    RowSlot slot;
    Bytes bytes;
  };
  Found Row(RowPointer pointer, const Location& where);

  PageFile& file_;
  DataPage last_page_;
  std::vector<uint32_t> chain_;             // rows of the chain being read
  std::unordered_set<uint32_t> chain_set_;  // the same, once the chain is long
};

}  // namespace tessmark::jet
