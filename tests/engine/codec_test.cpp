// Codecs of the read side, on hand-made byte strings: Jet 3 variable-offset
// tables with jump entries, Jet 4 compressed Unicode, row and null-mask
// decoding, value formats, RC4 and index page entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "check/checker.h"
#include "db/index_page.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/value.h"
#include "format/format.h"
#include "format/rc4.h"
#include "format/text.h"

namespace tessmark::jet {
namespace {

using Buf = std::vector<uint8_t>;

// ---- Jet 3 rows ----------------------------------------------------------------

// Lays out a Jet 3 row: num_cols, `fixed` bytes, the variable values, then
// eod, offsets in reverse, the jump table, nvar and the null mask. Jump entry
// k names the first offset-list index whose offset is at least 256*(k+1); an
// entry with no such index is the placeholder 0xFF, or `placeholder` if given.
Buf Jet3Row(uint8_t num_cols, const Buf& fixed, const std::vector<Buf>& vars, const Buf& mask,
            int placeholder = 0xFF) {
  std::vector<uint32_t> offsets;
  uint32_t pos = 1 + static_cast<uint32_t>(fixed.size());
  for (const Buf& v : vars) {
    offsets.push_back(pos);
    pos += static_cast<uint32_t>(v.size());
  }
  offsets.push_back(pos);  // eod
  const uint32_t nvar = static_cast<uint32_t>(vars.size());
  uint32_t len = pos + (nvar + 1) + 1 + static_cast<uint32_t>(mask.size());
  uint32_t jumps = 0;
  while ((len + jumps - 1) / 256 > jumps) ++jumps;
  len += jumps;
  Buf row;
  row.push_back(num_cols);
  row.insert(row.end(), fixed.begin(), fixed.end());
  for (const Buf& v : vars) row.insert(row.end(), v.begin(), v.end());
  for (uint32_t i = nvar + 1; i-- > 0;) row.push_back(static_cast<uint8_t>(offsets[i] & 0xFF));
  Buf jump(jumps, static_cast<uint8_t>(placeholder));
  for (uint32_t k = 0; k < jumps; ++k) {
    for (uint32_t i = 0; i <= nvar; ++i) {
      if (offsets[i] >= 256 * (k + 1)) {
        jump[k] = static_cast<uint8_t>(i);
        break;
      }
    }
  }
  // Entry 0 sits next to nvar, later entries at lower addresses.
  for (uint32_t k = jumps; k-- > 0;) row.push_back(jump[k]);
  row.push_back(static_cast<uint8_t>(nvar));
  row.insert(row.end(), mask.begin(), mask.end());
  EXPECT_EQ(row.size(), len);
  return row;
}

TEST(Jet3VarOffsets, ShortRowHasNoJumpTable) {
  const Buf row = Jet3Row(2, {}, {Buf(10, 'a'), Buf(5, 'b')}, {0x03});
  const std::vector<uint32_t> off = DecodeJet3VarOffsets(row, 1, 2, Location{});
  EXPECT_EQ(off, (std::vector<uint32_t>{1, 11, 16}));
}

TEST(Jet3VarOffsets, JumpEntryAddsTwoHundredFiftySixFromItsIndexOn) {
  const Buf row = Jet3Row(2, {}, {Buf(200, 'a'), Buf(100, 'b')}, {0x03});
  ASSERT_EQ((row.size() - 1) / 256, 1u);
  const std::vector<uint32_t> off = DecodeJet3VarOffsets(row, 1, 2, Location{});
  EXPECT_EQ(off, (std::vector<uint32_t>{1, 201, 301}));
}

TEST(Jet3VarOffsets, SeveralJumpEntriesIncludingTwoForOneIndex) {
  // Offsets 1, 300, 900 (eod): index 1 needs one jump, index 2 three.
  const Buf row = Jet3Row(2, {}, {Buf(299, 'a'), Buf(600, 'b')}, {0x03});
  const uint32_t jumps = static_cast<uint32_t>((row.size() - 1) / 256);
  ASSERT_EQ(jumps, 3u);
  const std::vector<uint32_t> off = DecodeJet3VarOffsets(row, 1, 2, Location{});
  EXPECT_EQ(off, (std::vector<uint32_t>{1, 300, 900}));
}

TEST(Jet3VarOffsets, PlaceholderEntryIsIgnoredWhateverItHolds) {
  // 30 small columns: the data ends below 256 but the row is longer, so the
  // single jump entry is a placeholder. Filling it with 0 (a valid index)
  // must not add 256 to any offset.
  std::vector<Buf> vars(30, Buf(8, 'x'));
  for (int placeholder : {0xFF, 0x00, 0x05}) {
    const Buf row = Jet3Row(30, {}, vars, {0xFF, 0xFF, 0xFF, 0x3F}, placeholder);
    ASSERT_EQ((row.size() - 1) / 256, 1u);
    const std::vector<uint32_t> off = DecodeJet3VarOffsets(row, 4, 30, Location{});
    ASSERT_EQ(off.size(), 31u);
    for (uint32_t i = 0; i <= 30; ++i)
      EXPECT_EQ(off[i], 1 + 8 * i) << "placeholder " << placeholder;
  }
}

TEST(Jet3VarOffsets, TooManyOffsetsForTheRowIsDamage) {
  const Buf row = {1, 'a', 2, 1, 1, 0x01};  // nvar byte claims 1; ask for 40
  try {
    DecodeJet3VarOffsets(row, 1, 40, Location{});
    FAIL() << "expected damage";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kDamaged);
  }
}

// ---- Jet 4 text ---------------------------------------------------------------

TEST(Jet4Text, CompressedFormSwitchesBetweenOneAndTwoByteCharacters) {
  const Buf b = {0xFF, 0xFE, 'A', 'B', 0x00, 0xAC, 0x20, 0x3A, 0x04, 0x00, 'C'};
  EXPECT_EQ(Jet4TextToUtf8(b),
            "AB\xE2\x82\xAC\xD0\xBA"
            "C");  // AB€кC
}

TEST(Jet4Text, CompressionMarkCountsInJet4OnlyWhateverTheColumnFlag) {
  // A lone mark is the empty text (Jackcess and mdbtools agree; mdb-reader
  // reads U+FEFF). Memos of the samples carry the mark without the
  // column's compressed flag, so the flag is not consulted; Jet 3 text has
  // no compressed form, and its FF FE are the characters ÿþ.
  ColumnDef text;
  text.type = 0x0A;
  EXPECT_EQ(DecodeText(text, kJet4Format, Buf{0xFF, 0xFE}), "");
  EXPECT_EQ(DecodeText(text, kJet4Format, Buf{0xFF, 0xFE, 'a', 'b', 'c'}), "abc");
  EXPECT_EQ(DecodeText(text, kJet3Format, Buf{0xFF, 0xFE, 'a'}),
            "\xC3\xBF\xC3\xBE"
            "a");
}

TEST(Jet4Text, UncompressedUtf16WithSurrogatePair) {
  const Buf b = {'h', 0, 'i', 0, 0x3D, 0xD8, 0x00, 0xDE};  // "hi😀"
  EXPECT_EQ(Jet4TextToUtf8(b), "hi\xF0\x9F\x98\x80");
}

TEST(Jet4Text, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf16LeToUtf8(Buf{'a', 0, 'b'}), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16LeToUtf8(Buf{0x00, 0xDC, 'a', 0}),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(Jet4TextToUtf8(Buf{0xFF, 0xFE, 0x00, 0x41}), "\xEF\xBF\xBD");
}

TEST(SingleByteText, CodePage1252HighRange) {
  EXPECT_EQ(SingleByteToUtf8(Buf{0x80, 0xE9, 0x81}, 1252), "\xE2\x82\xAC\xC3\xA9\xC2\x81");
}

// ---- Jet 4 rows -----------------------------------------------------------------

ColumnDef Column(const std::string& name, uint8_t type, uint16_t number, bool fixed,
                 uint16_t offset_or_var, uint16_t length = 0) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.flags = static_cast<uint8_t>(fixed ? kColumnFixed : 0);
  if (fixed) {
    c.fixed_offset = offset_or_var;
  } else {
    c.var_index = offset_or_var;
  }
  c.length = length;
  return c;
}

