// Key encoding: the fixed examples the format establishes, and the ordering
// property every encoder must have (byte order of keys = value order).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "format/index_key.h"
#include "tessmark/error.h"

namespace tessmark::jet::index_key {
namespace {

Key Of(std::initializer_list<uint8_t> bytes) { return Key(bytes); }

TEST(IndexKeyTest, KnownKeys) {
  Key k;
  AppendLong(k, 2, false);
  EXPECT_EQ(k, Of({0x7F, 0x80, 0x00, 0x00, 0x02}));
  k.clear();
  AppendLong(k, 2, true);
  EXPECT_EQ(k, Of({0x80, 0x7F, 0xFF, 0xFF, 0xFD}));
  k.clear();
  AppendLong(k, -1, false);
  EXPECT_EQ(k, Of({0x7F, 0x7F, 0xFF, 0xFF, 0xFF}));
  k.clear();
  AppendInteger(k, 1, false);
  EXPECT_EQ(k, Of({0x7F, 0x80, 0x01}));
  k.clear();
  AppendByte(k, 0x12, true);
  EXPECT_EQ(k, Of({0x80, 0xED}));
  k.clear();
  AppendNull(k, false);
  AppendNull(k, true);
  EXPECT_EQ(k, Of({0x00, 0xFF}));
  k.clear();
  AppendBoolean(k, true, false);
  AppendBoolean(k, false, false);
  AppendBoolean(k, true, true);
  EXPECT_EQ(k, Of({0x7F, 0x00, 0x7F, 0xFF, 0x80, 0xFF}));
  k.clear();
  AppendDouble(k, 1.0, false);  // 3FF0... with the sign bit flipped
  EXPECT_EQ(k, Of({0x7F, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  k.clear();
  AppendDouble(k, -1.0, false);  // BFF0... complemented
  EXPECT_EQ(k, Of({0x7F, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(IndexKeyTest, GuidSegmentsAndByteOrder) {
  const std::array<uint8_t, 16> stored = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  Key k;
  AppendGuid(k, stored, false);
  EXPECT_EQ(k, Of({0x7F, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x09, 0x88, 0x99, 0xAA,
                   0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x08}));
  Key d;
  AppendGuid(d, stored, true);
  ASSERT_EQ(d.size(), k.size());
  EXPECT_EQ(d[0], 0x80);
  EXPECT_EQ(d[9], 0x09);  // the continuation marker is not complemented
  for (size_t i = 1; i < d.size(); ++i)
    if (i != 9) {
      EXPECT_EQ(d[i], static_cast<uint8_t>(~k[i])) << i;
    }
}

TEST(IndexKeyTest, BinaryPadsTheLastSegmentAndRecordsItsLength) {
  const std::vector<uint8_t> v = {1, 2, 3};
  Key k;
  AppendBinary(k, v, false);
  EXPECT_EQ(k, Of({0x7F, 1, 2, 3, 0, 0, 0, 0, 0, 0x03}));
}

// Byte-wise order of the keys must equal the order of the values, reversed
// for descending columns.
template <typename T, typename F>
void ExpectOrdered(std::vector<T> values, F append) {
  std::sort(values.begin(), values.end());
  for (bool descending : {false, true}) {
    std::vector<Key> keys;
    for (T v : values) {
      Key k;
      append(k, v, descending);
      keys.push_back(k);
    }
    for (size_t i = 1; i < keys.size(); ++i) {
      if (values[i - 1] == values[i]) continue;
      if (descending) {
        EXPECT_GT(keys[i - 1], keys[i]) << "values " << values[i - 1] << ", " << values[i];
      } else {
        EXPECT_LT(keys[i - 1], keys[i]) << "values " << values[i - 1] << ", " << values[i];
      }
    }
  }
}

TEST(IndexKeyTest, NumericEncodingsPreserveOrder) {
  ExpectOrdered<int32_t>({std::numeric_limits<int32_t>::min(), -70000, -1, 0, 1, 255, 256, 70000,
                          std::numeric_limits<int32_t>::max()},
                         AppendLong);
  ExpectOrdered<int16_t>({-32768, -2, -1, 0, 1, 300, 32767}, AppendInteger);
  ExpectOrdered<int64_t>({std::numeric_limits<int64_t>::min(), -10000, 0, 10000, 1LL << 40},
                         AppendCurrency);
  ExpectOrdered<double>({-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 0.5, 1.0, 36526.75, 1e300},
                        AppendDouble);
  ExpectOrdered<float>({-3.5f, -1.0f, 0.0f, 0.25f, 1.0f, 1e30f}, AppendSingle);
}

TEST(IndexKeyTest, ReadLongUndoesAppendLong) {
  for (int32_t v : {0, 1, -1, 12345678, std::numeric_limits<int32_t>::min()}) {
    for (bool descending : {false, true}) {
      Key k = {0xAA};
      AppendLong(k, v, descending);
      EXPECT_EQ(ReadLong(k, 1, descending), v);
    }
  }
  Key null_key;
  AppendNull(null_key, true);
  EXPECT_EQ(ReadLong(null_key, 0, true), std::nullopt);
  const Key short_key = {0x7F, 0x80};
  EXPECT_THROW(ReadLong(short_key, 0, false), Error);
}

TEST(IndexKeyTest, SimpleTextGeneralLegacy) {
  Key k;
  ASSERT_TRUE(AppendSimpleText(k, "Tables  ", TextCollation::kGeneralLegacy, false));
  EXPECT_EQ(k, Of({0x7F, 0x6D, 0x4A, 0x4C, 0x5E, 0x51, 0x6B, 0x01, 0x00}));
  Key d;
  ASSERT_TRUE(AppendSimpleText(d, "tables", TextCollation::kGeneralLegacy, true));
  EXPECT_EQ(d, Of({0x80, 0x92, 0xB5, 0xB3, 0xA1, 0xAE, 0x94, 0xFE, 0xFF, 0x00}));
  Key untouched = {1};
  EXPECT_FALSE(AppendSimpleText(untouched, "a-b", TextCollation::kGeneralLegacy, false));
  EXPECT_EQ(untouched, Of({1}));
}

TEST(IndexKeyTest, SimpleTextGeneral97) {
  Key k;
  ASSERT_TRUE(AppendSimpleText(k, "Cab9", TextCollation::kGeneral97, false));
  EXPECT_EQ(k, Of({0x7F, 0x62, 0x60, 0x61, 0x5F, 0x00}));
  Key d;
  ASSERT_TRUE(AppendSimpleText(d, "Cab9", TextCollation::kGeneral97, true));
  EXPECT_EQ(d, Of({0x80, 0x9D, 0x9F, 0x9E, 0xA0, 0xFF}));
}

}  // namespace
}  // namespace tessmark::jet::index_key
