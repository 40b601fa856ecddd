#include "db/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "format/text.h"

namespace tessmark::jet {

namespace {

void NeedSize(const Field& field, uint32_t size, const ColumnDef& column, const Location& where) {
  if (field.length != size) {
    Location at = where;
    at.column = column.name;
    ThrowDamaged(at, std::string("the ") + ColumnTypeName(column.type) + " value has " +
                         std::to_string(field.length) + " bytes instead of " +
                         std::to_string(size));
  }
}

int64_t LoadSigned(const uint8_t* p, uint32_t size) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < size; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (size < 8 && (v >> (8 * size - 1)) != 0) v |= ~uint64_t{0} << (8 * size);
  return static_cast<int64_t>(v);
}

const char kHex[] = "0123456789ABCDEF";

}  // namespace

std::string DecodeText(const ColumnDef& column, const Format& format, Bytes bytes) {
  if (format.jet3()) {
    return SingleByteToUtf8(bytes, column.code_page != 0 ? column.code_page : 1252);
  }
  return Jet4TextToUtf8(bytes);
}

std::string DecodeNumeric(Bytes stored, uint8_t scale) {
  // Magnitude: four little-endian 32-bit words, most significant word first.
  uint32_t words[4];
  for (int i = 0; i < 4; ++i) words[i] = LoadU32(stored.data() + 1 + 4 * i);
  const bool negative = (stored[0] & 0x80) != 0;
  // Digits least significant first, then reversed into the result.
  std::string reversed;
  auto is_zero = [&] { return (words[0] | words[1] | words[2] | words[3]) == 0; };
  while (!is_zero()) {
    uint64_t rem = 0;
    for (int i = 0; i < 4; ++i) {
      const uint64_t cur = (rem << 32) | words[i];
      words[i] = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
    }
    reversed.push_back(static_cast<char>('0' + rem));
  }
  while (reversed.size() <= scale) reversed.push_back('0');
  const bool nonzero = reversed.find_first_not_of('0') != std::string::npos;
  std::string out;
  if (negative && nonzero) out.push_back('-');
  for (size_t i = reversed.size(); i-- > 0;) {
    out.push_back(reversed[i]);
    if (i == scale && scale > 0) out.push_back('.');
  }
  return out;
}

void CheckValueSize(const ColumnDef& column, const Field& field, const Location& where) {
  if (field.is_null || column.boolean()) return;
  const uint32_t size = FixedTypeSize(column.type);
  if (size != 0) NeedSize(field, size, column, where);
}

Value DecodeValue(const ColumnDef& column, const Format& format, const Field& field, Bytes row,
                  LongValueReader& long_values, const Location& where) {
  Value v;
  if (column.boolean()) {
    v.kind = Value::Kind::kBoolean;
    v.boolean = field.bool_value;
    return v;
  }
  if (field.is_null) return v;
  CheckValueSize(column, field, where);
  Bytes b = row.subspan(field.offset, field.length);
  switch (column.column_type()) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      v.kind = Value::Kind::kInteger;
      v.integer =
          column.column_type() == ColumnType::kByte ? b[0] : LoadSigned(b.data(), field.length);
      return v;
    }
    case ColumnType::kCurrency:
      v.kind = Value::Kind::kCurrency;
      v.integer = LoadSigned(b.data(), 8);
      return v;
    case ColumnType::kSingle: {
      float f;
      std::memcpy(&f, b.data(), 4);
      v.kind = Value::Kind::kSingle;
      v.real = f;
      return v;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      v.kind = column.column_type() == ColumnType::kDouble ? Value::Kind::kDouble
                                                           : Value::Kind::kDateTime;
      std::memcpy(&v.real, b.data(), 8);
      return v;
    case ColumnType::kGuid:
      v.kind = Value::Kind::kGuid;
      v.bytes.assign(b.begin(), b.end());
      return v;
    case ColumnType::kNumeric:
      v.kind = Value::Kind::kNumeric;
      v.text = DecodeNumeric(b, column.scale);
      return v;
    case ColumnType::kText:
      v.kind = Value::Kind::kText;
      v.text = DecodeText(column, format, b);
      return v;
    case ColumnType::kOle:
    case ColumnType::kMemo: {
      Location at = where;
      at.column = column.name;
      if (b.empty()) {
        v.kind =
            column.column_type() == ColumnType::kMemo ? Value::Kind::kText : Value::Kind::kBinary;
        return v;
      }
      const LongValueField lv = ParseLongValueField(b, at);
      std::vector<uint8_t> data = long_values.Read(lv, at);
      if (column.column_type() == ColumnType::kMemo) {
        v.kind = Value::Kind::kText;
        v.text = DecodeText(column, format, data);
      } else {
        v.kind = Value::Kind::kBinary;
        v.bytes = std::move(data);
      }
      return v;
    }
    default:
      v.kind = Value::Kind::kBinary;
      v.bytes.assign(b.begin(), b.end());
      return v;
  }
}

std::string FormatDateTime(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3e6) return "invalid date";
  double whole = std::trunc(days);
  int64_t seconds = std::llround(std::fabs(days - whole) * 86400.0);
  int64_t day = static_cast<int64_t>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += days < 0 ? -1 : 1;
  }
  // Days since 1970-01-01, then the civil date (proleptic Gregorian).
  int64_t z = day - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[160];
  std::snprintf(buf, sizeof(buf), "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                static_cast<long long>(seconds % 60));
  return buf;
}

std::string FormatValue(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull:
      return "";
    case Value::Kind::kBoolean:
      return v.boolean ? "true" : "false";
    case Value::Kind::kInteger:
      return std::to_string(v.integer);
    case Value::Kind::kCurrency: {
      const bool neg = v.integer < 0;
      const uint64_t mag =
          neg ? 0 - static_cast<uint64_t>(v.integer) : static_cast<uint64_t>(v.integer);
      char buf[32];
      std::snprintf(buf, sizeof(buf), "%s%llu.%04llu", neg ? "-" : "",
                    static_cast<unsigned long long>(mag / 10000),
                    static_cast<unsigned long long>(mag % 10000));
      return buf;
    }
    case Value::Kind::kSingle:
    case Value::Kind::kDouble: {
      char buf[64];
      std::to_chars_result r =
          v.kind == Value::Kind::kSingle
              ? std::to_chars(buf, buf + sizeof(buf), static_cast<float>(v.real))
              : std::to_chars(buf, buf + sizeof(buf), v.real);
      return std::string(buf, r.ptr);
    }
    case Value::Kind::kDateTime:
      return FormatDateTime(v.real);
    case Value::Kind::kText:
    case Value::Kind::kNumeric:
      return v.text;
    case Value::Kind::kGuid: {
      if (v.bytes.size() != 16) return "";
      static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      std::string out = "{";
      for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += kHex[v.bytes[static_cast<size_t>(order[i])] >> 4];
        out += kHex[v.bytes[static_cast<size_t>(order[i])] & 15];
      }
      return out + "}";
    }
    case Value::Kind::kBinary: {
      std::string out;
      out.reserve(v.bytes.size() * 2);
      for (uint8_t byte : v.bytes) {
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      }
      return out;
    }
  }
  return "";
}

}  // namespace tessmark::jet
