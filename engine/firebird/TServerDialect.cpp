#include "engine/firebird/TServerDialect.h"

#include <charconv>

namespace {

constexpr std::string_view kOutputPrefix = "gbak:";
constexpr std::string_view kErrorMark = "gbak: ERROR:";
constexpr std::string_view kError = "ERROR:";
constexpr std::string_view kForeignKeyViolation = "violation of FOREIGN KEY";
constexpr std::string_view kRefusedRow = "gbak: ERROR:validation error for column \"";
constexpr std::string_view kTableNotDefined = " is not defined";
constexpr std::string_view kRestoreFinished = "finishing, closing, and going home";
constexpr std::string_view kBackupFinished = "closing file, committing, and finishing";
constexpr std::string_view kRestoringTable = "gbak:restoring table ";
constexpr std::string_view kRestoringData = "gbak:restoring data for table ";
constexpr std::string_view kRecordsRestored = " records restored";
constexpr std::string_view kWritingData = "writing data for table ";
constexpr std::string_view kRecordsWritten = " records written";
constexpr std::string_view kPointerPage = " is of wrong type (expected pointer";
constexpr std::string_view kNoErrors = "no errors found";
constexpr std::string_view kSummary = "Summary of validation errors";
constexpr std::string_view kRelation = "Relation ";
constexpr std::string_view kErrorsFound = " ERRORS found";
constexpr std::string_view kOthersAttached = "secondary server attachments cannot validate";
constexpr std::string_view kAlreadyOnline = "Target shutdown mode is invalid";
constexpr std::string_view kAlreadyExists = "already exists";
constexpr std::string_view kNoSpace = "No space left on device";

// Error codes (gen/iberror.h).
constexpr long kLogin = 335544472;        // isc_login
constexpr long kLoginError = 335545106;   // isc_login_error: a method the client cannot offer
constexpr long kShutdown = 335544528;     // isc_shutdown
constexpr long kBadDbFormat = 335544323;  // isc_bad_db_format
constexpr long kWrongOds = 335544379;     // isc_wrong_ods
constexpr long kDbCorrupt = 335544335;    // isc_db_corrupt
constexpr long kBugCheck = 335544332;     // isc_bug_check: a page of the wrong type
constexpr long kValidationSummary = 335740952;

bool Has(std::string_view text, std::string_view phrase) {
  return text.find(phrase) != std::string_view::npos;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
    text.remove_suffix(1);
  }
  return text;
}

// The trimmed text after `prefix` at the start of `line`, or empty.
std::string After(std::string_view line, std::string_view prefix) {
  return line.starts_with(prefix) ? std::string(Trimmed(line.substr(prefix.size())))
                                  : std::string();
}

// "N<suffix>": N, or nothing.
std::optional<long long> CountBefore(std::string_view text, std::string_view suffix) {
  const std::size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || digits == std::string_view::npos || text.substr(digits) != suffix) {
    return std::nullopt;
  }
  long long count = 0;
  std::from_chars(text.data(), text.data() + digits, count);
  return count;
}

}  // namespace

TServerDialect::AttachFailure TServerDialect::ClassifyAttach(long engineCode) {
  switch (engineCode) {
    case kLogin:
    case kLoginError:
      return AttachFailure::LoginRefused;
    case kShutdown:
      return AttachFailure::ShutDown;
    case kBadDbFormat:
      return AttachFailure::NotADatabase;
    case kWrongOds:
      return AttachFailure::UnsupportedOds;
    case kDbCorrupt:
    case kBugCheck:
      return AttachFailure::Corrupt;
    default:
      return AttachFailure::Other;
  }
}

StepFailure TServerDialect::ClassifyFailure(long engineCode, std::string_view text) {
  if (Has(text, kOthersAttached)) {
    return StepFailure::OthersAttached;
  }
  if (Has(text, kNoSpace)) {
    return StepFailure::NoSpace;
  }
  switch (ClassifyAttach(engineCode)) {
    case AttachFailure::LoginRefused:
      return StepFailure::LoginRefused;
    case AttachFailure::ShutDown:
      return StepFailure::ShutDown;
    case AttachFailure::NotADatabase:
    case AttachFailure::UnsupportedOds:
      return StepFailure::NotADatabase;
    case AttachFailure::Corrupt:
      return StepFailure::Corrupt;
    case AttachFailure::Other:
      break;
  }
  return StepFailure::ServerFailed;
}

