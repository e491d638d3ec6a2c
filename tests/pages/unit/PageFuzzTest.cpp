// Random and truncated pages and files: the reader must count and skip, never
// crash or read out of bounds (run under the address sanitizer too).

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "pages/Ods.h"
#include "pages/THeaderPage.h"
#include "pages/TInspection.h"
#include "pages/TRecordCodec.h"
#include "pages/TTableReader.h"

namespace {

constexpr std::uint32_t kPageSize = 4096;

template <typename T>
void Put(std::vector<std::uint8_t>& file, std::size_t at, T value) {
  std::memcpy(file.data() + at, &value, sizeof value);
}

// A small image shaped like a database: a header, RDB$PAGES naming a pointer
// page and an inventory page, and data pages of relation 128 whose records
// are random data compressed as literal runs, with blob ids among it. Damage
// from there reaches deep into the reader.
std::vector<std::uint8_t> Image(std::mt19937& rng) {
  const std::uint32_t pages = 16;
  std::vector<std::uint8_t> f(std::size_t(pages) * kPageSize, 0);
  auto page = [&](std::uint32_t n, std::uint8_t type) {
    f[std::size_t(n) * kPageSize] = type;
    Put<std::uint32_t>(f, std::size_t(n) * kPageSize + 12, n);
    return std::size_t(n) * kPageSize;
  };
  std::size_t h = page(0, ods::kPageHeader);
  Put<std::uint16_t>(f, h + 16, kPageSize);
  Put<std::uint16_t>(f, h + 18, 0x800C);
  Put<std::uint32_t>(f, h + 20, 3);
  Put<std::uint32_t>(f, h + 36, 40);
  page(1, ods::kPageInventory);
  std::size_t tip = page(4, ods::kPageTransactions);
  std::memset(f.data() + tip + 20, 0xFF, 64);
  std::size_t pp = page(3, ods::kPagePointer);
  Put<std::uint16_t>(f, pp + 24, 1);
  Put<std::uint32_t>(f, pp + 32, 5);
  // RDB$PAGES: pointer page 6 of relation 128, inventory page 4.
  std::size_t dp = page(5, ods::kPageData);
  Put<std::uint16_t>(f, dp + 22, 2);
  const std::uint8_t rows[2][18] = {{0xF0, 0, 0, 0, 6, 0, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0, 4, 0},
                                    {0xF0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0}};
  std::size_t at = kPageSize;
  for (int r = 0; r < 2; ++r) {
    at -= 13 + 19;
    Put<std::uint16_t>(f, dp + 24 + 4 * r, std::uint16_t(at));
    Put<std::uint16_t>(f, dp + 26 + 4 * r, 13 + 19);
    f[dp + at + 13] = 18;
    std::memcpy(f.data() + dp + at + 14, rows[r], 18);
  }
  std::size_t upp = page(6, ods::kPagePointer);
  Put<std::uint16_t>(f, upp + 24, 2);
  Put<std::uint16_t>(f, upp + 26, 128);
  Put<std::uint32_t>(f, upp + 32, 7);
  Put<std::uint32_t>(f, upp + 36, 8);
  for (std::uint32_t n : {7u, 8u}) {
    std::size_t d = page(n, ods::kPageData);
    Put<std::uint32_t>(f, d + 16, n - 7);
    Put<std::uint16_t>(f, d + 20, 128);
    Put<std::uint16_t>(f, d + 22, 20);
    std::size_t end = kPageSize;
    for (int line = 0; line < 20; ++line) {
      const std::uint16_t flags = std::uint16_t(rng() % 4 == 0 ? rng() & 0x7FF : 0);
      const std::size_t length = 13 + 1 + 40;
      end -= length;
      Put<std::uint16_t>(f, d + 24 + 4 * line, std::uint16_t(end));
      Put<std::uint16_t>(f, d + 26 + 4 * line, std::uint16_t(length));
      Put<std::uint32_t>(f, d + end, rng() % 50);
      Put<std::uint32_t>(f, d + end + 4, rng() % 3 == 0 ? 7 + rng() % 3 : 0);
      Put<std::uint16_t>(f, d + end + 8, std::uint16_t(rng() % 24));
      Put<std::uint16_t>(f, d + end + 10, flags);
      f[d + end + 12] = std::uint8_t(1 + rng() % 2);
      f[d + end + 13] = 40;
      for (int i = 0; i < 40; ++i) {
        f[d + end + 14 + i] = std::uint8_t(rng());
      }
      // A blob id of relation 128 at offset 8 of the record, usually.
      Put<std::uint16_t>(f, d + end + 14 + 8, 128);
      Put<std::uint32_t>(f, d + end + 14 + 12, rng() % 500);
    }
  }
  for (std::uint32_t n = 9; n < pages; ++n) {
    std::size_t p = page(n, std::uint8_t(1 + rng() % 10));
    for (std::size_t i = 16; i < kPageSize; ++i) {
      f[p + i] = std::uint8_t(rng() % 8 == 0 ? rng() : 0);
    }
  }
  return f;
}

// Formats 1 and 2 of relation 128: every kind of field over the 40 bytes.
TSchema Schema() {
  TSchemaTable t;
  t.relationId = 128;
  t.name = "T";
  const std::vector<TFieldDescriptor> one = {
      {ods::kDtypeLong, 0, 4, 0, 0, 4},      {ods::kDtypeBlob, 0, 8, 1, 0, 8},
      {ods::kDtypeVarying, 0, 12, 0, 0, 16}, {ods::kDtypeTimestamp, 0, 8, 0, 0, 28},
      {ods::kDtypeShort, -2, 2, 0, 0, 36},   {ods::kDtypeBoolean, 0, 1, 0, 0, 38},
      {ods::kDtypeText, 0, 1, 0, 0, 39}};
  std::vector<TFieldDescriptor> two = one;
  two[1] = {ods::kDtypeArray, 0, 8, 0, 0, 8};
  two[3] = {ods::kDtypeDouble, 0, 8, 0, 0, 28};
  t.formats[1] = TRecordFormat(one);
  t.formats[2] = TRecordFormat(two);
  for (std::uint16_t i = 0; i < one.size(); ++i) {
    t.columns.push_back(TSchemaColumn{"F" + std::to_string(i), i, false});
  }
  TSchema s;
  s.tables[128] = t;
  return s;
}

void ReadEverything(const std::string& file, const TSchema& schema) {
  try {
    TTableReader reader(file, schema);
    reader.Read(128, [](const TRow& row) { ASSERT_EQ(row.values.size(), row.columns.size()); });
    const TInspectionResult r = TInspection::Run(file, schema);
    EXPECT_FALSE(r.ToJson().empty());
    EXPECT_FALSE(r.ToText().empty());
  } catch (const std::runtime_error&) {
    // No page size could be found: a refusal, not a crash.
  }
}

class PageFuzz : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tessarine-pagefuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::vector<std::uint8_t>& bytes) {
    const std::string path = (dir_ / "F.FDB").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  std::filesystem::path dir_;
};

}  // namespace