// Columns 0 Long (fixed @0), 1 Boolean, 2 Text (var 0), 3 deleted (var 1),
// 4 Text (var 2), 6 Integer (fixed @4, added after the rows were written).
TableDef SampleTable() {
  TableDef t;
  t.name = "Sample";
  t.columns = {Column("Id", 0x04, 0, true, 0), Column("Flag", 0x01, 1, true, 0, 1),
               Column("Name", 0x0A, 2, false, 0, 100), Column("Note", 0x0A, 4, false, 2, 100),
               Column("Added", 0x03, 6, true, 4)};
  t.max_columns = 7;
  t.var_columns = 3;
  return t;
}

// num_cols 5: Id=7, Flag=true, Name="ab", var 1 = "zz" (deleted column),
// Note NULL (mask bit clear but var slot present).
Buf SampleRow() {
  Buf r = {5, 0, 7, 0, 0, 0};                           // num_cols, Id
  r.insert(r.end(), {'a', 0, 'b', 0, 'z', 0, 'z', 0});  // vars at 6, 10
  r.insert(r.end(), {14, 0});                           // eod
  r.insert(r.end(), {14, 0, 10, 0, 6, 0});              // offsets [2], [1], [0]
  r.insert(r.end(), {3, 0});                            // nvar
  r.push_back(0x0F);                                    // mask: 0,1,2,3 set; 4 clear
  return r;
}

