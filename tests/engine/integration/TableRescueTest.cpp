// Tables the backup cannot read: backed up again with their rows skipped,
// restored empty, then rebuilt from the damaged database and the older
// backup. Real damage written into the files, the real server throughout.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/firebird/TBackupRetry.h"
#include "engine/firebird/TConnection.h"
#include "engine/rows/TTableRescue.h"
#include "engine/run/TRecoveryContext.h"
#include "fbaccess/TIBBackupService.h"
#include "pages/TTableReader.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

// The verbose output of a backup through the service manager, as the run
// reads it; the lines of an error raised by the service follow.
std::vector<std::string> Backup(const std::string& database, const std::string& file,
                                const std::string& skipData) {
  TIBBackupService backup;
  backup.SetServerName("localhost");
  backup.SetProtocol(TCP);
  backup.SetLoginPrompt(false);
  backup.AddParam(std::string("user_name=") + ServerTools::kUser);
  backup.AddParam(std::string("password=") + ServerTools::kPassword);
  std::vector<std::string> lines;
  try {
    backup.SetActive(true);
    backup.SetVerbose(true);
    // Without garbage collection: the server's collector reading old row
    // versions on missing pages fails the backup at any point, even in the
    // metadata (measured on a cut file with deleted rows).
    backup.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable,
                       TBackupOption::NoGarbageCollection});
    backup.SetDatabaseName(database);
    backup.SetBackupFile({file});
    backup.SetSkipData(skipData);
    backup.ServiceStart();
    while (!backup.AtEnd()) {
      lines.push_back(backup.ReadOutputLine());
    }
  } catch (const std::exception& e) {
    std::istringstream text(e.what());
    for (std::string line; std::getline(text, line);) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      lines.push_back(line);
    }
  }
  backup.SetActive(false);
  return lines;
}

bool Completed(const std::vector<std::string>& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("closing file, committing, and finishing") != std::string::npos;
  });
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

// Backs up with more and more tables' rows skipped, as the run does, until
// the backup completes; answers the tables skipped, in order.
std::vector<std::string> BackupSkipping(const std::string& database, const std::string& file) {
  TBackupRetry retry;
  TConnection damaged;
  damaged.SetDatabasePath(database);
  for (;;) {
    std::filesystem::remove(file);
    const std::vector<std::string> lines = Backup(database, file, retry.Pattern());
    if (Completed(lines)) {
      return retry.Skipped();
    }
    const TBackupRetry::TStop stop = TBackupRetry::FindStop(lines);
    const std::string table = stop.PointerPage != 0
                                  ? TBackupRetry::TableOfPointerPage(damaged, stop.PointerPage)
                                  : stop.Table;
    if (!retry.Skip(table)) {
      ADD_FAILURE() << "no table to skip; skipped so far: " << retry.Pattern() << "\n"
                    << Joined(lines);
      return retry.Skipped();
    }
  }
}

std::string Restored(const TestFolder& folder, const std::string& backup, const std::string& name) {
  const std::string path = folder.File(name);
  const auto result = ServerTools::Restore(backup, path);
  EXPECT_TRUE(result.Ok()) << result.output;
  return path;
}

// A rescue wired as the run wires it: the damaged database, the restore being
// filled and, unless `olderPath` is "", the older backup's restore.
class RescueSetup {
 public:
  RescueSetup(const std::string& damagedPath, const std::string& targetPath,
              const std::string& olderPath, const std::string& olderBackup)
      : context_(host_, damagedPath, olderBackup),
        rescue_(context_, damaged_, target_, olderPath.empty() ? nullptr : &older_) {
    damaged_.SetDatabasePath(damagedPath);
    target_.SetDatabasePath(targetPath);
    older_.SetDatabasePath(olderPath);
  }

  TTableRescue::TCounts Rescue(const std::string& table) { return rescue_.Rescue(table); }
  const ScriptedHost& Host() const { return host_; }

 private:
  ScriptedHost host_;
  TRecoveryContext context_;
  TConnection damaged_;
  TConnection target_;
  TConnection older_;
  TTableRescue rescue_;
};

