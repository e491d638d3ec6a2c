#include "support/ScriptedSteps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "fbaccess/EIBInterBaseError.h"

void ScriptedSteps::Script(const std::string& routine, bool answer) {
  Script(routine, [answer](TRecoveryContext&) { return answer; });
}

void ScriptedSteps::Script(const std::string& routine, Action action) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_[routine].push_back(std::move(action));
}

void ScriptedSteps::ScriptThrow(const std::string& routine, const std::string& message) {
  if (routine == "checkInconsistencies") {
    ScriptRecord([message](TRecoveryContext&) -> std::unique_ptr<TInconsistency> {
      throw std::runtime_error(message);
    });
    return;
  }
  Script(routine, [message](TRecoveryContext&) {
    return StepResult::Raised(StepFailure::ServerFailed, message);
  });
}

void ScriptedSteps::ScriptRecord(const std::optional<TInconsistency>& record) {
  ScriptRecord([record](TRecoveryContext&) {
    return record ? std::make_unique<TInconsistency>(*record) : nullptr;
  });
}

void ScriptedSteps::ScriptRecord(RecordAction action) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(std::move(action));
}

std::vector<std::string> ScriptedSteps::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::size_t ScriptedSteps::UnusedAnswers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t unused = records_.size();
  for (const auto& [routine, queue] : actions_) {
    unused += queue.size();
  }
  return unused;
}

ScriptedSteps::Action ScriptedSteps::WritesLog(std::vector<std::string> lines, bool answer) {
  return [lines = std::move(lines), answer](TRecoveryContext& context) -> StepResult {
    context.ClearLog();
    for (const std::string& line : lines) {
      context.WriteLog(line);
    }
    return answer;
  };
}

StepResult ScriptedSteps::Next(const std::string& routine, const std::string& call) {
  Action action;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    auto& queue = actions_[routine];
    if (queue.empty()) {
      ADD_FAILURE() << "Unscripted call: " << call;
      return false;
    }
    action = std::move(queue.front());
    queue.pop_front();
  }
  return action(context_);  // outside the lock: it may call back into the run
}

IRecoverySteps::AccessResult ScriptedSteps::acessoExclusivo() {
  try {
    return Next("acessoExclusivo", "acessoExclusivo").ok ? Access::Granted : Access::OthersAttached;
  } catch (const EIBInterBaseError& error) {
    return AccessResult(TServerDialect::ClassifyAttach(error.EngineCode()), error.what());
  }
}

StepResult ScriptedSteps::doCopy(const std::string& source, const std::string& target) {
  return Next("doCopy", "doCopy " + source + " " + target);
}

StepResult ScriptedSteps::doValidate(const std::string& databasePath) {
  return Next("doValidate", "doValidate " + databasePath);
}

StepResult ScriptedSteps::doMend() {
  return Next("doMend", "doMend");
}

StepResult ScriptedSteps::doBackup(const std::string& databasePath, const std::string& backupFile,
                                   StepKey key) {
  return Next("doBackup", "doBackup " + databasePath + " " + backupFile + " " +
                              std::to_string(StepNumber(key)));
}

StepResult ScriptedSteps::doRestore(const std::string& backupFile, const std::string& databasePath,
                                    StepKey key) {
  return Next("doRestore", "doRestore " + backupFile + " " + databasePath + " " +
                               std::to_string(StepNumber(key)));
}

StepResult ScriptedSteps::bringOnline(const std::string& databasePath) {
  return Next("bringOnline", "bringOnline " + databasePath);
}

StepResult ScriptedSteps::canAttach(const std::string& databasePath) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (actions_["canAttach"].empty()) {
      calls_.push_back("canAttach " + databasePath);
      return true;  // unscripted: the restored database opens
    }
  }
  return Next("canAttach", "canAttach " + databasePath);
}

