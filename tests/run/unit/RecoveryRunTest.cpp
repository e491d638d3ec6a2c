// The recovery run with scripted step routines and a scripted front end: every
// verdict, every stop, and what the run shows on the way.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "engine/files/DerivedNames.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TRecoveryRun.h"
#include "fbaccess/EIBInterBaseError.h"
#include "support/ScriptedHost.h"
#include "support/ScriptedSteps.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::tm LocalTime(int year, int month, int day, int hour, int minute) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  return when;
}

const char kViolationClientes[] =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_PEDIDOS_CLIENTES\" on table "
    "\"PEDIDOS\" ";
const char kViolationProdutos[] =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"INTEG_5\" on table \"ITENS\" ";

const char kFinished[] = "gbak:finishing, closing, and going home";

const char kCorrected[] = "O banco de dados foi corrigido com sucesso.\r\rBanco corrompido: ";
const char kNotValidated[] = "AskUser Information Ok O banco de dados ainda não foi validade.";
const char kInUse[] =
    "AskUser Information Ok O banco de dados estava em uso e não pôde ser validado.";
const char kNoErrors[] = "AskUser Information Ok O banco de dados informado não possui erros.";
const char kStillCorrupt[] = "AskUser Information Ok O banco de dados continua corrompido.";
const char kReportNotWritten[] = "\r\rO relatório desta execução não pôde ser gravado: ";

// A folder of its own under /tmp, removed with its content.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/tessarine-run-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

TInconsistency Record(const std::string& table) {
  TInconsistency record;
  record.TableName = table;
  record.KeyFields = {"ID"};
  record.MissingKeys = {"17"};
  return record;
}

class RecoveryRunTest : public ::testing::Test {
 protected:
  void UseDatabase(const std::string& databasePath, const std::string& backupPath = "") {
    context_ = std::make_unique<TRecoveryContext>(host_, databasePath, backupPath);
    steps_ = std::make_unique<ScriptedSteps>(*context_);
  }

  ScriptedSteps& Steps() {
    if (!steps_) {
      UseDatabase(db_);
    }
    return *steps_;
  }

  // Runs the whole recovery at 09:05 on 1 February 2027.
  void Execute(std::tm when = LocalTime(2027, 2, 1, 9, 5)) {
    Steps();
    run_ = std::make_unique<TRecoveryRun>(*context_, *steps_, [when] { return when; });
    run_->Execute();
    EXPECT_EQ(steps_->UnusedAnswers(), 0u) << "scripted routine answers left";
    EXPECT_EQ(host_.UnusedAnswers(), 0u) << "scripted user answers left";
  }

  // Scripts level 1 up to a restore that fails with the two violation lines.
  // A damaged database through steps 1 to 5: validation finds errors, the
  // mend and the backup work.
  void ScriptUpToTheBackup() {
    Steps().Script("acessoExclusivo", true);
    Steps().Script("doCopy", true);
    Steps().Script("doValidate", false);
    Steps().Script("doMend", true);
    Steps().Script("doBackup", true);
  }

  void ScriptLevel1WithViolations() {
    ScriptUpToTheBackup();
    Steps().Script("doRestore", ScriptedSteps::WritesLog(
                                    {"gbak:restoring data for table PEDIDOS", kViolationClientes,
                                     kViolationProdutos, kViolationClientes, kFinished},
                                    false));
  }

  // Scripts a whole level-2 repair on the real file `db` up to step 10; the
  // final restore writes "restored pages" into the "-NOVO" file.
  void ScriptLevelTwo(const std::string& db, bool finalRestoreWorks) {
    UseDatabase(db);
    ScriptLevel1WithViolations();
    Steps().Script("bringOnline", true);
    Steps().ScriptRecord(Record("CLIENTES"));
    Steps().ScriptRecord(std::nullopt);
    Steps().Script("doCopyDataFromOldBackup", true);
    Steps().Script("doBackup", true);
    Steps().Script("doRestore", ScriptedSteps::Action([db, finalRestoreWorks](TRecoveryContext&) {
                     // The restore never lands on the database's own name.
                     EXPECT_EQ(ReadFile(db), "corrupt pages");
                     WriteFile(NewDatabasePathFor(db), "restored pages");
                     return finalRestoreWorks;
                   }));
    if (finalRestoreWorks) {
      Steps().Script("bringOnline", true);
    }
  }

  std::vector<std::string> Reports() const { return host_.Calls("ReportStep "); }
  std::string LastLine() const { return host_.Transcript().back(); }

