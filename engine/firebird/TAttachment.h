#pragma once

#include <string>

#include "engine/firebird/TConnection.h"

// Keeps a connection attached for one scope: attaches on construction and,
// when it did the attaching, detaches on destruction however the scope ends.
class TAttachment {
 public:
  // Attaches the connection to `path`; a connection attached elsewhere is
  // detached first.
  TAttachment(TConnection& connection, const std::string& path);
  // Attaches the connection to the database it already names.
  explicit TAttachment(TConnection& connection);
  ~TAttachment();
  TAttachment(const TAttachment&) = delete;
  TAttachment& operator=(const TAttachment&) = delete;

  // Detaches now, reporting failures (the destructor swallows them).
  void Detach();

 private:
  TConnection& connection_;
  bool owned_ = false;
};
