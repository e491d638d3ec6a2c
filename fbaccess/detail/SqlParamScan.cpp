#include "fbaccess/detail/SqlParamScan.h"

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

}  // namespace

std::vector<std::string> ScanParamNames(const std::string& text) {
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
  ProcessedSql out;
  out.Text.reserve(text.size());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    const char next = i + 1 < n ? text[i + 1] : '\0';
    if (c == '/' && next == '*') {
      const std::size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) {
        ParseError("EOF encontrada em comentário");
      }
      out.Text.append(text, i, end + 2 - i);
      i = end + 2;
    } else if (c == '-' && next == '-') {
      // A line comment runs to the end of the line; a colon in it is no marker.
      std::size_t end = text.find_first_of("\r\n", i);
      if (end == std::string::npos) {
        end = n;
      }
      out.Text.append(text, i, end - i);
      i = end;
    } else if (c == '\'' || c == '"') {
      // Two quote characters in a row stand for one and keep the string open.
      std::size_t j = i + 1;
      for (;;) {
        if (j >= n) {
          ParseError("EOF encontrada em string");
        }
        if (text[j] == c) {
          if (j + 1 < n && text[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      out.Text.append(text, i, j + 1 - i);
      i = j + 1;
    } else if (c == ':' && next == ':') {
      out.Text += "::";
      i += 2;
    } else if (c == ':') {
      std::string name;
      if (next == '"') {
        const std::size_t end = text.find('"', i + 2);
        if (end == std::string::npos) {
          ParseError("EOF encontrada em string");
        }
        name = text.substr(i + 2, end - i - 2);
        i = end + 1;
      } else {
        std::size_t j = i + 1;
        while (j < n && IsNameChar(text[j])) {
          ++j;
        }
        name = text.substr(i + 1, j - i - 1);
        i = j;
      }
      if (name.empty()) {
        ParseError("Nome de parâmetro esperado");
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
