#include "engine/rows/TForcedWritesPause.h"

#include <fcntl.h>
#include <unistd.h>

#include <exception>
#include <stdexcept>

#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"

TForcedWritesPause::TForcedWritesPause(TConnection& target) : target_(target) {
  try {
    if (ForcedWrites(target_.Database())) {
      SetForcedWrites(false);
      paused_ = true;
    }
  } catch (const std::exception&) {
    // Another attachment was not let in: the copy runs with forced writes.
  }
}

TForcedWritesPause::~TForcedWritesPause() {
  if (!paused_) {
    return;
  }
  try {
    Resume();
  } catch (...) {
    // Leaving early already, with the failure the run reports; the copy
    // failed, so this database does not become the operator's.
  }
}

bool TForcedWritesPause::ForcedWrites(TIBDatabase& database) {
  // A transaction of its own: the caller's stays as it is.
  TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  TIBQuery query;
  query.SetTransaction(&transaction);
  query.SetDatabase(&database);
  query.SQL().SetText("select mon$forced_writes from mon$database");
  query.Open();
  const bool on = !query.AtEnd() && query.Fields(0).Value().AsInt64() != 0;
  query.Close();
  transaction.Commit();
  return on;
}

void TForcedWritesPause::SetForcedWrites(bool on) {
  TIBDatabase database;
  database.SetLoginPrompt(false);
  database.SetDatabaseName(target_.Database().DatabaseName());
  database.SetParams(target_.Database().Params());
  database.AddParam(on ? "force_write=1" : "force_write=0");
  database.Open();
  database.Close();
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
