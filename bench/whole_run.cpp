// Whole run: a level-2 repair of a damaged database by the engine, against
// the same server work issued directly through the client library.
//
// Builds CLIENTES (the parent, N rows), PEDIDOS (5/3 N) and NOTAS (N), keeps
// a backup of the healthy database as the older backup, and zeroes one data
// page of CLIENTES. Then, in alternating rounds on fresh copies of the
// damaged file:
//   (a) the engine's whole run (TThreadRecovery's run on this thread) with a
//       host that answers every question with Yes and shows nothing;
//   (b) the server operations such a run needs, each started through the
//       service manager (output read in bulk) and one SQL block: copy,
//       validate, mend, backup, restore, bring online, restore the older
//       backup, insert the missing parents read through "execute statement
//       ... on external", backup, restore under a new name and rename it to
//       the original one, validate.
// Prints per-step seconds of both sides, the totals and their ratio.
//
//   whole_run [--parents N] [--rounds R] [--only a|b] [--keep] [--from FOLDER]
//
// Needs the local server (scripts/fbserver start), isql-fb and gbak; run as
// root (the folder is given to user firebird).

#include <ibase.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/IRecoveryHost.h"
#include "engine/run/RunTypes.h"
#include "engine/run/TThreadRecovery.h"
#include "fbaccess/TIBRestoreService.h"
#include "fbaccess/detail/ClientApi.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

#include "LoadAverage.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::ServerTools;
using testsupport::TestFolder;

const char* const kUser = "sysdba";
const char* const kPassword = "lumenrock";

struct StepTime {
  std::string name;
  double seconds = 0;
};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- the database -----------------------------------------------------------

std::string Script(long parents) {
  const std::string n = std::to_string(parents);
  const std::string orders = std::to_string(parents * 5 / 3);
  return "create table CLIENTES (ID integer not null, NOME varchar(60), CIDADE varchar(40),"
         " NASCIMENTO date, SALDO numeric(15,2), OBS varchar(80),"
         " constraint PK_CLIENTES primary key (ID));\n"
         "create table PEDIDOS (ID integer not null, CLIENTE_ID integer, VALOR numeric(15,2),"
         " FEITO timestamp, constraint PK_PEDIDOS primary key (ID),"
         " constraint FK_PEDIDOS_CLIENTES foreign key (CLIENTE_ID) references CLIENTES (ID));\n"
         "create table NOTAS (ID integer not null, CLIENTE_ID integer, TEXTO varchar(80),"
         " constraint PK_NOTAS primary key (ID),"
         " constraint FK_NOTAS_CLIENTES foreign key (CLIENTE_ID) references CLIENTES (ID));\n"
         "commit;\n"
         "set term ^;\n"
         "execute block as declare i integer = 1; begin\n"
         "  while (i <= " +
         n +
         ") do begin\n"
         "    insert into CLIENTES values (:i, 'Cliente ' || :i, 'Cidade ' || mod(:i, 37),\n"
         "      dateadd(mod(:i, 20000) day to date '1950-01-01'), :i * 1.25,\n"
         "      iif(mod(:i, 4) = 0, null, 'Obs ' || :i));\n"
         "    i = i + 1;\n"
         "  end\n"
         "  i = 1;\n"
         "  while (i <= " +
         orders +
         ") do begin\n"
         "    insert into PEDIDOS values (:i, mod(:i * 7, " +
         n +
         ") + 1, :i * 0.5,\n"
         "      dateadd(:i minute to timestamp '2020-01-01 00:00'));\n"
         "    i = i + 1;\n"
         "  end\n"
         "  i = 1;\n"
         "  while (i <= " +
         n +
         ") do begin\n"
         "    insert into NOTAS values (:i, mod(:i * 13, " +
         n +
         ") + 1, 'Nota ' || :i);\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ;^\n";
}

// --- side (b): the server's own work through the client library -------------

void Check(ISC_STATUS* status, const char* what) {
  if (status[0] == 1 && status[1] > 0) {
    throw std::runtime_error(std::string(what) + ": " + fbdetail::ComposeStatusMessage(status));
  }
}

void PutText(std::string& spb, char item, const std::string& text) {
  spb += item;
  spb += char(text.size() & 0xff);
  spb += char(text.size() >> 8);
  spb += text;
}

