// How fast the orphan search finds the lost parents of a large database, and
// how much memory it holds for it, next to the server's own answer to the same
// question. Builds, through the local server, a database as a failed level-1
// restore leaves it: 100,000 parents, 1,000,000 child rows in two tables, 1% of
// the parents gone, the foreign-key indices inactive.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TOrphanSearch.h"
#include "engine/run/IRecoveryHost.h"
#include "engine/run/TRecoveryContext.h"

namespace {

const char kUser[] = "sysdba";
const char kPassword[] = "lumenrock";
constexpr int kParents = 100000;
constexpr int kChildRowsEach = 500000;

// A front end that shows nothing and answers OK.
class SilentHost : public IRecoveryHost {
 public:
  void Notify(const RunEvent&) override {}
  MessageAnswer AskUser(const Question& question) override {
    std::cerr << "question: " << question.text << "\n";
    return MessageAnswer::Ok;
  }
  std::optional<std::string> ChooseBackupFile(const std::string&) override { return {}; }
  std::optional<TCredentials> AskCredentials(const std::string&, const std::string&) override {
    return {};
  }
};

// Runs a shell command line; throws when it fails.
std::string Shell(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    throw std::runtime_error("cannot run: " + command);
  }
  std::string output;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    output += buffer;
  }
  if (::pclose(pipe) != 0) {
    throw std::runtime_error(command + " failed:\n" + output);
  }
  return output;
}

std::string Isql(const std::string& folder, const std::string& database,
                 const std::string& script) {
  const std::string file = folder + "/script.sql";
  std::ofstream(file) << script;
  return Shell("isql-fb -q -bail -user " + std::string(kUser) + " -password " + kPassword +
               (database.empty() ? "" : " localhost:" + database) + " -i '" + file + "'");
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::atol(line.c_str() + std::string(field).size());
    }
  }
  return 0;
}

void BuildDatabase(const std::string& folder, const std::string& db) {
  const std::string full = folder + "/FULL.FDB";
  const std::string backup = folder + "/FULL.FBK";
  Isql(folder, "",
       "create database 'localhost:" + full + "' user '" + kUser + "' password '" + kPassword +
           "' page_size 8192;\n"
           "create table CLIENTES (ID integer not null, NOME varchar(40),"
           " constraint PK_CLIENTES primary key (ID));\n"
           "create table PEDIDOS (ID integer not null, CLIENTE_ID integer,"
           " VALOR numeric(15,2), constraint PK_PEDIDOS primary key (ID),"
           " constraint FK_PEDIDOS_CLIENTES foreign key (CLIENTE_ID) references CLIENTES (ID));\n"
           "create table NOTAS (ID integer not null, CLIENTE_ID integer, TEXTO varchar(40),"
           " constraint PK_NOTAS primary key (ID),"
           " constraint FK_NOTAS_CLIENTES foreign key (CLIENTE_ID) references CLIENTES (ID));\n"
           "commit;\nset term ^;\n"
           "execute block as declare i integer = 1; begin\n"
           "  while (i <= " +
           std::to_string(kParents) +
           ") do begin insert into CLIENTES values (:i, 'Cliente ' || :i); i = i + 1; end\n"
           "  i = 1;\n"
           "  while (i <= " +
           std::to_string(kChildRowsEach) +
           ") do begin\n"
           "    insert into PEDIDOS values (:i, mod(:i * 7, " +
           std::to_string(kParents) +
           ") + 1, :i * 0.5);\n"
           "    insert into NOTAS values (:i, mod(:i * 13, " +
           std::to_string(kParents) +
           ") + 1, 'Nota ' || :i);\n"
           "    i = i + 1;\n"
           "  end\n"
           "end^\nset term ;^\ncommit;\n");
  // Restored with every index inactive, as gbak does for -i; the keys the
  // level-1 restore would build are activated again, the foreign keys stay
  // inactive, and with them unchecked 1% of the parents is deleted.
  Shell("gbak -b -user " + std::string(kUser) + " -password " + kPassword +
        " -se localhost:service_mgr '" + full + "' '" + backup + "'");
  Shell("gbak -c -i -rep -user " + std::string(kUser) + " -password " + kPassword +
        " -se localhost:service_mgr '" + backup + "' '" + db + "'");
  Isql(folder, db,
       "alter index PK_CLIENTES active;\nalter index PK_PEDIDOS active;\n"
       "alter index PK_NOTAS active;\ncommit;\n"
       "delete from CLIENTES where mod(ID, 100) = 0;\ncommit;\n");
}

}  // namespace

int main() {
  char pattern[] = "/tmp/tessarine-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string folder = pattern;
  Shell("chown firebird:firebird '" + folder + "'");
  const std::string db = folder + "/RESTAURADO.FDB";
  try {
    auto start = std::chrono::steady_clock::now();
    BuildDatabase(folder, db);
    std::cout << "database built in " << Seconds(std::chrono::steady_clock::now() - start)
              << " s\n";

    const std::string line =
        "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_PEDIDOS_CLIENTES\" on table "
        "\"PEDIDOS\" ";
    const std::string serverQuery =
        "select distinct c.CLIENTE_ID from PEDIDOS c where not exists (select 1 from CLIENTES p"
        " where p.ID = c.CLIENTE_ID);\n"
        "select distinct c.CLIENTE_ID from NOTAS c where not exists (select 1 from CLIENTES p"
        " where p.ID = c.CLIENTE_ID);\n";

    for (int round = 1; round <= 3; ++round) {
      // The server's own answer, through isql-fb (output counted, not shown).
      start = std::chrono::steady_clock::now();
      const std::string answer = Isql(folder, db, "set heading off;\n" + serverQuery);
      const double serverTime = Seconds(std::chrono::steady_clock::now() - start);
      std::size_t serverRows = 0;
      for (std::size_t p = 0; (p = answer.find('\n', p)) != std::string::npos; ++p) {
        ++serverRows;
      }

      SilentHost host;
      TRecoveryContext context(host, folder + "/EMPRESA.FDB", "");
      TConnection target;
      TOrphanSearch search(context, target);
      std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM starts again from VmRSS
      const long rssBefore = StatusKb("VmRSS:");
      start = std::chrono::steady_clock::now();
      const auto record = search.checkInconsistencies(db, line);
      const double searchTime = Seconds(std::chrono::steady_clock::now() - start);
      const long peakKb = StatusKb("VmHWM:") - rssBefore;
      const std::size_t missing = record ? record->MissingKeys.size() : 0;
      // Keys held at once: the parent set and, while it streams, one child's
      // distinct keys in the query's row buffer.
      const double keysHeld = double(kParents - kParents / 100) + double(kParents);
      std::cout << "round " << round << ": checkInconsistencies " << searchTime << " s, " << missing
                << " missing keys; server (isql-fb, both children) " << serverTime << " s, ~"
                << serverRows << " output lines; ratio " << searchTime / serverTime
                << "; peak memory +" << peakKb << " KiB = " << double(peakKb) * 1024.0 / keysHeld
                << " bytes per key held\n";
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    Shell("rm -rf '" + folder + "'");
    return 1;
  }
  Shell("rm -rf '" + folder + "'");
  return 0;
}
