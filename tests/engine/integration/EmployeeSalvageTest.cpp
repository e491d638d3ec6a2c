// The salvage on Firebird's own example database (Debian's
// firebird3.0-examples): domains, COMPUTED BY columns, array columns,
// triggers, check constraints and a table that refers to itself. Data pages
// of EMPLOYEE, DEPARTMENT and JOB are zeroed,
// and the whole run repairs it: level 2's orphan search and salvage bring
// every referenced parent row back from the older backup.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::ServerTools;
using testsupport::TestFolder;
using testsupport::ToolRunner;

namespace {

const char* const kExample = "/usr/share/doc/firebird3.0-common-doc/examples/employee.sql.gz";

// The example's script without its own CREATE DATABASE.
std::string ExampleScript() {
  const auto result = ToolRunner::Run({"zcat", kExample});
  if (!result.Ok()) {
    return std::string();
  }
  const std::string marker = "create database 'employee.fdb';";
  const std::size_t at = result.out.find(marker);
  return at == std::string::npos ? std::string() : result.out.substr(at + marker.size());
}

// Every row of the table as one text, computed columns included, in key order.
std::vector<std::string> Rows(const FixtureDatabase& db, const std::string& table,
                              const std::string& columns, const std::string& key) {
  return db.Column("select " + columns + " from " + table + " order by " + key);
}

// The example's script cannot give its arrays values; every job gets five
// languages of its own here, written whole in the client's slice layout
// (each element its text ended by a zero byte, in its length plus two).
void FillLanguages(const FixtureDatabase& db) {
  const std::size_t length = std::stoul(
      db.Value("select f.rdb$field_length from rdb$relation_fields r join rdb$fields f"
               " on f.rdb$field_name = r.rdb$field_source"
               " where r.rdb$relation_name = 'JOB' and r.rdb$field_name = 'LANGUAGE_REQ'"));
  std::vector<std::pair<TValue, TBytes>> rows;
  for (const std::string& key : db.Column("select JOB_CODE || JOB_GRADE || JOB_COUNTRY from JOB")) {
    TBytes slice;
    for (int i = 1; i <= 5; ++i) {
      std::string text = std::to_string(i) + key.substr(0, 8);
      text.resize(length + 2, '\0');
      slice.insert(slice.end(), text.begin(), text.end());
    }
    rows.emplace_back(key, slice);
  }
  db.WriteArrays("update JOB set LANGUAGE_REQ = :A where JOB_CODE || JOB_GRADE || JOB_COUNTRY = :K",
                 rows);
}

// The example database with every job's languages, in 4 KiB pages.
FixtureDatabase ExampleDatabase(const TestFolder& folder) {
  const std::string script = ExampleScript();
  EXPECT_FALSE(script.empty());
  const FixtureDatabase db = PageDamage::Create(folder.File("EMPLOYEE.FDB"), 4096, script);
  FillLanguages(db);
  return db;
}

const char* const kEmployee =
    "EMP_NO || '|' || FIRST_NAME || '|' || LAST_NAME || '|' || coalesce(PHONE_EXT, '-') || '|' "
    "|| HIRE_DATE || '|' || DEPT_NO || '|' || JOB_CODE || '|' || JOB_GRADE || '|' || "
    "JOB_COUNTRY || '|' || SALARY || '|' || FULL_NAME";
const char* const kDepartment =
    "DEPT_NO || '|' || DEPARTMENT || '|' || coalesce(HEAD_DEPT, '-') || '|' || "
    "coalesce(MNGR_NO, -1) || '|' || coalesce(BUDGET, -1) || '|' || coalesce(LOCATION, '-') || "
    "'|' || coalesce(PHONE_NO, '-')";
const char* const kJob =
    "JOB_CODE || '|' || JOB_GRADE || '|' || JOB_COUNTRY || '|' || JOB_TITLE || '|' || MIN_SALARY "
    "|| '|' || MAX_SALARY || '|' || coalesce(char_length(JOB_REQUIREMENT), -1) || '|' || "
    "coalesce(hash(JOB_REQUIREMENT), -1) || '|' || coalesce(LANGUAGE_REQ[1], '-') || '|' || "
    "coalesce(LANGUAGE_REQ[3], '-') || '|' || coalesce(LANGUAGE_REQ[5], '-')";

TEST(EmployeeSalvage, ReferencedParentsBackWithComputedAndArrayColumnsIntact) {
  if (!std::filesystem::exists(kExample)) {
    GTEST_SKIP() << kExample << " missing: scripts/setup installs firebird3.0-examples";
  }
  TestFolder folder;
  const FixtureDatabase db = ExampleDatabase(folder);
  // A trigger that would change every row inserted from now on.
  db.Execute(
      "set term ^;\n"
      "create trigger JOB_TITULO for JOB before insert as begin new.JOB_TITLE = 'mudado'; end^\n"
      "set term ;^");
  const std::string older = folder.File("EMPLOYEE-VELHO.FBK");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), older).Ok());
  const auto employees = Rows(db, "EMPLOYEE", kEmployee, "EMP_NO");
  const auto departments = Rows(db, "DEPARTMENT", kDepartment, "DEPT_NO");
  const auto jobs = Rows(db, "JOB", kJob, "JOB_CODE, JOB_GRADE, JOB_COUNTRY");
  ASSERT_EQ(employees.size(), 42u);

  FileDamage::ZeroDataPage(db, "EMPLOYEE", "EMP_NO", 0);
  FileDamage::ZeroDataPage(db, "DEPARTMENT", "DEPT_NO", 0);
  FileDamage::ZeroDataPage(db, "JOB", "JOB_CODE", 0);

  // The whole run: level 1 fails on the children's foreign keys, level 2
  // brings the parents back, with their own missing parents in other tables
  // (a department's manager is a lost employee no child names).
  ScriptedHost host;
  host.RecordLogLines(false);
  host.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido com sucesso.");
  {
    TThreadRecovery recovery(host, db.Path(), older, TFirebirdSteps::Create);
    ASSERT_TRUE(recovery.WaitFor(std::chrono::minutes(5))) << host.TranscriptText();
  }
  // The closing message, and the offer of the rows no child refers to.
  EXPECT_EQ(2u, host.Questions().size()) << host.TranscriptText();
  EXPECT_EQ(42, FixtureDatabase(db.Path()).Count("EMPLOYEE"));
  EXPECT_EQ(1u, host.Calls("ReportStep 8 2 10 Dados encontrados").size()) << host.TranscriptText();
  EXPECT_EQ(1u, host.Calls("ReportStep 11 2 10 Banco não possui erros.").size());
  const FixtureDatabase restored(db.Path());
  EXPECT_EQ("0", restored.Value("select count(*) from rdb$indices where"
                                " coalesce(rdb$index_inactive, 0) <> 0"));

  // Every row some child refers to is back, whole: the computed FULL_NAME
  // reads the same, the job texts (blobs) and languages (arrays) are as they
  // were.
  const auto has = [](const std::vector<std::string>& all, const std::string& row) {
    return std::find(all.begin(), all.end(), row) != all.end();
  };
  for (const auto& row : Rows(restored, "EMPLOYEE", kEmployee, "EMP_NO")) {
    EXPECT_TRUE(has(employees, row)) << row;
  }
  for (const auto& row : Rows(restored, "DEPARTMENT", kDepartment, "DEPT_NO")) {
    EXPECT_TRUE(has(departments, row)) << row;
  }
  for (const auto& row : Rows(restored, "JOB", kJob, "JOB_CODE, JOB_GRADE, JOB_COUNTRY")) {
    EXPECT_TRUE(has(jobs, row)) << row;
  }
  for (const char* orphans : {
           "select count(*) from EMPLOYEE c where not exists (select 1 from DEPARTMENT p"
           " where p.DEPT_NO = c.DEPT_NO)",
           "select count(*) from EMPLOYEE c where not exists (select 1 from JOB p where"
           " p.JOB_CODE = c.JOB_CODE and p.JOB_GRADE = c.JOB_GRADE and"
           " p.JOB_COUNTRY = c.JOB_COUNTRY)",
           "select count(*) from DEPARTMENT c where c.HEAD_DEPT is not null and not exists"
           " (select 1 from DEPARTMENT p where p.DEPT_NO = c.HEAD_DEPT)",
           "select count(*) from DEPARTMENT c where c.MNGR_NO is not null and not exists"
           " (select 1 from EMPLOYEE p where p.EMP_NO = c.MNGR_NO)",
           "select count(*) from SALARY_HISTORY c where not exists (select 1 from EMPLOYEE p"
           " where p.EMP_NO = c.EMP_NO)",
           "select count(*) from PROJ_DEPT_BUDGET c where not exists (select 1 from"
           " DEPARTMENT p where p.DEPT_NO = c.DEPT_NO)",
       }) {
    EXPECT_EQ(restored.Value(orphans), "0") << orphans;
  }
  EXPECT_EQ(restored.Value("select count(*) from JOB where LANGUAGE_REQ is null"), "0");
  EXPECT_EQ(restored.Value("select rdb$trigger_inactive from rdb$triggers"
                           " where rdb$trigger_name = 'JOB_TITULO'"),
            "0");
}

