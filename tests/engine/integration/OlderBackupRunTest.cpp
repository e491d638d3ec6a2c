// Whole repairs whose older backup is really older than the damage: rows were
// added and changed after it was taken. Every row of the healthy database must
// be in the result, except those neither the damaged file nor the older
// backup can give, and exactly those are named in the closing message. The
// tables' alphabetical order is the reverse of their foreign keys' order.
// The real server throughout; the damage is written into the files.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace fs = std::filesystem;

namespace {

const char* const kRepaired = "O banco de dados foi corrigido com sucesso.";
const char* const kWithLosses = "O banco de dados foi corrigido, mas ";

// ANOTACOES -> CONTAS -> PESSOAS; AVULSOS stands alone.
const char* const kSchema =
    "create table PESSOAS (ID integer not null constraint PK_PESSOAS primary key,"
    " NOME varchar(60) not null);\n"
    "create table CONTAS (ID integer not null constraint PK_CONTAS primary key,"
    " PESSOA_ID integer not null constraint FK_CONTAS_PESSOAS references PESSOAS (ID),"
    " VALOR numeric(12, 2));\n"
    "create table ANOTACOES (ID integer not null constraint PK_ANOTACOES primary key,"
    " CONTA_ID integer constraint FK_ANOTACOES_CONTAS references CONTAS (ID),"
    " TEXTO varchar(100));\n"
    "create table AVULSOS (ID integer not null constraint PK_AVULSOS primary key,"
    " S varchar(60));\n"
    "commit;\n";

const std::vector<std::string> kTables{"ANOTACOES", "AVULSOS", "CONTAS", "PESSOAS"};

// Each row as one text, for row-by-row comparisons.
std::string RowsOf(const std::string& table) {
  if (table == "PESSOAS")
    return "select ID || '|' || NOME from PESSOAS";
  if (table == "CONTAS")
    return "select ID || '|' || PESSOA_ID || '|' || VALOR from CONTAS";
  if (table == "ANOTACOES")
    return "select ID || '|' || coalesce(CONTA_ID, 0) || '|' || TEXTO from ANOTACOES";
  return "select ID || '|' || S from AVULSOS";
}

using TableRows = std::map<std::string, std::vector<std::string>>;

TableRows ReadAll(const FixtureDatabase& db) {
  TableRows rows;
  for (const std::string& table : kTables) {
    rows[table] = db.Column(RowsOf(table));
    std::sort(rows[table].begin(), rows[table].end());
  }
  return rows;
}

// The healthy database, its older backup, and what was done after it.
struct Company {
  std::unique_ptr<FixtureDatabase> db;
  std::string olderBackup;
  TableRows healthy;
};

Company MakeCompany(TestFolder& folder) {
  Company company;
  company.db = std::make_unique<FixtureDatabase>(PageDamage::Create(
      folder.File("EMPRESA.FDB"), 4096,
      std::string(kSchema) +
          FixtureDatabase::FillScript(
              "insert into PESSOAS values (:i + 1, 'PESSOA ' || (:i + 1) || ' ' || "
              "lpad('', 30, 'x'))",
              1200) +
          FixtureDatabase::FillScript(
              "insert into CONTAS values (:i + 1, mod(:i, 1200) + 1, :i * 1.25)", 2400) +
          FixtureDatabase::FillScript(
              "insert into ANOTACOES values (:i + 1, mod(:i * 7, 2400) + 1, 'NOTA ' || :i)", 1200) +
          FixtureDatabase::FillScript(
              "insert into AVULSOS values (:i + 1, uuid_to_char(gen_uuid()))", 1000)));
  company.olderBackup = folder.File("ANTIGO.FBK");
  const auto backup = ServerTools::Backup(company.db->Path(), company.olderBackup);
  EXPECT_TRUE(backup.Ok()) << backup.output;
  // Days of work after the backup: new people and accounts (some of them for
  // the new people), renamed people, new notes.
  company.db->Execute(
      FixtureDatabase::FillScript("insert into PESSOAS values (1201 + :i, 'NOVA ' || :i)", 60) +
      FixtureDatabase::FillScript(
          "insert into CONTAS values (2401 + :i, iif(mod(:i, 2) = 0, 1201 + :i / 2, 5), :i)", 80) +
      "update PESSOAS set NOME = 'RENOMEADA ' || ID where mod(ID, 40) = 0;\n"
      "insert into ANOTACOES select ID + 5000, CONTA_ID, 'NOVA' from ANOTACOES where ID <= 30;\n"
      "commit;\n");
  company.healthy = ReadAll(*company.db);
  return company;
}

// Answers every question with its own default, as an operator pressing
// Enter would, and keeps what was asked.
class EnterHost : public ScriptedHost {
 public:
  MessageAnswer AskUser(const Question& question) override {
    std::lock_guard<std::mutex> lock(mutex_);
    asked_.push_back(question);
    return question.defaultAnswer;
  }
  std::vector<Question> Asked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Question> asked_;
};

struct RunEnd {
  std::string closing;
  std::string repairedPath;
  TableLosses losses;
  std::vector<Question> asked;
  std::vector<std::string> refusedRows;  // "Registro não inserido" log lines
  std::vector<std::string> restoredWithRows;
  std::string transcript;
};

RunEnd Repair(const std::string& database, const std::string& olderBackup,
              bool wholeOlderBackup = false) {
  EnterHost host;
  RunEnd end;
  {
    TThreadRecovery recovery(host, database, olderBackup, [&](TRecoveryContext& context) {
      auto steps = std::make_unique<TFirebirdSteps>(context);
      if (wholeOlderBackup) {
        steps->RestoreWholeOlderBackup();
      }
      return steps;
    });
    EXPECT_TRUE(recovery.WaitFor(std::chrono::minutes(4))) << host.TranscriptText();
    end.closing = recovery.ClosingText();
    end.losses = recovery.Losses();
  }
  end.asked = host.Asked();
  end.transcript = host.TranscriptText();
  end.refusedRows = host.Calls("WriteLog -1   Registro não inserido");
  end.restoredWithRows = host.Calls("WriteLog -1 Backup anterior restaurado com os registros de");
  const std::string label = "Banco corrigido: ";
  const std::size_t at = end.closing.find(label);
  if (at != std::string::npos) {
    const std::size_t from = at + label.size();
    end.repairedPath = end.closing.substr(from, end.closing.find('\r', from) - from);
  }
  return end;
}

// The keys of the healthy database that the result lacks, per table.
std::map<std::string, long long> MissingKeys(const Company& company,
                                             const FixtureDatabase& result) {
  std::map<std::string, long long> missing;
  for (const std::string& table : kTables) {
    std::vector<std::string> got = result.Column("select ID from " + table);
    std::sort(got.begin(), got.end());
    long long count = 0;
    for (const std::string& row : company.healthy.at(table)) {
      const std::string id = row.substr(0, row.find('|'));
      count += std::binary_search(got.begin(), got.end(), id) ? 0 : 1;
    }
    missing[table] = count;
  }
  return missing;
}

// Every row of the healthy database is in the result but those the closing
// message names, table by table, and only a run that lost none, as far as it
// can tell, says "corrigido com sucesso". A table whose loss cannot be
// counted (a destroyed page) is named as such. Returns the rows missing per
// table.
std::map<std::string, long long> ExpectEveryLossNamed(const Company& company, const RunEnd& end) {
  EXPECT_FALSE(end.repairedPath.empty()) << end.closing;
  if (end.repairedPath.empty()) {
    return {};
  }
  const FixtureDatabase result(end.repairedPath);
  EXPECT_EQ("0", result.Value("select count(*) from rdb$indices where"
                              " coalesce(rdb$index_inactive, 0) <> 0"));
  const auto missing = MissingKeys(company, result);
  long long total = 0;
  bool uncounted = false;
  for (const auto& [table, loss] : end.losses) {
    uncounted = uncounted || !loss.known;
  }
  for (const auto& [table, count] : missing) {
    total += count;
    const auto loss = end.losses.find(table);
    if (loss != end.losses.end() && !loss->second.known) {
      EXPECT_NE(std::string::npos, end.closing.find("\r" + table + ": ")) << end.closing;
    } else if (count > 0) {
      EXPECT_NE(std::string::npos,
                end.closing.find("\r" + table + ": " + std::to_string(count) + " perdidos"))
          << table << " lacks " << count << " rows\n"
          << end.closing;
    }
  }
  if (total == 0 && !uncounted) {
    EXPECT_EQ(0u, end.closing.find(kRepaired)) << end.closing;
  } else {
    EXPECT_EQ(0u, end.closing.find(kWithLosses)) << end.closing;
  }
  if (!uncounted && total > 0) {
    EXPECT_EQ(0u, end.closing.find(std::string(kWithLosses) + std::to_string(total) +
                                   " registros não puderam ser recuperados:"))
        << end.closing;
  }
  return missing;
}

bool AskedFor(const RunEnd& end, QuestionId id) {
  return std::any_of(end.asked.begin(), end.asked.end(),
                     [id](const Question& question) { return question.id == id; });
}

}  // namespace

