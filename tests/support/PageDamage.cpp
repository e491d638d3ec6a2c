#include "support/PageDamage.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/FileDamage.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

namespace testsupport {

namespace {

void EnsureReleased(const std::string& file) {
  if (!ServerTools::WaitUntilReleased(file)) {
    throw std::runtime_error("the server still has " + file + " open");
  }
}

}  // namespace

FixtureDatabase PageDamage::Create(const std::string& path, std::uint32_t pageSize,
                                   const std::string& script) {
  const std::string sql = "set sql dialect 3;\ncreate database 'localhost:" + path + "' user '" +
                          ServerTools::kUser + "' password '" + ServerTools::kPassword +
                          "' page_size " + std::to_string(pageSize) + ";\n" + script +
                          "\ncommit;\n";
  const ToolResult result = ServerTools::IsqlScript(sql);
  if (!result.Ok()) {
    throw std::runtime_error("creating " + path + ": " + result.output);
  }
  return FixtureDatabase(path);
}

std::uint32_t PageDamage::PageSizeOf(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char bytes[18] = {};
  in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  if (!in) {
    throw std::runtime_error("cannot read the header of " + file);
  }
  return static_cast<std::uint32_t>(bytes[16] | bytes[17] << 8);
}

std::vector<std::uint32_t> PageDamage::PointerPages(const FixtureDatabase& db,
                                                    const std::string& table) {
  std::vector<std::uint32_t> pages;
  for (const std::string& number :
       db.Column("select p.rdb$page_number from rdb$pages p join rdb$relations r"
                 " on r.rdb$relation_id = p.rdb$relation_id where r.rdb$relation_name = '" +
                 table + "' and p.rdb$page_type = 4 order by p.rdb$page_sequence")) {
    pages.push_back(static_cast<std::uint32_t>(std::stoul(number)));
  }
  return pages;
}

void PageDamage::ZeroPage(const std::string& file, std::uint32_t pageNumber) {
  EnsureReleased(file);
  const std::uint32_t pageSize = PageSizeOf(file);
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  const std::string zeros(pageSize, '\0');
  io.seekp(static_cast<std::streamoff>(pageNumber) * pageSize);
  io.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  io.flush();
  if (!io) {
    throw std::runtime_error("cannot write page " + std::to_string(pageNumber) + " of " + file);
  }
}

void PageDamage::KeepPages(const std::string& file, std::uint64_t pages) {
  EnsureReleased(file);
  std::filesystem::resize_file(file, pages * PageSizeOf(file));
}

void PageDamage::Copy(const std::string& source, const std::string& target) {
  EnsureReleased(source);
  std::filesystem::copy_file(source, target);
  TestFolder::GiveToServer(target);
}

std::vector<std::uint32_t> PageDamage::DataPages(const FixtureDatabase& db,
                                                 const std::string& table) {
  const auto relationId = static_cast<unsigned>(std::stoul(db.Value(
      "select rdb$relation_id from rdb$relations where rdb$relation_name = '" + table + "'")));
  const std::uint32_t pageSize = PageSizeOf(db.Path());
  const std::string bytes = FileDamage::ReadWhole(db.Path());
  std::vector<std::uint32_t> pages;
  for (std::size_t at = 0; at + pageSize <= bytes.size(); at += pageSize) {
    const auto byte = [&](std::size_t offset) {
      return static_cast<unsigned>(static_cast<unsigned char>(bytes[at + offset]));
    };
    if (byte(0) == 5 && (byte(20) | byte(21) << 8) == relationId) {
      pages.push_back(static_cast<std::uint32_t>(at / pageSize));
    }
  }
  return pages;
}

}  // namespace testsupport
