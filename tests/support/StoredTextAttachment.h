#pragma once

#include <string>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"

namespace testsupport {

// An attachment of its own to a test database, as the tests' account, with
// text as stored (lc_ctype NONE), for comparing values read from the pages
// with the server's. Commits and detaches on destruction.
struct StoredTextAttachment {
  explicit StoredTextAttachment(const std::string& path);
  ~StoredTextAttachment();
  StoredTextAttachment(const StoredTextAttachment&) = delete;
  StoredTextAttachment& operator=(const StoredTextAttachment&) = delete;

  TIBDatabase db;
  TIBTransaction tr;
};

}  // namespace testsupport
