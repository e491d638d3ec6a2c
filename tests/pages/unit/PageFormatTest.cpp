// The decoding pieces against bytes measured in files the server wrote.

#include <gtest/gtest.h>

#include <vector>

#include "pages/TInspectionResult.h"
#include "pages/TRecordCodec.h"
#include "pages/TRecordFormat.h"
#include "pages/TSystemFormats.h"
#include "pages/TValueDecoder.h"

namespace {

std::vector<std::uint8_t> Hex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

}  // namespace

TEST(RecordCodec, UnpacksARecordAsTheServerCompressedIt) {
  // An RDB$PAGES record of a new 4 KiB database: page 3, relation 0, type 4.
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(TRecordCodec::Unpack(Hex("01f0fd000103f500020400"), out, 18));
  EXPECT_EQ(out, Hex("f00000000300000000000000000000000400"));
  // The same stream does not fit 17 bytes, and a run without its byte fails.
  out.clear();
  EXPECT_FALSE(TRecordCodec::Unpack(Hex("01f0fd000103f500020400"), out, 17));
  out.clear();
  EXPECT_FALSE(TRecordCodec::Unpack(Hex("02aa"), out, 100));
  out.clear();
  EXPECT_FALSE(TRecordCodec::Unpack(Hex("fe"), out, 100));
}

TEST(RecordCodec, DifferencesCopyAndKeepBytesOfTheNewerVersion) {
  std::vector<std::uint8_t> record = Hex("0102030405060708");
  // Keep 2, copy 2, keep 4.
  ASSERT_TRUE(TRecordCodec::ApplyDiff(Hex("fe02aabbfc"), record));
  EXPECT_EQ(record, Hex("0102aabb05060708"));
  // Differences that run past the record or stop inside a copy are refused.
  std::vector<std::uint8_t> shorter = Hex("0102");
  EXPECT_FALSE(TRecordCodec::ApplyDiff(Hex("03aabbcc"), shorter));
  EXPECT_FALSE(TRecordCodec::ApplyDiff(Hex("02aa"), shorter));
}

TEST(RecordFormat, SystemFormatsMatchTheRecordsTheServerWrote) {
  // RDB$PAGES: 4 null bytes, long at 4, short at 8, long at 12, short at 16.
  const TRecordFormat pages = *TSystemFormats::For(TSystemFormats::kPages);
  EXPECT_EQ(pages.Length(), 18u);
  EXPECT_EQ(pages.Fields()[2].offset, 12u);
  // RDB$FORMATS: relation id at 4, format at 6, descriptor blob at 8.
  const TRecordFormat formats = *TSystemFormats::For(TSystemFormats::kFormats);
  EXPECT_EQ(formats.Length(), 16u);
  EXPECT_EQ(formats.Fields()[2].offset, 8u);
  EXPECT_FALSE(TSystemFormats::For(1).has_value());
}

TEST(RecordFormat, ReadsDescriptorsAndDefaultsAndRefusesShortBlobs) {
  // Two fields (a long at 4, a varchar(10) at 8) and a default 7 for field 0.
  const std::vector<std::uint8_t> blob =
      Hex("0200"
          "090004000000000004000000"
          "03000c000000000008000000"
          "0100"
          "0000"
          "090004000000000000000000"
          "07000000");
  const auto format = TRecordFormat::FromDescriptorBlob(blob);
  ASSERT_TRUE(format.has_value());
  EXPECT_EQ(format->Length(), 20u);
  EXPECT_TRUE(format->Stored(1));
  EXPECT_FALSE(format->Stored(2));
  ASSERT_EQ(format->Defaults().count(0), 1u);
  EXPECT_EQ(format->Defaults().at(0).bytes, Hex("07000000"));
  for (std::size_t cut = 1; cut < blob.size(); ++cut) {
    if (cut != 26) {  // ending right after the descriptors is an older, valid blob
      EXPECT_FALSE(TRecordFormat::FromDescriptorBlob(
                       std::vector<std::uint8_t>(blob.begin(), blob.begin() + long(cut)))
                       .has_value())
          << cut;
    }
  }
}

TEST(ValueDecoder, DatesAndTimesCountAsTheServerDoes) {
  EXPECT_EQ(TValueDecoder::DateOf(0), (TDate{1858, 11, 17}));
  EXPECT_EQ(TValueDecoder::DateOf(60369), (TDate{2024, 2, 29}));
  EXPECT_EQ(TValueDecoder::DateOf(-678575), (TDate{1, 1, 1}));
  EXPECT_EQ(TValueDecoder::DateOf(2973483), (TDate{9999, 12, 31}));
  EXPECT_EQ(TValueDecoder::TimeOf(476551234), (TTime{13, 14, 15, 1234}));
}

TEST(InspectionResult, JsonReplacesBytesThatAreNotUtf8) {
  // Names in WIN1252 metadata and paths in another encoding reach the JSON.
  TInspectionResult r;
  r.path = "/dados/rela\xE7\xE3o.fdb";
  r.opened = true;
  TInspectedTable t;
  t.name = "A\xC7\xC3O";
  r.tables.push_back(t);
  r.verdict.push_back("cortado no meio \xE2\x82");
  std::string json;
  ASSERT_NO_THROW(json = r.ToJson());
  EXPECT_NE(json.find("A\xEF\xBF\xBD"), std::string::npos) << json;
  EXPECT_NE(json.find("rela\xEF\xBF\xBD"), std::string::npos) << json;
}
