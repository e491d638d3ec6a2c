#include "engine/run/TRecoveryRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/files/DerivedNames.h"
#include "engine/files/SafeRename.h"
#include "engine/firebird/DamageLines.h"
#include "engine/firebird/RestoreCounts.h"
#include "engine/firebird/TServerDialect.h"
#include "engine/firebird/ViolationLines.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TextUtil.h"

namespace {

// Refusals of the login before the run gives up.
constexpr int kLoginAttempts = 3;

// The smallest page size of a database Firebird 3 opens.
constexpr std::uintmax_t kSmallestPage = 1024;

bool IsDatabaseFile(const std::string& path) {
  return path.size() >= 4 && SameTextIgnoringCase(path.substr(path.size() - 4), ".fdb");
}

}  // namespace

TRecoveryRun::LocalClock TRecoveryRun::SystemClock() {
  return [] {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    return local;
  };
}

TRecoveryRun::TRecoveryRun(TRecoveryContext& context, IRecoverySteps& steps, LocalClock clock)
    : context_(context), steps_(steps), clock_(std::move(clock)) {}

std::string TRecoveryRun::ClosingMessage(RunVerdict verdict, const std::string& corruptPath,
                                         const std::string& correctedPath) {
  switch (verdict) {
    case RunVerdict::InUse:
      return "O banco de dados estava em uso e não pôde ser validado.";
    case RunVerdict::NoErrors:
      return "O banco de dados informado não possui erros.";
    case RunVerdict::StillCorrupt:
      return "O banco de dados continua corrompido.";
    case RunVerdict::Repaired:
      return "O banco de dados foi corrigido com sucesso.\r\rBanco corrompido: " + corruptPath +
             "\r" + "Banco corrigido: " + correctedPath;
    case RunVerdict::RepairedWithLosses:
      return "O banco de dados foi corrigido, mas registros não puderam ser recuperados.\r\r"
             "Banco corrompido: " +
             corruptPath + "\r" + "Banco corrigido: " + correctedPath;
    case RunVerdict::Cancelled:
      return "A execução foi cancelada.";
    case RunVerdict::LoginRefused:
      return "O servidor recusou o login.";
    case RunVerdict::NotADatabase:
      return "O arquivo informado não é um banco de dados que o servidor consiga abrir.";
    case RunVerdict::Unanswered:
      return "A execução parou numa pergunta que ficou sem resposta.";
    case RunVerdict::NotValidated:
      break;
  }
  return "O banco de dados ainda não foi validade.";
}

bool TRecoveryRun::FailedOnForeignKeysOnly(const std::vector<std::string>& restoreLog) {
  return FailedOnlyOnKeysAndRows(restoreLog) && RefusedRowsPerTable(restoreLog).empty();
}

void TRecoveryRun::Execute() {
  try {
    Run();
  } catch (const ERunAborted& abort) {
    aborted_ = true;
    EndAborted(abort);
  }
}

void TRecoveryRun::EndAborted(const ERunAborted& abort) {
  context_.StopThrowingOnCancel();
  // A swap cut in the middle puts the original back first, to be brought
  // online where the operator left it.
  if (!swapped_ && !oldPath_.empty() && PathIsFree(context_.DatabasePath())) {
    RenameWithoutReplacing(oldPath_, context_.DatabasePath());
    oldPath_.clear();
  }
  try {
    LetOthersIn();
  } catch (const ERunAborted&) {
    // the front end is gone; the database was brought online all the same
  }
  if (abort.Reason() == AbortReason::FrontEndClosed) {
    if (reportWritten_) {
      return;  // gone while the closing message was on screen
    }
    // Nobody can be shown anything any more; the report still tells.
    if (stepOpen_) {
      context_.Record().StepReported(currentStep_, StepPhase::Finished, StepOutcome::Cancelled,
                                     "Interrompido: a janela foi fechada", context_.RunLog());
    }
    context_.Record().Facts().windowClosed = true;
    closingText_ = "A execução foi interrompida.\r\rO banco de dados informado continua em: " +
                   context_.DatabasePath();
    if (!filesMade_.empty()) {
      closingText_ += "\rArquivos criados nesta execução:";
    }
    for (const std::string& file : filesMade_) {
      closingText_ += "\r" + file;
    }
    FinishReport();
    return;
  }
  verdict_ =
      abort.Reason() == AbortReason::Cancelled ? RunVerdict::Cancelled : RunVerdict::Unanswered;
  if (abort.Reason() == AbortReason::Unanswered) {
    reason_ = abort.Detail();
  }
  closingText_ = ComposeClosingText();
  bool shown = true;
  try {
    if (stepOpen_) {
      Finished(currentStep_, StepOutcome::Cancelled,
               verdict_ == RunVerdict::Cancelled ? "Cancelado" : "Sem resposta");
    }
  } catch (const ERunAborted&) {
    shown = false;  // the front end went away meanwhile
  }
  FinishReport();
  try {
    if (shown) {
      context_.Host().EndRunDisplay();
      NameReportInLog();
      context_.AskUser(Question{QuestionId::ClosingMessage, closingText_, MessageKind::Information,
                                MessageButtons::Ok, MessageAnswer::Ok});
    }
  } catch (const ERunAborted&) {
    // The front end went away meanwhile: nothing more to show.
  }
}

void TRecoveryRun::Run() {
  context_.Host().BeginRunDisplay();
  if (AcessoExclusivo() && ChooseRunNames()) {
    CriarCopia();
    if (continueFlag_ && rebuildFromPages_) {
      RebuildFromPages();
      Stop();
    }
    if (continueFlag_)
      ValidarDados();
    if (continueFlag_)
      KeepOthersOut();
    if (continueFlag_)
      PrepararBackup();
    if (continueFlag_)
      FazerBackupNivel01();
    if (continueFlag_)
      RestaurarBancoNivel01();
    if (continueFlag_) {
      ProcurarOrfaos();
      RecordOrphanSearch();
    }
    if (continueFlag_) {
      RecuperarDados();
      RecordSalvage();
    }
    if (continueFlag_)
      FazerBackupNivel02();
    if (continueFlag_)
      RestaurarBancoNivel02();
    if (continueFlag_)
      ValidacaoFinal();
  }
  // A level-1 result is a restore of the backup: what another program wrote
  // after it, in a moment the run had given its attachment up, is only in
  // the operator's file. (Level 2 refuses its swap for the same reason.)
  const std::string intrusion = steps_.intrusion();
  if (!swapped_ && !intrusion.empty() &&
      (verdict_ == RunVerdict::Repaired || verdict_ == RunVerdict::RepairedWithLosses)) {
    StopWith(RunVerdict::StillCorrupt,
             intrusion + "\rO banco restaurado ficou em: " + restoredPath_ +
                 "\rO banco de dados informado, com o que a outra conexão gravou, continua em: " +
                 context_.DatabasePath());
  }
  LetOthersIn();
  if (verdict_ == RunVerdict::Repaired) {
    CountDestroyedRows();
  }
  if (verdict_ == RunVerdict::Repaired && LostRows()) {
    verdict_ = RunVerdict::RepairedWithLosses;
  }
  CountResult();
  closingText_ = ComposeClosingText();
  FinishReport();
  context_.Host().EndRunDisplay();
  NameReportInLog();
  context_.AskUser(Question{QuestionId::ClosingMessage, closingText_, MessageKind::Information,
                            MessageButtons::Ok, MessageAnswer::Ok});
}

