#include "db/index_page.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <unordered_set>

#include "format/bytes_write.h"
#include "format/format.h"

namespace tessmark::jet {

namespace {
// Real indexes of the corpus have at most two levels; eight levels of
// 4 KiB pages would index far more rows than a file can hold.
constexpr uint32_t kMaxIndexDepth = 8;
}  // namespace

std::vector<uint8_t> IndexEntry::Ordered() const {
  std::vector<uint8_t> out;
  OrderedInto(out);
  return out;
}

void IndexEntry::OrderedInto(std::vector<uint8_t>& out) const {
  // Called for every entry a check walks: sized once, then filled in place.
  const size_t n = key.size();
  out.resize(n + kRowPointerSize);
  if (n != 0) std::memcpy(out.data(), key.data(), n);
  PutIndexRowPointer(out, n, row);
}

std::vector<uint32_t> IndexPage::Children() const {
  std::vector<uint32_t> out;
  if (leaf) return out;
  for (const IndexEntry& e : entries) out.push_back(e.child);
  if (tail != 0) out.push_back(tail);
  return out;
}

namespace {

// Where an entry lies in the entry area: from `start` up to `end`.
struct FoundEntry {
  uint32_t start, end;
};

// The page's type and the fields of its header.
void ReadIndexPageHeader(const ByteView& v, const Format& f, const Location& at, uint32_t number,
                         IndexPage& ip) {
  const uint8_t type = v.U8(0);
  if (type != kPageIndexNode && type != kPageIndexLeaf) {
    ThrowDamaged(at, "page " + std::to_string(number) +
                         " should be an index page but has page type " + std::to_string(type));
  }
  ip.leaf = type == kPageIndexLeaf;
  ip.free_space = v.U16(kPageFreeSpace);
  ip.owner = v.U32(kPageOwner);
  ip.prev = v.U32(f.idx_prev);
  ip.next = v.U32(f.idx_next);
  ip.tail = v.U32(f.idx_tail);
  ip.prefix_length = f.idx_prefix_size == 1 ? v.U8(f.idx_prefix) : v.U16(f.idx_prefix);
}

// Where each entry ends in the entry area, from the entry bitmap; returns
// where the last one ends, and adds the keys' full length to `key_total`.
uint32_t FindIndexEntries(const Bytes& bitmap, const Bytes& area, const Format& f,
                          const Location& at, const IndexPage& ip, uint32_t tail_bytes,
                          std::vector<FoundEntry>& found, uint64_t& key_total) {
  uint32_t start = 0;
  // The bitmap is read eight bytes at a time; each set bit, lowest first,
  // marks where an entry ends.
  for (uint32_t base = 0; base < f.idx_bitmap_bytes; base += 8) {
    // Copied out first, so that the word is put together from a fixed
    // eight bytes (one load) even where the bitmap ends.
    uint8_t bytes[8] = {};
    std::memcpy(bytes, bitmap.data() + base, std::min<uint32_t>(8, f.idx_bitmap_bytes - base));
    uint64_t word = 0;
    for (uint32_t k = 0; k < 8; ++k) word |= uint64_t{bytes[k]} << (8 * k);
    for (; word != 0; word &= word - 1) {
      const uint32_t i = base * 8 + static_cast<uint32_t>(std::countr_zero(word));
      if (i > f.idx_entry_area || i > area.size()) {
        ThrowDamaged(at, "the entry bitmap marks an entry ending at " + std::to_string(i) +
                             ", past the entry area");
      }
      if (i <= start) {
        ThrowDamaged(at, "the entry bitmap marks an empty entry at " + std::to_string(i));
      }
      const uint32_t length = (found.empty() ? 0 : ip.prefix_length) + (i - start);
      if (found.empty() && ip.prefix_length > length) {
        ThrowDamaged(at, "the shared prefix of " + std::to_string(ip.prefix_length) +
                             " bytes is longer than the first entry");
      }
      if (length < tail_bytes) {
        ThrowDamaged(at, "an index entry of " + std::to_string(length) +
                             " bytes is too short for its row pointer");
      }
      key_total += length - tail_bytes;
      found.push_back({start, i});
      start = i;
    }
  }
  return start;
}

// The entries' keys (prefixes restored), row pointers and children.
void ReadIndexEntries(const Bytes& area, uint32_t number, uint32_t tail_bytes,
                      const std::vector<FoundEntry>& found, uint64_t key_total, IndexPage& ip) {
  // Keys without a shared prefix are read where they lie on the page (which
  // `ip.page` keeps alive); the others are put together in `ip.keys`, sized
  // up front so that the spans into it never move.
  if (ip.prefix_length != 0) ip.keys.resize(static_cast<size_t>(key_total));
  size_t keys_used = 0;
  ip.entries.resize(found.size());
  const uint8_t* const entry_area = area.data();
  for (size_t n = 0; n < found.size(); ++n) {
    const uint8_t* const suffix = entry_area + found[n].start;
    const uint32_t suffix_length = found[n].end - found[n].start;
    const uint32_t prefix = n == 0 ? 0 : ip.prefix_length;
    const uint32_t length = prefix + suffix_length;
    // The pointer (and child) are the entry's last bytes; the suffix holds
    // them unless the prefix reaches into them.
    uint8_t tail[8];
    if (length - tail_bytes >= prefix) {
      const uint8_t* const from = suffix + (length - tail_bytes - prefix);
      // Sizes the compiler knows: two moves rather than a call.
      if (ip.leaf) {
        std::memcpy(tail, from, kRowPointerSize);
      } else {
        std::memcpy(tail, from, kRowPointerSize + 4);
      }
    } else {
      for (uint32_t t = 0; t < tail_bytes; ++t) {
        const uint32_t pos = length - tail_bytes + t;
        tail[t] = pos < prefix ? entry_area[pos] : suffix[pos - prefix];
      }
    }
    const uint32_t key_length = length - tail_bytes;
    IndexEntry& entry = ip.entries[n];
    if (prefix == 0 || key_length == 0) {
      entry.key = std::span<const uint8_t>(suffix, key_length);
    } else {
      uint8_t* const key = ip.keys.data() + keys_used;
      const uint32_t from_prefix = std::min(prefix, key_length);
      std::memcpy(key, entry_area, from_prefix);
      if (key_length > from_prefix)
        std::memcpy(key + from_prefix, suffix, key_length - from_prefix);
      entry.key = std::span<const uint8_t>(key, key_length);
      keys_used += key_length;
    }
    entry.page = number;
    entry.row = RowPointer{LoadU24BE(tail), tail[3]};
    if (!ip.leaf) entry.child = LoadU32BE(tail + 4);
  }
}

}  // namespace

IndexPage ParseIndexPage(PageRef page, const Format& f, const Location& where) {
  const Location at = where.WithPage(page->number);
  ByteView v = page->View(at);
  IndexPage ip;
  ip.page = page;
  ReadIndexPageHeader(v, f, at, page->number, ip);
  const Bytes bitmap = v.Sub(f.idx_bitmap, f.idx_bitmap_bytes);
  const Bytes area = v.Sub(f.idx_first_entry, f.page_size - f.idx_first_entry);
  const uint32_t tail_bytes = ip.leaf ? kRowPointerSize : kRowPointerSize + 4;
  // Entries are found first (where each ends in the entry area), then their
  // keys are copied, prefixes restored, into one buffer sized up front, so
  // the keys' spans never move.
  // Pages are parsed by the hundred thousand: each thread keeps its list.
  thread_local std::vector<FoundEntry> found;
  found.clear();
  uint64_t key_total = 0;
  ip.used_bytes = FindIndexEntries(bitmap, area, f, at, ip, tail_bytes, found, key_total);
  ReadIndexEntries(area, page->number, tail_bytes, found, key_total, ip);
  return ip;
}

namespace {

void WalkNode(PageFile& file, const RealIndexDef& index, const Location& where, uint32_t number,
              uint32_t depth, std::unordered_set<uint32_t>& seen, const IndexWalkVisitor& visitor) {
  const Location at = where.WithPage(number);
  if (depth >= kMaxIndexDepth) ThrowDamaged(at, "the index tree is deeper than any real index");
  if (!seen.insert(number).second) {
    ThrowDamaged(at, "index page " + std::to_string(number) + " is reached twice in the tree");
  }
  const IndexPage ip = ParseIndexPage(file.Get(number, at), Format::For(file.version()), at);
  if (visitor.on_page) visitor.on_page(ip, depth);
  if (ip.leaf) {
    if (visitor.on_leaf_entry) {
      for (const IndexEntry& e : ip.entries) visitor.on_leaf_entry(e);
    }
    return;
  }
  for (uint32_t child : ip.Children())
    WalkNode(file, index, where, child, depth + 1, seen, visitor);
}

}  // namespace

void WalkIndex(PageFile& file, const RealIndexDef& index, const Location& where,
               const IndexWalkVisitor& visitor) {
  std::unordered_set<uint32_t> seen;
  WalkNode(file, index, where, index.root_page, 0, seen, visitor);
}

void WalkLeafChain(PageFile& file, uint32_t first_leaf, const Location& where,
                   const std::function<void(const IndexPage&)>& visit) {
  std::unordered_set<uint32_t> seen;
  uint32_t number = first_leaf;
  while (number != 0) {
    const Location at = where.WithPage(number);
    if (!seen.insert(number).second) {
      ThrowDamaged(at, "the leaf chain of the index returns to page " + std::to_string(number));
    }
    const IndexPage ip = ParseIndexPage(file.Get(number, at), Format::For(file.version()), at);
    if (!ip.leaf) ThrowDamaged(at, "the leaf chain of the index reaches an intermediate page");
    visit(ip);
    number = ip.next;
  }
}

}  // namespace tessmark::jet
