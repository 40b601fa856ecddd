// Fuzz harness for the decoders on their own: rows (with their values and
// long values), long-value fields and chains, and index pages. The input's
// first byte picks the format and the decoder; the rest fills the pages
// after a valid header page.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "db/index_page.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/table_def.h"
#include "db/value.h"
#include "format/data_page.h"
#include "format/format.h"
#include "format/header.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmark;

namespace {

// A file image: a blank, unencrypted header page of `version`, then `body`
// cut into pages (the last one padded with zeros).
std::vector<uint8_t> Image(jet::JetVersion version, const uint8_t* body, size_t size) {
  const size_t page = version == jet::JetVersion::kJet3 ? 2048 : 4096;
  std::vector<uint8_t> image(page, 0);
  std::memcpy(image.data() + 4, "Standard Jet DB", 16);
  image[0x14] = version == jet::JetVersion::kJet3 ? 0 : 1;
  jet::ApplyHeaderMask(version, image);
  const size_t pages = (size + page - 1) / page;
  image.resize(page * (1 + (pages == 0 ? 1 : pages)), 0);
  if (size != 0) std::memcpy(image.data() + page, body, size);
  return image;
}

void DecodeRows(jet::PageFile& file, const jet::Format& format) {
  const jet::TableDef def = jet::ReadTableDef(file, 1, "fuzz");
  jet::LongValueReader long_values(file);
  for (uint32_t p = 2; p < file.page_count(); ++p) {
    fuzz::Guarded([&] {
      const jet::PageRef page = file.Get(p);
      if (page->type() != 0x01) return;
      const jet::DataPage dp = jet::ParseDataPage(page, format, jet::Location::Page(p));
      for (uint32_t r = 0; r < dp.slots.size(); ++r) {
        fuzz::Guarded([&] {
          if (!dp.slots[r].plain()) return;
          const jet::Location where = def.where().WithRow(p, r);
          const jet::Bytes row = dp.RowBytes(r);
          const jet::DecodedRow decoded = jet::DecodeRow(def, format, row, where);
          for (size_t c = 0; c < def.columns.size(); ++c) {
            fuzz::Guarded([&] {
              const jet::Value v = jet::DecodeValue(def.columns[c], format, decoded.fields[c], row,
                                                    long_values, where);
              (void)jet::FormatValue(v);
            });
          }
        });
      }
    });
  }
}

void DecodeLongValue(jet::PageFile& file) {
  const jet::PageRef first = file.Get(1);
  const jet::Location where = jet::Location::Page(1);
  // The field: a length byte, then that many bytes of page 1.
  const size_t len = std::min<size_t>(first->data[0], first->data.size() - 1);
  const jet::Bytes field = jet::Bytes(first->data).subspan(1, len);
  const jet::LongValueField lv = jet::ParseLongValueField(field, where);
  jet::LongValueReader reader(file);
  std::vector<jet::RowPointer> rows;
  (void)reader.Read(lv, where, &rows);
}

void DecodeIndexPages(jet::PageFile& file, const jet::Format& format) {
  for (uint32_t p = 1; p < file.page_count(); ++p) {
    fuzz::Guarded([&] {
      const jet::IndexPage ip = jet::ParseIndexPage(file.Get(p), format, jet::Location::Page(p));
      for (const jet::IndexEntry& e : ip.entries) (void)e.Ordered();
      (void)ip.Children();
    });
  }
  jet::WalkLeafChain(file, 1, jet::Location::Page(1), [](const jet::IndexPage&) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const jet::JetVersion version = (data[0] & 1) ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;
  const int mode = (data[0] >> 1) % 3;
  fuzz::Guarded([&] {
    jet::PageFile file(std::make_unique<fuzz::MemoryFile>(Image(version, data + 1, size - 1)));
    const jet::Format& format = jet::Format::For(version);
    if (mode == 0) DecodeRows(file, format);
    if (mode == 1) DecodeLongValue(file);
    if (mode == 2) DecodeIndexPages(file, format);
  });
  return 0;
}