std::string TRecoveryRun::ComposeClosingText() const {
  const bool levelTwo = swapped_;
  std::string text = ClosingMessage(verdict_, levelTwo ? oldPath_ : context_.DatabasePath(),
                                    levelTwo ? context_.DatabasePath() : restoredPath_);
  if (verdict_ == RunVerdict::RepairedWithLosses) {
    text = LossesText() +
           "\r\rBanco corrompido: " + (levelTwo ? oldPath_ : context_.DatabasePath()) +
           "\rBanco corrigido: " + (levelTwo ? context_.DatabasePath() : restoredPath_);
  }
  if (!reason_.empty()) {
    text += "\r\r" + reason_;
  }
  // A run that did not end well says where everything is.
  if (!filesMade_.empty() && verdict_ != RunVerdict::Repaired &&
      verdict_ != RunVerdict::RepairedWithLosses && verdict_ != RunVerdict::NoErrors) {
    if (swapped_) {
      text += "\r\rO banco restaurado está em: " + context_.DatabasePath() +
              "\rO banco original foi renomeado para: " + oldPath_;
    } else {
      text += "\r\rO banco de dados informado continua em: " + context_.DatabasePath();
    }
    text += "\rArquivos criados nesta execução:";
    for (const std::string& file : filesMade_) {
      if (file != oldPath_) {
        text += "\r" + file;
      }
    }
  }
  return text;
}

void TRecoveryRun::Running(StepKey key) {
  currentStep_ = key;
  stepOpen_ = true;
  context_.ReportStep(key, StepPhase::Running, StepOutcome::None, "");
}

void TRecoveryRun::Finished(StepKey key, StepOutcome outcome, const std::string& text) {
  // Closed only once shown: a cancel that cuts this very report still marks
  // the step as cancelled.
  context_.ReportStep(key, StepPhase::Finished, outcome, text);
  stepOpen_ = false;
}

void TRecoveryRun::StopWith(RunVerdict verdict, const std::string& reason) {
  verdict_ = verdict;
  if (!reason.empty()) {
    reason_ = WithOperatorWords(reason);
  }
  Stop();
}

std::string TRecoveryRun::WithOperatorWords(const std::string& reason) {
  // The words of the weightiest cause in the text, above the first server
  // line that needs words of ours; the server's text stays beneath.
  const std::string words = TServerDialect::OperatorWords(reason);
  if (words.empty() || reason.find(words) != std::string::npos) {
    return reason;
  }
  std::size_t start = 0;
  while (start < reason.size()) {
    const std::size_t end = std::min(reason.find('\r', start), reason.size());
    if (!TServerDialect::OperatorWords(reason.substr(start, end - start)).empty()) {
      break;
    }
    start = end + 1;
  }
  return start >= reason.size() ? reason + "\r" + words
                                : reason.substr(0, start) + words + "\r" + reason.substr(start);
}

StepResult TRecoveryRun::Shown(const char* routine, StepResult result) {
  context_.TellRaised(routine, result);
  return result;
}

std::string TRecoveryRun::BackupFailure(const StepResult& result,
                                        const std::string& takenName) const {
  if (!takenName.empty()) {
    return "Outro arquivo ocupou o nome do backup durante a execução; ele não foi tocado: " +
           takenName;
  }
  if (result.failure == StepFailure::ShutDown && othersKeptOut_) {
    // The run had given up its one attachment for the backup's own.
    return "Outra conexão ocupou o banco de dados enquanto ele estava em manutenção para o "
           "reparo; o backup não pôde ser feito e nada foi substituído.\r" +
           result.error;
  }
  std::vector<std::string> errorLines = ErrorLines(context_.RunLog());
  if (result.WasRaised()) {
    errorLines.push_back(result.error);
  }
  std::string reason = "O backup não chegou ao fim.";
  for (const std::string& line : CondensedLines(errorLines)) {
    reason += "\r" + line;
  }
  return reason;
}

StepResult TRecoveryRun::BringOnline(const std::string& databasePath) {
  // The routine that brought restored databases online used to be part of
  // the orphan search: its box keeps that name.
  return Shown("checkInconsistencies", steps_.bringOnline(databasePath));
}

StepResult TRecoveryRun::ActivateIndexes(const std::string& databasePath) {
  return Shown("activateIndexes", steps_.activateIndexes(databasePath));
}

