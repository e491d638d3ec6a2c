#include "support/FileDamage.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/ServerTools.h"
#include "support/TestFolder.h"

namespace testsupport {

namespace {

// On-disk layout (ODS 12, Firebird 3). Every page starts with a 16-byte
// header whose first byte is the page type.
constexpr unsigned char kPointerPageType = 4;
constexpr unsigned char kDataPageType = 5;
constexpr size_t kPageHeaderSize = 16;
// Pointer page: slot count (16 bits) at 24, data page numbers from 32.
constexpr size_t kPointerCountOffset = 24;
constexpr size_t kPointerSlotsOffset = 32;
// Data page: its sequence within the table (32 bits) right after the header.
constexpr size_t kDataSequenceOffset = kPageHeaderSize;
// Record numbers (the low part of a db_key) are data page sequence × the
// most records a page may hold + line: (4096 - 24-byte data page header) /
// (4-byte line index entry + 13-byte record header) = 239. Measured on this
// server: the first row of the second page of a table is record 240.
constexpr uint64_t kMaxRecordsPerPage = (4096 - 24) / (4 + 13);

uint32_t ReadU32(const std::vector<unsigned char>& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint16_t ReadU16(const std::vector<unsigned char>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void EnsureReleased(const std::string& file) {
  if (!ServerTools::WaitUntilReleased(file)) {
    throw std::runtime_error("the server still has " + file + " open");
  }
}

std::vector<unsigned char> ReadPage(const std::string& file, uint32_t pageNumber) {
  std::ifstream in(file, std::ios::binary);
  std::vector<unsigned char> page(FileDamage::kPageSize);
  in.seekg(static_cast<std::streamoff>(pageNumber) * FileDamage::kPageSize);
  in.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  if (!in) {
    throw std::runtime_error("cannot read page " + std::to_string(pageNumber) + " of " + file);
  }
  return page;
}

// The record number inside a db_key as isql shows it (16 hex digits): bytes
// 0-1 relation id, byte 3 the high byte of the record number, bytes 4-7 its
// low 32 bits, little-endian.
uint64_t RecordNumber(const std::string& dbKeyHex) {
  if (dbKeyHex.size() != 16) {
    throw std::runtime_error("unexpected db_key text: " + dbKeyHex);
  }
  const auto byteAt = [&](size_t i) -> uint64_t {
    return std::stoul(dbKeyHex.substr(2 * i, 2), nullptr, 16);
  };
  return byteAt(3) << 32 | byteAt(7) << 24 | byteAt(6) << 16 | byteAt(5) << 8 | byteAt(4);
}

}  // namespace

std::vector<uint32_t> FileDamage::DataPages(const FixtureDatabase& db, const std::string& table) {
  const std::vector<std::string> pointerPages = db.Column(
      "select p.rdb$page_number as P from rdb$pages p join rdb$relations r"
      " on r.rdb$relation_id = p.rdb$relation_id"
      " where r.rdb$relation_name = '" +
      table +
      "' and p.rdb$page_type = 4"
      " order by p.rdb$page_sequence");
  if (pointerPages.empty()) {
    throw std::runtime_error("no pointer page for table " + table);
  }
  EnsureReleased(db.Path());
  std::vector<uint32_t> dataPages;
  for (const std::string& number : pointerPages) {
    const std::vector<unsigned char> page = ReadPage(db.Path(), std::stoul(number));
    if (page[0] != kPointerPageType) {
      throw std::runtime_error("page " + number + " is not a pointer page");
    }
    const uint16_t slots = ReadU16(page, kPointerCountOffset);
    for (uint16_t i = 0; i < slots; ++i) {
      const uint32_t dataPage = ReadU32(page, kPointerSlotsOffset + 4u * i);
      if (dataPage != 0) {  // 0: an emptied slot
        dataPages.push_back(dataPage);
      }
    }
  }
  return dataPages;
}

DamageReport FileDamage::ZeroDataPage(const FixtureDatabase& db, const std::string& table,
                                      const std::string& keyExpression, size_t index) {
  const std::vector<FixtureDatabase::Row> rows =
      db.Query("select " + keyExpression + " as K, rdb$db_key as DBK from " + table);
  const std::vector<uint32_t> pages = DataPages(db, table);
  if (index >= pages.size()) {
    throw std::runtime_error(table + " has only " + std::to_string(pages.size()) + " data pages");
  }
  DamageReport report;
  report.pageNumber = pages[index];
  const std::vector<unsigned char> page = ReadPage(db.Path(), report.pageNumber);
  if (page[0] != kDataPageType) {
    throw std::runtime_error("page " + std::to_string(report.pageNumber) + " is not a data page");
  }
  report.pageSequence = ReadU32(page, kDataSequenceOffset);
  for (const FixtureDatabase::Row& row : rows) {
    if (RecordNumber(row.at("DBK")) / kMaxRecordsPerPage == report.pageSequence) {
      report.lostKeys.push_back(row.at("K"));
    }
  }
  ZeroPage(db.Path(), report.pageNumber);
  return report;
}

void FileDamage::ZeroPage(const std::string& file, uint32_t pageNumber) {
  EnsureReleased(file);
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  if (!io) {
    throw std::runtime_error("cannot open " + file);
  }
  const std::vector<char> zeros(kPageSize, 0);
  io.seekp(static_cast<std::streamoff>(pageNumber) * kPageSize);
  io.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  io.flush();
  if (!io) {
    throw std::runtime_error("cannot write page " + std::to_string(pageNumber) + " of " + file);
  }
}

void FileDamage::TruncatedCopy(const std::string& source, const std::string& target,
                               uint64_t keepBytes) {
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(target, keepBytes);
  TestFolder::GiveToServer(target);
}

void FileDamage::CorruptedBackupCopy(const std::string& source, const std::string& target) {
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
  Overwrite(target, 0, 64, 0xFF);
  TestFolder::GiveToServer(target);
}

void FileDamage::Overwrite(const std::string& file, uint64_t offset, uint64_t length,
                           unsigned char value) {
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  if (!io) {
    throw std::runtime_error("cannot open " + file);
  }
  const std::vector<char> bytes(length, static_cast<char>(value));
  io.seekp(static_cast<std::streamoff>(offset));
  io.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  io.flush();
  if (!io) {
    throw std::runtime_error("cannot overwrite bytes of " + file);
  }
}

std::string FileDamage::ReadWhole(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileDamage::SamePagesApartFromBookkeeping(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.size() % kPageSize != 0 || a.empty()) {
    return false;
  }
  for (std::size_t offset = 0; offset < a.size(); offset += kPageSize) {
    const char type = a[offset];
    if (type != 1 && type != 3 && a.compare(offset, kPageSize, b, offset, kPageSize) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace testsupport