// The second half of a parent's data page zeroed: its torn records come out
// of the backup as NULLs and the restore refuses them. Level 2 runs all the
// same, and the older backup gives back every refused row it has.
TEST(OlderBackupRun, TornParentPageRowsComeBackFromTheOlderBackup) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  const auto pages = PageDamage::DataPages(*company.db, "PESSOAS");
  ASSERT_GT(pages.size(), 3u);
  FileDamage::Overwrite(company.db->Path(), std::uint64_t{pages[1]} * 4096 + 2048, 2048, 0);

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  const auto missing = ExpectEveryLossNamed(company, end);
  EXPECT_EQ(0, missing.at("PESSOAS")) << end.closing;
  ASSERT_TRUE(end.losses.count("PESSOAS")) << end.closing;
  EXPECT_GT(end.losses.at("PESSOAS").fromOlderBackup, 0);
}

// Level 2 after a parent's data page was zeroed: the older backup is
// restored with the rows of the parent table only, and the salvage and the
// rows brought back from it give what a restore of every table gives.
TEST(OlderBackupRun, OnlyTheParentsRowsOfTheOlderBackupAreRestored) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  const auto pages = PageDamage::DataPages(*company.db, "PESSOAS");
  ASSERT_GT(pages.size(), 3u);
  PageDamage::ZeroPage(company.db->Path(), pages[1]);
  TestFolder other;
  for (const std::string name : {"EMPRESA.FDB", "ANTIGO.FBK"}) {
    PageDamage::Copy(folder.File(name), other.File(name));
  }

  const RunEnd partial = Repair(company.db->Path(), company.olderBackup);
  const RunEnd whole = Repair(other.File("EMPRESA.FDB"), other.File("ANTIGO.FBK"), true);
  ASSERT_EQ(1u, partial.restoredWithRows.size()) << partial.transcript;
  EXPECT_NE(std::string::npos, partial.restoredWithRows[0].find("de: PESSOAS;"))
      << partial.restoredWithRows[0];
  EXPECT_TRUE(whole.restoredWithRows.empty());
  ASSERT_FALSE(partial.repairedPath.empty()) << partial.closing;
  ASSERT_FALSE(whole.repairedPath.empty()) << whole.closing;
  EXPECT_EQ(ReadAll(FixtureDatabase(partial.repairedPath)),
            ReadAll(FixtureDatabase(whole.repairedPath)));
  ASSERT_EQ(partial.losses.size(), whole.losses.size());
  for (const auto& [table, loss] : whole.losses) {
    const TableLoss& other = partial.losses.at(table);
    EXPECT_EQ(loss.fromOlderBackup, other.fromOlderBackup) << table;
    EXPECT_EQ(loss.lost, other.lost) << table;
    EXPECT_EQ(loss.keys, other.keys) << table;
  }
  ExpectEveryLossNamed(company, partial);
}