const std::string kThreeTables =
    "create table A (ID integer not null primary key, S varchar(60));\n"
    "create table B (ID integer, S varchar(60));\n"
    "create table C (ID integer not null primary key, PAI integer references C (ID),"
    " S varchar(60));\n"
    "commit;\n" +
    FixtureDatabase::FillScript(
        "insert into A values (:i, uuid_to_char(gen_uuid()));"
        " insert into B values (:i, uuid_to_char(gen_uuid()));"
        " insert into C values (:i, null, uuid_to_char(gen_uuid()))",
        3000) +
    // Every row of C refers to the next one, stored after it: copied in
    // storage order, each row would come before its parent.
    "update C set PAI = ID + 1 where ID < 2999;\n";

// 20,000 rows whose keys leave two free numbers between each other.
const std::string kSpacedKeys =
    "create table T (ID integer not null primary key, S varchar(100));\n"
    "commit;\n" +
    FixtureDatabase::FillScript("insert into T values (:i * 3, uuid_to_char(gen_uuid()))", 20000);

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

const char* const kRowsOfA = "select ID || '|' || S from A";
const char* const kRowsOfB = "select ID || '|' || S from B";
const char* const kRowsOfC = "select ID || '|' || coalesce(PAI, '-') || '|' || S from C";

// The server refuses every statement on a table whose pointer page is gone;
// the data pages are still in the file, and hold every row in its newest
// version, also those added, changed and deleted since the older backup.
TEST(TableRescue, PointerPagesDestroyedTablesRebuiltFromTheirPagesInTheNewestVersion) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(folder.File("EMPRESA.FDB"), 4096, kThreeTables);
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VELHO.FBK")).Ok());
  const std::string olderPath = Restored(folder, folder.File("VELHO.FBK"), "EMPRESA-TEMP.FDB");
  // Not swept: the changed rows keep their older versions on the pages.
  db.Execute(
      "insert into A select ID + 3000, S from A where ID < 100;\n"
      "update A set S = 'mudado ' || ID where mod(ID, 7) = 0;\n"
      "delete from A where mod(ID, 11) = 0;\n"
      "update B set S = lower(S) where mod(ID, 3) = 0;\n"
      "update C set S = 'mudado' where mod(ID, 5) = 0;\n");
  const std::vector<std::vector<std::string>> healthy{
      Sorted(db.Column(kRowsOfA)), Sorted(db.Column(kRowsOfB)), Sorted(db.Column(kRowsOfC))};
  ASSERT_EQ(healthy[0].size(), 3100u - 282u);

  for (const char* table : {"A", "B", "C"}) {
    const auto pages = PageDamage::PointerPages(db, table);
    ASSERT_EQ(pages.size(), 1u);
    PageDamage::ZeroPage(db.Path(), pages[0]);
  }
  const std::string backup = folder.File("EMPRESA.FBK");
  std::vector<std::string> skipped = BackupSkipping(db.Path(), backup);
  std::sort(skipped.begin(), skipped.end());
  EXPECT_EQ(skipped, (std::vector<std::string>{"A", "B", "C"}));
  const FixtureDatabase target(Restored(folder, backup, "RESTAURADO.FDB"));
  for (const char* table : {"A", "B", "C"}) {
    EXPECT_EQ(target.Count(table), 0) << table;  // the tables exist, empty
  }

  RescueSetup rescue(db.Path(), target.Path(), olderPath, backup);
  const std::vector<std::string> tables{"A", "B", "C"};
  const std::vector<const char*> queries{kRowsOfA, kRowsOfB, kRowsOfC};
  for (std::size_t i = 0; i < tables.size(); ++i) {
    SCOPED_TRACE(tables[i]);
    const TTableRescue::TCounts counts = rescue.Rescue(tables[i]);
    EXPECT_EQ(counts.FromDamaged, 0);  // a destroyed pointer page fails every statement
    EXPECT_EQ(counts.FromPages, static_cast<long long>(healthy[i].size()));
    EXPECT_EQ(counts.FromOlderBackup, 0);  // the deleted rows stay deleted
    EXPECT_EQ(counts.Lost, 0);
    EXPECT_TRUE(counts.LostKnown);
    // C's rows refer to rows stored after them: inserted parents first.
    EXPECT_EQ(Sorted(target.Column(queries[i])), healthy[i]);
  }
  const auto log = rescue.Host().LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Tabela A: 0 registros lidos do banco danificado, 2818 das páginas do "
                      "arquivo, 0 do backup anterior, 0 perdidos."),
            log.end())
      << rescue.Host().TranscriptText();
  EXPECT_TRUE(ServerTools::Validate(target.Path()).Ok());
  EXPECT_TRUE(ServerTools::WaitUntilReleased(db.Path()));
  EXPECT_TRUE(ServerTools::WaitUntilReleased(target.Path()));
}

