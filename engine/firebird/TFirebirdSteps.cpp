#include "engine/firebird/TFirebirdSteps.h"

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "engine/files/DerivedNames.h"
#include "engine/files/FileCopy.h"
#include "engine/files/SafeRename.h"
#include "engine/files/ServerFolder.h"
#include "engine/firebird/DamageLines.h"
#include "engine/firebird/RaisedError.h"
#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/firebird/TAttachment.h"
#include "engine/firebird/TBackupRetry.h"
#include "engine/firebird/TServerDialect.h"
#include "engine/rows/OlderBackupTables.h"
#include "engine/rows/TBackupFill.h"
#include "engine/rows/TBackupKinship.h"
#include "engine/rows/TCheckPause.h"
#include "engine/rows/TGoneRows.h"
#include "engine/rows/TOrphanRemoval.h"
#include "engine/rows/TPageRebuild.h"
#include "engine/rows/TPageRows.h"
#include "engine/rows/TTableLayout.h"
#include "engine/rows/TTableRescue.h"
#include "engine/rows/TableOrder.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TextUtil.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBOnlineValidationService.h"
#include "pages/TCommittedWrites.h"

namespace {

const char* const kServerName = "localhost";

// Server name, protocol, account and login prompt of every service request.
// A service left attached by an interrupted operation is detached first,
// since none of these may change while attached.
void PrepareService(TIBCustomService& service, const TCredentials& credentials) {
  if (service.Active()) {
    service.Detach();
  }
  service.SetServerName(kServerName);
  service.SetProtocol(TCP);
  service.SetLoginPrompt(false);
  service.ClearParams();
  service.AddParam("user_name=" + credentials.User());
  service.AddParam("password=" + credentials.Password());
  if (!credentials.Role().empty()) {
    service.AddParam("sql_role_name=" + credentials.Role());
  }
}

// Detaches a service when the routine leaves, whatever happens.
class ServiceDetacher {
 public:
  explicit ServiceDetacher(TIBCustomService& service) : service_(service) {}
  ~ServiceDetacher() {
    try {
      service_.SetActive(false);
    } catch (...) {
      // The handle is cleared even when the server call fails.
    }
  }
  ServiceDetacher(const ServiceDetacher&) = delete;
  ServiceDetacher& operator=(const ServiceDetacher&) = delete;

 private:
  TIBCustomService& service_;
};

// Detaches a database when the routine leaves, whatever happens.
class DatabaseCloser {
 public:
  explicit DatabaseCloser(TIBDatabase& database) : database_(database) {}
  ~DatabaseCloser() {
    try {
      database_.Close();
    } catch (...) {
      database_.ForceClose();
    }
  }
  DatabaseCloser(const DatabaseCloser&) = delete;
  DatabaseCloser& operator=(const DatabaseCloser&) = delete;

 private:
  TIBDatabase& database_;
};

// The lines of a composed server message (joined by CR LF; LF alone also ends
// a line). A final line break adds no empty line.
std::vector<std::string> MessageLines(const std::string& message) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string::npos) {
      end = message.size();
    }
    std::string line = message.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// How the closing names a program that took the maintenance's one place.
constexpr const char* kIntruderTookThePlace =
    "Outra conexão ocupou o banco de dados enquanto ele estava em manutenção para o reparo";

// True when the text holds nothing but characters of code 32 or less.
bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 32) {
      return false;
    }
  }
  return true;
}

}  // namespace

// Releases the run's own attachment for one use of the database by the run,
// and takes it back afterwards while the database is still kept out.
class TFirebirdSteps::THoldGap {
 public:
  THoldGap(TFirebirdSteps& steps, const std::string& databasePath)
      : steps_(steps), gap_(databasePath == steps.context_.DatabasePath()) {
    if (gap_) {
      steps_.ReleaseDatabase();
      steps_.GapOpened();
    }
  }
  ~THoldGap() {
    if (gap_) {
      steps_.GapClosing();
      steps_.HoldDatabase();
    }
  }
  THoldGap(const THoldGap&) = delete;
  THoldGap& operator=(const THoldGap&) = delete;

 private:
  TFirebirdSteps& steps_;
  bool gap_;
};

const char* const TFirebirdSteps::kMonitoringQuery =
    " select   mon$attachment_id, mon$remote_address, mon$remote_process from   "
    "mon$attachments  where    mon$attachment_id <> current_connection and mon$system_flag = 0";

TFirebirdSteps::TFirebirdSteps(TRecoveryContext& context)
    : context_(context),
      targetConnection_(context.Credentials()),
      sourceConnection_(context.Credentials()),
      holder_(context.Credentials()) {
  // Every service reaches the server over TCP at localhost; the routines set
  // the rest per operation.
  for (TIBCustomService* service : std::initializer_list<TIBCustomService*>{
           &validationService_, &backupService_, &restoreService_, &configService_}) {
    service->SetServerName(kServerName);
    service->SetProtocol(TCP);
  }
}

TFirebirdSteps::~TFirebirdSteps() = default;

std::unique_ptr<IRecoverySteps> TFirebirdSteps::Create(TRecoveryContext& context) {
  return std::make_unique<TFirebirdSteps>(context);
}

