#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/run/IRecoveryHost.h"
#include "engine/run/TRunRecord.h"

// A front end for tests: records every event and call of the engine, in
// order, as one transcript line each, keeps a copy of the log view and of the
// saved step logs, and answers the questions from a script. May be called
// from the engine's thread while the test's thread reads it.
//
// Transcript lines (named after the calls the events once were):
//   BeginRunDisplay | EndRunDisplay | ClearLog
//   ReportStep <key> <phase> <outcome> <text>      e.g. "ReportStep 3 2 20 Erros encontrados"
//   AskUser <Kind> <YesNo|Ok> <text>               e.g. "AskUser Information Ok O banco ..."
//   WriteLog <index> <text>                        e.g. "WriteLog -1 gbak: ..."
//   SnapshotStepLog <key>
//   SetLevelRowsEnabled <true|false> <level>
//   ChooseBackupFile <folder> -> <file chosen, or nothing>
//   AskCredentials <user> <server's reason>
// Texts are recorded unchanged ("\r" stays a carriage return).
class ScriptedHost : public IRecoveryHost {
 public:
  ScriptedHost() = default;

  // --- script -----------------------------------------------------------
  // The answer to the next question not yet answered. When `textPart` is
  // given, the question must contain it, else the test fails.
  void Answer(MessageAnswer answer, const std::string& textPart = "");
  // The next backup choice: std::nullopt answers No to "Deseja escolher um
  // arquivo?" (the path stays); "" cancels the picker; otherwise the file chosen.
  void ScriptBackupChoice(std::optional<std::string> chosen);
  // What the next AskCredentials answers (std::nullopt: the operator gave up).
  // Without a script it answers std::nullopt.
  void ScriptCredentials(std::optional<TCredentials> typed);
  // The answer to every question `id` from now on, before the answers in
  // order: a test names the question, not its text or its place.
  void AnswerTo(QuestionId id, MessageAnswer answer);
  // The answer to "linhas-do-backup" (rows the damage took are in the older
  // backup: insert them?), which otherwise takes its default, Sim, without
  // using a scripted answer.
  void ScriptRowsFromBackup(MessageAnswer answer) { AnswerTo(QuestionId::RowsFromBackup, answer); }
  // Whether WriteLog calls enter the transcript (on by default; long server
  // outputs can make it big).
  void RecordLogLines(bool record);

  // --- what happened ---------------------------------------------------
  std::vector<std::string> Transcript() const;
  // The transcript lines joined with "\n", for failure output.
  std::string TranscriptText() const;
  // Only the transcript lines that begin with `prefix` (e.g. "ReportStep 7 ").
  std::vector<std::string> Calls(const std::string& prefix) const;
  // The texts of every question asked, in order.
  std::vector<std::string> Questions() const;
  // The log view as it stands.
  std::vector<std::string> LogLines() const;
  // The saved log of a step, as filed by its last SnapshotStepLog; empty when none.
  std::vector<std::string> SavedLog(int key) const;
  // Scripted answers and backup choices that were never used.
  std::size_t UnusedAnswers() const;
  // Waits until a transcript line beginning with `prefix` exists.
  bool WaitForCall(const std::string& prefix, std::chrono::milliseconds timeout) const;
  // The run's record handed over as its display ended; null before.
  std::shared_ptr<const TRunRecord> Record() const;

  // The transcript line of an event.
  static std::string Line(const RunEvent& event);

  // --- IRecoveryHost ----------------------------------------------------
  void Notify(const RunEvent& event) override;
  MessageAnswer AskUser(const Question& question) override;
  std::optional<std::string> ChooseBackupFile(const std::string& folder) override;
  std::optional<TCredentials> AskCredentials(const std::string& user,
                                             const std::string& reason) override;

  static const char* KindName(MessageKind kind);
  static const char* ButtonsName(MessageButtons buttons);

 private:
  struct ScriptedAnswer {
    MessageAnswer answer;
    std::string textPart;
  };

  void Record(const std::string& line);  // caller holds mutex_
  // What an event changes besides the transcript; caller holds mutex_.
  void Apply(const StepChanged&) {}
  void Apply(const LogAppended& event) { log_.push_back(event.line); }
  void Apply(const LogProgress& event);
  void Apply(const LogCleared&) { log_.clear(); }
  void Apply(const StepLogFiled& event) { savedLogs_[StepNumber(event.key)] = log_; }
  void Apply(const LevelEntered&) {}
  void Apply(const RunBegan&) {}
  void Apply(const RunEnded& event) { record_ = event.record; }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> transcript_;
  std::vector<std::string> questions_;
  std::vector<std::string> log_;
  std::map<int, std::vector<std::string>> savedLogs_;
  std::shared_ptr<const TRunRecord> record_;
  std::deque<ScriptedAnswer> answers_;
  std::deque<std::optional<std::string>> backupChoices_;
  std::map<QuestionId, MessageAnswer> answersById_;
  std::deque<std::optional<TCredentials>> credentials_;
  bool pickerPending_ = false;
  bool recordLogLines_ = true;
};
