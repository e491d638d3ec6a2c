#pragma once

#include <ctime>
#include <string>

// Names of the files a run writes next to the database, formed from the
// database path exactly as the user chose it. The extensions ".FDB" and ".FBK"
// are found in any letter case (the file system tells case apart, so the path
// itself is never changed); the texts put in their place are fixed.

// The working copy: first ".FDB" -> " (Copia).FDB".
std::string CopyPathFor(const std::string& databasePath);

// The backup: every ".FDB" -> " dd-mm-yyyy hh-nn.fbk", from the local time `when`.
std::string BackupFilePathFor(const std::string& databasePath, const std::tm& when);

// The level-1 restored database: first ".FBK" of the backup path -> ".FDB".
std::string RestoredPathFor(const std::string& backupFilePath);

// Where the corrupt database is set aside: first ".FDB" -> "-OLD.FDB" for
// number 1, "-OLD-<number>.FDB" for number 2 and on.
std::string OldPathFor(const std::string& databasePath, int number = 1);

// The temporary database restored from an older backup: first ".FDB" -> "-TEMP.FDB".
std::string TemporaryPathFor(const std::string& databasePath);

// The name part of a path: the text after its last "/".
std::string NamePart(const std::string& path);
