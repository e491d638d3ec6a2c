// Page reader throughput: every row of a 1,000,000-row table decoded from the
// database file's pages (TTableReader, values as TValue) against the server's
// own select * of the same table read through TIBQuery (each column's
// TValue). A filler table takes the file past 1 GiB, and the whole-file
// examination (TInspection) runs on it too, for peak memory. Each side runs in
// a child process of its own, so that its peak memory (ru_maxrss) is its own.
//
// Needs the local server (scripts/fbserver start) and isql-fb; run as root
// (the database folder is given to user firebird).
//
//   page_reader                      fill a fresh database, 3 rounds
//   page_reader --keep               ... and leave the database behind
//   page_reader --db PATH            rounds on a database filled before

#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"
#include "pages/TInspection.h"
#include "pages/TTableReader.h"

#include "LoadAverage.h"

namespace {

constexpr long kRows = 1000000;
constexpr int kFillerRows = 140000;  // about 8 KiB each: the file passes 1 GiB

std::string MakeFolder() {
  char pattern[] = "/tmp/tessarine-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  const passwd* fb = getpwnam("firebird");
  if (fb == nullptr || chown(pattern, fb->pw_uid, fb->pw_gid) != 0) {
    std::fprintf(stderr, "cannot give %s to user firebird\n", pattern);
    std::exit(1);
  }
  return pattern;
}

bool CreateDatabase(const std::string& folder, const std::string& path) {
  const std::string script = folder + "/create.sql";
  std::ofstream out(script);
  out << "create database 'localhost:" << path
      << "' user 'sysdba' password 'lumenrock' page_size 8192;\n"
         "create table ITENS (ID integer not null primary key, NOME varchar(40),"
         " VALOR numeric(15,2), QUANDO timestamp);\n"
         "create table FILLER (ID integer, T varchar(8000));\n"
         "commit;\n"
         "set term ^;\n"
         "execute block as declare i integer = 0; begin\n"
         "  while (i < "
      << kRows
      << ") do begin\n"
         "    insert into ITENS values (:i, 'nome do item ' || :i, :i * 1.25,\n"
         "      dateadd(:i second to timestamp '2020-01-01 00:00:00'));\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "execute block as declare i integer = 0; begin\n"
         "  while (i < "
      << kFillerRows
      << ") do begin\n"
         "    insert into FILLER values (:i, lpad('', 7800, uuid_to_char(gen_uuid())));\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ;^\n"
         "commit;\n";
  out.close();
  const std::string command = "isql-fb -q -i " + script;
  return std::system(command.c_str()) == 0;
}

long ReadThroughServer(const std::string& path) {
  TIBDatabase db;
  TIBTransaction tr;
  db.SetDefaultTransaction(&tr);
  tr.SetDefaultDatabase(&db);
  db.AddParam("user_name=sysdba");
  db.AddParam("password=lumenrock");
  db.SetLoginPrompt(false);
  db.SetDatabaseName("localhost:" + path);
  TIBQuery q;
  q.SetDatabase(&db);
  q.SQL().SetText("select * from ITENS");
  q.Open();
  long rows = 0;
  long long sum = 0;
  while (!q.AtEnd()) {
    for (int i = 0; i < q.FieldCount(); ++i) {
      const TValue v = q.Fields(i).Value();
      sum += v.IsNull() ? 0 : 1;
    }
    ++rows;
    q.Next();
  }
  q.Close();
  tr.Commit();
  db.Close();
  return sum > 0 ? rows : -1;
}

long ReadFromPages(const std::string& path) {
  TTableReader reader(path);
  long long sum = 0;
  const TReadCounts counts = reader.Read("ITENS", [&](const TRow& row) {
    for (const TValue& v : row.values) {
      sum += v.IsNull() ? 0 : 1;
    }
  });
  return sum > 0 ? long(counts.recordsRead) : -1;
}

// The examination reads every page of the file; it reports the rows of both
// tables, which stand in for the row count.
long Examine(const std::string& path) {
  const TInspectionResult r = TInspection::Run(path);
  for (const TInspectedTable& t : r.tables) {
    if (t.name == "ITENS") {
      return long(t.records);
    }
  }
  return -1;
}

struct Result {
  double rate = 0;  // rows per second
  long peakKiB = 0;
  double seconds = 0;
};

Result RunChild(long (*reader)(const std::string&), const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    double message[2] = {-1, 0};
    try {
      const auto start = std::chrono::steady_clock::now();
      const long rows = reader(path);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      message[0] = double(rows);
      message[1] = took.count();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child failed: %s\n", e.what());
    }
    if (write(fds[1], message, sizeof message) != sizeof message) {
      _exit(2);
    }
    _exit(0);
  }
  close(fds[1]);
  double message[2] = {-1, 0};
  if (read(fds[0], message, sizeof message) != sizeof message) {
    message[0] = -1;
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (message[0] != double(kRows)) {
    std::fprintf(stderr, "a reader did not read %ld rows (%.0f)\n", kRows, message[0]);
    return Result{-1, 0, 0};
  }
  return Result{message[0] / message[1], usage.ru_maxrss, message[1]};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool keep = args.size() == 1 && args[0] == "--keep";
  const bool reuse = args.size() == 2 && args[0] == "--db";
  if (!args.empty() && !keep && !reuse) {
    std::fprintf(stderr, "usage: page_reader [--keep | --db PATH]\n");
    return 2;
  }
  std::string folder;
  std::string path;
  if (reuse) {
    path = args[1];
  } else {
    folder = MakeFolder();
    path = folder + "/PAGES.FDB";
    std::printf("filling %ld rows and a filler into %s ...\n", kRows, path.c_str());
    std::fflush(stdout);
    if (!CreateDatabase(folder, path)) {
      std::fprintf(stderr, "isql-fb failed\n");
      std::filesystem::remove_all(folder);
      return 1;
    }
  }
  std::printf("file: %.2f GiB, load average %.2f\n",
              double(std::filesystem::file_size(path)) / (1 << 30), LoadAverage());
  // Three rounds, the two sides alternating, best rate kept.
  Result server;
  Result pages;
  for (int round = 1; round <= 3; ++round) {
    const Result s = RunChild(ReadThroughServer, path);
    const Result p = RunChild(ReadFromPages, path);
    if (s.rate < 0 || p.rate < 0) {
      return 1;
    }
    std::printf("round %d: server %.0f rows/s (%ld MiB), pages %.0f rows/s (%ld MiB)\n", round,
                s.rate, s.peakKiB / 1024, p.rate, p.peakKiB / 1024);
    std::fflush(stdout);
    server = s.rate > server.rate ? s : server;
    pages = p.rate > pages.rate ? p : pages;
  }
  const Result examined = RunChild(Examine, path);
  std::printf("select * through TIBQuery : %10.0f rows/s, peak memory %4ld MiB\n", server.rate,
              server.peakKiB / 1024);
  std::printf("TTableReader from pages   : %10.0f rows/s, peak memory %4ld MiB\n", pages.rate,
              pages.peakKiB / 1024);
  std::printf("ratio pages / server      : %.2f (target >= 1.0)\n", pages.rate / server.rate);
  std::printf("TInspection of the file   : %.1f s, peak memory %ld MiB (target < 64)\n",
              examined.seconds, examined.peakKiB / 1024);
  std::printf("load average at the end   : %.2f\n", LoadAverage());
  if (!reuse && !keep) {
    std::filesystem::remove_all(folder);
  }
  return 0;
}
