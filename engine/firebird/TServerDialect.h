#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run/StepResult.h"

// What Firebird 3 says, and what it means: the words of its service output
// (backup, restore, validation), of the errors it raises, and their codes.
// Everything else asks this class; a server that words things otherwise is
// taught here, in one place.
class TServerDialect {
 public:
  // Why the server refused an attachment, by its error code.
  enum class AttachFailure {
    Other,
    LoginRefused,    // wrong password, unknown user, or a login the client cannot offer
    ShutDown,        // the database is in maintenance
    NotADatabase,    // not a database file at all
    UnsupportedOds,  // a database of another server version
    Corrupt,         // a header or transaction inventory the server cannot read
  };
  static AttachFailure ClassifyAttach(long engineCode);
  // Why a routine failed, by the error's code (0 when the error was not the
  // server's) and its text.
  static StepFailure ClassifyFailure(long engineCode, std::string_view text);
  // The status a validation or mend that found errors ends with; its text is
  // the summary of what was found.
  static bool IsValidationSummary(long engineCode);

  // --- Output lines of backups and restores ------------------------------
  // "gbak: ERROR:" anywhere in the line.
  static bool IsErrorLine(std::string_view line);
  // An error line whose text starts with a blank: a detail of the line before.
  static bool IsErrorDetail(std::string_view line);
  static bool IsForeignKeyViolation(std::string_view line);
  // The table of a row the restore refused ("validation error for column
  // "T"."C""); empty for any other line.
  static std::string RefusedRowTable(std::string_view line);
  // The table a restore could not create ("table X is not defined": its
  // columns were missing from the backup); empty for any other line.
  static std::string TableNotCreated(std::string_view line);
  // The last words of every restore that read its backup to the end (a
  // truncated backup restores without an error line and without them).
  static bool RestoreFinished(std::string_view output);
  static bool BackupFinished(std::string_view output);
  // A restore's table lines: "restoring table X", "restoring data for table
  // X", "table X is a view", "N records restored". Empty or nothing when the
  // line is not one.
  static std::string RestoredTable(std::string_view line);
  static std::string RestoredDataTable(std::string_view line);
  static std::string RestoredView(std::string_view line);
  static std::optional<long long> RestoredRecords(std::string_view line);
  // The table whose rows a backup or restore line starts on, wherever the
  // phrase stands in the line; empty when none.
  static std::string DataTableOfLine(std::string_view line);
  // A backup line without its "gbak:" and leading blanks; `error` tells
  // whether it reports the failure (an error line, or a line without
  // "gbak:", as the error the service raised is appended).
  static std::string_view BackupLineBody(std::string_view line, bool& error);
  // On a body: the table "writing data for table X" starts (as written);
  // whether it is "N records written"; the page of "page N is of wrong type
  // (expected pointer", 0 if none.
  static std::optional<std::string> BackupDataTable(std::string_view body);
  static bool IsBackupProgress(std::string_view body);
  static std::uint32_t WrongTypePointerPage(std::string_view body);
  // The skip-data expression (SIMILAR TO) that matches exactly these table
  // names: the characters the pattern language gives a meaning to are
  // escaped with "\", the names joined with "|". The server compares without
  // regard to case, so a name also matches one that differs in case only.
  static std::string SkipDataExpression(const std::vector<std::string>& tables);

  // --- Validation ----------------------------------------------------------
  static bool ValidationFoundNothing(std::string_view output);
  static bool IsValidationSummaryText(std::string_view output);
  // The table of "Relation N (T) : K ERRORS found" of the online validation;
  // empty for any other line.
  static std::string TableWithErrors(std::string_view line);

  // --- Errors raised ---------------------------------------------------------
  // The server will not validate a database someone else has open.
  static bool OthersAttached(std::string_view text);
  // Bringing online a database that is online already.
  static bool AlreadyOnline(std::string_view text);
  // A file the restore was to create exists already.
  static bool FileExists(std::string_view text);
  // The server could not open a file it was given (a backup, a database).
  static bool CannotOpen(std::string_view text);
  // What a technician can act on, in pt-BR, for a server text that does not
  // say it plainly (a full disk, a read-only disk, a permission, a server
  // that does not answer); empty when the text needs no words of ours.
  static std::string OperatorWords(std::string_view text);

  // --- The file on disk (ODS 12), as the triage reads it -------------------
  // Header page: page type 1 in byte 0, the page size (16 bits) at 16, the
  // structure version at 18 with the Firebird flag in its top bit, and the
  // minor version at 64. Measured on files made by this server (4096 and
  // 16384 byte pages both read 0x800C at 18).
  struct OnDisk {
    static constexpr unsigned char kHeaderPageType = 1;
    static constexpr unsigned char kInventoryPageType = 2;
    static constexpr std::size_t kPageSizeOffset = 16;
    static constexpr std::size_t kOdsOffset = 18;
    static constexpr std::size_t kOdsMinorOffset = 64;
    static constexpr std::size_t kHeaderBytes = 72;
    static constexpr unsigned kFirebirdFlag = 0x8000;
    static constexpr int kOdsFirebird3 = 12;
  };
};