TEST(RowDecoding, FixedVariableNullMaskAndBooleans) {
  const TableDef t = SampleTable();
  const Buf row = SampleRow();
  const DecodedRow d = DecodeRow(t, kJet4Format, row, Location{});
  EXPECT_EQ(d.num_cols, 5);
  EXPECT_EQ(d.nvar, 3);
  ASSERT_EQ(d.fields.size(), 5u);
  EXPECT_FALSE(d.fields[0].is_null);
  EXPECT_EQ(d.fields[0].offset, 2u);
  EXPECT_EQ(d.fields[0].length, 4u);
  EXPECT_FALSE(d.fields[1].is_null);
  EXPECT_TRUE(d.fields[1].bool_value);
  EXPECT_EQ(d.fields[2].offset, 6u);
  EXPECT_EQ(d.fields[2].length, 4u);
  EXPECT_TRUE(d.fields[3].is_null) << "mask bit 4 is clear";
  EXPECT_TRUE(d.fields[4].is_null) << "column 6 was added after the row was written";

  // Only some columns: those match the whole decoding, the rest stay null.
  const size_t some[] = {2, 3};
  DecodedRow p;
  DecodeRow(t, kJet4Format, row, Location{}, some, p);
  for (size_t i = 0; i < 5; ++i) {
    const bool asked = i == 2 || i == 3;
    EXPECT_EQ(p.fields[i].is_null, asked ? d.fields[i].is_null : true) << i;
    EXPECT_EQ(p.fields[i].offset, asked ? d.fields[i].offset : 0u) << i;
    EXPECT_EQ(p.fields[i].length, asked ? d.fields[i].length : 0u) << i;
  }
}

TEST(RowDecoding, BooleanFalseWhenMaskBitClear) {
  const TableDef t = SampleTable();
  Buf row = SampleRow();
  row.back() = 0x0D;  // clear bit 1
  const DecodedRow d = DecodeRow(t, kJet4Format, row, Location{});
  EXPECT_FALSE(d.fields[1].is_null);
  EXPECT_FALSE(d.fields[1].bool_value);
}

TEST(RowDecoding, DamagedTrailersAreReportedNotRead) {
  const TableDef t = SampleTable();
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  } cases[] = {
      {"nvar far beyond the row", 22, 0xFF},
      {"offsets out of order", 20, 12},  // [0] = 12 > [1] = 10
      {"eod inside the trailer", 14, 40},
      {"offset before the data", 20, 0},
      {"column count needing a longer mask", 0, 200},
  };
  for (const Case& c : cases) {
    Buf row = SampleRow();
    row[c.at] = c.value;
    try {
      DecodeRow(t, kJet4Format, row, Location{});
      ADD_FAILURE() << c.what << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kDamaged) << c.what;
    }
    // Decoding one fixed column alone still reads the whole layout.
    DecodedRow d;
    EXPECT_THROW(DecodeRow(t, kJet4Format, row, Location{}, std::array<size_t, 1>{0}, d), Error)
        << c.what;
  }
  for (size_t len = 0; len < 4; ++len) {
    Buf row(len, 0);
    EXPECT_THROW(DecodeRow(t, kJet4Format, row, Location{}), Error) << len << " bytes";
  }
}