bool TRecoveryRun::AcessoExclusivo() {
  Running(StepKey::AcessoExclusivo);
  context_.WriteLog("Login: usuário " + context_.Credentials().User() +
                    (context_.Credentials().Source().empty()
                         ? std::string()
                         : " (" + context_.Credentials().Source() + ")"));
  const std::string failure = "Não foi possível obter acesso exlusivo.";
  // Two repairs of one database would each set the other's files aside.
  runLock_ = std::make_unique<TRunLock>(context_.DatabasePath());
  if (!runLock_->Held()) {
    Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, "Outra reparação em andamento.");
    StopWith(RunVerdict::InUse,
             "Outra reparação deste banco de dados está em andamento nesta máquina; espere que "
             "ela termine. Nada foi alterado.");
    return false;
  }
  // Nothing is touched in a folder where the server could not write the
  // backup and the restored database.
  const std::string folderProblem =
      steps_.folderProblem(std::filesystem::path(context_.DatabasePath()).parent_path().string());
  if (!folderProblem.empty()) {
    Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, "A pasta não serve ao servidor.");
    StopWith(RunVerdict::NotValidated, folderProblem);
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    try {
      const IRecoverySteps::AccessResult access = steps_.acessoExclusivo();
      switch (access.access) {
        case IRecoverySteps::Access::Granted:
          Finished(StepKey::AcessoExclusivo, StepOutcome::Success, "Acesso obtido.");
          return true;
        case IRecoverySteps::Access::Unverified:
          Finished(StepKey::AcessoExclusivo, StepOutcome::Failure,
                   "Acesso não verificado; continuado pelo operador.");
          return true;
        case IRecoverySteps::Access::OthersAttached:
          Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, failure);
          StopWith(RunVerdict::InUse);
          return false;
        case IRecoverySteps::Access::ShutDown:
          Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, "Banco em manutenção.");
          StopWith(RunVerdict::NotValidated,
                   "O banco de dados está em modo de manutenção (shutdown) e não foi colocado "
                   "online; nada foi alterado.");
          return false;
        case IRecoverySteps::Access::Refused:
          break;
      }
      // The server refused the attachment.
      using Failure = TServerDialect::AttachFailure;
      const Failure failure = access.failure;
      const std::string& refusal = access.serverText;
      if (failure == Failure::ShutDown) {
        // Only a run that holds the lock gets here: no repair of ours is
        // going on, so the maintenance was left by one that was killed, or
        // set by an administrator.
        if (context_.Ask(QuestionId::DatabaseShutDown,
                         "O banco de dados está em modo de manutenção (shutdown): ninguém "
                         "consegue conectar-se a ele. Uma reparação interrompida ou um "
                         "administrador o deixou assim.\rNenhuma outra reparação deste banco está "
                         "em andamento.\r\rDeseja colocá-lo online e continuar?",
                         MessageKind::Confirmation, MessageAnswer::No) == MessageAnswer::Yes &&
            BringOnline(context_.DatabasePath()) && attempt < kLoginAttempts) {
          context_.WriteLog("Banco colocado online a pedido do operador.");
          continue;
        }
        Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, "Banco em manutenção.");
        StopWith(RunVerdict::NotValidated,
                 "O banco de dados está em modo de manutenção (shutdown) e não foi colocado "
                 "online; nada foi alterado.\r" +
                     refusal);
        return false;
      }
      if (failure == Failure::LoginRefused) {
        const std::string user = context_.Credentials().User();
        std::optional<TCredentials> typed;
        if (attempt < kLoginAttempts) {
          typed = context_.Host().AskCredentials(user, refusal);
        }
        if (typed) {
          // A role set for this run (ISC_ROLE) still holds for the typed user.
          context_.SetCredentials(
              typed->Role().empty()
                  ? TCredentials(typed->User(), typed->Password(), context_.Credentials().Role())
                  : *typed);
          continue;
        }
        Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, "Login recusado.");
        StopWith(RunVerdict::LoginRefused, "O servidor recusou o login do usuário \"" + user +
                                               "\" (tentativas: " + std::to_string(attempt) +
                                               ").\r" + refusal);
        return false;
      }
      // A file shorter than the smallest page has no header to read: the
      // server answers with a read error, but it is no database at all.
      std::error_code sizeError;
      const bool tooShort =
          std::filesystem::file_size(context_.DatabasePath(), sizeError) < kSmallestPage &&
          !sizeError;
      // A destroyed header or transaction inventory keeps the server out,
      // not the rows: with an older backup for the schema, the database is
      // rebuilt from the file's own pages. Nobody else can have it open.
      std::error_code backupError;
      if (!tooShort && (failure == Failure::NotADatabase || failure == Failure::Corrupt) &&
          !context_.BackupPath().empty() &&
          std::filesystem::is_regular_file(context_.BackupPath(), backupError)) {
        rebuildFromPages_ = true;
        serverRefusal_ = refusal;
        refusedAsNoDatabase_ = failure == Failure::NotADatabase;
        context_.WriteLog(std::string("O servidor não consegue abrir o banco: ") + refusal);
        Finished(StepKey::AcessoExclusivo, StepOutcome::Failure,
                 "Banco ilegível pelo servidor: reconstruindo a partir das páginas");
        return true;
      }
      Finished(StepKey::AcessoExclusivo, StepOutcome::Failure,
               "Não foi possível abrir o banco de dados.");
      if (failure == Failure::NotADatabase || failure == Failure::UnsupportedOds || tooShort) {
        StopWith(RunVerdict::NotADatabase,
                 "O arquivo \"" + context_.DatabasePath() +
                     "\" não é um banco de dados Firebird desta versão.\r" + refusal);
      } else if (failure == Failure::Corrupt) {
        StopWith(RunVerdict::StillCorrupt,
                 "O servidor não consegue abrir o banco: o cabeçalho ou o inventário de "
                 "transações está danificado.\r" +
                     refusal);
      } else {
        StopWith(RunVerdict::NotValidated,
                 "O servidor não conseguiu abrir o banco de dados.\r" + refusal);
      }
      return false;
    } catch (const std::exception& error) {
      context_.Tell(std::string("acessoExclusivo() -> Excetion: \r") + error.what(),
                    MessageKind::Error);
      Finished(StepKey::AcessoExclusivo, StepOutcome::Failure, failure);
      StopWith(
          RunVerdict::NotValidated,
          "Não foi possível verificar o acesso ao banco de dados.\r" + std::string(error.what()));
      return false;
    }
  }
}

void TRecoveryRun::Made(const std::string& path) {
  filesMade_.push_back(path);
  // The database itself, renamed aside, keeps what it had.
  if (owner_ && path != oldPath_) {
    const std::string problem = owner_->Give(path, IsDatabaseFile(path));
    if (!problem.empty()) {
      context_.WriteLog("Não foi possível dar a " + path + " o dono do banco de dados: " + problem);
    }
  }
}

void TRecoveryRun::NoteTemporaryDatabase() {
  const std::string temporary = steps_.temporaryDatabase();
  if (!temporary.empty() && !PathIsFree(temporary) &&
      std::find(filesMade_.begin(), filesMade_.end(), temporary) == filesMade_.end()) {
    Made(temporary);
  }
}

bool TRecoveryRun::ChooseRunNames() {
  owner_ = std::make_unique<TFileOwner>(context_.DatabasePath());
  if (!PickRunStem()) {
    StopWith(RunVerdict::NotValidated,
             "Todos os nomes para os arquivos desta execução já estão em uso.");
    return false;
  }
  // The database has just been attached: the server can tell its version.
  try {
    context_.Record().Facts().serverVersion = steps_.serverVersion(context_.DatabasePath());
  } catch (const std::exception& error) {
    context_.Record().Facts().serverVersion = std::string("desconhecida: ") + error.what();
  }
  return true;
}

void TRecoveryRun::CriarCopia() {
  const std::string failure = "Não foi possível realizar a cópia de segurança.";
  Running(StepKey::CriarCopia);
  const std::string& database = context_.DatabasePath();
  const int number =
      FirstFreeVariant([&](int n) { return std::vector<std::string>{CopyPathFor(database, n)}; });
  copyPath_ = number == 0 ? std::string() : CopyPathFor(database, number);
  if (!copyPath_.empty() && Shown("doCopy", steps_.doCopy(database, copyPath_))) {
    Made(copyPath_);
    Finished(StepKey::CriarCopia, StepOutcome::Success, "Cópia em: " + NamePart(copyPath_));
    return;
  }
  Finished(StepKey::CriarCopia, StepOutcome::Failure, failure);
  // The validation and the mend change the database in place: never without
  // a whole copy beside it.
  StopWith(RunVerdict::NotValidated,
           copyPath_.empty() ? "Todos os nomes para a cópia de segurança já estão em uso."
                             : "Sem uma cópia de segurança o banco de dados não foi alterado.");
}