void PutNumber(std::string& spb, char item, std::uint32_t value) {
  spb += item;
  for (int i = 0; i < 4; ++i) {
    spb += char((value >> (8 * i)) & 0xff);
  }
}

// What is kept of a service's output: its first bytes and every line that
// holds "error" in any case, each bounded.
class OutputSummary {
 public:
  void Add(std::string_view chunk) {
    if (head_.size() < kHead) {
      head_.append(chunk.substr(0, kHead - head_.size()));
    }
    for (const char c : chunk) {
      if (c != '\n') {
        if (line_.size() < kLine) {
          line_ += c;
        }
        continue;
      }
      Keep();
    }
  }
  std::string Text() {
    Keep();
    return head_.empty() ? std::string() : head_ + "\n" + errors_;
  }

 private:
  static constexpr std::size_t kHead = 4096;
  static constexpr std::size_t kLine = 1024;
  static constexpr std::size_t kErrors = 1 << 20;

  void Keep() {
    std::string lower = line_;
    for (char& c : lower) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower.find("error") != std::string::npos && errors_.size() < kErrors) {
      errors_ += line_ + "\n";
    }
    line_.clear();
  }

  std::string head_;
  std::string line_;
  std::string errors_;
};

// One service manager action, started and read to its end.
class ServiceAction {
 public:
  ServiceAction() {
    std::string spb = {char(isc_spb_version), char(isc_spb_current_version)};
    spb += char(isc_spb_user_name);
    spb += char(std::strlen(kUser));
    spb += kUser;
    spb += char(isc_spb_password);
    spb += char(std::strlen(kPassword));
    spb += kPassword;
    char name[] = "localhost:service_mgr";
    api_.isc_service_attach(status_, 0, name, &handle_, static_cast<unsigned short>(spb.size()),
                            spb.data());
    Check(status_, "service attach");
  }
  ~ServiceAction() {
    ISC_STATUS_ARRAY local{};
    api_.isc_service_detach(local, &handle_);
  }
  ServiceAction(const ServiceAction&) = delete;
  ServiceAction& operator=(const ServiceAction&) = delete;

  // Starts the request and reads the whole output; returns what the caller
  // looks at: its beginning and every line that speaks of an error (a 1 GB
  // database's verbose restore prints far more than one string should hold).
  // A status whose code is in `accepted` ends the reading without an error.
  std::string Run(const std::string& request, std::vector<ISC_STATUS> accepted = {}) {
    api_.isc_service_start(status_, &handle_, nullptr, static_cast<unsigned short>(request.size()),
                           const_cast<char*>(request.data()));
    if (Accepted(accepted)) {
      return std::string();
    }
    Check(status_, "service start");
    OutputSummary output;
    std::vector<char> buffer(65000);
    const char item = isc_info_svc_to_eof;
    for (;;) {
      api_.isc_service_query(status_, &handle_, nullptr, 0, nullptr, 1, &item,
                             static_cast<unsigned short>(buffer.size()), buffer.data());
      if (Accepted(accepted)) {
        return output.Text();
      }
      Check(status_, "service query");
      if (buffer[0] != isc_info_svc_to_eof) {
        throw std::runtime_error("unexpected service answer");
      }
      const auto length = static_cast<std::size_t>(api_.isc_vax_integer(buffer.data() + 1, 2));
      output.Add(std::string_view(buffer.data() + 3, length));
      if (length == 0 && buffer[3] != isc_info_truncated) {
        return output.Text();
      }
    }
  }

 private:
  bool Accepted(const std::vector<ISC_STATUS>& accepted) const {
    if (status_[0] != 1 || status_[1] == 0) {
      return false;
    }
    for (const ISC_STATUS code : accepted) {
      if (fbdetail::StatusHasCode(status_, code)) {
        return true;
      }
    }
    return false;
  }

  const fbdetail::ClientApi& api_ = fbdetail::Api();
  ISC_STATUS_ARRAY status_{};
  isc_svc_handle handle_ = 0;
};

// Firebird 3 answers a validation or mend that found errors with this status.
constexpr ISC_STATUS kValidationSummary = 335740952;

