#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Small text helpers shared by the run and the orphan analysis. Letter case is
// folded for ASCII letters only: the names and phrases compared here (paths'
// extensions, server output, SQL identifiers) are ASCII.

// a and b hold the same text when letter case is ignored.
bool SameTextIgnoringCase(const std::string& a, const std::string& b);

// Position of the first `what` in `text` at or after `from`, ignoring letter
// case; std::string::npos when there is none.
std::size_t FindIgnoringCase(const std::string& text, const std::string& what,
                             std::size_t from = 0);

// The first line of a (server's) message, for the run log.
std::string FirstLine(const std::string& message);

// `text` with "\n" as its only line break: the run's messages break lines
// with a lone "\r", as the boxes show them; "\r\n" is one break.
std::string WithLineBreaks(const std::string& text);
// The lines of such a text, as its box shows them (at least one).
std::vector<std::string> TextLines(const std::string& text);

// `text` without its leading and trailing characters of code 32 or less.
std::string TrimText(const std::string& text);

// `text` between two `quote` characters, each `quote` inside it doubled: an SQL
// string literal with '\'', a quoted identifier or key value with '"'.
std::string QuotedText(const std::string& text, char quote);

// The whole percentage position * 100 / count, cut towards zero, followed by
// "%"; the empty text when count is 0.
std::string percentText(long long position, long long count);

// The names one after the other, separated by ", ".
std::string JoinedNames(const std::vector<std::string>& names);

// Each distinct line once, in order of first appearance, with " (N vezes)"
// after a line that repeated; at most `most` lines, the last of them then
// saying how many more distinct lines there were.
std::vector<std::string> CondensedLines(const std::vector<std::string>& lines,
                                        std::size_t most = 10);
