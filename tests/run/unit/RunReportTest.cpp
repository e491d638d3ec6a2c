// The run's report: a cancelled run's file, taken when the names are chosen
// and written at the end, the row-count table, and the file itself: never
// empty, never half written, never put over a file another made.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/run/ERunAborted.h"
#include "engine/run/TRecoveryRun.h"
#include "engine/run/TRunReport.h"
#include "support/ScriptedHost.h"
#include "support/ScriptedSteps.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/tessarine-report-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::tm At0905() {
  std::tm when{};
  when.tm_year = 2027 - 1900;
  when.tm_mon = 1;
  when.tm_mday = 1;
  when.tm_hour = 9;
  when.tm_min = 5;
  return when;
}

TEST(RunReport, ACancelledRunLeavesAReportOfEverythingButThePassword) {
  Folder folder;
  const std::string db = folder.File("EMPRESA.FDB");
  std::ofstream(db) << "corrupt pages";
  const std::string report = folder.File("EMPRESA 01-02-2027 09-05.txt");
  const std::string password = "Segr3do-9731";

  ScriptedHost host;
  host.Answer(MessageAnswer::Yes, "Deseja tentar novamente?");
  host.Answer(MessageAnswer::Ok, "A execução foi cancelada.");
  TRecoveryContext context(host, db, "/backups/antigo.fbk");
  context.SetCredentials(TCredentials("operador", password));
  ScriptedSteps steps(context);
  steps.SetServerVersion("3.0.11");
  steps.Script("acessoExclusivo", true);
  steps.Script("doCopy", true);
  steps.Script("doValidate", ScriptedSteps::Action([](TRecoveryContext& c) {
                 c.ClearLog();
                 c.WriteLog("Summary of validation errors");
                 c.WriteLog("\tNumber of record level errors\t: 3");
                 c.SnapshotStepLog(StepKey::ValidarDados);
                 return false;
               }));
  bool reportTakenEarly = false;
  steps.Script("doMend", ScriptedSteps::Action([&](TRecoveryContext& c) {
                 reportTakenEarly = std::filesystem::exists(report);
                 c.Ask(QuestionId::RetryActiveConnections,
                       "Existem conexões ativas.\rDeseja tentar novamente?",
                       MessageKind::Confirmation);
                 c.ClearLog();
                 c.WriteLog("mend: página 12 marcada");
                 c.RequestCancel();
                 c.WriteLog("never written");  // the cancel cuts here
                 return true;
               }));
  TRecoveryRun run(context, steps, At0905);
  run.Execute();

  EXPECT_TRUE(reportTakenEarly) << "the report's name is taken with the run's names";
  EXPECT_EQ(run.Verdict(), RunVerdict::Cancelled);
  ASSERT_EQ(run.ReportPath(), report);
  EXPECT_THAT(run.ClosingText(), ::testing::EndsWith("\r\rRelatório: " + report));
  EXPECT_EQ(host.Calls("WriteLog").back(), "WriteLog -1 Relatório: " + report);
  EXPECT_EQ(host.UnusedAnswers(), 0u);

  const std::string text = ReadFile(report);
  const std::vector<std::string> parts = {
      std::string("A execução foi cancelada."),
      std::string("Versão do servidor: 3.0.11\n"),
      std::string("Usuário do servidor: operador\n"),
      "Banco de dados: " + db + "\n",
      std::string("Backup antigo: /backups/antigo.fbk\n"),
      "Cópia de segurança: " + folder.File("EMPRESA (Copia).FDB") + "\n",
      "Relatório: " + report + "\n",
      " 1. Obter acesso exclusivo: sucesso - Acesso obtido. (00:00:0",
      " 3. Validar dados e estrutura: falha - Erros encontrados (00:00:0",
      " 4. Preparar para backup: interrompida - Cancelado (00:00:0",
      std::string(" 5. Fazer backup: não executada\n"),
      std::string("    Existem conexões ativas.\n    Deseja tentar novamente?\n"
                  "    Resposta: Sim\n"),
      std::string("=== 3. Validar dados e estrutura ===\nSummary of validation errors\n"
                  "\tNumber of record level errors\t: 3\n"),
      // The cut step keeps what it wrote before the cancel.
      std::string("=== 4. Preparar para backup ===\nmend: página 12 marcada\n"),
  };
  for (const std::string& part : parts) {
    EXPECT_THAT(text, HasSubstr(part));
  }
  EXPECT_THAT(text, Not(HasSubstr("never written")));
  EXPECT_THAT(text, Not(HasSubstr(password)));
  EXPECT_THAT(text, Not(HasSubstr("Segr3do")));
}