void TRecoveryRun::ValidarDados() {
  Running(StepKey::ValidarDados);
  // The server loops for ever on a broken page inventory and cannot validate
  // a truncated file: such a file goes straight to the backup.
  const TTriage::Result triage = steps_.triage(context_.DatabasePath());
  if (triage.SkipValidation()) {
    context_.WriteLog(triage.reason);
    Finished(StepKey::ValidarDados, StepOutcome::Failure,
             "Validação não executada: arquivo danificado");
    Running(StepKey::PrepararBackup);
    Finished(StepKey::PrepararBackup, StepOutcome::Failure, "Não executado; segue para o backup");
    skipMend_ = true;
    return;
  }
  const StepResult validated = Shown("doValidate", steps_.doValidate(context_.DatabasePath()));
  if (validated) {
    Finished(StepKey::ValidarDados, StepOutcome::Success, "Banco não possui erros.");
    for (StepKey key :
         {StepKey::PrepararBackup, StepKey::FazerBackupNivel01, StepKey::RestaurarBancoNivel01}) {
      context_.ReportStep(key, StepPhase::NotApplicable, StepOutcome::None, "");
    }
    StopWith(RunVerdict::NoErrors);
    return;
  }
  // The server validates only a database nobody else has open: someone came
  // in after step 1. Nothing was changed yet; the run stops here.
  if (validated.failure == StepFailure::OthersAttached) {
    Finished(StepKey::ValidarDados, StepOutcome::Failure, "Outra conexão impediu a validação.");
    StopWith(RunVerdict::InUse,
             "Outro programa conectou-se ao banco depois da verificação de acesso exclusivo; "
             "o banco não foi alterado.\r" +
                 validated.error);
    return;
  }
  damagedTables_ = steps_.damagedTables(context_.DatabasePath());
  Finished(StepKey::ValidarDados, StepOutcome::Failure, "Erros encontrados");
}

void TRecoveryRun::PrepararBackup() {
  if (skipMend_) {
    return;
  }
  Running(StepKey::PrepararBackup);
  if (Shown("doMend", steps_.doMend())) {
    Finished(StepKey::PrepararBackup, StepOutcome::Success, "Preparado para o backup");
  } else {
    // The backup reads what it still can, and skips what it cannot: a failed
    // mend is no reason to give up.
    context_.WriteLog("O reparo falhou; o backup será tentado mesmo assim.");
    Finished(StepKey::PrepararBackup, StepOutcome::Failure,
             "Não foi possível preparar para o backup");
  }
}

void TRecoveryRun::FazerBackupNivel01() {
  Running(StepKey::FazerBackupNivel01);
  const bool free = PathIsFree(backupFilePath_);
  const StepResult backedUp =
      free ? Shown("doBackup", steps_.doBackup(context_.DatabasePath(), backupFilePath_,
                                               StepKey::FazerBackupNivel01))
           : StepResult(false);
  if (backedUp) {
    Made(backupFilePath_);
    Finished(StepKey::FazerBackupNivel01, StepOutcome::Success,
             "Backup em: " + NamePart(backupFilePath_));
    return;
  }
  if (free && !PathIsFree(backupFilePath_)) {
    Made(backupFilePath_);  // the failed backup left a part behind
  }
  Finished(StepKey::FazerBackupNivel01, StepOutcome::Failure, "Erro durante o backup");
  // A file the triage kept from the validation truly was not validated.
  StopWith(skipMend_ ? RunVerdict::NotValidated : RunVerdict::StillCorrupt,
           BackupFailure(backedUp, free ? std::string() : backupFilePath_));
}

void TRecoveryRun::RestaurarBancoNivel01() {
  Running(StepKey::RestaurarBancoNivel01);
  const bool free = PathIsFree(restoredPath_);
  const StepResult restoreResult =
      free ? Shown("doRestore",
                   steps_.doRestore(backupFilePath_, restoredPath_, StepKey::RestaurarBancoNivel01))
           : StepResult(false);
  bool restored = restoreResult.ok;
  if (free && !PathIsFree(restoredPath_)) {
    Made(restoredPath_);
  }
  // Read the violations before anything else can touch the restore's output.
  constraintLines_ = getForeignKeyErrors(context_.RunLog());
  const std::vector<std::string> skipped = steps_.skippedTables();
  skippedTables_ = skipped;
  if (restored && skipped.empty()) {
    restoredCounts_ = RowCountsFromRestore(context_.RunLog());
  }
  const bool levelTwoCanGoOn = restored || (free && FailedOnlyOnKeysAndRows(context_.RunLog()));
  // Rows the restore refused (a torn record backed up as NULLs) are lost
  // rows of their table, for the older backup to give back; the rest of the
  // database restored.
  const std::map<std::string, long long> refused = RefusedRowsPerTable(context_.RunLog());
  for (const auto& [table, rows] : refused) {
    losses_[table].lost += rows;
    context_.WriteLog("Tabela " + table + ": " + std::to_string(rows) +
                      " registros recusados pela restauração.");
  }
  if (!restored && levelTwoCanGoOn && constraintLines_.empty() && skipped.empty()) {
    restored = BringOnline(restoredPath_) && ActivateIndexes(restoredPath_);
  }
  if (!skipped.empty() && levelTwoCanGoOn) {
    // Their rows were left out of the backup: refill them before anything
    // looks for missing parents.
    if (!restored) {
      BringOnline(restoredPath_);
    }
    const StepResult rebuilt = Shown("rebuildTables", steps_.rebuildTables(skipped, restoredPath_));
    AddLosses(steps_.rescueLosses());
    NoteTemporaryDatabase();
    if (!rebuilt) {
      // A table left out of the backup stayed empty or half filled: that
      // database must not take the operator's place.
      Finished(StepKey::RestaurarBancoNivel01, StepOutcome::Failure,
               "Não foi possível refazer as tabelas que o backup pulou.");
      StopWith(RunVerdict::StillCorrupt,
               "As linhas de uma tabela que o backup pulou não puderam ser refeitas; o motivo "
               "está no log.");
      return;
    }
    // The restore's foreign keys may have failed only because those tables
    // were empty then: once every index activates, they hold again.
    if (!restored && ActivateIndexes(restoredPath_)) {
      restored = true;
    }
  }
  if (restored) {
    FillFromOlderBackup(restoredPath_);
    Finished(StepKey::RestaurarBancoNivel01, StepOutcome::Success,
             "Restaurado em: " + NamePart(restoredPath_) +
                 (skipped.empty() ? std::string()
                                  : " (" + std::to_string(skipped.size()) +
                                        " tabela(s) refeitas linha a linha)"));
    StopWith(RunVerdict::Repaired);
    return;
  }
  // Tables whose columns the file's system tables lost restore as nothing
  // at all; their rows are still on the pages, and the older backup knows
  // their columns.
  if (!levelTwoCanGoOn && RebuildTablesNotCreated()) {
    return;
  }
  Finished(StepKey::RestaurarBancoNivel01, StepOutcome::Failure, "Restaurado, mas com erro.");
  // Level 2 mends missing parent rows and nothing else: any other failure
  // (no space, I/O, metadata, a backup read only in part) ends the run here.
  if (!levelTwoCanGoOn) {
    // Each distinct line once: the whole output is in the log and the report.
    std::string errors;
    for (const std::string& line : CondensedLines(ErrorLines(context_.RunLog()))) {
      errors += "\r" + line;
    }
    // The server's failure may have come as an error instead of output lines.
    if (errors.empty() && restoreResult.WasRaised()) {
      errors = "\r" + restoreResult.error;
    }
    StopWith(RunVerdict::StillCorrupt,
             "A restauração falhou por um motivo que o nível 2 não corrige." + notCreatedHint_ +
                 (errors.empty() ? std::string("\rA restauração não chegou ao fim.") : errors));
  }
}

