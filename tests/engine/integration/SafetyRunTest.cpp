// Whole runs against the running server in the situations that used to cost
// users their database: a disk that fills up during a restore, a restore that
// fails on more than foreign keys, a second run in the same minute, a link
// and a folder named like a database, another program attaching during the
// run, "Não" to the corrupt-backup question, a file that is no database.
// Each checks what the user's path holds afterwards, that some file still has
// the damaged database page for page, and what the closing message says.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/files/DerivedNames.h"
#include "engine/firebird/TConnection.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TRecoveryRun.h"
#include "engine/run/TThreadRecovery.h"
#include "support/DamagedFixture.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/NoticeHost.h"
#include "support/ServerLeftovers.h"
#include "support/ServerTools.h"
#include "support/SmallDisk.h"
#include "support/TestFolder.h"

using testsupport::DamagedFixture;
using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::ServerLeftovers;
using testsupport::ServerTools;
using testsupport::SmallDisk;
using testsupport::TestFolder;

namespace fs = std::filesystem;

namespace {

const char* const kRepaired = "O banco de dados foi corrigido com sucesso.";
// A page of AVULSOS zeroed with no older backup: its rows are gone, counted
// by the copy's index.
std::string AvulsosLost(std::size_t rows) {
  const std::string lost = std::to_string(rows);
  return "O banco de dados foi corrigido, mas " + lost +
         " registros não puderam ser recuperados:\rAVULSOS: " + lost + " perdidos";
}
const char* const kStillCorrupt = "O banco de dados continua corrompido.";
const char* const kNotADatabase =
    "O arquivo informado não é um banco de dados que o servidor consiga abrir.";
const char* const kInUse = "em uso";
const char* const kFilesMadeTitle = "Arquivos criados nesta execução:";
const char* const kReportTitle = "Relatório: ";

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool AnyContains(const std::vector<std::string>& texts, const std::string& part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::string& text) { return text.find(part) != text.npos; });
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> paths;
  for (const auto& entry : fs::directory_iterator(folder)) {
    paths.insert(entry.path().string());
  }
  return paths;
}

// The paths the closing message lists as made by the run, its report included.
std::set<std::string> ListedFiles(const std::string& closing) {
  std::set<std::string> files;
  const std::size_t title = closing.find(kFilesMadeTitle);
  std::istringstream lines(closing);
  bool listing = false;
  for (std::string line; std::getline(lines, line, '\r');) {
    if (line.starts_with(kReportTitle)) {
      files.insert(line.substr(std::strlen(kReportTitle)));
    } else if (listing && line.starts_with("/")) {
      files.insert(line);
    }
    listing = listing || (title != std::string::npos && line == kFilesMadeTitle);
  }
  return files;
}

// What appeared in `folder` since `before`, the test's own filler aside.
std::set<std::string> NewEntries(const std::string& folder, const std::set<std::string>& before) {
  std::set<std::string> added;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string path = entry.path().string();
    if (!before.contains(path) && !path.ends_with("ENCHIMENTO.BIN")) {
      added.insert(path);
    }
  }
  return added;
}

ino_t Inode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// The sound end of a run that did not repair: the user's file is the one
// given (same inode), attaches, and holds its rows as the mend left them; the
// copy has the damaged pages; the message lists exactly the files that
// appeared; the server holds nothing and no connection is left.
void ExpectDatabaseKeptAndNothingLeft(const DamagedFixture& fixture, const std::string& database,
                                      ino_t inode, const std::string& folder,
                                      const std::set<std::string>& before,
                                      const std::string& closing, bool mended = true) {
  EXPECT_EQ(inode, Inode(database)) << "the user's path no longer holds the file given";
  const FixtureDatabase db(database);
  for (const auto& [table, count] : fixture.CountsBefore()) {
    if (table == fixture.DamagedTable()) {
      if (mended) {
        EXPECT_EQ(fixture.DamagedTableRowsAfterMend(), db.Count(table)) << table;
      }
    } else {
      EXPECT_EQ(count, db.Count(table)) << table;
    }
  }
  EXPECT_TRUE(fixture.HoldsTheZeroedPage(database));
  const std::string copy = DatabaseStem(database) + " (Copia).FDB";
  EXPECT_TRUE(fixture.HasTheDamagedContent(copy)) << copy;

  EXPECT_EQ(NewEntries(folder, before), ListedFiles(closing)) << closing;
  EXPECT_EQ(std::vector<std::string>(), ServerLeftovers::WaitUntilNoneHeldUnder(folder));
  EXPECT_EQ(0, ServerLeftovers::ConnectionsOfThisProcess());
}

class SafetyRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    models_ = std::make_unique<TestFolder>("tessarine-safety-models");
    levelTwo_ = std::make_unique<DamagedFixture>(models_->Path(), DamagedFixture::Options{});
  }
  static void TearDownTestSuite() {
    levelTwo_.reset();
    models_.reset();
  }

  // Runs a whole repair; one that does not end in time is cancelled and fails.
  static void Run(NoticeHost& host, const std::string& database, const std::string& backup) {
    TThreadRecovery recovery(host, database, backup, TFirebirdSteps::Create);
    if (!recovery.WaitFor(std::chrono::minutes(2))) {
      recovery.Cancel();
      recovery.WaitFor(std::chrono::minutes(2));
      FAIL() << "the run did not end\n" << host.TranscriptText();
    }
  }

  static std::unique_ptr<TestFolder> models_;
  static std::unique_ptr<DamagedFixture> levelTwo_;
  TestFolder folder_;
};

std::unique_ptr<TestFolder> SafetyRun::models_;
std::unique_ptr<DamagedFixture> SafetyRun::levelTwo_;

// The disk fills up as the level-1 restore (step 6) or the final restore
// (step 10) begins: the run must stop there, never go on into level 2 nor
// put anything partial under the user's name.
class DiskFull : public SafetyRun, public ::testing::WithParamInterface<int> {};

TEST_P(DiskFull, DuringARestoreTheDatabaseStaysWhereItWas) {
  const int step = GetParam();
  SmallDisk disk(folder_.File("disco"), 48u << 20);
  if (!disk.Mounted()) {
    GTEST_SKIP() << "no small disk: " << disk.Refusal();
  }
  const std::string database = disk.File("EMPRESA.FDB");
  levelTwo_->PlaceAt(database);
  const ino_t inode = Inode(database);
  const auto before = Entries(disk.Path());

  NoticeHost host;
  host.RecordLogLines(false);
  host.OnCall("ReportStep " + std::to_string(step) + " 1", [&] { disk.FillLeaving(128 << 10); });
  Run(host, database, levelTwo_->OlderBackup());
  fs::remove(disk.File("ENCHIMENTO.BIN"));

  const std::string closing = host.ClosingMessage();
  EXPECT_EQ(0u, closing.find(kStillCorrupt)) << host.TranscriptText() << closing;
  const auto steps = host.Calls("ReportStep");
  if (step == 6) {
    EXPECT_TRUE(Has(steps, "ReportStep 6 2 20 Restaurado, mas com erro.")) << host.TranscriptText();
    EXPECT_TRUE(host.Calls("ReportStep 7").empty()) << host.TranscriptText();
    EXPECT_NE(std::string::npos,
              closing.find("A restauração falhou por um motivo que o nível 2 não corrige."))
        << closing;
  } else {
    EXPECT_FALSE(host.Calls("ReportStep 9 2 10 ").empty()) << host.TranscriptText();
    EXPECT_TRUE(Has(steps, "ReportStep 10 2 20 Restaurado, mas com erro."))
        << host.TranscriptText();
    EXPECT_TRUE(host.Calls("ReportStep 11").empty());
    EXPECT_FALSE(fs::exists(OldPathFor(database)));
    // The closing message itself says why and where the rows are, and the
    // half-written final restore is gone from the full disk.
    EXPECT_NE(std::string::npos, closing.find("No space left on device")) << closing;
    EXPECT_NE(std::string::npos,
              closing.find("Os registros recuperados estão no banco restaurado do nível 1: "))
        << closing;
    EXPECT_FALSE(fs::exists(NewDatabasePathFor(database)));
  }
  // The real reason reaches the operator.
  EXPECT_TRUE(AnyContains(host.Notices(), "No space left on device")) << host.TranscriptText();
  ExpectDatabaseKeptAndNothingLeft(*levelTwo_, database, inode, disk.Path(), before, closing);
}

