// The service manager client against the real local server: validation and
// mend of healthy and damaged databases, backup, restore, a restore whose
// foreign key fails, and bringing that database online.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBBackupService.h"
#include "fbaccess/TIBConfigService.h"
#include "fbaccess/TIBRestoreService.h"
#include "fbaccess/TIBValidationService.h"

namespace fs = std::filesystem;

namespace {

const char kPassword[] = "lumenrock";
const int kPageSize = 4096;

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return output;
  }
  char chunk[4096];
  while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) {
    output.append(chunk, n);
  }
  pclose(pipe);
  return output;
}

// Runs an isql-fb script; the script connects or creates on its own.
std::string RunIsql(const fs::path& folder, const std::string& script) {
  const fs::path file = folder / "script.sql";
  std::ofstream(file) << script;
  return RunCommand("isql-fb -q -user sysdba -password " + std::string(kPassword) + " -i '" +
                    file.string() + "'");
}

void GiveToFirebird(const fs::path& path) {
  const passwd* account = getpwnam("firebird");
  ASSERT_NE(account, nullptr);
  ASSERT_EQ(chown(path.c_str(), account->pw_uid, account->pw_gid), 0);
}

// A parent table of 2000 long rows (several data pages) and a child table
// whose every row references one of them.
void CreateDatabase(const fs::path& folder, const fs::path& database) {
  const std::string output = RunIsql(folder, "CREATE DATABASE 'localhost:" + database.string() +
                                                 "' PAGE_SIZE 4096;\n"
                                                 R"(
CREATE TABLE CLIENTES (ID INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(200));
CREATE TABLE PEDIDOS (ID INTEGER NOT NULL PRIMARY KEY, CLIENTE_ID INTEGER NOT NULL,
  CONSTRAINT FK_PEDIDOS_CLIENTES FOREIGN KEY (CLIENTE_ID) REFERENCES CLIENTES (ID));
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN
  WHILE (I <= 2000) DO BEGIN
    INSERT INTO CLIENTES VALUES (:I, 'Cliente ' || :I || ' com um nome comprido que ocupa a pagina');
    INSERT INTO PEDIDOS VALUES (:I, :I);
    I = I + 1;
  END
END^
SET TERM ;^
COMMIT;
)");
  ASSERT_TRUE(fs::exists(database)) << output;
}

// True while a server process has the file open (the server closes a database
// when its last attachment ends).
bool ServerHoldsFile(const fs::path& file) {
  for (const auto& process : fs::directory_iterator("/proc")) {
    std::ifstream comm(process.path() / "comm");
    std::string name;
    if (!std::getline(comm, name) || !name.starts_with("firebird")) {
      continue;
    }
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", error)) {
      std::error_code linkError;
      if (fs::read_symlink(fd.path(), linkError) == file) {
        return true;
      }
    }
  }
  return false;
}

bool WaitUntil(bool holds, const fs::path& file) {
  for (int i = 0; i < 100; ++i) {
    if (ServerHoldsFile(file) == holds) {
      return true;
    }
    usleep(50000);
  }
  return false;
}

// Zeroes the second data page of CLIENTES: its first pointer page lists the
// table's data pages as 32-bit little-endian numbers from byte 32 on.
void DamageParentTable(const fs::path& folder, const fs::path& database) {
  const std::string output =
      RunIsql(folder, "CONNECT 'localhost:" + database.string() + "';\n" + R"(
SELECT 'POINTER=' || P.RDB$PAGE_NUMBER FROM RDB$PAGES P
  JOIN RDB$RELATIONS R ON R.RDB$RELATION_ID = P.RDB$RELATION_ID
  WHERE R.RDB$RELATION_NAME = 'CLIENTES' AND P.RDB$PAGE_TYPE = 4 AND P.RDB$PAGE_SEQUENCE = 0;
)");
  const std::size_t at = output.find("POINTER=");
  ASSERT_NE(at, std::string::npos) << output;
  const long pointerPage = std::stol(output.substr(at + 8));

  ASSERT_TRUE(WaitUntil(false, database)) << "the server keeps " << database;
  std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char entry[4];
  file.seekg(pointerPage * kPageSize + 32 + 4);
  file.read(reinterpret_cast<char*>(entry), 4);
  const std::uint32_t dataPage = entry[0] | entry[1] << 8 | entry[2] << 16 | entry[3] << 24;
  ASSERT_GT(dataPage, 0u);
  const std::vector<char> zeros(kPageSize, 0);
  file.seekp(static_cast<std::streamoff>(dataPage) * kPageSize);
  file.write(zeros.data(), kPageSize);
  ASSERT_TRUE(file.good());
}