TEST(RowDecoding, FixedColumnPastTheFixedAreaIsDamage) {
  TableDef t = SampleTable();
  t.columns[0].fixed_offset = 6;  // would overlap the variable data
  EXPECT_THROW(DecodeRow(t, kJet4Format, SampleRow(), Location{}), Error);
}

// Columns 0 Long (fixed @0), 1 Boolean, 2 Integer (fixed @4), 3 Date
// (fixed @6): no variable column, so a row is the column count, the fixed
// area and the null mask, in Jet 3 and Jet 4 alike.
TableDef FixedOnlyTable() {
  TableDef t;
  t.name = "Links";
  t.columns = {Column("Id", 0x04, 0, true, 0), Column("Flag", 0x01, 1, true, 0, 1),
               Column("Count", 0x03, 2, true, 4), Column("Stamp", 0x08, 3, true, 6)};
  t.max_columns = 4;
  return t;
}

// Id 7, Flag true, Count NULL, Stamp 45000.5: its last bytes (E5 40) would
// read as some 16 000 or 58 000 variable-column offsets.
Buf FixedOnlyRow(const Format& f) {
  Buf r;
  r.push_back(4);
  if (!f.jet3()) r.push_back(0);
  r.insert(r.end(), {7, 0, 0, 0, 0, 0});
  double stamp = 45000.5;
  uint8_t bytes[8];
  std::memcpy(bytes, &stamp, 8);
  r.insert(r.end(), bytes, bytes + 8);
  r.push_back(0x0B);  // columns 0, 1 and 3 present
  return r;
}

TEST(RowDecoding, TableWithoutVariableColumnsHasNoTrailer) {
  const TableDef t = FixedOnlyTable();
  for (const Format* f : {&kJet3Format, &kJet4Format}) {
    SCOPED_TRACE(f->jet3() ? "Jet 3" : "Jet 4");
    const uint32_t cs = f->row_count_size;
    const Buf row = FixedOnlyRow(*f);
    const DecodedRow d = DecodeRow(t, *f, row, Location{});
    EXPECT_EQ(d.nvar, 0);
    EXPECT_EQ(d.fields[0].offset, cs);
    EXPECT_TRUE(d.fields[1].bool_value);
    EXPECT_TRUE(d.fields[2].is_null);
    EXPECT_FALSE(d.fields[3].is_null);
    EXPECT_EQ(d.fields[3].offset, cs + 6);
    EXPECT_EQ(d.fields[3].length, 8u);

    // Written before Stamp was added: a shorter fixed area, the column NULL.
    Buf older(row.begin(), row.begin() + cs + 6);
    older[0] = 3;
    older.push_back(0x03);
    const DecodedRow o = DecodeRow(t, *f, older, Location{});
    EXPECT_FALSE(o.fields[0].is_null);
    EXPECT_TRUE(o.fields[3].is_null);

    // The fixed area ends at the null mask: a value reaching into it, or a
    // row too short for its mask, is damage.
    Buf cut = row;
    cut.erase(cut.end() - 3, cut.end() - 1);
    EXPECT_THROW(DecodeRow(t, *f, cut, Location{}), Error);
    Buf bare(cs, 0);
    bare[0] = 9;  // nine columns need two mask bytes
    bare.push_back(0x01);
    EXPECT_THROW(DecodeRow(t, *f, bare, Location{}), Error);
  }

  // A definition that still counts the slot of a deleted variable column
  // has rows with a trailer that no live column needs. It is not read, so
  // even a damaged one leaves the fixed values alone.
  TableDef dropped = FixedOnlyTable();
  dropped.var_columns = 1;
  Buf row = {4, 0, 7, 0, 0, 0, 9, 0};               // num_cols, Id, Count 9
  row.insert(row.end(), 8, 0);                      // Stamp 0
  row.insert(row.end(), {'o', 0, 'l', 0, 'd', 0});  // the deleted column's text
  row.insert(row.end(), {22, 0, 16, 0, 1, 0});      // eod, offset [0], nvar
  row.push_back(0x0F);
  for (const uint8_t nvar : {uint8_t{1}, uint8_t{0xFF}}) {
    row[row.size() - 3] = nvar;
    const DecodedRow d = DecodeRow(dropped, kJet4Format, row, Location{});
    EXPECT_EQ(d.nvar, 0);
    EXPECT_FALSE(d.fields[2].is_null);
    EXPECT_EQ(d.fields[2].offset, 6u);
    EXPECT_EQ(d.fields[3].offset, 8u);
  }
}