// A data page lost with the pointer page: the pages are no longer the whole
// table, so the keys they lack come from the older backup and the loss is
// not known.
TEST(TableRescue, PointerAndDataPageDestroyedRestFromTheOlderBackup) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(folder.File("EMPRESA.FDB"), 4096, kThreeTables);
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VELHO.FBK")).Ok());
  const std::string olderPath = Restored(folder, folder.File("VELHO.FBK"), "EMPRESA-TEMP.FDB");
  // Same length: the newer versions stay where the rows are.
  db.Execute("update A set S = lower(S);");
  const testsupport::DamageReport damage = testsupport::FileDamage::ZeroDataPage(
      db, "A", "ID", testsupport::FileDamage::DataPages(db, "A").size() / 2);
  ASSERT_FALSE(damage.lostKeys.empty());
  PageDamage::ZeroPage(db.Path(), PageDamage::PointerPages(db, "A").at(0));
  const FixtureDatabase target(folder.File("ALVO.FDB"));
  PageDamage::Copy(olderPath, target.Path());
  target.Execute("delete from A;");

  const TTableRescue::TCounts counts =
      RescueSetup(db.Path(), target.Path(), olderPath, "").Rescue("A");
  const auto lost = static_cast<long long>(damage.lostKeys.size());
  EXPECT_EQ(counts.FromDamaged, 0);
  EXPECT_EQ(counts.FromPages, 3000 - lost);
  EXPECT_EQ(counts.FromOlderBackup, lost);
  EXPECT_FALSE(counts.LostKnown);
  // Newest versions from the pages, the older one where only the backup has it.
  EXPECT_EQ(target.Value("select count(*) from A where S = lower(S)"), std::to_string(3000 - lost));
  EXPECT_EQ(target.Count("A"), 3000);
}

TEST(TableRescue, TruncatedFileReadByKeyRangesAroundTheMissingPages) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(folder.File("EMPRESA.FDB"), 4096, kSpacedKeys);
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VELHO.FBK")).Ok());
  const std::string olderPath = Restored(folder, folder.File("VELHO.FBK"), "EMPRESA-TEMP.FDB");
  // Rows after the backup, stored at the end of the file, and rows that
  // left: the older backup has those, the repaired table must not.
  db.Execute(
      "delete from T where ID < 300;\n"
      "insert into T select ID + 60000, S from T where ID < 9000;");
  // Swept, so that no old row versions are left: the server's collector
  // reading them on the missing pages fails whatever attachment is working
  // at that moment, at random points of the backup (measured).
  ASSERT_TRUE(ServerTools::Gfix(db.Path(), {"-sweep"}).Ok());
  auto healthy = db.Column("select ID || '|' || S from T");
  const long long healthyRows = static_cast<long long>(healthy.size());
  const std::uint64_t pages = std::filesystem::file_size(db.Path()) / 4096;
  PageDamage::KeepPages(db.Path(), pages * 9 / 10);

  const std::string backup = folder.File("EMPRESA.FBK");
  EXPECT_EQ(BackupSkipping(db.Path(), backup), (std::vector<std::string>{"T"}));
  const FixtureDatabase target(Restored(folder, backup, "RESTAURADO.FDB"));

  const TTableRescue::TCounts counts =
      RescueSetup(db.Path(), target.Path(), olderPath, backup).Rescue("T");
  EXPECT_TRUE(counts.LostKnown);
  EXPECT_GT(counts.FromDamaged, healthyRows / 2);
  EXPECT_GT(counts.Lost, 0);  // new rows on the cut pages
  EXPECT_EQ(counts.FromDamaged + counts.FromPages + counts.FromOlderBackup, target.Count("T"));
  // Every row of the damaged database is either rebuilt or counted lost; the
  // rows deleted since the older backup stay deleted: the damaged database
  // could be read where they were.
  EXPECT_EQ(target.Count("T where ID < 300"), 0);
  auto rebuilt = target.Column("select ID || '|' || S from T");
  std::sort(rebuilt.begin(), rebuilt.end());
  std::sort(healthy.begin(), healthy.end());
  EXPECT_TRUE(std::includes(healthy.begin(), healthy.end(), rebuilt.begin(), rebuilt.end()));
  EXPECT_EQ(static_cast<long long>(rebuilt.size()) + counts.Lost, healthyRows);
  EXPECT_TRUE(ServerTools::Validate(target.Path()).Ok());
}

