// Index pages (0x03 intermediate, 0x04 leaf) and walking an index: the page
// header, the entry-end bitmap, prefix compression, and each entry as (key
// bytes, row pointer, child page) together with the page it came from.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "db/table_def.h"
#include "format/format.h"
#include "format/page_file.h"

namespace tessmark::jet {

// One entry of an index page. Its key bytes live in the IndexPage it came
// from (or its page data) and are valid as long as that object is.
struct IndexEntry {
  std::span<const uint8_t> key;  // key bytes (without row pointer and child page)
  RowPointer row;                // table row the entry points at (u24 BE page, u8 row on disk)
  uint32_t child = 0;            // intermediate entries: child page; 0 on leaves
  uint32_t page = 0;             // index page holding the entry

  // key ‖ page (3 bytes BE) ‖ row: the bytes entries are ordered by.
  std::vector<uint8_t> Ordered() const;
  // The same into `out`, reusing its storage.
  void OrderedInto(std::vector<uint8_t>& out) const;
};

// A parsed index page. Move-only: the entries' keys point into `keys`, whose
// storage a move keeps and a copy would not.
struct IndexPage {
  IndexPage() = default;
  IndexPage(IndexPage&&) = default;
  IndexPage& operator=(IndexPage&&) = default;
  IndexPage(const IndexPage&) = delete;
  IndexPage& operator=(const IndexPage&) = delete;

  PageRef page;
  bool leaf = true;
  uint16_t free_space = 0;  // as stored
  uint32_t owner = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;  // intermediate pages: last child
  uint32_t prefix_length = 0;
  uint32_t used_bytes = 0;  // bytes of the entry area in use (end of the last entry)
  std::vector<IndexEntry> entries;
  std::vector<uint8_t> keys;  // storage for the keys that share the page's prefix

  uint32_t number() const { return page->number; }
  // Free space by the formula Access writes.
  uint32_t ComputedFreeSpace(const Format& format) const {
    return format.page_size - (format.idx_first_entry + used_bytes);
  }
  // Children in walking order: entries' children, then the tail.
  std::vector<uint32_t> Children() const;
};

// Parses an index page. Throws 3049 at `where` when the page type is not
// 0x03/0x04, the bitmap marks entries past the entry area, an entry is too
// short for its row pointer (and child) or the prefix is longer than the
// first entry.
IndexPage ParseIndexPage(PageRef page, const Format& format, const Location& where);
// The same into `into`, whose storage is reused from page to page; it holds
// no page when the parse throws.
void ParseIndexPage(PageRef page, const Format& format, const Location& where, IndexPage& into);

struct IndexWalkVisitor {
  // Every page of the tree, parents before children. `depth` 0 is the root.
  std::function<void(const IndexPage&, uint32_t depth)> on_page;
  // Every leaf entry, in tree order.
  std::function<void(const IndexEntry&)> on_leaf_entry;
};

// Walks the tree of `index` depth-first from its root. A page reached twice
// (a cycle or a shared child), a tree deeper than any real one, or a child
// of the wrong page type is damage (3049 at `where`).
void WalkIndex(PageFile& file, const RealIndexDef& index, const Location& where,
               const IndexWalkVisitor& visitor);

// Follows the `next` links of the leaf level from `first_leaf`, calling
// `visit` for each leaf. A cycle is damage.
void WalkLeafChain(PageFile& file, uint32_t first_leaf, const Location& where,
                   const std::function<void(const IndexPage&)>& visit);

}  // namespace tessmark::jet