std::string TFirebirdSteps::ListOtherAttachments() {
  TIBQuery& query = targetConnection_.Query();
  query.SQL().SetText(kMonitoringQuery);
  query.Open();
  std::string list;
  while (!query.AtEnd()) {
    if (!list.empty()) {
      list += "\r";
    }
    list += query.FieldNamed("mon$remote_address").AsString() + " [" +
            query.FieldNamed("mon$remote_process").AsString() + "]";
    query.Next();
  }
  query.Close();
  // The server keeps one snapshot of the monitoring tables per transaction:
  // end it, so the next look sees attachments that have gone since.
  if (targetConnection_.Transaction().Active()) {
    targetConnection_.Transaction().Commit();
  }
  return list;
}

std::string TFirebirdSteps::otherAttachments(const std::string& databasePath) {
  if (databasePath == context_.DatabasePath() && !intruder_.empty()) {
    return intruder_;
  }
  const THoldGap gap(*this, databasePath);
  targetConnection_.SetDatabasePath(databasePath);
  targetConnection_.Database().Open();
  DatabaseCloser closer(targetConnection_.Database());
  return ListOtherAttachments();
}

int TFirebirdSteps::ShutDownMode() {
  TIBQuery& query = targetConnection_.Query();
  query.SQL().SetText(" select mon$shutdown_mode from mon$database");
  query.Open();
  const int mode = query.AtEnd() ? 0 : std::stoi(query.Fields(0).AsString());
  query.Close();
  if (targetConnection_.Transaction().Active()) {
    targetConnection_.Transaction().Commit();
  }
  return mode;
}

IRecoverySteps::AccessResult TFirebirdSteps::acessoExclusivo() {
  TIBDatabase& database = targetConnection_.Database();

  targetConnection_.SetDatabasePath(context_.DatabasePath());
  try {
    database.Open();
  } catch (const EIBInterBaseError& error) {
    return AccessResult(TServerDialect::ClassifyAttach(error.EngineCode()), error.what());
  }
  DatabaseCloser closer(database);

  try {
    if (ShutDownMode() != 0) {
      // Left so by a repair that was killed, or by an administrator: single
      // user admits this attachment, and the run would go on in a database
      // nobody else can reach.
      if (context_.Ask(QuestionId::DatabaseShutDown,
                       "O banco de dados está em modo de manutenção (shutdown): só uma conexão "
                       "de cada vez, do SYSDBA ou do dono, consegue entrar. Uma reparação "
                       "interrompida ou um administrador o deixou assim; nenhuma outra "
                       "reparação deste banco está em andamento.\r\rDeseja colocá-lo online e "
                       "continuar?",
                       MessageKind::Confirmation, MessageAnswer::No) != MessageAnswer::Yes) {
        return Access::ShutDown;
      }
      database.Close();
      if (!bringOnline(context_.DatabasePath())) {
        return Access::ShutDown;
      }
      context_.WriteLog("Banco colocado online a pedido do operador.");
      database.Open();
    }
    for (;;) {
      const std::string list = ListOtherAttachments();
      if (list.empty()) {
        return Access::Granted;
      }
      if (context_.Ask(QuestionId::RetryActiveConnections,
                       "Existem conexões ativas que impedem a continuidade do processo.\r" + list +
                           "\r\r" + "Deseja tentar novamente?",
                       MessageKind::Confirmation) != MessageAnswer::Yes) {
        return Access::OthersAttached;
      }
    }
  } catch (const std::exception& error) {
    const std::string text =
        std::string("acessoExclusivo() -> Excetion: \r") + error.what() + "\r\r" +
        "Não foi possível validar acesso exclusivo." + "\r" +
        "É possível continuar, desde que seja interrompido todo acesso ao banco de dados pelo "
        "sistema, serviços e outras possíveis conexões ativas." +
        "\r" + "Deseja continuar assim mesmo?";
    // Going on unchecked is the operator's choice, never the default.
    return context_.Ask(QuestionId::ContinueUnverifiedAccess, text, MessageKind::Error,
                        MessageAnswer::No) == MessageAnswer::Yes
               ? Access::Unverified
               : Access::OthersAttached;
  }
}