INSTANTIATE_TEST_SUITE_P(Steps, DiskFull, ::testing::Values(6, 10),
                         [](const auto& info) { return "Step" + std::to_string(info.param); });

// Foreign-key violations and a duplicate in a unique constraint: level 2
// mends only the former, so the run must stop after the level-1 restore even
// though an older backup is at hand.
TEST_F(SafetyRun, RestoreFailingOnMoreThanForeignKeysNeverReachesLevelTwo) {
  DamagedFixture::Options options;
  options.duplicateUniqueCode = true;
  const DamagedFixture fixture(folder_.Path(), options);
  const TestFolder work;
  const std::string database = work.File("EMPRESA.FDB");
  fixture.PlaceAt(database);
  const ino_t inode = Inode(database);
  const auto before = Entries(work.Path());

  NoticeHost host;
  host.RecordLogLines(false);
  Run(host, database, fixture.OlderBackup());

  const std::string closing = host.ClosingMessage();
  EXPECT_TRUE(Has(host.Calls("ReportStep"), "ReportStep 6 2 20 Restaurado, mas com erro."))
      << host.TranscriptText();
  EXPECT_TRUE(host.Calls("ReportStep 7").empty()) << host.TranscriptText();
  EXPECT_TRUE(host.Calls("SetLevelRowsEnabled true 2").empty());
  EXPECT_EQ(0u, closing.find(kStillCorrupt)) << closing;
  EXPECT_NE(std::string::npos,
            closing.find("A restauração falhou por um motivo que o nível 2 não corrige."))
      << closing;
  // The reason the restore gave reaches the operator.
  std::vector<std::string> shown = host.Notices();
  EXPECT_TRUE(AnyContains(shown, "PRIMARY/UNIQUE")) << ::testing::PrintToString(shown);
  EXPECT_FALSE(fs::exists(work.File("EMPRESA-OLD.FDB")));
  EXPECT_FALSE(fs::exists(work.File("EMPRESA-TEMP.FDB")));
  ExpectDatabaseKeptAndNothingLeft(fixture, database, inode, work.Path(), before, closing);
}