void TRecoveryRun::ProcurarOrfaos() {
  context_.Host().EnterLevel(2);
  Running(StepKey::ProcurarOrfaos);
  verdict_ = RunVerdict::StillCorrupt;

  // The failed restore leaves its database in maintenance; nothing can read it
  // until it is brought online.
  if (!BringOnline(restoredPath_)) {
    Finished(StepKey::ProcurarOrfaos, StepOutcome::Failure,
             "Não foi possível analisar o banco restaurado.");
    Stop();
    return;
  }
  for (const std::string& line : constraintLines_) {
    IRecoverySteps::InconsistencyCheck check = steps_.checkInconsistencies(restoredPath_, line);
    for (const std::string& error : check.errors) {
      Shown("checkInconsistencies", StepResult::Raised(StepFailure::ServerFailed, error));
    }
    if (check.record) {
      inconsistencies_.push_back(std::move(check.record));
    }
  }
  if (!inconsistencies_.empty()) {
    Finished(StepKey::ProcurarOrfaos, StepOutcome::Success, "Inconsistências encontradas.");
  } else {
    Finished(StepKey::ProcurarOrfaos, StepOutcome::Failure, "Nenhuma inconsistência encontrada.");
    Stop();
  }
}

void TRecoveryRun::RecuperarDados() {
  Running(StepKey::RecuperarDados);
  // The tables whose rows come back from the older backup after the
  // salvage's: that restore must hold their rows too.
  steps_.readFromOlderBackup(DamagedTables());
  const StepResult copied =
      Shown("doCopyDataFromOldBackup", steps_.doCopyDataFromOldBackup(inconsistencies_));
  NoteTemporaryDatabase();
  if (copied) {
    // Parents the salvage brought back may be rows the restore refused.
    TableLosses salvaged;
    for (const auto& [table, rows] : steps_.salvagedCounts()) {
      TableLoss& known = losses_[table];
      known.lost -= std::min<long long>(known.lost, rows);
      salvaged[table].fromOlderBackup = rows;
    }
    AddLosses(salvaged);
    FillFromOlderBackup(restoredPath_);
    Finished(StepKey::RecuperarDados, StepOutcome::Success, "Dados encontrados");
  } else {
    Finished(StepKey::RecuperarDados, StepOutcome::Failure,
             "Não foi possível recuperar os dados necessários");
    StopWith(RunVerdict::StillCorrupt);
  }
}

void TRecoveryRun::FazerBackupNivel02() {
  Running(StepKey::FazerBackupNivel02);
  const bool free = PathIsFree(levelTwoBackupPath_);
  const StepResult done =
      free ? Shown("doBackup",
                   steps_.doBackup(restoredPath_, levelTwoBackupPath_, StepKey::FazerBackupNivel02))
           : StepResult(false);
  if (free && !PathIsFree(levelTwoBackupPath_)) {
    Made(levelTwoBackupPath_);
  }
  if (done) {
    Finished(StepKey::FazerBackupNivel02, StepOutcome::Success,
             "Backup em: " + NamePart(levelTwoBackupPath_));
  } else {
    Finished(StepKey::FazerBackupNivel02, StepOutcome::Failure, "Erro durante o backup");
    StopWith(RunVerdict::StillCorrupt,
             BackupFailure(done, free ? std::string() : levelTwoBackupPath_) +
                 "\rOs registros recuperados estão no banco restaurado "
                 "do nível 1: " +
                 restoredPath_);
  }
}

void TRecoveryRun::RestaurarBancoNivel02() {
  Running(StepKey::RestaurarBancoNivel02);
  const std::string& database = context_.DatabasePath();
  const int number = FirstFreeVariant(
      [&](int n) { return std::vector<std::string>{NewDatabasePathFor(database, n)}; });
  if (number == 0) {
    Finished(StepKey::RestaurarBancoNivel02, StepOutcome::Failure, "Restaurado, mas com erro.");
    StopWith(RunVerdict::StillCorrupt, "Todos os nomes para o banco restaurado já estão em uso.");
    return;
  }
  newDatabasePath_ = NewDatabasePathFor(database, number);
  // The restore lands on a name of its own; the database's own name changes
  // hands only once the result is whole, online and opens.
  const StepResult restored = Shown(
      "doRestore",
      steps_.doRestore(levelTwoBackupPath_, newDatabasePath_, StepKey::RestaurarBancoNivel02));
  std::vector<std::string> failure;
  if (restored) {
    restoredCounts_ = RowCountsFromRestore(context_.RunLog());
  } else {
    failure = ErrorLines(context_.RunLog());
    if (restored.WasRaised()) {
      failure.push_back(restored.error);
    }
  }
  std::string removed;
  if (!restored && !PathIsFree(newDatabasePath_) &&
      std::none_of(failure.begin(), failure.end(),
                   [](const std::string& line) { return TServerDialect::FileExists(line); })) {
    // The name was free and the restore makes its file new: what is there is
    // this run's half-written database, which would only fill the disk.
    std::error_code ignored;
    if (std::filesystem::remove(newDatabasePath_, ignored)) {
      removed = newDatabasePath_;
    }
  }
  if (!PathIsFree(newDatabasePath_)) {
    Made(newDatabasePath_);
  }
  if (!restored || !BringOnline(newDatabasePath_) ||
      !Shown("canAttach", steps_.canAttach(newDatabasePath_))) {
    Finished(StepKey::RestaurarBancoNivel02, StepOutcome::Failure, "Restaurado, mas com erro.");
    std::string reason = "A restauração final não terminou.";
    for (const std::string& line : CondensedLines(failure)) {
      reason += "\r" + line;
    }
    if (!removed.empty()) {
      reason += "\rO arquivo incompleto " + removed + " foi removido.";
    }
    reason += "\rOs registros recuperados estão no banco restaurado do nível 1: " + restoredPath_;
    StopWith(RunVerdict::StillCorrupt, reason);
    return;
  }
  if (!SwapInRestoredDatabase()) {
    Finished(StepKey::RestaurarBancoNivel02, StepOutcome::Failure,
             "Não foi possível renomear o banco corrompido.");
    StopWith(RunVerdict::StillCorrupt);
    return;
  }
  Finished(StepKey::RestaurarBancoNivel02, StepOutcome::Success,
           "Restaurado em: " + NamePart(database));
  verdict_ = RunVerdict::Repaired;
}