template <typename Service>
void Prepare(Service& service) {
  service.SetServerName("localhost");
  service.SetProtocol(TCP);
  service.SetLoginPrompt(false);
  service.ClearParams();
  service.AddParam("user_name=sysdba");
  service.AddParam(std::string("password=") + kPassword);
}

// Every text ReadOutputLine returns, the closing empty one included.
std::vector<std::string> ReadAll(TIBControlAndQueryService& service) {
  std::vector<std::string> lines;
  while (!service.AtEnd()) {
    lines.push_back(service.ReadOutputLine());
  }
  return lines;
}

std::vector<std::string> Validate(const fs::path& database, const TValidateOptions& options) {
  TIBValidationService service;
  Prepare(service);
  service.SetDatabaseName(database.string());
  service.Attach();
  service.SetOptions(options);
  service.ServiceStart();
  std::vector<std::string> lines = ReadAll(service);
  service.Detach();
  return lines;
}

std::vector<std::string> Backup(const fs::path& database, const fs::path& backup) {
  TIBBackupService service;
  Prepare(service);
  service.Attach();
  service.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
  service.SetVerbose(true);
  service.SetDatabaseName(database.string());
  service.SetBackupFile({backup.string()});
  service.ServiceStart();
  std::vector<std::string> lines = ReadAll(service);
  service.Detach();
  return lines;
}

std::vector<std::string> Restore(const fs::path& backup, const fs::path& database) {
  TIBRestoreService service;
  Prepare(service);
  service.Attach();
  service.SetOptions(
      {TRestoreOption::OneRelationAtATime, TRestoreOption::Replace, TRestoreOption::CreateNewDB});
  service.SetVerbose(true);
  service.SetDatabaseName({database.string()});
  service.SetBackupFile({backup.string()});
  service.SetPageSize(4096);
  service.SetPageBuffers(3000);
  service.ServiceStart();
  std::vector<std::string> lines = ReadAll(service);
  service.Detach();
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

// Connections this process holds to the server's port 3050.
int ServerConnections() {
  std::vector<std::string> inodes;
  for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      if (remote.ends_with(":0BEA") && state == "01") {
        inodes.push_back("socket:[" + inode + "]");
      }
    }
  }
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const fs::path target = fs::read_symlink(entry.path(), error);
    if (!error && std::find(inodes.begin(), inodes.end(), target.string()) != inodes.end()) {
      ++count;
    }
  }
  return count;
}

class ServiceIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / ("tessarine-svc-" + std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    GiveToFirebird(folder_);
    RunCommand(std::string(TESSARINE_SOURCE_DIR) + "/scripts/fbserver start");
    CreateDatabase(folder_, Healthy());
    CreateDatabase(folder_, Damaged());
    DamageParentTable(folder_, Damaged());
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  static fs::path Healthy() { return folder_ / "SAUDAVEL.FDB"; }
  static fs::path Damaged() { return folder_ / "DANIFICADO.FDB"; }

  static fs::path folder_;
};
fs::path ServiceIntegration::folder_;

TEST_F(ServiceIntegration, ValidationAndMendOfAHealthyDatabaseGiveNoLines) {
  const std::vector<std::string> none = {""};
  EXPECT_EQ(Validate(Healthy(), {TValidateOption::ValidateDB, TValidateOption::ValidateFull}),
            none);

  // The mend reuses the validation object: attach again, new options, start.
  TIBValidationService service;
  Prepare(service);
  service.SetDatabaseName(Healthy().string());
  service.Attach();
  service.SetOptions({TValidateOption::ValidateDB, TValidateOption::ValidateFull});
  service.ServiceStart();
  EXPECT_EQ(ReadAll(service), none);
  service.Detach();
  service.Attach();
  service.SetOptions({TValidateOption::MendDB});
  service.ServiceStart();
  EXPECT_EQ(ReadAll(service), none);
  service.Detach();
  EXPECT_FALSE(service.Active());
}

