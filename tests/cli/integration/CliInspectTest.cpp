// tessarine-cli --inspect run as its own process on a database the test
// damages by writing the file: what it prints, the JSON it writes, its exit
// status, and that the database file is left exactly as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/SampleSchema.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::SampleSchema;
using testsupport::TestFolder;
using testsupport::ToolResult;
using testsupport::ToolRunner;

namespace fs = std::filesystem;

namespace {

// The program with `arguments`, no terminal, and a login the server would
// refuse: the examination must not need one.
ToolResult RunCli(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{
      "/bin/sh", "-c", "ISC_USER=NINGUEM ISC_PASSWORD=errada exec \"$0\" \"$@\" </dev/null",
      TESSARINE_CLI};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ToolRunner::Run(argv);
}

bool HasLine(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// The "Tabela X: ..." line of a table, empty when there is none.
std::string TableLine(const std::string& text, const std::string& table) {
  const std::string prefix = "\nTabela " + table + ": ";
  const std::size_t start = ("\n" + text).find(prefix);
  if (start == std::string::npos) {
    return {};
  }
  return text.substr(start, text.find('\n', start) - start);
}

const nlohmann::json* JsonTable(const nlohmann::json& examination, const std::string& name) {
  for (const nlohmann::json& table : examination.at("tables")) {
    if (table.at("name") == name) {
      return &table;
    }
  }
  return nullptr;
}

bool JsonListsPage(const nlohmann::json& examination, std::uint32_t page) {
  for (const nlohmann::json& damaged : examination.at("damagedPages")) {
    if (damaged.at("page") == page) {
      return true;
    }
  }
  return false;
}

class CliInspect : public ::testing::Test {
 protected:
  TestFolder folder_{"tessarine-cli-inspect"};
};

TEST_F(CliInspect, NamesTheDamagedPagesAndTheReadableRowsWithoutChangingTheFile) {
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 900);
  const FixtureDatabase db = schema.CreateDatabase(folder_.File("EMPRESA.FDB"));
  std::map<std::string, long long> rows;
  for (const char* table : {"CLIENTES", "PEDIDOS", "NOTAS", "AVULSOS"}) {
    rows[table] = db.Count(table);
  }
  // A data page of AVULSOS takes its rows with it; NOTAS loses its pointer
  // page, but its data pages are still in the file.
  const auto damage =
      FileDamage::ZeroDataPage(db, schema.StandaloneTable(), schema.StandaloneKeyExpression(), 1);
  ASSERT_FALSE(damage.lostKeys.empty());
  const std::vector<std::uint32_t> pointers = PageDamage::PointerPages(db, "NOTAS");
  ASSERT_FALSE(pointers.empty());
  PageDamage::ZeroPage(db.Path(), pointers.front());
  const std::string before = FileDamage::ReadWhole(db.Path());
  ASSERT_FALSE(before.empty());

  const std::string json = folder_.File("exame.json");
  const ToolResult result = RunCli({"--inspect", "--json", json, db.Path()});
  ASSERT_EQ(0, result.exitCode) << result.output;

  EXPECT_TRUE(HasLine(result.out, "Exame de " + db.Path())) << result.out;
  EXPECT_TRUE(HasLine(result.out, "Tamanho de página: 4096")) << result.out;
  EXPECT_TRUE(HasLine(result.out, "ODS: 12.0")) << result.out;
  for (const std::uint32_t page : {damage.pageNumber, pointers.front()}) {
    EXPECT_NE(std::string::npos, result.out.find("\n  página " + std::to_string(page) + " ("))
        << page << "\n"
        << result.out;
  }
  const long long readableAvulsos = rows["AVULSOS"] - std::ssize(damage.lostKeys);
  for (const auto& [table, count] : rows) {
    const long long readable = table == "AVULSOS" ? readableAvulsos : count;
    EXPECT_NE(
        std::string::npos,
        TableLine(result.out, table).find(" " + std::to_string(readable) + " linhas legíveis"))
        << table << "\n"
        << result.out;
  }
  // The zeroed page's rows are named by the table's index: exactly those.
  EXPECT_NE(std::string::npos, TableLine(result.out, "AVULSOS")
                                   .find(", " + std::to_string(damage.lostKeys.size()) +
                                         " registros destruídos (segundo o índice da tabela)"))
      << result.out;
  EXPECT_EQ(std::string::npos, TableLine(result.out, "NOTAS").find("destruídos")) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("\nNível ")) << result.out;

