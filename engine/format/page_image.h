// Builders of the page images the compactor writes: data pages packed from
// row byte strings, index pages built from sorted entries, usage-map rows
// (inline and reference form) and the bitmap pages of reference maps.
// Nothing here reads a database; the builders only lay out bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "format/bytes_write.h"
#include "format/format.h"

namespace tessmark::jet {

using PageImage = std::vector<uint8_t>;

// The builders lay pages out by the version's layout table.
using PageGeometry = Format;

inline constexpr size_t kMaxRowsPerPage = 255;

// Packs rows into one data page from the end downwards, keeping the slot
// table and the free-space field exact.
class DataPageBuilder {
 public:
  DataPageBuilder(const PageGeometry& geometry, uint32_t owner);

  bool Fits(size_t row_length) const {
    return rows_ < kMaxRowsPerPage && row_length + 2 + released_ <= free_;
  }
  // Adds a row and returns its row number. The caller checks Fits first.
  uint8_t Add(std::span<const uint8_t> row);
  // Adds the slot of a row of `row_length` bytes that was written and then
  // deleted: an empty slot flagged deleted, whose bytes went back to the
  // page's free space. Until Finish, those bytes count as taken, as they
  // were while the row lived, so later rows go where they would have gone.
  uint8_t AddReleased(size_t row_length);
  size_t rows() const { return rows_; }
  size_t free_space() const { return free_; }
  bool empty() const { return rows_ == 0; }
  // Returns the finished page and starts an empty one for the same owner.
  PageImage Finish();

 private:
  PageGeometry geometry_;
  uint32_t owner_;
  PageImage page_;
  size_t rows_ = 0;
  size_t free_ = 0;
  size_t low_ = 0;       // offset of the lowest row written so far
  size_t released_ = 0;  // bytes of released rows on this page
};

// Receives the finished pages of a builder that allocates as it goes.
struct PageOutput {
  std::function<uint32_t()> allocate;  // next free page number of the output
  std::function<void(uint32_t page, const PageImage& image)> write;
};

// Builds an index tree bottom-up from entries given in ascending order of
// their full bytes (key, then the 4-byte big-endian row pointer). Leaves are
// packed densely and linked; intermediate levels name each child by its
// last entry except the right-most child of a page, which only the page's
// tail field names. A page whose entries do not fit whole stores every
// entry after the first without the key bytes its first and last entries
// share, and takes in entries as long as they fit so; Jet 3 intermediate
// pages only take in whole entries.
class IndexTreeBuilder {
 public:
  IndexTreeBuilder(const PageGeometry& geometry, uint32_t owner, PageOutput output);

  void Add(std::span<const uint8_t> entry);
  // The same for the entry of `key` and `row`, whose caller knows how many
  // leading bytes it has in common with the entry added before it. Entries
  // come in order, so an entry shares with its page's first entry the least
  // of what each entry since shares with the one before: nothing needs
  // comparing again.
  void Add(std::span<const uint8_t> key, RowPointer row, size_t shared_with_previous);
  // Counts an entry whose row was deleted after it was indexed: its leaf
  // kept its place and lost the entry, so its bytes still bound what the
  // leaf took in before and after it. A leaf that would hold nothing else
  // is not written.
  void AddReleased(std::span<const uint8_t> entry);
  // Parents name a leaf by its last entry as indexed, even when that
  // entry's row was deleted since, as deletes leave them: the separator
  // then lies above the leaf's last entry and below the next leaf's first.
  void KeepDeletedSeparators() { deleted_separators_ = true; }
  // How many bytes of entries each new leaf takes in (the whole entry area
  // unless set): a leaf split by an insert keeps only part of its entries.
  // Called once a leaf; the answer is clamped to half the area .. the area.
  void SetLeafFill(std::function<size_t()> fill);
  // Writes every remaining page and returns the root page.
  uint32_t Finish();
  const std::vector<uint32_t>& pages() const { return pages_; }
  uint64_t entries() const { return entries_; }

