#include "engine/firebird/SqlName.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "engine/run/TextUtil.h"

namespace {

// Firebird 3's reserved words, sorted: a table, column or trigger of such a
// name was created quoted and is reached only quoted. Checked against 3.0.11,
// where each of them fails as a plain table name.
constexpr std::array<std::string_view, 196> kReservedWords = {
    "ADD",
    "ADMIN",
    "ALL",
    "ALTER",
    "AND",
    "ANY",
    "AS",
    "AT",
    "AVG",
    "BEGIN",
    "BETWEEN",
    "BIGINT",
    "BIT_LENGTH",
    "BLOB",
    "BOOLEAN",
    "BOTH",
    "BY",
    "CASE",
    "CAST",
    "CHAR",
    "CHARACTER",
    "CHARACTER_LENGTH",
    "CHAR_LENGTH",
    "CHECK",
    "CLOSE",
    "COLLATE",
    "COLUMN",
    "COMMIT",
    "CONNECT",
    "CONSTRAINT",
    "CORR",
    "COUNT",
    "COVAR_POP",
    "COVAR_SAMP",
    "CREATE",
    "CROSS",
    "CURRENT",
    "CURRENT_CONNECTION",
    "CURRENT_DATE",
    "CURRENT_ROLE",
    "CURRENT_TIME",
    "CURRENT_TIMESTAMP",
    "CURRENT_TRANSACTION",
    "CURRENT_USER",
    "CURSOR",
    "DATE",
    "DAY",
    "DEC",
    "DECIMAL",
    "DECLARE",
    "DEFAULT",
    "DELETE",
    "DELETING",
    "DETERMINISTIC",
    "DISCONNECT",
    "DISTINCT",
    "DOUBLE",
    "DROP",
    "ELSE",
    "END",
    "ESCAPE",
    "EXECUTE",
    "EXISTS",
    "EXTERNAL",
    "EXTRACT",
    "FALSE",
    "FETCH",
    "FILTER",
    "FLOAT",
    "FOR",
    "FOREIGN",
    "FROM",
    "FULL",
    "FUNCTION",
    "GDSCODE",
    "GLOBAL",
    "GRANT",
    "GROUP",
    "HAVING",
    "HOUR",
    "IN",
    "INDEX",
    "INNER",
    "INSENSITIVE",
    "INSERT",
    "INSERTING",
    "INT",
    "INTEGER",
    "INTO",
    "IS",
    "JOIN",
    "LEADING",
    "LEFT",
    "LIKE",
    "LONG",
    "LOWER",
    "MAX",
    "MERGE",
    "MIN",
    "MINUTE",
    "MONTH",
    "NATIONAL",
    "NATURAL",
    "NCHAR",
    "NO",
    "NOT",
    "NULL",
    "NUMERIC",
    "OCTET_LENGTH",
    "OF",
    "OFFSET",
    "ON",
    "ONLY",
    "OPEN",
    "OR",
    "ORDER",
    "OUTER",
    "OVER",
    "PARAMETER",
    "PLAN",
    "POSITION",
    "POST_EVENT",
    "PRECISION",
    "PRIMARY",
    "PROCEDURE",
    "RDB$DB_KEY",
    "RDB$RECORD_VERSION",
    "REAL",
    "RECORD_VERSION",
    "RECREATE",
    "RECURSIVE",
    "REFERENCES",
    "REGR_AVGX",
    "REGR_AVGY",
    "REGR_COUNT",
    "REGR_INTERCEPT",
    "REGR_R2",
    "REGR_SLOPE",
    "REGR_SXX",
    "REGR_SXY",
    "REGR_SYY",
    "RELEASE",
    "RETURN",
    "RETURNING_VALUES",
    "RETURNS",
    "REVOKE",
    "RIGHT",
    "ROLLBACK",
    "ROW",
    "ROWS",
    "ROW_COUNT",
    "SAVEPOINT",
    "SCROLL",
    "SECOND",
    "SELECT",
    "SENSITIVE",
    "SET",
    "SIMILAR",
    "SMALLINT",
    "SOME",
    "SQLCODE",
    "SQLSTATE",
    "START",
    "STDDEV_POP",
    "STDDEV_SAMP",
    "SUM",
    "TABLE",
    "THEN",
    "TIME",
    "TIMESTAMP",
    "TO",
    "TRAILING",
    "TRIGGER",
    "TRIM",
    "TRUE",
    "UNION",
    "UNIQUE",
    "UNKNOWN",
    "UPDATE",
    "UPDATING",
    "UPPER",
    "USER",
    "USING",
    "VALUE",
    "VALUES",
    "VARCHAR",
    "VARIABLE",
    "VARYING",
    "VAR_POP",
    "VAR_SAMP",
    "VIEW",
    "WHEN",
    "WHERE",
    "WHILE",
    "WITH",
    "YEAR",
};

bool IsReservedWord(const std::string& name) {
  return std::binary_search(kReservedWords.begin(), kReservedWords.end(), name);
}

bool IsRegularIdentifier(const std::string& name) {
  if (name.empty() || !(name[0] >= 'A' && name[0] <= 'Z')) {
    return false;
  }
  for (const char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
    if (!ok) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string SqlName(const std::string& name) {
  if (IsRegularIdentifier(name) && !IsReservedWord(name)) {
    return name;
  }
  return QuotedText(name, '"');
}

std::string ParamNameFor(const std::string& name, const std::string& fallback) {
  return IsRegularIdentifier(name) ? name : fallback;
}

std::string MissingParentCondition(const std::string& parent,
                                   const std::vector<std::string>& columns,
                                   const std::vector<std::string>& referenced) {
  std::string condition;
  std::string match;
  for (std::size_t i = 0; i < columns.size() && i < referenced.size(); ++i) {
    condition += (i == 0 ? " where C." : " and C.") + SqlName(columns[i]) + " is not null";
    match +=
        (i == 0 ? " where P." : " and P.") + SqlName(referenced[i]) + " = C." + SqlName(columns[i]);
  }
  return condition + " and not exists (select 1 from " + SqlName(parent) + " P" + match + ")";
}