// Rows added after the older backup, on a data page the damage zeroed: no
// source has them. The index of the copy still names them; they are counted
// lost, by key, and the run does not call itself a success.
TEST(OlderBackupRun, RowsAddedAfterTheBackupOnADestroyedPageAreCountedByKey) {
  TestFolder folder;
  Company company = MakeCompany(folder);
  company.db->Execute(
      FixtureDatabase::FillScript("insert into AVULSOS values (5001 + :i, 'DEPOIS ' || :i)", 150) +
      "commit;\n");
  company.healthy = ReadAll(*company.db);
  // The page that holds the last of them.
  const std::string bytes = FileDamage::ReadWhole(company.db->Path());
  std::uint32_t page = 0;
  for (const std::uint32_t candidate : PageDamage::DataPages(*company.db, "AVULSOS")) {
    if (bytes.substr(std::size_t{candidate} * 4096, 4096).find("DEPOIS 149") != std::string::npos) {
      page = candidate;
    }
  }
  ASSERT_NE(0u, page);
  PageDamage::ZeroPage(company.db->Path(), page);

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  const auto missing = ExpectEveryLossNamed(company, end);
  ASSERT_GT(missing.at("AVULSOS"), 0) << end.closing;
  const TableLoss& loss = end.losses.at("AVULSOS");
  EXPECT_TRUE(loss.known);
  EXPECT_EQ(missing.at("AVULSOS"), loss.lost);
  ASSERT_FALSE(loss.keys.empty());
  for (const std::string& key : loss.keys) {
    EXPECT_EQ(0u, key.find("ID=5")) << key;  // only rows the older backup lacks
  }
}

