#pragma once

#include <string>
#include <vector>

// A table, column or trigger name as it stands in a statement: unchanged when
// it is a regular upper-case identifier (letters, digits, "_" and "$",
// starting with a letter) and no reserved word, else between double quotes
// with an inner double quote doubled, so that names created quoted ("Nome",
// "DATA ENTREGA", "ORDER") are reached exactly.
std::string SqlName(const std::string& name);

// A name as the parameter marker ":NAME" can carry it: the name itself when it
// is a regular identifier, else `fallback`.
std::string ParamNameFor(const std::string& name, const std::string& fallback);

// " where C.F1 is not null and ... and not exists (select 1 from PARENT P
// where P.K1 = C.F1 and ...)": the rows of a table read as C whose foreign
// key `columns` names no row of `parent` by its `referenced` columns. A key
// with a NULL part names nothing, as the server checks it.
std::string MissingParentCondition(const std::string& parent,
                                   const std::vector<std::string>& columns,
                                   const std::vector<std::string>& referenced);
