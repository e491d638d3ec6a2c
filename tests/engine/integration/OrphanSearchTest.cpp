// The orphan search of step 7 on its own against the running server, on a
// database as a failed level-1 restore leaves it: the foreign keys' indexes
// inactive and parent rows gone. Whichever way the server is asked (one sort
// of both tables' keys, or a lookup per child row through the parent's
// index), the missing keys are the same, in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TOrphanSearch.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TRecoveryContext.h"
#include "support/FixtureDatabase.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

using testsupport::FixtureDatabase;
using testsupport::ServerTools;
using testsupport::TestFolder;
using testsupport::ToolRunner;

namespace {

// A two-column parent key (text and number) referred to by a large child
// (as many rows as the parent: sorted together) through a wider CHAR column,
// and by a small one (a lookup per row). The large child has a row with a
// NULL key part, which names nothing.
const char* const kSchema =
    "create table CONTAS (COD varchar(10) not null, FILIAL smallint not null, NOME varchar(20),"
    " constraint PK_CONTAS primary key (COD, FILIAL));\n"
    "create table MOVIMENTOS (ID integer not null, COD char(12), FILIAL smallint,"
    " constraint PK_MOVIMENTOS primary key (ID),"
    " constraint FK_MOV_CONTAS foreign key (COD, FILIAL) references CONTAS (COD, FILIAL));\n"
    "create table AVISOS (ID integer not null, COD varchar(10), FILIAL smallint,"
    " constraint PK_AVISOS primary key (ID),"
    " constraint FK_AVISOS_CONTAS foreign key (COD, FILIAL) references CONTAS (COD, FILIAL));\n"
    "commit;\n"
    "set term ^;\n"
    "execute block as declare i integer = 1; begin\n"
    "  while (i <= 200) do begin\n"
    "    insert into CONTAS values ('C' || :i, mod(:i, 3), 'Conta ' || :i);\n"
    "    i = i + 1;\n"
    "  end\n"
    "  i = 1;\n"
    "  while (i <= 200) do begin\n"
    "    insert into MOVIMENTOS values (:i, 'C' || :i, mod(:i, 3));\n"
    "    insert into MOVIMENTOS values (1000 + :i, 'C' || (201 - :i), mod(201 - :i, 3));\n"
    "    i = i + 1;\n"
    "  end\n"
    "end^\n"
    "set term ;^\n"
    "insert into MOVIMENTOS values (5000, 'C7', null);\n"
    "insert into AVISOS values (1, 'C7', 1);\n"
    "insert into AVISOS values (2, 'C199', 1);\n"
    "insert into AVISOS values (3, 'C50', 2);\n";

const char* const kMovLine =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_MOV_CONTAS\" on table \"MOVIMENTOS\"";
const char* const kAvisosLine =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_AVISOS_CONTAS\" on table \"AVISOS\"";

// The database restored with every index inactive; the primary keys named
// are activated again (as the level-1 restore builds them) and, with the
// foreign keys unchecked, three parents are deleted; AVISOS refers to two of
// them and to C999;0, which never existed.
std::string BrokenCopy(const TestFolder& folder, const std::string& backup, const std::string& name,
                       const std::vector<std::string>& activeKeys) {
  const std::string path = folder.File(name);
  const auto restored =
      ToolRunner::Run({"gbak", "-user", ServerTools::kUser, "-password", ServerTools::kPassword,
                       "-se", "localhost:service_mgr", "-c", "-i", backup, path});
  if (!restored.Ok()) {
    throw std::runtime_error(restored.output);
  }
  std::string sql;
  for (const std::string& key : activeKeys) {
    sql += "alter index " + key + " active;\ncommit;\n";
  }
  sql +=
      "delete from CONTAS where COD in ('C7', 'C120', 'C50');\n"
      "insert into AVISOS values (4, 'C999', 0);\ncommit;\n";
  const auto changed = ServerTools::Isql(path, sql);
  if (!changed.Ok()) {
    throw std::runtime_error(changed.output);
  }
  return path;
}

class OrphanSearch : public ::testing::Test {
 protected:
  // A backup of the whole database, every key in place.
  std::string WholeBackup() const {
    const FixtureDatabase db = FixtureDatabase::Create(folder_.File("INTEIRO.FDB"), kSchema);
    const std::string file = folder_.File("INTEIRO.FBK");
    const auto saved = ServerTools::Backup(db.Path(), file);
    if (!saved.Ok()) {
      throw std::runtime_error(saved.output);
    }
    return file;
  }

  TestFolder folder_;
};

TEST_F(OrphanSearch, EveryWayListsTheSameMissingKeysOnceInChildOrder) {
  // Every primary key active: the large child sorted with the parent, the
  // small one looked up. Then the parent's key index left inactive: no
  // lookup, both sorted.
  const std::string backup = WholeBackup();
  const std::string withIndex =
      BrokenCopy(folder_, backup, "COM_INDICE.FDB", {"PK_CONTAS", "PK_MOVIMENTOS", "PK_AVISOS"});
  const std::string withoutIndex =
      BrokenCopy(folder_, backup, "SEM_INDICE.FDB", {"PK_MOVIMENTOS", "PK_AVISOS"});

  for (const std::string& path : {withIndex, withoutIndex}) {
    SCOPED_TRACE(path);
    ScriptedHost host;
    TRecoveryContext context(host, folder_.File("EMPRESA.FDB"), "");
    TConnection target(context.Credentials());
    TOrphanSearch search(context, target);
    const std::unique_ptr<TInconsistency> record = search.checkInconsistencies(path, kMovLine);
    ASSERT_NE(nullptr, record) << context.RunLogText();
    EXPECT_EQ("CONTAS", record->TableName);
    EXPECT_EQ((std::vector<std::string>{"COD", "FILIAL"}), record->KeyFields);
    // Children in name order, each child's keys in key order: MOVIMENTOS
    // adds only C120;0; C7;1 and C50;2 once; no trailing blanks from the CHAR
    // column; the row with a NULL part names nothing.
    EXPECT_EQ((std::vector<std::string>{"C50;2", "C7;1", "C999;0", "C120;0"}), record->MissingKeys)
        << context.RunLogText();
    // Each child's line counts the distinct keys it lacks.
    const std::vector<std::string>& log = context.RunLog();
    EXPECT_EQ(2, std::count(log.begin(), log.end(), "  Carregando dados... 3 registros"))
        << context.RunLogText();
    EXPECT_EQ(
        1, std::count(log.begin(), log.end(), "Ocorrências: 4 (itens ausentes em CONTAS[FILIAL])"));
    // The other child's line names the same parent key: nothing more, and
    // without attaching again.
    EXPECT_EQ(nullptr, search.checkInconsistencies(path, kAvisosLine));
    EXPECT_FALSE(target.Database().Connected());
    EXPECT_TRUE(ServerTools::WaitUntilReleased(path));
  }
}

}  // namespace
