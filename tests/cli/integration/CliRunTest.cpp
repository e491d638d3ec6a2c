// tessarine-cli run as its own process, without a terminal (stdin from
// /dev/null), on databases the tests create and really damage: the exit
// status, the files left, the JSON summary and the last line it prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

namespace fs = std::filesystem;

namespace {

// The program with `arguments`, its standard input /dev/null: no terminal.
ToolResult RunCli(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" </dev/null", TESSARINE_CLI};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ToolRunner::Run(argv);
}

// The same, started in `folder`, as an operator who typed relative paths there.
ToolResult RunCliIn(const std::string& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"/bin/sh", "-c", "cd \"$0\" && exec \"$@\" </dev/null", folder,
                                TESSARINE_CLI};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ToolRunner::Run(argv);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::string LastLine(const std::string& text) {
  const auto lines = Lines(text);
  return lines.empty() ? std::string() : lines.back();
}

bool HasLine(const std::string& text, const std::string& line) {
  const auto lines = Lines(text);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The one line starting with `prefix`, without it.
std::string AfterPrefix(const std::string& text, const std::string& prefix) {
  for (const std::string& line : Lines(text)) {
    if (line.starts_with(prefix)) {
      return line.substr(prefix.size());
    }
  }
  return {};
}

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

nlohmann::json ReadJson(const std::string& path) {
  std::ifstream file(path);
  return nlohmann::json::parse(file);
}

// "number:outcome" of every step in the summary, in order.
std::vector<std::string> StepOutcomes(const nlohmann::json& summary) {
  std::vector<std::string> outcomes;
  for (const auto& step : summary.at("steps")) {
    outcomes.push_back(std::to_string(step.at("number").get<int>()) + ":" +
                       step.at("outcome").get<std::string>());
  }
  return outcomes;
}

// The files the summary says the run made must be exactly the new ones.
void ExpectFilesMadeAreTheNewFiles(const nlohmann::json& summary, const std::string& folder,
                                   const std::set<std::string>& before,
                                   const std::string& summaryName) {
  std::set<std::string> made;
  for (const auto& path : summary.at("filesMade")) {
    const fs::path file(path.get<std::string>());
    EXPECT_EQ(fs::path(folder), file.parent_path());
    made.insert(file.filename().string());
  }
  std::set<std::string> added;
  for (const std::string& name : FolderEntries(folder)) {
    if (!before.contains(name) && name != summaryName) {
      added.insert(name);
    }
  }
  EXPECT_EQ(added, made);
}

class CliRun : public ::testing::Test {
 protected:
  std::string Summary() const { return folder_.File("resumo.json"); }

  TestFolder folder_;
};

TEST_F(CliRun, LevelOneRepairWithYesAndNoTerminal) {
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 300);
  const FixtureDatabase db = schema.CreateDatabase(folder_.File("EMPRESA.FDB"));
  const std::string lost = std::to_string(
      FileDamage::ZeroDataPage(db, schema.StandaloneTable(), schema.StandaloneKeyExpression(), 1)
          .lostKeys.size());
  const auto before = FolderEntries(folder_.Path());

  const ToolResult result = RunCli({"--yes", "--json", Summary(), db.Path()});
  // The zeroed page's rows are gone and no older backup can count them.
  ASSERT_EQ(5, result.exitCode) << result.output;

  // One line per finished step, as the window's rows read; the questions
  // answered by --yes are shown with their answer.
  EXPECT_TRUE(HasLine(result.out, "[ 1/11] Obter acesso exclusivo ... Acesso obtido."))
      << result.out;
  EXPECT_TRUE(HasLine(result.out, "[ 3/11] Validar dados e estrutura ... Erros encontrados"));
  const std::string backup = AfterPrefix(result.out, "[ 5/11] Fazer backup ... Backup em: ");
  const std::string restored =
      AfterPrefix(result.out, "[ 6/11] Restaurar banco de dados ... Restaurado em: ");
  ASSERT_TRUE(backup.starts_with("EMPRESA ") && backup.ends_with(".fbk")) << result.out;
  EXPECT_EQ(backup.substr(0, backup.size() - 4) + ".FDB", restored);
  EXPECT_NE(std::string::npos, result.out.find("[S/n] sim (--yes)"));
  EXPECT_TRUE(HasLine(result.out, "Banco corrigido: " + folder_.File(restored)));
  EXPECT_EQ(std::string::npos, result.output.find(ServerTools::kPassword));

  // The files: the copy, the backup and the restored database, which is whole.
  EXPECT_TRUE(fs::exists(folder_.File("EMPRESA (Copia).FDB")));
  EXPECT_TRUE(fs::exists(folder_.File(backup)));
  EXPECT_EQ(schema.ParentRows(), FixtureDatabase(folder_.File(restored)).Count("CLIENTES"));

  const nlohmann::json summary = ReadJson(Summary());
  EXPECT_EQ("Relatório: " + summary.at("report").get<std::string>(), LastLine(result.out));
  EXPECT_EQ("repaired-with-losses", summary.at("verdict"));
  EXPECT_EQ(5, summary.at("exitStatus"));
  EXPECT_EQ(db.Path(), summary.at("database"));
  EXPECT_EQ(0u,
            summary.at("closingMessage")
                .get<std::string>()
                .find("O banco de dados foi corrigido, mas " + lost +
                      " registros não puderam ser recuperados:\nAVULSOS: " + lost + " perdidos"));
  EXPECT_TRUE(summary.at("tables").at("AVULSOS").at("lostKnown").get<bool>());
  EXPECT_EQ(std::stoll(lost), summary.at("tables").at("AVULSOS").at("lost").get<long long>());
  EXPECT_EQ((std::vector<std::string>{"1:success", "2:success", "3:failure", "4:success",
                                      "5:success", "6:success"}),
            StepOutcomes(summary));
  EXPECT_EQ("Backup em: " + backup, summary.at("steps")[4].at("text"));
  EXPECT_GT(summary.at("steps")[4].at("seconds").get<double>(), 0.0);
  ExpectFilesMadeAreTheNewFiles(summary, folder_.Path(), before, "resumo.json");
  EXPECT_EQ(std::string::npos, summary.dump().find(ServerTools::kPassword));
}

