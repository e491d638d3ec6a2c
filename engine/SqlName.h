#pragma once

#include <string>

// A table, column or trigger name as it stands in a statement: unchanged when
// it is a regular upper-case identifier (letters, digits, "_" and "$",
// starting with a letter) and no reserved word, else between double quotes
// with an inner double quote doubled, so that names created quoted ("Nome",
// "DATA ENTREGA", "ORDER") are reached exactly.
std::string SqlName(const std::string& name);

// A name as the parameter marker ":NAME" can carry it: the name itself when it
// is a regular identifier, else `fallback`.
std::string ParamNameFor(const std::string& name, const std::string& fallback);