// Rows of eight UUIDs, about eleven to a page: the first pointer page of a
// 4 KiB database (808 data pages) is full after about 8,900 of them.
std::string WideRow(const std::string& id) {
  std::string text = "insert into T values (" + id + ", ''";
  for (int i = 0; i < 8; ++i) {
    text += " || uuid_to_char(gen_uuid())";
  }
  return text + ")";
}

// The file cut at 90 % of its pages takes the table's last pointer page with
// it, so the server refuses every statement on the table: the rows on the
// data pages before the cut come back from the pages, in their newest version.
TEST(TableRescue, FileCutBeforeItsLastPointerPageRowsBeforeTheCutFromThePages) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table T (ID integer not null primary key, S varchar(300));\ncommit;\n" +
          FixtureDatabase::FillScript(WideRow(":i"), 8000));
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VELHO.FBK")).Ok());
  const std::string olderPath = Restored(folder, folder.File("VELHO.FBK"), "EMPRESA-TEMP.FDB");
  db.Execute("update T set S = lower(S) where mod(ID, 4) = 0;");
  // Rows added since the backup, until the table takes a second pointer page,
  // which then lies near the end of the file.
  for (int added = 0; PageDamage::PointerPages(db, "T").size() < 2; added += 200) {
    ASSERT_LT(added, 4000);
    db.Execute(FixtureDatabase::FillScript(WideRow(":i + " + std::to_string(8000 + added)), 200));
  }
  ASSERT_TRUE(ServerTools::Gfix(db.Path(), {"-sweep"}).Ok());
  const std::uint64_t pages = std::filesystem::file_size(db.Path()) / 4096;
  const std::uint64_t keep = pages * 9 / 10;
  const auto pointers = PageDamage::PointerPages(db, "T");
  ASSERT_EQ(pointers.size(), 2u);
  ASSERT_GE(pointers[1], keep);
  // The rows whose data page lies before the cut, as the pages hold them.
  std::vector<std::string> beforeCut;
  {
    TTableReader reader(db.Path());
    reader.Read("T", [&](const TRow& row) {
      if (row.page < keep) {
        beforeCut.push_back(row.values[0].AsString() + "|" + row.values[1].AsString());
      }
    });
  }
  const auto healthy = Sorted(db.Column("select ID || '|' || S from T"));
  ASSERT_LT(beforeCut.size(), healthy.size());
  PageDamage::KeepPages(db.Path(), keep);

  // The backup fails on the cut file before any table ("File size is less
  // than expected"): the target is the table as the older backup has it,
  // emptied.
  const FixtureDatabase target(Restored(folder, folder.File("VELHO.FBK"), "RESTAURADO.FDB"));
  target.Execute("delete from T;");
  RescueSetup rescue(db.Path(), target.Path(), olderPath, folder.File("VELHO.FBK"));
  const TTableRescue::TCounts counts = rescue.Rescue("T");
  EXPECT_EQ(counts.FromDamaged, 0);
  EXPECT_EQ(counts.FromPages, static_cast<long long>(beforeCut.size()));
  EXPECT_FALSE(counts.LostKnown);  // the pages past the cut are not known
  const auto rebuilt = Sorted(target.Column("select ID || '|' || S from T"));
  std::sort(beforeCut.begin(), beforeCut.end());
  EXPECT_TRUE(std::includes(rebuilt.begin(), rebuilt.end(), beforeCut.begin(), beforeCut.end()));
  EXPECT_EQ(static_cast<long long>(rebuilt.size()), counts.FromPages + counts.FromOlderBackup);
  // Rows added since the older backup come only from the pages: past the cut they are gone.
  EXPECT_EQ(target.Count("T where ID >= 8000"),
            static_cast<long long>(
                std::count_if(beforeCut.begin(), beforeCut.end(),
                              [](const std::string& row) { return std::stol(row) >= 8000; })));
  const std::string line = rescue.Host().LogLines().back();
  EXPECT_EQ(line.rfind("Tabela T: 0 registros lidos do banco danificado, " +
                           std::to_string(beforeCut.size()) + " das páginas do arquivo, ",
                       0),
            0u)
      << line;
  EXPECT_TRUE(ServerTools::Validate(target.Path()).Ok());
}

