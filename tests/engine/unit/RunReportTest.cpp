// The run's report: a cancelled run's file, taken when the names are chosen
// and written at the end, and the row-count table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/ERunAborted.h"
#include "engine/TRecoveryRun.h"
#include "engine/TRunReport.h"
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

}  // namespace