// The older backup named as the second argument, or offered only when level 2
// asks for one (--backup-on-demand: the window's file picker).
class CliLevelTwo : public CliRun, public ::testing::WithParamInterface<bool> {
 protected:
  static bool OnDemand() { return GetParam(); }
};

TEST_P(CliLevelTwo, RepairsWithAnOlderBackup) {
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 900);
  const FixtureDatabase db = schema.CreateDatabase(folder_.File("EMPRESA.FDB"));
  const std::string older = folder_.File("ANTERIOR.FBK");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), older).Ok());
  const auto damage = FileDamage::ZeroDataPage(db, schema.ParentTable(), schema.KeyExpression(), 5);
  const auto mustComeBack = schema.ReferencedAmong(db, damage.lostKeys);
  ASSERT_FALSE(mustComeBack.empty());
  const auto before = FolderEntries(folder_.Path());

  const ToolResult result =
      OnDemand() ? RunCli({"--yes", "--json", Summary(), "--backup-on-demand", older, db.Path()})
                 : RunCli({"--yes", "--json", Summary(), db.Path(), older});
  ASSERT_EQ(0, result.exitCode) << result.output;

  EXPECT_TRUE(HasLine(result.out,
                      "[ 7/11] Procurar registros órfãos ... Inconsistências "
                      "encontradas."))
      << result.out;
  EXPECT_TRUE(
      HasLine(result.out, "[10/11] Restaurar banco de dados ... Restaurado em: EMPRESA.FDB"));
  EXPECT_TRUE(HasLine(result.out, "[11/11] Validação final ... Banco não possui erros."));
  EXPECT_TRUE(HasLine(result.out, "Banco corrigido: " + db.Path()));

  // The database's own path holds the repaired database with every parent
  // a child needs; the corrupt one was set aside.
  const FixtureDatabase repaired(db.Path());
  for (const std::string& key : mustComeBack) {
    EXPECT_EQ("1", repaired.Value("select count(*) from CLIENTES where ID = " + key)) << key;
  }
  EXPECT_TRUE(fs::exists(folder_.File("EMPRESA-OLD.FDB")));

  const nlohmann::json summary = ReadJson(Summary());
  EXPECT_EQ("Relatório: " + summary.at("report").get<std::string>(), LastLine(result.out));
  EXPECT_EQ("repaired", summary.at("verdict"));
  EXPECT_EQ(OnDemand() ? "" : older, summary.at("olderBackup"));
  if (OnDemand()) {
    EXPECT_NE(std::string::npos, result.out.find("[S/n] sim (--yes)\nBackup antigo: " + older))
        << result.out;
  }
  EXPECT_EQ((std::vector<std::string>{"1:success", "2:success", "3:failure", "4:success",
                                      "5:success", "6:failure", "7:success", "8:success",
                                      "9:success", "10:success", "11:success"}),
            StepOutcomes(summary));
  ExpectFilesMadeAreTheNewFiles(summary, folder_.Path(), before, "resumo.json");
}