// The leaf pages (level 0) of the first index of a relation, read from the
// file: b-tree pages (type 7) carry the relation (offset 28) and the index's
// id (32) and level (33) in their header.
std::vector<std::uint32_t> LeafPages(const std::string& file, unsigned relation) {
  const std::uint32_t size = PageDamage::PageSizeOf(file);
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint32_t> leaves;
  std::vector<unsigned char> page(size);
  for (std::uint32_t number = 0; in.read(reinterpret_cast<char*>(page.data()), size); ++number) {
    const unsigned pageRelation = page[28] | (page[29] << 8);
    if (page[0] == 7 && pageRelation == relation && page[32] == 0 && page[33] == 0) {
      leaves.push_back(number);
    }
  }
  return leaves;
}

TEST(TableRescue, LostIndexPageReadInStorageOrderWithoutCountingKeysAsRows) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(folder.File("EMPRESA.FDB"), 4096, kSpacedKeys);
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VELHO.FBK")).Ok());
  const std::string olderPath = Restored(folder, folder.File("VELHO.FBK"), "EMPRESA-TEMP.FDB");
  // Rows deleted since the older backup, all over the key range: none may
  // come back, not even where the lost index page hides the keys.
  db.Execute("delete from T where mod(ID, 7) = 0;");
  ASSERT_TRUE(ServerTools::Gfix(db.Path(), {"-sweep"}).Ok());
  auto healthy = db.Column("select ID || '|' || S from T");
  const unsigned relation = static_cast<unsigned>(std::stoul(
      db.Value("select rdb$relation_id from rdb$relations where rdb$relation_name = 'T'")));
  const std::vector<std::uint32_t> leaves = LeafPages(db.Path(), relation);
  ASSERT_GT(leaves.size(), 4u);
  PageDamage::ZeroPage(db.Path(), leaves[leaves.size() / 2]);

  // The target: the table as the older backup has it, emptied.
  const FixtureDatabase target(Restored(folder, folder.File("VELHO.FBK"), "RESTAURADO.FDB"));
  target.Execute("delete from T;");

  const TTableRescue::TCounts counts =
      RescueSetup(db.Path(), target.Path(), olderPath, "").Rescue("T");
  EXPECT_TRUE(counts.LostKnown);
  EXPECT_EQ(counts.Lost, 0);
  EXPECT_EQ(counts.FromOlderBackup, 0);
  auto rebuilt = target.Column("select ID || '|' || S from T");
  std::sort(rebuilt.begin(), rebuilt.end());
  std::sort(healthy.begin(), healthy.end());
  EXPECT_EQ(rebuilt, healthy);
}

TEST(TableRescue, LostDataPageOfDenselyNumberedRowsIsCountedRowByRow) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table T (ID integer not null primary key, S varchar(20));\n"
      "commit;\n" +
          FixtureDatabase::FillScript("insert into T values (:i, 'linha ' || :i)", 30000));
  auto healthy = db.Column("select ID || '|' || S from T");
  const FixtureDatabase target(folder.File("ALVO.FDB"));
  PageDamage::Copy(db.Path(), target.Path());
  target.Execute("delete from T;");
  // No older backup: what the page held is lost, and must be counted so.
  const testsupport::DamageReport damage = testsupport::FileDamage::ZeroDataPage(
      db, "T", "ID", testsupport::FileDamage::DataPages(db, "T").size() / 2);
  // A whole page of consecutive keys fails: that alone must not pass for a
  // lost index page.
  ASSERT_GT(damage.lostKeys.size(), 40u);

  const TTableRescue::TCounts counts = RescueSetup(db.Path(), target.Path(), "", "").Rescue("T");
  EXPECT_TRUE(counts.LostKnown);
  EXPECT_EQ(counts.Lost, static_cast<long long>(damage.lostKeys.size()));
  EXPECT_EQ(counts.FromDamaged + counts.Lost, static_cast<long long>(healthy.size()));
}

