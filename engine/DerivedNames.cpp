#include "engine/DerivedNames.h"

#include <cstdio>

#include "engine/TextUtil.h"

namespace {

std::string ReplaceIgnoringCase(const std::string& text, const std::string& what,
                                const std::string& with, bool all) {
  std::string result;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = FindIgnoringCase(text, what, from);
    if (at == std::string::npos) {
      break;
    }
    result.append(text, from, at - from);
    result += with;
    from = at + what.size();
    if (!all) {
      break;
    }
  }
  result.append(text, from, std::string::npos);
  return result;
}

}  // namespace

std::string CopyPathFor(const std::string& databasePath) {
  return ReplaceIgnoringCase(databasePath, ".FDB", " (Copia).FDB", false);
}

std::string BackupFilePathFor(const std::string& databasePath, const std::tm& when) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, " %02d-%02d-%04d %02d-%02d.fbk", when.tm_mday, when.tm_mon + 1,
                when.tm_year + 1900, when.tm_hour, when.tm_min);
  return ReplaceIgnoringCase(databasePath, ".FDB", stamp, true);
}

std::string RestoredPathFor(const std::string& backupFilePath) {
  return ReplaceIgnoringCase(backupFilePath, ".FBK", ".FDB", false);
}

std::string OldPathFor(const std::string& databasePath, int number) {
  const std::string suffix =
      number <= 1 ? std::string("-OLD.FDB") : "-OLD-" + std::to_string(number) + ".FDB";
  return ReplaceIgnoringCase(databasePath, ".FDB", suffix, false);
}

std::string TemporaryPathFor(const std::string& databasePath) {
  return ReplaceIgnoringCase(databasePath, ".FDB", "-TEMP.FDB", false);
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