// Two runs on one database in the same minute: the second picks the next
// free names and leaves every file of the first, the working copy above all,
// byte for byte as it was.
TEST_F(SafetyRun, SecondRunInTheSameMinuteKeepsEveryFileOfTheFirst) {
  DamagedFixture::Options options;
  options.damage = DamagedFixture::Damage::StandaloneTable;
  options.parentRows = 300;
  const DamagedFixture fixture(folder_.Path(), options);
  const TestFolder work;
  const std::string database = work.File("EMPRESA.FDB");
  fixture.PlaceAt(database);
  std::tm minute{};
  minute.tm_year = 2024 - 1900;
  minute.tm_mon = 4;
  minute.tm_mday = 7;
  minute.tm_hour = 9;
  minute.tm_min = 30;
  const auto runOnce = [&](NoticeHost& host) {
    TRecoveryContext context(host, database, "");
    TFirebirdSteps steps(context);
    TRecoveryRun run(context, steps, [&] { return minute; });
    run.Execute();
    return run.FilesMade();
  };

  NoticeHost first;
  first.RecordLogLines(false);
  const auto firstFiles = runOnce(first);
  ASSERT_EQ(0u, first.ClosingMessage().find(AvulsosLost(fixture.Report().lostKeys.size())))
      << first.TranscriptText();
  const std::vector<std::string> expectedFirst{work.File("EMPRESA (Copia).FDB"),
                                               work.File("EMPRESA 07-05-2024 09-30.fbk"),
                                               work.File("EMPRESA 07-05-2024 09-30.FDB")};
  for (const std::string& file : expectedFirst) {
    EXPECT_TRUE(Has(firstFiles, file)) << file;
  }
  std::map<std::string, std::string> firstBytes;
  for (const std::string& path : Entries(work.Path())) {
    if (path != database) {
      firstBytes[path] = FileDamage::ReadWhole(path);
    }
  }

  // The same database damaged again, repaired again within the minute.
  const std::size_t lostAgain =
      FileDamage::ZeroDataPage(FixtureDatabase(database), "AVULSOS", "ID", 3).lostKeys.size();
  const std::string damagedAgain = FileDamage::ReadWhole(database);
  NoticeHost second;
  second.RecordLogLines(false);
  const auto secondFiles = runOnce(second);
  const std::string restored = work.File("EMPRESA 07-05-2024 09-30-2.FDB");
  // The mend of the first run took the rows of the first page from this
  // file too; its index still names them.
  EXPECT_EQ(0u, second.ClosingMessage().find(
                    AvulsosLost(fixture.Report().lostKeys.size() + lostAgain) +
                    "\r\rBanco corrompido: " + database + "\rBanco corrigido: " + restored + "\r"))
      << second.ClosingMessage();
  for (const std::string& file : {work.File("EMPRESA (Copia)-2.FDB"),
                                  work.File("EMPRESA 07-05-2024 09-30-2.fbk"), restored}) {
    EXPECT_TRUE(Has(secondFiles, file)) << file;
  }

  for (const auto& [path, bytes] : firstBytes) {
    EXPECT_TRUE(FileDamage::ReadWhole(path) == bytes) << path << " changed";
  }
  EXPECT_TRUE(FileDamage::SamePagesApartFromBookkeeping(
      damagedAgain, FileDamage::ReadWhole(work.File("EMPRESA (Copia)-2.FDB"))));
  EXPECT_EQ(fixture.CountsBefore().at("CLIENTES"), FixtureDatabase(restored).Count("CLIENTES"));
  EXPECT_EQ(std::vector<std::string>(), ServerLeftovers::WaitUntilNoneHeldUnder(work.Path()));
}

// The user names a link that points into a folder whose name ends in ".fdb":
// every file the run makes lands next to the real file, the real file is the
// one set aside, and the link still leads to the (now repaired) database.
TEST_F(SafetyRun, LinkIntoAFolderNamedLikeADatabaseRepairsTheRealFile) {
  const std::string realFolder = folder_.File("dados.fdb");
  fs::create_directory(realFolder);
  TestFolder::GiveToServer(realFolder);
  const std::string real = realFolder + "/empresa.fdb";
  levelTwo_->PlaceAt(real);
  const ino_t inode = Inode(real);
  const std::string link = folder_.File("ATALHO.FDB");
  fs::create_symlink(real, link);
  const auto outside = Entries(folder_.Path());

  NoticeHost host;
  host.RecordLogLines(false);
  Run(host, link, levelTwo_->OlderBackup());

  const std::string old = realFolder + "/empresa-OLD.FDB";
  EXPECT_EQ(0u, host.ClosingMessage().find(std::string(kRepaired) + "\r\rBanco corrompido: " + old +
                                           "\rBanco corrigido: " + real + "\r"))
      << host.TranscriptText();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(real, fs::read_symlink(link).string());
  EXPECT_EQ(outside, Entries(folder_.Path()));  // nothing beside the link
  EXPECT_EQ(inode, Inode(old));
  EXPECT_TRUE(levelTwo_->HoldsTheZeroedPage(old));
  EXPECT_TRUE(levelTwo_->HasTheDamagedContent(realFolder + "/empresa (Copia).FDB"));
  const FixtureDatabase repaired(link);
  EXPECT_EQ(levelTwo_->CountsBefore().at("PEDIDOS"), repaired.Count("PEDIDOS"));
  EXPECT_EQ("0", repaired.Value("select count(*) from PEDIDOS p where not exists"
                                " (select 1 from CLIENTES c where c.ID = p.CLIENTE_ID)"));
  EXPECT_EQ(std::vector<std::string>(), ServerLeftovers::WaitUntilNoneHeldUnder(folder_.Path()));
}