bool TServerDialect::IsValidationSummary(long engineCode) {
  return engineCode == kValidationSummary;
}

bool TServerDialect::IsErrorLine(std::string_view line) {
  return Has(line, kErrorMark);
}

bool TServerDialect::IsErrorDetail(std::string_view line) {
  const std::size_t mark = line.find(kErrorMark);
  if (mark == std::string_view::npos) {
    return false;
  }
  const std::size_t after = mark + kErrorMark.size();
  return after < line.size() && (line[after] == ' ' || line[after] == '\t');
}

bool TServerDialect::IsForeignKeyViolation(std::string_view line) {
  const std::size_t mark = line.find(kErrorMark);
  return mark != std::string_view::npos &&
         line.substr(mark + kErrorMark.size()).starts_with(kForeignKeyViolation);
}

std::string TServerDialect::RefusedRowTable(std::string_view line) {
  const std::size_t at = line.find(kRefusedRow);
  if (at == std::string_view::npos) {
    return {};
  }
  const std::size_t from = at + kRefusedRow.size();
  const std::size_t to = line.find('"', from);
  return to == std::string_view::npos ? std::string() : std::string(line.substr(from, to - from));
}

std::string TServerDialect::TableNotCreated(std::string_view line) {
  const std::size_t mark = line.find(kErrorMark);
  if (mark == std::string_view::npos) {
    return {};
  }
  const std::string_view text = Trimmed(line.substr(mark + kErrorMark.size()));
  constexpr std::string_view table = "table ";
  if (!text.starts_with(table) || !text.ends_with(kTableNotDefined)) {
    return {};
  }
  return std::string(
      text.substr(table.size(), text.size() - table.size() - kTableNotDefined.size()));
}

bool TServerDialect::RestoreFinished(std::string_view output) {
  return Has(output, kRestoreFinished);
}

bool TServerDialect::BackupFinished(std::string_view output) {
  return Has(output, kBackupFinished);
}

std::string TServerDialect::RestoredTable(std::string_view line) {
  return After(line, kRestoringTable);
}

std::string TServerDialect::RestoredDataTable(std::string_view line) {
  return After(line, kRestoringData);
}

std::string TServerDialect::RestoredView(std::string_view line) {
  if (!line.starts_with(kOutputPrefix)) {
    return {};
  }
  const std::string_view text = Trimmed(line.substr(kOutputPrefix.size()));
  constexpr std::string_view table = "table ";
  constexpr std::string_view view = " is a view";
  if (!text.starts_with(table) || !text.ends_with(view)) {
    return {};
  }
  return std::string(text.substr(table.size(), text.size() - table.size() - view.size()));
}

std::optional<long long> TServerDialect::RestoredRecords(std::string_view line) {
  if (!line.starts_with(kOutputPrefix)) {
    return std::nullopt;
  }
  return CountBefore(Trimmed(line.substr(kOutputPrefix.size())), kRecordsRestored);
}

std::string TServerDialect::DataTableOfLine(std::string_view line) {
  for (const std::string_view phrase :
       {kWritingData, kRestoringData.substr(kOutputPrefix.size())}) {
    const std::size_t at = line.find(phrase);
    if (at != std::string_view::npos) {
      return std::string(Trimmed(line.substr(at + phrase.size())));
    }
  }
  return {};
}

std::string_view TServerDialect::BackupLineBody(std::string_view line, bool& error) {
  error = !line.starts_with(kOutputPrefix);
  if (!error) {
    line.remove_prefix(kOutputPrefix.size());
  }
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ') {
    line.remove_prefix(1);
  }
  if (line.starts_with(kError)) {
    error = true;
  }
  return line;
}

std::optional<std::string> TServerDialect::BackupDataTable(std::string_view body) {
  if (!body.starts_with(kWritingData)) {
    return std::nullopt;
  }
  // The name as written, without the blank the service adds at the end.
  std::string_view name = body.substr(kWritingData.size());
  if (!name.empty() && name.back() == ' ') {
    name.remove_suffix(1);
  }
  return std::string(name);
}

