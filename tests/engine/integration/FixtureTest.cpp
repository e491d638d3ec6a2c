// Proves, on the running server, the facts the repair tests rely on: how the
// fixtures' damage shows in validation, mend, backup and restore. Prints what
// the server answered so the exact texts can be read in the test log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/SampleSchema.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::SampleSchema;
using testsupport::ServerTools;
using testsupport::TestFolder;
using testsupport::ToolResult;
using testsupport::ToolRunner;

namespace {

void Print(const std::string& what, const ToolResult& result) {
  std::cout << "---- " << what << " (exit " << result.exitCode << ")\n"
            << "[stdout]\n"
            << result.out << "[stderr]\n"
            << result.err << "----\n";
}

std::vector<std::string> LinesContaining(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(part) != std::string::npos)
      found.push_back(line);
  }
  return found;
}

std::string LastNonBlankLine(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::string last;
  while (std::getline(lines, line)) {
    if (line.find_first_not_of(" \t\r") != std::string::npos)
      last = line;
  }
  return last;
}

std::set<std::string> Difference(const std::vector<std::string>& all,
                                 const std::vector<std::string>& remaining) {
  std::set<std::string> missing(all.begin(), all.end());
  for (const std::string& key : remaining)
    missing.erase(key);
  return missing;
}

const char* const kOnlineFailure =
    "gbak:Database is not online due to failure to activate one or more indices.";

}  // namespace

