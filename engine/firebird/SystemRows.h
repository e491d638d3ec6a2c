#pragma once

#include <string>
#include <vector>

#include "fbaccess/TIBQuery.h"

// Runs a query of the system tables with one text parameter :NAME and returns
// every row's columns as trimmed text.
std::vector<std::vector<std::string>> SystemRows(TIBQuery& query, const std::string& sql,
                                                 const std::string& name);

// The tables that hold rows of their own (no views, external or temporary
// tables), in the order they were created.
std::vector<std::string> UserTables(TIBQuery& query);
