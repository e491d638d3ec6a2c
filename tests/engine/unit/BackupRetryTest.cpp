// Where a failed backup stopped, read from output captured from Firebird
// 3.0.11's backup service (verbose), and the skip-data pattern.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/firebird/TBackupRetry.h"

namespace {

// Three tables A, B, C; A's only pointer page (223) zeroed. The request for
// A's rows fails when compiled, after C's and B's rows were written in full
// and A's index was named: the last data line names a finished table.
const std::vector<std::string> kPointerPageOfFirstTable = {
    "gbak:writing packages ",
    "gbak:    writing index RDB$PRIMARY2 ",
    "gbak:    writing data for table C ",
    "gbak:5000 records written ",
    "gbak:    writing data for table B ",
    "gbak:5000 records written ",
    "gbak:    writing index RDB$PRIMARY1 ",
    "gbak: ERROR:database file appears corrupt (/tmp/wide-m/m223.fdb)",
    "gbak: ERROR:    wrong page type",
    "gbak: ERROR:    page 223 is of wrong type (expected pointer, found purposely undefined)",
    "gbak: ERROR:    gds_$compile_request failed",
    "gbak: ERROR:    Exiting before completion due to errors",
    "gbak:Exiting before completion due to errors",
};

// B's pointer page zeroed: the failure follows C's final count directly.
const std::vector<std::string> kPointerPageAfterLastCount = {
    "gbak:    writing index RDB$PRIMARY2 ",
    "gbak:    writing data for table C ",
    "gbak:5000 records written ",
    "gbak: ERROR:database file appears corrupt (/tmp/wide-m/m230.fdb)",
    "gbak: ERROR:    wrong page type",
    "gbak: ERROR:    page 230 is of wrong type (expected pointer, found purposely undefined)",
    "gbak: ERROR:    gds_$compile_request failed",
};

// The file cut at 90 % of its pages: T's rows fail after a progress line.
const std::vector<std::string> kTruncatedFile = {
    "gbak:writing packages ",
    "gbak:    writing index RDB$PRIMARY1 ",
    "gbak:    writing data for table T ",
    "gbak:10000 records written ",
    "gbak: ERROR:I/O error during \"read\" operation for file \"/tmp/wide-m/cut90b.fdb\"",
    "gbak: ERROR:    File size is less than expected",
    "gbak: ERROR:    gds_$receive failed",
    "gbak: ERROR:    Exiting before completion due to errors",
    "gbak:Exiting before completion due to errors",
};

TEST(BackupRetry, FindsTheTableOrThePointerPageWhereTheBackupStopped) {
  TBackupRetry::TStop stop = TBackupRetry::FindStop(kPointerPageOfFirstTable);
  EXPECT_EQ(stop.Table, "");
  EXPECT_EQ(stop.PointerPage, 223u);
  stop = TBackupRetry::FindStop(kPointerPageAfterLastCount);
  EXPECT_EQ(stop.Table, "");  // not C: its rows were all written
  EXPECT_EQ(stop.PointerPage, 230u);
  stop = TBackupRetry::FindStop(kTruncatedFile);
  EXPECT_EQ(stop.Table, "T");
  EXPECT_EQ(stop.PointerPage, 0u);

  // A name with blanks keeps them (only the one the service adds goes); a
  // failure after other work names nothing.
  stop = TBackupRetry::FindStop({"gbak:    writing data for table Nota Fiscal  ",
                                 "gbak: ERROR:I/O error during \"read\" operation"});
  EXPECT_EQ(stop.Table, "Nota Fiscal ");
  stop = TBackupRetry::FindStop({"gbak:    writing data for table T ", "gbak:20 records written ",
                                 "gbak:writing triggers ", "gbak: ERROR:whatever"});
  EXPECT_EQ(stop.Table, "");
  EXPECT_EQ(stop.PointerPage, 0u);
  EXPECT_EQ(TBackupRetry::FindStop({}).Table, "");

  // As the access layer gives it: the output, then the raised error's lines.
  stop = TBackupRetry::FindStop(
      {"gbak:database /tmp/E.FDB has a page size of 4096 bytes. ",
       "database file appears corrupt (/tmp/E.FDB)", "wrong page type",
       "page 234 is of wrong type (expected pointer, found purposely undefined)",
       "gds_$compile_request failed", "Exiting before completion due to errors"});
  EXPECT_EQ(stop.PointerPage, 234u);
  stop =
      TBackupRetry::FindStop({"gbak:    writing data for table T ", "gbak:10000 records written ",
                              "I/O error during \"read\" operation for file \"/tmp/E.FDB\"",
                              "File size is less than expected"});
  EXPECT_EQ(stop.Table, "T");
}

TEST(BackupRetry, PatternEscapesWhatSimilarToReadsAndSkipIsBounded) {
  EXPECT_EQ(TServerDialect::SkipDataExpression({}), "");
  EXPECT_EQ(TServerDialect::SkipDataExpression({"CLIENTES"}), "CLIENTES");
  // Measured: these are the characters the server accepts escaped; a blank,
  // a quote, "$" or "." escaped fail the backup at once.
  EXPECT_EQ(TServerDialect::SkipDataExpression({"A_B", "Q%", "a b", "x[1](2){3}^-+*?\\|.$'\""}),
            "A\\_B|Q\\%|a b|x\\[1\\]\\(2\\)\\{3\\}\\^\\-\\+\\*\\?\\\\\\|.$'\"");

  TBackupRetry retry(2);
  EXPECT_FALSE(retry.Skip(""));
  EXPECT_TRUE(retry.Skip("A_B"));
  EXPECT_FALSE(retry.Skip("A_B"));  // failed again on it: no point in going on
  EXPECT_TRUE(retry.Skip("C"));
  EXPECT_FALSE(retry.Skip("D"));  // bound reached
  EXPECT_EQ(retry.Skipped(), (std::vector<std::string>{"A_B", "C"}));
  EXPECT_EQ(retry.Pattern(), "A\\_B|C");
}

}  // namespace
