#include "db/index_page.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>
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

// Eight bytes of the entry bitmap as a word, the first byte lowest.
uint64_t BitmapWord(const uint8_t* p) {
  uint64_t word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, p, 8);
  } else {
    for (uint32_t k = 0; k < 8; ++k) word |= uint64_t{p[k]} << (8 * k);
  }
  return word;
}

// Entries end at distinct offsets inside the entry area, which is shorter
// than any page.
constexpr uint32_t kMaxEntryEnds = 4096;

// Where each entry ends in the entry area, from the entry bitmap: each set
// bit, lowest first, marks one. Returns how many there are.
uint32_t FindIndexEntries(const Bytes& bitmap, uint32_t limit, uint32_t tail_bytes,
                          const Location& at, const IndexPage& ip, uint16_t* ends) {
  uint32_t count = 0;
  uint32_t start = 0;
  uint32_t prefix = 0;  // of the entry being found: none on the first
  const uint32_t bitmap_bytes = static_cast<uint32_t>(bitmap.size());
  for (uint32_t base = 0; base < bitmap_bytes; base += 8) {
    uint64_t word;
    if (bitmap_bytes - base >= 8) {
      word = BitmapWord(bitmap.data() + base);
    } else {
      uint8_t last[8] = {};
      std::memcpy(last, bitmap.data() + base, bitmap_bytes - base);
      word = BitmapWord(last);
    }
    for (; word != 0; word &= word - 1) {
      const uint32_t end = base * 8 + static_cast<uint32_t>(std::countr_zero(word));
      if (end > limit) {
        ThrowDamaged(at, "the entry bitmap marks an entry ending at " + std::to_string(end) +
                             ", past the entry area");
      }
      if (end <= start) {
        ThrowDamaged(at, "the entry bitmap marks an empty entry at " + std::to_string(end));
      }
      const uint32_t length = prefix + (end - start);
      if (count == 0 && ip.prefix_length > length) {
        ThrowDamaged(at, "the shared prefix of " + std::to_string(ip.prefix_length) +
                             " bytes is longer than the first entry");
      }
      if (length < tail_bytes) {
        ThrowDamaged(at, "an index entry of " + std::to_string(length) +
                             " bytes is too short for its row pointer");
      }
      ends[count++] = static_cast<uint16_t>(end);
      start = end;
      prefix = ip.prefix_length;
    }
  }
  return count;
}

// Keys are copied in whole chunks of this many bytes where both sides have
// room for one: most are shorter, and a call per key costs more than the
// copy.
constexpr size_t kKeyChunk = 16;

// Copies `n` bytes to `to`, which has room for a chunk past them, from
// `from`, after which `room` bytes can be read.
void CopyKeyBytes(uint8_t* to, const uint8_t* from, size_t n, size_t room) {
  if (n <= kKeyChunk && room >= kKeyChunk) {
    std::memcpy(to, from, kKeyChunk);
  } else {
    std::memcpy(to, from, n);
  }
}

// Reads the entries that end at `ends`. The first entry is whole; each
// later one leaves out the first `ip.prefix_length` bytes of the first,
// which its key is put together with in `ip.keys`. Keys without a shared
// prefix stay where they lie on the page.
void ReadIndexEntries(const Bytes& area, uint32_t number, uint32_t tail_bytes, const uint16_t* ends,
                      uint32_t count, IndexPage& ip) {
  const bool leaf = ip.leaf;
  const uint32_t shared = ip.prefix_length;
  const uint8_t* const entry_area = area.data();
  ip.entries.resize(count);
  IndexEntry* const out = ip.entries.data();
  // Every key after the first is whole but for its suffix: their lengths
  // add up to this.
  if (shared != 0 && count > 1) {
    const uint64_t later = count - 1;
    const uint64_t key_total = later * shared + (ends[count - 1] - ends[0]) - later * tail_bytes;
    if (ip.keys.size() < key_total + kKeyChunk) {
      ip.keys.resize(static_cast<size_t>(key_total) + kKeyChunk);
    }
  }
  uint8_t* key_out = ip.keys.data();
  uint32_t start = 0;
  uint32_t prefix = 0;  // of the entry being read: none on the first
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t end = ends[n];
    const uint8_t* const suffix = entry_area + start;
    const uint32_t key_length = prefix + (end - start) - tail_bytes;
    // The pointer (and child) are the entry's last bytes; the suffix holds
    // them unless the prefix reaches into them.
    uint8_t copied[8];
    const uint8_t* tail = copied;
    if (key_length >= prefix) {
      tail = suffix + (key_length - prefix);
    } else {
      for (uint32_t t = 0; t < tail_bytes; ++t) {
        const uint32_t pos = key_length + t;
        copied[t] = pos < prefix ? entry_area[pos] : suffix[pos - prefix];
      }
    }
    IndexEntry& entry = out[n];
    if (prefix == 0 || key_length == 0) {
      entry.key = std::span<const uint8_t>(suffix, key_length);
    } else {
      const uint32_t from_prefix = std::min(prefix, key_length);
      // Each copy may write past its bytes into what the next one writes.
      CopyKeyBytes(key_out, entry_area, from_prefix, area.size());
      if (key_length > from_prefix) {
        CopyKeyBytes(key_out + from_prefix, suffix, key_length - from_prefix, area.size() - start);
      }
      entry.key = std::span<const uint8_t>(key_out, key_length);
      key_out += key_length;
    }
    entry.row = RowPointer{LoadU24BE(tail), tail[3]};
    entry.child = leaf ? 0 : LoadU32BE(tail + 4);
    entry.page = number;
    start = end;
    prefix = shared;
  }
}

}  // namespace