  const nlohmann::json examination = nlohmann::json::parse(std::ifstream(json));
  EXPECT_TRUE(examination.at("opened").get<bool>());
  EXPECT_EQ(db.Path(), examination.at("path"));
  EXPECT_EQ(4096, examination.at("pageSize"));
  EXPECT_TRUE(JsonListsPage(examination, damage.pageNumber)) << examination.dump(2);
  EXPECT_TRUE(JsonListsPage(examination, pointers.front())) << examination.dump(2);
  EXPECT_NE(
      std::string::npos,
      result.out.find("\nPáginas danificadas: " +
                      std::to_string(examination.at("damagedCount").get<std::uint64_t>()) + "\n"));
  for (const auto& [table, count] : rows) {
    const nlohmann::json* found = JsonTable(examination, table);
    ASSERT_NE(nullptr, found) << table;
    EXPECT_EQ(table == "AVULSOS" ? readableAvulsos : count, found->at("records").get<long long>())
        << table;
  }
  EXPECT_EQ(1, JsonTable(examination, "AVULSOS")->at("pagesDamaged"));
  const int level = examination.at("level");
  EXPECT_TRUE(HasLine(result.out, examination.at("verdict").front().get<std::string>()));
  EXPECT_TRUE(level == 2 || level == 3) << level;

  EXPECT_TRUE(FileDamage::ReadWhole(db.Path()) == before) << "the database file was changed";
}

TEST_F(CliInspect, RefusesWhatItCannotExamineWithStatusThree) {
  const std::string notADatabase = folder_.File("texto.fdb");
  std::ofstream(notADatabase) << "isto não é um banco de dados\n";
  const std::string existing = folder_.File("existente.json");
  std::ofstream(existing) << "{}";

  const ToolResult missing = RunCli({"--inspect", folder_.File("NADA.FDB")});
  EXPECT_EQ(3, missing.exitCode) << missing.output;
  EXPECT_EQ("", missing.out);
  EXPECT_NE(std::string::npos, missing.err.find("NADA.FDB")) << missing.err;

  const ToolResult folder = RunCli({"--inspect", folder_.Path()});
  EXPECT_EQ(3, folder.exitCode) << folder.output;

  const std::string json = folder_.File("texto.json");
  const ToolResult text = RunCli({"--inspect", "--json", json, notADatabase});
  EXPECT_EQ(3, text.exitCode) << text.output;
  EXPECT_NE(std::string::npos, text.err.find("Não foi possível examinar o arquivo")) << text.err;
  // The JSON still tells a script why.
  const nlohmann::json examination = nlohmann::json::parse(std::ifstream(json));
  EXPECT_FALSE(examination.at("opened").get<bool>());
  EXPECT_FALSE(examination.at("error").get<std::string>().empty());

  // An existing JSON file is never replaced, and nothing is examined.
  const ToolResult taken = RunCli({"--inspect", "--json", existing, notADatabase});
  EXPECT_EQ(3, taken.exitCode) << taken.output;
  EXPECT_EQ("", taken.out);
  EXPECT_EQ("{}", FileDamage::ReadWhole(existing));

  // What belongs to a run is a usage error, not silently dropped.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--inspect", notADatabase, folder_.File("ANTIGO.FBK")},
        std::vector<std::string>{"--inspect", "--yes", notADatabase},
        std::vector<std::string>{"--inspect", "--user", "REPARO", notADatabase}}) {
    const ToolResult misuse = RunCli(arguments);
    EXPECT_EQ(3, misuse.exitCode) << arguments[1];
    EXPECT_NE(std::string::npos, misuse.err.find("não se aplica a --inspect")) << misuse.err;
  }
}

}  // namespace
