// Whole runs of level 1 against the running server, on databases the tests
// create and really damage; the questions are answered by a scripted host.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/DerivedNames.h"
#include "engine/firebird/TConnection.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/SampleSchema.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::SampleSchema;
using testsupport::ServerTools;
using testsupport::TestFolder;
using testsupport::ToolRunner;

namespace fs = std::filesystem;

namespace {

const char* const kHealthyMessage = "O banco de dados informado não possui erros.";
const char* const kInUseMessage = "O banco de dados estava em uso e não pôde ser validado.";
const char* const kNotValidatedMessage = "O banco de dados ainda não foi validade.";
const std::string kReportLine = "\r\rRelatório: ";

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& candidate : lines)
    if (candidate == line)
      return true;
  return false;
}

// The closing message without its last line, which names the run's report;
// a message without that line comes back marked, so that it never matches.
std::string WithoutReport(const std::string& closing) {
  const std::size_t at = closing.rfind(kReportLine);
  return at == std::string::npos ? "(no report) " + closing : closing.substr(0, at);
}

// The name of the report file the closing message names.
std::string ReportName(const std::string& closing) {
  const std::size_t at = closing.rfind(kReportLine);
  return at == std::string::npos ? std::string()
                                 : NamePart(closing.substr(at + kReportLine.size()));
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The text after a prefix in the first transcript line that starts with it.
std::string After(const ScriptedHost& host, const std::string& prefix) {
  const auto calls = host.Calls(prefix);
  return calls.empty() ? std::string() : calls.front().substr(prefix.size());
}

class LevelOneRun : public ::testing::Test {
 protected:
  // A small database of the sample schema (few parent rows keep runs fast).
  FixtureDatabase MakeDatabase(const std::string& name = "EMPRESA.FDB") {
    return SampleSchema(SampleSchema::Kind::NamedConstraints, 300)
        .CreateDatabase(folder_.File(name));
  }

  // Runs a whole repair and waits for its end.
  void Run(ScriptedHost& host, const std::string& database,
           TThreadRecovery::StepsFactory factory = TFirebirdSteps::Create) {
    TThreadRecovery recovery(host, database, "", std::move(factory));
    ASSERT_TRUE(recovery.WaitFor(std::chrono::minutes(3))) << host.TranscriptText();
  }

  // The question the run ended with.
  static std::string ClosingMessage(const ScriptedHost& host) {
    const auto questions = host.Questions();
    return questions.empty() ? std::string() : questions.back();
  }

  TestFolder folder_;
};

TEST_F(LevelOneRun, HealthyDatabaseHasNoErrorsAndKeepsAnEqualWorkingCopy) {
  const FixtureDatabase db = MakeDatabase();
  const std::string before = FileDamage::ReadWhole(db.Path());
  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kHealthyMessage);
  Run(host, db.Path(), &TFirebirdSteps::Create);

  const auto steps = host.Calls("ReportStep");
  EXPECT_TRUE(Has(steps, "ReportStep 1 2 10 Acesso obtido.")) << host.TranscriptText();
  EXPECT_TRUE(Has(steps, "ReportStep 2 2 10 Cópia em: EMPRESA (Copia).FDB"));
  EXPECT_TRUE(Has(steps, "ReportStep 3 2 10 Banco não possui erros."));
  for (int key : {4, 5, 6}) {
    EXPECT_TRUE(Has(steps, "ReportStep " + std::to_string(key) + " 0 0 ")) << key;
  }
  EXPECT_TRUE(host.Calls("ReportStep 7").empty());
  EXPECT_EQ(kHealthyMessage, WithoutReport(ClosingMessage(host)));
  EXPECT_EQ(1u, host.Questions().size()) << host.TranscriptText();

  // The copy is whole, and no temporary file was left beside it: only the report.
  EXPECT_TRUE(FileDamage::SamePagesApartFromBookkeeping(
      before, FileDamage::ReadWhole(folder_.File("EMPRESA (Copia).FDB"))));
  const std::string report = ReportName(ClosingMessage(host));
  EXPECT_TRUE(report.starts_with("EMPRESA ") && report.ends_with(".txt")) << report;
  EXPECT_EQ((std::vector<std::string>{"EMPRESA (Copia).FDB", report, "EMPRESA.FDB"}),
            FolderEntries(folder_.Path()));
  // The validation's output was filed as step 3's log; the run's last line
  // names the report.
  std::vector<std::string> shown = host.LogLines();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "Relatório: " + folder_.File(report));
  shown.pop_back();
  EXPECT_EQ(shown, host.SavedLog(3));
  EXPECT_FALSE(ServerTools::ServerHoldsFile(db.Path()));
}