  const std::string db_ = "/srv/dados/empresa.fdb";
  const std::string copy_ = "/srv/dados/empresa (Copia).FDB";
  const std::string backup_ = "/srv/dados/empresa 01-02-2027 09-05.fbk";
  const std::string restored_ = "/srv/dados/empresa 01-02-2027 09-05.FDB";
  ScriptedHost host_;
  std::unique_ptr<TRecoveryContext> context_;
  std::unique_ptr<ScriptedSteps> steps_;
  std::unique_ptr<TRecoveryRun> run_;
};

// --- level 1 -------------------------------------------------------------

TEST_F(RecoveryRunTest, OthersAttachedEndsTheRunAsInUse) {
  Steps().Script("acessoExclusivo", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(
      host_.Transcript(),
      ElementsAre("BeginRunDisplay", "ReportStep 1 1 0 ",
                  "WriteLog -1 Login: usuário sysdba (conta padrão do servidor de "
                  "desenvolvimento)",
                  "ReportStep 1 2 20 Não foi possível obter acesso exlusivo.", "EndRunDisplay",
                  // No folder /srv/dados here: the report says why it is missing.
                  ::testing::StartsWith(std::string(kInUse) + kReportNotWritten)));
  EXPECT_EQ(run_->Verdict(), RunVerdict::InUse);
}

TEST_F(RecoveryRunTest, AFailedCopyStopsBeforeAnythingChangesTheDatabase) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(), ElementsAre("acessoExclusivo", "doCopy " + db_ + " " + copy_));
  EXPECT_THAT(Reports(), ::testing::Contains(
                             "ReportStep 2 2 20 Não foi possível realizar a cópia de segurança."));
  EXPECT_EQ(run_->Verdict(), RunVerdict::NotValidated);
  EXPECT_TRUE(LastLine().starts_with(kNotValidated)) << LastLine();
  EXPECT_EQ(host_.Questions().size(), 1u);  // only the closing message
}

TEST_F(RecoveryRunTest, CleanValidationGreysRowsFourToSixAndEnds) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(Reports(),
              ElementsAre("ReportStep 1 1 0 ", "ReportStep 1 2 10 Acesso obtido.",
                          "ReportStep 2 1 0 ", "ReportStep 2 2 10 Cópia em: empresa (Copia).FDB",
                          "ReportStep 3 1 0 ", "ReportStep 3 2 10 Banco não possui erros.",
                          "ReportStep 4 0 0 ", "ReportStep 5 0 0 ", "ReportStep 6 0 0 "));
  EXPECT_EQ(run_->Verdict(), RunVerdict::NoErrors);
  EXPECT_TRUE(LastLine().starts_with(kNoErrors));
}

TEST_F(RecoveryRunTest, SuccessfulLevelOneRestoreEndsCorrectedWithTheRunsNames) {
  ScriptUpToTheBackup();
  Steps().Script("doRestore", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(),
              ElementsAre("acessoExclusivo", "doCopy " + db_ + " " + copy_, "doValidate " + db_,
                          "doMend", "doBackup " + db_ + " " + backup_ + " 5",
                          "doRestore " + backup_ + " " + restored_ + " 6"));
  EXPECT_THAT(LastLine(),
              ::testing::StartsWith("AskUser Information Ok " + std::string(kCorrected) + db_ +
                                    "\rBanco corrigido: " + restored_ + kReportNotWritten));
  EXPECT_EQ(run_->Verdict(), RunVerdict::Repaired);
}

