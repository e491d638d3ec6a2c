// Triage of database files the server made, whole and damaged, read from the
// disk only.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/firebird/TTriage.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::TestFolder;

namespace {

const std::string kRows =
    "create table T (ID integer not null primary key, S varchar(100));\n"
    "commit;\n" +
    FixtureDatabase::FillScript("insert into T values (:i, uuid_to_char(gen_uuid()))", 20000);

// Examines a file and checks that it was left exactly as it was.
TTriage::Result ExamineUntouched(const std::string& file) {
  const std::string before = FileDamage::ReadWhole(file);
  TTriage::Result result = TTriage::Examine(file);
  EXPECT_EQ(FileDamage::ReadWhole(file), before) << file;
  return result;
}

TEST(Triage, WholeAndCutFilesOfBothPageSizes) {
  TestFolder folder;
  for (const std::uint32_t pageSize : {4096u, 16384u}) {
    SCOPED_TRACE(pageSize);
    const std::string name = "P" + std::to_string(pageSize);
    const auto db = PageDamage::Create(folder.File(name + ".FDB"), pageSize, kRows);
    const std::string whole = folder.File(name + "-COPY.FDB");
    PageDamage::Copy(db.Path(), whole);

    TTriage::Result healthy = ExamineUntouched(whole);
    EXPECT_EQ(healthy.verdict, TTriage::Verdict::Healthy) << healthy.reason;
    EXPECT_EQ(healthy.pageSize, pageSize);
    EXPECT_EQ(healthy.odsMajor, 12);
    EXPECT_EQ(healthy.odsMinor, 0);
    EXPECT_EQ(healthy.fileSize, std::filesystem::file_size(whole));
    // The server grows the file ahead of use: pages at its end are free.
    ASSERT_LT(healthy.pagesInUse, healthy.pagesInFile);
    ASSERT_GT(healthy.pagesInUse, 100u);
    EXPECT_FALSE(healthy.SkipValidation());

    // Cut where only free pages go, and a part of a free page left: whole.
    const std::string tail = folder.File(name + "-TAIL.FDB");
    PageDamage::Copy(whole, tail);
    std::filesystem::resize_file(tail, healthy.pagesInUse * pageSize + 100);
    EXPECT_EQ(TTriage::Examine(tail).verdict, TTriage::Verdict::Healthy);

    // Cut at 90 % of its pages: pages in use are missing.
    const std::string cut = folder.File(name + "-CUT.FDB");
    PageDamage::Copy(whole, cut);
    PageDamage::KeepPages(cut, healthy.pagesInFile * 9 / 10);
    TTriage::Result truncated = ExamineUntouched(cut);
    EXPECT_EQ(truncated.verdict, TTriage::Verdict::Truncated);
    EXPECT_EQ(truncated.pagesInFile, healthy.pagesInFile * 9 / 10);
    EXPECT_EQ(truncated.pagesInUse, healthy.pagesInUse);
    EXPECT_TRUE(truncated.SkipValidation());
    EXPECT_NE(truncated.reason.find("está truncado"), std::string::npos) << truncated.reason;
    EXPECT_NE(truncated.reason.find(cut), std::string::npos);

    // The page inventory destroyed.
    const std::string inventory = folder.File(name + "-PIP.FDB");
    PageDamage::Copy(whole, inventory);
    PageDamage::ZeroPage(inventory, 1);
    TTriage::Result broken = ExamineUntouched(inventory);
    EXPECT_EQ(broken.verdict, TTriage::Verdict::BrokenPageInventory) << broken.reason;
    EXPECT_EQ(broken.pageSize, pageSize);
    EXPECT_TRUE(broken.SkipValidation());
  }
}

TEST(Triage, InventoryPagesAfterTheFirstAreFollowed) {
  // A file past the first inventory's pages, built from a real header and
  // inventory page: the second inventory page sits at 32543 for 4096-byte
  // pages (measured on a 50,694-page database made by the server).
  TestFolder folder;
  const auto db = PageDamage::Create(folder.File("BASE.FDB"), 4096, "");
  const std::string base = FileDamage::ReadWhole(db.Path());
  const std::uint32_t perInventory = TTriage::PagesPerInventory(4096);
  ASSERT_EQ(perInventory, 32544u);

  const std::string big = folder.File("BIG.FDB");
  {
    std::ofstream out(big, std::ios::binary);
    out.write(base.data(), 2 * 4096);  // header and first inventory
  }
  // Every page of the first inventory in use, the second inventory with its
  // first 504 pages in use.
  std::string firstInventory = base.substr(4096, 4096);
  std::fill(firstInventory.begin() + TTriage::kInventoryBitsOffset, firstInventory.end(), '\0');
  std::string secondInventory = firstInventory;
  std::fill(secondInventory.begin() + TTriage::kInventoryBitsOffset + 504 / 8,
            secondInventory.end(), '\xFF');
  {
    std::fstream io(big, std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(4096);
    io.write(firstInventory.data(), 4096);
    io.seekp(std::streamoff(perInventory - 1) * 4096);
    io.write(secondInventory.data(), 4096);
  }
  std::filesystem::resize_file(big, std::uint64_t(perInventory + 504) * 4096);
  TTriage::Result result = TTriage::Examine(big);
  EXPECT_EQ(result.verdict, TTriage::Verdict::Healthy) << result.reason;
  EXPECT_EQ(result.pagesInUse, perInventory + 504u);

  std::filesystem::resize_file(big, std::uint64_t(perInventory + 503) * 4096);
  EXPECT_EQ(TTriage::Examine(big).verdict, TTriage::Verdict::Truncated);
  // Cut before the second inventory: the first one says it is in use.
  std::filesystem::resize_file(big, std::uint64_t(perInventory - 10) * 4096);
  result = TTriage::Examine(big);
  EXPECT_EQ(result.verdict, TTriage::Verdict::Truncated);
  EXPECT_EQ(result.pagesInUse, perInventory);
}

TEST(Triage, FilesThatAreNoDatabaseOrCannotBeRead) {
  TestFolder folder;
  const std::string text = folder.File("NOTAS.TXT");
  std::ofstream(text) << std::string(8192, 'x');
  TTriage::Result result = TTriage::Examine(text);
  EXPECT_EQ(result.verdict, TTriage::Verdict::NotADatabase);
  EXPECT_NE(result.reason.find("não é um banco de dados Firebird"), std::string::npos);

  const std::string empty = folder.File("VAZIO.FDB");
  std::ofstream{empty};
  EXPECT_EQ(TTriage::Examine(empty).verdict, TTriage::Verdict::NotADatabase);

  // A header of another on-disk structure version (11, Firebird 2.5).
  const auto db = PageDamage::Create(folder.File("BASE.FDB"), 4096, "");
  const std::string old = folder.File("VELHO.FDB");
  PageDamage::Copy(db.Path(), old);
  FileDamage::Overwrite(old, 18, 1, 11);
  result = TTriage::Examine(old);
  EXPECT_EQ(result.verdict, TTriage::Verdict::UnsupportedStructure);
  EXPECT_EQ(result.odsMajor, 11);
  EXPECT_NE(result.reason.find("versão 11.0"), std::string::npos) << result.reason;

  result = TTriage::Examine(folder.File("NAO-EXISTE.FDB"));
  EXPECT_EQ(result.verdict, TTriage::Verdict::UnreadableHeader);
  EXPECT_NE(result.reason.find("No such file or directory"), std::string::npos) << result.reason;
  EXPECT_FALSE(result.SkipValidation());
}

}  // namespace