 private:
  struct Child {
    std::vector<uint8_t> last_entry;  // key and row pointer of the subtree's last entry
    uint32_t page;
  };
  // What a page's entries take when all but the first leave out the key
  // bytes shared by the page's first and last entries.
  struct PrefixFill {
    size_t total = 0;   // bytes of the entries, whole
    size_t count = 0;   // entries
    size_t prefix = 0;  // key bytes the first and the last entry share
    // Bytes taken with one more entry of `length` bytes, `shared` being the
    // page's prefix with it.
    size_t With(size_t length, size_t shared) const { return total + length - count * shared; }
    void Take(size_t length, size_t shared) {
      total += length;
      ++count;
      prefix = shared;
    }
    size_t Bytes() const { return count == 0 ? 0 : total - (count - 1) * prefix; }
  };
  // The page's prefix once `entry` (key and row pointer) joins a page of
  // `fill` whose first entry is `first`.
  size_t SharedWith(const PrefixFill& fill, std::span<const uint8_t> first,
                    std::span<const uint8_t> entry) const;
  // The prefix a page of `fill` stores: none when its entries fit whole.
  size_t StoredPrefix(const PrefixFill& fill) const {
    return fill.total > geometry_.idx_entry_area ? fill.prefix : 0;
  }
  // Closes the open leaf when an entry of `length` bytes sharing `shared`
  // with its first entry does not fit; returns whether it did.
  bool MakeRoom(size_t length, size_t shared);
  // Room at the end of the open leaf for an entry of `length` bytes sharing
  // `shared` with its first entry; returns where the entry goes.
  uint8_t* Append(size_t length, size_t shared);
  void FlushLeaf(bool last);
  void StartLeaf();
  // A page of the entries that lie one after another in `bytes`, each
  // ending where `ends` says.
  PageImage IndexPage(bool leaf, uint32_t prev, uint32_t next, uint32_t tail, size_t prefix,
                      std::span<const uint8_t> bytes, std::span<const size_t> ends) const;
  uint32_t BuildUpperLevels(std::vector<Child> level);

  PageGeometry geometry_;
  size_t max_prefix_;  // the largest prefix the page's field holds
  uint32_t owner_;
  PageOutput out_;
  std::vector<uint8_t> leaf_bytes_;         // entries of the open leaf, concatenated
  size_t leaf_used_ = 0;                    // bytes of leaf_bytes_ they take
  std::vector<size_t> leaf_ends_;           // end offset of each entry in leaf_bytes_
  PrefixFill leaf_fill_;                    // of the open leaf
  uint32_t leaf_page_ = 0, prev_leaf_ = 0;  // page of the open leaf, of the one before
  std::vector<Child> children_;             // finished leaves
  std::function<size_t()> fill_;
  size_t leaf_limit_ = 0;  // bytes the open leaf takes in
  size_t released_ = 0;    // bytes of released entries in the open leaf
  size_t carried_ = 0;     // of those past it, once it is full
  bool leaf_full_ = false;
  bool deleted_separators_ = false;
  std::vector<uint8_t> deleted_last_;  // a released entry past the open leaf's last entry
  std::vector<uint32_t> pages_;
  uint64_t entries_ = 0;
};

// How many leading bytes `a` and `b` have in common.
inline size_t CommonPrefix(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  // Eight bytes at a time; the first differing bit tells the byte.
  for (; i + 8 <= n; i += 8) {
    uint64_t x = 0, y = 0;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      const uint64_t d = x ^ y;
      const int bit =
          std::endian::native == std::endian::little ? std::countr_zero(d) : std::countl_zero(d);
      return i + static_cast<size_t>(bit) / 8;
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Usage maps. `members` are sorted ascending and unique.
// Returns true and the inline row when every member fits a standard-length
// inline row (start page rounded down to a multiple of 8).
bool InlineMapRow(const PageGeometry& geometry, std::span<const uint32_t> members,
                  size_t row_length, std::vector<uint8_t>& row);
// The bitmap page numbers a reference map over `members` needs, by slot
// (0 where a slot's range holds no member).
std::vector<uint32_t> ReferenceMapSlots(const PageGeometry& geometry,
                                        std::span<const uint32_t> members);
// Builds the reference row from the allocated bitmap pages (one per slot, 0
// for none) and the bitmap pages themselves.
std::vector<uint8_t> ReferenceMapRow(const PageGeometry& geometry,
                                     std::span<const uint32_t> slot_pages);
PageImage MapBitmapPage(const PageGeometry& geometry, uint32_t slot,
                        std::span<const uint32_t> members);

// Page 1 for a file of `page_count` pages, all in use but `free_pages`
// (ascending): the global map (free bits set for those and past the end) in
// row 0 and the empty second map row. Returns false when the map does not
// fit inline on page 1.
bool GlobalMapPage(const PageGeometry& geometry, uint32_t page_count, PageImage& page,
                   std::span<const uint32_t> free_pages = {});

}  // namespace tessmark::jet
