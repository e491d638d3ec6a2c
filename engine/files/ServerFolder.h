#pragma once

#include <string>

// The server, not this program, writes the backups and the restored
// databases, as its own user. Empty when the server's user can create files
// in `folder` (or when that cannot be told); otherwise, in the operator's
// words, what stops it and what to change.
std::string ServerCannotWriteIn(const std::string& folder);