TEST_F(PageFuzz, TheUndamagedImageReadsItsRecords) {
  std::mt19937 rng(7);
  TTableReader reader(Write(Image(rng)), Schema());
  ASSERT_TRUE(reader.Pages().HeaderValid());
  EXPECT_TRUE(reader.Pages().Inventory().Usable());
  const TReadCounts counts = reader.Read(128, [](const TRow&) {});
  EXPECT_EQ(counts.dataPages, 2u);
  EXPECT_GT(counts.recordsRead + counts.recordsUndecodable + counts.deletedRecords, 10u);
}

TEST_F(PageFuzz, DamagedImagesAreCountedNotFatal) {
  std::mt19937 rng(20240601);
  const TSchema schema = Schema();
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> f = Image(rng);
    const int flips = 1 + int(rng() % 200);
    for (int i = 0; i < flips; ++i) {
      f[rng() % f.size()] = std::uint8_t(rng());
    }
    if (rng() % 4 == 0) {
      std::memset(f.data() + (rng() % 16) * kPageSize, 0, kPageSize);
    }
    if (rng() % 4 == 0) {
      f.resize(rng() % f.size());
    }
    ReadEverything(Write(f), schema);
  }
}

TEST_F(PageFuzz, RandomFilesAndRandomPieces) {
  std::mt19937 rng(99);
  const TSchema schema = Schema();
  for (const std::size_t size :
       {std::size_t(0), std::size_t(100), std::size_t(4095), std::size_t(4096),
        std::size_t(3 * 8192 + 17), std::size_t(40 * 4096)}) {
    std::vector<std::uint8_t> f(size);
    for (std::uint8_t& b : f) {
      b = std::uint8_t(rng());
    }
    ReadEverything(Write(f), schema);
  }
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> piece(rng() % 600);
    for (std::uint8_t& b : piece) {
      b = std::uint8_t(rng());
    }
    std::vector<std::uint8_t> out;
    TRecordCodec::Unpack(piece, out, 300);
    EXPECT_LE(out.size(), 300u);
    std::vector<std::uint8_t> record(rng() % 300);
    TRecordCodec::ApplyDiff(piece, record);
    (void)TRecordFormat::FromDescriptorBlob(piece);
    (void)THeaderPage::Parse(piece);
  }
}