TEST_F(RecoveryRunTest, TakenNamesAreNeverReusedAndTheFirstFreeVariantIsTaken) {
  TempFolder folder;
  const std::string db = folder.File("Empresa.Fdb");
  WriteFile(db, "corrupt pages");
  WriteFile(folder.File("Empresa (Copia).FDB"), "an earlier pristine copy");
  WriteFile(folder.File("Empresa 01-02-2027 09-05.FDB"), "an earlier run's result");
  UseDatabase(db);
  ScriptUpToTheBackup();
  Steps().Script("doRestore", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(steps_->Calls()[1], "doCopy " + db + " " + folder.File("Empresa (Copia)-2.FDB"));
  EXPECT_EQ(steps_->Calls()[4],
            "doBackup " + db + " " + folder.File("Empresa 01-02-2027 09-05-2.fbk") + " 5");
  EXPECT_EQ(steps_->Calls()[5], "doRestore " + folder.File("Empresa 01-02-2027 09-05-2.fbk") + " " +
                                    folder.File("Empresa 01-02-2027 09-05-2.FDB") + " 6");
  EXPECT_EQ(ReadFile(folder.File("Empresa (Copia).FDB")), "an earlier pristine copy");
  EXPECT_EQ(ReadFile(folder.File("Empresa 01-02-2027 09-05.FDB")), "an earlier run's result");
}

TEST_F(RecoveryRunTest, ARestoreThatFailedForAnotherReasonNeverReachesLevelTwo) {
  for (const std::vector<std::string>& output : std::vector<std::vector<std::string>>{
           // no space left while the restore wrote, after a foreign key failed too
           {kViolationClientes, "gbak: ERROR:    Foreign key reference target does not exist ",
            "gbak: ERROR:I/O error during \"write\" operation for file \"/srv/x.FDB\"",
            "gbak: ERROR:    Error while trying to write to file",
            "gbak: ERROR:    No space left on device", kFinished},
           // damaged metadata
           {"gbak: ERROR:table RDB$FIELDS is not defined", kFinished},
           // a table whose columns were lost, and no older backup to give them
           {"gbak: ERROR:table CLIENTES is not defined", kFinished},
           // violations, but the backup was not read to its end
           {kViolationClientes}}) {
    ScriptedHost host;
    TRecoveryContext context(host, db_, "");
    ScriptedSteps steps(context);
    steps.Script("acessoExclusivo", true);
    steps.Script("doCopy", true);
    steps.Script("doValidate", false);
    steps.Script("doMend", true);
    steps.Script("doBackup", true);
    steps.Script("doRestore", ScriptedSteps::WritesLog(output, false));
    host.Answer(MessageAnswer::Ok);
    TRecoveryRun run(context, steps, [] { return LocalTime(2027, 2, 1, 9, 5); });
    run.Execute();

    EXPECT_EQ(steps.Calls().size(), 6u) << host.TranscriptText();
    EXPECT_EQ(run.Verdict(), RunVerdict::StillCorrupt);
    EXPECT_TRUE(host.Calls("ReportStep 7").empty());
    EXPECT_TRUE(host.Calls("SetLevelRowsEnabled true 2").empty());
    EXPECT_NE(run.ClosingText().find("o nível 2 não corrige"), std::string::npos);
    EXPECT_EQ(output[0].find("CLIENTES is not defined") != std::string::npos,
              run.ClosingText().find("execute de novo informando o backup") != std::string::npos)
        << run.ClosingText();
    // A full disk is named in our words, above the server's lines.
    const std::size_t words = run.ClosingText().find("O disco ficou cheio");
    EXPECT_EQ(words == std::string::npos, output.size() < 4) << run.ClosingText();
    if (words != std::string::npos) {
      EXPECT_LT(words, run.ClosingText().find("I/O error during"));
    }
  }
}

TEST_F(RecoveryRunTest, OnlyForeignKeyLinesAndTheirDetailsLeadToLevelTwo) {
  EXPECT_TRUE(TRecoveryRun::FailedOnForeignKeysOnly(
      {"gbak:restoring data for table PEDIDOS", kViolationClientes,
       "gbak: ERROR:    Foreign key reference target does not exist ",
       "gbak: ERROR:    Problematic key value is (\"CLIENTE_ID\" = 17) ",
       "gbak:Database is not online due to failure to activate one or more indices. ", kFinished}));
  EXPECT_FALSE(TRecoveryRun::FailedOnForeignKeysOnly({kFinished}));
  EXPECT_FALSE(TRecoveryRun::FailedOnForeignKeysOnly(
      {"gbak: ERROR:    detail without a line", kViolationClientes, kFinished}));
  EXPECT_FALSE(TRecoveryRun::FailedOnForeignKeysOnly(
      {"gbak: ERROR:violation of PRIMARY or UNIQUE KEY constraint \"PK_X\"", kFinished}));
}

TEST_F(RecoveryRunTest, ExceptionsInRoutinesCountAsNoAndAreShown) {
  Steps().Script("acessoExclusivo", true);
  Steps().ScriptThrow("doCopy", "disk full");
  host_.Answer(MessageAnswer::Ok, "doCopy() -> Excetion: disk full");
  host_.Answer(MessageAnswer::Ok);
  Execute();
  EXPECT_EQ(run_->Verdict(), RunVerdict::NotValidated);
}

TEST_F(RecoveryRunTest, ARefusedLoginAsksForCredentialsAndTriesAgain) {
  Steps().Script("acessoExclusivo", ScriptedSteps::Action([](TRecoveryContext&) -> bool {
                   throw EIBInterBaseError(-902, 335544472,
                                           "Your user name and password are not defined");
                 }));
  Steps().Script("acessoExclusivo", ScriptedSteps::Action([](TRecoveryContext& context) {
                   EXPECT_EQ(context.Credentials().User(), "TECNICO");
                   return false;
                 }));
  host_.ScriptCredentials(TCredentials("TECNICO", "segredo"));
  host_.Answer(MessageAnswer::Ok);
  Execute();
  EXPECT_EQ(host_.Calls("AskCredentials sysdba").size(), 1u);
  EXPECT_EQ(run_->Verdict(), RunVerdict::InUse);
  EXPECT_EQ(host_.TranscriptText().find("segredo"), std::string::npos);
}

TEST_F(RecoveryRunTest, ThreeRefusedLoginsEndTheRunWithTheirOwnReason) {
  for (int i = 0; i < 3; ++i) {
    Steps().Script("acessoExclusivo", ScriptedSteps::Action([](TRecoveryContext&) -> bool {
                     throw EIBInterBaseError(-902, 335544472,
                                             "Your user name and password are not defined");
                   }));
  }
  host_.ScriptCredentials(TCredentials("a", "1"));
  host_.ScriptCredentials(TCredentials("b", "2"));
  host_.Answer(MessageAnswer::Ok);
  Execute();
  EXPECT_EQ(host_.Calls("AskCredentials").size(), 2u);
  EXPECT_EQ(run_->Verdict(), RunVerdict::LoginRefused);
  EXPECT_NE(LastLine().find("O servidor recusou o login do usuário \"b\""), std::string::npos);
}

TEST_F(RecoveryRunTest, AFileThatIsNotADatabaseIsNamedAsSuch) {
  Steps().Script("acessoExclusivo", ScriptedSteps::Action([](TRecoveryContext&) -> bool {
                   throw EIBInterBaseError(-902, 335544323,
                                           "file /srv/dados/empresa.fdb is not a valid database");
                 }));
  host_.Answer(MessageAnswer::Ok);
  Execute();
  EXPECT_EQ(run_->Verdict(), RunVerdict::NotADatabase);
  EXPECT_THAT(Reports(),
              ::testing::Contains("ReportStep 1 2 20 Não foi possível abrir o banco de dados."));
  EXPECT_EQ(LastLine().find("em uso"), std::string::npos);
}

TEST_F(RecoveryRunTest, AFileTheServerWouldLoopOnGoesStraightToTheBackup) {
  TTriage::Result broken;
  broken.verdict = TTriage::Verdict::BrokenPageInventory;
  broken.reason = "A página 1 não é um inventário de páginas.";
  Steps().SetTriage(broken);
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(), ElementsAre("acessoExclusivo", "doCopy " + db_ + " " + copy_,
                                           "doBackup " + db_ + " " + backup_ + " 5",
                                           "doRestore " + backup_ + " " + restored_ + " 6"));
  EXPECT_THAT(Reports(), ::testing::IsSupersetOf(
                             {"ReportStep 3 2 20 Validação não executada: arquivo danificado",
                              "ReportStep 4 2 20 Não executado; segue para o backup"}));
  EXPECT_EQ(run_->Verdict(), RunVerdict::Repaired);
}

