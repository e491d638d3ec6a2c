#include "cli/TJsonSummary.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "engine/run/TextUtil.h"

TJsonSummary::TJsonSummary(std::string path) : path_(std::move(path)) {
  fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    const int error = errno;
    throw std::runtime_error(error == EEXIST
                                 ? "o arquivo do resumo já existe e não será substituído: " + path_
                                 : "não foi possível criar o arquivo do resumo " + path_ + ": " +
                                       std::strerror(error));
  }
}

TJsonSummary::~TJsonSummary() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

const char* TJsonSummary::VerdictName(RunVerdict verdict) {
  switch (verdict) {
    case RunVerdict::NotValidated:
      return "not-validated";
    case RunVerdict::InUse:
      return "in-use";
    case RunVerdict::NoErrors:
      return "no-errors";
    case RunVerdict::StillCorrupt:
      return "still-corrupt";
    case RunVerdict::Repaired:
      return "repaired";
    case RunVerdict::RepairedWithLosses:
      return "repaired-with-losses";
    case RunVerdict::Cancelled:
      return "cancelled";
    case RunVerdict::LoginRefused:
      return "login-refused";
    case RunVerdict::NotADatabase:
      return "not-a-database";
    case RunVerdict::Unanswered:
      return "unanswered";
  }
  return "not-validated";
}

const char* TJsonSummary::OutcomeName(StepPhase phase, StepOutcome outcome) {
  if (phase == StepPhase::NotApplicable) {
    return "not-applicable";
  }
  switch (outcome) {
    case StepOutcome::Success:
      return "success";
    case StepOutcome::Failure:
      return "failure";
    case StepOutcome::Cancelled:
      return "cancelled";
    case StepOutcome::None:
      break;
  }
  return "none";
}

std::string TJsonSummary::Compose(const Contents& contents) {
  nlohmann::ordered_json steps = nlohmann::ordered_json::array();
  for (const TRunRecord::Step& step : contents.steps) {
    if (!step.reported || step.phase == StepPhase::Running) {
      continue;
    }
    const std::chrono::duration<double> took = step.ended - step.started;
    steps.push_back({
        {"number", StepNumber(step.key)},
        {"title", StepTitle(step.key)},
        {"outcome", OutcomeName(step.phase, step.outcome)},
        {"text", step.text},
        // Milliseconds are enough, and keep the file readable.
        {"seconds", std::round(took.count() * 1000) / 1000},
    });
  }
  nlohmann::ordered_json tables = nlohmann::ordered_json::object();
  for (const auto& [table, loss] : contents.losses) {
    tables[table] = {
        {"fromOlderBackup", loss.fromOlderBackup},
        {"lost", loss.lost},
        {"lostKnown", loss.known},
        {"lostKeys", loss.keys},
    };
  }
  const nlohmann::ordered_json summary = {
      {"database", contents.database},
      {"olderBackup", contents.olderBackup},
      {"started", contents.started},
      {"verdict", VerdictName(contents.verdict)},
      {"exitStatus", contents.exitStatus},
      {"closingMessage", WithLineBreaks(contents.closingMessage)},
      {"filesMade", contents.filesMade},
      {"report", contents.report},
      {"steps", steps},
      {"tables", tables},
  };
  // Server texts are not always UTF-8: a stray byte must not lose the summary.
  return summary.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void TJsonSummary::Write(const Contents& contents) {
  WriteText(Compose(contents));
}

void TJsonSummary::WriteText(const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd_, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      throw std::runtime_error("não foi possível gravar o resumo em " + path_ + ": " +
                               std::strerror(errno));
    }
    written += static_cast<std::size_t>(n);
  }
  if (fsync(fd_) != 0 && errno != EINVAL) {
    throw std::runtime_error("não foi possível gravar o resumo em " + path_ + ": " +
                             std::strerror(errno));
  }
}
