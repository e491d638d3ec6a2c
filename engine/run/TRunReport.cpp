#include "engine/run/TRunReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "engine/files/TTemporaryFile.h"
#include "engine/firebird/ViolationLines.h"
#include "engine/run/TextUtil.h"

namespace {

using TimePoint = TRunRecord::TimePoint;

std::string WhenText(TimePoint when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
  return text;
}

std::string DurationText(TimePoint from, TimePoint to) {
  const long long total =
      std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(to - from).count());
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                total % 60);
  return text;
}

void Indented(std::string& out, const std::string& text, const std::string& indent = "    ") {
  for (const std::string& line : TextLines(text)) {
    out += indent + line + "\n";
  }
}

const char* OutcomeText(const TRunRecord::Step& step) {
  if (!step.reported) {
    return "não executada";
  }
  switch (step.phase) {
    case StepPhase::NotApplicable:
      return "não se aplica";
    case StepPhase::Running:
      return "interrompida";
    case StepPhase::Finished:
      break;
  }
  switch (step.outcome) {
    case StepOutcome::Success:
      return "sucesso";
    case StepOutcome::Failure:
      return "falha";
    case StepOutcome::Cancelled:
      return "interrompida";
    case StepOutcome::None:
      break;
  }
  return "concluída";
}

std::string CountText(std::int64_t count) {
  return std::to_string(count);
}

