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

#include "engine/TRecoveryRun.h"
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

const char kCorrected[] = "O banco de dados foi corrigido com sucesso.\r\rBanco corrompido: ";
const char kNotValidated[] = "AskUser Information Ok O banco de dados ainda não foi validade.";
const char kInUse[] =
    "AskUser Information Ok O banco de dados estava em uso e não pôde ser validado.";
const char kNoErrors[] = "AskUser Information Ok O banco de dados informado não possui erros.";
const char kStillCorrupt[] = "AskUser Information Ok O banco de dados continua corrompido.";

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
  void ScriptLevel1WithViolations() {
    Steps().Script("acessoExclusivo", true);
    Steps().Script("doCopy", true);
    Steps().Script("doValidate", false);
    Steps().Script("doMend", true);
    Steps().Script("doBackup", true);
    Steps().Script("doRestore", ScriptedSteps::WritesLog(
                                    {"gbak:restoring data for table PEDIDOS", kViolationClientes,
                                     kViolationProdutos, kViolationClientes, "gbak:finishing"},
                                    false));
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

TEST_F(RecoveryRunTest, NoExclusiveAccessEndsTheRunAsInUse) {
  Steps().Script("acessoExclusivo", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Transcript(),
              ElementsAre("BeginRunDisplay", "ReportStep 1 1 0 ",
                          "ReportStep 1 2 20 Não foi possível obter acesso exlusivo.",
                          "EndRunDisplay", kInUse));
  EXPECT_THAT(steps_->Calls(), ElementsAre("acessoExclusivo"));
  EXPECT_EQ(run_->RunVerdict(), 1);
}

TEST_F(RecoveryRunTest, FailedCopyAsksAndNoStopsTheRun) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", false);
  host_.Answer(MessageAnswer::No);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Transcript(),
              ElementsAre("BeginRunDisplay", "ReportStep 1 1 0 ",
                          "ReportStep 1 2 10 Acesso obtido.", "ReportStep 2 1 0 ",
                          "ReportStep 2 2 20 Não foi possível realizar a cópia de segurança.",
                          "AskUser Information YesNo Não foi possível realizar a cópia de "
                          "segurança.\rContinua assim mesmo?",
                          "EndRunDisplay", kNotValidated));
  EXPECT_THAT(steps_->Calls(), ElementsAre("acessoExclusivo", "doCopy " + db_ + " " + copy_));
}

TEST_F(RecoveryRunTest, FailedCopyAndYesGoesOnToValidateTheDatabase) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", false);
  Steps().Script("doValidate", true);
  host_.Answer(MessageAnswer::Yes, "Continua assim mesmo?");
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(),
              ElementsAre("acessoExclusivo", "doCopy " + db_ + " " + copy_, "doValidate " + db_));
  EXPECT_EQ(LastLine(), kNoErrors);
}

TEST_F(RecoveryRunTest, CleanValidationGreysRowsFourToSixAndEnds) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Transcript(),
              ElementsAre("BeginRunDisplay", "ReportStep 1 1 0 ",
                          "ReportStep 1 2 10 Acesso obtido.", "ReportStep 2 1 0 ",
                          "ReportStep 2 2 10 Cópia em: empresa (Copia).FDB", "ReportStep 3 1 0 ",
                          "ReportStep 3 2 10 Banco não possui erros.", "ReportStep 4 0 0 ",
                          "ReportStep 5 0 0 ", "ReportStep 6 0 0 ", "EndRunDisplay", kNoErrors));
  EXPECT_EQ(run_->RunVerdict(), 2);
}

TEST_F(RecoveryRunTest, FailedMendIsReportedAsFailureAndStops) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", false);
  Steps().Script("doMend", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(
      Reports(),
      ElementsAre("ReportStep 1 1 0 ", "ReportStep 1 2 10 Acesso obtido.", "ReportStep 2 1 0 ",
                  "ReportStep 2 2 10 Cópia em: empresa (Copia).FDB", "ReportStep 3 1 0 ",
                  "ReportStep 3 2 20 Erros encontrados", "ReportStep 4 1 0 ",
                  "ReportStep 4 2 20 Não foi possível preparar para o backup"));
  EXPECT_EQ(LastLine(), kNotValidated);
}