bool TRecoveryRun::SwapInRestoredDatabase() {
  const std::string& database = context_.DatabasePath();
  // Kept out, the names change while nobody else can be attached: a program
  // that came in between would write into the file set aside. That file is
  // brought online under its new name afterwards, attachable as it was
  // before the run. Not kept out, look again right before the names change.
  std::string others;
  try {
    if (!othersKeptOut_) {
      others = steps_.otherAttachments(database);
    }
  } catch (const std::exception& error) {
    others = error.what();
  }
  if (!others.empty()) {
    context_.Tell(
        "O banco de dados não foi substituído: há outras conexões ou não foi possível "
        "verificá-las.\r" +
            others + "\r\rO banco restaurado ficou em: " + newDatabasePath_,
        MessageKind::Error);
    return false;
  }
  const int number =
      FirstFreeVariant([&](int n) { return std::vector<std::string>{OldPathFor(database, n)}; });
  std::string reason = "Todos os nomes para o banco corrompido já estão em uso.";
  if (number != 0) {
    oldPath_ = OldPathFor(database, number);
    const int error = RenameWithoutReplacing(database, oldPath_);
    if (error == 0) {
      const int second = RenameWithoutReplacing(newDatabasePath_, database);
      if (second == 0) {
        swapped_ = true;
        std::erase(filesMade_, newDatabasePath_);
        Made(oldPath_);
        LetOthersIn();
        return true;
      }
      // Put the original back where it was.
      RenameWithoutReplacing(oldPath_, database);
      reason =
          NamePart(newDatabasePath_) + " -> " + NamePart(database) + ": " + std::strerror(second);
    } else {
      reason = std::strerror(error);
    }
  }
  context_.Tell("Não foi possível renomear o banco corrompido.\r" + database + " -> " +
                    (oldPath_.empty() ? OldPathFor(database) : oldPath_) + "\r" + reason,
                MessageKind::Error);
  oldPath_.clear();
  return false;
}

void TRecoveryRun::ValidacaoFinal() {
  Running(StepKey::ValidacaoFinal);
  if (Shown("doValidate", steps_.doValidate(context_.DatabasePath()))) {
    Finished(StepKey::ValidacaoFinal, StepOutcome::Success, "Banco não possui erros.");
    verdict_ = RunVerdict::Repaired;
  } else {
    Finished(StepKey::ValidacaoFinal, StepOutcome::Failure, "Erros encontrados");
    verdict_ = RunVerdict::StillCorrupt;
  }
}

// ---------------------------------------------------------------------------
// The run's report: what the run hands to its record, and the file.
// ---------------------------------------------------------------------------

bool TRecoveryRun::PickRunStem() {
  const std::string& database = context_.DatabasePath();
  const std::tm when = clock_();
  for (int number = 1; number <= kMaxVariant; ++number) {
    const std::string stem = RunStemFor(database, when, number);
    const bool free = PathIsFree(stem + ".fbk") && PathIsFree(stem + ".FDB") &&
                      PathIsFree(stem + ".txt") && PathIsFree(stem + " NIVEL02.fbk");
    if (!free) {
      continue;
    }
    // Created now, so that another run in the same minute cannot take it.
    try {
      report_ = std::make_unique<TRunReport>(stem + ".txt", context_.DatabasePath());
      if (owner_) {
        owner_->Give(report_->Path(), false);
      }
    } catch (const std::system_error& error) {
      if (error.code() == std::errc::file_exists) {
        continue;  // taken since it was looked at
      }
      reportProblem_ = "\"" + stem + ".txt\": " + std::strerror(error.code().value());
    }
    runStem_ = stem;
    backupFilePath_ = runStem_ + ".fbk";
    restoredPath_ = RestoredPathFor(backupFilePath_);
    levelTwoBackupPath_ = runStem_ + " NIVEL02.fbk";
    return true;
  }
  reportProblem_ = "todos os nomes para os arquivos desta execução já estão em uso.";
  return false;
}

TRunRecord::Counts TRecoveryRun::CountRows(const std::string& databasePath,
                                           const std::vector<std::string>& tables) {
  TRunRecord::Counts counts;
  try {
    counts.rows = steps_.rowCounts(databasePath, tables);
    counts.taken = true;
  } catch (const std::exception& error) {
    counts.error = error.what();
  }
  return counts;
}

void TRecoveryRun::RecordOrphanSearch() {
  TRunRecord::RunFacts& facts = context_.Record().Facts();
  facts.foreignKeyLines = constraintLines_;
  facts.orphans.clear();
  for (const auto& record : inconsistencies_) {
    facts.orphans.push_back(*record);
  }
}

void TRecoveryRun::RecordSalvage() {
  TRunRecord::RunFacts& facts = context_.Record().Facts();
  facts.orphans.clear();
  facts.salvaged = {};
  facts.salvaged.taken = true;
  for (const auto& record : inconsistencies_) {
    facts.orphans.push_back(*record);  // DataFound is known now
    facts.salvaged.rows[record->TableName] = 0;
  }
  // The rows step 8 copied, parents it brought along in other tables too.
  for (const auto& [table, rows] : steps_.salvagedCounts()) {
    facts.salvaged.rows[table] += rows;
  }
  const std::string temporary = steps_.temporaryDatabase();
  // The older backup's restore told how many rows each table got.
  if (!temporary.empty() && steps_.olderBackupRestored()) {
    const std::optional<IRecoverySteps::RowCounts> counts = steps_.olderBackupCounts();
    if (counts) {
      facts.olderBackup.taken = true;
      facts.olderBackup.rows = *counts;
    } else {
      facts.olderBackup = CountRows(temporary, {});
    }
  }
}

void TRecoveryRun::CountResult() {
  if (verdict_ != RunVerdict::Repaired && verdict_ != RunVerdict::RepairedWithLosses) {
    return;
  }
  // The restore that made the result told how many rows it wrote; rows were
  // added after it only when skipped tables were rebuilt.
  if (restoredCounts_) {
    TRunRecord::Counts counts;
    counts.taken = true;
    counts.rows = *restoredCounts_;
    context_.Record().Facts().result = counts;
    return;
  }
  context_.WriteLog("Contando os registros de cada tabela para o relatório...");
  context_.Record().Facts().result =
      CountRows(swapped_ ? context_.DatabasePath() : restoredPath_, {});
}

