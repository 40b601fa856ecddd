// Page images written by the compactor: data-page packing, index trees,
// usage-map rows and page 1, and the checks that stop a page the layout
// did not plan (a fault of ours: an internal error, not one of the disk).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "format/env.h"
#include "format/output_file.h"
#include "format/page_image.h"
#include "tessmark/error.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

// The error number `f` throws, or 0.
template <typename F>
int32_t NumberOf(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

uint16_t U16(const PageImage& p, size_t at) {
  return static_cast<uint16_t>(p[at] | p[at + 1] << 8);
}
uint32_t U32(const PageImage& p, size_t at) {
  return uint32_t{p[at]} | uint32_t{p[at + 1]} << 8 | uint32_t{p[at + 2]} << 16 |
         uint32_t{p[at + 3]} << 24;
}

TEST(DataPageBuilderTest, PacksFromTheEndWithExactFreeSpace) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const PageGeometry g = PageGeometry::For(v);
    DataPageBuilder b(g, 77);
    const std::vector<uint8_t> row(100, 0xAB);
    size_t n = 0;
    while (b.Fits(row.size())) {
      EXPECT_EQ(b.Add(row), n);
      ++n;
    }
    EXPECT_EQ(n, g.data_capacity() / 102);
    EXPECT_EQ(NumberOf([&] { b.Add(row); }), kInternalError);
    const PageImage p = b.Finish();
    const size_t count_at = g.jet3() ? 8 : 12;
    EXPECT_EQ(p[0], 0x01);
    EXPECT_EQ(U32(p, 4), 77u);
    EXPECT_EQ(U16(p, count_at), n);
    const size_t lowest = U16(p, g.data_header_size() + 2 * (n - 1));
    EXPECT_EQ(U16(p, 2), lowest - (g.data_header_size() + 2 * n));
    for (size_t r = 0; r < n; ++r)
      EXPECT_EQ(U16(p, g.data_header_size() + 2 * r), g.page_size - 100 * (r + 1));
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.free_space(), g.data_capacity());
  }
}

TEST(DataPageBuilderTest, StopsAt255RowsEvenWhenBytesRemain) {
  DataPageBuilder b(PageGeometry::For(JetVersion::kJet4), 5);
  const std::vector<uint8_t> empty_row;
  size_t n = 0;
  while (b.Fits(0)) {
    b.Add(empty_row);
    ++n;
  }
  EXPECT_EQ(n, 255u);
  EXPECT_EQ(NumberOf([&] { b.Add(empty_row); }), kInternalError);
}

TEST(OutputFileTest, PagesOfTheWrongSizeOrNumberAreInternalErrors) {
  compact_test::ScratchDir dir;
  OutputFile out(DefaultEnv(), dir.File("copy.mdb"), DatabaseHeader{});
  const uint32_t page = out.Allocate();
  EXPECT_EQ(NumberOf([&] { out.Write(page + 1, PageImage(4096)); }), kInternalError)
      << "a page never allocated";
  EXPECT_EQ(NumberOf([&] { out.Write(page, PageImage(2048)); }), kInternalError);
  EXPECT_EQ(NumberOf([&] { out.Write(page, PageImage(4096)); }), 0);
}

