#include "engine/files/DerivedNames.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/run/TextUtil.h"

namespace {

std::string Variant(int number) {
  return number <= 1 ? std::string() : "-" + std::to_string(number);
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         FindIgnoringCase(text, ending, text.size() - ending.size()) == text.size() - ending.size();
}

}  // namespace

std::string DatabaseStem(const std::string& databasePath) {
  if (EndsWithIgnoringCase(databasePath, ".FDB") && NamePart(databasePath).size() > 4) {
    return databasePath.substr(0, databasePath.size() - 4);
  }
  return databasePath;
}

std::string CopyPathFor(const std::string& databasePath, int number) {
  return DatabaseStem(databasePath) + " (Copia)" + Variant(number) + ".FDB";
}

std::string RunStemFor(const std::string& databasePath, const std::tm& when, int number) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, " %02d-%02d-%04d %02d-%02d", when.tm_mday, when.tm_mon + 1,
                when.tm_year + 1900, when.tm_hour, when.tm_min);
  return DatabaseStem(databasePath) + stamp + Variant(number);
}

std::string BackupFilePathFor(const std::string& databasePath, const std::tm& when) {
  return RunStemFor(databasePath, when) + ".fbk";
}

std::string RestoredPathFor(const std::string& backupFilePath) {
  if (EndsWithIgnoringCase(backupFilePath, ".FBK")) {
    return backupFilePath.substr(0, backupFilePath.size() - 4) + ".FDB";
  }
  return backupFilePath + ".FDB";
}

std::string RebuiltPathFor(const std::string& restoredPath, int number) {
  return DatabaseStem(restoredPath) + " PAGINAS" + Variant(number) + ".FDB";
}

std::string OldPathFor(const std::string& databasePath, int number) {
  return DatabaseStem(databasePath) + "-OLD" + Variant(number) + ".FDB";
}

std::string TemporaryPathFor(const std::string& databasePath, int number) {
  return DatabaseStem(databasePath) + "-TEMP" + Variant(number) + ".FDB";
}

std::string NewDatabasePathFor(const std::string& databasePath, int number) {
  return DatabaseStem(databasePath) + "-NOVO" + Variant(number) + ".FDB";
}

std::string NamePart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool PathIsFree(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  // An error other than "not found" (a folder we cannot search) counts as taken.
  return status.type() == std::filesystem::file_type::not_found;
}

int FirstFreeVariant(const std::function<std::vector<std::string>(int)>& namesFor) {
  for (int number = 1; number <= kMaxVariant; ++number) {
    bool free = true;
    for (const std::string& name : namesFor(number)) {
      free = free && PathIsFree(name);
    }
    if (free) {
      return number;
    }
  }
  return 0;
}
