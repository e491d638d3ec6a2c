// Index keys the Firebird 3.0.11 server wrote (read from the leaf pages of a
// database it built), turned back into the columns' stored bytes.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pages/Ods.h"
#include "pages/TBocu1.h"
#include "pages/TIndexKey.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

template <typename T>
std::vector<std::uint8_t> Bytes(T value) {
  std::vector<std::uint8_t> out(sizeof value);
  std::memcpy(out.data(), &value, sizeof value);
  return out;
}

std::vector<std::uint8_t> Varying(const std::string& text, std::uint16_t fieldLength) {
  std::vector<std::uint8_t> out(fieldLength, 0);
  const auto n = std::uint16_t(text.size());
  std::memcpy(out.data(), &n, 2);
  std::memcpy(out.data() + 2, text.data(), text.size());
  return out;
}

// A key over the given fields (field id = position), in key types as the
// server's index root page gave them.
TIndexKey Key(const std::vector<std::pair<std::uint16_t, TFieldDescriptor>>& segments,
              std::uint8_t flags = ods::kIrtPrimary | ods::kIrtUnique) {
  TIndexDescriptor index;
  index.rootPage = 1;
  index.flags = flags;
  std::vector<TFieldDescriptor> fields;
  std::uint32_t offset = 4;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    index.segments.push_back({std::uint16_t(i), segments[i].first});
    TFieldDescriptor d = segments[i].second;
    d.offset = offset;
    offset += d.length;
    fields.push_back(d);
  }
  return TIndexKey(index, TRecordFormat(fields));
}

std::vector<std::uint8_t> One(const TIndexKey& key, const std::string& hex) {
  const auto fields = key.Fields(Hex(hex));
  if (!fields || fields->size() != 1) {
    ADD_FAILURE() << "no value from " << hex;
    return {};
  }
  return (*fields)[0];
}

const TFieldDescriptor kInteger{ods::kDtypeLong, 0, 4, 0, 0, 0};
const TFieldDescriptor kBigint{ods::kDtypeInt64, 0, 8, 0, 0, 0};
const TFieldDescriptor kNumeric15{ods::kDtypeInt64, -2, 8, 0, 0, 0};
const TFieldDescriptor kUtf8Varchar20{ods::kDtypeVarying, 0, 82, 4, 0, 0};
const TFieldDescriptor kWinVarchar20{ods::kDtypeVarying, 0, 22, 53, 0, 0};
const std::uint16_t kUtf8 = ods::IntlKeyType(4);
const std::uint16_t kWin1252 = ods::IntlKeyType(53);

}  // namespace

TEST(IndexKey, NumbersInDoubleAndInt64Keys) {
  const TIndexKey integer = Key({{ods::kIdxNumeric, kInteger}});
  EXPECT_EQ(One(integer, "3febffffffffffff"), Bytes(std::int32_t(-5)));
  EXPECT_EQ(One(integer, "bff0"), Bytes(std::int32_t(1)));
  EXPECT_EQ(One(integer, "c08f40"), Bytes(std::int32_t(1000)));

  const TIndexKey bigint = Key({{ods::kIdxNumeric2, kBigint}});
  EXPECT_EQ(One(bigint, "40e5c91d14e3bcd280"), Bytes(std::int64_t(-1)));
  EXPECT_EQ(One(bigint, "800000000000000080"), Bytes(std::int64_t(0)));
  EXPECT_EQ(One(bigint, "bf1a36e2eb1c432d80"), Bytes(std::int64_t(1)));
  EXPECT_EQ(One(bigint, "c16312d00002752580"), Bytes(std::int64_t(100000000003)));

  // numeric(15,2): 1.25, -977.5, 0 and 12345678901.23 as scaled integers.
  const TIndexKey numeric = Key({{ods::kIdxNumeric2, kNumeric15}});
  EXPECT_EQ(One(numeric, "bf20624dd2f1a9fc80"), Bytes(std::int64_t(125)));
  EXPECT_EQ(One(numeric, "4046f9db22d0e55f80"), Bytes(std::int64_t(-97750)));
  EXPECT_EQ(One(numeric, "800000000000000080"), Bytes(std::int64_t(0)));
  EXPECT_EQ(One(numeric, "c132d687e3df19d680"), Bytes(std::int64_t(1234567890123)));

  // A short part out of its range is no key the engine writes.
  EXPECT_FALSE(bigint.Fields(Hex("bf1a36e2eb1c432d")));
}