TEST_F(LevelOneRun, DamageInAStandaloneTableIsRepairedByLevelOne) {
  const FixtureDatabase db = MakeDatabase();
  const auto damage = FileDamage::ZeroDataPage(db, "AVULSOS", "ID", 1);
  ASSERT_FALSE(damage.lostKeys.empty());
  const std::string damaged = FileDamage::ReadWhole(db.Path());

  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido, mas");
  Run(host, db.Path());

  const auto steps = host.Calls("ReportStep");
  EXPECT_TRUE(Has(steps, "ReportStep 3 2 20 Erros encontrados")) << host.TranscriptText();
  EXPECT_TRUE(Has(steps, "ReportStep 4 2 10 Preparado para o backup"));
  const std::string backupName = After(host, "ReportStep 5 2 10 Backup em: ");
  const std::string restoredName = After(host, "ReportStep 6 2 10 Restaurado em: ");
  ASSERT_FALSE(restoredName.empty()) << host.TranscriptText();
  EXPECT_TRUE(backupName.starts_with("EMPRESA ") && backupName.ends_with(".fbk")) << backupName;
  EXPECT_EQ(backupName.substr(0, backupName.size() - 4) + ".FDB", restoredName);
  EXPECT_TRUE(host.Calls("ReportStep 7").empty());

  // Only the closing question: the summary status was no error box.
  EXPECT_EQ(1u, host.Questions().size()) << host.TranscriptText();
  const std::string restoredPath = folder_.File(restoredName);
  // The zeroed page's rows are gone and no older backup was given: the
  // copy's index counts them.
  const std::string lost = std::to_string(damage.lostKeys.size());
  EXPECT_EQ("O banco de dados foi corrigido, mas " + lost +
                " registros não puderam ser recuperados:\rAVULSOS: " + lost +
                " perdidos\r\rBanco corrompido: " + db.Path() +
                "\rBanco corrigido: " + restoredPath,
            WithoutReport(ClosingMessage(host)));

  // The server's summary became the output of validation and mend.
  EXPECT_NE(std::string::npos, Joined(host.SavedLog(3)).find("Summary of validation errors"));
  EXPECT_EQ(std::string::npos, Joined(host.SavedLog(3)).find('\r'));
  EXPECT_NE(std::string::npos, Joined(host.SavedLog(4)).find("Summary of validation errors"));
  EXPECT_NE(std::string::npos,
            Joined(host.SavedLog(5)).find("closing file, committing, and finishing"));
  EXPECT_EQ(std::string::npos, Joined(host.SavedLog(6)).find("gbak: ERROR"));

  // The restored database attaches and validates clean; the rows left are there.
  const FixtureDatabase restored(restoredPath);
  EXPECT_EQ(2000 - static_cast<long long>(damage.lostKeys.size()), restored.Count("AVULSOS"));
  EXPECT_EQ(300, restored.Count("CLIENTES"));
  const auto validation = ServerTools::Validate(restoredPath);
  EXPECT_TRUE(validation.Ok()) << validation.output;
  // The run never replaced the chosen file; the copy keeps it as it was
  // before the mend, zeroed page included.
  EXPECT_TRUE(fs::exists(db.Path()));
  EXPECT_FALSE(
      FileDamage::SamePagesApartFromBookkeeping(damaged, FileDamage::ReadWhole(db.Path())));
  EXPECT_TRUE(FileDamage::SamePagesApartFromBookkeeping(
      damaged, FileDamage::ReadWhole(folder_.File("EMPRESA (Copia).FDB"))));
}