void TRecoveryRun::FinishReport() {
  if (reportWritten_) {
    closingText_ += reportNote_;  // a stop after the end: the report stands
    return;
  }
  reportWritten_ = true;
  if (!report_ && reportProblem_.empty()) {
    PickRunStem();  // the run stopped before it named its files
  }
  TRunRecord& record = context_.Record();
  record.RunEnded(context_.RunLog());
  TRunRecord::RunFacts& facts = record.Facts();
  // The user name only: the password is never handed to the record.
  facts.user = context_.Credentials().User();
  facts.verdict = verdict_;
  facts.closingText = closingText_;
  facts.filesMade = filesMade_;
  facts.losses = losses_;
  facts.paths = {{"Banco de dados", context_.DatabasePath()},
                 {"Backup antigo", context_.BackupPath()}};
  const std::pair<const char*, std::string> chosen[] = {
      {"Cópia de segurança", copyPath_},
      {"Backup do nível 1", backupFilePath_},
      {"Banco restaurado do nível 1", restoredPath_},
      {"Banco temporário do backup antigo", steps_.temporaryDatabase()},
      {"Backup do nível 2", levelTwoBackupPath_},
      {"Banco restaurado do nível 2 (nome provisório)", newDatabasePath_},
      {"Banco corrompido renomeado para", oldPath_},
      {"Relatório", ReportPath()}};
  for (const auto& [label, path] : chosen) {
    if (!path.empty()) {
      facts.paths.emplace_back(label, path);
    }
  }
  if (report_) {
    try {
      report_->Write(record);
      if (owner_) {
        owner_->Give(report_->Path(), false);  // written anew under its name
      }
      reportNote_ = "\r\rRelatório: " + report_->Path();
    } catch (const std::exception& error) {
      // This run made the file: a report cut short is removed, not left,
      // as long as the name is still this run's file.
      reportProblem_ = error.what();
      report_->Discard();
      report_.reset();
    }
  }
  if (!report_) {
    reportNote_ = "\r\rO relatório desta execução não pôde ser gravado: " + reportProblem_;
  }
  closingText_ += reportNote_;
}

void TRecoveryRun::NameReportInLog() {
  if (report_) {
    context_.WriteLog("Relatório: " + report_->Path());
  }
}

// ---------------------------------------------------------------------------
// Rows the damage took: what came back from the older backup, what is gone.
// ---------------------------------------------------------------------------

std::vector<std::string> TRecoveryRun::DamagedTables() const {
  // A table the backup skipped was rebuilt already, with the older backup's
  // rows only where the damaged file could not answer for them: a row it
  // lacks elsewhere was deleted since, and must not come back.
  std::vector<std::string> tables;
  const auto add = [&](const std::string& table) {
    if (std::find(tables.begin(), tables.end(), table) == tables.end() &&
        std::find(skippedTables_.begin(), skippedTables_.end(), table) == skippedTables_.end()) {
      tables.push_back(table);
    }
  };
  for (const std::string& table : damagedTables_) {
    add(table);
  }
  for (const auto& [table, loss] : losses_) {
    add(table);
  }
  return tables;
}

void TRecoveryRun::AddLosses(const TableLosses& losses) {
  for (const auto& [table, loss] : losses) {
    TableLoss& total = losses_[table];
    total.fromOlderBackup += loss.fromOlderBackup;
    total.lost += loss.lost;
    total.known = total.known && loss.known;
    total.KeepKeys(loss.keys);
  }
}

void TRecoveryRun::FillFromOlderBackup(const std::string& databasePath) {
  const std::vector<std::string> tables = DamagedTables();
  if (tables.empty()) {
    return;
  }
  std::optional<TableLosses> filled;
  std::string failure;
  try {
    filled = steps_.fillFromOlderBackup(tables, databasePath);
  } catch (const std::exception& error) {
    failure = error.what();
  }
  NoteTemporaryDatabase();
  if (!failure.empty()) {
    context_.WriteLog("Os registros do backup anterior não puderam ser trazidos: " + failure);
  }
  if (!filled) {
    // Rows the mend took from a damaged table are nowhere to be counted.
    for (const std::string& table : damagedTables_) {
      losses_[table].known = false;
    }
    return;
  }
  // A row the restore refused or the rebuild could not read comes back as a
  // row of the older backup; what the older backup lacks stays lost. A row
  // the fill could not insert is among those counted already, if any were.
  for (const auto& [table, loss] : *filled) {
    TableLoss& known = losses_[table];
    known.lost = std::max(known.lost - std::min(known.lost, loss.fromOlderBackup), loss.lost);
    known.fromOlderBackup += loss.fromOlderBackup;
    known.known = known.known && loss.known;
    known.KeepKeys(loss.keys);
    if (loss.fromOlderBackup > 0) {
      restoredCounts_.reset();  // the restore's counts no longer hold
    }
  }
}

void TRecoveryRun::CountDestroyedRows() {
  if (copyPath_.empty()) {
    return;
  }
  context_.WriteLog("Procurando, pelos índices da cópia, registros que o dano destruiu...");
  TableLosses destroyed;
  try {
    destroyed = steps_.destroyedRows(copyPath_, swapped_ ? context_.DatabasePath() : restoredPath_);
  } catch (const std::exception& error) {
    context_.WriteLog("Os registros destruídos não puderam ser contados: " +
                      std::string(error.what()));
    return;
  }
  // The same rows may be counted already (refused by the restore, or not
  // found by the rebuild): the larger count stands, each key once. An index
  // read whole accounts for every record of its table, which settles a loss
  // that could not be counted before (the rows a mend took).
  for (const auto& [table, gone] : destroyed) {
    if (gone.known && gone.lost == 0 && losses_.count(table) == 0) {
      continue;
    }
    TableLoss& loss = losses_[table];
    loss.known = gone.known;
    loss.lost = std::max(loss.lost, gone.lost);
    loss.KeepKeys(gone.keys);
  }
}

bool TRecoveryRun::LostRows() const {
  return std::any_of(losses_.begin(), losses_.end(), [](const auto& entry) {
    return entry.second.lost > 0 || !entry.second.known;
  });
}

std::string TRecoveryRun::LossesText() const {
  long long total = 0;
  bool known = true;
  for (const auto& [table, loss] : losses_) {
    total += loss.lost;
    known = known && loss.known;
  }
  const char* const kUncounted = "parte da tabela não pôde ser lida e nenhuma outra fonte a tem";
  std::string text =
      "O banco de dados foi corrigido, mas " +
      (known       ? std::to_string(total) + " registros não puderam ser recuperados:"
       : total > 0 ? "ao menos " + std::to_string(total) + " registros não puderam ser recuperados:"
                   : std::string("registros não puderam ser recuperados:"));
  for (const auto& [table, loss] : losses_) {
    if (loss.lost == 0 && loss.known) {
      continue;
    }
    text += "\r" + table + ": " +
            (loss.known      ? std::to_string(loss.lost) + " perdidos"
             : loss.lost > 0 ? "ao menos " + std::to_string(loss.lost) + " perdidos; " + kUncounted
                             : std::string("perdidos em número desconhecido; ") + kUncounted);
  }
  return text;
}