IndexPage ParseIndexPage(PageRef page, const Format& f, const Location& where) {
  IndexPage ip;
  ParseIndexPage(std::move(page), f, where, ip);
  return ip;
}

void ParseIndexPage(PageRef page, const Format& f, const Location& where, IndexPage& ip) {
  const uint32_t number = page->number;
  // Pages are parsed by the hundred thousand: the place is copied only when
  // it lacks the page.
  std::optional<Location> with_page;
  const Location& at =
      where.page == number && !where.row ? where : with_page.emplace(where.WithPage(number));
  // Until the page is parsed whole, `ip` holds none.
  ip.page = nullptr;
  ByteView v = page->View(at);
  ReadIndexPageHeader(v, f, at, number, ip);
  const Bytes bitmap = v.Sub(f.idx_bitmap, f.idx_bitmap_bytes);
  const Bytes area = v.Sub(f.idx_first_entry, f.page_size - f.idx_first_entry);
  const uint32_t tail_bytes = ip.leaf ? kRowPointerSize : kRowPointerSize + 4;
  const uint32_t limit =
      std::min<uint32_t>({f.idx_entry_area, static_cast<uint32_t>(area.size()), kMaxEntryEnds - 1});
  // Entries are found first, so that their storage and that of their keys
  // is sized once and the keys' spans never move.
  uint16_t ends[kMaxEntryEnds];
  const uint32_t count = FindIndexEntries(bitmap, limit, tail_bytes, at, ip, ends);
  ReadIndexEntries(area, number, tail_bytes, ends, count, ip);
  ip.used_bytes = count == 0 ? 0 : ends[count - 1];
  ip.page = std::move(page);
}

namespace {

// One walk of an index tree: the place named in damage (its page set per
// page, so the caller's place is copied once a walk) and a parsed page for
// each level, whose storage serves every page of that level.
struct TreeWalk {
  PageFile& file;
  const Format& format;
  const IndexWalkVisitor& visitor;
  Location at;
  std::unordered_set<uint32_t> seen;
  std::array<IndexPage, kMaxIndexDepth> levels;

  void Node(uint32_t number, uint32_t depth) {
    at.page = number;
    at.row.reset();
    if (depth >= kMaxIndexDepth) ThrowDamaged(at, "the index tree is deeper than any real index");
    if (!seen.insert(number).second) {
      ThrowDamaged(at, "index page " + std::to_string(number) + " is reached twice in the tree");
    }
    IndexPage& ip = levels[depth];
    ParseIndexPage(file.Get(number, at), format, at, ip);
    if (visitor.on_page) visitor.on_page(ip, depth);
    if (ip.leaf) {
      if (visitor.on_leaf_entry) {
        for (const IndexEntry& e : ip.entries) visitor.on_leaf_entry(e);
      }
      return;
    }
    // Children in walking order: the entries' children, then the tail.
    for (const IndexEntry& e : ip.entries) Node(e.child, depth + 1);
    if (ip.tail != 0) Node(ip.tail, depth + 1);
  }
};

}  // namespace

void WalkIndex(PageFile& file, const RealIndexDef& index, const Location& where,
               const IndexWalkVisitor& visitor) {
  TreeWalk walk{file, Format::For(file.version()), visitor, where, {}, {}};
  walk.Node(index.root_page, 0);
}

void WalkLeafChain(PageFile& file, uint32_t first_leaf, const Location& where,
                   const std::function<void(const IndexPage&)>& visit) {
  const Format& format = Format::For(file.version());
  std::unordered_set<uint32_t> seen;
  Location at = where;
  IndexPage ip;
  uint32_t number = first_leaf;
  while (number != 0) {
    at.page = number;
    at.row.reset();
    if (!seen.insert(number).second) {
      ThrowDamaged(at, "the leaf chain of the index returns to page " + std::to_string(number));
    }
    ParseIndexPage(file.Get(number, at), format, at, ip);
    if (!ip.leaf) ThrowDamaged(at, "the leaf chain of the index reaches an intermediate page");
    visit(ip);
    number = ip.next;
  }
}

}  // namespace tessmark::jet