// Holds a second attachment to the database, as another program would.
class OtherProgram {
 public:
  explicit OtherProgram(const std::string& path) {
    connection_.SetDatabasePath(path);
    TIBQuery& query = connection_.Query();
    query.SQL().SetText(
        "select mon$remote_address, mon$remote_process from mon$attachments"
        " where mon$attachment_id = current_connection");
    query.Open();
    line_ = query.FieldNamed("mon$remote_address").AsString() + " [" +
            query.FieldNamed("mon$remote_process").AsString() + "]";
    query.Close();
    connection_.Transaction().Commit();
  }
  // How the exclusive-access question lists this attachment.
  const std::string& Line() const { return line_; }
  void Leave() { connection_.Database().Close(); }

 private:
  TConnection connection_;
  std::string line_;
};

// A host that lets the other program leave before it answers the
// other-connections question.
class HostThatWaitsForTheOtherProgram : public ScriptedHost {
 public:
  explicit HostThatWaitsForTheOtherProgram(OtherProgram& other) : other_(other) {}
  MessageAnswer AskUser(const Question& question) override {
    if (question.text.starts_with("Existem conexões ativas"))
      other_.Leave();
    return ScriptedHost::AskUser(question);
  }

 private:
  OtherProgram& other_;
};

TEST_F(LevelOneRun, OtherAttachmentIsListedAndTheRunGoesOnOnceItLeft) {
  const FixtureDatabase db = MakeDatabase();
  OtherProgram other(db.Path());
  EXPECT_TRUE(other.Line().starts_with("127.0.0.1") || other.Line().starts_with("::1"))
      << other.Line();
  EXPECT_NE(std::string::npos, other.Line().find("engine_integration]")) << other.Line();

  HostThatWaitsForTheOtherProgram host(other);
  host.Answer(MessageAnswer::Yes, "Existem conexões ativas");
  host.Answer(MessageAnswer::Ok, kHealthyMessage);
  Run(host, db.Path());

  const auto questions = host.Questions();
  ASSERT_EQ(2u, questions.size()) << host.TranscriptText();
  EXPECT_EQ("Existem conexões ativas que impedem a continuidade do processo.\r" + other.Line() +
                "\r\rDeseja tentar novamente?",
            questions[0]);
  EXPECT_TRUE(Has(host.Calls("AskUser"), "AskUser Confirmation YesNo " + questions[0]));
  EXPECT_TRUE(Has(host.Calls("ReportStep"), "ReportStep 1 2 10 Acesso obtido."));
  EXPECT_EQ(kHealthyMessage, WithoutReport(ClosingMessage(host)));
}

TEST_F(LevelOneRun, OtherAttachmentAndNoEndsTheRunAsInUse) {
  const FixtureDatabase db = MakeDatabase();
  OtherProgram other(db.Path());
  ScriptedHost host;
  host.Answer(MessageAnswer::No, "Existem conexões ativas");
  host.Answer(MessageAnswer::Ok, kInUseMessage);
  Run(host, db.Path());

  EXPECT_TRUE(
      Has(host.Calls("ReportStep"), "ReportStep 1 2 20 Não foi possível obter acesso exlusivo."))
      << host.TranscriptText();
  EXPECT_TRUE(host.Calls("ReportStep 2").empty());
  EXPECT_EQ(kInUseMessage, WithoutReport(ClosingMessage(host)));
  // The engine detached: only the other program is left on the database.
  other.Leave();
  EXPECT_TRUE(ServerTools::WaitUntilReleased(db.Path()));
}

