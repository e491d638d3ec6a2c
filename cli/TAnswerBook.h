#pragma once

#include <map>
#include <optional>
#include <string>

#include "engine/run/MessageTypes.h"

// The answers given on the command line before the run: one per question id
// (--answer ID=sim|nao) and one for every other question (--yes, --no).
//
// The engine asks some questions again while the answer is Yes ("tentar
// novamente?", "outro arquivo?"). Nobody watches an automatic answer, so
// after kRepeatLimit Yes answers to the same question the book answers No,
// which ends each of those loops: a script never spins for ever.
class TAnswerBook {
 public:
  struct Given {
    MessageAnswer answer;
    std::string source;  // why: "--yes", "--answer sem-backup=nao", ...
  };

  TAnswerBook() = default;
  TAnswerBook(std::map<QuestionId, MessageAnswer> byId, std::optional<MessageAnswer> forAll);

  // The answer to this Yes/No question, or nothing when none was given.
  std::optional<Given> For(const Question& question);

  // "sem-backup=sim" -> (ContinueWithoutBackup, Yes); nothing when the id or
  // the answer is unknown.
  static std::optional<std::pair<QuestionId, MessageAnswer>> Parse(const std::string& text);

  static constexpr int kRepeatLimit = 5;

 private:
  std::map<QuestionId, MessageAnswer> byId_;
  std::optional<MessageAnswer> forAll_;
  std::map<QuestionId, int> yesGiven_;
};