// Rows go in by blocks; a row the target refuses fails its whole block, whose
// other rows then go in one by one: only the refused row is lost, and said so.
TEST(TableRescue, ARowTheTargetRefusesCostsOnlyItselfNotItsBlock) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table T (ID integer not null primary key, S varchar(20));\n"
      "commit;\n" +
          FixtureDatabase::FillScript("insert into T values (:i, 'linha ' || :i)", 3000));
  const FixtureDatabase target(folder.File("ALVO.FDB"));
  PageDamage::Copy(db.Path(), target.Path());
  target.Execute(
      "delete from T;\n"
      "alter table T add constraint SEM_1234 check (ID <> 1234);");

  RescueSetup rescue(db.Path(), target.Path(), "", "");
  const TTableRescue::TCounts counts = rescue.Rescue("T");
  EXPECT_EQ(counts.FromDamaged, 2999);
  EXPECT_EQ(counts.Lost, 1);
  EXPECT_TRUE(counts.LostKnown);
  EXPECT_EQ(target.Count("T"), 2999);
  EXPECT_EQ(target.Value("select count(*) from T where S = 'linha ' || ID"), "2999");
  // Off while the rows went in, on again after.
  EXPECT_EQ(target.Value("select mon$forced_writes from mon$database"), "1");
  const auto log = rescue.Host().LogLines();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("Registro não inserido em T") != std::string::npos &&
                                   line.find("SEM_1234") != std::string::npos;
                          }),
            1)
      << rescue.Host().TranscriptText();
}

// A rescued row keeps every value it had: its array (no field) read whole
// from whichever source gave the row, and no trigger of the target changes
// it or writes rows of its own.
TEST(TableRescue, RescuedRowsKeepTheirValuesArraysIncludedAndRunNoTrigger) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table T (ID integer not null primary key, V integer [1:3], S varchar(20));\n"
      "commit;\n" +
          FixtureDatabase::FillScript("insert into T (ID, S) values (:i, 'linha ' || :i)", 1000) +
          "create table AUDITORIA (ID integer);\n"
          "set term ^;\n"
          // A trigger named by a reserved word is reached only quoted.
          "create trigger \"ORDER\" for T before insert as begin new.S = 'mudado'; end^\n"
          "create trigger T_AI for T after insert as begin"
          " insert into AUDITORIA values (new.ID); end^\n"
          "set term ;^\n");
  std::vector<std::pair<TValue, TBytes>> arrays;
  for (std::int32_t id = 0; id < 1000; ++id) {
    const std::int32_t values[3] = {id, -id, 7 * id};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(values);
    arrays.emplace_back(TValue(id), TBytes(bytes, bytes + sizeof values));
  }
  db.WriteArrays("update T set V = :A where ID = :K", arrays);
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VELHO.FBK")).Ok());
  // Restored, every array lies beside its row, and no page holds only old
  // versions of rows.
  const FixtureDatabase damagedDb(Restored(folder, folder.File("VELHO.FBK"), "DANIFICADO.FDB"));
  const std::string olderPath = Restored(folder, folder.File("VELHO.FBK"), "EMPRESA-TEMP.FDB");
  const FixtureDatabase target(folder.File("ALVO.FDB"));
  PageDamage::Copy(damagedDb.Path(), target.Path());
  target.Execute("delete from T;");
  const testsupport::DamageReport damage = testsupport::FileDamage::ZeroDataPage(
      damagedDb, "T", "ID", testsupport::FileDamage::DataPages(damagedDb, "T").size() / 2);
  ASSERT_FALSE(damage.lostKeys.empty());

  const TTableRescue::TCounts counts =
      RescueSetup(damagedDb.Path(), target.Path(), olderPath, folder.File("VELHO.FBK")).Rescue("T");
  EXPECT_GT(counts.FromDamaged, 0);
  EXPECT_GT(counts.FromOlderBackup, 0);
  EXPECT_EQ(counts.Lost, 0);
  EXPECT_EQ(target.Value("select count(*) from T where S = 'linha ' || ID"), "1000");
  EXPECT_EQ(target.Count("AUDITORIA"), 0);
  EXPECT_EQ(target.Value("select count(*) from rdb$triggers where rdb$relation_name = 'T'"
                         " and rdb$trigger_inactive = 0"),
            "2");
  EXPECT_EQ(target.Value("select count(*) from T where V[1] = ID and V[2] = -ID and"
                         " V[3] = 7 * ID"),
            "1000");
}

}  // namespace