TEST(IndexKey, DatesAndText) {
  const TIndexKey date = Key({{ods::kIdxSqlDate, {ods::kDtypeSqlDate, 0, 4, 0, 0, 0}}});
  EXPECT_EQ(One(date, "8000e5e2"), Bytes(std::int32_t(58850)));  // 2020-01-02

  const TIndexKey utf8 = Key({{kUtf8, kUtf8Varchar20}});
  EXPECT_EQ(One(utf8, "00"), Varying("", 82));
  EXPECT_EQ(One(utf8, "b1b2"), Varying("ab", 82));
  EXPECT_EQ(One(utf8, "f1e62df7"), Varying("€1", 82));  // stored as '€1 '

  const TIndexKey win = Key({{kWin1252, kWinVarchar20}});
  EXPECT_EQ(One(win, "6f6ce1"), Varying("ol\xE1", 22));

  // CHAR comes back padded to its length, as the record holds it.
  const TIndexKey fixed = Key({{ods::kIdxString, {ods::kDtypeText, 0, 6, 0, 0, 0}}});
  EXPECT_EQ(One(fixed, "616263"), Hex("616263202020"));
  EXPECT_FALSE(fixed.Fields(Hex("61626364656667")));  // longer than the column
}

TEST(IndexKey, Utf8KeysAreBocu1OfEveryPlane) {
  const std::vector<std::pair<std::string, std::string>> keys = {
      {"b10ab22020b3", "a\nb  c"},
      {"d08dfcd77323868224ae44", "Ā𝄞中a"},
      {"d35d8c7d8381204d5720cc", "Ωμέγα ñ ü"},
      {"fb1189a96c8acb8f7b9a", "ひらがなカタカナ"},
      {"fb33d73dcc331747e9", "中文字漢"},
      {"fbc2493acbd3d7", "한국어"},
      {"fcff5d2301aa", "\xF0\x9F\x98\x80z"}};
  for (const auto& [hex, text] : keys) {
    EXPECT_EQ(TBocu1::ToUtf8(Hex(hex)), text) << hex;
  }
  EXPECT_FALSE(TBocu1::ToUtf8(Hex("d0")));    // a lead byte without its trail
  EXPECT_FALSE(TBocu1::ToUtf8(Hex("d000")));  // a byte that is no trail
}

TEST(IndexKey, CompoundKeysSplitBySegmentMarkers) {
  // (integer, varchar(10) UTF8): (1, 'x') and (2, 'hello wor').
  const TIndexKey two =
      Key({{ods::kIdxNumeric, kInteger}, {kUtf8, {ods::kDtypeVarying, 0, 42, 4, 0, 0}}});
  auto fields = two.Fields(Hex("02bff0000001c8"));
  ASSERT_TRUE(fields);
  EXPECT_EQ((*fields)[0], Bytes(std::int32_t(1)));
  EXPECT_EQ((*fields)[1], Varying("x", 42));
  fields = two.Fields(Hex("02c000000001b8b5bcbc01bf20c7bf01c2"));
  ASSERT_TRUE(fields);
  EXPECT_EQ((*fields)[0], Bytes(std::int32_t(2)));
  EXPECT_EQ((*fields)[1], Varying("hello wor", 42));

  // A NULL segment has no group; markers must count down.
  fields = two.Fields(Hex("01c8"));
  ASSERT_TRUE(fields);
  EXPECT_TRUE((*fields)[0].empty());
  EXPECT_FALSE(two.Fields(Hex("01c800000002bff0")));
  EXPECT_FALSE(two.Fields(Hex("03bff0")));
}

TEST(IndexKey, KindsNotDecoded) {
  EXPECT_FALSE(Key({{ods::kIdxNumeric, kInteger}}, ods::kIrtDescending).Decodable());
  EXPECT_FALSE(Key({{ods::kIdxNumeric, kInteger}}, ods::kIrtExpression).Decodable());
  // A collation of its own (UTF8 UNICODE, collation 1) and blobs.
  EXPECT_FALSE(Key({{ods::IntlKeyType(4 | 1 << 8), kUtf8Varchar20}}).Decodable());
  EXPECT_FALSE(Key({{ods::kIdxNumeric, {ods::kDtypeBlob, 0, 8, 0, 0, 0}}}).Decodable());
  EXPECT_TRUE(Key({{ods::kIdxNumeric, kInteger}, {kWin1252, kWinVarchar20}}).Decodable());
}
