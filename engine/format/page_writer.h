// Writers that lay out structures straight into an OutputFile, allocating
// pages as they go: long values in LVAL pages, usage-map rows (with the
// bitmap pages of reference maps), table-definition page chains and the
// global usage map on page 1. Shared by compaction and the database builder.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "format/format.h"
#include "format/output_file.h"
#include "format/page_image.h"

namespace tessmark::jet {

// A data page whose free space is at least this is listed in the free-space
// map, so inserts try it before growing the file.
inline constexpr size_t kFreeMapThreshold = 64;

// Long values of one memo/OLE column, written into fresh LVAL pages.
class LongValueWriter {
 public:
  LongValueWriter(const PageGeometry& g, const Format& f, OutputFile& out)
      : geometry_(g), format_(f), out_(out), page_(g, kLongValueOwner) {}

  // Stores `value` (single row when it fits one, else a chain) and returns
  // the 12-byte field that points at it.
  std::array<uint8_t, 12> Write(std::span<const uint8_t> value);
  // A value of `length` bytes written and later deleted (its row deleted or
  // the value rewritten elsewhere): a single row leaves an empty deleted
  // slot and its bytes as free space; a chain's full pages become free
  // pages (blank), listed by released_pages().
  void WriteReleased(size_t length);
  // Writes the open page; further values start a new one.
  void Close();

  std::vector<uint32_t> pages() const { return Sorted(pages_); }
  std::vector<uint32_t> free_pages() const { return Sorted(free_pages_); }
  const std::vector<uint32_t>& released_pages() const { return released_pages_; }

 private:
  static std::vector<uint32_t> Sorted(std::vector<uint32_t> v);
  void Open();

  PageGeometry geometry_;
  const Format& format_;
  OutputFile& out_;
  DataPageBuilder page_;
  uint32_t page_number_ = 0;
  std::vector<uint32_t> pages_, free_pages_, released_pages_;
};

// One usage-map row over `members` (ascending): inline when they fit a
// standard row, otherwise a reference row whose bitmap pages are allocated
// and written here.
std::vector<uint8_t> WriteUsageMapRow(OutputFile& out, const PageGeometry& geometry,
                                      std::span<const uint32_t> members);

// Splits a logical table definition over `pages` (first page first) and
// writes them with their continuation links and free-space fields.
void WriteTableDefPages(OutputFile& out, const PageGeometry& geometry,
                        std::span<const uint8_t> stream, std::span<const uint32_t> pages);

// Number of pages a table definition of `stream_length` bytes takes.
uint32_t TableDefPageCount(const PageGeometry& geometry, size_t stream_length);

// Writes page 1 for the file as allocated so far: every page in use except
// `free_pages` (ascending). When the map does not fit inline on page 1 a
// reference map is used whose bitmap pages are allocated at the end.
void WriteGlobalMap(OutputFile& out, const PageGeometry& geometry,
                    std::span<const uint32_t> free_pages = {});

}  // namespace tessmark::jet
