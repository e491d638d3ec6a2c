// Whole repair runs on damage the validation and mend cannot fix: destroyed
// pointer pages, a cut file, a destroyed page inventory, and a damaged data
// page of a database with 16 KiB pages whose index keys need them. The real
// server throughout; the damage is written into the files.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ScriptedHost.h"
#include "support/ServerLeftovers.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::ServerLeftovers;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace fs = std::filesystem;

namespace {

const char* const kRepaired = "O banco de dados foi corrigido com sucesso.";
const char* const kWithLosses = "O banco de dados foi corrigido, mas ";

// The real routines, except that a file the triage must keep from the
// server's validation fails the test before the validation service starts.
class GuardedSteps : public TFirebirdSteps {
 public:
  GuardedSteps(TRecoveryContext& context, bool validationForbidden)
      : TFirebirdSteps(context), forbidden_(validationForbidden) {}

  StepResult doValidate(const std::string& databasePath) override {
    if (forbidden_) {
      ADD_FAILURE() << "validation started on " << databasePath;
      return false;
    }
    return TFirebirdSteps::doValidate(databasePath);
  }
  StepResult doMend() override {
    if (forbidden_) {
      ADD_FAILURE() << "mend started";
      return false;
    }
    return TFirebirdSteps::doMend();
  }

 private:
  bool forbidden_;
};

struct RunEnd {
  std::string closing;
  std::string repairedPath;  // where the closing message says the result is
  std::chrono::seconds took{0};
};

RunEnd Repair(ScriptedHost& host, const std::string& database, const std::string& olderBackup,
              bool validationForbidden = false, const char* closing = kRepaired) {
  host.Answer(MessageAnswer::Ok, closing);
  const auto start = std::chrono::steady_clock::now();
  RunEnd end;
  {
    TThreadRecovery recovery(host, database, olderBackup, [&](TRecoveryContext& context) {
      return std::make_unique<GuardedSteps>(context, validationForbidden);
    });
    EXPECT_TRUE(recovery.WaitFor(std::chrono::minutes(3))) << host.TranscriptText();
    end.closing = recovery.ClosingText();
  }
  end.took =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  const std::string label = "Banco corrigido: ";
  const std::size_t at = end.closing.find(label);
  if (at != std::string::npos) {
    const std::size_t from = at + label.size();
    end.repairedPath = end.closing.substr(from, end.closing.find('\r', from) - from);
  }
  return end;
}

// Attaches, validates clean, is online and has every index active.
void ExpectSoundAndOnline(const std::string& path) {
  ASSERT_FALSE(path.empty());
  const FixtureDatabase db(path);
  EXPECT_EQ("0", db.Value("select count(*) from rdb$indices where"
                          " coalesce(rdb$index_inactive, 0) <> 0"))
      << path;
  const auto validation = ServerTools::Validate(path);
  EXPECT_TRUE(validation.Ok()) << validation.output;
  const auto online = ServerTools::BringOnline(path);
  EXPECT_NE(std::string::npos, online.output.find("Target shutdown mode is invalid"))
      << online.output;
}

bool AnyHas(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != line.npos; });
}

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// The run log line of a rebuilt table.
std::string RescueLine(const ScriptedHost& host, const std::string& table) {
  const auto lines = host.Calls("WriteLog -1 Tabela " + table + ":");
  return lines.empty() ? std::string() : lines.back();
}