StepResult TFirebirdSteps::doCopy(const std::string& source, const std::string& target) {
  try {
    CopyWholeFile(source, target, [this] { context_.ThrowIfCancelled(); });
    // Read now, on a thread of its own, for the count of destroyed rows at
    // the end: the copy is never written again.
    copyReading_.Start(target);
    return true;
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
}

void TFirebirdSteps::RunRepairAction(StepKey key) {
  bool cleared = false;
  context_.ThrowIfCancelled();
  try {
    // The server answers the start only once the whole validation or mend
    // is done; neither can be stopped once begun.
    validationService_.ServiceStart();
    context_.ClearLog();
    cleared = true;
    while (!validationService_.AtEnd()) {
      context_.ThrowIfCancelled();
      context_.WriteLog(validationService_.ReadOutputLine());
    }
  } catch (const ERunAborted&) {
    try {
      while (validationService_.Active() && !validationService_.AtEnd()) {
        validationService_.ReadOutputLine();
      }
    } catch (const std::exception&) {
      // its summary status: the work has ended
    }
    throw;
  } catch (const EIBInterBaseError& error) {
    if (!TServerDialect::IsValidationSummary(error.EngineCode())) {
      throw;
    }
    if (!cleared) {
      context_.ClearLog();
    }
    for (const std::string& line : MessageLines(error.what())) {
      context_.WriteLog(line);
    }
  }
  context_.SnapshotStepLog(key);
  validationService_.SetActive(false);
}

StepResult TFirebirdSteps::doValidate(const std::string& databasePath) {
  try {
    ServiceDetacher detacher(validationService_);
    PrepareService(validationService_, context_.Credentials());
    validationService_.SetDatabaseName(databasePath);
    validationService_.SetActive(true);
    validationService_.SetOptions({TValidateOption::ValidateDB, TValidateOption::ValidateFull});
    RunRepairAction(StepKey::ValidarDados);
    const std::string text = context_.RunLogText();
    return IsBlank(text) || TServerDialect::ValidationFoundNothing(text);
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
}

StepResult TFirebirdSteps::doMend() {
  const THoldGap gap(*this, context_.DatabasePath());
  try {
    // Server, database and account stay as the last validation left them.
    ServiceDetacher detacher(validationService_);
    validationService_.SetActive(true);
    validationService_.SetOptions({TValidateOption::MendDB});
    RunRepairAction(StepKey::PrepararBackup);
    const std::string text = context_.RunLogText();
    return IsBlank(text) || TServerDialect::IsValidationSummaryText(text);
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
}

void TFirebirdSteps::ReadServiceOutput(TIBControlAndQueryService& service, StepKey key,
                                       const std::string& database, const std::string& output) {
  context_.ThrowIfCancelled();
  // Only a file this operation makes may be removed after a cancel.
  const bool outputWasFree = PathIsFree(output);
  service.ServiceStart();
  try {
    context_.ClearLog();
    while (!service.AtEnd()) {
      context_.ThrowIfCancelled();
      context_.WriteLog(service.ReadOutputLine());
    }
  } catch (const ERunAborted&) {
    // Leaving now would leave the server writing on its own: a detached
    // backup or restore runs to its end. Stop it where the server allows it,
    // else wait for it, and remove the half-written file.
    StopCancelledOperation(service, key, database, outputWasFree ? output : std::string());
    throw;
  }
}

void TFirebirdSteps::StopCancelledOperation(TIBControlAndQueryService& service, StepKey key,
                                            const std::string& database,
                                            const std::string& output) {
  context_.StopThrowingOnCancel();
  const bool backup = &service == &backupService_;
  if (backup) {
    // The server ends a backup whose attachment is deleted, and deletes the
    // backup file itself.
    try {
      EndServiceAttachments(database);
    } catch (const std::exception&) {
      // Then the backup runs to its end; the wait below covers that.
    }
  }
  try {
    context_.ReportStep(key, StepPhase::Running, StepOutcome::None,
                        "Cancelando… aguardando o servidor");
  } catch (const ERunAborted&) {
    // The front end is gone; the wait and the clean-up still happen.
  }
  try {
    while (service.Active() && !service.AtEnd()) {
      service.ReadOutputLine();
    }
  } catch (const std::exception&) {
    // The ended operation answers with the server's error: expected here.
  }
  if (!output.empty()) {
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
  }
}

void TFirebirdSteps::EndServiceAttachments(const std::string& databasePath) {
  // The monitoring tables show the attachments of the database they are
  // read in; a service's has neither a process nor a process id.
  TConnection connection(context_.Credentials());
  connection.SetDatabasePath(databasePath);
  connection.Database().Open();
  DatabaseCloser closer(connection.Database());
  connection.Query().SQL().SetText(
      " delete from mon$attachments where mon$system_flag = 0 and mon$remote_process is null and "
      "mon$remote_pid is null and mon$attachment_id <> current_connection");
  connection.Query().ExecQuery();
  connection.Transaction().Commit();
}

StepResult TFirebirdSteps::RunBackup(const std::string& databasePath, const std::string& backupFile,
                                     StepKey key, const std::string& skipPattern) {
  try {
    {
      PrepareService(backupService_, context_.Credentials());
      backupService_.SetActive(true);
      ServiceDetacher detacher(backupService_);
      backupService_.SetVerbose(true);
      if (key != StepKey::FazerBackupNivel01) {
        backupService_.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
      } else {
        // Level 1 reads a damaged file: collecting garbage there walks old
        // record versions on missing pages and fails at random places, and
        // frees pages, which a destroyed page inventory cannot record.
        TBackupOptions options{TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable,
                               TBackupOption::NoGarbageCollection};
        if (keptOut_ && databasePath == context_.DatabasePath()) {
          // No trigger of the database's own writes at the backup's attach:
          // whatever is written in it from now on counts as someone else's.
          options.Include(TBackupOption::NoDatabaseTriggers);
        }
        backupService_.SetOptions(options);
      }
      backupService_.SetDatabaseName(databasePath);
      backupService_.SetBackupFile({backupFile});
      backupService_.SetSkipData(skipPattern);
      ReadServiceOutput(backupService_, key, databasePath, backupFile);
      context_.SnapshotStepLog(key);
    }
    return TServerDialect::BackupFinished(context_.RunLogText());
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
}

std::string TFirebirdSteps::FailedTable(const std::string& databasePath,
                                        const std::string& failure) {
  std::vector<std::string> lines = context_.RunLog();
  for (const std::string& line : MessageLines(failure)) {
    lines.push_back(line);
  }
  const TBackupRetry::TStop stop = TBackupRetry::FindStop(lines);
  if (!stop.Table.empty() || stop.PointerPage == 0) {
    return stop.Table;
  }
  try {
    TConnection connection(context_.Credentials());
    TAttachment attachment(connection, databasePath);
    return TBackupRetry::TableOfPointerPage(connection, stop.PointerPage);
  } catch (const std::exception&) {
    return {};
  }
}

StepResult TFirebirdSteps::doBackup(const std::string& databasePath, const std::string& backupFile,
                                    StepKey key) {
  // The operator's database, held by the run: whatever someone else commits
  // in it from now on, in the moments the run gives its one attachment up,
  // is numbered after the holder's transaction read here.
  std::uint64_t holderBefore = 0;
  if (databasePath == context_.DatabasePath() && keptOut_ && holder_.Database().Connected()) {
    try {
      holderBefore = HolderTransaction();
    } catch (const std::exception& error) {
      context_.WriteLog("Não foi possível ler a transação do banco antes do backup: " +
                        std::string(error.what()));
    }
  }
  const StepResult result = BackUpWithRetries(databasePath, backupFile, key);
  if (result && holderBefore != 0 && intruder_.empty() && holder_.Database().Connected()) {
    FindWritesAfter(holderBefore);
  }
  return result;
}

std::string TFirebirdSteps::HolderValue(const std::string& sql) {
  TIBQuery& query = holder_.Query();
  query.SQL().SetText(sql);
  query.Open();
  std::string value = query.AtEnd() ? std::string() : query.Fields(0).AsString();
  query.Close();
  holder_.Transaction().Commit();
  return value;
}

std::uint64_t TFirebirdSteps::HolderTransaction() {
  return std::stoull(HolderValue("select current_transaction from rdb$database"));
}

void TFirebirdSteps::FindWritesAfter(std::uint64_t holderBefore) {
  // A program that attached, wrote and left while the run's attachment was
  // given up leaves nobody to see; its record versions stay on the pages,
  // numbered between the holder's two transactions (the backup's own
  // transactions write nothing).
  try {
    const std::uint64_t holderNow = HolderTransaction();
    const TCommittedWrites writes =
        TCommittedWrites::Find(context_.DatabasePath(), holderBefore + 1, holderNow);
    if (writes.versions == 0) {
      return;
    }
    std::vector<std::string> tables;
    for (const std::uint16_t relation : writes.relations) {
      tables.push_back(RelationName(relation));
    }
    intruder_ = std::string(kIntruderTookThePlace) +
                " e gravou nele depois que o backup começou (" + std::to_string(writes.versions) +
                " versões de registro, nas tabelas " + JoinedNames(tables) +
                "); o que ela gravou não está no banco restaurado.";
  } catch (const std::exception& error) {
    context_.WriteLog(
        "Não foi possível verificar se outra conexão gravou no banco durante o "
        "backup: " +
        std::string(error.what()));
  }
}

std::string TFirebirdSteps::RelationName(std::uint16_t relationId) {
  const std::string name =
      HolderValue("select trim(rdb$relation_name) from rdb$relations where rdb$relation_id = " +
                  std::to_string(relationId));
  return name.empty() ? "(relação " + std::to_string(relationId) + ")" : name;
}

StepResult TFirebirdSteps::BackUpWithRetries(const std::string& databasePath,
                                             const std::string& backupFile, StepKey key) {
  const THoldGap gap(*this, databasePath);
  // Only a file this routine makes may be removed between attempts.
  const bool fileWasFree = PathIsFree(backupFile);
  TBackupRetry retry;
  skippedTables_.clear();
  for (;;) {
    const StepResult result = RunBackup(databasePath, backupFile, key, retry.Pattern());
    if (result) {
      if (databasePath == context_.DatabasePath()) {
        // Whoever took the one attachment before had left when this backup
        // began: what they wrote is in it. Only a later intrusion counts.
        intruder_.clear();
      }
      skippedTables_ = retry.Skipped();
      if (!skippedTables_.empty()) {
        context_.WriteLog("Backup concluído sem as linhas das tabelas ilegíveis: " +
                          JoinedNames(skippedTables_));
        context_.SnapshotStepLog(key);
      }
      return true;
    }
    // A table whose rows cannot be read: back up again without them; they
    // are rebuilt row by row after the restore.
    const std::string table = FailedTable(databasePath, result.error);
    if (table.empty() || !retry.Skip(table)) {
      return result;
    }
    if (fileWasFree) {
      std::error_code ignored;
      std::filesystem::remove(backupFile, ignored);
    }
  }
}

StepResult TFirebirdSteps::doRestore(const std::string& backupFile, const std::string& databasePath,
                                     StepKey key) {
  try {
    {
      PrepareService(restoreService_, context_.Credentials());
      restoreService_.SetActive(true);
      ServiceDetacher detacher(restoreService_);
      restoreService_.SetVerbose(true);
      // Never Replace: a file that took the name meanwhile makes the restore
      // fail instead of being overwritten. The page size is the backup's own:
      // a smaller one can make long index keys fail.
      TRestoreOptions options{TRestoreOption::OneRelationAtATime, TRestoreOption::CreateNewDB};
      if (restoreInactive_) {
        options.Include(TRestoreOption::DeactivateIndexes);
      }
      restoreService_.SetOptions(options);
      restoreService_.SetPageBuffers(3000);
      restoreService_.SetPageSize(0);  // none sent: the backup's own
      restoreService_.SetDatabaseName({databasePath});
      restoreService_.SetBackupFile({backupFile});
      restoreService_.SetSkipData(restoreSkipData_);
      ReadServiceOutput(restoreService_, key, backupFile, databasePath);
      context_.SnapshotStepLog(key);
    }
    const std::string output = context_.RunLogText();
    // A restore whose foreign keys failed also finishes; a truncated backup
    // restores without an error line and without finishing.
    return !TServerDialect::IsErrorLine(output) && TServerDialect::RestoreFinished(output);
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
}

StepResult TFirebirdSteps::bringOnline(const std::string& databasePath) {
  const bool own = databasePath == context_.DatabasePath();
  if (own) {
    // Online again: the run's own attachment is given up for good.
    keptOut_ = false;
    ReleaseDatabase();
  }
  // A program that took the maintenance's one place keeps the service out
  // too: the database is brought online once it leaves.
  constexpr int kAttempts = 40;
  for (int attempt = 1;; ++attempt) {
    const StepResult result = BringOnlineOnce(databasePath);
    if (result || !own || result.failure != StepFailure::ShutDown || attempt == kAttempts) {
      return result;
    }
    if (attempt == 1) {
      context_.WriteLog(
          "Outra conexão ocupa o banco de dados em manutenção; aguardando que ela saia para "
          "colocá-lo online…");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

StepResult TFirebirdSteps::BringOnlineOnce(const std::string& databasePath) {
  try {
    ServiceDetacher detacher(configService_);
    PrepareService(configService_, context_.Credentials());
    configService_.SetDatabaseName(databasePath);
    configService_.SetActive(true);
    configService_.BringDatabaseOnline();
    return true;
  } catch (const std::exception& error) {
    if (TServerDialect::AlreadyOnline(error.what())) {
      return true;
    }
    return RaisedError(error);
  }
}

void TFirebirdSteps::HoldDatabase() {
  if (!keptOut_ || holder_.Database().Connected()) {
    return;
  }
  try {
    holder_.SetDatabasePath(context_.DatabasePath());
    // The run writes nothing in the operator's database, not even through
    // a trigger of its own on connect.
    holder_.Database().AddParam("no_db_triggers=1");
    holder_.Database().Open();
  } catch (const std::exception& error) {
    // Someone took the one attachment in the gap and may have written since
    // the backup: the swap is refused, even if they have left by then.
    holder_.Database().ForceClose();
    if (intruder_.empty()) {
      intruder_ = std::string(kIntruderTookThePlace) +
                  "; o que ela gravou pode não estar no banco restaurado.\r" + error.what();
    }
  }
}

void TFirebirdSteps::releaseDatabase() {
  keptOut_ = false;
  ReleaseDatabase();
}

void TFirebirdSteps::ReleaseDatabase() {
  if (holder_.Database().Connected()) {
    try {
      holder_.Database().Close();
    } catch (const std::exception&) {
      holder_.Database().ForceClose();
    }
  }
}

std::optional<TableLosses> TFirebirdSteps::rebuildFromPages(const std::string& targetPath,
                                                            std::string& failure) {
  std::error_code error;
  const std::string& backup = context_.BackupPath();
  if (backup.empty() || !std::filesystem::is_regular_file(backup, error)) {
    failure = "Sem um backup anterior não há de onde tirar a estrutura das tabelas.";
    return std::nullopt;
  }
  // The schema only: every table's rows are left out of this restore, and
  // its indexes inactive, so that no foreign key refuses a row whose parent
  // comes later (tables that refer to each other have no such order).
  restoreSkipData_ = "%";
  restoreInactive_ = true;
  const StepResult restored = doRestore(backup, targetPath, StepKey::RestaurarBancoNivel01);
  restoreSkipData_.clear();
  restoreInactive_ = false;
  if (!restored) {
    failure = "O backup anterior não pôde ser restaurado para dar a estrutura das tabelas." +
              (restored.WasRaised() ? "\r" + restored.error : std::string());
    return std::nullopt;
  }
  try {
    TConnection target(context_.Credentials());
    target.SetDatabasePath(targetPath);
    TAttachment attachment(target);
    TCheckPause checks(target, UserTables(target.Query()));
    TableLosses losses =
        TPageRebuild(context_, target, TPageRows::PristineCopyOf(context_.DatabasePath())).Fill();
    checks.Resume();
    if (!checks.Paused().empty()) {
      context_.WriteLog("Restrições CHECK retiradas durante a reconstrução e recriadas depois: " +
                        JoinedNames(checks.Paused()));
    }
    attachment.Detach();
    // The keys for the lookups to come; a foreign key whose parents are
    // missing stays inactive until they are brought or the rows go.
    activateIndexes(targetPath);
    return losses;
  } catch (const std::exception& e) {
    failure = e.what();
  }
  return std::nullopt;
}

std::string TFirebirdSteps::folderProblem(const std::string& folder) {
  return ServerCannotWriteIn(folder);
}

IRecoverySteps::Exclusion TFirebirdSteps::keepOthersOut(const std::string& databasePath) {
  Exclusion exclusion;
  try {
    ServiceDetacher detacher(configService_);
    PrepareService(configService_, context_.Credentials());
    configService_.SetDatabaseName(databasePath);
    configService_.SetActive(true);
    configService_.ShutDownSingleUser();
    exclusion.keptOut = true;
    keptOut_ = true;
  } catch (const std::exception& error) {
    exclusion.refusal = error.what();
  }
  HoldDatabase();
  return exclusion;
}

TTriage::Result TFirebirdSteps::triage(const std::string& databasePath) {
  return TTriage::Examine(databasePath);
}

std::vector<std::string> TFirebirdSteps::skippedTables() const {
  return skippedTables_;
}

StepResult TFirebirdSteps::rebuildTables(const std::vector<std::string>& tables,
                                         const std::string& restoredPath) {
  const THoldGap gap(*this, context_.DatabasePath());
  bool result = true;
  try {
    TConnection damaged(context_.Credentials());
    damaged.SetDatabasePath(context_.DatabasePath());
    TConnection target(context_.Credentials());
    target.SetDatabasePath(restoredPath);
    // The rows the damaged file no longer gives may still be in the older
    // backup: restore it beside the database when there is one.
    std::unique_ptr<TConnection> older;
    std::error_code error;
    const std::string& backup = context_.BackupPath();
    if (!backup.empty() && std::filesystem::is_regular_file(backup, error)) {
      const std::string temporary = TSalvage::TemporaryPath(context_.DatabasePath());
      const StepResult restored = temporary.empty()
                                      ? StepResult(false)
                                      : doRestore(backup, temporary, StepKey::RecuperarDados);
      if (restored.WasRaised()) {
        context_.WriteLog("O backup anterior não pôde ser restaurado: " + restored.error);
      }
      if (restored) {
        rescueTemporary_ = temporary;
        older = std::make_unique<TConnection>(context_.Credentials());
        older->SetDatabasePath(temporary);
        if (!AcceptOlderBackup(target, *older)) {
          older.reset();
        }
      } else if (!temporary.empty() && !PathIsFree(temporary)) {
        rescueTemporary_ = temporary;
      }
    }
    // Parents first: a child's rows refused for want of their parent would
    // be lost rows.
    TableOrder order;
    {
      TAttachment attachment(target);
      order = ParentsFirstTables(tables, [&](const std::string& table) {
        return TTableLayout::Read(target, table).ParentTables();
      });
      if (target.Transaction().Active()) {
        target.Transaction().Commit();
      }
    }
    if (!order.cycle.empty()) {
      context_.WriteLog("Tabelas que se referem umas às outras, refeitas sem ordem garantida: " +
                        JoinedNames(order.cycle));
    }
    // The pages are read from the copy taken before the validation, which
    // freed the data pages a lost pointer page no longer reaches.
    TTableRescue rescue(context_, damaged, target, older.get(),
                        TPageRows::PristineCopyOf(context_.DatabasePath()));
    rescueLosses_.clear();
    for (const std::string& table : order.order) {
      try {
        const TTableRescue::TCounts counts = rescue.Rescue(table);
        TableLoss& loss = rescueLosses_[table];
        loss.fromOlderBackup = counts.FromOlderBackup;
        loss.lost = counts.Lost;
        loss.known = counts.LostKnown;
      } catch (const std::exception& tableError) {
        context_.WriteLog("Tabela " + table +
                          ": não foi possível refazer as linhas: " + tableError.what());
        result = false;
      }
    }
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
  return result;
}

std::vector<std::string> TFirebirdSteps::damagedTables(const std::string& databasePath) {
  // Read only: the online validation changes nothing and names the tables.
  TIBOnlineValidationService service;
  std::vector<std::string> output;
  try {
    ServiceDetacher detacher(service);
    PrepareService(service, context_.Credentials());
    service.SetDatabaseName(databasePath);
    service.SetActive(true);
    service.ServiceStart();
    while (!service.AtEnd()) {
      context_.ThrowIfCancelled();
      output.push_back(service.ReadOutputLine());
    }
  } catch (const std::exception& error) {
    context_.WriteLog(std::string("A validação online não pôde apontar as tabelas danificadas: ") +
                      error.what());
  }
  const std::vector<std::string> tables = TablesWithErrors(output);
  if (!tables.empty()) {
    context_.WriteLog("Tabelas com erros, segundo a validação online: " + JoinedNames(tables));
  }
  return tables;
}

std::string TFirebirdSteps::OlderBackupDatabase(const std::vector<std::string>& tables) {
  // The salvage's restore serves only when it holds the rows of every table
  // asked for.
  const bool salvageServes = RestoredWithRows(tables).size() == tables.size();
  for (const std::string& restored : {salvageServes ? salvage_.TemporaryDatabase() : std::string(),
                                      rescueTemporary_, fillTemporary_}) {
    if (!restored.empty() && !PathIsFree(restored)) {
      return restored;
    }
  }
  std::error_code error;
  const std::string& backup = context_.BackupPath();
  if (backup.empty() || !std::filesystem::is_regular_file(backup, error)) {
    return {};
  }
  const std::string temporary = TSalvage::TemporaryPath(context_.DatabasePath());
  if (temporary.empty()) {
    return {};
  }
  const StepResult restored = doRestore(backup, temporary, StepKey::RecuperarDados);
  if (!PathIsFree(temporary)) {
    fillTemporary_ = temporary;
  }
  if (restored.WasRaised()) {
    context_.WriteLog("O backup anterior não pôde ser restaurado: " + restored.error);
  }
  return restored ? temporary : std::string();
}

bool TFirebirdSteps::AcceptOlderBackup(TConnection& repaired, TConnection& older) {
  if (olderBackupAccepted_) {
    return *olderBackupAccepted_;
  }
  TAttachment repairedAttachment(repaired);
  TAttachment olderAttachment(older);
  const TBackupKinship::TResult kinship =
      TBackupKinship::Compare(repaired, older, RestoredWithRows(UserTables(repaired.Query())));
  for (TConnection* connection : {&repaired, &older}) {
    if (connection->Transaction().Active()) {
      connection->Transaction().Rollback();  // only read
    }
  }
  context_.WriteLog("Backup anterior comparado com o banco reparado: " + kinship.Text() + ".");
  bool accepted = true;
  if (kinship.Foreign()) {
    accepted =
        context_.Ask(QuestionId::ForeignBackup,
                     "O backup anterior parece ser de outro banco de dados: " + kinship.Text() +
                         ".\rRegistros trazidos dele podem ser de outra empresa ou de "
                         "outro sistema.\r\rDeseja usá-lo assim mesmo?",
                     MessageKind::Warning, MessageAnswer::No) == MessageAnswer::Yes;
    context_.WriteLog(accepted ? "O operador escolheu usar o backup anterior assim mesmo."
                               : "O backup anterior não foi usado: parece ser de outro banco.");
  }
  olderBackupAccepted_ = accepted;
  return accepted;
}

std::optional<TableLosses> TFirebirdSteps::fillFromOlderBackup(
    const std::vector<std::string>& tables, const std::string& databasePath) {
  const std::string older = OlderBackupDatabase(tables);
  if (older.empty()) {
    return std::nullopt;
  }
  TConnection target(context_.Credentials());
  target.SetDatabasePath(databasePath);
  TConnection source(context_.Credentials());
  source.SetDatabasePath(older);
  if (!AcceptOlderBackup(target, source)) {
    return std::nullopt;
  }
  return TBackupFill(context_, target, source).Fill(tables);
}

StepResult TFirebirdSteps::activateIndexes(const std::string& databasePath) {
  try {
    TConnection connection(context_.Credentials());
    TAttachment attachment(connection, databasePath);
    TIBQuery& query = connection.Query();
    query.SQL().SetText(
        " select rdb$index_name from rdb$indices where rdb$index_inactive <> 0 and "
        "coalesce(rdb$system_flag, 0) = 0"
        // A foreign key needs its partner's index active first.
        " order by iif(rdb$foreign_key is null, 0, 1)");
    query.Open();
    std::vector<std::string> inactive;
    while (!query.AtEnd()) {
      inactive.push_back(TrimText(query.Fields(0).AsString()));
      query.Next();
    }
    query.Close();
    connection.Transaction().Commit();
    bool all = true;
    for (const std::string& index : inactive) {
      try {
        query.SQL().SetText(" alter index " + SqlName(index) + " active");
        query.ExecQuery();
        connection.Transaction().Commit();
        context_.WriteLog("Índice ativado: " + index);
      } catch (const std::exception& error) {
        if (connection.Transaction().Active()) {
          connection.Transaction().Rollback();
        }
        context_.WriteLog("Índice " + index + " continua inativo: " + error.what());
        all = false;
      }
    }
    return all;
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
}

StepResult TFirebirdSteps::canAttach(const std::string& databasePath) {
  try {
    targetConnection_.SetDatabasePath(databasePath);
    targetConnection_.Database().Open();
    targetConnection_.Database().Close();
    return true;
  } catch (const std::exception& error) {
    targetConnection_.Database().ForceClose();
    return RaisedError(error);
  }
}

// ---------------------------------------------------------------------------
// Level 2: orphan search (step 7) and salvage from an older backup (step 8).
// Only the two bodies below belong to that work; keep them last in the file.
// ---------------------------------------------------------------------------

IRecoverySteps::InconsistencyCheck TFirebirdSteps::checkInconsistencies(
    const std::string& restoredPath, const std::string& line) {
  InconsistencyCheck check;
  try {
    check.record = orphanSearch_.checkInconsistencies(restoredPath, line);
  } catch (const std::exception& error) {
    check.errors.emplace_back(error.what());
  }
  for (std::string& error : orphanSearch_.TakeErrors()) {
    check.errors.push_back(std::move(error));
  }
  return check;
}

StepResult TFirebirdSteps::doCopyDataFromOldBackup(
    std::vector<std::unique_ptr<TInconsistency>>& list) {
  LimitOlderBackupRows(list);
  StepResult copied = salvage_.doCopyDataFromOldBackup(list);
  restoreSkipData_.clear();
  if (!olderRowTables_.empty() && !salvage_.TemporaryDatabase().empty()) {
    context_.WriteLog("Backup anterior restaurado com os registros de: " +
                      JoinedNames(olderRowTables_) + "; as demais tabelas, sem registros.");
  }
  return copied;
}

void TFirebirdSteps::LimitOlderBackupRows(
    const std::vector<std::unique_ptr<TInconsistency>>& list) {
  olderRowTables_.clear();
  if (wholeOlderBackup_) {
    return;
  }
  std::vector<std::string> wanted;
  for (const auto& record : list) {
    wanted.push_back(record->TableName);
  }
  wanted.insert(wanted.end(), olderReadTables_.begin(), olderReadTables_.end());
  try {
    // The orphan search left the target on the level-1 restored database,
    // whose foreign keys are defined even where they could not activate.
    TAttachment attachment(targetConnection_);
    const std::vector<std::string> kept = TablesWithParents(wanted, [&](const std::string& table) {
      return TTableLayout::Read(targetConnection_, table).ParentTables();
    });
    const std::string pattern = SkipDataPattern(UserTables(targetConnection_.Query()), kept);
    if (targetConnection_.Transaction().Active()) {
      targetConnection_.Transaction().Rollback();  // only read
    }
    if (!pattern.empty()) {
      restoreSkipData_ = pattern;
      olderRowTables_ = kept;
    }
  } catch (const std::exception&) {
    // Not known which tables are needed: every table's rows are restored.
    restoreSkipData_.clear();
    olderRowTables_.clear();
  }
}

std::vector<std::string> TFirebirdSteps::RestoredWithRows(
    const std::vector<std::string>& tables) const {
  if (olderRowTables_.empty() || salvage_.TemporaryDatabase().empty()) {
    return tables;
  }
  std::vector<std::string> restored;
  for (const std::string& table : tables) {
    if (std::find(olderRowTables_.begin(), olderRowTables_.end(), table) != olderRowTables_.end()) {
      restored.push_back(table);
    }
  }
  return restored;
}

std::optional<IRecoverySteps::RowCounts> TFirebirdSteps::olderBackupCounts() const {
  std::optional<RowCounts> counts = salvage_.OlderBackupCounts();
  if (counts && !olderRowTables_.empty()) {
    // A table restored without its rows says nothing of the backup's.
    RowCounts restored;
    for (const std::string& table : olderRowTables_) {
      const auto count = counts->find(table);
      if (count != counts->end()) {
        restored.insert(*count);
      }
    }
    counts = restored;
  }
  return counts;
}

IRecoverySteps::RowCounts TFirebirdSteps::salvagedCounts() const {
  return salvage_.CopiedRows();
}

std::string TFirebirdSteps::temporaryDatabase() const {
  for (const std::string& restored : {salvage_.TemporaryDatabase(), rescueTemporary_}) {
    if (!restored.empty()) {
      return restored;
    }
  }
  return fillTemporary_;
}

// ---------------------------------------------------------------------------
// For the run's report: row counts and the server's version, each over an
// attachment of its own, so that no routine above finds its connection moved.
// ---------------------------------------------------------------------------

IRecoverySteps::RowCounts TFirebirdSteps::rowCounts(const std::string& databasePath,
                                                    const std::vector<std::string>& tables) {
  TConnection connection(context_.Credentials());
  TAttachment attachment(connection, databasePath);
  TIBQuery& query = connection.Query();
  const std::vector<std::string> names = tables.empty() ? UserTables(query) : tables;
  RowCounts counts;
  for (const std::string& table : names) {
    context_.ThrowIfCancelled();
    query.SQL().SetText(" select count(*) from " + SqlName(table));
    query.Open();
    counts[table] = std::stoll(query.Fields(0).AsString());
    query.Close();
  }
  if (connection.Transaction().Active()) {
    connection.Transaction().Commit();
  }
  attachment.Detach();
  return counts;
}

std::string TFirebirdSteps::serverVersion(const std::string& databasePath) {
  TConnection connection(context_.Credentials());
  TAttachment attachment(connection, databasePath);
  TIBQuery& query = connection.Query();
  query.SQL().SetText(" select rdb$get_context('SYSTEM', 'ENGINE_VERSION') from rdb$database");
  query.Open();
  const std::string version = query.AtEnd() ? std::string() : query.Fields(0).AsString();
  query.Close();
  if (connection.Transaction().Active()) {
    connection.Transaction().Commit();
  }
  attachment.Detach();
  return version;
}

TableLosses TFirebirdSteps::destroyedRows(const std::string& copyPath,
                                          const std::string& resultPath) {
  TConnection result(context_.Credentials());
  result.SetDatabasePath(resultPath);
  TGoneRows gone(result, copyReading_.Take(copyPath));
  TableLosses losses = gone.Count();
  for (const std::string& note : gone.Notes()) {
    context_.WriteLog(note);
  }
  return losses;
}

TableLosses TFirebirdSteps::removeOrphans(const std::string& databasePath) {
  TConnection target(context_.Credentials());
  target.SetDatabasePath(databasePath);
  const TableLosses removed = TOrphanRemoval(target).Remove();
  for (const auto& [table, loss] : removed) {
    context_.WriteLog("Tabela " + table + ": " + std::to_string(loss.lost) +
                      " registros sem o registro pai removidos (nenhuma fonte tem o pai).");
  }
  return removed;
}
