#include "cli/TConsoleHost.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "engine/firebird/TServerDialect.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TextUtil.h"

namespace {

std::string Choices(const Question& question) {
  return question.defaultAnswer == MessageAnswer::No ? "[s/N]" : "[S/n]";
}

const char* Word(MessageAnswer answer) {
  return answer == MessageAnswer::Yes ? "sim" : "não";
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

std::optional<MessageAnswer> AnswerTyped(const std::string& typed, MessageAnswer defaultAnswer) {
  const std::string word = AsciiLower(TrimText(typed));
  if (word.empty()) {
    return defaultAnswer;
  }
  if (word == "s" || word == "sim") {
    return MessageAnswer::Yes;
  }
  if (word == "n" || word == "nao" || word == "não") {
    return MessageAnswer::No;
  }
  return std::nullopt;
}

// Before an automatic "tentar novamente", so that the others have a moment
// to leave and the check is not repeated at once.
constexpr auto kRetryPause = std::chrono::seconds(2);

}  // namespace

TConsoleHost::TConsoleHost(TConsole& console, Settings settings)
    : console_(console), settings_(std::move(settings)), input_(cancelled_) {}

bool TConsoleHost::ClosingShown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closingShown_;
}

std::string TConsoleHost::StepLabel(StepKey key) {
  char number[16];
  std::snprintf(number, sizeof number, "[%2d/%d] ", StepNumber(key), kStepCount);
  return number + std::string(StepTitle(key)) + " ...";
}

std::string TConsoleHost::TableOfServerLine(const std::string& line) {
  return TServerDialect::DataTableOfLine(line);
}

void TConsoleHost::FlushPendingLine() {
  if (pendingLine_) {
    console_.Line(*pendingLine_);
    pendingLine_.reset();
  }
}

void TConsoleHost::Notify(const RunEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::visit([this](const auto& e) { Show(e); }, event);
}

void TConsoleHost::Show(const StepChanged& event) {
  FlushPendingLine();
  const std::string label = StepLabel(event.key);
  switch (event.phase) {
    case StepPhase::Running:
      stepStatus_ = label;
      // On a terminal the running step is the status line; in a file or a
      // pipe it is a line of its own.
      if (console_.HasStatusLine()) {
        console_.Status(label);
      } else {
        console_.Line(label);
      }
      return;
    case StepPhase::Finished:
      stepStatus_.clear();
      console_.Status("");
      console_.Line(label + " " + event.text);
      return;
    case StepPhase::NotApplicable:
      console_.Line(label + " não se aplica");
      return;
  }
}

MessageAnswer TConsoleHost::AskUser(const Question& question) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    FlushPendingLine();
    if (question.buttons == MessageButtons::Ok) {
      // After the run's display ended only the closing message comes; a cut
      // run sends it as a plain notice.
      if (question.id == QuestionId::ClosingMessage || runDisplayEnded_) {
        closingShown_ = true;
        console_.Line("\r" + question.text);
      } else {
        console_.Line(std::string(MessageKindTitle(question.kind)) + ": " + question.text);
      }
      return MessageAnswer::Ok;
    }
  }
  return AskYesNo(question);
}

MessageAnswer TConsoleHost::AskYesNo(const Question& question) {
  const std::string shown = std::string(MessageKindTitle(question.kind)) + ": " + question.text;
  if (const auto given = settings_.answers.For(question)) {
    console_.Line(shown + " " + Choices(question) + " " + Word(given->answer) + " (" +
                  given->source + ")");
    if (question.id == QuestionId::RetryActiveConnections && given->answer == MessageAnswer::Yes) {
      PauseBeforeRetry();
    }
    return given->answer;
  }
  if (!input_.Interactive()) {
    console_.Line(shown + " " + Choices(question));
    Unanswered(question, "não há terminal para perguntar");
  }
  std::string prompt = shown + " " + Choices(question) + " ";
  for (;;) {
    console_.Prompt(prompt);
    const std::optional<std::string> typed = input_.ReadLine();
    console_.EndPrompt(typed.has_value());
    if (cancelled_) {
      throw ERunAborted(AbortReason::Cancelled);
    }
    if (!typed) {
      Unanswered(question, "a entrada do terminal terminou");
    }
    if (const auto answer = AnswerTyped(*typed, question.defaultAnswer)) {
      return *answer;
    }
    prompt = "Responda s (sim) ou n (não) " + Choices(question) + " ";
  }
}

