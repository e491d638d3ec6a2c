#include "fbaccess/detail/SqlParamScan.h"

#include <optional>
#include <string_view>
#include <utility>

#include "fbaccess/detail/ClientApi.h"

namespace fbdetail {

namespace {

bool IsParamQuote(char c) {
  return c == '\'' || c == '"' || c == '`';
}

bool EndsParamName(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == ')' || c == ',' || c == ';';
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

[[noreturn]] void ParseError(const char* what) {
  RaiseClientError(55, std::string("SQL Parse Error:\r\n\r\n") + what);
}

constexpr const char* kOpenComment = "EOF encontrada em comentário";
constexpr const char* kOpenString = "EOF encontrada em string";
constexpr const char* kNoName = "Nome de parâmetro esperado";

// The end (one past) of the comment starting at `i`, or npos when it is left
// open; `i` itself when no comment starts there.
std::size_t CommentEnd(const std::string& text, std::size_t i) {
  if (text.compare(i, 2, "/*") == 0) {
    const std::size_t end = text.find("*/", i + 2);
    return end == std::string::npos ? end : end + 2;
  }
  if (text.compare(i, 2, "--") == 0) {
    // A line comment runs to the end of the line.
    const std::size_t end = text.find_first_of("\r\n", i);
    return end == std::string::npos ? text.size() : end;
  }
  return i;
}

// The position of the quote closing the string or quoted name that starts at
// `i`, or npos when it is left open. Two quote characters in a row stand for
// one and keep it open.
std::size_t QuoteEnd(const std::string& text, std::size_t i) {
  const char quote = text[i];
  for (std::size_t j = i + 1; j < text.size(); ++j) {
    if (text[j] == quote) {
      if (j + 1 < text.size() && text[j + 1] == quote) {
        ++j;
        continue;
      }
      return j;
    }
  }
  return std::string::npos;
}

// The name of the marker whose ":" is at `i` (":NAME" or ':"Any name"'), with
// `i` moved past it; the error when there is none.
const char* ReadMarkerName(const std::string& text, std::size_t& i, std::string& name) {
  if (i + 1 < text.size() && text[i + 1] == '"') {
    const std::size_t end = text.find('"', i + 2);
    if (end == std::string::npos) {
      return kOpenString;
    }
    name = text.substr(i + 2, end - i - 2);
    i = end + 1;
  } else {
    std::size_t j = i + 1;
    while (j < text.size() && IsNameChar(text[j])) {
      ++j;
    }
    name = text.substr(i + 1, j - i - 1);
    i = j;
  }
  return name.empty() ? kNoName : nullptr;
}

// Moves `i` past blanks and comments; false when a comment is left open.
bool SkipBlanks(const std::string& text, std::size_t& i) {
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    const std::size_t end = CommentEnd(text, i);
    if (end == i) {
      return true;
    }
    if (end == std::string::npos) {
      return false;
    }
    i = end;
  }
  return true;
}

// True, with `i` moved past it, when the keyword `word` (lower case) stands
// at `i` as a whole word, in any case.
bool TakeWord(const std::string& text, std::size_t& i, std::string_view word) {
  if (text.size() - i < word.size()) {
    return false;
  }
  for (std::size_t k = 0; k < word.size(); ++k) {
    const char c = text[i + k];
    if ((c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c) != word[k]) {
      return false;
    }
  }
  if (i + word.size() < text.size() && IsNameChar(text[i + word.size()])) {
    return false;
  }
  i += word.size();
  return true;
}

struct BlockScan {
  ProcessedSql Sql;
  const char* Error = nullptr;  // a comment or string left open, a ":" without a name
};

// An `execute block` takes its values through the "?" of its parameter
// declarations ("V0 integer = ?"), and each such marker is named after the
// parameter it declares. Everything after the declarations is the block's
// own code: a ":NAME" there is one of its variables, left to the server. A
// ":NAME" in place of the "?" is a named marker as in any statement.
// nullopt when the text is not an execute block.
std::optional<BlockScan> ScanExecuteBlock(const std::string& text) {
  std::size_t i = 0;
  if (!SkipBlanks(text, i) || !TakeWord(text, i, "execute") || !SkipBlanks(text, i) ||
      !TakeWord(text, i, "block")) {
    return std::nullopt;
  }
  BlockScan block;
  const std::size_t n = text.size();
  if (!SkipBlanks(text, i)) {
    block.Error = kOpenComment;
  }
  if (block.Error != nullptr || i >= n || text[i] != '(') {
    block.Sql.Text = text;  // no parameters
    return block;
  }
  block.Sql.Text.assign(text, 0, i);
  int depth = 0;
  bool atName = false;  // at the start of a declaration: its parameter's name comes next
  std::string name;
  while (i < n) {
    const char c = text[i];
    const std::size_t commentEnd = CommentEnd(text, i);
    if (commentEnd == std::string::npos) {
      block.Error = kOpenComment;
      break;
    }
    if (commentEnd > i) {
      block.Sql.Text.append(text, i, commentEnd - i);
      i = commentEnd;
    } else if (c == '\'' || c == '"') {
      const std::size_t end = QuoteEnd(text, i);
      if (end == std::string::npos) {
        block.Error = kOpenString;
        break;
      }
      if (c == '"' && atName) {
        name.clear();
        for (std::size_t k = i + 1; k < end; ++k) {
          name += text[k];
          k += text[k] == '"' ? 1 : 0;  // "" stands for one
        }
        atName = false;
      }
      block.Sql.Text.append(text, i, end + 1 - i);
      i = end + 1;
    } else if (c == ':' && i + 1 < n && text[i + 1] == ':') {
      block.Sql.Text += "::";
      i += 2;
    } else if (c == ':') {
      std::string marker;
      block.Error = ReadMarkerName(text, i, marker);
      if (block.Error != nullptr) {
        break;
      }
      block.Sql.Text += '?';
      block.Sql.Names.push_back(marker);
    } else if (IsNameChar(c) && atName) {
      const std::size_t start = i;
      while (i < n && IsNameChar(text[i])) {
        ++i;
      }
      name.assign(text, start, i - start);
      atName = false;
      block.Sql.Text.append(text, start, i - start);
    } else {
      if (c == '?') {
        block.Sql.Names.push_back(name);
      } else if (c == '(' || c == ')' || c == ',') {
        // Types have parentheses and commas of their own: numeric(15,2).
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if ((c == '(' && depth == 1) || (c == ',' && depth == 1)) {
          atName = true;
          name.clear();
        }
      }
      block.Sql.Text += c;
      ++i;
      if (depth == 0) {
        break;  // the declarations are over
      }
    }
  }
  if (block.Error == nullptr) {
    block.Sql.Text.append(text, i, std::string::npos);
  }
  return block;
}

}  // namespace

std::vector<std::string> ScanParamNames(const std::string& text) {
  if (const std::optional<BlockScan> block = ScanExecuteBlock(text)) {
    return block->Sql.Names;
  }
  std::vector<std::string> names;
  const std::size_t n = text.size();
  char quote = 0;
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      }
      ++i;
    } else if (IsParamQuote(c)) {
      quote = c;
      ++i;
    } else if (c == ':' && i + 1 < n && text[i + 1] == ':') {
      i += 2;  // "::" is left as it is
    } else if (c == ':') {
      // The name runs to a delimiter; a quoted part inside it may hold
      // delimiters, and the quote characters themselves are dropped.
      std::string name;
      char nameQuote = 0;
      ++i;
      while (i < n) {
        const char d = text[i];
        if (nameQuote != 0) {
          if (d == nameQuote) {
            nameQuote = 0;
          } else {
            name += d;
          }
        } else if (IsParamQuote(d)) {
          nameQuote = d;
        } else if (EndsParamName(d)) {
          break;
        } else {
          name += d;
        }
        ++i;
      }
      if (!name.empty()) {
        names.push_back(name);
      }
    } else {
      ++i;
    }
  }
  return names;
}