TEST_F(RecoveryRunTest, FailedBackupStopsWithTheTimestampedName) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", false);
  Steps().Script("doMend", true);
  Steps().Script("doBackup", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(steps_->Calls().back(), "doBackup " + db_ + " " + backup_ + " 5");
  EXPECT_THAT(host_.Calls("ReportStep 4 2"),
              ElementsAre("ReportStep 4 2 10 Preparado para o backup"));
  EXPECT_THAT(host_.Calls("ReportStep 5"),
              ElementsAre("ReportStep 5 1 0 ", "ReportStep 5 2 20 Erro durante o backup"));
  EXPECT_THAT(host_.Calls("ReportStep 6"), IsEmpty());
  EXPECT_EQ(LastLine(), kNotValidated);
  EXPECT_EQ(run_->RunVerdict(), 0);
}

TEST_F(RecoveryRunTest, SuccessfulLevelOneRestoreEndsCorrectedWithoutLevelTwo) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", false);
  Steps().Script("doMend", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(),
              ElementsAre("acessoExclusivo", "doCopy " + db_ + " " + copy_, "doValidate " + db_,
                          "doMend", "doBackup " + db_ + " " + backup_ + " 5",
                          "doRestore " + backup_ + " " + restored_ + " 6"));
  const std::vector<std::string> reports = Reports();
  EXPECT_EQ(reports[reports.size() - 3],
            "ReportStep 5 2 10 Backup em: empresa 01-02-2027 09-05.fbk");
  EXPECT_EQ(reports.back(), "ReportStep 6 2 10 Restaurado em: empresa 01-02-2027 09-05.FDB");
  EXPECT_THAT(host_.Calls("SetLevelRowsEnabled"), IsEmpty());
  EXPECT_EQ(LastLine(), "AskUser Information Ok " + std::string(kCorrected) + db_ +
                            "\rBanco corrigido: " + restored_);
  EXPECT_EQ(run_->RunVerdict(), 4);
}

// --- level 2 -------------------------------------------------------------

TEST_F(RecoveryRunTest, FullLevelTwoRepairSetsTheCorruptFileAsideAndEndsCorrected) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  const std::string backup = folder.File("empresa 01-02-2027 09-05.fbk");
  const std::string restored = folder.File("empresa 01-02-2027 09-05.FDB");
  const std::string old = folder.File("empresa-OLD.FDB");
  WriteFile(db, "corrupt pages");
  UseDatabase(db);
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(Record("CLIENTES"));
  Steps().ScriptRecord(std::nullopt);
  Steps().Script("doCopyDataFromOldBackup", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", [&](TRecoveryContext&) {
    // The corrupt file must be out of the way before the restore writes here.
    EXPECT_FALSE(std::filesystem::exists(db));
    EXPECT_EQ(ReadFile(old), "corrupt pages");
    return true;
  });
  Steps().Script("doValidate", true);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(
      steps_->Calls(),
      ElementsAre("acessoExclusivo", "doCopy " + db + " " + folder.File("empresa (Copia).FDB"),
                  "doValidate " + db, "doMend", "doBackup " + db + " " + backup + " 5",
                  "doRestore " + backup + " " + restored + " 6", "bringOnline " + restored,
                  "checkInconsistencies " + restored + " " + kViolationClientes,
                  "checkInconsistencies " + restored + " " + kViolationProdutos,
                  "doCopyDataFromOldBackup CLIENTES", "doBackup " + restored + " " + backup + " 9",
                  "doRestore " + backup + " " + db + " 10", "doValidate " + db));
  const std::vector<std::string> transcript = host_.Transcript();
  const auto level2 = std::find(transcript.begin(), transcript.end(), "SetLevelRowsEnabled true 2");
  ASSERT_NE(level2, transcript.end());
  EXPECT_THAT(
      std::vector<std::string>(level2, transcript.end()),
      ElementsAre(
          "SetLevelRowsEnabled true 2", "ReportStep 7 1 0 ",
          "ReportStep 7 2 10 Inconsistências encontradas.", "ReportStep 8 1 0 ",
          "ReportStep 8 2 10 Dados encontrados", "ReportStep 9 1 0 ",
          "ReportStep 9 2 10 Backup em: empresa 01-02-2027 09-05.fbk", "ReportStep 10 1 0 ",
          "ReportStep 10 2 10 Restaurado em: empresa.fdb", "ReportStep 11 1 0 ",
          "ReportStep 11 2 10 Banco não possui erros.", "EndRunDisplay",
          "AskUser Information Ok " + std::string(kCorrected) + db + "\rBanco corrigido: " + db));
  EXPECT_THAT(run_->ConstraintLines(), ElementsAre(kViolationClientes, kViolationProdutos));
  EXPECT_EQ(run_->OldPath(), old);
  EXPECT_EQ(ReadFile(old), "corrupt pages");
  EXPECT_EQ(run_->RunVerdict(), 4);
}

