#pragma once

#include <string>
#include <vector>

// One broken foreign-key relationship found after a failed restore: the parent
// table, its key fields, the parent keys that child rows use but the table
// lacks, and whether rows were brought back for it.
class TInconsistency {
 public:
  std::string TableName;
  std::vector<std::string> KeyFields;
  // One key text per missing parent key: the values in KeyFields order joined
  // with ";" (the separator only after a non-empty text).
  std::vector<std::string> MissingKeys;
  bool DataFound = false;

  // The SQL condition that selects the parent row of MissingKeys[position]:
  // "where ID = '17' and SEQ = '2'". Each value is an SQL string literal with
  // inner quotes doubled; a value the key text lacks is ''. Field names that
  // are not plain upper-case identifiers are double-quoted. Empty when there
  // are no key fields. Throws std::out_of_range for a position not in the list.
  std::string WhereClause(int position) const;
};
