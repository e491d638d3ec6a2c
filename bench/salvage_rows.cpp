// Salvage rate: the rows per second the engine rebuilds for a table whose
// pointer page is lost, against a plain copy of the same rows between two
// healthy databases through the same access layer.
//
// Builds PRODUTOS (integer primary key, varchar, numeric, date; N rows),
// keeps a healthy copy, a gbak backup of it (restored once as the older
// database) and an empty database with the same schema, and writes zeros
// over the pointer page in the middle of the table's pointer pages in a copy
// of the file (with --damage data: one data page in the middle of the table
// instead, the pointer pages whole). Then, in alternating rounds on fresh
// empty targets:
//   (a) TTableRescue::Rescue of PRODUTOS from the damaged database and the
//       older one; rate = rows inserted / seconds;
//   (b) one select of every column from the healthy database and one
//       prepared insert with parameters per row into the empty target, one
//       transaction; rate = rows / seconds;
//   (c) the server's own restore of the older backup (the same rows) through
//       the service manager, as the run restores; rate = rows / seconds.
// Prints the rates, the CPU seconds of this process and of the server, and
// the peak memory each side added to this process, per round, the ratio of
// (a) to (c) per round, the best rate of each side and the ratios of the
// best of (a) to the best of (b) and of (c). The rescue inserts through
// TRowBatcher: for PRODUTOS a compiled request (TIBBlockStore) storing up to
// 240 rows from one message, sent while the next rows are read.
//
//   salvage_rows [--rows N] [--rounds R] [--damage pointer|data] [--keep] [--from FOLDER]
//                [--sides abc]
//
// Needs the local server (scripts/fbserver start), isql-fb and gbak; run as
// root (the folders are given to user firebird).

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TTableRescue.h"
#include "engine/run/IRecoveryHost.h"
#include "engine/run/TRecoveryContext.h"
#include "fbaccess/TIBQuery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/PageDamage.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

#include "LoadAverage.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::PageDamage;
using testsupport::ServerTools;
using testsupport::TestFolder;

const char* const kTable = "PRODUTOS";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- the databases ----------------------------------------------------------

const char* const kSchema =
    "create table PRODUTOS (ID integer not null, NOME varchar(60), CATEGORIA varchar(30),"
    " PRECO numeric(15,2), CADASTRO date, OBS varchar(80),"
    " constraint PK_PRODUTOS primary key (ID));\n";

std::string FillScript(long rows) {
  return std::string(kSchema) +
         "commit;\n"
         "set term ^;\n"
         "execute block as declare i integer = 1; begin\n"
         "  while (i <= " +
         std::to_string(rows) +
         ") do begin\n"
         "    insert into PRODUTOS values (:i, 'Produto ' || :i, 'Categoria ' || mod(:i, 53),\n"
         "      :i * 0.37, dateadd(mod(:i, 9000) day to date '2001-01-01'),\n"
         "      iif(mod(:i, 3) = 0, null, 'Obs ' || :i));\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ;^\n";
}

// The files one build leaves in its folder.
struct Files {
  explicit Files(const std::string& base)
      : healthy(base + "/SAUDAVEL.FDB"),
        pointerLost(base + "/SEM-PONTEIRO.FDB"),
        dataPageLost(base + "/SEM-PAGINA.FDB"),
        olderBackup(base + "/ANTIGO.FBK"),
        older(base + "/ANTIGO.FDB"),
        empty(base + "/VAZIO.FDB") {}
  std::string healthy;
  std::string pointerLost;   // the middle pointer page of the table zeroed
  std::string dataPageLost;  // the middle data page of the table zeroed
  std::string olderBackup;
  std::string older;  // the older backup restored
  std::string empty;  // the schema without rows, copied for every target
};

