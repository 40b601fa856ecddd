#include "format/page_image.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "format/data_page.h"
#include "tessmark/error.h"

namespace tessmark::jet {

// ---------------------------------------------------------------- data pages

DataPageBuilder::DataPageBuilder(const PageGeometry& geometry, uint32_t owner)
    : geometry_(geometry), owner_(owner) {
  Finish();  // sets up an empty page
}

uint8_t DataPageBuilder::Add(std::span<const uint8_t> row) {
  if (!Fits(row.size())) throw InternalError("a row was added to a full data page");
  low_ -= row.size();
  if (!row.empty()) std::memcpy(page_.data() + low_, row.data(), row.size());
  const size_t slot = geometry_.data_header_size() + 2 * rows_;
  PutU16(page_, slot, static_cast<uint16_t>(low_));
  free_ -= row.size() + 2;
  PutU16(page_, kPageFreeSpace, static_cast<uint16_t>(free_));
  PutU16(page_, geometry_.data_row_count, static_cast<uint16_t>(rows_ + 1));
  return static_cast<uint8_t>(rows_++);
}

uint8_t DataPageBuilder::AddReleased(size_t row_length) {
  if (!Fits(row_length)) throw InternalError("a row was added to a full data page");
  const uint8_t row = Add({});
  const size_t slot = geometry_.data_header_size() + 2u * row;
  PutU16(page_, slot, static_cast<uint16_t>(low_ | kSlotMoved | kSlotDeleted));
  released_ += row_length;
  return row;
}

PageImage DataPageBuilder::Finish() {
  PageImage done = std::move(page_);
  page_.assign(geometry_.page_size, 0);
  page_[0] = kPageData;
  page_[1] = 0x01;
  PutU32(page_, kPageOwner, owner_);
  rows_ = 0;
  released_ = 0;
  free_ = geometry_.data_capacity();
  low_ = geometry_.page_size;
  PutU16(page_, kPageFreeSpace, static_cast<uint16_t>(free_));
  return done;
}

// --------------------------------------------------------------- index pages

IndexTreeBuilder::IndexTreeBuilder(const PageGeometry& geometry, uint32_t owner, PageOutput output)
    : geometry_(geometry),
      max_prefix_((size_t{1} << (8 * geometry.idx_prefix_size)) - 1),
      owner_(owner),
      out_(std::move(output)),
      leaf_limit_(geometry.idx_entry_area) {}

size_t IndexTreeBuilder::SharedWith(const PrefixFill& fill, std::span<const uint8_t> first,
                                    std::span<const uint8_t> entry) const {
  const size_t key = entry.size() > kRowPointerSize ? entry.size() - kRowPointerSize : 0;
  if (fill.count == 0) return std::min(key, max_prefix_);
  // Entries come in order, so the keys between the first and this one
  // share whatever these two share.
  const size_t limit = std::min(fill.prefix, key);
  const auto end = first.begin() + static_cast<std::ptrdiff_t>(limit);
  return static_cast<size_t>(std::mismatch(first.begin(), end, entry.begin()).first -
                             first.begin());
}

void IndexTreeBuilder::SetLeafFill(std::function<size_t()> fill) {
  fill_ = std::move(fill);
  StartLeaf();
}

void IndexTreeBuilder::StartLeaf() {
  const size_t area = geometry_.idx_entry_area;
  leaf_limit_ = fill_ ? std::clamp(fill_(), area / 2, area) : area;
  released_ = carried_ <= leaf_limit_ ? carried_ : 0;
  carried_ = 0;
  leaf_full_ = false;
}

void IndexTreeBuilder::AddReleased(std::span<const uint8_t> entry) {
  const size_t entry_length = entry.size();
  if (leaf_full_) {
    carried_ = carried_ + entry_length <= leaf_limit_ ? carried_ + entry_length : entry_length;
  } else if (leaf_fill_.Bytes() + released_ + entry_length <= leaf_limit_) {
    released_ += entry_length;
    if (deleted_separators_ && !leaf_ends_.empty())
      deleted_last_.assign(entry.begin(), entry.end());
  } else if (leaf_ends_.empty()) {
    released_ = entry_length;  // a leaf of released entries only is gone
  } else {
    leaf_full_ = true;
    carried_ = entry_length;
  }
}

namespace {

[[noreturn]] void ThrowEntryTooLong(size_t length) {
  throw Error(kDamaged, "An index entry of " + std::to_string(length) +
                            " bytes is longer than an index page can hold.");
}

void CheckEntryLength(const PageGeometry& geometry, size_t length) {
  if (length > geometry.idx_entry_area / 2) ThrowEntryTooLong(length);
}

}  // namespace

void IndexTreeBuilder::Add(std::span<const uint8_t> entry) {
  CheckEntryLength(geometry_, entry.size());
  size_t shared = SharedWith(leaf_fill_, leaf_bytes_, entry);
  if (MakeRoom(entry.size(), shared)) shared = SharedWith(leaf_fill_, leaf_bytes_, entry);
  std::memcpy(Append(entry.size(), shared), entry.data(), entry.size());
}

void IndexTreeBuilder::Add(std::span<const uint8_t> key, RowPointer row,
                           size_t shared_with_previous) {
  const size_t length = key.size() + kRowPointerSize;
  CheckEntryLength(geometry_, length);
  // What SharedWith would find, without looking at the bytes.
  const size_t most = std::min(key.size(), shared_with_previous);
  auto shared = [&] {
    return leaf_fill_.count == 0 ? std::min(key.size(), max_prefix_)
                                 : std::min(leaf_fill_.prefix, most);
  };
  size_t s = shared();
  if (MakeRoom(length, s)) s = shared();
  uint8_t* const at = Append(length, s);
  if (!key.empty()) std::memcpy(at, key.data(), key.size());
  PutIndexRowPointer(std::span<uint8_t>(at, length), key.size(), row);
}

bool IndexTreeBuilder::MakeRoom(size_t length, size_t shared) {
  if (!leaf_full_ && leaf_fill_.With(length, shared) + released_ <= leaf_limit_) return false;
  if (!leaf_ends_.empty()) FlushLeaf(false);
  if (released_ + length > leaf_limit_) released_ = 0;
  return true;
}

uint8_t* IndexTreeBuilder::Append(size_t length, size_t shared) {
  if (leaf_ends_.empty() && leaf_page_ == 0) {
    leaf_page_ = out_.allocate();
    pages_.push_back(leaf_page_);
  }
  const size_t at = leaf_used_;
  // Grown now and then, never shrunk: the open leaf's bytes are written in
  // place, without being cleared first.
  if (at + length > leaf_bytes_.size())
    leaf_bytes_.resize(std::max(2 * leaf_bytes_.size(), at + length + geometry_.page_size));
  leaf_used_ = at + length;
  leaf_ends_.push_back(leaf_used_);
  leaf_fill_.Take(length, shared);
  deleted_last_.clear();
  ++entries_;
  return leaf_bytes_.data() + at;
}

void IndexTreeBuilder::FlushLeaf(bool last) {
  if (leaf_page_ == 0) {
    leaf_page_ = out_.allocate();
    pages_.push_back(leaf_page_);
  }
  uint32_t next = 0;
  if (!last) {
    next = out_.allocate();
    pages_.push_back(next);
  }
  out_.write(leaf_page_, IndexPage(true, prev_leaf_, next, 0, StoredPrefix(leaf_fill_), leaf_bytes_,
                                   leaf_ends_));
  Child child;
  if (!deleted_last_.empty()) {
    child.last_entry = std::move(deleted_last_);
    deleted_last_.clear();
  } else if (!leaf_ends_.empty()) {
    const size_t begin = leaf_ends_.size() > 1 ? leaf_ends_[leaf_ends_.size() - 2] : 0;
    child.last_entry.assign(leaf_bytes_.begin() + static_cast<std::ptrdiff_t>(begin),
                            leaf_bytes_.begin() + static_cast<std::ptrdiff_t>(leaf_used_));
  }
  child.page = leaf_page_;
  children_.push_back(std::move(child));
  prev_leaf_ = leaf_page_;
  leaf_page_ = next;
  leaf_used_ = 0;
  leaf_ends_.clear();
  leaf_fill_ = {};
  StartLeaf();
}

uint32_t IndexTreeBuilder::Finish() {
  FlushLeaf(true);
  return BuildUpperLevels(std::move(children_));
}

uint32_t IndexTreeBuilder::BuildUpperLevels(std::vector<Child> level) {
  while (level.size() > 1) {
    // Group children into pages: entries for every child but the last of
    // each page, whose page number goes into the tail field.
    struct Group {
      size_t first, count;  // children [first, first+count)
      size_t prefix;        // stored prefix of the page's entries
    };
    std::vector<Group> groups;
    size_t i = 0;
    while (i < level.size()) {
      size_t count = 0;
      PrefixFill fill;
      while (i + count < level.size()) {
        if (i + count + 1 == level.size()) {  // the final child becomes the tail
          ++count;
          break;
        }
        const std::vector<uint8_t>& last = level[i + count].last_entry;
        // Jet 3 intermediate pages keep their entries whole: the product's
        // Jet 3 pages show a prefix on leaves only, and whole entries read
        // right whether or not a reader applies the field on such a page.
        const size_t shared = geometry_.jet3() ? 0 : SharedWith(fill, level[i].last_entry, last);
        if (fill.With(last.size() + 4, shared) > geometry_.idx_entry_area) {
          ++count;  // no room: this child is the tail
          break;
        }
        fill.Take(last.size() + 4, shared);
        ++count;
      }
      groups.push_back({i, count, StoredPrefix(fill)});
      i += count;
    }
    std::vector<uint32_t> group_pages;
    for (size_t g = 0; g < groups.size(); ++g) {
      group_pages.push_back(out_.allocate());
      pages_.push_back(group_pages.back());
    }
    std::vector<Child> parents;
    for (size_t g = 0; g < groups.size(); ++g) {
      const Group& grp = groups[g];
      std::vector<uint8_t> bytes;
      std::vector<size_t> ends;
      uint32_t tail = 0;
      size_t listed = grp.count;
      if (grp.count > 1) {
        tail = level[grp.first + grp.count - 1].page;
        listed = grp.count - 1;
      }
      for (size_t c = 0; c < listed; ++c) {
        const Child& child = level[grp.first + c];
        bytes.insert(bytes.end(), child.last_entry.begin(), child.last_entry.end());
        bytes.resize(bytes.size() + 4);
        PutU32BE(bytes, bytes.size() - 4, child.page);
        ends.push_back(bytes.size());
      }
      const uint32_t prev = g > 0 ? group_pages[g - 1] : 0;
      const uint32_t next = g + 1 < groups.size() ? group_pages[g + 1] : 0;
      out_.write(group_pages[g], IndexPage(false, prev, next, tail, grp.prefix, bytes, ends));
      parents.push_back({level[grp.first + grp.count - 1].last_entry, group_pages[g]});
    }
    level = std::move(parents);
  }
  return level.front().page;
}

PageImage IndexTreeBuilder::IndexPage(bool leaf, uint32_t prev, uint32_t next, uint32_t tail,
                                      size_t prefix, std::span<const uint8_t> bytes,
                                      std::span<const size_t> ends) const {
  PageImage page(geometry_.page_size, 0);
  page[0] = leaf ? kPageIndexLeaf : kPageIndexNode;
  page[1] = 0x01;
  PutU32(page, kPageOwner, owner_);
  PutU32(page, geometry_.idx_prev, prev);
  PutU32(page, geometry_.idx_next, next);
  PutU32(page, geometry_.idx_tail, tail);
  if (geometry_.idx_prefix_size == 1) {
    page[geometry_.idx_prefix] = static_cast<uint8_t>(prefix);
  } else {
    PutU16(page, geometry_.idx_prefix, static_cast<uint16_t>(prefix));
  }
  page[geometry_.idx_node_marker] = leaf ? 0x00 : 0x01;
  const size_t bitmap = geometry_.idx_bitmap;
  size_t pos = 0;
  size_t start = 0;
  for (size_t n = 0; n < ends.size(); ++n) {
    // The first entry is whole; the others leave out the shared prefix.
    const size_t from = n == 0 ? start : start + prefix;
    const size_t size = ends[n] - from;
    std::memcpy(page.data() + geometry_.idx_first_entry + pos, bytes.data() + from, size);
    start = ends[n];
    pos += size;
    page[bitmap + pos / 8] = static_cast<uint8_t>(page[bitmap + pos / 8] | (1u << (pos % 8)));
  }
  PutU16(page, kPageFreeSpace,
         static_cast<uint16_t>(geometry_.page_size - geometry_.idx_first_entry - pos));
  return page;
}

// ---------------------------------------------------------------- usage maps

bool InlineMapRow(const PageGeometry& geometry, std::span<const uint32_t> members,
                  size_t row_length, std::vector<uint8_t>& row) {
  (void)geometry;
  row.assign(row_length, 0);
  const uint32_t start = members.empty() ? 0 : members.front() & ~7u;
  const uint64_t span = (row_length - kMapRowBitmap) * 8;
  if (!members.empty() && uint64_t{members.back()} - start >= span) return false;
  row[0] = kMapInline;
  PutU32(row, kMapRowStartPage, start);
  for (uint32_t p : members) {
    const uint32_t bit = p - start;
    uint8_t& byte = row[kMapRowBitmap + bit / 8];
    byte = static_cast<uint8_t>(byte | (1u << (bit % 8)));
  }
  return true;
}

std::vector<uint32_t> ReferenceMapSlots(const PageGeometry& geometry,
                                        std::span<const uint32_t> members) {
  std::vector<uint32_t> slots;
  const uint32_t span = geometry.map_page_bits();
  for (uint32_t p : members) {
    const size_t slot = p / span;
    if (slots.size() <= slot) slots.resize(slot + 1, 0);
    slots[slot] = 1;
  }
  return slots;
}

std::vector<uint8_t> ReferenceMapRow(const PageGeometry& geometry,
                                     std::span<const uint32_t> slot_pages) {
  std::vector<uint8_t> row(geometry.map_row_length(), 0);
  if (kMapRowPages + 4 * slot_pages.size() > row.size())
    throw Error(kIoError, "The database is too large for a usage map.");
  row[0] = kMapReference;
  for (size_t k = 0; k < slot_pages.size(); ++k) PutU32(row, kMapRowPages + 4 * k, slot_pages[k]);
  return row;
}

PageImage MapBitmapPage(const PageGeometry& geometry, uint32_t slot,
                        std::span<const uint32_t> members) {
  PageImage page(geometry.page_size, 0);
  page[0] = kPageUsageMap;
  page[1] = 0x01;
  const uint64_t first = uint64_t{slot} * geometry.map_page_bits();
  const uint64_t end = first + geometry.map_page_bits();
  for (uint32_t p : members) {
    if (p < first || p >= end) continue;
    const auto bit = static_cast<size_t>(p - first);
    uint8_t& byte = page[kMapPageBitmap + bit / 8];
    byte = static_cast<uint8_t>(byte | (1u << (bit % 8)));
  }
  return page;
}

bool GlobalMapPage(const PageGeometry& geometry, uint32_t page_count, PageImage& page,
                   std::span<const uint32_t> free_pages) {
  const size_t minimum = geometry.map_row_length() - kMapRowBitmap;
  size_t bytes = (page_count + 7) / 8;
  bytes = (bytes + 3) / 4 * 4;
  bytes = std::max(bytes, minimum);
  std::vector<uint8_t> row0(kMapRowBitmap + bytes, 0);
  auto set = [&](size_t bit) {
    uint8_t& byte = row0[kMapRowBitmap + bit / 8];
    byte = static_cast<uint8_t>(byte | (1u << (bit % 8)));
  };
  for (size_t bit = page_count; bit < bytes * 8; ++bit) set(bit);
  for (uint32_t p : free_pages) {
    if (p < page_count) set(p);
  }
  std::vector<uint8_t> row1(geometry.map_row_length(), 0);
  DataPageBuilder builder(geometry, 1);
  if (!builder.Fits(row0.size())) return false;
  builder.Add(row0);
  if (!builder.Fits(row1.size())) return false;
  builder.Add(row1);
  page = builder.Finish();
  return true;
}

}  // namespace tessmark::jet