// The compactor fills several parts of the copy at once (rows, long values,
// index pages), and pages wait in runs before they go out; whatever the
// order, every page must end up at its place with what was written last.
TEST(OutputFileTest, PagesWrittenInAnyOrderLandAtTheirPlaceWithTheirLastImage) {
  constexpr uint32_t kPages = 400;
  struct Case {
    const char* name;
    std::vector<uint32_t> order;  // pages in the order they are written
  };
  std::vector<Case> cases;
  {
    Case c{"in file order, several full runs", {}};
    for (uint32_t p = 0; p < kPages; ++p) c.order.push_back(p);
    cases.push_back(c);
  }
  {
    Case c{"two parts of the file filled in turn", {}};
    for (uint32_t i = 0; i < kPages / 2; ++i) {
      c.order.push_back(i);
      c.order.push_back(kPages / 2 + i);
    }
    cases.push_back(c);
  }
  {
    Case c{"more parts at once than runs are kept", {}};
    constexpr uint32_t kParts = 8;
    for (uint32_t i = 0; i < kPages / kParts; ++i) {
      for (uint32_t part = 0; part < kParts; ++part)
        c.order.push_back(part * (kPages / kParts) + i);
    }
    cases.push_back(c);
  }
  {
    Case c{"pages written again, while waiting and after going out", {}};
    for (uint32_t p = 0; p < kPages; ++p) c.order.push_back(p);
    for (uint32_t p : {3u, 2u, 200u, 399u, 0u, 64u, 63u, 3u}) c.order.push_back(p);
    for (uint32_t p = 100; p < 170; ++p) c.order.push_back(p);
    cases.push_back(c);
  }
  {
    // The run holding the page goes on filling after the page is written
    // again, and other parts then push runs out.
    Case c{"a page written again while its run still fills", {}};
    for (uint32_t p = 0; p < 10; ++p) c.order.push_back(p);
    c.order.push_back(5);
    for (uint32_t p = 10; p < 30; ++p) c.order.push_back(p);
    for (uint32_t i = 0; i < 20; ++i) {
      for (uint32_t part : {100u, 200u, 300u, 350u}) c.order.push_back(part + i);
    }
    cases.push_back(c);
  }
  {
    Case c{"backwards", {}};
    for (uint32_t p = kPages; p-- > 0;) c.order.push_back(p);
    cases.push_back(c);
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Pages a case leaves out are written last, so the file is whole.
    std::vector<bool> written_once(kPages, false);
    for (uint32_t p : c.order) written_once[p] = true;
    for (uint32_t p = 0; p < kPages; ++p) {
      if (!written_once[p]) c.order.push_back(p);
    }
    compact_test::ScratchDir dir;
    const std::string path = dir.File("copy.mdb");
    std::vector<uint8_t> expected(size_t{kPages} * 4096);
    {
      OutputFile out(DefaultEnv(), path, DatabaseHeader{});
      for (uint32_t p = 0; p < kPages; ++p) out.Allocate();
      for (size_t w = 0; w < c.order.size(); ++w) {
        const uint32_t p = c.order[w];
        // Each write of a page gets an image of its own.
        PageImage image(4096, static_cast<uint8_t>(w * 7 + 1));
        image[0] = static_cast<uint8_t>(p);
        image[1] = static_cast<uint8_t>(p >> 8);
        out.Write(p, image);
        std::copy(image.begin(), image.end(), expected.begin() + size_t{p} * 4096);
      }
      out.Commit();
    }
    const std::vector<uint8_t> written = compact_test::ReadAll(path);
    ASSERT_EQ(written.size(), expected.size());
    for (uint32_t p = 0; p < kPages; ++p) {
      ASSERT_TRUE(std::equal(written.begin() + size_t{p} * 4096,
                             written.begin() + size_t{p + 1} * 4096,
                             expected.begin() + size_t{p} * 4096))
          << "page " << p;
    }
  }
}

struct TreePages {
  std::map<uint32_t, PageImage> pages;
  uint32_t next = 10;
  PageOutput Output() {
    return {[this] { return next++; }, [this](uint32_t n, const PageImage& p) { pages[n] = p; }};
  }
};

size_t StoredPrefix(const PageGeometry& g, const PageImage& p) {
  return g.jet3() ? p[0x14] : U16(p, 0x18);
}

// Decodes the entries of one page, each whole (the shared prefix put back).
std::vector<std::vector<uint8_t>> Entries(const PageGeometry& g, const PageImage& p) {
  const size_t bitmap = g.jet3() ? 0x16 : 0x1B;
  const size_t prefix = StoredPrefix(g, p);
  std::vector<std::vector<uint8_t>> out;
  size_t start = 0;
  for (size_t bit = 1; bit <= g.idx_entry_area; ++bit) {
    if (p[bitmap + bit / 8] & (1u << (bit % 8))) {
      const auto* base = p.data() + g.idx_first_entry;
      out.emplace_back(base + start, base + bit);
      if (out.size() > 1) out.back().insert(out.back().begin(), base, base + prefix);
      start = bit;
    }
  }
  return out;
}