std::string Repair(const std::string& database, std::uint32_t options) {
  std::string request(1, char(isc_action_svc_repair));
  PutText(request, isc_spb_dbname, database);
  PutNumber(request, isc_spb_options, options);
  return ServiceAction().Run(request, {kValidationSummary});
}

std::string Backup(const std::string& database, const std::string& backup) {
  std::string request(1, char(isc_action_svc_backup));
  PutText(request, isc_spb_dbname, database);
  PutText(request, isc_spb_bkp_file, backup);
  request += char(isc_spb_verbose);
  PutNumber(request, isc_spb_options, isc_spb_bkp_ignore_limbo | isc_spb_bkp_non_transportable);
  return ServiceAction().Run(request);
}

// A restore that fails on foreign keys ends with an error status: accepted,
// its text is part of the output the caller looks at.
std::string Restore(const std::string& backup, const std::string& database) {
  std::string request(1, char(isc_action_svc_restore));
  PutText(request, isc_spb_bkp_file, backup);
  PutText(request, isc_spb_dbname, database);
  request += char(isc_spb_verbose);
  PutNumber(request, isc_spb_options, isc_spb_res_create | isc_spb_res_one_at_a_time);
  PutNumber(request, isc_spb_res_buffers, 3000);
  std::string output;
  try {
    output = ServiceAction().Run(request);
  } catch (const std::runtime_error& error) {
    output = error.what();
  }
  return output;
}

void BringOnline(const std::string& database) {
  std::string request(1, char(isc_action_svc_properties));
  PutText(request, isc_spb_dbname, database);
  PutNumber(request, isc_spb_options, isc_spb_prp_db_online);
  ServiceAction().Run(request);
}

// Runs one statement in its own attachment and transaction.
void ExecuteSql(const std::string& database, const std::string& sql) {
  const fbdetail::ClientApi& api = fbdetail::Api();
  ISC_STATUS_ARRAY status{};
  std::string dpb = {char(isc_dpb_version1), char(isc_dpb_user_name), char(std::strlen(kUser))};
  dpb += kUser;
  dpb += {char(isc_dpb_password), char(std::strlen(kPassword))};
  dpb += kPassword;
  const std::string name = "localhost:" + database;
  isc_db_handle db = 0;
  api.isc_attach_database(status, short(name.size()), name.c_str(), &db, short(dpb.size()),
                          dpb.data());
  Check(status, "attach");
  isc_tr_handle tr = 0;
  fbdetail::TransactionElement teb{&db, 0, nullptr};
  api.isc_start_multiple(status, &tr, 1, &teb);
  Check(status, "start");
  api.isc_dsql_execute_immediate(status, &db, &tr, 0, sql.c_str(), 3, nullptr);
  if (status[0] == 1 && status[1] > 0) {
    const std::string text = fbdetail::ComposeStatusMessage(status);
    ISC_STATUS_ARRAY local{};
    api.isc_rollback_transaction(local, &tr);
    api.isc_detach_database(local, &db);
    throw std::runtime_error("execute: " + text);
  }
  api.isc_commit_transaction(status, &tr);
  Check(status, "commit");
  api.isc_detach_database(status, &db);
  Check(status, "detach");
}

