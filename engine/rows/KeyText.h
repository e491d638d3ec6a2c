#pragma once

#include <string>
#include <string_view>
#include <vector>

// The text forms of one parent key: the key text shown in the log and read
// back by TInconsistency::WhereClause, and the lookup form compared in memory.

// The key text of the values, in key-field order, joined with ";". A value
// that the reading back would change (one holding ";", beginning with a double
// quote, or beginning or ending with a blank or control character) is written
// between double quotes, a double quote inside it doubled; every other value
// is written as it is. Values that are all empty give the empty text.
std::string KeyText(const std::vector<std::string>& values);

// Appends one value of a key to its lookup form. Values of a key of several
// fields carry their length in front, so that ("1;2", "3") and ("1", "2;3")
// stay apart; a key of one field is its value alone.
void AppendLookupValue(std::string& lookup, std::string_view value, bool severalFields);

// The text as the server compares it: trailing blanks do not count.
std::string_view WithoutTrailingBlanks(std::string_view text);
