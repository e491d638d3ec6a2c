// Whole runs that need level 2 against the running server: a parent data page
// really zeroed, the level-1 restore failing on the children's foreign keys,
// the orphan search listing the lost parents and the salvage bringing them
// back from an older backup.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/SampleSchema.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::SampleSchema;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace fs = std::filesystem;

namespace {

const char* const kRepaired = "O banco de dados foi corrigido com sucesso.";
const char* const kStillCorrupt = "O banco de dados continua corrompido.";
const char* const kNoBackup = "Nenhum backup encontrado.";
const char* const kCorruptBackup = "O backup informado está corrompido.";
const char* const kAskBackup = "Deseja informar um arquivo do backup (.FBK)?";

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string ClosingMessage(const ScriptedHost& host) {
  const auto questions = host.Questions();
  return questions.empty() ? std::string() : questions.back();
}

// The fixture's key text ("17|2") as the orphan search writes it ("17;2").
std::string AsKeyText(std::string key) {
  std::replace(key.begin(), key.end(), '|', ';');
  return key;
}

// An SQL string literal.
std::string Literal(const std::string& text) {
  std::string literal = "'";
  for (const char c : text) {
    literal += c == '\'' ? "''" : std::string(1, c);
  }
  return literal + "'";
}

const char* const kUserTables =
    "select trim(rdb$relation_name) from rdb$relations where coalesce(rdb$system_flag, 0) = 0"
    " and rdb$view_blr is null";

// A damaged database of one sample schema, with its older backup taken while
// the data was whole.
class DamagedDatabase {
 public:
  DamagedDatabase(const TestFolder& folder, SampleSchema::Kind kind, int parentRows = 900)
      : schema_(kind, parentRows), db_(schema_.CreateDatabase(folder.File("EMPRESA.FDB"))) {
    olderBackup_ = folder.File("ANTERIOR.FBK");
    const auto backup = ServerTools::Backup(db_.Path(), olderBackup_);
    if (!backup.Ok()) {
      throw std::runtime_error(backup.output);
    }
    for (const auto& row :
         db_.Query("select " + schema_.KeyExpression() + " as CHAVE, c.* from CLIENTES c")) {
      rows_[row.at("CHAVE")] = row;
    }
    for (const std::string& table : db_.Column(kUserTables)) {
      counts_[table] = db_.Count(table);
    }
    damage_ = FileDamage::ZeroDataPage(db_, "CLIENTES", schema_.KeyExpression(), 5);
    referencedLost_ = schema_.ReferencedAmong(db_, damage_.lostKeys);
    corruptBytes_ = FileDamage::ReadWhole(db_.Path());
  }

  // True when `file` has the pages the damaged database had before the run,
  // the server's bookkeeping aside (the header page, type 1, and transaction
  // inventory pages, type 3, change on every attach and transaction).
  bool HasTheDamagedContent(const std::string& file) const {
    return FileDamage::SamePagesApartFromBookkeeping(corruptBytes_, FileDamage::ReadWhole(file));
  }

  // The damaged page still reads as zeros in `file`: it is the corrupt
  // original (steps 1 to 4 write to the database's header and pointer pages,
  // so its bytes do not stay those the user gave).
  bool HoldsTheZeroedPage(const std::string& file) const {
    const std::string bytes = FileDamage::ReadWhole(file);
    const std::size_t at = std::size_t(damage_.pageNumber) * FileDamage::kPageSize;
    return bytes.size() == corruptBytes_.size() &&
           bytes.compare(at, FileDamage::kPageSize, std::string(FileDamage::kPageSize, '\0')) == 0;
  }

  const SampleSchema& Schema() const { return schema_; }
  const FixtureDatabase& Db() const { return db_; }
  const std::string& OlderBackup() const { return olderBackup_; }
  // Lost parent keys that some child row refers to (fixture key texts).
  const std::vector<std::string>& ReferencedLost() const { return referencedLost_; }
  // The row of a parent key as it was before the damage.
  const FixtureDatabase::Row& OriginalRow(const std::string& key) const { return rows_.at(key); }
  const std::vector<std::string>& LostKeys() const { return damage_.lostKeys; }
  // Rows per user table before the damage, as the older backup holds them.
  const std::map<std::string, long long>& CountsBefore() const { return counts_; }

