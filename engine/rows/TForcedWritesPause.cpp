#include "engine/rows/TForcedWritesPause.h"

#include <fcntl.h>
#include <unistd.h>

#include <exception>
#include <stdexcept>

#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"

namespace {

struct TWriteMode {
  bool forcedWrites = false;
  bool shutDown = false;
};

TWriteMode ReadWriteMode(TIBDatabase& database) {
  // A transaction of its own: the caller's stays as it is.
  TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  TIBQuery query;
  query.SetTransaction(&transaction);
  query.SetDatabase(&database);
  query.SQL().SetText("select mon$forced_writes, mon$shutdown_mode from mon$database");
  query.Open();
  TWriteMode mode;
  if (!query.AtEnd()) {
    mode.forcedWrites = query.Fields(0).Value().AsInt64() != 0;
    mode.shutDown = query.Fields(1).Value().AsInt64() != 0;
  }
  query.Close();
  transaction.Commit();
  return mode;
}

}  // namespace

TForcedWritesPause::TForcedWritesPause(TConnection& target) : target_(target) {
  try {
    const TWriteMode mode = ReadWriteMode(target_.Database());
    if (mode.forcedWrites && !mode.shutDown) {
      SetForcedWrites(false);
      paused_ = true;
    }
  } catch (const std::exception&) {
    // Forced writes stay on and the copy is only slower, unless the caller
    // lost its attachment on the way.
    if (!target_.Database().Connected()) {
      throw;
    }
  }
}

TForcedWritesPause::~TForcedWritesPause() {
  if (!paused_) {
    return;
  }
  try {
    // Leaving early: the rows of the copy that failed go with its transaction.
    if (target_.Transaction().Active()) {
      target_.Transaction().Rollback();
    }
    Resume();
  } catch (...) {
    // Leaving early already, with the failure the run reports; the copy
    // failed, so this database does not become the operator's.
  }
}

bool TForcedWritesPause::ForcedWrites(TIBDatabase& database) {
  return ReadWriteMode(database).forcedWrites;
}

void TForcedWritesPause::SetForcedWrites(bool on) {
  TIBDatabase& caller = target_.Database();
  if (target_.Transaction().Active()) {
    throw std::logic_error("forced writes change with the caller's transaction active");
  }
  caller.Close();
  std::exception_ptr failure;
  try {
    TIBDatabase database;
    database.SetLoginPrompt(false);
    database.SetDatabaseName(caller.DatabaseName());
    database.SetParams(caller.Params());
    database.AddParam(on ? "force_write=1" : "force_write=0");
    database.Open();
    database.Close();
  } catch (...) {
    failure = std::current_exception();
  }
  caller.Open();
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void TForcedWritesPause::SyncFile() const {
  const int descriptor = ::open(target_.DatabasePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor >= 0) {
    ::fsync(descriptor);
    ::close(descriptor);
  } else {
    ::sync();  // a file this process may not open: every file system, then
  }
}

void TForcedWritesPause::Resume() {
  if (!paused_) {
    return;
  }
  try {
    SetForcedWrites(true);
    if (!ForcedWrites(target_.Database())) {
      throw std::runtime_error("o servidor ainda as diz desligadas");
    }
  } catch (const std::exception& error) {
    throw std::runtime_error(
        "A escrita forçada (forced writes) do banco refeito, desligada durante a cópia das "
        "linhas, não pôde ser religada: " +
        std::string(error.what()));
  }
  paused_ = false;
  SyncFile();
}
