// What the run's record gives each step row's "Ver log", fed as the run's
// context feeds it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/run/TRunRecord.h"

namespace {

using Lines = std::vector<std::string>;

Question Asking(const std::string& text) {
  return Question{QuestionId::Notice, text, MessageKind::Confirmation, MessageButtons::YesNo,
                  MessageAnswer::Yes};
}

Lines Shown(const TRunRecord& record, StepKey key) {
  const SharedLines lines = record.RowLog(key);
  return lines ? *lines : Lines{"(nada)"};
}

TEST(RunRecordTest, FirstRowsShowTheirLinesAndQuestionsInOrderElseTheirResult) {
  TRunRecord record;
  EXPECT_EQ(record.RowLog(StepKey::AcessoExclusivo), nullptr);  // nothing in this run yet
  Lines log;
  record.StepReported(StepKey::AcessoExclusivo, StepPhase::Running, StepOutcome::None, "", log);
  log.push_back("Login: usuário sysdba");
  record.QuestionAsked(Asking("Banco em manutenção.\r\rDeseja colocá-lo online?"), log);
  log.push_back("Banco colocado online a pedido do operador.");
  record.QuestionAsked(Asking("Outras conexões.\r\nDeseja continuar?"), log);
  record.StepReported(StepKey::AcessoExclusivo, StepPhase::Finished, StepOutcome::Failure,
                      "Não foi possível obter acesso exlusivo.", log);
  // Asked while no step runs: in no row.
  record.QuestionAsked(Asking("Fora de etapa"), log);
  record.StepReported(StepKey::CriarCopia, StepPhase::Running, StepOutcome::None, "", log);
  record.StepReported(StepKey::CriarCopia, StepPhase::Finished, StepOutcome::Failure,
                      "Não foi possível realizar a cópia de segurança.", log);

  EXPECT_EQ(Shown(record, StepKey::AcessoExclusivo),
            (Lines{"Login: usuário sysdba", "", "Banco em manutenção.", "",
                   "Deseja colocá-lo online?", "Banco colocado online a pedido do operador.", "",
                   "Outras conexões.", "Deseja continuar?"}));
  EXPECT_EQ(Shown(record, StepKey::CriarCopia),
            Lines{"Não foi possível realizar a cópia de segurança."});
  EXPECT_EQ(record.RowLog(StepAt(0)), nullptr);
  EXPECT_EQ(record.RowLog(StepAt(12)), nullptr);
}

TEST(RunRecordTest, SavedLogsAreTheLogAsFiledAndRowElevenShowsTheFinalValidation) {
  TRunRecord record;
  Lines log;
  record.StepReported(StepKey::ValidarDados, StepPhase::Running, StepOutcome::None, "", log);
  log = {"Validation started", "Summary of validation errors"};
  record.LogFiled(StepKey::ValidarDados, log);
  record.StepReported(StepKey::ValidarDados, StepPhase::Finished, StepOutcome::Failure,
                      "Erros encontrados", log);
  const SharedLines firstValidation = record.RowLog(StepKey::ValidarDados);

  // A backup filed twice: the row shows the whole log of the second filing.
  record.StepReported(StepKey::FazerBackupNivel01, StepPhase::Running, StepOutcome::None, "", log);
  record.LogClearing(log);
  log = {"gbak: closing file"};
  record.LogFiled(StepKey::FazerBackupNivel01, log);
  log.push_back("Backup concluído sem as linhas das tabelas ilegíveis");
  record.LogFiled(StepKey::FazerBackupNivel01, log);
  record.StepReported(StepKey::FazerBackupNivel01, StepPhase::Finished, StepOutcome::Failure,
                      "Backup parcial", log);

  // Step 7: the log as it stood at its end, not what came after.
  record.StepReported(StepKey::ProcurarOrfaos, StepPhase::Running, StepOutcome::None, "", log);
  record.LogClearing(log);
  log = {"RESUMO"};
  record.StepReported(StepKey::ProcurarOrfaos, StepPhase::Finished, StepOutcome::Success,
                      "Inconsistências encontradas.", log);
  log.push_back("depois");

  // The final validation files under step 3.
  record.StepReported(StepKey::ValidacaoFinal, StepPhase::Running, StepOutcome::None, "", log);
  EXPECT_EQ(record.RowLog(StepKey::ValidacaoFinal), nullptr);  // not ended yet
  record.LogClearing(log);
  log = {"no errors found"};
  record.LogFiled(StepKey::ValidarDados, log);
  record.StepReported(StepKey::ValidacaoFinal, StepPhase::Finished, StepOutcome::Success,
                      "Banco não possui erros.", log);

  EXPECT_EQ(Shown(record, StepKey::FazerBackupNivel01),
            (Lines{"gbak: closing file", "Backup concluído sem as linhas das tabelas ilegíveis"}));
  EXPECT_EQ(Shown(record, StepKey::ProcurarOrfaos), Lines{"RESUMO"});
  EXPECT_EQ(Shown(record, StepKey::ValidarDados), Lines{"no errors found"});
  EXPECT_EQ(Shown(record, StepKey::ValidacaoFinal), Lines{"no errors found"});
  EXPECT_EQ(record.RowLog(StepKey::RestaurarBancoNivel01), nullptr);  // never filed
  // Lines handed out before are never changed by a later filing: another
  // thread may be reading them.
  EXPECT_EQ(*firstValidation, (Lines{"Validation started", "Summary of validation errors"}));
  // The report keeps the final validation's lines with the step that ran.
  EXPECT_EQ(record.Steps()[10].logs.back(), Lines{"no errors found"});
}

}  // namespace
