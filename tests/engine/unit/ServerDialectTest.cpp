// The server's own words, as Firebird 3.0.11 wrote them through the service
// manager (recorded in data/firebird-3.0.11), read by everything that reads
// the server's output.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/firebird/DamageLines.h"
#include "engine/firebird/RestoreCounts.h"
#include "engine/firebird/TBackupRetry.h"
#include "engine/firebird/TServerDialect.h"
#include "engine/firebird/ViolationLines.h"

namespace {

std::vector<std::string> Recorded(const std::string& name) {
  std::ifstream file(std::string(TESSARINE_SOURCE_DIR) +
                     "/tests/engine/unit/data/firebird-3.0.11/" + name + ".txt");
  EXPECT_TRUE(file.good()) << name;
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

struct Recording {
  const char* name;
  bool backupFinished;
  bool restoreFinished;
  bool errorLines;
  bool onlyKeysAndRows;  // a restore level 2 may go on from
  std::map<std::string, long long> refusedRows;
  std::vector<std::string> foreignKeyTables;
  std::vector<std::string> tablesWithErrors;
  std::map<std::string, std::int64_t> restoredRows;  // empty: none named
  std::uint32_t pointerPage;                         // where a backup stopped
  std::vector<std::string> tablesNotCreated = {};
};

const Recording kRecordings[] = {
    {"backup-ok", true, false, false, false, {}, {}, {}, {}, 0},
    {"backup-pointer-page", false, false, false, false, {}, {}, {}, {}, 224},
    {"restore-fk", false, true, true, true, {}, {"FILHO"}, {}, {{"PAI", 0}, {"FILHO", 2}}, 0},
    {"restore-refused-rows",
     false,
     true,
     true,
     true,
     {{"CLIENTES", 73}},
     {},
     {},
     {{"CLIENTES", 2926}},
     0},
    {"restore-truncated", false, false, false, false, {}, {}, {}, {{"PAI", 0}, {"FILHO", 0}}, 0},
    {"validate-online", false, false, false, false, {}, {}, {"CLIENTES"}, {}, 0},
    {"validate-full", false, false, false, false, {}, {}, {}, {}, 0},
    // A backup of a file whose RDB$RELATION_FIELDS page with the user
    // tables' columns was zeroed.
    {"restore-lost-columns",
     false,
     true,
     true,
     false,
     {},
     {},
     {},
     {{"ANOTACOES", 0}, {"AVULSOS", 0}, {"CONTAS", 0}, {"PESSOAS", 0}},
     0,
     {"AVULSOS", "ANOTACOES", "CONTAS", "PESSOAS"}},
};

}  // namespace

TEST(ServerDialect, ReadsEveryRecordedOutputOfTheServer) {
  for (const Recording& recording : kRecordings) {
    SCOPED_TRACE(recording.name);
    const std::vector<std::string> lines = Recorded(recording.name);
    const std::string text = Joined(lines);
    EXPECT_EQ(recording.backupFinished, TServerDialect::BackupFinished(text));
    EXPECT_EQ(recording.restoreFinished, TServerDialect::RestoreFinished(text));
    EXPECT_EQ(recording.errorLines, TServerDialect::IsErrorLine(text));
    EXPECT_EQ(recording.onlyKeysAndRows, FailedOnlyOnKeysAndRows(lines));
    EXPECT_EQ(recording.refusedRows, RefusedRowsPerTable(lines));
    std::vector<std::string> foreignKeyTables;
    for (const std::string& line : getForeignKeyErrors(lines)) {
      foreignKeyTables.push_back(getTableName(line));
    }
    EXPECT_EQ(recording.foreignKeyTables, foreignKeyTables);
    EXPECT_EQ(recording.tablesWithErrors, TablesWithErrors(lines));
    const auto counts = RowCountsFromRestore(lines);
    EXPECT_EQ(recording.restoredRows, counts.value_or(IRecoverySteps::RowCounts{}));
    EXPECT_EQ(recording.pointerPage, TBackupRetry::FindStop(lines).PointerPage);
    std::vector<std::string> notCreated;
    for (const std::string& line : lines) {
      const std::string table = TServerDialect::TableNotCreated(line);
      if (!table.empty()) {
        notCreated.push_back(table);
      }
    }
    EXPECT_EQ(recording.tablesNotCreated, notCreated);
  }
}

TEST(ServerDialect, ValidationAndAttachAnswers) {
  const std::string full = Joined(Recorded("validate-full"));
  EXPECT_TRUE(TServerDialect::IsValidationSummaryText(full));
  EXPECT_FALSE(TServerDialect::ValidationFoundNothing(full));
  EXPECT_TRUE(TServerDialect::IsValidationSummary(335740952));
  using Failure = TServerDialect::AttachFailure;
  EXPECT_EQ(Failure::LoginRefused, TServerDialect::ClassifyAttach(335544472));
  EXPECT_EQ(Failure::LoginRefused,
            TServerDialect::ClassifyAttach(335545106));  // Legacy_Auth client
  EXPECT_EQ(Failure::ShutDown, TServerDialect::ClassifyAttach(335544528));
  EXPECT_EQ(Failure::NotADatabase, TServerDialect::ClassifyAttach(335544323));
  EXPECT_EQ(Failure::Corrupt, TServerDialect::ClassifyAttach(335544335));
  EXPECT_EQ(Failure::Other, TServerDialect::ClassifyAttach(335544344));  // an I/O error
  EXPECT_EQ("CLIENTES",
            TServerDialect::DataTableOfLine("gbak:    writing data for table CLIENTES "));
  EXPECT_EQ("FILHO", TServerDialect::DataTableOfLine("gbak:restoring data for table FILHO "));
}

TEST(ServerDialect, OperatorWordsNameTheWeightiestCause) {
  // Measured on a read-only disk: the attach fails while loading the mapping.
  EXPECT_NE(std::string::npos, TServerDialect::OperatorWords(
                                   "IProvider::attachDatabase failed when loading mapping cache")
                                   .find("somente para leitura"));
  // A write error caused by a full disk is a full disk.
  EXPECT_EQ(0u, TServerDialect::OperatorWords("gbak: ERROR:I/O error during \"write\"\r"
                                              "gbak: ERROR:    No space left on device")
                    .find("O disco ficou cheio"));
  EXPECT_EQ("", TServerDialect::OperatorWords("violation of FOREIGN KEY constraint"));
}
