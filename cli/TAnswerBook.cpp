#include "cli/TAnswerBook.h"

#include <utility>

TAnswerBook::TAnswerBook(std::map<QuestionId, MessageAnswer> byId,
                         std::optional<MessageAnswer> forAll)
    : byId_(std::move(byId)), forAll_(forAll) {}

std::optional<TAnswerBook::Given> TAnswerBook::For(const Question& question) {
  const std::string name = QuestionIdName(question.id);
  std::optional<Given> given;
  if (const auto found = byId_.find(question.id); found != byId_.end()) {
    given = Given{found->second,
                  "--answer " + name + "=" + (found->second == MessageAnswer::Yes ? "sim" : "nao")};
  } else if (forAll_) {
    given = Given{*forAll_, *forAll_ == MessageAnswer::Yes ? "--yes" : "--no"};
  }
  if (given && given->answer == MessageAnswer::Yes && ++yesGiven_[question.id] > kRepeatLimit) {
    given = Given{MessageAnswer::No, "já respondida com sim " + std::to_string(kRepeatLimit) +
                                         " vezes nesta execução"};
  }
  return given;
}

std::optional<std::pair<QuestionId, MessageAnswer>> TAnswerBook::Parse(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    return std::nullopt;
  }
  const QuestionId id = QuestionIdNamed(text.substr(0, equals));
  const std::string word = text.substr(equals + 1);
  if (id == QuestionId::Notice) {
    return std::nullopt;
  }
  if (word == "sim" || word == "s") {
    return std::make_pair(id, MessageAnswer::Yes);
  }
  if (word == "nao" || word == "não" || word == "n") {
    return std::make_pair(id, MessageAnswer::No);
  }
  return std::nullopt;
}
