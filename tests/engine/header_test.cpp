// The database header: version, settings, password and page encryption,
// on copies of sample files changed the way the desktop product would.
#include "format/header.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "check/checker.h"
#include "db/database.h"
#include "format/rc4.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

using Image = std::vector<uint8_t>;

std::filesystem::path Sample(const std::string& relative) {
  return testing::SharedDir() / "corpus" / relative;
}

Image LoadSample(const std::string& rel) {
  if (!std::filesystem::exists(Sample(rel))) return {};
  return testing::ReadWholeFile(Sample(rel));
}

// Every row of every table, as text, to compare two readings of one database.
std::vector<std::string> Contents(const std::filesystem::path& file,
                                  const std::optional<std::string>& password = {}) {
  OpenOptions options;
  options.password = password;
  auto db = Database::Open(file.string(), options);
  std::vector<std::string> out;
  for (const CatalogObject* t : db->Tables()) {
    const TableDef& def = db->Table(*t);
    db->ForEachRow(def, [&](const TableRow& row) {
      std::string line = t->name;
      for (const Value& v : db->DecodeValues(def, row)) line += "|" + FormatValue(v);
      out.push_back(line);
    });
  }
  return out;
}

TEST(Header, SettingsOfJet3AndJet4Samples) {
  const Image j3 = LoadSample("jet3/testV1997.mdb");
  const Image j4 = LoadSample("jet4/testV2000.mdb");
  if (j3.empty() || j4.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  const DatabaseHeader h3 = ParseHeader(Image(j3.begin(), j3.begin() + 2048));
  EXPECT_TRUE(h3.jet3());
  EXPECT_EQ(h3.page_size, 2048u);
  EXPECT_EQ(h3.sort_order, 1033);
  EXPECT_EQ(h3.code_page, 1252);
  EXPECT_FALSE(h3.has_password);
  EXPECT_FALSE(h3.encrypted());
  const DatabaseHeader h4 = ParseHeader(Image(j4.begin(), j4.begin() + 4096));
  EXPECT_FALSE(h4.jet3());
  EXPECT_EQ(h4.page_size, 4096u);
  EXPECT_EQ(h4.sort_order, 1033);
  EXPECT_EQ(h4.code_page, 1252);
  EXPECT_GT(h4.creation_date, 36000.0);  // after 1998
  EXPECT_FALSE(h4.has_password);
  // The decoded block starts with the constant every file carries.
  const uint8_t constant[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(h4.decoded_page.data() + 0x18, constant, sizeof(constant)), 0);
  EXPECT_EQ(std::memcmp(h3.decoded_page.data() + 0x18, constant, sizeof(constant)), 0);
}

// Writes `password` into the header of a Jet 4 image as Access stores it:
// UCS-2, masked with the creation date, inside the obscured block.
void SetJet4Password(Image& img, const std::u16string& password) {
  std::span<uint8_t> page0(img.data(), 4096);
  ApplyHeaderMask(JetVersion::kJet4, page0);
  double date;
  std::memcpy(&date, img.data() + 0x72, 8);
  const auto mask = static_cast<uint32_t>(static_cast<int32_t>(std::floor(date)));
  for (uint32_t i = 0; i < 40; ++i) {
    const uint32_t ch = i / 2 < password.size() ? password[i / 2] : 0;
    const auto plain = static_cast<uint8_t>(i % 2 == 0 ? ch : ch >> 8);
    img[0x42 + i] = static_cast<uint8_t>(plain ^ static_cast<uint8_t>(mask >> (8 * (i % 4))));
  }
  ApplyHeaderMask(JetVersion::kJet4, page0);
}

TEST(Header, PasswordIsRequiredToReadDataAndMustMatch) {
  Image img = LoadSample("jet4/testV2000.mdb");
  if (img.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  SetJet4Password(img, u"s\u00e9same");
  const auto file = dir.Write("pw.mdb", img);

  auto db = Database::Open(file.string());
  EXPECT_TRUE(db->header().has_password);
  EXPECT_EQ(db->StoredPassword(), "s\xC3\xA9same");
  for (const std::optional<std::string>& wrong :
       {std::optional<std::string>{}, std::optional<std::string>{"sesame"}}) {
    try {
      db->RequirePassword(wrong);
      ADD_FAILURE() << "expected 3031";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kPasswordRequired);
    }
  }
  EXPECT_NO_THROW(db->RequirePassword(std::string("s\xC3\xA9same")));
  // The password guards the data, it does not change it.
  EXPECT_EQ(Contents(file, "s\xC3\xA9same"), Contents(Sample("jet4/testV2000.mdb")));
  EXPECT_TRUE(CheckDatabase(*db).stats.tables > 0);
}

// Turns a sample into a page-encrypted database: key in the header, every
// page from 1 on RC4-encrypted with (key XOR page number).
Image Encrypt(Image img, uint32_t page_size, JetVersion version, uint32_t key) {
  std::span<uint8_t> page0(img.data(), page_size);
  ApplyHeaderMask(version, page0);
  std::memcpy(img.data() + 0x3E, &key, 4);
  ApplyHeaderMask(version, page0);
  for (size_t p = 1; p < img.size() / page_size; ++p) {
    const uint32_t k = key ^ static_cast<uint32_t>(p);
    const uint8_t kb[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                           static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
    Rc4Apply(kb, std::span<uint8_t>(img.data() + p * page_size, page_size));
  }
  return img;
}

TEST(Header, EncryptedPagesReadLikeThePlainFile) {
  for (const auto& [rel, size, version] :
       {std::tuple{"jet3/testV1997.mdb", 2048u, JetVersion::kJet3},
        std::tuple{"jet4/testV2000.mdb", 4096u, JetVersion::kJet4}}) {
    SCOPED_TRACE(rel);
    const Image plain = LoadSample(rel);
    if (plain.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
    testing::TempDir dir;
    const auto file = dir.Write("enc.mdb", Encrypt(plain, size, version, 0x12345678));
    auto db = Database::Open(file.string());
    EXPECT_TRUE(db->header().encrypted());
    EXPECT_EQ(Contents(file), Contents(Sample(rel)));
    const CheckReport report = CheckDatabase(*db);
    EXPECT_TRUE(report.sound()) << (report.findings.empty() ? "" : report.findings[0].Text());
  }
}

}  // namespace
}  // namespace tessmark::jet
