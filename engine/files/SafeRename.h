#pragma once

#include <string>

// Renames `from` to `to` unless something already has the name `to`.
// Returns 0, or the errno value (EEXIST when `to` is taken).
int RenameWithoutReplacing(const std::string& from, const std::string& to);
