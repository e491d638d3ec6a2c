#pragma once

// The two scans of a statement text for named parameters (":NAME").
//
// ScanParamNames gives the names the query offers through ParamNamed; it runs
// on every change of the text, also on half-written texts, and never fails.
// ProcessSqlText gives the text sent to the server, with every marker
// replaced by "?", and the name of each marker in order; it fails with
// EIBClientError 55 on an unterminated comment or string or a ":" without a
// name.
//
// Where the two scans could read a text differently, these rules hold:
// - "::" is never a marker, in either scan: both characters stay in the text.
// - Values are matched to markers by name, not by position: each marker takes
//   the value of the first parameter of the same name (ignoring case). A name
//   the first scan reads differently (":A+:B", a colon inside a comment) is
//   therefore harmless when the marker's own name exists, and the query
//   refuses a marker whose name it does not know ("Parametro '%s' não
//   encontrado").
// - A "?" written in the text is a marker without a name; ProcessSqlText
//   records it with an empty name and the query refuses such a text, since no
//   parameter could fill it ("Nome de parâmetro esperado").
// - An `execute block` reads otherwise, in both scans: its markers are only those
//   of its parameter declarations, and a "?" there is named after the
//   parameter it declares ("V0 integer = ?" is the marker "V0"). A ":NAME"
//   in the block's code is one of its variables and goes to the server as
//   written.

#include <string>
#include <vector>

namespace fbdetail {

std::vector<std::string> ScanParamNames(const std::string& text);

struct ProcessedSql {
  std::string Text;                // the markers replaced by "?"
  std::vector<std::string> Names;  // one per "?", in order; "" for a written "?"
};

ProcessedSql ProcessSqlText(const std::string& text);

}  // namespace fbdetail
