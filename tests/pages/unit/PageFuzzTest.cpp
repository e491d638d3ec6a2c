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
#include "pages/TIndexReader.h"
#include "pages/TInspection.h"
#include "pages/TRecordCodec.h"
#include "pages/TRecordsGone.h"
#include "pages/TTableReader.h"

namespace {

constexpr std::uint32_t kPageSize = 4096;

template <typename T>
void Put(std::vector<std::uint8_t>& file, std::size_t at, T value) {
  std::memcpy(file.data() + at, &value, sizeof value);
}

// Numbers stored 7 bits a byte, as index nodes hold them.
void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t v) {
  do {
    out.push_back(std::uint8_t((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
    v >>= 7;
  } while (v != 0);
}

// One b-tree node, the key stored whole (no prefix).
void PutNode(std::vector<std::uint8_t>& out, std::uint64_t record, std::uint32_t child, bool leaf,
             const std::vector<std::uint8_t>& key) {
  out.push_back(std::uint8_t(ods::kBtnNormal << 5 | (record & 0x1F)));
  PutNumber(out, record >> 5);
  if (!leaf) {
    PutNumber(out, child);
  }
  out.push_back(0);
  PutNumber(out, key.size());
  out.insert(out.end(), key.begin(), key.end());
}

// The key of an integer: its double, big-endian, sign bit flipped.
std::vector<std::uint8_t> IntegerKey(int v) {
  std::uint64_t bits = 0;
  const double d = v;
  std::memcpy(&bits, &d, 8);
  bits = v >= 0 ? bits ^ (1ull << 63) : ~bits;
  std::vector<std::uint8_t> key;
  for (int i = 7; i >= 0; --i) {
    key.push_back(std::uint8_t(bits >> (8 * i)));
  }
  while (key.size() > 1 && key.back() == 0) {
    key.pop_back();
  }
  return key;
}

// A small image shaped like a database: a header, RDB$PAGES naming a pointer
// page, an index root page and an inventory page, data pages of relation 128
// whose records are random data compressed as literal runs, with blob ids
// among it, and a primary key index over them: a root (page 10) above two
// leaves (11, 12) naming every line. Damage from there reaches deep into the
// readers.
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
  Put<std::uint16_t>(f, dp + 22, 3);
  const std::uint8_t rows[3][18] = {{0xF0, 0, 0, 0, 6, 0, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0, 4, 0},
                                    {0xF0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0},
                                    {0xF0, 0, 0, 0, 9, 0, 0, 0, 128, 0, 0, 0, 0, 0, 0, 0, 6, 0}};
  std::size_t at = kPageSize;
  for (int r = 0; r < 3; ++r) {
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
  std::size_t irt = page(9, ods::kPageIndexRoot);
  Put<std::uint16_t>(f, irt + ods::kIrtRelation, 128);
  Put<std::uint16_t>(f, irt + ods::kIrtCount, 1);
  Put<std::uint32_t>(f, irt + ods::kIrtIndexes + ods::kIrtRoot, 10);
  Put<std::uint16_t>(f, irt + ods::kIrtIndexes + ods::kIrtDescriptor, 40);
  f[irt + ods::kIrtIndexes + ods::kIrtSegments] = 1;
  f[irt + ods::kIrtIndexes + ods::kIrtFlags] = ods::kIrtPrimary | ods::kIrtUnique;
  const std::uint32_t perPage = ods::MaxRecordsPerPage(kPageSize);
  auto bucket = [&](std::uint32_t n, std::uint8_t level, std::uint32_t left, std::uint32_t right,
                    const std::vector<std::uint8_t>& nodes) {
    std::size_t b = page(n, ods::kPageIndex);
    Put<std::uint32_t>(f, b + ods::kBtrSibling, right);
    Put<std::uint32_t>(f, b + ods::kBtrLeftSibling, left);
    Put<std::uint16_t>(f, b + ods::kBtrRelation, 128);
    Put<std::uint16_t>(f, b + ods::kBtrLength, std::uint16_t(ods::kBtrNodes + nodes.size()));
    f[b + ods::kBtrLevel] = level;
    std::memcpy(f.data() + b + ods::kBtrNodes, nodes.data(), nodes.size());
  };
  std::vector<std::uint8_t> root;
  for (std::uint32_t sequence = 0; sequence < 2; ++sequence) {
    std::vector<std::uint8_t> leaf;
    for (std::uint32_t line = 0; line < 20; ++line) {
      PutNode(leaf, sequence * perPage + line, 0, true, IntegerKey(int(sequence * 20 + line)));
    }
    if (sequence == 0) {
      leaf.insert(leaf.end(), {ods::kBtnEndBucket << 5, 0, 0, 0});
    } else {
      leaf.push_back(ods::kBtnEndLevel << 5);
    }
    bucket(11 + sequence, 0, sequence == 0 ? 0 : 11, sequence == 0 ? 12 : 0, leaf);
    PutNode(root, sequence * perPage, 11 + sequence, false, IntegerKey(int(sequence * 20)));
  }
  root.push_back(ods::kBtnEndLevel << 5);
  bucket(10, 1, 0, 0, root);
  for (std::uint32_t n = 13; n < pages; ++n) {
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
    const TRecordsGone::TResult gone = TRecordsGone::Find(reader, 128);
    EXPECT_LE(gone.gone.size(), gone.indexEntries);
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
  const TRecordsGone::TResult gone = TRecordsGone::Find(reader, 128);
  EXPECT_TRUE(gone.indexWhole);
  EXPECT_TRUE(gone.keysDecoded);
  EXPECT_EQ(gone.indexEntries, 40u);
  EXPECT_EQ(gone.gone.size(), counts.recordsUndecodable);  // every record is in the index
}

TEST_F(PageFuzz, DamagedIndexPagesAreCountedNotFatal) {
  std::mt19937 rng(4242);
  const TSchema schema = Schema();
  for (int round = 0; round < 400; ++round) {
    std::vector<std::uint8_t> f = Image(rng);
    const std::size_t at = std::size_t(9 + rng() % 4) * kPageSize;
    switch (rng() % 5) {
      case 0:  // random nodes behind a valid page header
        for (std::size_t i = ods::kBtrNodes; i < kPageSize; ++i) {
          f[at + i] = std::uint8_t(rng());
        }
        break;
      case 1:  // impossible lengths
        Put<std::uint16_t>(f, at + ods::kBtrLength, std::uint16_t(rng()));
        Put<std::uint16_t>(f, at + ods::kBtrJumpSize, std::uint16_t(rng() % 64));
        Put<std::uint16_t>(f, at + ods::kIrtCount, std::uint16_t(rng() % 300));
        break;
      case 2:  // a sibling or child pointing back up or to itself
        Put<std::uint32_t>(f, at + ods::kBtrSibling, 9 + rng() % 5);
        f[at + ods::kBtrNodes + 2] = std::uint8_t(9 + rng() % 5);
        break;
      case 3:  // a few bytes changed in the nodes
        for (int i = 0; i < 4; ++i) {
          f[at + ods::kBtrNodes + rng() % 200] = std::uint8_t(rng());
        }
        break;
      default:  // the file cut inside the index
        f.resize(at + rng() % kPageSize);
        break;
    }
    const std::string file = Write(f);
    ReadEverything(file, schema);
    TTableReader reader(file, schema);
    TIndexReader indexes(reader.Pages());
    if (const auto list = indexes.Indexes(128)) {
      for (const TIndexDescriptor& index : *list) {
        const TIndexWalk walk = indexes.Walk(128, index, [](std::uint64_t, ods::TBytesView) {});
        EXPECT_LE(walk.entries, 4u * kPageSize);
      }
    }
  }
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