TEST(ToolRunnerTest, PassesArgumentsLiterallyAndFeedsLargeInput) {
  const ToolResult echoed = ToolRunner::Run({"printf", "%s|", "a b", "$(id);'\"*"});
  EXPECT_EQ(0, echoed.exitCode);
  EXPECT_EQ("a b|$(id);'\"*|", echoed.out);

  // More input than a pipe holds, while the child writes as much back.
  const std::string input(1 << 20, 'x');
  const ToolResult copied = ToolRunner::Run({"cat"}, input);
  EXPECT_EQ(0, copied.exitCode);
  EXPECT_EQ(input.size(), copied.out.size());

  const ToolResult failed = ToolRunner::Run({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(3, failed.exitCode);
  EXPECT_EQ("out\n", failed.out);
  EXPECT_EQ("err\n", failed.err);
}

TEST(FixtureDatabaseTest, ParsesListOutputIntoRows) {
  const auto rows = FixtureDatabase::ParseListOutput(
      "\nID                              17\nNOME                            O'Brien e Cia   \n"
      "OBS                             <null>\nVAZIO                           \n\n"
      "ID                              18\nNOME                            X\n");
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("17", rows[0].at("ID"));
  EXPECT_EQ("O'Brien e Cia", rows[0].at("NOME"));
  EXPECT_EQ("<null>", rows[0].at("OBS"));
  EXPECT_EQ("", rows[0].at("VAZIO"));
  EXPECT_EQ("18", rows[1].at("ID"));
}

// Named constraints, one parent data page zeroed: the whole level-1 story.
TEST(FixtureFactsTest, ZeroedParentPageBreaksRestoreOnChildForeignKeys) {
  TestFolder folder;
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints);
  const FixtureDatabase db = schema.CreateDatabase(folder.File("EMPRESA.FDB"));
  ASSERT_EQ(3000, db.Count("CLIENTES"));
  const std::vector<std::string> allKeys = db.Column("select ID from CLIENTES");

  // The server lets go of the file as soon as isql-fb has detached.
  EXPECT_FALSE(ServerTools::ServerHoldsFile(db.Path()));

  const ToolResult healthy = ServerTools::Validate(db.Path());
  Print("validation of the healthy database", healthy);
  EXPECT_EQ(0, healthy.exitCode);

  const ToolResult oldBackup = ServerTools::Backup(db.Path(), folder.File("OLD.FBK"));
  ASSERT_TRUE(oldBackup.Ok()) << oldBackup.output;

  const std::vector<uint32_t> pages = FileDamage::DataPages(db, "CLIENTES");
  std::cout << "CLIENTES has " << pages.size() << " data pages, first " << pages.front() << "\n";
  ASSERT_GT(pages.size(), 10u);
  const auto damage = FileDamage::ZeroDataPage(db, "CLIENTES", schema.KeyExpression(), 5);
  std::cout << "zeroed page " << damage.pageNumber << " (sequence " << damage.pageSequence
            << "), lost " << damage.lostKeys.size() << " keys: " << damage.lostKeys.front()
            << " .. " << damage.lostKeys.back() << "\n";
  ASSERT_FALSE(damage.lostKeys.empty());
  const auto referencedLost = schema.ReferencedAmong(db, {"1", "2", "3"});
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), referencedLost);

  const ToolResult validation = ServerTools::Validate(db.Path());
  Print("validation after the damage", validation);
  EXPECT_NE(0, validation.exitCode);
  EXPECT_NE(std::string::npos, validation.err.find("Summary of validation errors"));
  EXPECT_TRUE(validation.out.empty());

  const ToolResult mend = ServerTools::Mend(db.Path());
  Print("mend", mend);
  EXPECT_NE(0, mend.exitCode);
  EXPECT_NE(std::string::npos, mend.err.find("Summary of validation errors"));

  const ToolResult backup = ServerTools::Backup(db.Path(), folder.File("NEW.FBK"));
  EXPECT_EQ(0, backup.exitCode) << backup.output;
  EXPECT_NE(std::string::npos,
            LastNonBlankLine(backup.output).find("closing file, committing, and finishing"));

  const std::string restoredPath = folder.File("RESTORED.FDB");
  const ToolResult restore = ServerTools::Restore(folder.File("NEW.FBK"), restoredPath);
  Print("restore of the mended backup", restore);
  const auto violations = LinesContaining(restore.output, "violation of FOREIGN KEY");
  EXPECT_EQ((std::vector<std::string>{
                "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_PEDIDOS_CLIENTES\" on "
                "table \"PEDIDOS\" ",
                "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_NOTAS_CLIENTES\" on table "
                "\"NOTAS\" "}),
            violations);
  EXPECT_EQ(1u, LinesContaining(restore.output, kOnlineFailure).size());

  // Exactly the rows of the zeroed page are gone, so the lost-key report holds.
  const FixtureDatabase restored(restoredPath);
  const auto missing = Difference(allKeys, restored.Column("select ID from CLIENTES"));
  EXPECT_EQ(std::set<std::string>(damage.lostKeys.begin(), damage.lostKeys.end()), missing);
  EXPECT_EQ("3", restored.Value("select rdb$index_inactive from rdb$indices"
                                " where rdb$index_name = 'FK_PEDIDOS_CLIENTES'"));

  const ToolResult online = ServerTools::BringOnline(restoredPath);
  Print("bringing the restored database online", online);
  EXPECT_EQ(0, online.exitCode);
  const ToolResult again = ServerTools::BringOnline(restoredPath);
  Print("bringing it online again", again);
  EXPECT_NE(0, again.exitCode);
  EXPECT_NE(std::string::npos, again.err.find("Target shutdown mode is invalid"));

  // The older backup holds every lost row, with all its columns.
  const std::string temporaryPath = folder.File("EMPRESA-TEMP.FDB");
  const ToolResult oldRestore = ServerTools::Restore(folder.File("OLD.FBK"), temporaryPath);
  EXPECT_EQ(0, oldRestore.exitCode);
  EXPECT_TRUE(LinesContaining(oldRestore.output, "ERROR").empty()) << oldRestore.output;
  const FixtureDatabase temporary(temporaryPath);
  const auto lostRow =
      temporary.Query("select * from CLIENTES where ID = " + damage.lostKeys.front());
  ASSERT_EQ(1u, lostRow.size());
  EXPECT_EQ(6u, lostRow[0].size());
  EXPECT_EQ("Cliente " + damage.lostKeys.front(), lostRow[0].at("NOME"));

  // A backup with a damaged start fails to restore with an error line.
  FileDamage::CorruptedBackupCopy(folder.File("OLD.FBK"), folder.File("BAD.FBK"));
  const ToolResult bad = ServerTools::Restore(folder.File("BAD.FBK"), folder.File("BAD.FDB"));
  Print("restore of a backup with its first bytes overwritten", bad);
  EXPECT_NE(0, bad.exitCode);
  EXPECT_EQ(1u,
            LinesContaining(bad.output, "gbak: ERROR:expected backup description record").size());

  // A truncated backup, restored through the service manager, mostly stops
  // without any error line and with exit code 0; now and then the service
  // connection breaks instead ("Error reading data from the connection").
  // Either way only the missing closing line "finishing, closing, and going
  // home" tells it apart reliably.
  const auto backupSize = std::filesystem::file_size(folder.File("OLD.FBK"));
  FileDamage::TruncatedCopy(folder.File("OLD.FBK"), folder.File("CUT.FBK"), backupSize / 2);
  const ToolResult cut = ServerTools::Restore(folder.File("CUT.FBK"), folder.File("CUT.FDB"));
  Print("restore of a truncated backup", cut);
  EXPECT_TRUE(LinesContaining(cut.output, "finishing, closing, and going home").empty());
  EXPECT_EQ(1u, LinesContaining(restore.output, "finishing, closing, and going home").size());
}