// A leaf of a table's key index zeroed, no row touched: the cut index
// cannot count, but every data page is whole, so nothing was destroyed and
// the run may say so.
TEST(OlderBackupRun, ADamagedKeyIndexAloneLosesNoRowAndSaysSo) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  const unsigned relation = static_cast<unsigned>(std::stoul(company.db->Value(
      "select rdb$relation_id from rdb$relations where rdb$relation_name = 'AVULSOS'")));
  const std::string bytes = FileDamage::ReadWhole(company.db->Path());
  std::uint32_t leaf = 0;
  for (std::size_t at = 0; at + 4096 <= bytes.size() && leaf == 0; at += 4096) {
    const auto byte = [&](std::size_t offset) {
      return static_cast<unsigned>(static_cast<unsigned char>(bytes[at + offset]));
    };
    // An index page (7) of AVULSOS at level 0 (bytes 28-29 and 33).
    if (byte(0) == 7 && (byte(28) | byte(29) << 8) == relation && byte(33) == 0) {
      leaf = static_cast<std::uint32_t>(at / 4096);
    }
  }
  ASSERT_NE(0u, leaf);
  PageDamage::ZeroPage(company.db->Path(), leaf);

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  const auto missing = ExpectEveryLossNamed(company, end);
  EXPECT_EQ(0, missing.at("AVULSOS"));
  EXPECT_EQ(0u, end.closing.find(kRepaired)) << end.closing;
}

// A parent's pointer page destroyed: the backup skips it and the table is
// rebuilt from the file's pages, with no failure of its own on the way.
TEST(OlderBackupRun, ZeroedParentPointerPageComesBackWholeFromThePages) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  PageDamage::ZeroPage(company.db->Path(), PageDamage::PointerPages(*company.db, "PESSOAS")[0]);

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  for (const Question& question : end.asked) {
    EXPECT_EQ(std::string::npos, question.text.find("Excetion")) << question.text;
  }
  // The accounts opened since the backup refer to people only the damaged
  // file has: the pages give every one of them back, in its newest version.
  const auto missing = ExpectEveryLossNamed(company, end);
  for (const auto& [table, count] : missing) {
    EXPECT_EQ(0, count) << table << "\n" << end.closing;
  }
  ASSERT_FALSE(end.repairedPath.empty());
  EXPECT_EQ(ReadAll(FixtureDatabase(end.repairedPath)), company.healthy);
  EXPECT_TRUE(ServerTools::Validate(end.repairedPath).Ok());
}

