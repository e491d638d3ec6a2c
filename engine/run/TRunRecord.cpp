#include "engine/run/TRunRecord.h"

#include <cstddef>
#include <utility>

#include "engine/run/TextUtil.h"

namespace {

const char* AnswerText(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::Yes:
      return "Sim";
    case MessageAnswer::No:
      return "Não";
    case MessageAnswer::Ok:
      return "OK";
  }
  return "";
}

}  // namespace

TRunRecord::TRunRecord(Clock clock) : clock_(std::move(clock)), steps_(kStepCount) {
  for (int number = 1; number <= kStepCount; ++number) {
    steps_[static_cast<std::size_t>(number - 1)].key = StepAt(number);
  }
  started_ = ended_ = clock_();
}

TRunRecord::Clock TRunRecord::SystemClock() {
  return [] { return std::chrono::system_clock::now(); };
}

void TRunRecord::StepReported(StepKey key, StepPhase phase, StepOutcome outcome,
                              const std::string& text, const std::vector<std::string>& log) {
  const TimePoint now = clock_();
  if (!begun_) {
    begun_ = true;
    started_ = now;
  }
  Step& step = At(key);
  const bool open = openStep_ == StepNumber(key);
  if (phase == StepPhase::Running && open) {
    // Already running: only the row's text changed.
    if (!text.empty()) {
      step.notes.push_back(text);
    }
    return;
  }
  step.reported = true;
  step.phase = phase;
  step.outcome = outcome;
  step.text = text;
  if (phase == StepPhase::Running) {
    openStep_ = StepNumber(key);
    openStepFiled_ = false;
    step.timed = true;
    step.started = step.ended = now;
    step.notes.clear();
    return;
  }
  if (open) {
    EndOpenStep(log, now);
  }
}

void TRunRecord::EndOpenStep(const std::vector<std::string>& log, TimePoint when) {
  Step& step = At(StepAt(openStep_));
  KeepNewLines(step.key, log);
  step.ended = when;
  if (!openStepFiled_) {
    step.shownAtEnd = std::make_shared<const std::vector<std::string>>(log);
  }
  openStep_ = 0;
}

std::size_t TRunRecord::QuestionAsked(const Question& question,
                                      const std::vector<std::string>& log) {
  std::size_t line = 0;
  if (openStep_ != 0) {
    for (const auto& block : At(StepAt(openStep_)).logs) {
      line += block.size();
    }
    line += log.size() > kept_ ? log.size() - kept_ : 0;
  }
  questions_.push_back(Asked{openStep_, clock_(), question.text, question.kind, question.buttons,
                             std::string(), line});
  return questions_.size() - 1;
}

void TRunRecord::QuestionAnswered(std::size_t index, MessageAnswer answer) {
  if (index < questions_.size()) {
    questions_[index].answer = AnswerText(answer);
  }
}

std::size_t TRunRecord::PickerAsked(const std::string& folder) {
  questions_.push_back(Asked{openStep_, clock_(),
                             "Escolha do backup antigo (pasta \"" + folder + "\")",
                             MessageKind::Confirmation, MessageButtons::Ok, std::string()});
  return questions_.size() - 1;
}

void TRunRecord::PickerAnswered(std::size_t index, const std::string& chosen) {
  if (index < questions_.size()) {
    questions_[index].answer = chosen.empty() ? "nenhum arquivo" : chosen;
  }
}

void TRunRecord::KeepNewLines(StepKey key, const std::vector<std::string>& log) {
  if (log.size() > kept_) {
    At(key).logs.emplace_back(log.begin() + static_cast<std::ptrdiff_t>(kept_), log.end());
  }
  kept_ = log.size();
}

void TRunRecord::LogClearing(const std::vector<std::string>& log) {
  // Lines written while no step runs are the run's own notices: not kept.
  if (openStep_ != 0) {
    KeepNewLines(StepAt(openStep_), log);
  }
  kept_ = 0;
}

void TRunRecord::LogFiled(StepKey key, const std::vector<std::string>& log) {
  // The final validation files its output under step 3, as the window's
  // link of row 11 expects: the report keeps it with the step that ran.
  KeepNewLines(openStep_ != 0 ? StepAt(openStep_) : key, log);
  At(key).filed = std::make_shared<const std::vector<std::string>>(log);
  if (openStep_ != 0) {
    openStepFiled_ = true;
  }
}

void TRunRecord::RunEnded(const std::vector<std::string>& log) {
  ended_ = clock_();
  if (openStep_ != 0) {
    EndOpenStep(log, ended_);
  }
  kept_ = log.size();
}

bool TRunRecord::HasSavedLog(StepKey key) {
  const int number = StepNumber(key);
  return number >= 3 && number <= 10 && key != StepKey::ProcurarOrfaos;
}

SharedLines TRunRecord::RowLog(StepKey key) const {
  const int number = StepNumber(key);
  if (number < 1 || number > kStepCount) {
    return nullptr;
  }
  const Step& step = At(key);
  switch (key) {
    case StepKey::AcessoExclusivo:
    case StepKey::CriarCopia:
      return step.reported ? LinesAndQuestions(step) : nullptr;
    case StepKey::ProcurarOrfaos:
      return step.shownAtEnd;
    case StepKey::ValidacaoFinal:
      return step.phase == StepPhase::Finished ? At(StepKey::ValidarDados).filed : nullptr;
    default:
      return step.filed;
  }
}

SharedLines TRunRecord::LinesAndQuestions(const Step& step) const {
  std::vector<std::string> lines;
  for (const auto& block : step.logs) {
    lines.insert(lines.end(), block.begin(), block.end());
  }
  auto shown = std::make_shared<std::vector<std::string>>();
  std::size_t next = 0;
  for (const Asked& asked : questions_) {
    if (asked.step != StepNumber(step.key)) {
      continue;
    }
    for (; next < asked.line && next < lines.size(); ++next) {
      shown->push_back(lines[next]);
    }
    if (!shown->empty()) {
      shown->emplace_back();
    }
    for (std::string& line : TextLines(asked.text)) {
      shown->push_back(std::move(line));
    }
  }
  shown->insert(shown->end(), lines.begin() + static_cast<std::ptrdiff_t>(next), lines.end());
  // Nothing was asked or written while the step ran: its result says why.
  if (shown->empty() && !step.text.empty()) {
    shown->push_back(step.text);
  }
  return shown;
}