TEST_F(ServiceIntegration, DamagedDatabaseFailsTheStartWithTheSummaryAndLeaksNoConnection) {
  const int before = ServerConnections();
  for (int round = 0; round < 3; ++round) {
    TIBValidationService service;
    Prepare(service);
    service.SetDatabaseName(Damaged().string());
    service.Attach();
    service.SetOptions({TValidateOption::ValidateDB, TValidateOption::ValidateFull});
    try {
      service.ServiceStart();
      ADD_FAILURE() << "validation of a damaged database started without error";
    } catch (const EIBInterBaseError& error) {
      const std::string message = error.what();
      EXPECT_EQ(error.EngineCode(), 335740952L);
      EXPECT_TRUE(message.starts_with("Summary of validation errors")) << message;
      // The detail lines do not always arrive; when they do, they follow the
      // first line after CR LF, e.g. "\tNumber of data page errors\t: 1".
      if (message != "Summary of validation errors") {
        EXPECT_TRUE(message.starts_with("Summary of validation errors\r\n\tNumber of ")) << message;
      }
    }
    EXPECT_FALSE(service.Active());
  }
  // The failed start detached: no service connection is left behind.
  EXPECT_EQ(ServerConnections(), before);
}

TEST_F(ServiceIntegration, ValidationRefusedWhileAnotherAttachmentExists) {
  const fs::path database = folder_ / "OCUPADO.FDB";
  CreateDatabase(folder_, database);
  // An isql-fb session that stays attached until its input closes.
  FILE* session = popen(("isql-fb -q -user sysdba -password " + std::string(kPassword) +
                         " 'localhost:" + database.string() + "' > /dev/null 2>&1")
                            .c_str(),
                        "w");
  ASSERT_NE(session, nullptr);
  fputs("SELECT COUNT(*) FROM CLIENTES;\n", session);
  fflush(session);
  ASSERT_TRUE(WaitUntil(true, database));
  try {
    Validate(database, {TValidateOption::ValidateDB, TValidateOption::ValidateFull});
    ADD_FAILURE() << "validation started beside another attachment";
  } catch (const EIBInterBaseError& error) {
    EXPECT_NE(
        std::string(error.what()).find("secondary server attachments cannot validate databases"),
        std::string::npos)
        << error.what();
  }
  fputs("QUIT;\n", session);
  pclose(session);
}