// Damage in a table no foreign key refers to: level 1 alone succeeds.
TEST(FixtureFactsTest, ZeroedStandalonePageRestoresCleanly) {
  TestFolder folder;
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints);
  const FixtureDatabase db = schema.CreateDatabase(folder.File("AVULSO.FDB"));
  const auto damage =
      FileDamage::ZeroDataPage(db, schema.StandaloneTable(), schema.StandaloneKeyExpression(), 1);
  ASSERT_FALSE(damage.lostKeys.empty());

  const ToolResult validation = ServerTools::Validate(db.Path());
  Print("validation of the standalone damage", validation);
  EXPECT_NE(std::string::npos, validation.err.find("Summary of validation errors"));
  const ToolResult mend = ServerTools::Mend(db.Path());
  EXPECT_NE(std::string::npos, mend.err.find("Summary of validation errors"));

  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("AVULSO.FBK")).Ok());
  const std::string restoredPath = folder.File("AVULSO-RESTORED.FDB");
  const ToolResult restore = ServerTools::Restore(folder.File("AVULSO.FBK"), restoredPath);
  EXPECT_EQ(0, restore.exitCode);
  EXPECT_TRUE(LinesContaining(restore.output, "ERROR").empty()) << restore.output;
  EXPECT_TRUE(LinesContaining(restore.output, kOnlineFailure).empty());

  const FixtureDatabase restored(restoredPath);
  EXPECT_EQ(2000 - static_cast<long long>(damage.lostKeys.size()), restored.Count("AVULSOS"));
  const ToolResult clean = ServerTools::Validate(restoredPath);
  Print("validation of the restored database", clean);
  EXPECT_EQ(0, clean.exitCode);
}

// Every schema variant: the damage loses exactly the reported keys, the
// restore names each child's own FOREIGN KEY constraint, and the lost keys
// include some that children refer to and some that none does.
class FixtureVariantTest : public ::testing::TestWithParam<SampleSchema::Kind> {};