// Zeroed pages of a child table and of a table no key refers to: level 1
// repairs the file, and the rows the mend took come back from the older
// backup, which has every one of them.
TEST(OlderBackupRun, ZeroedChildAndUnreferencedPagesComeBackWhole) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  for (const char* table : {"ANOTACOES", "AVULSOS"}) {
    const auto pages = PageDamage::DataPages(*company.db, table);
    ASSERT_GT(pages.size(), 2u) << table;
    PageDamage::ZeroPage(company.db->Path(), pages[1]);
  }

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  EXPECT_TRUE(AskedFor(end, QuestionId::RowsFromBackup)) << end.closing;
  const auto missing = ExpectEveryLossNamed(company, end);
  EXPECT_EQ(0, missing.at("ANOTACOES"));
  EXPECT_EQ(0, missing.at("AVULSOS"));

  // Every file the run made belongs to the database's owner, so the server
  // opens each of them; the copy has the database's mode.
  struct stat database {};
  ASSERT_EQ(0, ::stat(company.db->Path().c_str(), &database));
  for (const auto& entry : fs::directory_iterator(folder.Path())) {
    struct stat made {};
    ASSERT_EQ(0, ::stat(entry.path().c_str(), &made));
    EXPECT_EQ(database.st_uid, made.st_uid) << entry.path();
    EXPECT_EQ(database.st_gid, made.st_gid) << entry.path();
  }
  struct stat copy {};
  ASSERT_EQ(0, ::stat(folder.File("EMPRESA (Copia).FDB").c_str(), &copy));
  EXPECT_EQ(database.st_mode & 07777, copy.st_mode & 07777);
}

// The file cut at 90 %: the backup leaves out every table it cannot read,
// and the rebuild fills them parents first although their names sort the
// other way round; whatever no source gives is counted, never called a
// success.
TEST(OlderBackupRun, FileCutFillsParentsFirstAndCountsTheRest) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  PageDamage::KeepPages(company.db->Path(), fs::file_size(company.db->Path()) / 4096 * 9 / 10);

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  for (const std::string& line : end.refusedRows) {
    EXPECT_EQ(std::string::npos, line.find("FOREIGN KEY")) << line;
  }
  // Every row the older backup has comes back; what the cut took of the
  // rows added since is named, counted where an index still counts it.
  ExpectEveryLossNamed(company, end);
  ASSERT_FALSE(end.repairedPath.empty());
  EXPECT_TRUE(ServerTools::Validate(end.repairedPath).Ok());
}

// Another company's backup of the same schema: the same keys hold other
// rows. The run says so and, unless the operator says Sim, takes nothing
// from it; the comparison goes into the log.
TEST(OlderBackupRun, AnotherCompanysBackupIsNotImportedWithoutConsent) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  TestFolder elsewhere;
  const Company other = MakeCompany(elsewhere);
  other.db->Execute(
      "update PESSOAS set NOME = 'OUTRA EMPRESA ' || ID;\n"
      "update CONTAS set VALOR = ID * 7;\n"
      "update ANOTACOES set TEXTO = 'OUTRA EMPRESA ' || ID;\n"
      "update AVULSOS set S = 'OUTRA EMPRESA ' || ID;\ncommit;\n");
  const std::string foreign = elsewhere.File("OUTRA.FBK");
  ASSERT_TRUE(ServerTools::Backup(other.db->Path(), foreign).Ok());
  const auto pages = PageDamage::DataPages(*company.db, "AVULSOS");
  ASSERT_GT(pages.size(), 2u);
  PageDamage::ZeroPage(company.db->Path(), pages[1]);

  const RunEnd end = Repair(company.db->Path(), foreign);
  EXPECT_TRUE(AskedFor(end, QuestionId::ForeignBackup)) << end.closing;
  EXPECT_FALSE(AskedFor(end, QuestionId::RowsFromBackup)) << end.closing;
  ASSERT_FALSE(end.repairedPath.empty()) << end.closing;
  const FixtureDatabase result(end.repairedPath);
  EXPECT_EQ("0", result.Value("select count(*) from AVULSOS where S starting with 'OUTRA'"));
  EXPECT_EQ(0u, end.closing.find(kWithLosses)) << end.closing;
}

