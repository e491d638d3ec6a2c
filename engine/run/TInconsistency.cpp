#include "engine/run/TInconsistency.h"

#include <cstddef>

#include "engine/firebird/SqlName.h"
#include "engine/run/TextUtil.h"

namespace {

bool IsBlankOrControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Splits a key text into its values at ";". Blanks and control characters
// before a value are skipped and trailing ones dropped; blanks inside a value
// belong to it. A value that begins with a double quote runs to the closing
// quote, a doubled quote inside standing for one. A ";" at the very end adds
// an empty last value. A NUL character ends the text.
std::vector<std::string> SplitKeyText(const std::string& keyText) {
  const std::string text = keyText.substr(0, keyText.find('\0'));
  std::vector<std::string> pieces;
  std::size_t p = 0;
  auto skipBlanks = [&] {
    while (p < text.size() && IsBlankOrControl(text[p])) {
      ++p;
    }
  };
  skipBlanks();
  while (p < text.size()) {
    std::string piece;
    if (text[p] == '"') {
      ++p;
      while (p < text.size()) {
        if (text[p] == '"') {
          if (p + 1 < text.size() && text[p + 1] == '"') {
            piece += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        piece += text[p++];
      }
    } else {
      const std::size_t start = p;
      while (p < text.size() && text[p] != ';') {
        ++p;
      }
      std::size_t end = p;
      while (end > start && IsBlankOrControl(text[end - 1])) {
        --end;
      }
      piece = text.substr(start, end - start);
    }
    pieces.push_back(piece);
    skipBlanks();
    if (p < text.size() && text[p] == ';') {
      if (p + 1 == text.size()) {
        pieces.emplace_back();
      }
      ++p;
      skipBlanks();
    }
  }
  return pieces;
}

}  // namespace

std::string TInconsistency::WhereClause(int position) const {
  const std::vector<std::string> pieces =
      SplitKeyText(MissingKeys.at(static_cast<std::size_t>(position)));
  std::string condition;
  for (std::size_t i = 0; i < KeyFields.size(); ++i) {
    if (!condition.empty()) {
      condition += " and ";
    }
    const std::string value = i < pieces.size() ? pieces[i] : std::string();
    condition += SqlName(KeyFields[i]) + " = " + QuotedText(value, '\'');
  }
  if (!condition.empty()) {
    condition = "where " + condition;
  }
  return condition;
}