TEST_F(LevelOneRun, AnExistingWorkingCopyIsKeptAndTheNextFreeNameIsUsed) {
  const FixtureDatabase db = MakeDatabase();
  const std::string copyPath = folder_.File("EMPRESA (Copia).FDB");
  { std::ofstream(copyPath) << "copia antiga"; }

  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kHealthyMessage);
  const std::string before = FileDamage::ReadWhole(db.Path());
  Run(host, db.Path());
  EXPECT_TRUE(Has(host.Calls("ReportStep"), "ReportStep 2 2 10 Cópia em: EMPRESA (Copia)-2.FDB"))
      << host.TranscriptText();
  EXPECT_EQ("copia antiga", FileDamage::ReadWhole(copyPath));
  EXPECT_TRUE(FileDamage::SamePagesApartFromBookkeeping(
      before, FileDamage::ReadWhole(folder_.File("EMPRESA (Copia)-2.FDB"))));
  EXPECT_EQ(1u, host.Questions().size()) << host.TranscriptText();  // the closing message only
}

TEST_F(LevelOneRun, CopyIntoAMissingFolderFailsWithoutLeavingAFile) {
  const FixtureDatabase db = MakeDatabase();
  const std::string missing = folder_.File("nenhuma") + "/EMPRESA (Copia).FDB";
  ScriptedHost host;
  TRecoveryContext context(host, db.Path(), "");
  TFirebirdSteps steps(context);
  const StepResult copied = steps.doCopy(db.Path(), missing);
  EXPECT_FALSE(copied);
  EXPECT_NE(std::string::npos, copied.error.find("No such file or directory")) << copied.error;
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();
  EXPECT_FALSE(fs::exists(missing));
}

// Starts the server again however the test ends.
class ServerRestarter {
 public:
  ~ServerRestarter() {
    ToolRunner::Run({std::string(TESSARINE_SOURCE_DIR) + "/scripts/fbserver", "start"});
  }
};

TEST_F(LevelOneRun, StoppedServerFailsStepOneWithTheClientsTextAndStillCloses) {
  const FixtureDatabase db = MakeDatabase();
  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kNotValidatedMessage);
  {
    ServerRestarter restarter;
    const std::string script = std::string(TESSARINE_SOURCE_DIR) + "/scripts/fbserver";
    const auto stopped = ToolRunner::Run({script, "stop"});
    ASSERT_TRUE(stopped.Ok()) << stopped.output;
    ASSERT_FALSE(ToolRunner::Run({script, "status"}).Ok()) << "the server still answers";
    Run(host, db.Path());
  }
  // The closing message gives the client's own reason, not "em uso".
  const auto questions = host.Questions();
  ASSERT_EQ(1u, questions.size()) << host.TranscriptText();
  EXPECT_NE(std::string::npos, questions[0].find("Unable to complete network request to host"))
      << questions[0];
  EXPECT_TRUE(
      Has(host.Calls("ReportStep"), "ReportStep 1 2 20 Não foi possível abrir o banco de dados."));
  EXPECT_TRUE(host.WaitForCall("EndRunDisplay", std::chrono::milliseconds(0)));
  EXPECT_EQ(0u, ClosingMessage(host).find(kNotValidatedMessage));
}

// The server may read and write the database but create nothing beside it:
// the run says so before anything is validated or mended, naming the folder,
// the server's user and what to change.
TEST_F(LevelOneRun, FolderTheServerCannotWriteIsRefusedBeforeAnythingIsTouched) {
  const FixtureDatabase db = MakeDatabase();
  FileDamage::ZeroDataPage(db, "AVULSOS", "ID", 1);
  const std::string before = FileDamage::ReadWhole(db.Path());
  ASSERT_EQ(0, ::chmod(folder_.Path().c_str(), 0555));

  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kNotValidatedMessage);
  Run(host, db.Path());
  ::chmod(folder_.Path().c_str(), 0755);

  EXPECT_TRUE(Has(host.Calls("ReportStep"), "ReportStep 1 2 20 A pasta não serve ao servidor."))
      << host.TranscriptText();
  EXPECT_TRUE(host.Calls("ReportStep 2").empty());
  ASSERT_EQ(1u, host.Questions().size()) << host.TranscriptText();
  const std::string closing = ClosingMessage(host);
  EXPECT_NE(std::string::npos, closing.find("usuário \"firebird\", não pode criar arquivos na "
                                            "pasta \"" +
                                            folder_.Path() + "\""))
      << closing;
  EXPECT_NE(std::string::npos, closing.find("chown firebird:firebird")) << closing;
  EXPECT_EQ(before, FileDamage::ReadWhole(db.Path()));
}

}  // namespace