// The missing parents, read from the older database and inserted into the
// restored one, in one statement.
std::string SalvageBlock(const std::string& older) {
  return "execute block as\n"
         "  declare id integer; declare nome varchar(60); declare cidade varchar(40);\n"
         "  declare nascimento date; declare saldo numeric(15,2); declare obs varchar(80);\n"
         "begin\n"
         "  for select distinct c.CLIENTE_ID from (select CLIENTE_ID from PEDIDOS\n"
         "      union select CLIENTE_ID from NOTAS) c\n"
         "    where c.CLIENTE_ID is not null and not exists\n"
         "      (select 1 from CLIENTES p where p.ID = c.CLIENTE_ID) into :id do\n"
         "  begin\n"
         "    execute statement ('select NOME, CIDADE, NASCIMENTO, SALDO, OBS from CLIENTES\n"
         "        where ID = ?') (:id)\n"
         "      on external 'localhost:" +
         older + "' as user '" + kUser + "' password '" + kPassword +
         "'\n"
         "      into :nome, :cidade, :nascimento, :saldo, :obs;\n"
         "    insert into CLIENTES values (:id, :nome, :cidade, :nascimento, :saldo, :obs);\n"
         "  end\n"
         "end";
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

std::vector<StepTime> RunServerSide(const std::string& database, const std::string& olderBackup) {
  std::vector<StepTime> steps;
  const auto step = [&](const char* name, const std::function<void()>& work) {
    const Clock::time_point start = Clock::now();
    work();
    steps.push_back({name, SecondsSince(start)});
  };
  const std::string copy = database + ".copy";
  const std::string backup1 = database + ".l1.fbk";
  const std::string restored1 = database + ".l1.fdb";
  const std::string temporary = database + ".old.fdb";
  const std::string backup2 = database + ".l2.fbk";
  const std::string restored2 = database + ".l2.fdb";
  const std::string aside = database + ".damaged";

  step("copy", [&] { std::filesystem::copy_file(database, copy); });
  step("validate", [&] { Repair(database, isc_spb_rpr_validate_db | isc_spb_rpr_full); });
  step("mend", [&] { Repair(database, isc_spb_rpr_mend_db); });
  step("backup level 1", [&] { Backup(database, backup1); });
  step("restore level 1", [&] {
    const std::string output = Restore(backup1, restored1);
    if (!Contains(output, "FK_")) {
      throw std::runtime_error("the level-1 restore did not fail on a foreign key");
    }
  });
  step("bring online", [&] { BringOnline(restored1); });
  step("restore older backup", [&] { Restore(olderBackup, temporary); });
  step("insert missing parents", [&] { ExecuteSql(restored1, SalvageBlock(temporary)); });
  step("backup level 2", [&] { Backup(restored1, backup2); });
  step("restore level 2", [&] {
    const std::string output = Restore(backup2, restored2);
    if (Contains(output, "ERROR")) {
      throw std::runtime_error("level-2 restore failed: " + output.substr(0, 400));
    }
    std::filesystem::rename(database, aside);
    std::filesystem::rename(restored2, database);
  });
  step("final validation", [&] {
    const std::string output = Repair(database, isc_spb_rpr_validate_db | isc_spb_rpr_full);
    if (!output.empty() && !Contains(output, "no errors")) {
      throw std::runtime_error("final validation: " + output.substr(0, 400));
    }
  });
  return steps;
}

// --- side (a): the engine's run ---------------------------------------------

// Shows nothing and answers every question with Yes (a notice with OK);
// keeps when each step's row started and finished.
class YesHost : public IRecoveryHost {
 public:
  explicit YesHost(std::string olderBackup) : olderBackup_(std::move(olderBackup)) {}

  void Notify(const RunEvent& event) override {
    if (std::holds_alternative<LogAppended>(event) || std::holds_alternative<LogProgress>(event)) {
      ++logLines;
    }
    const auto* step = std::get_if<StepChanged>(&event);
    if (step == nullptr) {
      return;
    }
    if (step->phase == StepPhase::Running) {
      started_[step->key] = Clock::now();
    } else if (step->phase == StepPhase::Finished && started_.count(step->key) != 0) {
      steps.push_back({StepTitle(step->key), SecondsSince(started_[step->key])});
      if (step->outcome != StepOutcome::Success) {
        steps.back().name += " (not success)";
      }
      started_.erase(step->key);
    }
  }
  MessageAnswer AskUser(const Question& question) override {
    return question.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
  }
  std::optional<std::string> ChooseBackupFile(const std::string&) override { return olderBackup_; }
  std::optional<TCredentials> AskCredentials(const std::string&, const std::string&) override {
    return std::nullopt;
  }

  std::vector<StepTime> steps;
  long logLines = 0;

 private:
  std::string olderBackup_;
  std::map<StepKey, Clock::time_point> started_;
};

std::vector<StepTime> RunEngineSide(const std::string& database, const std::string& olderBackup) {
  YesHost host(olderBackup);
  RunVerdict verdict = RunVerdict::NotValidated;
  {
    TThreadRecovery run(host, database, olderBackup, &TFirebirdSteps::Create);
    while (!run.WaitFor(std::chrono::milliseconds(100))) {
    }
    verdict = run.Verdict();
  }
  if (verdict != RunVerdict::Repaired) {
    throw std::runtime_error("the engine's run did not end repaired (verdict " +
                             std::to_string(static_cast<int>(verdict)) + ")");
  }
  host.steps.push_back({"log lines " + std::to_string(host.logLines), 0});
  return host.steps;
}

// The same restore read line by line through the access layer's service
// object, as the engine reads it (to compare with the bulk read above).
void RestoreLineByLine(const std::string& backup, const std::string& database) {
  TIBRestoreService service;
  service.SetServerName("localhost");
  service.SetProtocol(TCP);
  service.SetLoginPrompt(false);
  service.AddParam(std::string("user_name=") + kUser);
  service.AddParam(std::string("password=") + kPassword);
  service.SetActive(true);
  service.SetVerbose(true);
  service.SetOptions({TRestoreOption::OneRelationAtATime, TRestoreOption::CreateNewDB});
  service.SetPageBuffers(3000);
  service.SetDatabaseName({database});
  service.SetBackupFile({backup});
  service.ServiceStart();
  while (!service.AtEnd()) {
    service.ReadOutputLine();
  }
  service.SetActive(false);
}

// --- measuring --------------------------------------------------------------

double Total(const std::vector<StepTime>& steps) {
  double sum = 0;
  for (const StepTime& s : steps) {
    sum += s.seconds;
  }
  return sum;
}

void PrintSteps(const char* side, const std::vector<StepTime>& steps, double wall, double serverCpu,
                double ownCpu) {
  std::printf("  %s:", side);
  for (const StepTime& s : steps) {
    std::printf(" %s %.2f;", s.name.c_str(), s.seconds);
  }
  std::printf(" steps %.2f s; wall %.2f s, server CPU %.2f s, this process's CPU %.2f s\n",
              Total(steps), wall, serverCpu, ownCpu);
  std::fflush(stdout);
}

// CPU seconds (user + system) of the server's processes so far: the
// server's share of a side's work, which other load on the machine changes
// much less than it changes the wall clock.
double ServerCpuSeconds() {
  double total = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) {
      continue;
    }
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos ||
        line.substr(open + 1, close - open - 1) != "firebird") {
      continue;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) {
        ticks += std::stod(field);
      }
    }
    total += ticks / double(sysconf(_SC_CLK_TCK));
  }
  return total;
}

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A fresh folder holding a copy of the damaged database and the older backup.
struct RoundFiles {
  TestFolder folder{"tessarine-wholerun-round"};
  std::string database = folder.File("CADASTRO.FDB");
  std::string olderBackup = folder.File("ANTIGO.FBK");

