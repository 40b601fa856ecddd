#include "format/page_writer.h"

#include <algorithm>
#include <cstring>

#include "tessmark/error.h"

namespace tessmark::jet {
std::array<uint8_t, 12> LongValueWriter::Write(std::span<const uint8_t> value) {
  std::array<uint8_t, 12> field{};
  const auto length = static_cast<uint32_t>(value.size());
  if (value.size() > kLongValueLengthMask)
    throw Error(kDamaged, "A long value is too long to store.");
  if (length <= format_.lv_chain_row) {
    if (page_number_ == 0 || !page_.Fits(length)) Open();
    const uint8_t row = page_.Add(value);
    PutU32(field, 0, length | kLongValueSingleRow);
    PutU32(field, kLongValuePointer, RowPointer{page_number_, row}.Stored());
    return field;
  }
  const uint32_t chunk = format_.lv_chain_row - 4;
  const uint32_t count = (length + chunk - 1) / chunk;
  Close();
  std::vector<uint32_t> chain(count);
  for (uint32_t& p : chain) p = out_.Allocate();
  std::vector<uint8_t> row;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t from = size_t{i} * chunk;
    const size_t n = std::min<size_t>(chunk, length - from);
    row.assign(4, 0);
    if (i + 1 < count) PutU32(row, 0, RowPointer{chain[i + 1], 0}.Stored());
    row.insert(row.end(), value.begin() + static_cast<std::ptrdiff_t>(from),
               value.begin() + static_cast<std::ptrdiff_t>(from + n));
    page_number_ = chain[i];
    page_.Add(row);
    if (i + 1 < count) Close();  // full pages; the last stays open for more values
  }
  PutU32(field, 0, length);
  PutU32(field, kLongValuePointer, RowPointer{chain[0], 0}.Stored());
  return field;
}

void LongValueWriter::WriteReleased(size_t length) {
  size_t tail = length;
  if (length > format_.lv_chain_row) {
    const size_t chunk = format_.lv_chain_row - 4;
    const size_t full = (length - 1) / chunk;
    Close();
    const PageImage blank(geometry_.page_size, 0);
    for (size_t i = 0; i < full; ++i) {
      released_pages_.push_back(out_.Allocate());
      out_.Write(released_pages_.back(), blank);
    }
    tail = length - full * chunk + 4;
  }
  if (page_number_ == 0 || !page_.Fits(tail)) Open();
  page_.AddReleased(tail);
}

void LongValueWriter::Close() {
  if (page_number_ == 0) return;
  if (page_.free_space() >= kFreeMapThreshold) free_pages_.push_back(page_number_);
  pages_.push_back(page_number_);
  out_.Write(page_number_, page_.Finish());
  page_number_ = 0;
}

std::vector<uint32_t> LongValueWriter::Sorted(std::vector<uint32_t> v) {
  std::sort(v.begin(), v.end());
  return v;
}

void LongValueWriter::Open() {
  Close();
  page_number_ = out_.Allocate();
}

std::vector<uint8_t> WriteUsageMapRow(OutputFile& out, const PageGeometry& geometry,
                                      std::span<const uint32_t> members) {
  std::vector<uint8_t> row;
  if (InlineMapRow(geometry, members, geometry.map_row_length(), row)) return row;
  std::vector<uint32_t> slots = ReferenceMapSlots(geometry, members);
  for (uint32_t k = 0; k < slots.size(); ++k) {
    if (slots[k] == 0) continue;
    slots[k] = out.Allocate();
    out.Write(slots[k], MapBitmapPage(geometry, k, members));
  }
  return ReferenceMapRow(geometry, slots);
}

uint32_t TableDefPageCount(const PageGeometry& geometry, size_t stream_length) {
  const size_t ps = geometry.page_size;
  const size_t per_page = ps - kTdefPageHeader;
  if (stream_length <= ps) return 1;
  return static_cast<uint32_t>(1 + (stream_length - ps + per_page - 1) / per_page);
}

void WriteTableDefPages(OutputFile& out, const PageGeometry& geometry, std::span<const uint8_t> s,
                        std::span<const uint32_t> pages) {
  const uint32_t ps = geometry.page_size;
  size_t pos = 0;
  for (size_t k = 0; k < pages.size(); ++k) {
    PageImage img(ps, 0);
    size_t on_page;
    if (k == 0) {
      on_page = std::min<size_t>(s.size(), ps);
      std::memcpy(img.data(), s.data(), on_page);
      pos = on_page;
    } else {
      const size_t n = std::min<size_t>(s.size() - pos, ps - kTdefPageHeader);
      std::memcpy(img.data() + kTdefPageHeader, s.data() + pos, n);
      pos += n;
      on_page = kTdefPageHeader + n;
    }
    img[0] = kPageTableDef;
    img[1] = 0x01;
    if (geometry.jet3()) {
      img[kTdefMark] = 'V';
      img[kTdefMark + 1] = 'C';
    } else {
      const size_t free = ps > on_page + 8 ? ps - on_page - 8 : 0;
      PutU16(img, kPageFreeSpace, static_cast<uint16_t>(free));
    }
    PutU32(img, kTdefNextPage, k + 1 < pages.size() ? pages[k + 1] : 0);
    out.Write(pages[k], img);
  }
}

void WriteGlobalMap(OutputFile& out, const PageGeometry& geometry,
                    std::span<const uint32_t> free_pages) {
  PageImage page1;
  if (GlobalMapPage(geometry, out.page_count(), page1, free_pages)) {
    out.Write(1, page1);
    return;
  }
  // Too many pages for an inline row on page 1: a reference map whose
  // bitmap pages come last and count themselves as used. Every slot of the
  // row gets its page, so that the whole range the map can describe says
  // "free" past the end of the file.
  const uint32_t span = geometry.map_page_bits();
  const uint32_t bitmap_pages = (geometry.map_row_length() - kMapRowPages) / 4;
  if (uint64_t{out.page_count()} + bitmap_pages > uint64_t{bitmap_pages} * span)
    throw Error(kIoError, "The database is too large for the global usage map.");
  std::vector<uint32_t> slots;
  for (uint32_t k = 0; k < bitmap_pages; ++k) slots.push_back(out.Allocate());
  const uint32_t total = out.page_count();
  for (uint32_t k = 0; k < bitmap_pages; ++k) {
    PageImage bm(geometry.page_size, 0);
    bm[0] = kPageUsageMap;
    bm[1] = 0x01;
    auto set = [&](uint32_t bit) {
      uint8_t& byte = bm[kMapPageBitmap + bit / 8];
      byte = static_cast<uint8_t>(byte | (1u << (bit % 8)));
    };
    for (uint32_t bit = 0; bit < span; ++bit) {
      if (uint64_t{k} * span + bit >= total) set(bit);
    }
    for (uint32_t p : free_pages) {
      if (p / span == k) set(p % span);
    }
    out.Write(slots[k], bm);
  }
  DataPageBuilder b(geometry, 1);
  b.Add(ReferenceMapRow(geometry, slots));
  b.Add(std::vector<uint8_t>(geometry.map_row_length(), 0));
  out.Write(1, b.Finish());
}

}  // namespace tessmark::jet