// The header page zeroed: the server cannot open the file at all. The
// schema comes from the older backup (taken before an employee was hired and
// a job retitled), every row from the file's own pages: the newest rows too,
// blobs and arrays included.
// The header page zeroed (the server cannot open the file), or the pages of
// RDB$RELATION_FIELDS that hold the example's columns (no backup of it
// restores): either way the database comes back whole from its pages.
class EmployeeFromPages : public ::testing::TestWithParam<const char*> {};

TEST_P(EmployeeFromPages, ComesBackWhole) {
  if (!std::filesystem::exists(kExample)) {
    GTEST_SKIP() << kExample << " missing: scripts/setup installs firebird3.0-examples";
  }
  TestFolder folder;
  const FixtureDatabase db = ExampleDatabase(folder);
  const std::string older = folder.File("EMPLOYEE-VELHO.FBK");
  ASSERT_TRUE(ServerTools::Backup(db.Path(), older).Ok());
  db.Execute(
      "insert into EMPLOYEE (EMP_NO, FIRST_NAME, LAST_NAME, PHONE_EXT, HIRE_DATE, DEPT_NO,"
      " JOB_CODE, JOB_GRADE, JOB_COUNTRY, SALARY) values (200, 'Nova', 'Pessoa', '999',"
      " '2026-12-01', '600', 'VP', 2, 'USA', 90000);\n"
      "update JOB set JOB_TITLE = 'Retitulado' where JOB_CODE = 'Eng' and JOB_GRADE = 3;\n"
      "commit;\n");
  const std::vector<std::string> tables = db.Column(
      "select trim(rdb$relation_name) from rdb$relations where coalesce(rdb$system_flag, 0) = 0"
      " and rdb$view_blr is null order by 1");
  std::vector<long long> counts;
  for (const std::string& table : tables) {
    counts.push_back(db.Count(table));
  }
  const auto employees = Rows(db, "EMPLOYEE", kEmployee, "EMP_NO");
  const auto departments = Rows(db, "DEPARTMENT", kDepartment, "DEPT_NO");
  const auto jobs = Rows(db, "JOB", kJob, "JOB_CODE, JOB_GRADE, JOB_COUNTRY");
  if (std::string(GetParam()) == "cabecalho") {
    PageDamage::ZeroPage(db.Path(), 0);
  } else {
    const std::string bytes = FileDamage::ReadWhole(db.Path());
    std::size_t zeroed = 0;
    for (const std::uint32_t page : PageDamage::DataPages(db, "RDB$RELATION_FIELDS")) {
      const std::string content = bytes.substr(std::size_t{page} * 4096, 4096);
      if (content.find("EMP_NO") != std::string::npos ||
          content.find("JOB_GRADE") != std::string::npos) {
        PageDamage::ZeroPage(db.Path(), page);
        ++zeroed;
      }
    }
    ASSERT_GT(zeroed, 0u);
  }

  ScriptedHost host;
  host.RecordLogLines(false);
  if (std::string(GetParam()) == "campos") {
    // The level-1 restore stops at the first table it cannot create.
    host.Answer(MessageAnswer::Ok, "doRestore() -> Excetion: table ");
  }
  host.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido com sucesso.");
  std::string closing;
  {
    TThreadRecovery recovery(host, db.Path(), older, TFirebirdSteps::Create);
    ASSERT_TRUE(recovery.WaitFor(std::chrono::minutes(5))) << host.TranscriptText();
    closing = recovery.ClosingText();
  }
  ASSERT_EQ(0u, closing.find("O banco de dados foi corrigido com sucesso.")) << closing;
  const std::string label = "Banco corrigido: ";
  const std::size_t at = closing.find(label) + label.size();
  const FixtureDatabase restored(closing.substr(at, closing.find('\r', at) - at));
  for (std::size_t i = 0; i < tables.size(); ++i) {
    EXPECT_EQ(counts[i], restored.Count(tables[i])) << tables[i];
  }
  EXPECT_EQ(employees, Rows(restored, "EMPLOYEE", kEmployee, "EMP_NO"));
  EXPECT_EQ(departments, Rows(restored, "DEPARTMENT", kDepartment, "DEPT_NO"));
  EXPECT_EQ(jobs, Rows(restored, "JOB", kJob, "JOB_CODE, JOB_GRADE, JOB_COUNTRY"));
  EXPECT_EQ("0", restored.Value("select count(*) from rdb$indices where"
                                " coalesce(rdb$index_inactive, 0) <> 0"));
  EXPECT_TRUE(ServerTools::Validate(restored.Path()).Ok());
}

INSTANTIATE_TEST_SUITE_P(Damage, EmployeeFromPages, ::testing::Values("cabecalho", "campos"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
