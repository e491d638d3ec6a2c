#pragma once

#include <map>
#include <string>
#include <vector>

// Where the damage is, read out of the server's outputs (Firebird 3).
//
// A row the restore refused, e.g. one whose torn record came out of the
// backup as NULLs, gives
//   gbak: ERROR:validation error for column "CLIENTES"."ID", value "*** null ***"
// The online validation names every table it found damaged:
//   Relation 129 (PEDIDOS) : 2 ERRORS found

// The error lines of a backup's or restore's output, trimmed, in order.
std::vector<std::string> ErrorLines(const std::vector<std::string>& output);

// True for a restore's error line about a row it refused to store.
bool IsRefusedRowLine(const std::string& line);

// The rows the restore refused, per table, from its output.
std::map<std::string, long long> RefusedRowsPerTable(const std::vector<std::string>& restoreLog);

// The tables the online validation found errors in, in output order, each once.
std::vector<std::string> TablesWithErrors(const std::vector<std::string>& validationOutput);

// True when every error line of a restore's output belongs to a foreign-key
// violation or a refused row, there was at least one, and the restore read
// the backup to its end: the only failures level 2 and the older backup mend.
bool FailedOnlyOnKeysAndRows(const std::vector<std::string>& restoreLog);
