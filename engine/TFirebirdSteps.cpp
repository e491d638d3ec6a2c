#include "engine/TFirebirdSteps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/ERunAborted.h"
#include "fbaccess/EIBInterBaseError.h"

namespace {

// The status with which Firebird 3 answers a validation or mend that found
// errors: "Summary of validation errors" and the count lines.
constexpr long kValidationSummary = 335740952;

const char* const kServerName = "localhost";
const char* const kUserParam = "user_name=sysdba";
const char* const kPasswordParam = "password=lumenrock";

// The server's answer when a database to bring online is online already.
const char* const kAlreadyOnline = "Target shutdown mode is invalid";
// The last words of every restore that read its backup to the end, also of one
// whose foreign keys failed. A truncated backup restores through the service
// manager without any error line and without these words.
const char* const kRestoreFinished = "finishing, closing, and going home";

// Server name, protocol, account and login prompt of every service request.
// A service left attached by an interrupted operation is detached first,
// since none of these may change while attached.
void PrepareService(TIBCustomService& service) {
  if (service.Active()) {
    service.Detach();
  }
  service.SetServerName(kServerName);
  service.SetProtocol(TCP);
  service.SetLoginPrompt(false);
  service.ClearParams();
  service.AddParam(kUserParam);
  service.AddParam(kPasswordParam);
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

// True when the text holds nothing but characters of code 32 or less.
bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 32) {
      return false;
    }
  }
  return true;
}

bool Contains(const std::string& text, const char* phrase) {
  return text.find(phrase) != std::string::npos;
}

std::string SystemError(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

// A file descriptor, closed when it goes away.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  int Get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a write error of the
  // file system may show only here).
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Removes a temporary file unless it was kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!kept_) {
      ::unlink(path_.c_str());
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& Path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

// Copies `source` to `target`, replacing it. The bytes go to a temporary file
// in the target's folder that takes the target's name only once it is
// complete and as long as the source, so a failed copy never leaves a partial
// file under the target's name. Throws std::runtime_error with the reason.
void CopyWholeFile(const std::string& source, const std::string& target) {
  FileHandle in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) {
    throw std::runtime_error(SystemError("Não foi possível abrir", source, errno));
  }
  struct stat sourceInfo {};
  if (::fstat(in.Get(), &sourceInfo) != 0) {
    throw std::runtime_error(SystemError("Não foi possível ler", source, errno));
  }

  std::string pattern = target + ".XXXXXX";
  FileHandle out(::mkostemp(pattern.data(), O_CLOEXEC));
  if (out.Get() < 0) {
    throw std::runtime_error(SystemError("Não foi possível criar", pattern, errno));
  }
  TemporaryFile partial(pattern);
  ::fchmod(out.Get(), sourceInfo.st_mode & 07777);

  std::vector<char> buffer(1 << 20);
  off_t written = 0;
  for (;;) {
    const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error(SystemError("Não foi possível ler", source, errno));
    }
    if (got == 0)
      break;
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put = ::write(out.Get(), buffer.data() + done, std::size_t(got - done));
      if (put < 0) {
        if (errno == EINTR)
          continue;
        throw std::runtime_error(SystemError("Não foi possível gravar", partial.Path(), errno));
      }
      done += put;
    }
    written += got;
  }

  // The source's size at the end of the copy: the copy must have read it all.
  if (::fstat(in.Get(), &sourceInfo) != 0) {
    throw std::runtime_error(SystemError("Não foi possível ler", source, errno));
  }
  if (written != sourceInfo.st_size) {
    throw std::runtime_error("A cópia de \"" + source + "\" ficou com " + std::to_string(written) +
                             " bytes, mas o arquivo tem " + std::to_string(sourceInfo.st_size) +
                             " bytes.");
  }
  if (::fsync(out.Get()) != 0 || !out.Close()) {
    throw std::runtime_error(SystemError("Não foi possível gravar", partial.Path(), errno));
  }
  if (std::rename(partial.Path().c_str(), target.c_str()) != 0) {
    throw std::runtime_error(SystemError("Não foi possível renomear para", target, errno));
  }
  partial.Keep();
}

}  // namespace

const char* const TFirebirdSteps::kMonitoringQuery =
    " select   mon$attachment_id, mon$remote_address, mon$remote_process from   "
    "mon$attachments  where    mon$attachment_id <> current_connection and mon$system_flag = 0";

TFirebirdSteps::TFirebirdSteps(TRecoveryContext& context) : context_(context) {
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

void TFirebirdSteps::ReportException(const std::string& prefix, const std::exception& error) {
  context_.AskUser(prefix + error.what(), MessageKind::Error, MessageButtons::Ok);
}

bool TFirebirdSteps::acessoExclusivo() {
  bool result = false;
  TIBDatabase& database = targetConnection_.Database();
  TIBQuery& query = targetConnection_.Query();

  // Not handled here: a database that cannot be attached leaves the routine.
  targetConnection_.SetDatabasePath(context_.DatabasePath());
  database.Open();
  DatabaseCloser closer(database);

  try {
    bool retry = true;
    while (!result && retry) {
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
      // The server keeps one snapshot of the monitoring tables per
      // transaction: end it, so the next pass sees attachments that have
      // gone in the meantime.
      if (targetConnection_.Transaction().Active()) {
        targetConnection_.Transaction().Commit();
      }

      if (list.empty()) {
        result = true;
      } else {
        retry = context_.AskUser(
                    "Existem conexões ativas que impedem a continuidade do "
                    "processo.\r" +
                        list + "\r\r" + "Deseja tentar novamente?",
                    MessageKind::Confirmation, MessageButtons::YesNo) == MessageAnswer::Yes;
      }
    }
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    const std::string text =
        std::string("acessoExclusivo() -> Excetion: \r") + error.what() + "\r\r" +
        "Não foi possível validar acesso exclusivo." + "\r" +
        "É possível continuar, desde que seja interrompido todo acesso ao banco de dados pelo "
        "sistema, serviços e outras possíveis conexões ativas." +
        "\r" + "Deseja continuar assim mesmo?";
    result =
        context_.AskUser(text, MessageKind::Error, MessageButtons::YesNo) == MessageAnswer::Yes;
  }
  return result;
}

bool TFirebirdSteps::doCopy(const std::string& source, const std::string& target) {
  bool result = false;
  try {
    bool overwrite = true;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
      overwrite =
          context_.AskUser("Arquivo já existe.\rDeseja sobrescrever o arquivo existente?",
                           MessageKind::Confirmation, MessageButtons::YesNo) == MessageAnswer::Yes;
    }
    if (overwrite) {
      CopyWholeFile(source, target);
      result = true;
    }
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    ReportException("doCopy() -> Excetion: ", error);
    result = false;
  }
  return result;
}

