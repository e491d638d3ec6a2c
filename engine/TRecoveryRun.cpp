#include "engine/TRecoveryRun.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/DerivedNames.h"
#include "engine/ERunAborted.h"
#include "engine/ViolationLines.h"

namespace {

// Step keys, in run order.
enum StepKey {
  kAcessoExclusivo = 1,
  kCriarCopia,
  kValidarDados,
  kPrepararBackup,
  kFazerBackupNivel01,
  kRestaurarBancoNivel01,
  kProcurarOrfaos,
  kRecuperarDados,
  kFazerBackupNivel02,
  kRestaurarBancoNivel02,
  kValidacaoFinal
};

constexpr int kSuccess = 10;
constexpr int kFailure = 20;

// Highest number tried for the set-aside name before giving up.
constexpr int kMaxOldNumber = 999;

bool SamePath(const std::string& a, const std::string& b) {
  return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
}

// Renames `from` to `to` unless `to` exists. Returns 0, or the errno value;
// EEXIST when `to` is taken.
int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) {
    return error;
  }
  // The file system cannot refuse to replace on its own: check first.
  std::error_code ignored;
  if (std::filesystem::exists(std::filesystem::symlink_status(to, ignored))) {
    return EEXIST;
  }
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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

std::string TRecoveryRun::ClosingMessage(int verdict, const std::string& databasePath,
                                         const std::string& restoredPath) {
  switch (verdict) {
    case 1:
      return "O banco de dados estava em uso e não pôde ser validado.";
    case 2:
      return "O banco de dados informado não possui erros.";
    case 3:
      return "O banco de dados continua corrompido.";
    case 4:
      return "O banco de dados foi corrigido com sucesso.\r\rBanco corrompido: " + databasePath +
             "\r" + "Banco corrigido: " + restoredPath;
    default:
      return "O banco de dados ainda não foi validade.";
  }
}

void TRecoveryRun::Execute() {
  try {
    Run();
  } catch (const ERunAborted&) {
    aborted_ = true;
  }
}

void TRecoveryRun::Run() {
  context_.Host().BeginRunDisplay();
  AcessoExclusivo();
  if (continueFlag_)
    CriarCopia();
  if (continueFlag_)
    ValidarDados();
  if (continueFlag_)
    PrepararBackup();
  if (continueFlag_)
    FazerBackupNivel01();
  if (continueFlag_)
    RestaurarBancoNivel01();
  if (continueFlag_)
    ProcurarOrfaos();
  if (continueFlag_)
    RecuperarDados();
  if (continueFlag_)
    FazerBackupNivel02();
  if (continueFlag_)
    RestaurarBancoNivel02();
  if (continueFlag_)
    ValidacaoFinal();
  context_.Host().EndRunDisplay();
  context_.AskUser(ClosingMessage(runVerdict_, context_.DatabasePath(), restoredPath_),
                   MessageKind::Information, MessageButtons::Ok);
}

void TRecoveryRun::Running(int key) {
  context_.ReportStep(key, 1, 0, "");
}

void TRecoveryRun::Finished(int key, int outcome, const std::string& text) {
  context_.ReportStep(key, 2, outcome, text);
}

template <typename Result, typename Call>
Result TRecoveryRun::Guarded(const char* prefix, Result failed, Call call) {
  std::string message;
  try {
    return call();
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "erro desconhecido";
  }
  context_.AskUser(prefix + message, MessageKind::Error, MessageButtons::Ok);
  return failed;
}

bool TRecoveryRun::IsSafeTarget(const std::string& path) {
  if (SamePath(path, context_.DatabasePath())) {
    context_.AskUser("O arquivo informado não é um banco de dados Firebird (.FDB).",
                     MessageKind::Error, MessageButtons::Ok);
    return false;
  }
  if (!context_.BackupPath().empty() && SamePath(path, context_.BackupPath())) {
    context_.AskUser("O arquivo \"" + path + "\" é o backup informado e não será sobrescrito.",
                     MessageKind::Error, MessageButtons::Ok);
    return false;
  }
  return true;
}

void TRecoveryRun::AcessoExclusivo() {
  Running(kAcessoExclusivo);
  if (Guarded("acessoExclusivo() -> Excetion: \r", false,
              [&] { return steps_.acessoExclusivo(); })) {
    Finished(kAcessoExclusivo, kSuccess, "Acesso obtido.");
  } else {
    Finished(kAcessoExclusivo, kFailure, "Não foi possível obter acesso exlusivo.");
    runVerdict_ = 1;
    Stop();
  }
}