 private:
  SampleSchema schema_;
  FixtureDatabase db_;
  std::string olderBackup_;
  std::map<std::string, FixtureDatabase::Row> rows_;
  std::map<std::string, long long> counts_;
  testsupport::DamageReport damage_;
  std::vector<std::string> referencedLost_;
  std::string corruptBytes_;
};

class LevelTwoRun : public ::testing::Test {
 protected:
  void Run(ScriptedHost& host, const std::string& database, const std::string& backup) {
    TThreadRecovery recovery(host, database, backup, TFirebirdSteps::Create);
    ASSERT_TRUE(recovery.WaitFor(std::chrono::minutes(5))) << host.TranscriptText();
  }

  std::string PathEndingWith(const std::string& suffix) const {
    for (const auto& entry : fs::directory_iterator(folder_.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.size() >= suffix.size() && name.ends_with(suffix)) {
        return entry.path().string();
      }
    }
    return "";
  }

  TestFolder folder_;
};

class FullRepair : public LevelTwoRun, public ::testing::WithParamInterface<SampleSchema::Kind> {};

TEST_P(FullRepair, BringsBackEveryLostParentAChildNeeds) {
  const DamagedDatabase damaged(folder_, GetParam());
  ASSERT_FALSE(damaged.ReferencedLost().empty());
  if (GetParam() == SampleSchema::Kind::TextKey) {
    // Among the parents to bring back is one whose key holds a single quote.
    EXPECT_TRUE(std::any_of(damaged.ReferencedLost().begin(), damaged.ReferencedLost().end(),
                            [](const std::string& key) { return key.find('\'') != key.npos; }));
  }
  const std::string database = damaged.Db().Path();

  struct stat original {};
  ASSERT_EQ(0, ::stat(database.c_str(), &original));

  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kRepaired);
  Run(host, database, damaged.OlderBackup());

  ASSERT_EQ(0u, ClosingMessage(host).find(kRepaired)) << host.TranscriptText();
  const auto steps = host.Calls("ReportStep");
  EXPECT_TRUE(Has(steps, "ReportStep 7 2 10 Inconsistências encontradas."));
  EXPECT_TRUE(Has(steps, "ReportStep 8 2 10 Dados encontrados"));
  EXPECT_TRUE(Has(steps, "ReportStep 11 2 10 Banco não possui erros.")) << host.TranscriptText();

  // Step 7: both violation lines name the same parent, analysed once, and
  // every lost key a child refers to is listed, whole.
  EXPECT_EQ(1u, host.Calls("WriteLog -1 Analisando relacionamentos de CLIENTES").size());
  const std::string label = damaged.Schema().KeyColumns().back();
  EXPECT_EQ(
      1u, host.Calls("WriteLog -1 Ocorrências: " + std::to_string(damaged.ReferencedLost().size()) +
                     " (itens ausentes em CLIENTES[" + label + "])")
              .size())
      << host.TranscriptText();
  for (const std::string& key : damaged.ReferencedLost()) {
    EXPECT_EQ(1u, host.Calls("WriteLog -1 " + AsKeyText(key)).size()) << key;      // step 7
    EXPECT_EQ(1u, host.Calls("WriteLog -1     " + AsKeyText(key)).size()) << key;  // summary
  }

  // The database at the original name holds every needed row, column for column.
  const FixtureDatabase repaired(database);
  const std::string keyExpression = damaged.Schema().KeyExpression();
  for (const std::string& key : damaged.ReferencedLost()) {
    const auto rows = repaired.Query("select " + keyExpression + " as CHAVE, c.* from CLIENTES c" +
                                     " where " + keyExpression + " = " + Literal(key));
    ASSERT_EQ(1u, rows.size()) << key;
    EXPECT_EQ(damaged.OriginalRow(key), rows[0]) << key;
  }
  for (const auto& child : damaged.Schema().Children()) {
    EXPECT_EQ("0", repaired.Value("select count(*) from " + child.table + " c where " +
                                  child.keyExpression + " is not null and not exists (select 1" +
                                  " from CLIENTES p where " + keyExpression + " = " +
                                  child.keyExpression + ")"))
        << child.table;
  }
  EXPECT_EQ("0", repaired.Value("select count(*) from rdb$indices where rdb$foreign_key is not"
                                " null and coalesce(rdb$index_inactive, 0) <> 0"));
  EXPECT_EQ("2", repaired.Value("select count(*) from rdb$indices where rdb$foreign_key is not"
                                " null"));
  // Online: taking it online again is refused as "already online".
  const auto online = ServerTools::BringOnline(database);
  EXPECT_NE(std::string::npos, online.output.find("Target shutdown mode is invalid"))
      << online.output;
  EXPECT_TRUE(ServerTools::Validate(database).Ok());