// Links with a Text column (number 4, slot 0) added after rows were
// written: those rows have no trailer, and the text reads as NULL in them.
// Rows written since carry the trailer; a row claiming the new column but
// lacking the trailer is damage.
TEST(RowDecoding, RowsWrittenBeforeTheFirstVariableColumnHaveNoTrailer) {
  TableDef t = FixedOnlyTable();
  t.columns.push_back(Column("Name", 0x0A, 4, false, 0, 100));
  t.max_columns = 5;
  t.var_columns = 1;
  for (const Format* f : {&kJet3Format, &kJet4Format}) {
    SCOPED_TRACE(f->jet3() ? "Jet 3" : "Jet 4");
    const uint32_t cs = f->row_count_size;
    const Buf old_row = FixedOnlyRow(*f);
    const DecodedRow o = DecodeRow(t, *f, old_row, Location{});
    const DecodedRow fixed_only = DecodeRow(FixedOnlyTable(), *f, old_row, Location{});
    for (size_t c = 0; c < fixed_only.fields.size(); ++c) {
      EXPECT_EQ(o.fields[c].is_null, fixed_only.fields[c].is_null) << c;
      EXPECT_EQ(o.fields[c].offset, fixed_only.fields[c].offset) << c;
    }
    EXPECT_TRUE(o.fields[4].is_null);

    const Buf fixed(old_row.begin() + cs, old_row.end() - 1);
    const Buf name = {'a', 0, 'b', 0};
    Buf new_row;
    if (f->jet3()) {
      new_row = Jet3Row(5, fixed, {name}, {0x1B});
    } else {
      new_row = {5, 0};
      new_row.insert(new_row.end(), fixed.begin(), fixed.end());
      new_row.insert(new_row.end(), name.begin(), name.end());
      new_row.insert(new_row.end(), {20, 0, 16, 0, 1, 0, 0x1B});  // eod, [0], nvar, mask
    }
    const DecodedRow n = DecodeRow(t, *f, new_row, Location{});
    EXPECT_FALSE(n.fields[4].is_null);
    EXPECT_EQ(n.fields[4].offset, cs + 14);
    EXPECT_EQ(n.fields[4].length, 4u);
    EXPECT_EQ(n.fields[3].offset, o.fields[3].offset);

    Buf claims = old_row;
    claims[0] = 5;  // the Stamp's last bytes read as the trailer
    EXPECT_THROW(DecodeRow(t, *f, claims, Location{}), Error);
  }
}