// Characters, not bytes: names and headings may hold accents (UTF-8).
std::size_t Width(const std::string& text) {
  std::size_t shown = 0;
  for (const char c : text) {
    shown += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return shown;
}

void Section(std::string& out, const std::string& title) {
  out += "\n" + title + "\n" + std::string(Width(title), '-') + "\n";
}

std::string Padded(const std::string& text, std::size_t width, bool right) {
  const std::size_t shown = Width(text);
  const std::string fill(width > shown ? width - shown : 0, ' ');
  return right ? fill + text : text + fill;
}

void WriteHeader(std::string& out, const TRunRecord& record) {
  const TRunRecord::RunFacts& facts = record.Facts();
  out += "Relatório da execução do Tessarine\n";
  out += "==================================\n";
  out += "Início: " + WhenText(record.Started()) + "\n";
  out += "Término: " + WhenText(record.Ended()) + "\n";
  out += "Duração: " + DurationText(record.Started(), record.Ended()) + "\n";
  out += "Versão do servidor: " +
         (facts.serverVersion.empty() ? std::string("desconhecida") : facts.serverVersion) + "\n";
  if (!facts.user.empty()) {
    out += "Usuário do servidor: " + facts.user + "\n";
  }
  Section(out, "Resultado");
  if (facts.windowClosed) {
    out += "A janela foi fechada durante a execução; a execução foi interrompida.\n";
  }
  for (const std::string& line : TextLines(facts.closingText)) {
    out += line + "\n";
  }
}

void WritePaths(std::string& out, const TRunRecord::RunFacts& facts) {
  Section(out, "Caminhos");
  for (const auto& [label, path] : facts.paths) {
    out += label + ": " + (path.empty() ? std::string("(nenhum)") : path) + "\n";
  }
  out += "Arquivos criados nesta execução:";
  out += facts.filesMade.empty() ? " nenhum\n" : "\n";
  for (const std::string& file : facts.filesMade) {
    out += "    " + file + "\n";
  }
}

void WriteSteps(std::string& out, const TRunRecord& record) {
  Section(out, "Etapas");
  for (const TRunRecord::Step& step : record.Steps()) {
    char number[8];
    std::snprintf(number, sizeof number, "%2d. ", StepNumber(step.key));
    out += number + std::string(StepTitle(step.key)) + ": " + OutcomeText(step);
    if (!step.text.empty()) {
      out += " - " + step.text;
    }
    if (step.timed) {
      out += " (" + DurationText(step.started, step.ended) + ")";
    }
    out += "\n";
    for (const std::string& note : step.notes) {
      out += "    durante a etapa: " + note + "\n";
    }
  }
}

void WriteQuestions(std::string& out, const TRunRecord& record) {
  Section(out, "Perguntas e avisos");
  if (record.Questions().empty()) {
    out += "Nenhuma.\n";
  }
  for (const TRunRecord::Asked& asked : record.Questions()) {
    out += "[" + WhenText(asked.when).substr(11) +
           (asked.step != 0 ? ", etapa " + std::to_string(asked.step) : std::string()) + "]\n";
    Indented(out, asked.text);
    out += "    Resposta: " + (asked.answer.empty() ? std::string("sem resposta") : asked.answer) +
           "\n";
  }
}

void WriteLevelTwo(std::string& out, const TRunRecord::RunFacts& facts) {
  Section(out, "Violações de chave estrangeira da restauração");
  if (facts.foreignKeyLines.empty()) {
    out += "Nenhuma.\n";
  }
  for (const std::string& line : facts.foreignKeyLines) {
    out += "Restrição " + getConstraintName(line) + " na tabela " + getTableName(line) + "\n";
    out += "    " + line + "\n";
  }

  Section(out, "Chaves órfãs (chaves ausentes na tabela referida)");
  if (facts.orphans.empty()) {
    out += "Nenhuma.\n";
  }
  for (const TInconsistency& record : facts.orphans) {
    out += record.TableName + " (" + JoinedNames(record.KeyFields) +
           "): " + std::to_string(record.MissingKeys.size()) +
           (record.MissingKeys.size() == 1 ? " chave" : " chaves") +
           (record.DataFound ? "" : "; nenhum registro recuperado") + "\n";
    for (const std::string& key : record.MissingKeys) {
      out += "    " + key + "\n";
    }
  }

  Section(out, "Registros recuperados do backup antigo");
  if (!facts.salvaged.error.empty()) {
    out += "Não contados: " + facts.salvaged.error + "\n";
  } else if (!facts.salvaged.taken) {
    out += "Nenhum: a recuperação não foi feita.\n";
  }
  for (const auto& [table, rows] : facts.salvaged.rows) {
    out += table + ": " + CountText(rows) + "\n";
  }

  // Per table the damage touched: what came back, what is gone and its keys.
  Section(out, "Registros perdidos por tabela danificada");
  if (facts.losses.empty()) {
    out += "Nenhuma tabela com registros perdidos conhecidos.\n";
  }
  for (const auto& [table, loss] : facts.losses) {
    out += table + ": " + CountText(loss.fromOlderBackup) + " trazidos do backup antigo, " +
           CountText(loss.lost) + " perdidos" +
           (loss.known ? std::string() : " (ao menos; parte da tabela não pôde ser lida)") + "\n";
    for (const std::string& key : loss.keys) {
      out += "    " + key + "\n";
    }
    if (loss.lost > static_cast<long long>(loss.keys.size()) && !loss.keys.empty()) {
      out += "    (e mais " + CountText(loss.lost - static_cast<long long>(loss.keys.size())) +
             " sem chave conhecida)\n";
    }
  }
}

void WriteCounts(std::string& out, const TRunRecord::RunFacts& facts) {
  Section(out, "Registros por tabela");
  const TRunRecord::Counts& result = facts.result;
  const TRunRecord::Counts& older = facts.olderBackup;
  if (!result.error.empty()) {
    out += "Resultado não contado: " + result.error + "\n";
  }
  if (!older.error.empty()) {
    out += "Backup antigo não contado: " + older.error + "\n";
  }
  if (!result.taken && !older.taken) {
    if (result.error.empty() && older.error.empty()) {
      out += "Nenhum banco restaurado nesta execução.\n";
    }
    return;
  }
  std::set<std::string> tables;
  for (const auto* counts : {&result, &older}) {
    for (const auto& entry : counts->rows) {
      tables.insert(entry.first);
    }
  }
  std::size_t width = Width("Tabela");
  for (const std::string& table : tables) {
    width = std::max(width, Width(table));
  }
  const bool both = result.taken && older.taken;
  out += Padded("Tabela", width, false) + "  " + Padded("Resultado", 12, true);
  if (older.taken) {
    out += "  " + Padded("Backup antigo", 14, true);
  }
  if (both) {
    out += "  " + Padded("Diferença", 12, true);
  }
  out += "\n";
  auto cell = [](const TRunRecord::Counts& counts, const std::string& table) {
    const auto found = counts.rows.find(table);
    return found == counts.rows.end() ? std::string("-") : CountText(found->second);
  };
  for (const std::string& table : tables) {
    out += Padded(table, width, false);
    if (result.taken) {
      out += "  " + Padded(cell(result, table), 12, true);
    } else {
      out += "  " + Padded("-", 12, true);
    }
    if (older.taken) {
      out += "  " + Padded(cell(older, table), 14, true);
    }
    if (both) {
      const auto mine = result.rows.find(table);
      const auto theirs = older.rows.find(table);
      std::string difference = "-";
      if (mine != result.rows.end() && theirs != older.rows.end()) {
        const std::int64_t delta = mine->second - theirs->second;
        difference = (delta > 0 ? "+" : "") + CountText(delta);
      }
      out += "  " + Padded(difference, 12, true);
    }
    out += "\n";
  }
  if (both) {
    out += "(Diferença: resultado menos backup antigo.)\n";
  }
  if (older.taken && older.rows.size() < tables.size()) {
    out +=
        "(-: o backup antigo foi restaurado só com os registros das tabelas de que a execução "
        "precisava; as demais, ou as que ele não tem, ficam sem contagem.)\n";
  }
}

void WriteOutputs(std::string& out, const TRunRecord& record) {
  Section(out, "Saída de cada etapa");
  for (const TRunRecord::Step& step : record.Steps()) {
    if (step.logs.empty()) {
      continue;
    }
    out += "\n=== " + std::to_string(StepNumber(step.key)) + ". " + StepTitle(step.key) + " ===\n";
    bool first = true;
    for (const auto& block : step.logs) {
      if (!first) {
        out += "\n";
      }
      first = false;
      for (const std::string& line : block) {
        out += line + "\n";
      }
    }
  }
}

// Writes the whole of `text` at the file's current offset; false with errno
// set when it could not.
bool WriteAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      if (put == 0) {
        errno = EIO;
      }
      return false;
    }
    written += static_cast<std::size_t>(put);
  }
  return true;
}