  // Files: the corrupt original set aside (the mend of step 4 wrote to it, so
  // its bytes as the user gave them are those of the working copy), the copy
  // and the temporary database.
  EXPECT_TRUE(damaged.HoldsTheZeroedPage(folder_.File("EMPRESA-OLD.FDB")));
  EXPECT_TRUE(damaged.HasTheDamagedContent(folder_.File("EMPRESA (Copia).FDB")));
  // Renamed while kept out, then online under its new name, as before the run.
  const auto setAsideOnline = ServerTools::BringOnline(folder_.File("EMPRESA-OLD.FDB"));
  EXPECT_NE(std::string::npos, setAsideOnline.output.find("Target shutdown mode is invalid"))
      << setAsideOnline.output;
  // Set aside by a rename: the very file the user gave, not a copy of it.
  struct stat setAside {};
  ASSERT_EQ(0, ::stat(folder_.File("EMPRESA-OLD.FDB").c_str(), &setAside));
  EXPECT_EQ(original.st_dev, setAside.st_dev);
  EXPECT_EQ(original.st_ino, setAside.st_ino);
  EXPECT_TRUE(fs::exists(folder_.File("EMPRESA-TEMP.FDB")));
  EXPECT_EQ(0u, host.UnusedAnswers());
}

INSTANTIATE_TEST_SUITE_P(Schemas, FullRepair,
                         ::testing::Values(SampleSchema::Kind::NamedConstraints,
                                           SampleSchema::Kind::ServerNamed,
                                           SampleSchema::Kind::KeyUsingIndex,
                                           SampleSchema::Kind::TwoColumnKey,
                                           SampleSchema::Kind::TextKey));

TEST_F(LevelTwoRun, WithoutAnOlderBackupTheDatabaseStaysCorruptAndUntouched) {
  const DamagedDatabase damaged(folder_, SampleSchema::Kind::NamedConstraints);
  ScriptedHost host;
  host.Answer(MessageAnswer::No, kAskBackup);
  host.Answer(MessageAnswer::Ok, kNoBackup);
  host.Answer(MessageAnswer::Ok, kStillCorrupt);
  Run(host, damaged.Db().Path(), "");

  const auto questions = host.Questions();
  ASSERT_EQ(3u, questions.size()) << host.TranscriptText();
  EXPECT_EQ(kNoBackup, questions[1]);
  EXPECT_EQ(0u, questions[2].find(kStillCorrupt));
  EXPECT_TRUE(Has(host.Calls("ReportStep"),
                  "ReportStep 8 2 20 Não foi possível recuperar os dados necessários"));
  EXPECT_TRUE(host.Calls("ReportStep 9").empty());
  EXPECT_TRUE(damaged.HoldsTheZeroedPage(damaged.Db().Path()));
  EXPECT_FALSE(fs::exists(folder_.File("EMPRESA-TEMP.FDB")));
  EXPECT_FALSE(fs::exists(folder_.File("EMPRESA-OLD.FDB")));
}