// The header page or the transaction inventory destroyed: the server cannot
// open the file at all. The schema comes from the older backup, every row
// from the file's own pages, newest versions included; the result is whole,
// validated and online.
class UnreadableFile : public ::testing::TestWithParam<const char*> {};

TEST_P(UnreadableFile, IsRebuiltFromItsPagesWhole) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  const std::string damage = GetParam();
  std::uint32_t page = 0;  // the header
  if (damage == "inventario") {
    const std::uint32_t pageSize = PageDamage::PageSizeOf(company.db->Path());
    const std::string bytes = FileDamage::ReadWhole(company.db->Path());
    for (std::size_t at = pageSize; at + pageSize <= bytes.size(); at += pageSize) {
      if (bytes[at] == 3) {  // a transaction inventory page
        page = static_cast<std::uint32_t>(at / pageSize);
        break;
      }
    }
    ASSERT_NE(0u, page);
  }
  PageDamage::ZeroPage(company.db->Path(), page);
  const std::string damaged = FileDamage::ReadWhole(company.db->Path());

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  const auto missing = ExpectEveryLossNamed(company, end);
  for (const auto& [table, count] : missing) {
    EXPECT_EQ(0, count) << table << "\n" << end.closing;
  }
  // Rebuilt beside them: the operator's file and the copy are as they were.
  EXPECT_TRUE(FileDamage::ReadWhole(company.db->Path()) == damaged);
  EXPECT_TRUE(FileDamage::ReadWhole(folder.File("EMPRESA (Copia).FDB")) == damaged);
  ASSERT_FALSE(end.repairedPath.empty());
  const FixtureDatabase result(end.repairedPath);
  // The names changed since the older backup come in their new version.
  EXPECT_EQ(ReadAll(result), company.healthy);
  EXPECT_TRUE(ServerTools::Validate(end.repairedPath).Ok());
}

INSTANTIATE_TEST_SUITE_P(Damage, UnreadableFile, ::testing::Values("cabecalho", "inventario"),
                         [](const auto& info) { return std::string(info.param); });

// The page of RDB$RELATION_FIELDS that holds the user tables' columns
// zeroed: the server still opens the file, but no backup of it restores (its
// tables have no columns). The tables' columns come from the older backup,
// the rows from the file's own pages, by the formats the file still has.
TEST(OlderBackupRun, LostColumnsOfTheSystemTablesAreRebuiltFromThePages) {
  TestFolder folder;
  const Company company = MakeCompany(folder);
  const std::string bytes = FileDamage::ReadWhole(company.db->Path());
  std::vector<std::uint32_t> pages;
  for (const std::uint32_t page : PageDamage::DataPages(*company.db, "RDB$RELATION_FIELDS")) {
    const std::string content = bytes.substr(std::size_t{page} * 4096, 4096);
    if (content.find("PESSOA_ID") != std::string::npos ||
        content.find("CONTA_ID") != std::string::npos) {
      pages.push_back(page);
    }
  }
  ASSERT_FALSE(pages.empty());
  for (const std::uint32_t page : pages) {
    PageDamage::ZeroPage(company.db->Path(), page);
  }

  const RunEnd end = Repair(company.db->Path(), company.olderBackup);
  const auto missing = ExpectEveryLossNamed(company, end);
  for (const auto& [table, count] : missing) {
    EXPECT_EQ(0, count) << table << "\n" << end.closing;
  }
  ASSERT_FALSE(end.repairedPath.empty()) << end.transcript;
  EXPECT_NE(std::string::npos, end.repairedPath.find(" PAGINAS.FDB")) << end.repairedPath;
  // The rebuilt database is the whole repair: no level 2 after that restore.
  EXPECT_EQ(std::string::npos, end.transcript.find("ReportStep 7 ")) << end.transcript;
  const FixtureDatabase result(end.repairedPath);
  EXPECT_EQ(ReadAll(result), company.healthy);
  EXPECT_TRUE(ServerTools::Validate(end.repairedPath).Ok());
  // The failed restore, whose tables hold no row, is not left beside it.
  std::string failed = end.repairedPath;
  failed.erase(failed.find(" PAGINAS.FDB"), 8);
  EXPECT_FALSE(fs::exists(failed)) << failed;
}