// The backup skips A, so the restore fails on C's foreign key; once the
// rebuild has filled A, the index activates and the restore counts as done.
TEST(WiderRepair, PointerPagesLostOfKeyedAndUnkeyedTables) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table A (ID integer not null primary key, S varchar(60));\n"
      "create table B (ID integer, S varchar(60));\n"
      "create table C (ID integer not null primary key, A_ID integer references A (ID));\n"
      "commit;\n" +
          FixtureDatabase::FillScript("insert into A values (:i, uuid_to_char(gen_uuid()));"
                                      " insert into B values (:i, uuid_to_char(gen_uuid()));"
                                      " insert into C values (:i, :i)",
                                      3000));
  const std::string older = folder.File("ANTERIOR.FBK");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), older).Ok());
  // Rows newer than the older backup in a table whose pointer page goes:
  // only the file's own pages still hold them.
  db.Execute("insert into A select ID + 3000, S from A where ID < 25;");
  const auto healthyA = db.Column("select ID || '|' || S from A");
  const auto healthyB = db.Column("select ID || '|' || S from B");
  const auto healthyC = db.Column("select ID || '|' || A_ID from C");
  for (const char* table : {"A", "B"}) {
    const auto pages = PageDamage::PointerPages(db, table);
    ASSERT_EQ(pages.size(), 1u) << table;
    PageDamage::ZeroPage(db.Path(), pages[0]);
  }

  ScriptedHost host;
  const RunEnd end = Repair(host, db.Path(), older);
  // The mend frees the data pages the lost pointer pages reached; the copy
  // taken before it still has them, whole: every row comes back, and the
  // loss (none) is known.
  ASSERT_EQ(0u, end.closing.find(kRepaired)) << host.TranscriptText();
  ExpectSoundAndOnline(end.repairedPath);
  const FixtureDatabase repaired(end.repairedPath);
  EXPECT_EQ(Sorted(repaired.Column("select ID || '|' || S from A")), Sorted(healthyA));
  EXPECT_EQ(Sorted(repaired.Column("select ID || '|' || S from B")), Sorted(healthyB));
  EXPECT_EQ(Sorted(repaired.Column("select ID || '|' || A_ID from C")), Sorted(healthyC));
  EXPECT_EQ(RescueLine(host, "A"),
            "WriteLog -1 Tabela A: 0 registros lidos do banco danificado, 3025 das páginas do "
            "arquivo, 0 do backup anterior, 0 perdidos.")
      << host.TranscriptText();
  EXPECT_EQ(RescueLine(host, "B"),
            "WriteLog -1 Tabela B: 0 registros lidos do banco danificado, 3000 das páginas do "
            "arquivo, 0 do backup anterior, 0 perdidos.");
  EXPECT_TRUE(AnyHas(host.Calls("ReportStep 6 2 10"), "(2 tabela(s) refeitas linha a linha)"))
      << host.TranscriptText();
}

// The primary key's last index pages lie in the cut part too: every key
// above the last readable one fails, whether it holds a row or not, so the
// loss cannot be counted; it must be said so, quickly, and nothing invented.
TEST(WiderRepair, FileCutAtNinetyPercentOfItsPages) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table T (ID integer not null primary key, S varchar(100));\n"
      "create table P (ID integer not null primary key, NOME varchar(40));\n"
      "commit;\n" +
          FixtureDatabase::FillScript("insert into P values (:i, 'p' || :i)", 200) +
          FixtureDatabase::FillScript("insert into T values (:i * 3, uuid_to_char(gen_uuid()))",
                                      12000));
  const std::string older = folder.File("ANTERIOR.FBK");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), older).Ok());
  // Rows added since the older backup land at the end of the file, and rows
  // deleted since must stay deleted.
  db.Execute(
      "delete from T where ID < 300;\n"
      "insert into T select ID + 60000, S from T where ID < 6000;");
  ASSERT_TRUE(ServerTools::Gfix(db.Path(), {"-sweep"}).Ok());
  const auto healthy = Sorted(db.Column("select ID || '|' || S from T"));
  const auto healthyP = Sorted(db.Column("select ID || '|' || NOME from P"));
  const std::uint64_t pages = fs::file_size(db.Path()) / 4096;
  PageDamage::KeepPages(db.Path(), pages * 9 / 10);

  ScriptedHost host;
  const RunEnd end = Repair(host, db.Path(), older, true, kWithLosses);
  ASSERT_EQ(0u, end.closing.find(kWithLosses)) << host.TranscriptText();
  // The cut took part of the key's index too: at least the rows it names.
  EXPECT_NE(std::string::npos, end.closing.find("\rT: ao menos ")) << end.closing;
  EXPECT_FALSE(host.Calls("ReportStep 3 2 20 Validação não executada").empty());
  ExpectSoundAndOnline(end.repairedPath);
  const FixtureDatabase repaired(end.repairedPath);
  EXPECT_EQ(Sorted(repaired.Column("select ID || '|' || NOME from P")), healthyP);
  const auto rows = Sorted(repaired.Column("select ID || '|' || S from T"));
  EXPECT_TRUE(std::includes(healthy.begin(), healthy.end(), rows.begin(), rows.end()));
  EXPECT_EQ("0", repaired.Value("select count(*) from T where ID < 300"));
  EXPECT_LT(rows.size(), healthy.size());
  EXPECT_GT(rows.size(), healthy.size() * 8 / 10);
  const std::string line = RescueLine(host, "T");
  EXPECT_NE(std::string::npos, line.find("o total perdido não é conhecido")) << line;
  EXPECT_NE(std::string::npos, line.find("perdidos: 0 conhecidos")) << line;
  EXPECT_LT(end.took, std::chrono::seconds(60));
}