TEST_F(LevelTwoRun, ACorruptOlderBackupIsReplacedByAGoodOneOverTheSameTemporaryPath) {
  const DamagedDatabase damaged(folder_, SampleSchema::Kind::NamedConstraints);
  const std::string cut = folder_.File("CORTADO.FBK");
  // Its first bytes overwritten: the restore fails at once with an error line.
  fs::copy_file(damaged.OlderBackup(), cut);
  FileDamage::Overwrite(cut, 0, 64, 0);
  TestFolder::GiveToServer(cut);
  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, "doRestore() -> Excetion: ");
  host.Answer(MessageAnswer::Yes, kCorruptBackup);
  host.ScriptBackupChoice(damaged.OlderBackup());
  host.Answer(MessageAnswer::Ok, kRepaired);
  Run(host, damaged.Db().Path(), cut);

  EXPECT_EQ(0u, ClosingMessage(host).find(kRepaired)) << host.TranscriptText();
  EXPECT_TRUE(Has(host.Calls("ChooseBackupFile"),
                  "ChooseBackupFile " + folder_.Path() + " -> " + damaged.OlderBackup()))
      << host.TranscriptText();
  // The good backup went to the temporary path next to the database.
  const auto saved = host.SavedLog(8);
  EXPECT_TRUE(Has(saved, "gbak:created database " + folder_.File("EMPRESA-TEMP.FDB") +
                             ", page_size 4096 bytes "))
      << host.TranscriptText();
  EXPECT_TRUE(fs::exists(folder_.File("EMPRESA-TEMP.FDB")));
  EXPECT_TRUE(host.Calls("WriteLog -1 Banco temporário restaurado de backup!").size() == 1u);
  EXPECT_TRUE(damaged.HoldsTheZeroedPage(folder_.File("EMPRESA-OLD.FDB")));
}

TEST_F(LevelTwoRun, ParentsMissingFromTheOlderBackupTooLeaveTheDatabaseCorrupt) {
  const DamagedDatabase damaged(folder_, SampleSchema::Kind::NamedConstraints);
  // An older backup that lacks the lost parents NOTAS refers to.
  const FixtureDatabase older = damaged.Schema().CreateDatabase(folder_.File("VELHO.FDB"));
  std::string lostList;
  for (const std::string& key : damaged.ReferencedLost()) {
    lostList += (lostList.empty() ? "" : ", ") + key;
  }
  const auto notasKeys =
      older.Column("select distinct CLIENTE_ID from NOTAS where CLIENTE_ID in (" + lostList + ")");
  ASSERT_FALSE(notasKeys.empty());
  std::string notasList;
  for (const std::string& key : notasKeys) {
    notasList += (notasList.empty() ? "" : ", ") + key;
  }
  older.Execute("delete from PEDIDOS where CLIENTE_ID in (" + notasList +
                "); delete from NOTAS where CLIENTE_ID in (" + notasList +
                "); delete from CLIENTES where ID in (" + notasList + ");");
  const std::string olderBackup = folder_.File("VELHO.FBK");
  ASSERT_TRUE(ServerTools::Backup(older.Path(), olderBackup).Ok());

  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kStillCorrupt);
  Run(host, damaged.Db().Path(), olderBackup);

  EXPECT_EQ(0u, ClosingMessage(host).find(kStillCorrupt)) << host.TranscriptText();
  // No byte of the original is lost: it is where it was, or set aside whole.
  const std::string old = folder_.File("EMPRESA-OLD.FDB");
  EXPECT_TRUE(damaged.HoldsTheZeroedPage(fs::exists(old) ? old : damaged.Db().Path()));
}

// The words of the report's row-count line of `table`: name, result, older
// backup, difference; empty when the report has no such line.
std::vector<std::string> CountLine(const std::string& report, const std::string& table) {
  std::istringstream lines(report.substr(report.find("Registros por tabela\n")));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> found{std::istream_iterator<std::string>(words), {}};
    if (!found.empty() && found[0] == table) {
      return found;
    }
  }
  return {};
}