TEST_F(RecoveryRunTest, LevelTwoFinalValidationWithErrorsEndsStillCorrupt) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "x");
  UseDatabase(db);
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(Record("CLIENTES"));
  Steps().ScriptRecord(Record("PRODUTOS"));
  Steps().Script("doCopyDataFromOldBackup", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", true);
  Steps().Script("doValidate", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(steps_->Calls()[9], "doCopyDataFromOldBackup CLIENTES,PRODUTOS");
  EXPECT_THAT(host_.Calls("ReportStep 11"),
              ElementsAre("ReportStep 11 1 0 ", "ReportStep 11 2 20 Erros encontrados"));
  EXPECT_EQ(LastLine(), kStillCorrupt);
  EXPECT_EQ(run_->RunVerdict(), 3);
}

TEST_F(RecoveryRunTest, RestoreWithoutViolationLinesPassesOverStepEight) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", false);
  Steps().Script("doMend", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", ScriptedSteps::WritesLog({"gbak: ERROR:I/O error"}, false));
  Steps().Script("bringOnline", true);
  Steps().Script("doBackup", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(
      host_.Calls("ReportStep 7"),
      ElementsAre("ReportStep 7 1 0 ", "ReportStep 7 2 20 Nenhuma inconsistência encontrada."));
  EXPECT_THAT(host_.Calls("ReportStep 8"), IsEmpty());
  EXPECT_THAT(host_.Calls("ReportStep 9"),
              ElementsAre("ReportStep 9 1 0 ", "ReportStep 9 2 20 Erro durante o backup"));
  EXPECT_EQ(steps_->Calls().back(), "doBackup " + restored_ + " " + backup_ + " 9");
  // A failed restore never means a sound database.
  EXPECT_EQ(LastLine(), kStillCorrupt);
}

TEST_F(RecoveryRunTest, ViolationsWithoutOrphansStopBeforeStepEight) {
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(std::nullopt);
  Steps().ScriptRecord(std::nullopt);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Calls("ReportStep 7 2"),
              ElementsAre("ReportStep 7 2 20 Nenhuma inconsistência encontrada."));
  EXPECT_THAT(host_.Calls("ReportStep 8"), IsEmpty());
  EXPECT_THAT(host_.Calls("ReportStep 9"), IsEmpty());
  EXPECT_EQ(host_.Transcript().end()[-2], "EndRunDisplay");
  EXPECT_EQ(LastLine(), kStillCorrupt);
}

TEST_F(RecoveryRunTest, FailedSalvageStopsStillCorrupt) {
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(Record("CLIENTES"));
  Steps().ScriptRecord(std::nullopt);
  Steps().Script("doCopyDataFromOldBackup", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Calls("ReportStep 8"),
              ElementsAre("ReportStep 8 1 0 ",
                          "ReportStep 8 2 20 Não foi possível recuperar os dados necessários"));
  EXPECT_THAT(host_.Calls("ReportStep 9"), IsEmpty());
  EXPECT_EQ(LastLine(), kStillCorrupt);
}

TEST_F(RecoveryRunTest, RestoredDatabaseThatCannotBeBroughtOnlineStopsStepSeven) {
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Calls("ReportStep 7"),
              ElementsAre("ReportStep 7 1 0 ",
                          "ReportStep 7 2 20 Não foi possível analisar o banco restaurado."));
  EXPECT_EQ(steps_->Calls().back(), "bringOnline " + restored_);
  EXPECT_EQ(LastLine(), kStillCorrupt);
  // The violations were read from the restore's output before anything else.
  EXPECT_EQ(run_->ConstraintLines().size(), 2u);
}

