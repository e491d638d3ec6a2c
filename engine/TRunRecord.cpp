#include "engine/TRunRecord.h"

#include <cstddef>
#include <utility>

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
    step.timed = true;
    step.started = step.ended = now;
    step.notes.clear();
    return;
  }
  if (open) {
    KeepNewLines(key, log);
    step.ended = now;
    openStep_ = 0;
  }
}

std::size_t TRunRecord::QuestionAsked(const Question& question) {
  questions_.push_back(
      Asked{openStep_, clock_(), question.text, question.kind, question.buttons, std::string()});
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
}

void TRunRecord::RunEnded(const std::vector<std::string>& log) {
  ended_ = clock_();
  if (openStep_ != 0) {
    KeepNewLines(StepAt(openStep_), log);
    At(StepAt(openStep_)).ended = ended_;
  }
  kept_ = log.size();
}