TEST_F(ServiceIntegration, BackupAndRestoreWithTheSystemOptions) {
  const fs::path backup = folder_ / "SAUDAVEL 07-12-2026 10-30.fbk";
  const std::vector<std::string> backupLines = Backup(Healthy(), backup);
  ASSERT_GE(backupLines.size(), 3u);
  EXPECT_EQ(backupLines.back(), "");
  // Read line by line, every verbose line of the backup, like those of the
  // restore, ends with one blank.
  const std::string closing = backupLines[backupLines.size() - 2];
  EXPECT_TRUE(closing.starts_with("gbak:closing file, committing, and finishing.")) << closing;
  EXPECT_TRUE(closing.ends_with(" bytes written ")) << closing;
  EXPECT_NE(Joined(backupLines).find("gbak:    writing data for table CLIENTES \n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(backup));

  const fs::path restored = folder_ / "SAUDAVEL 07-12-2026 10-30.FDB";
  const std::vector<std::string> restoreLines = Restore(backup, restored);
  ASSERT_GE(restoreLines.size(), 3u);
  EXPECT_EQ(restoreLines.back(), "");
  EXPECT_EQ(Joined(restoreLines).find("gbak: ERROR"), std::string::npos) << Joined(restoreLines);
  for (std::size_t i = 0; i + 1 < restoreLines.size(); ++i) {
    EXPECT_TRUE(restoreLines[i].ends_with(" ")) << restoreLines[i];
  }
  EXPECT_TRUE(fs::exists(restored));
}

TEST_F(ServiceIntegration, RestoreIntoAFolderTheServerCannotWriteFails) {
  const fs::path backup = folder_ / "PROIBIDO.fbk";
  Backup(Healthy(), backup);
  const fs::path closed = folder_ / "fechada";
  fs::create_directories(closed);
  fs::permissions(closed, fs::perms::owner_all);  // root only
  try {
    Restore(backup, closed / "PROIBIDO.FDB");
    ADD_FAILURE() << "restore into a closed folder succeeded";
  } catch (const EIBInterBaseError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("I/O error during \"open O_CREAT\" operation for file"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
  }
}

TEST_F(ServiceIntegration, RestoreWithAFailedForeignKeyThenBringItOnline) {
  // What a run does with a damaged database: mend, back up, restore.
  const fs::path database = folder_ / "ORFAOS.FDB";
  CreateDatabase(folder_, database);
  DamageParentTable(folder_, database);
  try {
    Validate(database, {TValidateOption::MendDB});
  } catch (const EIBInterBaseError& error) {
    // The mend of a damaged database also answers with its summary.
    EXPECT_TRUE(std::string(error.what()).starts_with("Summary of validation errors"));
  }
  const fs::path backup = folder_ / "ORFAOS.fbk";
  const std::string backupText = Joined(Backup(database, backup));
  ASSERT_NE(backupText.find("closing file, committing, and finishing"), std::string::npos);

  const fs::path restored = folder_ / "ORFAOS RESTAURADO.FDB";
  const std::vector<std::string> lines = Restore(backup, restored);
  const std::string text = Joined(lines);
  EXPECT_NE(text.find("gbak: ERROR:violation of FOREIGN KEY constraint \"FK_PEDIDOS_CLIENTES\" on "
                      "table \"PEDIDOS\" \n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("gbak: ERROR:    Foreign key reference target does not exist \n"),
            std::string::npos);
  EXPECT_NE(text.find("gbak:Database is not online due to failure to activate one or more "
                      "indices. \n"),
            std::string::npos);

  // Left in single-user maintenance (shutdown mode 2) until brought online.
  const std::string state = "CONNECT 'localhost:" + restored.string() +
                            "';\nSELECT 'MODO=' || MON$SHUTDOWN_MODE FROM MON$DATABASE;\n"
                            "SELECT 'LINHAS=' || COUNT(*) FROM PEDIDOS;\n";
  EXPECT_NE(RunIsql(folder_, state).find("MODO=2"), std::string::npos);

  TIBConfigService config;
  Prepare(config);
  config.SetDatabaseName(restored.string());
  config.Attach();
  config.BringDatabaseOnline();
  config.Detach();
  const std::string online = RunIsql(folder_, state);
  EXPECT_NE(online.find("MODO=0"), std::string::npos) << online;
  EXPECT_NE(online.find("LINHAS=2000"), std::string::npos) << online;

  // Once online, the same request is refused by the server.
  config.Attach();
  try {
    config.BringDatabaseOnline();
    ADD_FAILURE() << "bringing an online database online succeeded";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Target shutdown mode is invalid for database \"" + restored.string() + "\"");
  }
  EXPECT_FALSE(config.Active());
}

TEST_F(ServiceIntegration, BackupOfAnUnmendedDamagedDatabaseFailsWhileReading) {
  // The backup starts, then the server's error ends the output: the query fails.
  const fs::path database = folder_ / "SEM REMENDO.FDB";
  CreateDatabase(folder_, database);
  DamageParentTable(folder_, database);
  TIBBackupService service;
  Prepare(service);
  service.Attach();
  service.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
  service.SetVerbose(true);
  service.SetDatabaseName(database.string());
  service.SetBackupFile({(folder_ / "SEM REMENDO.fbk").string()});
  service.ServiceStart();
  try {
    ReadAll(service);
    ADD_FAILURE() << "backup of a damaged database read to its end";
  } catch (const EIBInterBaseError& error) {
    EXPECT_NE(std::string(error.what()).find("database file appears corrupt"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(service.Active());
  EXPECT_FALSE(service.AtEnd());
}

}  // namespace