void TRecoveryRun::CriarCopia() {
  const std::string failure = "Não foi possível realizar a cópia de segurança.";
  copyPath_ = CopyPathFor(context_.DatabasePath());
  Running(kCriarCopia);
  if (!IsSafeTarget(copyPath_)) {
    // Every later name would be just as wrong: go no further.
    Finished(kCriarCopia, kFailure, failure);
    Stop();
    return;
  }
  if (Guarded("doCopy() -> Excetion: ", false,
              [&] { return steps_.doCopy(context_.DatabasePath(), copyPath_); })) {
    Finished(kCriarCopia, kSuccess, "Cópia em: " + NamePart(copyPath_));
    return;
  }
  Finished(kCriarCopia, kFailure, failure);
  if (context_.AskUser(failure + "\rContinua assim mesmo?", MessageKind::Information,
                       MessageButtons::YesNo) != MessageAnswer::Yes) {
    Stop();
  }
}

void TRecoveryRun::ValidarDados() {
  Running(kValidarDados);
  if (Guarded("doValidate() -> Excetion: ", false,
              [&] { return steps_.doValidate(context_.DatabasePath()); })) {
    Finished(kValidarDados, kSuccess, "Banco não possui erros.");
    context_.ReportStep(kPrepararBackup, 0, 0, "");
    context_.ReportStep(kFazerBackupNivel01, 0, 0, "");
    context_.ReportStep(kRestaurarBancoNivel01, 0, 0, "");
    runVerdict_ = 2;
    Stop();
  } else {
    Finished(kValidarDados, kFailure, "Erros encontrados");
  }
}

void TRecoveryRun::PrepararBackup() {
  Running(kPrepararBackup);
  if (Guarded("doMend() -> Excetion: ", false, [&] { return steps_.doMend(); })) {
    Finished(kPrepararBackup, kSuccess, "Preparado para o backup");
  } else {
    Finished(kPrepararBackup, kFailure, "Não foi possível preparar para o backup");
    Stop();
  }
}

void TRecoveryRun::FazerBackupNivel01() {
  backupFilePath_ = BackupFilePathFor(context_.DatabasePath(), clock_());
  Running(kFazerBackupNivel01);
  if (IsSafeTarget(backupFilePath_) && Guarded("doBackup() -> Excetion: ", false, [&] {
        return steps_.doBackup(context_.DatabasePath(), backupFilePath_, kFazerBackupNivel01);
      })) {
    Finished(kFazerBackupNivel01, kSuccess, "Backup em: " + NamePart(backupFilePath_));
  } else {
    Finished(kFazerBackupNivel01, kFailure, "Erro durante o backup");
    Stop();
  }
}

void TRecoveryRun::RestaurarBancoNivel01() {
  restoredPath_ = RestoredPathFor(backupFilePath_);
  Running(kRestaurarBancoNivel01);
  if (SamePath(restoredPath_, backupFilePath_) || !IsSafeTarget(restoredPath_)) {
    // Nothing was restored, so there is nothing for level 2 to analyse.
    Finished(kRestaurarBancoNivel01, kFailure, "Restaurado, mas com erro.");
    Stop();
    return;
  }
  if (Guarded("doRestore() -> Excetion: ", false, [&] {
        return steps_.doRestore(backupFilePath_, restoredPath_, kRestaurarBancoNivel01);
      })) {
    Finished(kRestaurarBancoNivel01, kSuccess, "Restaurado em: " + NamePart(restoredPath_));
    runVerdict_ = 4;
    Stop();
  } else {
    Finished(kRestaurarBancoNivel01, kFailure, "Restaurado, mas com erro.");
  }
}