TEST_P(FixtureVariantTest, DamageLosesReportedKeysAndRestoreNamesChildConstraints) {
  TestFolder folder;
  const SampleSchema schema(GetParam());
  const FixtureDatabase db = schema.CreateDatabase(folder.File("VARIANT.FDB"));
  const auto allKeys = db.Column("select " + schema.KeyExpression() + " as K from CLIENTES");
  ASSERT_EQ(3000u, allKeys.size());
  ASSERT_EQ(3000u, std::set<std::string>(allKeys.begin(), allKeys.end()).size());

  const auto damage = FileDamage::ZeroDataPage(db, "CLIENTES", schema.KeyExpression(), 3);
  const auto referenced = schema.ReferencedAmong(db, damage.lostKeys);
  std::cout << "lost " << damage.lostKeys.size() << " keys, " << referenced.size()
            << " referenced; first lost: " << damage.lostKeys.front() << "\n";
  EXPECT_FALSE(referenced.empty());
  EXPECT_LT(referenced.size(), damage.lostKeys.size());

  ServerTools::Mend(db.Path());
  ASSERT_TRUE(ServerTools::Backup(db.Path(), folder.File("VARIANT.FBK")).Ok());
  const std::string restoredPath = folder.File("VARIANT-RESTORED.FDB");
  const ToolResult restore = ServerTools::Restore(folder.File("VARIANT.FBK"), restoredPath);
  const auto violations = LinesContaining(restore.output, "violation of FOREIGN KEY");
  for (const std::string& line : violations)
    std::cout << "[" << line << "]\n";
  ASSERT_EQ(2u, violations.size()) << restore.output;
  EXPECT_EQ(1u, LinesContaining(restore.output, kOnlineFailure).size());

  const FixtureDatabase restored(restoredPath);
  const std::regex linePattern(
      "gbak: ERROR:violation of FOREIGN KEY constraint \"([A-Z0-9_$]+)\" on table "
      "\"([A-Z_]+)\" ");
  std::set<std::string> tables;
  for (const std::string& line : violations) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, linePattern)) << line;
    const auto constraint = restored.Query(
        "select rdb$constraint_type as T, rdb$relation_name as R from rdb$relation_constraints"
        " where rdb$constraint_name = '" +
        match[1].str() + "'");
    ASSERT_EQ(1u, constraint.size());
    EXPECT_EQ("FOREIGN KEY", constraint[0].at("T"));
    EXPECT_EQ(match[2].str(), constraint[0].at("R"));
    if (GetParam() == SampleSchema::Kind::ServerNamed) {
      EXPECT_EQ(0u, match[1].str().rfind("INTEG_", 0)) << match[1].str();
    }
    tables.insert(match[2].str());
  }
  EXPECT_EQ((std::set<std::string>{"NOTAS", "PEDIDOS"}), tables);

  const auto missing = Difference(
      allKeys, restored.Column("select " + schema.KeyExpression() + " as K from CLIENTES"));
  EXPECT_EQ(std::set<std::string>(damage.lostKeys.begin(), damage.lostKeys.end()), missing);

  const std::string keyIndex = restored.Value(
      "select rdb$index_name from rdb$relation_constraints where rdb$relation_name = 'CLIENTES'"
      " and rdb$constraint_type = 'PRIMARY KEY'");
  std::cout << "parent key index: " << keyIndex << "\n";
  if (GetParam() == SampleSchema::Kind::KeyUsingIndex) {
    EXPECT_EQ("IX_CLIENTES_CHAVE", keyIndex);
  }
  if (GetParam() == SampleSchema::Kind::TextKey) {
    EXPECT_TRUE(std::any_of(referenced.begin(), referenced.end(), [](const std::string& key) {
      return key.find('\'') != std::string::npos;
    }));
  }
}

INSTANTIATE_TEST_SUITE_P(AllSchemas, FixtureVariantTest,
                         ::testing::Values(SampleSchema::Kind::NamedConstraints,
                                           SampleSchema::Kind::ServerNamed,
                                           SampleSchema::Kind::KeyUsingIndex,
                                           SampleSchema::Kind::TwoColumnKey,
                                           SampleSchema::Kind::TextKey));