TEST_F(LevelTwoRun, TheReportOfARepairHoldsEveryStepQuestionOutputOrphanAndCount) {
  const DamagedDatabase damaged(folder_, SampleSchema::Kind::NamedConstraints);
  // A first older backup that does not restore, so that the run asks.
  const std::string cut = folder_.File("CORTADO.FBK");
  fs::copy_file(damaged.OlderBackup(), cut);
  FileDamage::Overwrite(cut, 0, 64, 0);
  TestFolder::GiveToServer(cut);
  ScriptedHost host;
  host.RecordLogLines(false);
  host.Answer(MessageAnswer::Ok, "doRestore() -> Excetion: ");
  host.Answer(MessageAnswer::Yes, kCorruptBackup);
  host.ScriptBackupChoice(damaged.OlderBackup());
  host.Answer(MessageAnswer::Ok, kRepaired);
  const std::string database = damaged.Db().Path();
  Run(host, database, cut);

  const std::string closing = ClosingMessage(host);
  ASSERT_EQ(0u, closing.find(kRepaired)) << host.TranscriptText();
  const std::size_t named = closing.rfind("\r\rRelatório: ");
  ASSERT_NE(std::string::npos, named) << closing;
  const std::string reportPath = closing.substr(named + std::strlen("\r\rRelatório: "));
  EXPECT_EQ(reportPath.find(folder_.File("EMPRESA ")), 0u) << reportPath;
  const std::string report = FileDamage::ReadWhole(reportPath);

  const FixtureDatabase repaired(database);
  const std::vector<std::string> expected = {
      "\nInício: ",
      "\nTérmino: ",
      "\nDuração: ",
      "Versão do servidor: " +
          repaired.Value("select rdb$get_context('SYSTEM', 'ENGINE_VERSION') from rdb$database") +
          "\n",
      "Banco de dados: " + database + "\n",
      "Backup antigo: " + damaged.OlderBackup() + "\n",
      "Cópia de segurança: " + folder_.File("EMPRESA (Copia).FDB") + "\n",
      "Banco temporário do backup antigo: " + folder_.File("EMPRESA-TEMP.FDB") + "\n",
      "Banco corrompido renomeado para: " + folder_.File("EMPRESA-OLD.FDB") + "\n",
      " 1. Obter acesso exclusivo: sucesso - Acesso obtido. (",
      " 6. Restaurar banco de dados: falha - Restaurado, mas com erro. (",
      " 8. Recuperar dados antigos: sucesso - Dados encontrados (",
      "11. Validação final: sucesso - Banco não possui erros. (",
      "    doRestore() -> Excetion: ",
      "    O backup informado está corrompido.\n    Deseja informar outro arquivo para "
      "restaurar?\n    Resposta: Sim\n",
      "    Resposta: " + damaged.OlderBackup() + "\n",
      "Restrição FK_PEDIDOS_CLIENTES na tabela PEDIDOS\n",
      "Restrição FK_NOTAS_CLIENTES na tabela NOTAS\n",
      "CLIENTES (ID): " + std::to_string(damaged.ReferencedLost().size()) + " chaves\n",
      "Registros recuperados do backup antigo\n--------------------------------------\n"
      "CLIENTES: " +
          std::to_string(damaged.ReferencedLost().size()) + "\n",
      // The full server output of the steps, the older backup's restore too.
      "gbak:closing file, committing, and finishing",
      "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_NOTAS_CLIENTES\" on table \"NOTAS\"",
      "gbak:created database " + folder_.File("EMPRESA-TEMP.FDB"),
  };
  for (const std::string& part : expected) {
    EXPECT_NE(std::string::npos, report.find(part)) << part;
  }
  for (const char* step :
       {"=== 3. ", "=== 5. ", "=== 6. ", "=== 8. ", "=== 9. ", "=== 10. ", "=== 11. "}) {
    EXPECT_NE(std::string::npos, report.find(step)) << step;
  }
  for (const std::string& key : damaged.ReferencedLost()) {
    EXPECT_NE(std::string::npos, report.find("\n    " + key + "\n")) << key;
  }

  // Row counts: the result as it stands, the older backup as it was taken
  // for the one table restored with its rows, and CLIENTES short of exactly
  // the lost rows no child needed.
  ASSERT_FALSE(damaged.CountsBefore().empty());
  EXPECT_NE(std::string::npos,
            report.find("Backup anterior restaurado com os registros de: CLIENTES;"));
  for (const auto& [table, before] : damaged.CountsBefore()) {
    const long long now = repaired.Count(table);
    const std::vector<std::string> restoredEmpty{table, std::to_string(now), "-", "-"};
    const std::vector<std::string> restoredWhole{
        table, std::to_string(now), std::to_string(before),
        now - before > 0 ? "+" + std::to_string(now - before) : std::to_string(now - before)};
    EXPECT_EQ(CountLine(report, table), table == "CLIENTES" ? restoredWhole : restoredEmpty)
        << table;
  }
  // The parents no child needs came back from the older backup too.
  EXPECT_EQ(repaired.Count("CLIENTES"), damaged.CountsBefore().at("CLIENTES"));

  EXPECT_EQ(std::string::npos, report.find(TCredentials::BuiltIn().Password()));
}

}  // namespace