TEST_F(RecoveryRunTest, TablesTheBackupSkippedAreRebuiltBeforeAnythingElseLooksAtThem) {
  ScriptLevel1WithViolations();
  Steps().SetSkippedTables({"CLIENTES"});
  Steps().Script("bringOnline", true);   // before the rebuild
  Steps().Script("bringOnline", false);  // step 7: stop there
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(), ::testing::IsSupersetOf({"bringOnline " + restored_,
                                                        "rebuildTables CLIENTES " + restored_}));
  // The violations were read from the restore's output, before the rebuild.
  EXPECT_THAT(run_->ConstraintLines(), ElementsAre(kViolationClientes, kViolationProdutos));
}

TEST_F(RecoveryRunTest, ARebuildThatFailsNeverEndsRepaired) {
  ScriptUpToTheBackup();
  Steps().Script("doRestore", true);
  Steps().SetSkippedTables({"CLIENTES"});
  Steps().Script("rebuildTables", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(run_->Verdict(), RunVerdict::StillCorrupt);
  EXPECT_THAT(Reports(), ::testing::Contains("ReportStep 6 2 20 Não foi possível refazer as "
                                             "tabelas que o backup pulou."));
  EXPECT_NE(LastLine().find("não puderam ser refeitas"), std::string::npos) << LastLine();
}

// --- level 2 -------------------------------------------------------------

TEST_F(RecoveryRunTest, LevelTwoSwapsNamesOnlyAfterTheFinalRestoreOpens) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "corrupt pages");
  WriteFile(folder.File("empresa-OLD.FDB"), "an earlier run's original");
  ScriptLevelTwo(db, true);
  Steps().Script("doValidate", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  const std::string stem = folder.File("empresa 01-02-2027 09-05");
  const std::string old = folder.File("empresa-OLD-2.FDB");
  EXPECT_THAT(steps_->Calls(),
              ::testing::IsSupersetOf(
                  {"doBackup " + stem + ".FDB " + stem + " NIVEL02.fbk 9",
                   "doRestore " + stem + " NIVEL02.fbk " + folder.File("empresa-NOVO.FDB") + " 10",
                   "bringOnline " + folder.File("empresa-NOVO.FDB"),
                   "canAttach " + folder.File("empresa-NOVO.FDB"), "otherAttachments " + db,
                   "doValidate " + db}));
  EXPECT_EQ(ReadFile(db), "restored pages");
  EXPECT_EQ(ReadFile(old), "corrupt pages");
  EXPECT_EQ(ReadFile(folder.File("empresa-OLD.FDB")), "an earlier run's original");
  EXPECT_FALSE(std::filesystem::exists(folder.File("empresa-NOVO.FDB")));
  EXPECT_EQ(LastLine(), "AskUser Information Ok " + std::string(kCorrected) + old +
                            "\rBanco corrigido: " + db + "\r\rRelatório: " + stem + ".txt");
  EXPECT_EQ(run_->Verdict(), RunVerdict::Repaired);
}