void Build(const Files& files, long rows) {
  std::printf("building %ld rows of %s in %s ...\n", rows, kTable, files.healthy.c_str());
  std::fflush(stdout);
  const Clock::time_point start = Clock::now();
  const FixtureDatabase healthy = FixtureDatabase::Create(files.healthy, FillScript(rows));
  const testsupport::ToolResult saved = ServerTools::Backup(files.healthy, files.olderBackup);
  if (!saved.Ok()) {
    throw std::runtime_error("older backup: " + saved.output);
  }
  const testsupport::ToolResult restored = ServerTools::Restore(files.olderBackup, files.older);
  if (!restored.Ok()) {
    throw std::runtime_error("restoring the older backup: " + restored.output);
  }
  FixtureDatabase::Create(files.empty, kSchema);

  const std::vector<std::uint32_t> pointers = PageDamage::PointerPages(healthy, kTable);
  if (pointers.empty()) {
    throw std::runtime_error(std::string("no pointer page of ") + kTable);
  }
  // The middle one, not the first. Firebird 3 walks every pointer page of a
  // table when it prepares any statement on it, so whichever goes, the
  // damaged file gives no row of the table and all come from the older
  // database; the data page case (--damage data) is the one read by keys.
  const std::size_t sequence = pointers.size() / 2;
  PageDamage::Copy(files.healthy, files.pointerLost);
  PageDamage::ZeroPage(files.pointerLost, pointers[sequence]);
  const std::vector<std::uint32_t> pages = FileDamage::DataPages(healthy, kTable);
  PageDamage::Copy(files.healthy, files.dataPageLost);
  const testsupport::DamageReport data =
      FileDamage::ZeroDataPage(FixtureDatabase(files.dataPageLost), kTable, "ID", pages.size() / 2);
  std::printf(
      "built in %.0f s: %.0f MB; pointer page %u (sequence %zu of %zu) of %s zeroed in %s; data "
      "page %u (%zu of %zu, %zu rows) zeroed in %s\n",
      SecondsSince(start), double(std::filesystem::file_size(files.healthy)) / 1e6,
      pointers[sequence], sequence, pointers.size(), kTable, files.pointerLost.c_str(),
      data.pageNumber, pages.size() / 2, pages.size(), data.lostKeys.size(),
      files.dataPageLost.c_str());
  std::fflush(stdout);
}

// --- side (a): the engine's rescue ------------------------------------------

// Shows nothing, answers every question with its first choice; keeps the log.
class SilentHost : public IRecoveryHost {
 public:
  void Notify(const RunEvent& event) override {
    if (const auto* line = std::get_if<LogAppended>(&event)) {
      log.push_back(line->line);
    } else if (const auto* progress = std::get_if<LogProgress>(&event)) {
      log.push_back(progress->line);
    }
  }
  MessageAnswer AskUser(const Question& question) override {
    return question.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
  }
  std::optional<std::string> ChooseBackupFile(const std::string&) override { return std::nullopt; }
  std::optional<TCredentials> AskCredentials(const std::string&, const std::string&) override {
    return std::nullopt;
  }

  std::vector<std::string> log;
};

struct Timed {
  long long rows = 0;
  double seconds = 0;
  long peakKb = 0;  // memory added to the process at its peak
  // CPU seconds of this process and of the server's process meanwhile (the
  // server's includes whatever others asked of it at the time).
  double clientCpu = 0;
  double serverCpu = 0;
  double Rate() const { return seconds > 0 ? double(rows) / seconds : 0; }
};

Timed RunRescue(const Files& files, const std::string& damagedPath, const std::string& target,
                TTableRescue::TCounts& counts, std::vector<std::string>& log) {
  SilentHost host;
  TRecoveryContext context(host, damagedPath, files.olderBackup);
  TConnection damaged;
  TConnection restored;
  TConnection older;
  damaged.SetDatabasePath(damagedPath);
  restored.SetDatabasePath(target);
  older.SetDatabasePath(files.older);
  const Clock::time_point start = Clock::now();
  counts = TTableRescue(context, damaged, restored, &older).Rescue(kTable);
  Timed timed{counts.FromDamaged + counts.FromPages + counts.FromOlderBackup, SecondsSince(start)};
  log = host.log;
  return timed;
}

// --- side (b): the plain copy -----------------------------------------------