TEST_F(RecoveryRunTest, FailedLevelTwoRestoreStopsAfterSettingTheFileAside) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "corrupt");
  UseDatabase(db);
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(Record("CLIENTES"));
  Steps().ScriptRecord(std::nullopt);
  Steps().Script("doCopyDataFromOldBackup", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Calls("ReportStep 10"),
              ElementsAre("ReportStep 10 1 0 ", "ReportStep 10 2 20 Restaurado, mas com erro."));
  EXPECT_THAT(host_.Calls("ReportStep 11"), IsEmpty());
  EXPECT_EQ(ReadFile(folder.File("empresa-OLD.FDB")), "corrupt");
  EXPECT_EQ(LastLine(), kStillCorrupt);
}

// --- step 10: setting the corrupt file aside ------------------------------

class SetAsideTest : public RecoveryRunTest {
 protected:
  // Runs up to step 10 on a real database file; `beforeRename` runs during step 9.
  void RunToStepTen(const std::string& db, std::function<void()> beforeRename,
                    bool restoreExpected) {
    UseDatabase(db);
    ScriptLevel1WithViolations();
    Steps().Script("bringOnline", true);
    Steps().ScriptRecord(Record("CLIENTES"));
    Steps().ScriptRecord(std::nullopt);
    Steps().Script("doCopyDataFromOldBackup", true);
    Steps().Script("doBackup", [beforeRename](TRecoveryContext&) {
      beforeRename();
      return true;
    });
    if (restoreExpected) {
      Steps().Script("doRestore", true);
      Steps().Script("doValidate", true);
    }
    host_.Answer(MessageAnswer::Ok);
    Execute();
  }
};

TEST_F(SetAsideTest, TakenNamesAreKeptAndTheFirstFreeNumberIsUsed) {
  TempFolder folder;
  const std::string db = folder.File("Empresa.Fdb");
  WriteFile(db, "corrupt");
  WriteFile(folder.File("Empresa-OLD.FDB"), "earlier run");
  WriteFile(folder.File("Empresa-OLD-2.FDB"), "run before that");
  RunToStepTen(
      db, [] {}, true);

  EXPECT_EQ(run_->OldPath(), folder.File("Empresa-OLD-3.FDB"));
  EXPECT_EQ(ReadFile(folder.File("Empresa-OLD-3.FDB")), "corrupt");
  EXPECT_EQ(ReadFile(folder.File("Empresa-OLD.FDB")), "earlier run");
  EXPECT_EQ(ReadFile(folder.File("Empresa-OLD-2.FDB")), "run before that");
  EXPECT_EQ(steps_->Calls()[11],
            "doRestore " + folder.File("Empresa 01-02-2027 09-05.fbk") + " " + db + " 10");
  EXPECT_EQ(run_->RunVerdict(), 4);
}