TEST(WiderRepair, PageInventoryZeroedIsBackedUpWithoutValidationAndLeavesTheServerIdle) {
  TestFolder folder;
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      "create table T (ID integer not null primary key, S varchar(100));\n"
      "create index IX_T_S on T (S);\n"
      "commit;\n" +
          FixtureDatabase::FillScript("insert into T values (:i, uuid_to_char(gen_uuid()))", 8000));
  // Old record versions left behind: collecting them would free pages, which
  // needs the page inventory.
  db.Execute("delete from T where ID < 2000; update T set S = 'novo ' || ID where ID < 4000;");
  const auto healthy = Sorted(db.Column("select ID || '|' || S from T"));
  PageDamage::ZeroPage(db.Path(), 1);
  const auto size = fs::file_size(db.Path());

  ScriptedHost host;
  const RunEnd end = Repair(host, db.Path(), "", true);
  ASSERT_EQ(0u, end.closing.find(kRepaired)) << host.TranscriptText();
  EXPECT_LT(end.took, std::chrono::seconds(180));
  // Nothing of the run is left on the server, and the file did not grow.
  EXPECT_EQ(0, ServerLeftovers::ConnectionsOfThisProcess());
  const auto held = ServerLeftovers::WaitUntilNoneHeldUnder(folder.Path());
  EXPECT_TRUE(held.empty()) << held.front();
  EXPECT_EQ(size, fs::file_size(db.Path()));
  ExpectSoundAndOnline(end.repairedPath);
  EXPECT_EQ(Sorted(FixtureDatabase(end.repairedPath).Column("select ID || '|' || S from T")),
            healthy);
}

TEST(WiderRepair, SixteenKilobytePagesKeepTheirLongUtf8KeysThroughLevelTwo) {
  TestFolder folder;
  // Keys of up to 1200 bytes: an index on them needs pages of 16 KiB.
  const FixtureDatabase db = PageDamage::Create(
      folder.File("EMPRESA.FDB"), 16384,
      "create table CIDADE (NOME varchar(300) character set utf8 not null primary key,"
      " UF char(2));\n"
      "create table ENDERECO (ID integer not null primary key,"
      " CIDADE varchar(300) character set utf8 references CIDADE (NOME));\n"
      "create index IX_CIDADE_UF on CIDADE (UF);\n"
      "commit;\n" +
          FixtureDatabase::FillScript(
              "insert into CIDADE values ('Cidade ' || :i || ' ' || rpad(_utf8 'ã', 250, _utf8 "
              "'ç'),"
              " 'S' || mod(:i, 10))",
              3000) +
          FixtureDatabase::FillScript(
              "insert into ENDERECO values (:i, 'Cidade ' || mod(:i * 7, 3000) || ' ' ||"
              " rpad(_utf8 'ã', 250, _utf8 'ç'))",
              3000));
  ASSERT_EQ(PageDamage::PageSizeOf(db.Path()), 16384u);
  const std::string older = folder.File("ANTERIOR.FBK");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), older).Ok());
  const auto healthy = Sorted(db.Column("select NOME || '|' || UF from CIDADE"));
  const auto pages = PageDamage::DataPages(db, "CIDADE");
  ASSERT_GT(pages.size(), 10u);
  PageDamage::ZeroPage(db.Path(), pages[pages.size() / 2]);

  ScriptedHost host;
  const RunEnd end = Repair(host, db.Path(), older);
  ASSERT_EQ(0u, end.closing.find(kRepaired)) << host.TranscriptText();
  // Level 2 put the result at the database's own name.
  ExpectSoundAndOnline(db.Path());
  EXPECT_EQ(PageDamage::PageSizeOf(db.Path()), 16384u);
  const FixtureDatabase repaired(db.Path());
  const auto rows = Sorted(repaired.Column("select NOME || '|' || UF from CIDADE"));
  EXPECT_TRUE(std::includes(healthy.begin(), healthy.end(), rows.begin(), rows.end()));
  EXPECT_EQ("0", repaired.Value("select count(*) from ENDERECO e where not exists"
                                " (select 1 from CIDADE c where c.NOME = e.CIDADE)"));
  EXPECT_EQ("3000", repaired.Value("select count(*) from ENDERECO"));
  EXPECT_EQ(rows.size(), healthy.size()) << "rows lost without a count in the log";
}

}  // namespace
