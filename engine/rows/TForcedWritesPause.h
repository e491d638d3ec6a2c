#pragma once

#include <string>

#include "engine/firebird/TConnection.h"
#include "fbaccess/TIBDatabase.h"

// Forced writes of a database of the run's own making turned off while rows
// are copied into it: the server then leaves its page writes to the
// operating system instead of waiting for each one on the disk (the server's
// own restore fills its database the same way). Never for the operator's
// database. Resume() turns them on again and has the file's data written to
// the disk; the destructor does so too, quietly, when an error or a cancel
// left early (the copy failed then, and its database is not offered).
//
// The change is made by a short attachment of its own while the caller's is
// closed for that moment: the server changes forced writes by closing and
// reopening the file, and a page another attachment of the same database
// writes meanwhile fails ("I/O error during \"write\" … Invalid argument",
// seen with Firebird 3.0.11 when the change was made beside the caller's
// attachment). A database shut down for maintenance keeps its forced writes:
// its one place could be taken while the caller's attachment is closed, and
// the copy is only slower.
class TForcedWritesPause {
 public:
  // `target` names the database and must be attached, with no transaction
  // active; it is attached again, with prepared statements gone, after each
  // change.
  explicit TForcedWritesPause(TConnection& target);
  ~TForcedWritesPause();
  TForcedWritesPause(const TForcedWritesPause&) = delete;
  TForcedWritesPause& operator=(const TForcedWritesPause&) = delete;

  // True while forced writes are off through this pause.
  bool Paused() const { return paused_; }
  // Turns forced writes on again, checks that the server says so, and
  // writes the file's data to the disk; throws (the operator's words) when
  // they stay off. The caller's transaction must be ended. Does nothing when
  // nothing was paused.
  void Resume();

  // What the server says of the attached database's forced writes.
  static bool ForcedWrites(TIBDatabase& database);

 private:
  // Closes the caller's attachment, attaches with its parameters and the
  // forced writes asked for, which the server applies at the attach,
  // detaches and attaches the caller again.
  void SetForcedWrites(bool on);
  // The file's data, written by the server with forced writes off, to the
  // disk (the server does not do it when they are turned on again).
  void SyncFile() const;

  TConnection& target_;
  bool paused_ = false;
};