void TConsoleHost::Unanswered(const Question& question, const std::string& why) const {
  const std::string name = QuestionIdName(question.id);
  throw ERunAborted(AbortReason::Unanswered, "Sem resposta para a pergunta \"" + name +
                                                 "\": " + why + ".\rResponda com --answer " + name +
                                                 "=sim ou --answer " + name +
                                                 "=nao (ou --yes / --no).");
}

void TConsoleHost::PauseBeforeRetry() const {
  const auto until = std::chrono::steady_clock::now() + kRetryPause;
  while (!cancelled_ && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void TConsoleHost::ShowLogLine(const std::string& line, bool appended) {
  const std::string table = TableOfServerLine(line);
  if (!table.empty() && !stepStatus_.empty()) {
    console_.Status(stepStatus_ + " tabela " + table);
  }
  if (!settings_.verbose) {
    return;
  }
  // A line may still be replaced (progress in percent): each is printed
  // once, in its last form, when the next one comes.
  if (appended) {
    FlushPendingLine();
  }
  pendingLine_ = line;
}

void TConsoleHost::Show(const RunEnded&) {
  FlushPendingLine();
  stepStatus_.clear();
  console_.Status("");
  runDisplayEnded_ = true;
}

std::optional<std::string> TConsoleHost::ChooseBackupFile(const std::string& folder) {
  if (!settings_.backupOnDemand.empty() && !backupOnDemandOffered_) {
    // Offered once: a backup that did not restore is not tried again.
    backupOnDemandOffered_ = true;
    console_.Line("Backup antigo: " + settings_.backupOnDemand + " (--backup-on-demand)");
    return settings_.backupOnDemand;
  }
  if (!input_.Interactive()) {
    console_.Line("Nenhum backup antigo a escolher (sem terminal e sem --backup-on-demand).");
    return std::nullopt;
  }
  console_.Prompt("Caminho do backup antigo (.fbk), a partir de " + folder + " [Enter: nenhum]: ");
  const std::optional<std::string> typed = input_.ReadLine();
  console_.EndPrompt(typed.has_value());
  if (cancelled_) {
    throw ERunAborted(AbortReason::Cancelled);
  }
  const std::string path = typed ? TrimText(*typed) : std::string();
  if (path.empty()) {
    return std::nullopt;
  }
  return path.front() == '/' ? path : folder + "/" + path;
}

std::optional<TCredentials> TConsoleHost::AskCredentials(const std::string& user,
                                                         const std::string& reason) {
  if (!input_.Interactive()) {
    return std::nullopt;  // nobody to type a password: the run ends
  }
  console_.Line("O servidor recusou o login do usuário \"" + user + "\".\r" + reason);
  console_.Prompt("Usuário [" + user + "]: ");
  const std::optional<std::string> typedUser = input_.ReadLine();
  console_.EndPrompt(typedUser.has_value());
  if (cancelled_) {
    throw ERunAborted(AbortReason::Cancelled);
  }
  if (!typedUser) {
    return std::nullopt;
  }
  const std::string name = TrimText(*typedUser).empty() ? user : TrimText(*typedUser);
  console_.Prompt("Senha: ");
  std::optional<std::string> password = input_.ReadSecret();
  console_.EndPrompt(false);
  if (cancelled_) {
    throw ERunAborted(AbortReason::Cancelled);
  }
  if (!password) {
    return std::nullopt;
  }
  TCredentials typed(name, *password);
  TCredentials::Wipe(*password);
  typed.SetSource("digitadas no terminal");
  return typed;
}