// Key bytes two entries (key and row pointer, `tail` more bytes on
// intermediate pages) share, as far as a page's prefix field holds.
size_t SharedKey(const PageGeometry& g, const std::vector<uint8_t>& a,
                 const std::vector<uint8_t>& b, size_t tail) {
  const size_t limit =
      std::min({a.size() - tail, b.size() - tail, size_t{g.jet3() ? 255u : 65535u}});
  size_t n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Bytes `entries` take on one page: whole while they fit so, else all but
// the first without the key bytes the first and the last share.
size_t PackedBytes(const PageGeometry& g, const std::vector<std::vector<uint8_t>>& entries,
                   size_t tail) {
  size_t whole = 0;
  for (const auto& e : entries) whole += e.size();
  if (whole <= g.idx_entry_area) return whole;  // also when there are none
  return whole - (entries.size() - 1) * SharedKey(g, entries.front(), entries.back(), tail);
}

// Keys of 5 bytes, or of 303 whose first 301 are the same; row pointers
// after them.
std::vector<uint8_t> EntryFor(uint32_t i, bool long_head = false) {
  std::vector<uint8_t> e = {0x7F, 0x80, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
  if (long_head) e.insert(e.begin() + 1, 298, 0x60);
  for (uint32_t b : {0u, 0u, i / 200 + 1, i % 200}) e.push_back(static_cast<uint8_t>(b));
  return e;
}

// Collects the leaf entries reachable from `page` by descending the tree
// (entries' children, then the tail), checking the node invariants.
void Walk(const PageGeometry& g, TreePages& t, uint32_t page,
          std::vector<std::vector<uint8_t>>& out) {
  const PageImage& p = t.pages.at(page);
  const size_t tail_at = g.jet3() ? 0x10 : 0x14;
  if (p[0] == 0x04) {
    for (auto& e : Entries(g, p)) out.push_back(e);
    return;
  }
  ASSERT_EQ(p[0], 0x03);
  for (auto& e : Entries(g, p)) {
    const uint32_t child = uint32_t{e[e.size() - 4]} << 24 | uint32_t{e[e.size() - 3]} << 16 |
                           uint32_t{e[e.size() - 2]} << 8 | e[e.size() - 1];
    const size_t before = out.size();
    Walk(g, t, child, out);
    ASSERT_GT(out.size(), before);
    e.resize(e.size() - 4);
    EXPECT_EQ(e, out.back()) << "node entry differs from its child's last entry";
  }
  const uint32_t tail = U32(p, tail_at);
  if (tail != 0) Walk(g, t, tail, out);
}

TEST(IndexTreeBuilderTest, BuildsLinkedLeavesAndTailRuledNodes) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    for (bool long_head : {false, true}) {
      for (uint32_t count : {0u, 1u, 300u, 5000u, 60000u}) {
        SCOPED_TRACE(::testing::Message() << "jet " << (v == JetVersion::kJet3 ? 3 : 4) << ", "
                                          << count << (long_head ? " long" : " short") << " keys");
        const PageGeometry g = PageGeometry::For(v);
        TreePages t;
        IndexTreeBuilder b(g, 42, t.Output());
        for (uint32_t i = 0; i < count; ++i) b.Add(EntryFor(i, long_head));
        const uint32_t root = b.Finish();
        EXPECT_EQ(b.pages().size(), t.pages.size());
        // Given as key and row with what each key shares with the one
        // before, the same entries make the same pages.
        TreePages told;
        IndexTreeBuilder h(g, 42, told.Output());
        std::vector<uint8_t> before;
        for (uint32_t i = 0; i < count; ++i) {
          const std::vector<uint8_t> e = EntryFor(i, long_head);
          const std::span<const uint8_t> key = std::span(e).first(e.size() - 4);
          h.Add(key, RowPointer{LoadU24BE(e.data() + key.size()), e.back()},
                CommonPrefix(key, before));
          before.assign(key.begin(), key.end());
        }
        EXPECT_EQ(h.Finish(), root);
        EXPECT_TRUE(told.pages == t.pages);
        std::vector<std::vector<uint8_t>> walked;
        Walk(g, t, root, walked);
        ASSERT_EQ(walked.size(), count);
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(walked[i], EntryFor(i, long_head));
        // Every page stores a prefix exactly when its entries do not fit
        // whole, but a Jet 3 intermediate page, which keeps them whole;
        // its free space counts the bytes stored.
        size_t prefixed = 0;
        for (auto& [n, p] : t.pages) {
          const auto entries = Entries(g, p);
          const size_t tail = p[0] == 0x04 ? 4 : 8;
          const bool shares = p[0] == 0x04 || !g.jet3();
          size_t whole = 0;
          for (const auto& e : entries) whole += e.size();
          const size_t packed = shares ? PackedBytes(g, entries, tail) : whole;
          EXPECT_LE(packed, g.idx_entry_area) << "page " << n;
          EXPECT_EQ(U16(p, 2), g.page_size - g.idx_first_entry - packed) << "page " << n;
          const size_t shared =
              entries.empty() ? 0 : SharedKey(g, entries.front(), entries.back(), tail);
          EXPECT_EQ(StoredPrefix(g, p), shares && whole > g.idx_entry_area ? shared : 0)
              << "page " << n;
          prefixed += StoredPrefix(g, p) != 0;
        }
        if (count >= 5000) {
          EXPECT_GT(prefixed, 0u);
        }
        // Leaves: follow next links from the first leaf; each but the last
        // is full: the next leaf's first entry would not fit on it.
        const size_t link = g.jet3() ? 0x08 : 0x0C;
        uint32_t page = 0;
        for (auto& [n, p] : t.pages) {
          if (p[0] == 0x04 && U32(p, link) == 0) page = n;
        }
        ASSERT_NE(page, 0u);
        uint32_t prev = 0, seen = 0;
        for (; page != 0; page = U32(t.pages.at(page), link + 4)) {
          const PageImage& p = t.pages.at(page);
          EXPECT_EQ(U32(p, 4), 42u);
          EXPECT_EQ(U32(p, link), prev);
          auto entries = Entries(g, p);
          seen += static_cast<uint32_t>(entries.size());
          if (U32(p, link + 4) != 0) {
            entries.push_back(Entries(g, t.pages.at(U32(p, link + 4))).front());
            EXPECT_GT(PackedBytes(g, entries, 4), g.idx_entry_area) << "leaf not packed";
          }
          prev = page;
        }
        EXPECT_EQ(seen, count);
      }
    }
  }
}