  RoundFiles(const std::string& damaged, const std::string& backup) {
    std::filesystem::copy_file(damaged, database);
    std::filesystem::copy_file(backup, olderBackup);
    TestFolder::GiveToServer(database);
    TestFolder::GiveToServer(olderBackup);
  }
};

}  // namespace

int main(int argc, char** argv) {
  long parents = 300000;
  int rounds = 3;
  std::string only;
  std::string from;  // a folder kept by an earlier --keep: its databases are used again
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--parents" && i + 1 < argc) {
      parents = std::atol(argv[++i]);
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (arg == "--from" && i + 1 < argc) {
      from = argv[++i];
    } else if (arg == "--keep") {
      keep = true;
    } else {
      std::fprintf(
          stderr,
          "usage: whole_run [--parents N] [--rounds R] [--only a|b] [--keep] [--from FOLDER]\n");
      return 2;
    }
  }
  if (keep) {
    setenv("TESSARINE_KEEP_TEST_FOLDERS", "1", 1);
  }
  if (only.rfind("restore:", 0) == 0) {
    // --only restore:BACKUP compares the two ways of reading a restore's output.
    const std::string backup = only.substr(8);
    TestFolder folder("tessarine-wholerun-restore");
    for (int i = 0; i < rounds; ++i) {
      Clock::time_point start = Clock::now();
      double cpu = ServerCpuSeconds();
      Restore(backup, folder.File("BULK" + std::to_string(i) + ".FDB"));
      const double bulk = SecondsSince(start);
      const double bulkCpu = ServerCpuSeconds() - cpu;
      start = Clock::now();
      cpu = ServerCpuSeconds();
      RestoreLineByLine(backup, folder.File("LINES" + std::to_string(i) + ".FDB"));
      std::printf(
          "restore read in bulk %.2f s (server CPU %.2f s), line by line %.2f s (server CPU "
          "%.2f s)\n",
          bulk, bulkCpu, SecondsSince(start), ServerCpuSeconds() - cpu);
      std::fflush(stdout);
    }
    return 0;
  }
  try {
    TestFolder folder("tessarine-wholerun");
    const std::string base = from.empty() ? folder.Path() : from;
    const std::string healthy = base + "/SAUDAVEL.FDB";
    const std::string damaged = base + "/DANIFICADO.FDB";
    const std::string older = base + "/ANTIGO.FBK";
    if (from.empty()) {
      std::printf("building %ld + %ld + %ld rows in %s ...\n", parents, parents * 5 / 3, parents,
                  healthy.c_str());
      std::fflush(stdout);
      const Clock::time_point start = Clock::now();
      const FixtureDatabase db = FixtureDatabase::Create(healthy, Script(parents));
      const testsupport::ToolResult saved = ServerTools::Backup(healthy, older);
      if (!saved.Ok()) {
        throw std::runtime_error("older backup: " + saved.output);
      }
      const std::vector<std::uint32_t> pages = FileDamage::DataPages(db, "CLIENTES");
      std::filesystem::copy_file(healthy, damaged);
      TestFolder::GiveToServer(damaged);
      const FixtureDatabase target(damaged);
      const testsupport::DamageReport damage =
          FileDamage::ZeroDataPage(target, "CLIENTES", "ID", pages.size() / 2);
      std::printf(
          "built in %.0f s: %.0f MB, data page %u of CLIENTES (of %zu) zeroed, %zu rows lost\n",
          SecondsSince(start), double(std::filesystem::file_size(healthy)) / 1e6, damage.pageNumber,
          pages.size(), damage.lostKeys.size());
      std::fflush(stdout);
    }
    Clock::time_point start = Clock::now();

    std::map<std::string, std::vector<double>> totals;
    std::map<std::string, std::vector<double>> cpu;  // server's and this process's
    for (int round = 1; round <= rounds; ++round) {
      std::printf("round %d\n", round);
      for (const char side : std::string("ab")) {
        if (!only.empty() && only[0] != side) {
          continue;
        }
        RoundFiles files(damaged, older);
        start = Clock::now();
        const double serverBefore = ServerCpuSeconds();
        const double ownBefore = OwnCpuSeconds();
        std::vector<StepTime> steps = side == 'a'
                                          ? RunEngineSide(files.database, files.olderBackup)
                                          : RunServerSide(files.database, files.olderBackup);
        const double wall = SecondsSince(start);
        const double serverCpu = ServerCpuSeconds() - serverBefore;
        const double ownCpu = OwnCpuSeconds() - ownBefore;
        PrintSteps(side == 'a' ? "(a) engine" : "(b) server", steps, wall, serverCpu, ownCpu);
        totals[std::string(1, side)].push_back(wall);
        cpu[std::string(1, side)].push_back(serverCpu + ownCpu);
      }
    }
    const auto best = [](const std::vector<double>& values) {
      double b = 0;
      for (const double t : values) {
        b = b == 0 ? t : std::min(b, t);
      }
      return b;
    };
    if (totals.count("a") != 0 && totals.count("b") != 0) {
      const double ratio = best(totals["a"]) / best(totals["b"]);
      const double cpuRatio = best(cpu["a"]) / best(cpu["b"]);
      std::printf("best wall: engine %.2f s, server's own work %.2f s\n", best(totals["a"]),
                  best(totals["b"]));
      std::printf("best CPU (server + this process): engine %.2f s, server's own work %.2f s\n",
                  best(cpu["a"]), best(cpu["b"]));
      if (LoadAverage() > double(sysconf(_SC_NPROCESSORS_ONLN))) {
        std::printf("machine busy (load average %.1f): wall-clock rates below are not a measure\n",
                    LoadAverage());
      }
      std::printf("ratio engine / server, wall: %.3f (target <= 0.85): %s\n", ratio,
                  ratio <= 0.85 ? "met" : "NOT met");
      std::printf("ratio engine / server, CPU : %.3f\n", cpuRatio);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "whole_run: %s\n", error.what());
    return 1;
  }
  return 0;
}