Timed RunPlainCopy(const Files& files, const std::string& target) {
  const Clock::time_point start = Clock::now();
  TConnection source;
  TConnection copy;
  source.SetDatabasePath(files.healthy);
  copy.SetDatabasePath(target);
  source.Database().Open();
  copy.Database().Open();

  TIBQuery select;
  select.SetDatabase(&source.Database());
  select.SQL().SetText("select ID, NOME, CATEGORIA, PRECO, CADASTRO, OBS from PRODUTOS");
  TIBQuery insert;
  insert.SetDatabase(&copy.Database());
  insert.SQL().SetText(
      "insert into PRODUTOS (ID, NOME, CATEGORIA, PRECO, CADASTRO, OBS)"
      " values (:ID, :NOME, :CATEGORIA, :PRECO, :CADASTRO, :OBS)");
  insert.Prepare();
  select.Open();
  const int columns = select.FieldCount();
  std::vector<TParam*> params;
  for (int i = 0; i < columns; ++i) {
    params.push_back(&insert.ParamNamed(select.Fields(i).Name()));
    params.back()->SetDataType(select.Fields(i).DataType());
  }
  long long rows = 0;
  while (!select.AtEnd()) {
    for (int i = 0; i < columns; ++i) {
      const TField& field = select.Fields(i);
      params[std::size_t(i)]->SetValue(field.IsNull() ? TValue() : field.Value());
    }
    insert.ExecQuery();
    ++rows;
    select.Next();
  }
  select.Close();
  copy.Transaction().Commit();
  source.Transaction().Rollback();
  copy.Database().Close();
  source.Database().Close();
  return {rows, SecondsSince(start)};
}

// --- side (c): the server's restore -----------------------------------------

Timed RunRestore(const Files& files, long long rows) {
  TestFolder folder{"tessarine-salvage-restore"};
  const Clock::time_point start = Clock::now();
  const testsupport::ToolResult restored =
      ServerTools::Restore(files.olderBackup, folder.File("RESTAURADO.FDB"));
  if (!restored.Ok()) {
    throw std::runtime_error("restore: " + restored.output);
  }
  return {rows, SecondsSince(start)};
}

// --- measuring --------------------------------------------------------------

long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) {
      return std::atol(line.c_str() + field.size());
    }
  }
  return 0;
}

// User plus system CPU seconds of process `pid` ("self" for this one), from
// /proc; 0 when it cannot be read.
double CpuSeconds(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  std::getline(stat, line);
  // The fields after the command's closing parenthesis: state is field 3,
  // utime and stime are fields 14 and 15.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) {
    return 0;
  }
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) {
      ticks += std::atof(field.c_str());
    }
  }
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// The local server's process id, as text ("" when not found).
std::string ServerPid() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name == "firebird") {
      return pid;
    }
  }
  return {};
}

// Runs `side` with the process's peak memory reset before it, and the CPU
// time it and the server took.
template <typename Side>
Timed Measured(const Side& side) {
  malloc_trim(0);  // what an earlier side freed is not counted as resident
  std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM starts again from VmRSS
  const long before = StatusKb("VmRSS:");
  const std::string server = ServerPid();
  const double clientBefore = CpuSeconds("self");
  const double serverBefore = server.empty() ? 0 : CpuSeconds(server);
  Timed timed = side();
  timed.peakKb = StatusKb("VmHWM:") - before;
  timed.clientCpu = CpuSeconds("self") - clientBefore;
  timed.serverCpu = server.empty() ? 0 : CpuSeconds(server) - serverBefore;
  return timed;
}

// A fresh empty target: a copy of the schema-only database.
struct Target {
  TestFolder folder{"tessarine-salvage-round"};
  std::string path = folder.File("RESTAURADO.FDB");

  explicit Target(const std::string& empty) { PageDamage::Copy(empty, path); }
};

}  // namespace