INSTANTIATE_TEST_SUITE_P(BackupGiven, CliLevelTwo, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OnDemand" : "AsArgument"; });

// Every path typed relative to the working directory reaches the server
// whole: the older backup too, which the server would look for in its own
// folder.
TEST_F(CliRun, RelativePathsAreTakenFromTheWorkingDirectory) {
  const std::string sub = folder_.Path() + "/c1";
  fs::create_directory(sub);
  TestFolder::GiveToServer(sub);
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 900);
  const FixtureDatabase db = schema.CreateDatabase(sub + "/EMPRESA.FDB");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), sub + "/ANTIGO.FBK").Ok());
  const auto damage = FileDamage::ZeroDataPage(db, schema.ParentTable(), schema.KeyExpression(), 5);
  const auto mustComeBack = schema.ReferencedAmong(db, damage.lostKeys);
  ASSERT_FALSE(mustComeBack.empty());

  const ToolResult result = RunCliIn(
      folder_.Path(), {"--yes", "--json", "./resumo.json", "./c1/EMPRESA.FDB", "c1//ANTIGO.FBK"});
  ASSERT_EQ(0, result.exitCode) << result.output;

  const nlohmann::json summary = ReadJson(Summary());
  EXPECT_EQ(db.Path(), summary.at("database"));
  EXPECT_EQ(sub + "/ANTIGO.FBK", summary.at("olderBackup"));
  EXPECT_EQ("repaired", summary.at("verdict"));
  // The parents came back from that backup, at level 2.
  EXPECT_TRUE(HasLine(result.out, "[11/11] Validação final ... Banco não possui erros."))
      << result.out;
  EXPECT_EQ("8:success", StepOutcomes(summary).at(7));
  const FixtureDatabase repaired(db.Path());
  for (const std::string& key : mustComeBack) {
    EXPECT_EQ("1", repaired.Value("select count(*) from CLIENTES where ID = " + key)) << key;
  }
}

TEST_F(CliRun, QuestionLeftUnansweredBeforeTheRunExitsAtOnceAndChangesNothing) {
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 300);
  const FixtureDatabase db = schema.CreateDatabase(folder_.File("EMPRESA.FDB"));
  FileDamage::ZeroDataPage(db, schema.StandaloneTable(), schema.StandaloneKeyExpression(), 1);
  const std::string bytes = FileDamage::ReadWhole(db.Path());
  const auto before = FolderEntries(folder_.Path());

  const auto start = std::chrono::steady_clock::now();
  const ToolResult result = RunCli({"--json", Summary(), db.Path()});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(3, result.exitCode) << result.output;
  EXPECT_NE(std::string::npos,
            result.out.find("--answer sem-backup=sim ou --answer sem-backup=nao"))
      << result.out;
  EXPECT_EQ("Nada foi alterado.", LastLine(result.out));

  EXPECT_EQ(bytes, FileDamage::ReadWhole(db.Path()));
  auto after = FolderEntries(folder_.Path());
  after.erase("resumo.json");
  EXPECT_EQ(before, after);
  const nlohmann::json summary = ReadJson(Summary());
  EXPECT_EQ("unanswered", summary.at("verdict"));
  EXPECT_FALSE(summary.at("started").get<bool>());
  EXPECT_TRUE(summary.at("steps").empty());
}

TEST_F(CliRun, QuestionLeftUnansweredInLevelTwoEndsTheRunCleanly) {
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 900);
  const FixtureDatabase db = schema.CreateDatabase(folder_.File("EMPRESA.FDB"));
  FileDamage::ZeroDataPage(db, schema.ParentTable(), schema.KeyExpression(), 5);
  const auto before = FolderEntries(folder_.Path());

  const ToolResult result = RunCli({"--answer", "sem-backup=sim", "--json", Summary(), db.Path()});
  EXPECT_EQ(3, result.exitCode) << result.output;
  EXPECT_TRUE(HasLine(result.out, "[ 8/11] Recuperar dados antigos ... Sem resposta"))
      << result.out;
  EXPECT_NE(std::string::npos, result.out.find("--answer informar-backup=sim"));

  // The database the user gave is still at its path and opens.
  EXPECT_EQ("1", FixtureDatabase(db.Path()).Value("select count(*) from rdb$database"));
  EXPECT_FALSE(fs::exists(folder_.File("EMPRESA-OLD.FDB")));
  const nlohmann::json summary = ReadJson(Summary());
  EXPECT_EQ("unanswered", summary.at("verdict"));
  EXPECT_EQ("8:cancelled", StepOutcomes(summary).back());
  ExpectFilesMadeAreTheNewFiles(summary, folder_.Path(), before, "resumo.json");
}

