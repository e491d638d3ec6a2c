#pragma once

#include <string>
#include <vector>

// Reading the foreign-key violations out of a restore's output. A Firebird 3
// line looks like
//   gbak: ERROR:violation of FOREIGN KEY constraint "FK_PEDIDOS_CLIENTES" on table "PEDIDOS"
// followed by one blank.

// The distinct lines of `runLog` that contain "gbak: ERROR:violation of FOREIGN
// KEY" (case-sensitive), in log order; lines that differ only in letter case
// count as one, kept at the place of the first.
std::vector<std::string> getForeignKeyErrors(const std::vector<std::string>& runLog);

// The first quoted name of the line. The copy stops at the closing double quote
// and never takes the line's last character; a line without a double quote
// gives the empty text.
std::string getConstraintName(const std::string& line);

// The quoted name that follows the word "table" (case-sensitive), read like
// getConstraintName. The word is looked for after the first quoted name, so a
// constraint name holding "table" does not mislead it. Empty when the line has
// no such word or no double quote after it.
std::string getTableName(const std::string& line);
