// The service manager client against the real local server: validation and
// mend of healthy and damaged databases, backup, restore, a restore whose
// foreign key fails, and bringing that database online.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBBackupService.h"
#include "fbaccess/TIBConfigService.h"
#include "fbaccess/TIBRestoreService.h"
#include "fbaccess/TIBValidationService.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"
#include "support/ToolRunner.h"

namespace fs = std::filesystem;
using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::ServerTools;

namespace {

const char kPassword[] = "lumenrock";

// A parent table of 2000 long rows (several data pages) and a child table
// whose every row references one of them.
FixtureDatabase CreateDatabase(const fs::path& database) {
  return FixtureDatabase::Create(database, R"(
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
)");
}

// Zeroes the second data page of CLIENTES: PEDIDOS rows then point at lost rows.
void DamageParentTable(const FixtureDatabase& db) {
  FileDamage::ZeroDataPage(db, "CLIENTES", "ID", 1);
}

// True while a process named firebird has the file open. Looks at every such
// process rather than the one in the pid file, which can be stale while other
// tests restart the server.
bool AnyServerHoldsFile(const fs::path& file) {
  for (const auto& process : fs::directory_iterator("/proc")) {
    std::ifstream comm(process.path() / "comm");
    std::string name;
    if (!std::getline(comm, name) || name != "firebird") {
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
    testsupport::ToolRunner::Run(
        {std::string(TESSARINE_SOURCE_DIR) + "/scripts/fbserver", "start"});
    folder_ = std::make_unique<testsupport::TestFolder>("tessarine-svc");
    DamageParentTable(CreateDatabase(Damaged()));
    CreateDatabase(Healthy());
  }
  static void TearDownTestSuite() { folder_.reset(); }

  static fs::path File(const std::string& name) { return folder_->File(name); }
  static fs::path Healthy() { return File("SAUDAVEL.FDB"); }
  static fs::path Damaged() { return File("DANIFICADO.FDB"); }

  static std::unique_ptr<testsupport::TestFolder> folder_;
};
std::unique_ptr<testsupport::TestFolder> ServiceIntegration::folder_;

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
  const fs::path database = File("OCUPADO.FDB");
  CreateDatabase(database);
  // An isql-fb session that stays attached until its input closes.
  FILE* session = popen(("isql-fb -q -user sysdba -password " + std::string(kPassword) +
                         " 'localhost:" + database.string() + "' > /dev/null 2>&1")
                            .c_str(),
                        "w");
  ASSERT_NE(session, nullptr);
  fputs("SELECT COUNT(*) FROM CLIENTES;\n", session);
  fflush(session);
  for (int i = 0; i < 100 && !AnyServerHoldsFile(database); ++i) {
    usleep(50000);
  }
  ASSERT_TRUE(AnyServerHoldsFile(database));
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
  const fs::path backup = File("SAUDAVEL 07-12-2026 10-30.fbk");
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

  const fs::path restored = File("SAUDAVEL 07-12-2026 10-30.FDB");
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
  const fs::path backup = File("PROIBIDO.fbk");
  Backup(Healthy(), backup);
  const fs::path closed = File("fechada");
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
  const fs::path database = File("ORFAOS.FDB");
  DamageParentTable(CreateDatabase(database));
  try {
    Validate(database, {TValidateOption::MendDB});
  } catch (const EIBInterBaseError& error) {
    // The mend of a damaged database also answers with its summary.
    EXPECT_TRUE(std::string(error.what()).starts_with("Summary of validation errors"));
  }
  const fs::path backup = File("ORFAOS.fbk");
  const std::string backupText = Joined(Backup(database, backup));
  ASSERT_NE(backupText.find("closing file, committing, and finishing"), std::string::npos);

  const fs::path restored = File("ORFAOS RESTAURADO.FDB");
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
  const FixtureDatabase restoredDb(restored);
  const std::string mode = "SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE";
  EXPECT_EQ(restoredDb.Value(mode), "2");

  TIBConfigService config;
  Prepare(config);
  config.SetDatabaseName(restored.string());
  config.Attach();
  config.BringDatabaseOnline();
  config.Detach();
  EXPECT_EQ(restoredDb.Value(mode), "0");
  EXPECT_EQ(restoredDb.Count("PEDIDOS"), 2000);

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
  // The backup starts, then the server's error ends it: the failure is raised
  // once the lines written before it have been read.
  const fs::path database = File("SEM REMENDO.FDB");
  DamageParentTable(CreateDatabase(database));
  TIBBackupService service;
  Prepare(service);
  service.Attach();
  service.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
  service.SetVerbose(true);
  service.SetDatabaseName(database.string());
  service.SetBackupFile({File("SEM REMENDO.fbk").string()});
  service.ServiceStart();
  try {
    ReadAll(service);
    ADD_FAILURE() << "backup of a damaged database read to its end";
  } catch (const EIBInterBaseError& error) {
    EXPECT_NE(std::string(error.what()).find("database file appears corrupt"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(service.Active());
  EXPECT_TRUE(service.AtEnd());
}

}  // namespace