TEST(RunReport, RowCountTableComparesTheResultWithTheOlderBackup) {
  TRunRecord record;
  TRunRecord::RunFacts& facts = record.Facts();
  facts.result = {true, {{"CLIENTES", 2994}, {"PEDIDOS", 1200}, {"NOVA", 3}}, {}};
  facts.olderBackup = {true, {{"CLIENTES", 3000}, {"PEDIDOS", 1200}, {"VELHA", 7}}, {}};
  facts.salvaged = {true, {{"CLIENTES", 12}}, {}};
  const std::string text = TRunReport::Compose(record);
  EXPECT_THAT(text, HasSubstr("Tabela       Resultado   Backup antigo     Diferença\n"
                              "CLIENTES          2994            3000            -6\n"
                              "NOVA                 3               -             -\n"
                              "PEDIDOS           1200            1200             0\n"
                              "VELHA                -               7             -\n"));
  EXPECT_THAT(text, HasSubstr("Registros recuperados do backup antigo\n"
                              "--------------------------------------\nCLIENTES: 12\n"));

  facts.olderBackup = {false, {}, "o banco temporário não abre"};
  EXPECT_THAT(TRunReport::Compose(record),
              HasSubstr("Backup antigo não contado: o banco temporário não abre\n"
                        "Tabela       Resultado\nCLIENTES          2994\n"));
}

// A front end whose window went away while a question was open.
class GoneHost : public ScriptedHost {
 public:
  MessageAnswer AskUser(const Question& question) override {
    ScriptedHost::AskUser(question);
    throw ERunAborted(AbortReason::FrontEndClosed);
  }
};

TEST(RunReport, AWindowClosedMidStepStillLeavesItsReport) {
  Folder folder;
  const std::string db = folder.File("EMPRESA.FDB");
  std::ofstream(db) << "corrupt pages";
  GoneHost host;
  host.Answer(MessageAnswer::Yes, "Continua?");  // never reaches the run
  TRecoveryContext context(host, db, "");
  ScriptedSteps steps(context);
  steps.Script("acessoExclusivo", true);
  steps.Script("doCopy", true);
  steps.Script("doValidate", ScriptedSteps::Action([](TRecoveryContext& c) {
                 c.ClearLog();
                 c.WriteLog("validando");
                 c.Ask(QuestionId::Notice, "Continua?", MessageKind::Confirmation);
                 return true;
               }));
  TRecoveryRun run(context, steps, At0905);
  run.Execute();

  ASSERT_TRUE(run.Aborted());
  const std::string text = ReadFile(folder.File("EMPRESA 01-02-2027 09-05.txt"));
  EXPECT_THAT(text, HasSubstr("A janela foi fechada durante a execução"));
  EXPECT_THAT(text, HasSubstr(" 3. Validar dados e estrutura: interrompida - Interrompido: a "
                              "janela foi fechada"));
  EXPECT_THAT(text, HasSubstr("    Continua?\n    Resposta: sem resposta\n"));
  EXPECT_THAT(text, HasSubstr("=== 3. Validar dados e estrutura ===\nvalidando\n"));
  EXPECT_THAT(text, HasSubstr("Arquivos criados nesta execução:\n    " +
                              folder.File("EMPRESA (Copia).FDB") + "\n"));
}