void TFirebirdSteps::RunRepairAction(int key) {
  bool cleared = false;
  try {
    validationService_.ServiceStart();
    context_.ClearLog();
    cleared = true;
    while (!validationService_.AtEnd()) {
      context_.WriteLog(validationService_.ReadOutputLine());
    }
  } catch (const EIBInterBaseError& error) {
    if (error.EngineCode() != kValidationSummary) {
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

bool TFirebirdSteps::doValidate(const std::string& databasePath) {
  bool result = false;
  try {
    ServiceDetacher detacher(validationService_);
    PrepareService(validationService_);
    validationService_.SetDatabaseName(databasePath);
    validationService_.SetActive(true);
    validationService_.SetOptions({TValidateOption::ValidateDB, TValidateOption::ValidateFull});
    RunRepairAction(3);
    const std::string text = context_.RunLogText();
    result = IsBlank(text) || Contains(text, "no errors found");
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    ReportException("doValidate() -> Excetion: ", error);
  }
  return result;
}

bool TFirebirdSteps::doMend() {
  bool result = false;
  try {
    // Server, database and account stay as the last validation left them.
    ServiceDetacher detacher(validationService_);
    validationService_.SetActive(true);
    validationService_.SetOptions({TValidateOption::MendDB});
    RunRepairAction(4);
    const std::string text = context_.RunLogText();
    result = IsBlank(text) || Contains(text, "Summary of validation errors");
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    ReportException("doMend() -> Excetion: ", error);
  }
  return result;
}

void TFirebirdSteps::ReadServiceOutput(TIBControlAndQueryService& service) {
  service.ServiceStart();
  context_.ClearLog();
  while (!service.AtEnd()) {
    context_.WriteLog(service.ReadOutputLine());
  }
}

bool TFirebirdSteps::doBackup(const std::string& databasePath, const std::string& backupFile,
                              int key) {
  bool result = false;
  try {
    {
      PrepareService(backupService_);
      backupService_.SetActive(true);
      ServiceDetacher detacher(backupService_);
      backupService_.SetVerbose(true);
      backupService_.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
      backupService_.SetDatabaseName(databasePath);
      backupService_.SetBackupFile({backupFile});
      ReadServiceOutput(backupService_);
      context_.SnapshotStepLog(key);
    }
    result = Contains(context_.RunLogText(), "closing file, committing, and finishing");
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    ReportException("doBackup() -> Excetion: ", error);
  }
  return result;
}

bool TFirebirdSteps::doRestore(const std::string& backupFile, const std::string& databasePath,
                               int key) {
  bool result = false;
  try {
    {
      PrepareService(restoreService_);
      restoreService_.SetActive(true);
      ServiceDetacher detacher(restoreService_);
      restoreService_.SetVerbose(true);
      restoreService_.SetOptions({TRestoreOption::OneRelationAtATime, TRestoreOption::Replace,
                                  TRestoreOption::CreateNewDB});
      restoreService_.SetPageBuffers(3000);
      restoreService_.SetPageSize(4096);
      restoreService_.SetDatabaseName({databasePath});
      restoreService_.SetBackupFile({backupFile});
      ReadServiceOutput(restoreService_);
      context_.SnapshotStepLog(key);
    }
    const std::string output = context_.RunLogText();
    result = !Contains(output, "gbak: ERROR") && Contains(output, kRestoreFinished);
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    ReportException("doRestore() -> Excetion: ", error);
  }
  return result;
}

bool TFirebirdSteps::bringOnline(const std::string& databasePath) {
  try {
    ServiceDetacher detacher(configService_);
    PrepareService(configService_);
    configService_.SetDatabaseName(databasePath);
    configService_.SetActive(true);
    configService_.BringDatabaseOnline();
    return true;
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& error) {
    if (Contains(error.what(), kAlreadyOnline)) {
      return true;
    }
    ReportException("checkInconsistencies() -> Excetion: ", error);
  }
  return false;
}

// ---------------------------------------------------------------------------
// Level 2: orphan search (step 7) and salvage from an older backup (step 8).
// Only the two bodies below belong to that work; keep them last in the file.
// ---------------------------------------------------------------------------

std::unique_ptr<TInconsistency> TFirebirdSteps::checkInconsistencies(
    const std::string& restoredPath, const std::string& line) {
  return orphanSearch_.checkInconsistencies(restoredPath, line);
}

bool TFirebirdSteps::doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) {
  return salvage_.doCopyDataFromOldBackup(list);
}