ProcessedSql ProcessSqlText(const std::string& text) {
  if (std::optional<BlockScan> block = ScanExecuteBlock(text)) {
    if (block->Error != nullptr) {
      ParseError(block->Error);
    }
    return std::move(block->Sql);
  }
  ProcessedSql out;
  out.Text.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    const char next = i + 1 < n ? text[i + 1] : '\0';
    const std::size_t commentEnd = CommentEnd(text, i);
    if (commentEnd == std::string::npos) {
      ParseError(kOpenComment);
    }
    if (commentEnd > i) {
      // A colon in a comment is no marker.
      out.Text.append(text, i, commentEnd - i);
      i = commentEnd;
    } else if (c == '\'' || c == '"') {
      const std::size_t end = QuoteEnd(text, i);
      if (end == std::string::npos) {
        ParseError(kOpenString);
      }
      out.Text.append(text, i, end + 1 - i);
      i = end + 1;
    } else if (c == ':' && next == ':') {
      out.Text += "::";
      i += 2;
    } else if (c == ':') {
      std::string name;
      if (const char* error = ReadMarkerName(text, i, name)) {
        ParseError(error);
      }
      out.Text += '?';
      out.Names.push_back(name);
    } else if (c == '?') {
      out.Text += '?';
      out.Names.emplace_back();
      ++i;
    } else {
      out.Text += c;
      ++i;
    }
  }
  return out;
}

}  // namespace fbdetail