std::string ScriptedSteps::otherAttachments(const std::string& databasePath) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("otherAttachments " + databasePath);
  if (attachments_.empty()) {
    return {};  // unscripted: nobody else is attached
  }
  const std::string list = attachments_.front();
  attachments_.pop_front();
  return list;
}

void ScriptedSteps::ScriptOtherAttachments(const std::string& list) {
  std::lock_guard<std::mutex> lock(mutex_);
  attachments_.push_back(list);
}

std::string ScriptedSteps::temporaryDatabase() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return temporaryDatabase_;
}

TTriage::Result ScriptedSteps::triage(const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  return triage_;
}

std::vector<std::string> ScriptedSteps::skippedTables() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return skippedTables_;
}

StepResult ScriptedSteps::rebuildTables(const std::vector<std::string>& tables,
                                        const std::string& restoredPath) {
  std::string names;
  for (const std::string& table : tables) {
    names += (names.empty() ? "" : ",") + table;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (actions_["rebuildTables"].empty()) {
      calls_.push_back("rebuildTables " + names + " " + restoredPath);
      return true;
    }
  }
  return Next("rebuildTables", "rebuildTables " + names + " " + restoredPath);
}

StepResult ScriptedSteps::activateIndexes(const std::string& databasePath) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (actions_["activateIndexes"].empty()) {
      calls_.push_back("activateIndexes " + databasePath);
      return false;
    }
  }
  return Next("activateIndexes", "activateIndexes " + databasePath);
}

void ScriptedSteps::SetTriage(const TTriage::Result& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  triage_ = result;
}

void ScriptedSteps::SetSkippedTables(const std::vector<std::string>& tables) {
  std::lock_guard<std::mutex> lock(mutex_);
  skippedTables_ = tables;
}

void ScriptedSteps::SetTemporaryDatabase(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  temporaryDatabase_ = path;
}

IRecoverySteps::InconsistencyCheck ScriptedSteps::checkInconsistencies(
    const std::string& restoredPath, const std::string& line) {
  const std::string call = "checkInconsistencies " + restoredPath + " " + line;
  RecordAction action;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
    if (records_.empty()) {
      ADD_FAILURE() << "Unscripted call: " << call;
      return {};
    }
    action = std::move(records_.front());
    records_.pop_front();
  }
  // An error the action raises stands for a child table that could not be
  // read: the real search goes on and reports it.
  InconsistencyCheck check;
  try {
    check.record = action(context_);
  } catch (const std::exception& error) {
    check.errors.emplace_back(error.what());
  }
  return check;
}

StepResult ScriptedSteps::doCopyDataFromOldBackup(
    std::vector<std::unique_ptr<TInconsistency>>& list) {
  std::string tables;
  for (const auto& record : list) {
    if (!tables.empty()) {
      tables += ",";
    }
    tables += record->TableName;
  }
  return Next("doCopyDataFromOldBackup", "doCopyDataFromOldBackup " + tables);
}

void ScriptedSteps::ScriptRowCounts(const std::string& path, const RowCounts& counts) {
  std::lock_guard<std::mutex> lock(mutex_);
  rowCounts_[path].push_back(counts);
}

IRecoverySteps::RowCounts ScriptedSteps::rowCounts(const std::string& databasePath,
                                                   const std::vector<std::string>& tables) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& queue = rowCounts_[databasePath];
  if (queue.empty()) {
    return {};
  }
  calls_.push_back("rowCounts " + databasePath);
  RowCounts counts = std::move(queue.front());
  queue.pop_front();
  if (!tables.empty()) {
    std::erase_if(counts, [&](const auto& entry) {
      return std::find(tables.begin(), tables.end(), entry.first) == tables.end();
    });
  }
  return counts;
}

void ScriptedSteps::SetServerVersion(const std::string& version) {
  std::lock_guard<std::mutex> lock(mutex_);
  serverVersion_ = version;
}

std::string ScriptedSteps::serverVersion(const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  return serverVersion_;
}
