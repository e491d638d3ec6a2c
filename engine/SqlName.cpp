#include "engine/SqlName.h"

#include "engine/TextUtil.h"

namespace {

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
  if (IsRegularIdentifier(name)) {
    return name;
  }
  return QuotedText(name, '"');
}

std::string ParamNameFor(const std::string& name, const std::string& fallback) {
  return IsRegularIdentifier(name) ? name : fallback;
}