// Columns listed out of number order, a Long kept among the variable data
// (number 3, slot 1) and a Text (number 2, slot 0), read with a layout made
// for another table first. A value among the variable data whose type has
// one size must have it, NULL aside; text any length.
TEST(RowDecoding, ALayoutIsRemadeForEachTableAndChecksSizedVariableValues) {
  TableDef t;
  t.columns = {Column("Code", 0x04, 3, false, 1), Column("Id", 0x04, 0, true, 0),
               Column("Name", 0x0A, 2, false, 0, 100)};
  t.max_columns = 4;
  t.var_columns = 2;
  struct Case {
    Buf vars;  // Name then Code
    uint8_t name_end, mask;
    bool damage;
  } cases[] = {
      {{'a', 0, 'b', 0, 9, 0, 0, 0}, 10, 0x0D, false},
      {{'a', 0, 'b', 9, 0, 0, 0}, 9, 0x0D, false},   // an odd text
      {{'a', 0, 'b', 0, 9, 0, 0}, 10, 0x0D, true},   // a Long of 3 bytes
      {{'a', 0, 'b', 0, 9, 0, 0}, 10, 0x05, false},  // ... that is NULL
  };
  const TableDef sample = SampleTable();
  RowLayout layout(sample, kJet4Format);
  DecodedRow d;
  CheckRowRules(layout, SampleRow(), Location{}, d);
  layout.Assign(t, kJet4Format);
  for (const Case& c : cases) {
    Buf row = {4, 0, 7, 0, 0, 0};
    row.insert(row.end(), c.vars.begin(), c.vars.end());
    const auto end = static_cast<uint8_t>(row.size());
    row.insert(row.end(), {end, 0, c.name_end, 0, 6, 0, 2, 0, c.mask});
    SCOPED_TRACE(static_cast<int>(&c - cases));
    if (c.damage) {
      EXPECT_THROW(CheckRowRules(layout, row, Location{}, d), Error);
      continue;
    }
    CheckRowRules(layout, row, Location{}, d);
    const DecodedRow by_table = DecodeRow(t, kJet4Format, row, Location{});
    ASSERT_EQ(d.fields.size(), 3u);
    EXPECT_EQ(d.fields[0].is_null, c.mask == 0x05);
    EXPECT_EQ(d.fields[1].offset, 2u);
    EXPECT_EQ(d.fields[2].length, c.name_end - 6u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(d.fields[i].is_null, by_table.fields[i].is_null) << i;
      EXPECT_EQ(d.fields[i].offset, by_table.fields[i].offset) << i;
      EXPECT_EQ(d.fields[i].length, by_table.fields[i].length) << i;
    }
  }
}

// Jackcess pads a row it rewrites shorter up to its old length: between the
// variable data and the trailer, or, without a trailer, before the null
// mask. Padded rows read as their unpadded selves.
TEST(RowDecoding, PaddedRowsReadAsTheirUnpaddedSelves) {
  auto expect_same = [](const TableDef& t, const Format& f, const Buf& row, const Buf& padded) {
    const DecodedRow a = DecodeRow(t, f, row, Location{});
    const DecodedRow b = DecodeRow(t, f, padded, Location{});
    ASSERT_EQ(a.fields.size(), b.fields.size());
    for (size_t c = 0; c < a.fields.size(); ++c) {
      EXPECT_EQ(a.fields[c].is_null, b.fields[c].is_null) << c;
      EXPECT_EQ(a.fields[c].bool_value, b.fields[c].bool_value) << c;
      EXPECT_EQ(a.fields[c].offset, b.fields[c].offset) << c;
      EXPECT_EQ(a.fields[c].length, b.fields[c].length) << c;
    }
  };
  for (const Format* f : {&kJet3Format, &kJet4Format}) {
    SCOPED_TRACE(f->jet3() ? "Jet 3" : "Jet 4");
    const Buf row = FixedOnlyRow(*f);
    Buf padded = row;
    padded.insert(padded.end() - 1, 5, 0);
    expect_same(FixedOnlyTable(), *f, row, padded);
  }
  // With a trailer the padding follows the end of the variable data, which
  // the offsets still name.
  const Buf row = SampleRow();
  Buf padded = row;
  padded.insert(padded.begin() + 14, 6, 0);
  expect_same(SampleTable(), kJet4Format, row, padded);
  const TableDef jet3 = SampleTable();
  const Buf fixed = {7, 0, 0, 0};
  const Buf j3 = Jet3Row(5, fixed, {{'a', 'b'}, {'z'}, {}}, {0x0F});
  Buf j3_padded = j3;
  j3_padded.insert(j3_padded.begin() + 8, 4, 0);  // after eod 8
  expect_same(jet3, kJet3Format, j3, j3_padded);
}

// ---- values -------------------------------------------------------------------

