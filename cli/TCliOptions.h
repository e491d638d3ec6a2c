#pragma once

#include <map>
#include <optional>
#include <string>

#include "engine/run/MessageTypes.h"

// The command line: `tessarine-cli [opções] BANCO.fdb [BACKUP_ANTIGO.fbk]`,
// or `tessarine-cli --inspect [--json ARQUIVO] BANCO.fdb`.
// Option names are English, every text shown is Brazilian Portuguese.
class TCliOptions {
 public:
  // Reads the arguments. Returns the exit status when the program ends here:
  // 0 after --help or --version (printed on stdout), 3 after a usage error
  // (its message on stderr). Every path is made absolute from the working
  // directory, as typed (no link followed).
  std::optional<int> Parse(int argc, const char* const* argv);

  const std::string& Database() const { return database_; }
  const std::string& OlderBackup() const { return olderBackup_; }
  const std::string& BackupOnDemand() const { return backupOnDemand_; }
  const std::string& JsonFile() const { return jsonFile_; }
  bool Verbose() const { return verbose_; }
  // --inspect: examine the file's pages instead of running the repair.
  bool Inspect() const { return inspect_; }
  const std::optional<std::string>& User() const { return user_; }
  const std::optional<std::string>& PasswordFile() const { return passwordFile_; }
  // --yes or --no; nothing when neither was given.
  std::optional<MessageAnswer> AnswerForAll() const { return answerForAll_; }
  const std::map<QuestionId, MessageAnswer>& Answers() const { return answers_; }

  static std::string HelpText();
  static std::string VersionText();
  // The program name used in messages.
  static constexpr const char* kProgram = "tessarine-cli";

 private:
  // Prints `message` as a usage error and returns its exit status.
  static int UsageError(const std::string& message);

  std::string database_;
  std::string olderBackup_;
  std::string backupOnDemand_;
  std::string jsonFile_;
  bool verbose_ = false;
  bool inspect_ = false;
  std::optional<std::string> user_;
  std::optional<std::string> passwordFile_;
  std::optional<MessageAnswer> answerForAll_;
  std::map<QuestionId, MessageAnswer> answers_;
};