TEST_F(CliRun, YesWithoutAnyBackupEndsStillCorruptInsteadOfAskingForEver) {
  const SampleSchema schema(SampleSchema::Kind::NamedConstraints, 900);
  const FixtureDatabase db = schema.CreateDatabase(folder_.File("EMPRESA.FDB"));
  FileDamage::ZeroDataPage(db, schema.ParentTable(), schema.KeyExpression(), 5);

  const ToolResult result = RunCli({"--yes", db.Path()});
  EXPECT_EQ(1, result.exitCode) << result.output;
  EXPECT_TRUE(HasLine(result.out,
                      "[ 8/11] Recuperar dados antigos ... Não foi possível recuperar os dados "
                      "necessários"))
      << result.out;
  EXPECT_EQ(db.Path(), AfterPrefix(result.out, "O banco de dados informado continua em: "));
}

TEST_F(CliRun, YesRetriesWhileOthersAreAttachedAFewTimesThenEndsInUse) {
  const FixtureDatabase db = FixtureDatabase::Create(folder_.File("EMPRESA.FDB"), "");
  const auto before = FolderEntries(folder_.Path());
  // An isql session stays attached for the whole run (its output goes
  // nowhere, so the program's pipes close when the program ends).
  const std::string holder = std::string("(sleep 20 | isql-fb -q -user ") + ServerTools::kUser +
                             " -password " + ServerTools::kPassword + " \"localhost:$1\"" +
                             " >/dev/null 2>&1 &) >/dev/null 2>&1; sleep 2; " +
                             "exec \"$0\" --yes --json \"$2\" \"$1\" </dev/null";
  const ToolResult result =
      ToolRunner::Run({"/bin/sh", "-c", holder, TESSARINE_CLI, db.Path(), Summary()});

  EXPECT_EQ(2, result.exitCode) << result.output;
  const auto lines = Lines(result.out);
  EXPECT_EQ(5,
            std::count(lines.begin(), lines.end(), "Deseja tentar novamente? [S/n] sim (--yes)"));
  EXPECT_NE(std::string::npos, result.out.find("não (já respondida com sim 5 vezes")) << result.out;
  EXPECT_TRUE(HasLine(result.out, "O banco de dados estava em uso e não pôde ser validado."));
  // Nothing but the run's report was made.
  const nlohmann::json summary = ReadJson(Summary());
  EXPECT_EQ("in-use", summary.at("verdict"));
  EXPECT_EQ(1u, summary.at("filesMade").size());
  EXPECT_EQ("Relatório: " + summary.at("report").get<std::string>(), LastLine(result.out));
  ExpectFilesMadeAreTheNewFiles(summary, folder_.Path(), before, "resumo.json");
}

TEST_F(CliRun, BadInputExitsThreeAndTouchesNothing) {
  const FixtureDatabase db = FixtureDatabase::Create(folder_.File("EMPRESA.FDB"), "");
  const std::string notFdb = folder_.File("EMPRESA.GDB");
  fs::copy_file(db.Path(), notFdb);
  const std::string taken = folder_.File("existente.json");
  std::ofstream(taken) << "guardado";
  const auto before = FolderEntries(folder_.Path());

  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "falta o banco de dados"},
      {{folder_.File("NENHUM.FDB")}, "não existe neste computador"},
      {{notFdb}, "não é um banco de dados Firebird (.FDB)"},
      {{"--password", "segredo", db.Path()}, "a senha nunca é aceita"},
      {{"--yes", "--no", db.Path()}, "--yes e --no"},
      {{"--answer", "conexoes=sim", db.Path()}, "resposta inválida em --answer"},
      {{"--json", taken, "--yes", db.Path()}, "já existe e não será substituído"},
      {{"--yes", db.Path(), folder_.File("NENHUM.FBK")}, "O backup informado não existe"},
      {{"--user", "sysdba", "--password-file", folder_.File("NENHUMA"), "--yes", db.Path()},
       "Não foi possível ler o arquivo de senha"},
  };
  for (const Case& c : cases) {
    const ToolResult result = RunCli(c.arguments);
    EXPECT_EQ(3, result.exitCode) << c.message << "\n" << result.output;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    EXPECT_EQ("", result.out) << c.message;
  }
  EXPECT_EQ(before, FolderEntries(folder_.Path()));
  std::ifstream kept(taken);
  EXPECT_EQ("guardado", std::string(std::istreambuf_iterator<char>(kept), {}));
}

TEST(CliProgram, NeedsNoQtLibrary) {
  const ToolResult ldd = ToolRunner::Run({"ldd", TESSARINE_CLI});
  ASSERT_TRUE(ldd.Ok()) << ldd.output;
  EXPECT_EQ(std::string::npos, ldd.out.find("libQt")) << ldd.out;
  EXPECT_NE(std::string::npos, ldd.out.find("libc.so")) << ldd.out;
}

}  // namespace