TEST(Values, NumericCurrencyDateAndGuidText) {
  // 17-byte decimal: sign, then four LE words, most significant first.
  Buf dec(17, 0);
  dec[0] = 0x80;
  dec[13] = 0x39;  // 12345 in the least significant word
  dec[14] = 0x30;
  EXPECT_EQ(DecodeNumeric(dec, 2), "-123.45");
  dec[0] = 0;
  EXPECT_EQ(DecodeNumeric(dec, 6), "0.012345");
  Buf big(17, 0);
  big[1] = 1;  // 2^96: lowest byte of the most significant word
  EXPECT_EQ(DecodeNumeric(big, 0), "79228162514264337593543950336");

  Value cur;
  cur.kind = Value::Kind::kCurrency;
  cur.integer = -12345;
  EXPECT_EQ(FormatValue(cur), "-1.2345");

  EXPECT_EQ(FormatDateTime(0), "1899-12-30 00:00:00");
  EXPECT_EQ(FormatDateTime(27293.5), "1974-09-21 12:00:00");
  EXPECT_EQ(FormatDateTime(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(FormatDateTime(1.99999999), "1900-01-01 00:00:00");

  Value g;
  g.kind = Value::Kind::kGuid;
  g.bytes = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
             0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(FormatValue(g), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}

TEST(Values, FixedSizeTypesHoldExactlyTheirSize) {
  struct Case {
    uint8_t type;
    uint32_t length;
    bool damage;
  };
  const Case cases[] = {{0x02, 1, false}, {0x04, 4, false},  {0x04, 3, true},  {0x05, 8, false},
                        {0x05, 9, true},  {0x0F, 16, false}, {0x0F, 15, true}, {0x10, 17, false},
                        {0x10, 16, true}, {0x09, 3, false}};
  for (const Case& c : cases) {
    ColumnDef column;
    column.type = c.type;
    Field field;
    field.is_null = false;
    field.length = c.length;
    if (c.damage) {
      EXPECT_THROW(CheckValueSize(column, field, Location{}), Error) << int{c.type};
    } else {
      EXPECT_NO_THROW(CheckValueSize(column, field, Location{})) << int{c.type};
    }
  }
}

TEST(Values, LongValueFieldsAsEveryReaderParsesThem) {
  struct Case {
    const char* what;
    Buf field;
    bool damage;
    LongValueForm form;
    uint32_t length;
  };
  const Case cases[] = {
      {"inline",
       {3, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'},
       false,
       LongValueForm::kInline,
       3},
      {"single row",
       {0x2C, 1, 0, 0x40, 2, 5, 0, 0, 0, 0, 0, 0},
       false,
       LongValueForm::kSingleRow,
       300},
      // Bytes after the twelve are read past by mdbtools and mdb-reader
      // (Jackcess refuses the field); they are carried as they are.
      {"single row, longer field",
       {0x2C, 1, 0, 0x40, 2, 5, 0, 0, 0, 0, 0, 0, 9, 9},
       false,
       LongValueForm::kSingleRow,
       300},
      // The length has 30 bits (Jackcess); mdbtools and mdb-reader take
      // only 24 and misread values of 16 MiB and more.
      {"chain of 16 MiB",
       {5, 0, 0, 0x01, 1, 7, 0, 0, 0, 0, 0, 0},
       false,
       LongValueForm::kChain,
       0x01000005},
      {"both form bits", {5, 0, 0, 0xC0, 1, 7, 0, 0, 0, 0, 0, 0}, true, {}, 0},
      {"short field", {5, 0, 0, 0x40, 1, 7, 0, 0, 0, 0, 0}, true, {}, 0},
  };
  for (const Case& c : cases) {
    try {
      const LongValueField lv = ParseLongValueField(c.field, Location{});
      EXPECT_FALSE(c.damage) << c.what;
      EXPECT_EQ(lv.form, c.form) << c.what;
      EXPECT_EQ(lv.length, c.length) << c.what;
    } catch (const Error& e) {
      EXPECT_TRUE(c.damage) << c.what << ": " << e.what();
      EXPECT_EQ(e.number(), kDamaged) << c.what;
    }
  }
}

TEST(Rc4, KnownVectorAndHeaderMask) {
  Buf data = {'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
  const uint8_t key[] = {'K', 'e', 'y'};
  Rc4Apply(key, data);
  EXPECT_EQ(data, (Buf{0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}));
  Buf mask(4, 0);
  const uint8_t header_key[] = {0xC7, 0xDA, 0x39, 0x6B};
  Rc4Apply(header_key, mask);
  EXPECT_EQ(mask, (Buf{0xB5, 0x6F, 0x03, 0x62}));
}

// ---- index pages ----------------------------------------------------------------

TEST(IndexPageDecoding, BitmapPrefixCompressionAndRowPointers) {
  const Format& f = kJet4Format;
  auto page = std::make_shared<Page>();
  page->number = 9;
  page->data.assign(f.page_size, 0);
  Buf& d = page->data;
  d[0] = kPageIndexLeaf;
  d[1] = 1;
  d[f.idx_prefix] = 2;  // entries after the first omit 2 bytes
  // Entry 1: 7F 41 | page 0x000102 row 3; entry 2: (7F 41) 42 | page 5 row 1.
  const Buf area = {0x7F, 0x41, 0x00, 0x01, 0x02, 0x03, 0x42, 0x00, 0x00, 0x05, 0x01};
  std::memcpy(d.data() + f.idx_first_entry, area.data(), area.size());
  d[f.idx_bitmap] = 1 << 6;             // entry ends at 6
  d[f.idx_bitmap + 1] = 1 << (11 - 8);  // and at 11
  const uint32_t free_space = f.page_size - f.idx_first_entry - 11;
  d[2] = static_cast<uint8_t>(free_space);
  d[3] = static_cast<uint8_t>(free_space >> 8);
  const IndexPage ip = ParseIndexPage(page, f, Location{});
  ASSERT_EQ(ip.entries.size(), 2u);
  EXPECT_EQ(Buf(ip.entries[0].key.begin(), ip.entries[0].key.end()), (Buf{0x7F, 0x41}));
  EXPECT_EQ(ip.entries[0].row, (RowPointer{0x102, 3}));
  EXPECT_EQ(Buf(ip.entries[1].key.begin(), ip.entries[1].key.end()), (Buf{0x7F, 0x41, 0x42}));
  EXPECT_EQ(ip.entries[1].row, (RowPointer{5, 1}));
  EXPECT_EQ(ip.entries[1].page, 9u);
  EXPECT_EQ(ip.ComputedFreeSpace(f), ip.free_space);

  d[f.idx_prefix] = 9;  // longer than the first entry
  EXPECT_THROW(ParseIndexPage(page, f, Location{}), Error);

  d[f.idx_prefix] = 2;
  d[0] = kPageData;  // only 0x03 and 0x04 are index pages
  EXPECT_THROW(ParseIndexPage(page, f, Location{}), Error);

  // Parsed again into the same storage: entries ending across a bitmap word
  // (at 64) and at the last byte of the entry area, in the bitmap's last,
  // partial word; the last key is shorter than the bytes after it.
  d[0] = kPageIndexLeaf;
  IndexPage kept;
  ParseIndexPage(page, f, Location{}, kept);
  const uint32_t area_end = f.page_size - f.idx_first_entry;
  std::fill(d.begin() + f.idx_bitmap, d.begin() + f.idx_bitmap + f.idx_bitmap_bytes, 0);
  for (uint32_t i = 0; i < area_end; ++i) d[f.idx_first_entry + i] = static_cast<uint8_t>(i);
  for (const uint32_t end : {64u, area_end - 10, area_end}) {
    d[f.idx_bitmap + end / 8] |= static_cast<uint8_t>(1u << (end % 8));
  }
  ParseIndexPage(page, f, Location{}, kept);
  ASSERT_EQ(kept.entries.size(), 3u);
  const auto key = [&](size_t n) {
    return Buf(kept.entries[n].key.begin(), kept.entries[n].key.end());
  };
  EXPECT_EQ(key(0).size(), 60u);
  EXPECT_EQ(kept.entries[0].row, (RowPointer{0x3C3D3E, 0x3F}));
  Buf last = {0, 1};
  for (uint32_t i = area_end - 10; i < area_end - 4; ++i) last.push_back(static_cast<uint8_t>(i));
  EXPECT_EQ(key(2), last);
  EXPECT_EQ(key(1).size(), 2 + (area_end - 10 - 64) - 4);
  EXPECT_EQ(key(1).back(), static_cast<uint8_t>(area_end - 15));
  d[f.idx_bitmap + (area_end + 1) / 8] |= static_cast<uint8_t>(1u << ((area_end + 1) % 8));
  EXPECT_THROW(ParseIndexPage(page, f, Location{}, kept), Error);  // past the entry area
  EXPECT_EQ(kept.page, nullptr);
}

}  // namespace
}  // namespace tessmark::jet
