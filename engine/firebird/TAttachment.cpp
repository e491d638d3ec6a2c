#include "engine/firebird/TAttachment.h"

TAttachment::TAttachment(TConnection& connection, const std::string& path)
    : connection_(connection) {
  TIBDatabase& database = connection_.Database();
  if (database.Connected() && database.DatabaseName() != "localhost:" + path) {
    database.Close();
  }
  connection_.SetDatabasePath(path);
  if (!database.Connected()) {
    database.Open();
    owned_ = true;
  }
}

TAttachment::TAttachment(TConnection& connection) : connection_(connection) {
  if (!connection_.Database().Connected()) {
    connection_.Database().Open();
    owned_ = true;
  }
}

TAttachment::~TAttachment() {
  if (!owned_) {
    return;
  }
  try {
    connection_.Database().Close();
  } catch (...) {
    connection_.Database().ForceClose();
  }
}

void TAttachment::Detach() {
  if (owned_) {
    owned_ = false;
    try {
      connection_.Database().Close();
    } catch (...) {
      connection_.Database().ForceClose();
      throw;
    }
  }
}