TEST(RunReport, SaysTheRunIsUnderWayFromTheMomentItsNameIsTaken) {
  Folder folder;
  const std::string path = folder.File("EMPRESA 01-02-2027 09-05.txt");
  const TRunReport report(path, "/srv/dados/EMPRESA.FDB");

  const std::string text = ReadFile(path);
  EXPECT_THAT(text, ::testing::StartsWith("Relatório da execução do Tessarine\n"));
  EXPECT_THAT(text, ::testing::ContainsRegex("\nInício: [0-9]{2}/[0-9]{2}/[0-9]{4} "
                                             "[0-9]{2}:[0-9]{2}:[0-9]{2}\n"));
  EXPECT_THAT(text, HasSubstr("Banco de dados: /srv/dados/EMPRESA.FDB\n"));
  EXPECT_THAT(text, HasSubstr("a execução foi interrompida antes do fim"));

  // The name is this run's: a second run cannot take it, nor change it.
  try {
    const TRunReport second(path, "/srv/dados/OUTRA.FDB");
    ADD_FAILURE() << "a taken name was created again";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::file_exists);
  }
  EXPECT_EQ(ReadFile(path), text);
}

TEST(RunReport, ARunKilledBeforeItsEndLeavesTheUnderWayText) {
  Folder folder;
  const std::string path = folder.File("EMPRESA 01-02-2027 09-05.txt");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const TRunReport report(path, "/srv/dados/EMPRESA.FDB");
    ::kill(::getpid(), SIGKILL);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_THAT(ReadFile(path), HasSubstr("Execução em andamento. Se o relatório termina aqui"));
}

TEST(RunReport, WriteReplacesTheWholeTextInOneRenameAndKeepsTheFilesOwnerAndMode) {
  Folder folder;
  const std::string path = folder.File("EMPRESA 01-02-2027 09-05.txt");
  TRunReport report(path, "/srv/dados/EMPRESA.FDB");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  // Given to another owner as the run gives it the database's (as root only).
  const bool owned = ::geteuid() == 0 && ::chown(path.c_str(), 65534, 65534) == 0;
  const std::string underWay = ReadFile(path);
  // A reader that opened the report before it was written keeps reading
  // the text it opened, whole: the report is never rewritten in place.
  std::ifstream earlyReader(path, std::ios::binary);

  TRunRecord record;
  record.Facts().closingText = "A execução foi cancelada.";
  report.Write(record);
  EXPECT_EQ(ReadFile(path), TRunReport::Compose(record));
  std::stringstream early;
  early << earlyReader.rdbuf();
  EXPECT_EQ(early.str(), underWay);

  // A later Write replaces the earlier one the same way.
  record.Facts().closingText = "O banco de dados foi corrigido com sucesso.";
  report.Write(record);
  EXPECT_EQ(ReadFile(path), TRunReport::Compose(record));
  EXPECT_EQ(report.Path(), path);
  struct stat written {};
  ASSERT_EQ(::stat(path.c_str(), &written), 0);
  EXPECT_EQ(written.st_mode & 07777, 0640u);
  if (owned) {
    EXPECT_EQ(written.st_uid, 65534u);
    EXPECT_EQ(written.st_gid, 65534u);
  }
  EXPECT_EQ(folder.Names(), std::set<std::string>{"EMPRESA 01-02-2027 09-05.txt"});
}

TEST(RunReport, WriteNeverReplacesAFileThatTookTheReportsName) {
  Folder folder;
  const std::string path = folder.File("EMPRESA 01-02-2027 09-05.txt");
  TRunReport report(path);
  std::filesystem::remove(path);
  std::ofstream(path) << "arquivo do usuário";

  TRunRecord record;
  EXPECT_THROW(report.Write(record), std::runtime_error);
  EXPECT_EQ(ReadFile(path), "arquivo do usuário");
  EXPECT_EQ(folder.Names(), std::set<std::string>{"EMPRESA 01-02-2027 09-05.txt"});
}

}  // namespace