TEST_F(SetAsideTest, FailedRenameRestoresNothingAndEndsStillCorrupt) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "corrupt");
  host_.Answer(MessageAnswer::Ok, "Não foi possível renomear o banco corrompido.");
  // The database vanishes before step 10, so the rename cannot succeed.
  RunToStepTen(
      db, [&] { std::filesystem::remove(db); }, false);

  const std::vector<std::string> transcript = host_.Transcript();
  EXPECT_THAT(host_.Calls("ReportStep 10"),
              ElementsAre("ReportStep 10 2 20 Não foi possível renomear o banco corrompido."));
  EXPECT_EQ(host_.Questions().end()[-2], "Não foi possível renomear o banco corrompido.\r" + db +
                                             " -> " + folder.File("empresa-OLD.FDB") +
                                             "\rNo such file or directory");
  EXPECT_EQ(steps_->Calls().back(), "doBackup " + folder.File("empresa 01-02-2027 09-05.FDB") +
                                        " " + folder.File("empresa 01-02-2027 09-05.fbk") + " 9");
  EXPECT_THAT(host_.Calls("ReportStep 11"), IsEmpty());
  EXPECT_EQ(LastLine(), kStillCorrupt);
  EXPECT_EQ(run_->RunVerdict(), 3);
}

TEST_F(SetAsideTest, AFolderInTheWayIsNeverReplaced) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "corrupt");
  std::filesystem::create_directory(folder.File("empresa-OLD.FDB"));
  WriteFile(folder.File("empresa-OLD.FDB") + "/keep", "kept");
  RunToStepTen(
      db, [] {}, true);

  EXPECT_EQ(ReadFile(folder.File("empresa-OLD.FDB") + "/keep"), "kept");
  EXPECT_EQ(ReadFile(folder.File("empresa-OLD-2.FDB")), "corrupt");
}

// --- exceptions that escape a step routine --------------------------------

TEST_F(RecoveryRunTest, ExceptionInStepOneIsShownAndEndsAsInUse) {
  Steps().ScriptThrow("acessoExclusivo", "Unable to complete network request to host");
  host_.Answer(MessageAnswer::Ok);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Transcript(),
              ElementsAre("BeginRunDisplay", "ReportStep 1 1 0 ",
                          "AskUser Error Ok acessoExclusivo() -> Excetion: \rUnable to complete "
                          "network request to host",
                          "ReportStep 1 2 20 Não foi possível obter acesso exlusivo.",
                          "EndRunDisplay", kInUse));
}

TEST_F(RecoveryRunTest, ExceptionsInLevelOneRoutinesCountAsNo) {
  Steps().Script("acessoExclusivo", true);
  Steps().ScriptThrow("doCopy", "disk full");
  Steps().ScriptThrow("doValidate", "service refused");
  Steps().ScriptThrow("doMend", "mend aborted");
  host_.Answer(MessageAnswer::Ok);
  host_.Answer(MessageAnswer::Yes, "Continua assim mesmo?");
  host_.Answer(MessageAnswer::Ok);
  host_.Answer(MessageAnswer::Ok);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(
      host_.Questions(),
      ElementsAre("doCopy() -> Excetion: disk full",
                  "Não foi possível realizar a cópia de segurança.\rContinua assim mesmo?",
                  "doValidate() -> Excetion: service refused", "doMend() -> Excetion: mend aborted",
                  "O banco de dados ainda não foi validade."));
  EXPECT_THAT(host_.Calls("ReportStep 3 2"), ElementsAre("ReportStep 3 2 20 Erros encontrados"));
  EXPECT_THAT(host_.Calls("ReportStep 4 2"),
              ElementsAre("ReportStep 4 2 20 Não foi possível preparar para o backup"));
}

TEST_F(RecoveryRunTest, ExceptionsInBackupAndRestoreCountAsNo) {
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", false);
  Steps().Script("doMend", true);
  Steps().Script("doBackup", true);
  Steps().ScriptThrow("doRestore", "cannot create");
  Steps().ScriptThrow("bringOnline", "database not found");
  host_.Answer(MessageAnswer::Ok, "doRestore() -> Excetion: cannot create");
  host_.Answer(MessageAnswer::Ok, "bringOnline() -> Excetion: database not found");
  host_.Answer(MessageAnswer::Ok, "continua corrompido");
  Execute();

  EXPECT_THAT(host_.Calls("ReportStep 6 2"),
              ElementsAre("ReportStep 6 2 20 Restaurado, mas com erro."));
  EXPECT_THAT(host_.Calls("ReportStep 7 2"),
              ElementsAre("ReportStep 7 2 20 Não foi possível analisar o banco restaurado."));
}