// Another program attaches after step 1 and commits a row. Whether it comes
// before the validation (which the server then refuses) or before the final
// swap, the run must not take the database away from under it: the user's
// path keeps the database with the new row.
class LateAttachment : public SafetyRun, public ::testing::WithParamInterface<int> {};

TEST_P(LateAttachment, KeepsTheDatabaseAndTheRowItWrote) {
  const int step = GetParam();
  const std::string database = folder_.File("EMPRESA.FDB");
  levelTwo_->PlaceAt(database);
  const ino_t inode = Inode(database);
  const auto before = Entries(folder_.Path());

  TConnection other;
  NoticeHost host;
  host.RecordLogLines(false);
  host.OnCall("ReportStep " + std::to_string(step) + " 1", [&] {
    other.SetDatabasePath(database);
    other.Database().Open();
    TIBQuery& query = other.Query();
    query.SQL().SetText("insert into AVULSOS (ID, DESCRICAO) values (99001, 'de outro programa')");
    query.ExecQuery();
    other.Transaction().Commit();
  });
  Run(host, database, levelTwo_->OlderBackup());

  const std::string closing = host.ClosingMessage();
  EXPECT_EQ(std::string::npos, closing.find(kRepaired)) << closing;
  EXPECT_TRUE(host.Calls("ReportStep 11").empty()) << host.TranscriptText();
  EXPECT_TRUE(AnyContains(host.Notices(), "secondary server attachments cannot validate"))
      << host.TranscriptText();
  other.Database().Close();
  EXPECT_EQ("1", FixtureDatabase(database).Value("select count(*) from AVULSOS where ID = 99001"));
  EXPECT_FALSE(fs::exists(OldPathFor(database)));
  const FixtureDatabase db(database);
  EXPECT_EQ(levelTwo_->CountsBefore().at("PEDIDOS"), db.Count("PEDIDOS"));
  EXPECT_EQ(inode, Inode(database));
  EXPECT_EQ(NewEntries(folder_.Path(), before), ListedFiles(closing)) << closing;
  EXPECT_EQ(std::vector<std::string>(), ServerLeftovers::WaitUntilNoneHeldUnder(folder_.Path()));
  EXPECT_EQ(0, ServerLeftovers::ConnectionsOfThisProcess());
}

INSTANTIATE_TEST_SUITE_P(Steps, LateAttachment, ::testing::Values(2),
                         [](const auto& info) { return "AtStep" + std::to_string(info.param); });

// From the mend on nobody else gets in: a program that tries to write while
// level 2 backs up is refused by the server, the repair ends with the
// database swapped in, and the database is open to everyone afterwards.
TEST_F(SafetyRun, ProgramTryingToWriteDuringLevelTwoIsKeptOut) {
  const std::string database = folder_.File("EMPRESA.FDB");
  levelTwo_->PlaceAt(database);

  std::string refusal;
  NoticeHost host;
  host.RecordLogLines(false);
  host.OnCall("ReportStep 9 1", [&] {
    try {
      TConnection other;
      other.SetDatabasePath(database);
      other.Database().Open();
      other.Database().Close();
    } catch (const std::exception& error) {
      refusal = error.what();
    }
  });
  Run(host, database, levelTwo_->OlderBackup());

  EXPECT_NE(std::string::npos, refusal.find("shutdown")) << refusal;
  const std::string closing = host.ClosingMessage();
  EXPECT_EQ(0u, closing.find("O banco de dados foi corrigido")) << host.TranscriptText();
  EXPECT_TRUE(fs::exists(OldPathFor(database)));
  for (const std::string& path : {database, OldPathFor(database)}) {
    const auto online = ServerTools::BringOnline(path);
    EXPECT_NE(std::string::npos, online.output.find("Target shutdown mode is invalid"))
        << path << ": " << online.output;
  }
  EXPECT_EQ(0, ServerLeftovers::ConnectionsOfThisProcess());
}