// ---------------------------------------------------------------------------
// Nobody else in: single-user maintenance from the mend to the end.
// ---------------------------------------------------------------------------

void TRecoveryRun::KeepOthersOut() {
  const IRecoverySteps::Exclusion exclusion = steps_.keepOthersOut(context_.DatabasePath());
  if (exclusion.keptOut) {
    othersKeptOut_ = true;
    context_.WriteLog(
        "Banco de dados em manutenção até o fim da execução: nenhuma outra conexão entra.");
    return;
  }
  if (exclusion.refusal.empty()) {
    return;
  }
  const std::string& refusal = exclusion.refusal;
  Running(StepKey::PrepararBackup);
  Finished(StepKey::PrepararBackup, StepOutcome::Failure, "Outra conexão impediu o reparo.");
  StopWith(RunVerdict::InUse,
           "Não foi possível impedir outras conexões durante o reparo (outro programa "
           "conectou-se depois da verificação de acesso exclusivo?); o banco não foi alterado "
           "depois da validação.\r" +
               refusal);
}

void TRecoveryRun::LetOthersIn() {
  if (!othersKeptOut_) {
    return;
  }
  othersKeptOut_ = false;
  // After the swap the file kept out is the one set aside.
  std::string held = context_.DatabasePath();
  if (swapped_) {
    held = oldPath_;
    steps_.releaseDatabase();
  }
  if (!BringOnline(held)) {
    reason_ += std::string(reason_.empty() ? "" : "\r\r") +
               "O banco de dados continua em modo de manutenção; coloque-o online com: gfix "
               "-online \"" +
               held + "\"";
  }
}

// ---------------------------------------------------------------------------
// A file the server cannot open: rebuilt from its pages.
// ---------------------------------------------------------------------------

void TRecoveryRun::RebuildFromPages() {
  for (StepKey key :
       {StepKey::ValidarDados, StepKey::PrepararBackup, StepKey::FazerBackupNivel01}) {
    context_.ReportStep(key, StepPhase::NotApplicable, StepOutcome::None, "");
  }
  Running(StepKey::RestaurarBancoNivel01);
  context_.WriteLog("Banco ilegível pelo servidor: reconstruindo a partir das páginas");
  RebuildIntoRestoredPath("O servidor não consegue abrir o banco");
}

bool TRecoveryRun::RebuildTablesNotCreated() {
  std::vector<std::string> notCreated;
  for (const std::string& line : context_.RunLog()) {
    // A user table: the older backup has its columns.
    const std::string table = TServerDialect::TableNotCreated(line);
    if (!table.empty() && !table.starts_with("RDB$")) {
      notCreated.push_back(table);
    }
  }
  if (notCreated.empty()) {
    return false;
  }
  std::error_code error;
  if (context_.BackupPath().empty() ||
      !std::filesystem::is_regular_file(context_.BackupPath(), error)) {
    // The rows are still on the pages: say what would bring them back.
    notCreatedHint_ = "\rAs colunas das tabelas " + JoinedNames(notCreated) +
                      " se perderam nas tabelas de sistema do arquivo. Com um backup anterior "
                      "deste banco, que dá as colunas, o banco é reconstruído a partir das "
                      "páginas do arquivo: execute de novo informando o backup.";
    return false;
  }
  // The rebuilt database gets a name of its own. The failed restore, tables
  // without a row under the name a repaired database usually has, would
  // only mislead: it is removed when this run made it.
  const std::string failed = restoredPath_;
  std::error_code ignored;
  if (std::find(filesMade_.begin(), filesMade_.end(), failed) != filesMade_.end() &&
      std::filesystem::remove(failed, ignored)) {
    std::erase(filesMade_, failed);
    context_.WriteLog("Removido o banco da restauração que falhou: " + failed);
  }
  const int variant = FirstFreeVariant(
      [&](int number) { return std::vector<std::string>{RebuiltPathFor(failed, number)}; });
  if (variant == 0) {
    return false;
  }
  restoredPath_ = RebuiltPathFor(failed, variant);
  context_.WriteLog("A restauração não conseguiu criar as tabelas " + JoinedNames(notCreated) +
                    ": as colunas delas se perderam nas tabelas de sistema do arquivo. "
                    "Reconstruindo a partir das páginas, com as colunas do backup anterior, em: " +
                    restoredPath_);
  RebuildIntoRestoredPath("A restauração não conseguiu criar as tabelas " +
                          JoinedNames(notCreated));
  Stop();  // a rebuilt database is the whole repair: no level 2
  return true;
}

void TRecoveryRun::RebuildIntoRestoredPath(const std::string& why) {
  std::string failure;
  const bool free = PathIsFree(restoredPath_);
  std::optional<TableLosses> losses;
  if (free) {
    losses = steps_.rebuildFromPages(restoredPath_, failure);
  } else {
    failure = "O nome do banco reconstruído já está em uso: " + restoredPath_;
  }
  if (free && !PathIsFree(restoredPath_)) {
    Made(restoredPath_);
  }
  NoteTemporaryDatabase();
  if (!losses) {
    Finished(StepKey::RestaurarBancoNivel01, StepOutcome::Failure,
             "Não foi possível reconstruir o banco.");
    StopWith(refusedAsNoDatabase_ ? RunVerdict::NotADatabase : RunVerdict::StillCorrupt,
             why + ", e ele não pôde ser reconstruído a partir das páginas.\r" + failure +
                 (serverRefusal_.empty() ? std::string() : "\r" + serverRefusal_));
    return;
  }
  AddLosses(*losses);
  // Rows of tables whose pages were not all read may be in the older backup.
  for (const auto& [table, loss] : *losses) {
    if (!loss.known) {
      damagedTables_.push_back(table);
    }
  }
  FillFromOlderBackup(restoredPath_);
  // The rows whose parents neither the pages nor the older backup have
  // cannot stay: no foreign key would be active.
  try {
    AddLosses(steps_.removeOrphans(restoredPath_));
  } catch (const std::exception& error) {
    context_.WriteLog(std::string("Registros sem o registro pai não puderam ser removidos: ") +
                      error.what());
  }
  // Offered only once whole: every index active, and the server's own
  // validation finds nothing.
  const bool sound =
      ActivateIndexes(restoredPath_) && Shown("doValidate", steps_.doValidate(restoredPath_));
  if (!sound) {
    Finished(StepKey::RestaurarBancoNivel01, StepOutcome::Failure, "Reconstruído, mas com erro.");
    StopWith(RunVerdict::StillCorrupt,
             "O banco reconstruído a partir das páginas não passou na validação; ele está em: " +
                 restoredPath_);
    return;
  }
  Finished(StepKey::RestaurarBancoNivel01, StepOutcome::Success,
           "Reconstruído a partir das páginas em: " + NamePart(restoredPath_));
  verdict_ = RunVerdict::Repaired;
}