TEST(UsageMapTest, InlineRowsAndReferenceFallback) {
  const PageGeometry g = PageGeometry::For(JetVersion::kJet4);
  std::vector<uint8_t> row;
  const std::vector<uint32_t> members = {13, 14, 20, 500};
  ASSERT_TRUE(InlineMapRow(g, members, g.map_row_length(), row));
  EXPECT_EQ(row.size(), 69u);
  EXPECT_EQ(row[1], 8);  // start rounded down to a multiple of 8
  EXPECT_EQ(row[5], 0b01100000);
  EXPECT_EQ(row[5 + 12 / 8], (1 << (12 % 8)) | 0);
  const std::vector<uint32_t> wide = {13, 600};
  EXPECT_FALSE(InlineMapRow(g, wide, g.map_row_length(), row));
  auto slots = ReferenceMapSlots(g, std::vector<uint32_t>{5, 40000});
  EXPECT_EQ(slots, (std::vector<uint32_t>{1, 1}));
  const PageImage bitmap = MapBitmapPage(g, 1, std::vector<uint32_t>{5, 40000});
  const uint32_t bit = 40000 - g.map_page_bits();
  EXPECT_EQ(bitmap[0], 0x05);
  EXPECT_TRUE(bitmap[4 + bit / 8] & (1 << (bit % 8)));
}

TEST(UsageMapTest, GlobalMapMarksOnlyPagesPastTheEndFree) {
  for (uint32_t count : {16u, 700u, 20000u}) {
    const PageGeometry g = PageGeometry::For(JetVersion::kJet4);
    PageImage p;
    ASSERT_TRUE(GlobalMapPage(g, count, p));
    EXPECT_EQ(U32(p, 4), 1u);
    EXPECT_EQ(U16(p, 12), 2);
    const size_t row0 = U16(p, 14);
    const size_t len = g.page_size - row0;
    EXPECT_GE((len - 5) * 8, count);
    EXPECT_EQ((len - 5) % 4, 0u);
    for (size_t bit = 0; bit < (len - 5) * 8; ++bit)
      ASSERT_EQ(((p[row0 + 5 + bit / 8] >> (bit % 8)) & 1) != 0, bit >= count) << bit;
  }
  PageImage p;
  EXPECT_FALSE(GlobalMapPage(PageGeometry::For(JetVersion::kJet3), 20000, p));
}

}  // namespace
}  // namespace tessmark::jet
