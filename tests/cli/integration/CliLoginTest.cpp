// A login the client library itself cannot offer is a refused login like a
// wrong password: the program says so in its own words, with the server's
// beneath, and touches nothing. The program runs as a separate process with
// its client set to the legacy authentication alone.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::TestFolder;
using testsupport::ToolResult;
using testsupport::ToolRunner;

TEST(CliLogin, LegacyAuthenticationOnlyIsARefusedLogin) {
  TestFolder folder;
  const FixtureDatabase db =
      FixtureDatabase::Create(folder.File("EMPRESA.FDB"), "create table T (ID integer);\n");
  // The client reads its configuration from $FIREBIRD/firebird.conf.
  std::ofstream(folder.File("firebird.conf")) << "AuthClient = Legacy_Auth\n";
  const std::string before = FileDamage::ReadWhole(db.Path());

  const ToolResult result =
      ToolRunner::Run({"/usr/bin/env", "FIREBIRD=" + folder.Path(), "/bin/sh", "-c",
                       "exec \"$0\" \"$@\" </dev/null", TESSARINE_CLI, "--yes", db.Path()});
  EXPECT_EQ(3, result.exitCode) << result.output;
  EXPECT_NE(std::string::npos, result.out.find("O servidor recusou o login")) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("Error occurred during login")) << result.output;
  EXPECT_EQ(before, FileDamage::ReadWhole(db.Path()));
}