int main(int argc, char** argv) {
  long rows = 1000000;
  int rounds = 3;
  std::string damage = "pointer";
  std::string from;  // a folder kept by an earlier --keep: its databases are used again
  bool keep = false;
  std::string sides = "abc";  // which of (a), (b), (c) run
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      rows = std::atol(argv[++i]);
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (arg == "--damage" && i + 1 < argc &&
               (std::string(argv[i + 1]) == "pointer" || std::string(argv[i + 1]) == "data")) {
      damage = argv[++i];
    } else if (arg == "--from" && i + 1 < argc) {
      from = argv[++i];
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--sides" && i + 1 < argc &&
               std::string(argv[i + 1]).find_first_not_of("abc") == std::string::npos) {
      sides = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: salvage_rows [--rows N] [--rounds R] [--damage pointer|data] [--keep] "
                   "[--from FOLDER] [--sides abc]\n");
      return 2;
    }
  }
  if (keep) {
    setenv("TESSARINE_KEEP_TEST_FOLDERS", "1", 1);
  }
  try {
    TestFolder folder("tessarine-salvage");
    const Files files(from.empty() ? folder.Path() : from);
    if (from.empty()) {
      Build(files, rows);
    }
    const std::string& damaged = damage == "pointer" ? files.pointerLost : files.dataPageLost;
    std::printf("damaged database %s; load average %.2f at the start\n", damaged.c_str(),
                LoadAverage());
    std::vector<double> rescueRates;
    std::vector<double> copyRates;
    std::vector<double> restoreRates;
    auto cpu = [](const Timed& timed) {
      char text[96];
      std::snprintf(text, sizeof text, "CPU: client %.2f s, server %.2f s", timed.clientCpu,
                    timed.serverCpu);
      return std::string(text);
    };
    for (int round = 1; round <= rounds; ++round) {
      if (sides.find('a') != std::string::npos) {
        const Target target(files.empty);
        TTableRescue::TCounts counts;
        std::vector<std::string> log;
        const Timed timed =
            Measured([&] { return RunRescue(files, damaged, target.path, counts, log); });
        std::printf(
            "round %d (a) rescue: %lld rows in %.2f s = %.0f rows/s, %s, peak memory +%ld KiB "
            "(from damaged %lld, from pages %lld, from older backup %lld, lost %lld%s)\n",
            round, timed.rows, timed.seconds, timed.Rate(), cpu(timed).c_str(), timed.peakKb,
            counts.FromDamaged, counts.FromPages, counts.FromOlderBackup, counts.Lost,
            counts.LostKnown ? "" : ", total lost not known");
        for (const std::string& line : log) {
          std::printf("    log: %s\n", line.c_str());
        }
        std::fflush(stdout);
        rescueRates.push_back(timed.Rate());
      }
      if (sides.find('b') != std::string::npos) {
        const Target target(files.empty);
        const Timed timed = Measured([&] { return RunPlainCopy(files, target.path); });
        std::printf(
            "round %d (b) plain copy: %lld rows in %.2f s = %.0f rows/s, %s, peak memory +%ld "
            "KiB\n",
            round, timed.rows, timed.seconds, timed.Rate(), cpu(timed).c_str(), timed.peakKb);
        std::fflush(stdout);
        copyRates.push_back(timed.Rate());
      }
      if (sides.find('c') != std::string::npos) {
        const Timed timed = Measured([&] { return RunRestore(files, rows); });
        std::printf("round %d (c) server's restore: %lld rows in %.2f s = %.0f rows/s, %s\n", round,
                    timed.rows, timed.seconds, timed.Rate(), cpu(timed).c_str());
        std::fflush(stdout);
        restoreRates.push_back(timed.Rate());
        // The two sides of one round ran next to each other, under about the
        // same load: on a busy machine this ratio says more than the best-of.
        if (sides.find('a') != std::string::npos && timed.Rate() > 0) {
          std::printf("round %d ratio rescue / server's restore: %.3f\n", round,
                      rescueRates.back() / timed.Rate());
        }
      }
    }
    auto best = [](const std::vector<double>& rates) {
      return rates.empty() ? 0.0 : *std::max_element(rates.begin(), rates.end());
    };
    const double bestRescue = best(rescueRates);
    const double bestCopy = best(copyRates);
    const double bestRestore = best(restoreRates);
    std::printf("best: rescue %.0f rows/s, plain copy %.0f rows/s, server's restore %.0f rows/s\n",
                bestRescue, bestCopy, bestRestore);
    const double load = LoadAverage();
    if (load > double(sysconf(_SC_NPROCESSORS_ONLN))) {
      std::printf("machine busy (load average %.1f): wall-clock rates below are not a measure\n",
                  load);
    } else {
      std::printf("load average %.2f at the end\n", load);
    }
    if (bestRescue > 0 && bestCopy > 0) {
      const double ratio = bestRescue / bestCopy;
      std::printf("ratio rescue / plain copy: %.3f (target >= 0.5): %s\n", ratio,
                  ratio >= 0.5 ? "met" : "NOT met");
    }
    if (bestRescue > 0 && bestRestore > 0) {
      const double restoreRatio = bestRescue / bestRestore;
      std::printf("ratio rescue / server's restore: %.3f (target >= 0.5): %s\n", restoreRatio,
                  restoreRatio >= 0.5 ? "met" : "NOT met");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "salvage_rows: %s\n", error.what());
    return 1;
  }
  return 0;
}