// The rename is durable only once its folder is on disk too.
void SyncFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

TRunReport::TRunReport(std::string path, const std::string& databasePath) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw std::system_error(errno, std::generic_category(), path_);
  }
  // Written in place: the file is new and nobody reads it yet.
  const std::string text = UnderWayText(databasePath, std::chrono::system_clock::now());
  if (WriteAll(fd_, text)) {
    ::fsync(fd_);
  }
}

TRunReport::~TRunReport() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::string TRunReport::UnderWayText(const std::string& databasePath, TimePoint started) {
  std::string out;
  out += "Relatório da execução do Tessarine\n";
  out += "==================================\n";
  out += "Início: " + WhenText(started) + "\n";
  if (!databasePath.empty()) {
    out += "Banco de dados: " + databasePath + "\n";
  }
  out +=
      "\nExecução em andamento. Se o relatório termina aqui, a execução foi interrompida antes "
      "do fim (o programa foi encerrado à força ou o computador parou) e o relatório completo "
      "não chegou a ser gravado.\n";
  return out;
}

std::string TRunReport::Compose(const TRunRecord& record) {
  std::string out;
  WriteHeader(out, record);
  WritePaths(out, record.Facts());
  WriteSteps(out, record);
  WriteQuestions(out, record);
  WriteLevelTwo(out, record.Facts());
  WriteCounts(out, record.Facts());
  WriteOutputs(out, record);
  return out;
}

void TRunReport::Discard() {
  struct stat reserved {};
  struct stat named {};
  if (fd_ >= 0 && ::fstat(fd_, &reserved) == 0 && ::stat(path_.c_str(), &named) == 0 &&
      named.st_dev == reserved.st_dev && named.st_ino == reserved.st_ino) {
    ::unlink(path_.c_str());
  }
}

void TRunReport::Write(const TRunRecord& record) {
  Replace(Compose(record));
}

void TRunReport::Replace(const std::string& text) {
  auto fail = [this](const std::string& what) { throw std::runtime_error(path_ + ": " + what); };
  struct stat reserved {};
  if (fd_ < 0 || ::fstat(fd_, &reserved) != 0) {
    fail(std::strerror(fd_ < 0 ? EBADF : errno));
  }
  // Beside the report, so that the rename stays on one file system.
  TTemporaryFile next(path_ + ".XXXXXX");
  if (!next.Created()) {
    fail(std::strerror(errno));
  }
  // The report keeps the owner and mode it was given; an owner only root
  // may give is kept where this program is root.
  const int ignored = ::fchown(next.Fd(), reserved.st_uid, reserved.st_gid);
  (void)ignored;
  if (::fchmod(next.Fd(), reserved.st_mode & 07777) != 0 || !WriteAll(next.Fd(), text) ||
      ::fsync(next.Fd()) != 0) {
    fail(std::strerror(errno));
  }
  // The rename replaces whatever has the name: it must still be the file
  // this run created.
  struct stat named {};
  if (::stat(path_.c_str(), &named) != 0 || named.st_dev != reserved.st_dev ||
      named.st_ino != reserved.st_ino) {
    fail("o arquivo do relatório não é mais o que esta execução criou");
  }
  if (::rename(next.Path().c_str(), path_.c_str()) != 0) {
    fail(std::strerror(errno));
  }
  // The file now behind the name is the one a later Write must find there.
  ::close(fd_);
  fd_ = next.Keep();
  SyncFolder(path_);
}