namespace {

// The routines one by one on a database whose parent table lost a page: the
// restore fails on the children's foreign keys and leaves its database shut
// down, which bringOnline ends; a server failure comes back as the routine's
// result, with the server's words, and nothing is shown.
TEST_F(LevelOneRun, RoutinesJudgeTheServersAnswersAndReportItsFailures) {
  const FixtureDatabase db = MakeDatabase();
  FileDamage::ZeroDataPage(db, "CLIENTES", "ID", 1);
  ScriptedHost host;
  host.RecordLogLines(false);
  TRecoveryContext context(host, db.Path(), "");
  TFirebirdSteps steps(context);

  EXPECT_FALSE(steps.doValidate(db.Path()));
  EXPECT_TRUE(steps.doMend());
  const std::string backup = folder_.File("EMPRESA.fbk");
  EXPECT_TRUE(steps.doBackup(db.Path(), backup, StepAt(5)));
  const std::string restored = folder_.File("EMPRESA-R.FDB");
  EXPECT_FALSE(steps.doRestore(backup, restored, StepAt(6)));
  EXPECT_NE(std::string::npos,
            context.RunLogText().find("gbak: ERROR:violation of FOREIGN KEY constraint "
                                      "\"FK_PEDIDOS_CLIENTES\""));
  EXPECT_EQ(context.RunLog(), host.SavedLog(6));
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();

  // Shut down by the failed restore, then already online: yes both times.
  EXPECT_TRUE(steps.bringOnline(restored));
  EXPECT_TRUE(steps.bringOnline(restored));
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();

  // Failures of the server come back as each routine's error and a no.
  const std::string missing = folder_.File("NENHUM.FDB");
  for (const StepResult& failed :
       {steps.bringOnline(missing), steps.doValidate(missing),
        steps.doBackup(missing, folder_.File("NENHUM.fbk"), StepAt(5)),
        steps.doRestore(folder_.File("NENHUM.fbk"), folder_.File("NENHUM2.FDB"), StepAt(6))}) {
    EXPECT_FALSE(failed);
    EXPECT_EQ(StepFailure::ServerFailed, failed.failure);
    EXPECT_NE(std::string::npos, failed.error.find(missing.substr(0, missing.size() - 4)))
        << failed.error;
  }
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();
  // Every service was detached again: the server holds none of the files.
  EXPECT_TRUE(ServerTools::WaitUntilReleased(restored));
  EXPECT_TRUE(ServerTools::WaitUntilReleased(db.Path()));
}

// A backup cut short mostly restores through the service manager without any
// error line: its output just stops (now and then the server breaks the
// connection instead, which the routine reports in its error box). Either way
// the restore is incomplete, not a success.
TEST_F(LevelOneRun, RestoreOfATruncatedBackupFails) {
  const FixtureDatabase db = MakeDatabase();
  const std::string backup = folder_.File("EMPRESA.fbk");
  ServerTools::Backup(db.Path(), backup);
  const std::string truncated = folder_.File("CORTADO.fbk");
  FileDamage::TruncatedCopy(backup, truncated, fs::file_size(backup) / 2);
  ScriptedHost host;
  host.RecordLogLines(false);
  TRecoveryContext context(host, db.Path(), "");
  TFirebirdSteps steps(context);

  EXPECT_FALSE(steps.doRestore(truncated, folder_.File("CORTADO.FDB"), StepAt(8)));
  EXPECT_EQ(std::string::npos, context.RunLogText().find("gbak: ERROR"));
  EXPECT_TRUE(steps.doRestore(backup, folder_.File("INTEIRO.FDB"), StepAt(8)));
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();
}

}  // namespace
