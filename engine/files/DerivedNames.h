#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Names of the files a run writes next to the database. Only the file name
// changes, never a folder: every name is the database path without its
// ".fdb" ending (any letter case) followed by a fixed text. `number` chooses
// the variant when a name is taken: 1 is the plain name, 2 and on add
// "-<number>" before the extension ("-OLD.FDB", "-OLD-2.FDB").

// The database path without its ".fdb" ending; the whole path when it has none.
std::string DatabaseStem(const std::string& databasePath);

// The working copy: " (Copia).FDB".
std::string CopyPathFor(const std::string& databasePath, int number = 1);

// The run's own names share one stem: " dd-mm-yyyy hh-nn" from the local time
// `when`; the backup is the stem with ".fbk", the level-1 restored database
// the stem with ".FDB", the report the stem with ".txt", the level-2 backup
// the stem with " NIVEL02.fbk".
std::string RunStemFor(const std::string& databasePath, const std::tm& when, int number = 1);
std::string BackupFilePathFor(const std::string& databasePath, const std::tm& when);

// The level-1 restored database: the backup path's ".fbk" ending made ".FDB".
std::string RestoredPathFor(const std::string& backupFilePath);

// A database rebuilt from the file's pages beside a restore that failed:
// the restored path's ".FDB" made " PAGINAS.FDB".
std::string RebuiltPathFor(const std::string& restoredPath, int number = 1);

// Where the corrupt database is set aside: "-OLD.FDB".
std::string OldPathFor(const std::string& databasePath, int number = 1);

// The temporary database restored from an older backup: "-TEMP.FDB".
std::string TemporaryPathFor(const std::string& databasePath, int number = 1);

// The final restore, before it takes the database's name: "-NOVO.FDB".
std::string NewDatabasePathFor(const std::string& databasePath, int number = 1);

// The name part of a path: the text after its last "/".
std::string NamePart(const std::string& path);

// Highest variant number tried before a name counts as not available.
constexpr int kMaxVariant = 999;

// True when nothing (no file, folder or link, even a dangling one) has that name.
bool PathIsFree(const std::string& path);

// The first variant number whose names are all free, or 0 when none up to
// kMaxVariant is.
int FirstFreeVariant(const std::function<std::vector<std::string>(int)>& namesFor);