TEST_F(RecoveryRunTest, ExceptionsInLevelTwoRoutinesCountAsNo) {
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptThrow("checkInconsistencies", "table PEDIDOS unknown");
  Steps().ScriptRecord(Record("PRODUTOS"));
  Steps().ScriptThrow("doCopyDataFromOldBackup", "connection lost");
  host_.Answer(MessageAnswer::Ok);
  host_.Answer(MessageAnswer::Ok);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Questions(),
              ElementsAre("checkInconsistencies() -> Excetion: table PEDIDOS unknown",
                          "doCopyDataFromOldBackup() -> Excetion: connection lost",
                          "O banco de dados continua corrompido."));
  // The line after the failed one was still analysed.
  EXPECT_THAT(host_.Calls("ReportStep 7 2"),
              ElementsAre("ReportStep 7 2 10 Inconsistências encontradas."));
  EXPECT_THAT(host_.Calls("ReportStep 8 2"),
              ElementsAre("ReportStep 8 2 20 Não foi possível recuperar os dados necessários"));
}

TEST_F(RecoveryRunTest, ExceptionInTheLastStepsEndsWithItsVerdict) {
  TempFolder folder;
  const std::string db = folder.File("empresa.fdb");
  WriteFile(db, "x");
  UseDatabase(db);
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", true);
  Steps().ScriptRecord(Record("CLIENTES"));
  Steps().ScriptRecord(std::nullopt);
  Steps().Script("doCopyDataFromOldBackup", true);
  Steps().Script("doBackup", true);
  Steps().Script("doRestore", true);
  Steps().ScriptThrow("doValidate", "lost");
  host_.Answer(MessageAnswer::Ok, "doValidate() -> Excetion: lost");
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.Calls("ReportStep 11 2"), ElementsAre("ReportStep 11 2 20 Erros encontrados"));
  EXPECT_EQ(LastLine(), kStillCorrupt);
}

// --- names the run must never write to ------------------------------------

TEST_F(RecoveryRunTest, DatabaseWithoutFdbExtensionIsNeverCopiedOrBackedUpOntoItself) {
  UseDatabase("/srv/dados/empresa.gdb");
  Steps().Script("acessoExclusivo", true);
  host_.Answer(MessageAnswer::Ok, "não é um banco de dados Firebird (.FDB)");
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(steps_->Calls(), ElementsAre("acessoExclusivo"));
  EXPECT_THAT(host_.Calls("ReportStep 2"),
              ElementsAre("ReportStep 2 1 0 ",
                          "ReportStep 2 2 20 Não foi possível realizar a cópia de segurança."));
  EXPECT_EQ(LastLine(), kNotValidated);
}

TEST_F(RecoveryRunTest, TheOlderBackupIsNeverOverwrittenByTheNewBackup) {
  UseDatabase(db_, backup_);
  Steps().Script("acessoExclusivo", true);
  Steps().Script("doCopy", true);
  Steps().Script("doValidate", false);
  Steps().Script("doMend", true);
  host_.Answer(MessageAnswer::Ok, "é o backup informado");
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_EQ(steps_->Calls().back(), "doMend");
  EXPECT_THAT(host_.Calls("ReportStep 5 2"),
              ElementsAre("ReportStep 5 2 20 Erro durante o backup"));
  EXPECT_EQ(LastLine(), kNotValidated);
}

TEST_F(RecoveryRunTest, LogWrittenByRoutinesReachesTheFrontEnd) {
  ScriptLevel1WithViolations();
  Steps().Script("bringOnline", false);
  host_.Answer(MessageAnswer::Ok);
  Execute();

  EXPECT_THAT(host_.LogLines(),
              ElementsAre("gbak:restoring data for table PEDIDOS", kViolationClientes,
                          kViolationProdutos, kViolationClientes, "gbak:finishing"));
  EXPECT_EQ(host_.LogLines(), context_->RunLog());
}

}  // namespace