// "Não" to "O backup informado está corrompido…" ends the salvage once: no
// loop, no swap, the database where it was.
TEST_F(SafetyRun, NoToTheCorruptBackupQuestionEndsTheRunOnce) {
  const std::string database = folder_.File("EMPRESA.FDB");
  levelTwo_->PlaceAt(database);
  const ino_t inode = Inode(database);
  const std::string corrupt = folder_.File("CORROMPIDO.FBK");
  FileDamage::CorruptedBackupCopy(levelTwo_->OlderBackup(), corrupt);
  const auto before = Entries(folder_.Path());

  NoticeHost host;
  host.RecordLogLines(false);
  host.Answer(MessageAnswer::No, "O backup informado está corrompido.");
  Run(host, database, corrupt);

  EXPECT_EQ(1u, host.Questions().size()) << host.TranscriptText();
  EXPECT_TRUE(Has(host.Notices(), "Nenhum backup encontrado.")) << host.TranscriptText();
  EXPECT_TRUE(Has(host.Calls("ReportStep"),
                  "ReportStep 8 2 20 Não foi possível recuperar os dados necessários"));
  EXPECT_TRUE(host.Calls("ReportStep 9").empty());
  const std::string closing = host.ClosingMessage();
  EXPECT_EQ(0u, closing.find(kStillCorrupt)) << closing;
  EXPECT_EQ(0u, host.UnusedAnswers());
  EXPECT_FALSE(fs::exists(OldPathFor(database)));
  ExpectDatabaseKeptAndNothingLeft(*levelTwo_, database, inode, folder_.Path(), before, closing);
}

// Files the server cannot open as a database: the run says so, names the
// file, changes nothing and makes nothing; it never calls it "em uso".
struct NotADatabaseCase {
  const char* name;
  std::string (*bytes)(const std::string& realDatabase);
};

class NotADatabase : public SafetyRun, public ::testing::WithParamInterface<NotADatabaseCase> {};

TEST_P(NotADatabase, IsReportedAsSuchAndLeftAlone) {
  const std::string database = folder_.File("PLANILHA.FDB");
  {
    levelTwo_->PlaceAt(folder_.File("MODELO.FDB"));
    const std::string content = GetParam().bytes(folder_.File("MODELO.FDB"));
    fs::remove(folder_.File("MODELO.FDB"));
    std::ofstream(database, std::ios::binary) << content;
    TestFolder::GiveToServer(database);
  }
  const std::string bytes = FileDamage::ReadWhole(database);
  const auto before = Entries(folder_.Path());

  NoticeHost host;
  Run(host, database, "");

  const std::string closing = host.ClosingMessage();
  EXPECT_EQ(0u, closing.find(kNotADatabase)) << closing;
  EXPECT_NE(std::string::npos, closing.find(database)) << closing;
  EXPECT_EQ(std::string::npos, closing.find(kInUse)) << closing;
  EXPECT_TRUE(host.Calls("ReportStep 2").empty()) << host.TranscriptText();
  EXPECT_EQ(bytes, FileDamage::ReadWhole(database));
  // Nothing made but the run's report, which the message names.
  const auto added = NewEntries(folder_.Path(), before);
  EXPECT_EQ(added, ListedFiles(closing)) << closing;
  EXPECT_LE(added.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(), ServerLeftovers::WaitUntilNoneHeldUnder(folder_.Path()));
}

std::string TextOf(std::size_t size) {
  std::string text;
  while (text.size() < size) {
    text += "Nome;Cidade;Saldo\nJoao;Campinas;10,50\n";
  }
  text.resize(size);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, NotADatabase,
    ::testing::Values(NotADatabaseCase{"LongText",
                                       [](const std::string&) { return TextOf(23 * 1024); }},
                      NotADatabaseCase{"ShortText", [](const std::string&) { return TextOf(30); }},
                      NotADatabaseCase{"ZeroedHeader",
                                       [](const std::string& real) {
                                         std::string bytes = FileDamage::ReadWhole(real);
                                         std::fill(bytes.begin(),
                                                   bytes.begin() + FileDamage::kPageSize, '\0');
                                         return bytes;
                                       }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