void TRecoveryRun::ProcurarOrfaos() {
  context_.Host().SetLevelRowsEnabled(true, 2);
  Running(kProcurarOrfaos);
  // Read the violations before anything else can touch the restore's output.
  constraintLines_ = getForeignKeyErrors(context_.RunLog());

  // The failed restore leaves its database in maintenance; nothing can read it
  // until it is brought online.
  if (!Guarded("bringOnline() -> Excetion: ", false,
               [&] { return steps_.bringOnline(restoredPath_); })) {
    Finished(kProcurarOrfaos, kFailure, "Não foi possível analisar o banco restaurado.");
    runVerdict_ = 3;
    Stop();
    return;
  }

  if (!constraintLines_.empty()) {
    inconsistencyList_ = std::make_unique<std::vector<std::unique_ptr<TInconsistency>>>();
    for (const std::string& line : constraintLines_) {
      std::unique_ptr<TInconsistency> record =
          Guarded("checkInconsistencies() -> Excetion: ", std::unique_ptr<TInconsistency>(),
                  [&] { return steps_.checkInconsistencies(restoredPath_, line); });
      if (record) {
        inconsistencyList_->push_back(std::move(record));
      }
    }
  }
  // A restore that failed means the database is not sound, found or not.
  runVerdict_ = 3;
  if (inconsistencyList_ && !inconsistencyList_->empty()) {
    Finished(kProcurarOrfaos, kSuccess, "Inconsistências encontradas.");
  } else {
    Finished(kProcurarOrfaos, kFailure, "Nenhuma inconsistência encontrada.");
  }
}

void TRecoveryRun::RecuperarDados() {
  if (!inconsistencyList_) {
    return;  // no violation line: passed over, the run goes on
  }
  if (inconsistencyList_->empty()) {
    Stop();
    return;
  }
  Running(kRecuperarDados);
  if (Guarded("doCopyDataFromOldBackup() -> Excetion: ", false,
              [&] { return steps_.doCopyDataFromOldBackup(*inconsistencyList_); })) {
    Finished(kRecuperarDados, kSuccess, "Dados encontrados");
  } else {
    Finished(kRecuperarDados, kFailure, "Não foi possível recuperar os dados necessários");
    runVerdict_ = 3;
    Stop();
  }
}

void TRecoveryRun::FazerBackupNivel02() {
  Running(kFazerBackupNivel02);
  if (Guarded("doBackup() -> Excetion: ", false, [&] {
        return steps_.doBackup(restoredPath_, backupFilePath_, kFazerBackupNivel02);
      })) {
    Finished(kFazerBackupNivel02, kSuccess, "Backup em: " + NamePart(backupFilePath_));
  } else {
    Finished(kFazerBackupNivel02, kFailure, "Erro durante o backup");
    Stop();
  }
}

bool TRecoveryRun::SetCorruptFileAside() {
  const std::string& database = context_.DatabasePath();
  std::string reason;
  for (int number = 1; number <= kMaxOldNumber; ++number) {
    oldPath_ = OldPathFor(database, number);
    if (SamePath(oldPath_, database)) {
      reason = "O arquivo informado não é um banco de dados Firebird (.FDB).";
      break;
    }
    const int error = RenameWithoutReplacing(database, oldPath_);
    if (error == 0) {
      return true;
    }
    if (error != EEXIST && error != ENOTEMPTY) {
      reason = std::strerror(error);
      break;
    }
    reason = "Todos os nomes para o banco corrompido já estão em uso.";
  }
  context_.AskUser("Não foi possível renomear o banco corrompido.\r" + database + " -> " +
                       oldPath_ + "\r" + reason,
                   MessageKind::Error, MessageButtons::Ok);
  return false;
}

void TRecoveryRun::RestaurarBancoNivel02() {
  // The restore replaces whatever stands at the database's name, so the corrupt
  // file must be out of the way first.
  if (!SetCorruptFileAside()) {
    Finished(kRestaurarBancoNivel02, kFailure, "Não foi possível renomear o banco corrompido.");
    runVerdict_ = 3;
    Stop();
    return;
  }
  restoredPath_ = context_.DatabasePath();
  Running(kRestaurarBancoNivel02);
  if (Guarded("doRestore() -> Excetion: ", false, [&] {
        return steps_.doRestore(backupFilePath_, context_.DatabasePath(), kRestaurarBancoNivel02);
      })) {
    Finished(kRestaurarBancoNivel02, kSuccess,
             "Restaurado em: " + NamePart(context_.DatabasePath()));
    runVerdict_ = 4;
  } else {
    Finished(kRestaurarBancoNivel02, kFailure, "Restaurado, mas com erro.");
    Stop();
  }
}

void TRecoveryRun::ValidacaoFinal() {
  Running(kValidacaoFinal);
  if (Guarded("doValidate() -> Excetion: ", false,
              [&] { return steps_.doValidate(context_.DatabasePath()); })) {
    Finished(kValidacaoFinal, kSuccess, "Banco não possui erros.");
    runVerdict_ = 4;
  } else {
    Finished(kValidacaoFinal, kFailure, "Erros encontrados");
    runVerdict_ = 3;
  }
}
