#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/IRecoverySteps.h"
#include "engine/TInconsistency.h"
#include "engine/TRecoveryContext.h"

// One repair of one database, steps 1 to 11, on the calling thread: decides
// after every step routine whether to go on, reports each step's row, and ends
// with EndRunDisplay and the closing message of its verdict. TThreadRecovery
// runs it on a thread of its own.
class TRecoveryRun {
 public:
  // The local time used to name the backup file.
  using LocalClock = std::function<std::tm()>;
  static LocalClock SystemClock();

  TRecoveryRun(TRecoveryContext& context, IRecoverySteps& steps, LocalClock clock = SystemClock());

  // The whole run. Ends early, without further calls to the front end, when
  // the front end throws ERunAborted.
  void Execute();

  // Results, readable once Execute has returned.
  int RunVerdict() const { return runVerdict_; }
  bool Aborted() const { return aborted_; }
  const std::string& CopyPath() const { return copyPath_; }
  const std::string& BackupFilePath() const { return backupFilePath_; }
  const std::string& RestoredPath() const { return restoredPath_; }
  const std::string& OldPath() const { return oldPath_; }
  const std::vector<std::string>& ConstraintLines() const { return constraintLines_; }

  // The closing message shown for a verdict; the verdict-4 text names both paths.
  static std::string ClosingMessage(int verdict, const std::string& databasePath,
                                    const std::string& restoredPath);

 private:
  void Run();
  void AcessoExclusivo();
  void CriarCopia();
  void ValidarDados();
  void PrepararBackup();
  void FazerBackupNivel01();
  void RestaurarBancoNivel01();
  void ProcurarOrfaos();
  void RecuperarDados();
  void FazerBackupNivel02();
  void RestaurarBancoNivel02();
  void ValidacaoFinal();

  void Running(int key);
  void Finished(int key, int outcome, const std::string& text);
  void Stop() { continueFlag_ = false; }
  // A derived name the run may write to: neither the database under repair nor
  // the user's older backup. Otherwise tells the user and answers no.
  bool IsSafeTarget(const std::string& path);
  // Moves the database aside to the first free "-OLD" name; fills oldPath_.
  bool SetCorruptFileAside();
  // Calls a step routine; an exception escaping it is shown with the routine's
  // prefix and turned into `failed`.
  template <typename Result, typename Call>
  Result Guarded(const char* prefix, Result failed, Call call);

  TRecoveryContext& context_;
  IRecoverySteps& steps_;
  LocalClock clock_;

  bool continueFlag_ = true;
  int runVerdict_ = 0;
  bool aborted_ = false;
  std::string copyPath_;
  std::string backupFilePath_;
  std::string restoredPath_;
  std::string oldPath_;
  std::vector<std::string> constraintLines_;
  // Exists only when step 7 found violation lines.
  std::unique_ptr<std::vector<std::unique_ptr<TInconsistency>>> inconsistencyList_;
};