TEST_F(RecoveryRunTest, AFailedFinalRestoreLeavesTheDatabaseWhereItWas) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "corrupt pages");
  ScriptLevelTwo(db, false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(ReadFile(db), "corrupt pages");
  EXPECT_FALSE(std::filesystem::exists(folder.File("empresa-OLD.FDB")));
  EXPECT_EQ(run_->Verdict(), RunVerdict::StillCorrupt);
  EXPECT_NE(LastLine().find("O banco de dados informado continua em: " + db), std::string::npos);
  EXPECT_NE(LastLine().find(folder.File("empresa-NOVO.FDB")), std::string::npos);
}

TEST_F(RecoveryRunTest, SomeoneWhoAttachedMeanwhileKeepsTheNamesFromChanging) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "corrupt pages");
  ScriptLevelTwo(db, true);
  Steps().ScriptOtherAttachments("127.0.0.1/4711 [/usr/bin/erp]");
  host_.Answer(MessageAnswer::Ok, "127.0.0.1/4711 [/usr/bin/erp]");
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(ReadFile(db), "corrupt pages");
  EXPECT_EQ(ReadFile(folder.File("empresa-NOVO.FDB")), "restored pages");
  EXPECT_FALSE(std::filesystem::exists(folder.File("empresa-OLD.FDB")));
  EXPECT_EQ(run_->Verdict(), RunVerdict::StillCorrupt);
}

TEST_F(RecoveryRunTest, ViolationsWithoutOrphansStopBeforeStepEight) {
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(std::nullopt);
  Steps().ScriptRecord(std::nullopt);
  host_.Answer(MessageAnswer::Ok);
  Execute();
  EXPECT_TRUE(host_.Calls("ReportStep 8").empty());
  EXPECT_EQ(run_->Verdict(), RunVerdict::StillCorrupt);
}

// --- stops ---------------------------------------------------------------

// A front end that cancels when a step of its choice starts.
class CancellingHost : public ScriptedHost {
 public:
  explicit CancellingHost(std::string at) : at_(std::move(at)) {}
  void Notify(const RunEvent& event) override {
    ScriptedHost::Notify(event);
    if (Line(event).starts_with(at_ + " ")) {
      throw ERunAborted(AbortReason::Cancelled);
    }
  }

 private:
  std::string at_;
};

TEST(RecoveryRunStops, ACancelMarksTheCutStepAndSaysSo) {
  CancellingHost host("ReportStep 3 1");
  TRecoveryContext context(host, "/srv/dados/empresa.fdb", "");
  ScriptedSteps steps(context);
  steps.Script("acessoExclusivo", true);
  steps.Script("doCopy", true);
  host.Answer(MessageAnswer::Ok);
  TRecoveryRun run(context, steps, [] { return LocalTime(2027, 2, 1, 9, 5); });
  run.Execute();

  EXPECT_TRUE(run.Aborted());
  EXPECT_EQ(run.Verdict(), RunVerdict::Cancelled);
  EXPECT_THAT(host.Calls("ReportStep 3"),
              ElementsAre("ReportStep 3 1 0 ", "ReportStep 3 2 30 Cancelado"));
  EXPECT_TRUE(
      host.Transcript().back().starts_with("AskUser Information Ok A execução foi cancelada."));
  EXPECT_NE(host.Transcript().back().find("/srv/dados/empresa (Copia).FDB"), std::string::npos);
}

}  // namespace
