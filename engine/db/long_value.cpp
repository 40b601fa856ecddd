#include "db/long_value.h"

#include <algorithm>

#include "format/data_page.h"

namespace tessmark::jet {

LongValueField ParseLongValueField(Bytes field, const Location& where) {
  ByteView v(field, where);
  if (field.size() < kLongValueFieldSize) {
    ThrowDamaged(where, "the long-value field has " + std::to_string(field.size()) +
                            " bytes instead of at least 12");
  }
  LongValueField lv;
  const uint32_t head = v.U32(0);
  lv.length = head & kLongValueLengthMask;
  const uint32_t form = head & ~kLongValueLengthMask;
  lv.first = RowPointer::FromStored(v.U32(kLongValuePointer));
  lv.stamp = v.U32(kLongValueStamp);
  if (form == kLongValueInline) {
    lv.form = LongValueForm::kInline;
    lv.inline_data = field.subspan(kLongValueFieldSize);
    if (lv.inline_data.size() != lv.length) {
      ThrowDamaged(where, "the inline long value declares " + std::to_string(lv.length) +
                              " bytes but holds " + std::to_string(lv.inline_data.size()));
    }
  } else if (form == kLongValueSingleRow) {
    lv.form = LongValueForm::kSingleRow;
  } else if (form == 0) {  // a chain
    lv.form = LongValueForm::kChain;
  } else {
    ThrowDamaged(where, "the long-value field has the unknown form 0xC0");
  }
  return lv;
}

std::vector<uint8_t> LongValueReader::Read(const LongValueField& field, const Location& where,
                                           std::vector<RowPointer>* rows) {
  std::vector<uint8_t> out;
  ReadInto(field, where, out, rows);
  return out;
}

LongValueReader::Found LongValueReader::Row(RowPointer pointer, const Location& where) {
  // As ReadRow does, but parsing the page only when it changes, and naming
  // the place only when something is wrong.
  if (last_page_.page == nullptr || last_page_.number() != pointer.page) {
    const Location at = where.WithRow(pointer.page, pointer.row);
    ParseDataPage(file_.Get(pointer.page, at), Format::For(file_.version()), at, last_page_);
  }
  if (last_page_.owner != kLongValueOwner || pointer.row >= last_page_.slots.size())
    CheckRowPlace(last_page_, pointer.row, where.WithRow(pointer.page, pointer.row),
                  &kLongValueOwner);
  return {last_page_.slots[pointer.row], last_page_.RowBytes(pointer.row)};
}

bool LongValueReader::Revisits(RowPointer row) {
  // Chains are mostly a few rows long: a list searched in full is cheaper
  // than a hash set until it grows.
  constexpr size_t kListed = 32;
  const uint32_t key = row.Stored();
  if (chain_.size() < kListed) {
    if (std::find(chain_.begin(), chain_.end(), key) != chain_.end()) return true;
    chain_.push_back(key);
    return false;
  }
  if (chain_set_.empty()) chain_set_.insert(chain_.begin(), chain_.end());
  return !chain_set_.insert(key).second;
}

void LongValueReader::ReadInto(const LongValueField& field, const Location& where,
                               std::vector<uint8_t>& out, std::vector<RowPointer>* rows) {
  if (field.form == LongValueForm::kInline) {
    out.assign(field.inline_data.begin(), field.inline_data.end());
    return;
  }
  // No value can be larger than the file that holds it.
  if (field.length > file_.file_size()) {
    ThrowDamaged(where, "the long value declares " + std::to_string(field.length) +
                            " bytes, more than the whole file");
  }
  out.clear();
  if (field.form == LongValueForm::kSingleRow) {
    const Found r = Row(field.first, where);
    if (!r.slot.plain()) {
      ThrowDamaged(where.WithRow(field.first.page, field.first.row),
                   "the long value's row is deleted or moved");
    }
    Bytes b = r.bytes;
    if (b.size() != field.length) {
      ThrowDamaged(where.WithRow(field.first.page, field.first.row),
                   "the long value declares " + std::to_string(field.length) +
                       " bytes but its row holds " + std::to_string(b.size()));
    }
    if (rows) rows->push_back(field.first);
    out.assign(b.begin(), b.end());
    return;
  }
  out.reserve(std::min<uint32_t>(field.length, 1u << 20));
  chain_.clear();
  chain_set_.clear();
  RowPointer at_ptr = field.first;
  while (true) {
    const Location at = where.WithRow(at_ptr.page, at_ptr.row);
    if (Revisits(at_ptr)) {
      ThrowDamaged(at, "the long-value chain returns to a row it already visited");
    }
    const Found r = Row(at_ptr, where);
    if (!r.slot.plain()) ThrowDamaged(at, "a row of the long-value chain is deleted or moved");
    ByteView b(r.bytes, at);
    const RowPointer next = RowPointer::FromStored(b.U32(0));
    Bytes chunk = b.Sub(4, b.size() - 4);
    if (out.size() + chunk.size() > field.length) {
      ThrowDamaged(at, "the long-value chain holds more than the declared " +
                           std::to_string(field.length) + " bytes");
    }
    out.insert(out.end(), chunk.begin(), chunk.end());
    if (rows) rows->push_back(at_ptr);
    if (next.null()) break;
    at_ptr = next;
  }
  if (out.size() != field.length) {
    ThrowDamaged(where.WithRow(field.first.page, field.first.row),
                 "the long-value chain holds " + std::to_string(out.size()) +
                     " bytes instead of the declared " + std::to_string(field.length));
  }
}

}  // namespace tessmark::jet