bool TServerDialect::IsBackupProgress(std::string_view body) {
  while (!body.empty() && body.back() == ' ') {
    body.remove_suffix(1);
  }
  return CountBefore(body, kRecordsWritten).has_value();
}

std::uint32_t TServerDialect::WrongTypePointerPage(std::string_view body) {
  const std::size_t at = body.find(kPointerPage);
  if (at == std::string_view::npos) {
    return 0;
  }
  const std::size_t start = body.rfind("page ", at);
  if (start == std::string_view::npos) {
    return 0;
  }
  std::uint32_t page = 0;
  const char* first = body.data() + start + 5;
  const char* last = body.data() + at;
  const auto [end, error] = std::from_chars(first, last, page);
  return error == std::errc() && end == last ? page : 0;
}

std::string TServerDialect::SkipDataExpression(const std::vector<std::string>& tables) {
  // Escaping any other character is refused by the server ("Error while
  // compiling regular expression").
  constexpr std::string_view special = "[](){}^-+*?\\|%_";
  std::string pattern;
  for (const std::string& table : tables) {
    if (!pattern.empty()) {
      pattern += '|';
    }
    for (const char c : table) {
      if (special.find(c) != std::string_view::npos) {
        pattern += '\\';
      }
      pattern += c;
    }
  }
  return pattern;
}

bool TServerDialect::ValidationFoundNothing(std::string_view output) {
  return Has(output, kNoErrors);
}

bool TServerDialect::IsValidationSummaryText(std::string_view output) {
  return Has(output, kSummary);
}

std::string TServerDialect::TableWithErrors(std::string_view line) {
  const std::size_t at = line.find(kRelation);
  if (at == std::string_view::npos || !Has(line, kErrorsFound)) {
    return {};
  }
  const std::size_t open = line.find('(', at);
  const std::size_t close = line.find(')', open == std::string_view::npos ? at : open);
  if (open == std::string_view::npos || close == std::string_view::npos || close <= open + 1) {
    return {};
  }
  return std::string(line.substr(open + 1, close - open - 1));
}

bool TServerDialect::OthersAttached(std::string_view text) {
  return Has(text, kOthersAttached);
}

bool TServerDialect::AlreadyOnline(std::string_view text) {
  return Has(text, kAlreadyOnline);
}

bool TServerDialect::FileExists(std::string_view text) {
  return Has(text, kAlreadyExists);
}

bool TServerDialect::CannotOpen(std::string_view text) {
  return Has(text, "cannot open") || Has(text, "could not open");
}

std::string TServerDialect::OperatorWords(std::string_view text) {
  struct Words {
    std::string_view phrase;
    const char* words;
  };
  static constexpr Words kWords[] = {
      {kNoSpace,
       "O disco ficou cheio: libere espaço no disco da pasta do banco e execute de novo."},
      {"Read-only file system",
       "O disco está montado somente para leitura: nenhum arquivo pode ser gravado nele."},
      // Measured: the first thing an attachment writes on a read-only disk.
      {"loading mapping cache",
       "O servidor não conseguiu preparar o banco para uso: o disco pode estar montado somente "
       "para leitura, ou o usuário firebird sem permissão sobre o arquivo."},
      {"Permission denied",
       "O servidor, que roda como o usuário firebird, não tem permissão sobre um dos arquivos "
       "ou pastas."},
      {"I/O error",
       "Erro de leitura ou gravação no disco: o arquivo pode estar cortado ou o disco com "
       "defeito."},
      {"Unable to complete network request",
       "O servidor Firebird não responde: verifique se ele está em execução."},
      {"lock time-out", "Outro programa está usando o banco de dados."},
      {"object in use", "Outro programa está usando o banco de dados."},
      {"Table unknown",
       "O banco não tem uma das tabelas esperadas: o backup anterior pode ser de outro "
       "sistema."},
  };
  for (const Words& entry : kWords) {
    if (Has(text, entry.phrase)) {
      return entry.words;
    }
  }
  return {};
}
