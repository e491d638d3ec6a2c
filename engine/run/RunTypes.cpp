#include "engine/run/RunTypes.h"

#include <algorithm>

#include "engine/run/MessageTypes.h"

const char* StepTitle(StepKey key) {
  switch (key) {
    case StepKey::AcessoExclusivo:
      return "Obter acesso exclusivo";
    case StepKey::CriarCopia:
      return "Criar cópia de segurança";
    case StepKey::ValidarDados:
      return "Validar dados e estrutura";
    case StepKey::PrepararBackup:
      return "Preparar para backup";
    case StepKey::FazerBackupNivel01:
    case StepKey::FazerBackupNivel02:
      return "Fazer backup";
    case StepKey::RestaurarBancoNivel01:
    case StepKey::RestaurarBancoNivel02:
      return "Restaurar banco de dados";
    case StepKey::ProcurarOrfaos:
      return "Procurar registros órfãos";
    case StepKey::RecuperarDados:
      return "Recuperar dados antigos";
    case StepKey::ValidacaoFinal:
      return "Validação final";
  }
  return "";
}

const char* MessageKindTitle(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return "Atenção";
    case MessageKind::Error:
      return "Erro";
    case MessageKind::Information:
      return "Informação";
    case MessageKind::Confirmation:
      return "Confirme";
  }
  return "";
}

namespace {

struct QuestionName {
  QuestionId id;
  const char* name;
};

constexpr QuestionName kQuestionNames[] = {
    {QuestionId::ContinueWithoutBackup, "sem-backup"},
    {QuestionId::RetryActiveConnections, "conexoes-ativas"},
    {QuestionId::ContinueUnverifiedAccess, "acesso-nao-verificado"},
    {QuestionId::InformBackupFile, "informar-backup"},
    {QuestionId::ChooseBackupFile, "escolher-backup"},
    {QuestionId::TryAnotherBackup, "outro-backup"},
    {QuestionId::RowsFromBackup, "linhas-do-backup"},
    {QuestionId::DatabaseShutDown, "banco-em-manutencao"},
    {QuestionId::ForeignBackup, "backup-de-outro-banco"},
};

}  // namespace

const char* QuestionIdName(QuestionId id) {
  for (const QuestionName& entry : kQuestionNames) {
    if (entry.id == id) {
      return entry.name;
    }
  }
  return "";
}

QuestionId QuestionIdNamed(const std::string& name) {
  for (const QuestionName& entry : kQuestionNames) {
    if (name == entry.name) {
      return entry.id;
    }
  }
  return QuestionId::Notice;
}

void TableLoss::KeepKey(const std::string& key) {
  if (keys.size() < kLostKeysKept && std::find(keys.begin(), keys.end(), key) == keys.end()) {
    keys.push_back(key);
  }
}

void TableLoss::KeepKeys(const std::vector<std::string>& more) {
  for (const std::string& key : more) {
    KeepKey(key);
  }
}
