// The service objects against the fake client: what each call sends, how the
// output is read, and every check of the layer with its index.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "FakeClient.h"
#include "ServiceBytes.h"
#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBBackupService.h"
#include "fbaccess/TIBConfigService.h"
#include "fbaccess/TIBRestoreService.h"
#include "fbaccess/TIBValidationService.h"

namespace {

const std::string kDb = "/dados/EMPRESA.FDB";
const std::string kFbk = "/dados/EMPRESA 07-12-2026 10-30.fbk";
const std::string kBusy = "Não posso executar essa operação -- Serviço é fixo ";
const std::string kIdle = "Não posso executar essa operação -- Serviço não é fixo";
const std::string kBadStart = "Paramêtros iniciais não encontrados ou incorretos";

void Prepare(TIBCustomService& service) {
  service.SetServerName("localhost");
  service.SetProtocol(TCP);
  service.SetLoginPrompt(false);
  service.ClearParams();
  service.AddParam("user_name=sysdba");
  service.AddParam("password=lumenrock");
}

class ServiceFake : public ::testing::Test {
 protected:
  void SetUp() override {
    // Never let these tests reach a real server.
    ASSERT_EQ(ClientLibrary::LibraryFile(), FAKE_CLIENT_LIBRARY);
    Fake().Reset();
  }

  // Attached and started on kDb into kFbk, ready for its output to be read.
  static void StartBackup(TIBBackupService& backup) {
    Prepare(backup);
    backup.SetDatabaseName(kDb);
    backup.SetBackupFile({kFbk});
    backup.Attach();
    backup.ServiceStart();
  }

  static std::string StartRequest() {
    const auto starts = Fake().CallsTo("isc_service_start");
    return starts.empty() ? std::string() : starts.back().args.at(1);
  }
};

TEST_F(ServiceFake, AttachSendsTheServiceNameOfTheProtocolAndTheParameterBlock) {
  TIBValidationService service;
  EXPECT_EQ(service.Protocol(), Local);
  Prepare(service);
  service.Attach();
  service.Attach();  // already attached: nothing happens
  auto attaches = Fake().CallsTo("isc_service_attach");
  ASSERT_EQ(attaches.size(), 1u);
  EXPECT_EQ(attaches[0].args[0], "localhost:service_mgr");
  EXPECT_EQ(attaches[0].args[2], Bytes({2, 2, 28, 6}) + "sysdba" + Bytes({29, 9}) + "lumenrock");
  EXPECT_TRUE(service.Active());
  service.SetActive(false);
  EXPECT_FALSE(service.Active());
  service.SetActive(false);  // already detached: nothing happens

  // The local protocol ignores the server name.
  service.SetProtocol(Local);
  EXPECT_EQ(service.ServerName(), "");
  service.SetActive(true);
  EXPECT_EQ(Fake().CallsTo("isc_service_attach").back().args[0], "service_mgr");

  EXPECT_EQ(TIBCustomService::ServiceName(TCP, "db-server"), "db-server:service_mgr");
  ExpectClientError([] { TIBCustomService::ServiceName(SPX, "db-server"); }, 96,
                    "Protocolo SPX não suportado");
  ExpectClientError([] { TIBCustomService::ServiceName(NamedPipe, "db-server"); }, 96,
                    "Protocolo NamedPipe não suportado");
}

TEST_F(ServiceFake, ClientChecksWithTheirIndexes) {
  TIBBackupService backup;
  // Remote protocol without a server name (92), unsupported protocol (96).
  backup.SetProtocol(TCP);
  ExpectClientError([&] { backup.Attach(); }, 92, "Nome do Servidor não encontrado");
  backup.SetServerName("localhost");
  backup.SetProtocol(SPX);
  ExpectClientError([&] { backup.Attach(); }, 96, "Protocolo SPX não suportado");
  // Parameter lines (88, 89), checked before the server is called.
  backup.SetProtocol(TCP);
  backup.SetParams({"user_name=sysdba", "sys_user_name=ADMIN"});
  ExpectClientError([&] { backup.Attach(); }, 88, "SPB Constant não suportado");
  backup.SetParams({"user_name =sysdba"});
  ExpectClientError([&] { backup.Attach(); }, 89, "SPB Constant Desconhecida");
  EXPECT_TRUE(Fake().CallsTo("isc_service_attach").empty());

  // Start and detach while detached (90), reading before any start (93).
  ExpectClientError([&] { backup.ServiceStart(); }, 90, kIdle);
  ExpectClientError([&] { backup.Detach(); }, 90, kIdle);
  ExpectClientError([&] { backup.ReadOutputLine(); }, 93,
                    "Paramêtros da Query não encontrados ou incorretos");

  // Settings fixed while attached (91, with its trailing blank).
  Prepare(backup);
  backup.Attach();
  ExpectClientError([&] { backup.SetServerName("other"); }, 91, kBusy);
  ExpectClientError([&] { backup.SetProtocol(Local); }, 91, kBusy);
  ExpectClientError([&] { backup.ClearParams(); }, 91, kBusy);
  ExpectClientError([&] { backup.AddParam("password=x"); }, 91, kBusy);
  ExpectClientError([&] { backup.SetParams({}); }, 91, kBusy);
  backup.SetServerName("localhost");  // unchanged values are no change
  backup.SetProtocol(TCP);
  EXPECT_EQ(backup.Params().size(), 2u);

  // No database name (94): the server is not called.
  ExpectClientError([&] { backup.ServiceStart(); }, 94, kBadStart);
  TIBValidationService validation;
  Prepare(validation);
  validation.Attach();
  ExpectClientError([&] { validation.ServiceStart(); }, 94, kBadStart);
  TIBConfigService config;
  Prepare(config);
  config.Attach();
  ExpectClientError([&] { config.BringDatabaseOnline(); }, 94, kBadStart);
  EXPECT_TRUE(Fake().CallsTo("isc_service_start").empty());
}

TEST_F(ServiceFake, StartRequestsOfTheSystemsOperations) {
  TIBValidationService validation;
  Prepare(validation);
  validation.SetDatabaseName(kDb);
  validation.Attach();
  validation.SetOptions({TValidateOption::ValidateDB, TValidateOption::ValidateFull});
  validation.ServiceStart();
  EXPECT_EQ(StartRequest(), Bytes({3}) + Text(106, kDb) + Number(108, 0x01) + Number(108, 0x81));
  validation.Detach();
  // The mend reuses the object: attach again, other options.
  validation.Attach();
  validation.SetOptions({TValidateOption::MendDB});
  validation.ServiceStart();
  EXPECT_EQ(StartRequest(), Bytes({3}) + Text(106, kDb) + Number(108, 0x04));

  TIBBackupService backup;
  Prepare(backup);
  backup.Attach();
  backup.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
  backup.SetVerbose(true);
  backup.SetDatabaseName(kDb);
  backup.SetBackupFile({kFbk});
  backup.ServiceStart();
  EXPECT_EQ(StartRequest(),
            Bytes({1}) + Text(106, kDb) + Number(108, 0x22) + Bytes({107}) + Text(5, kFbk));

  TIBRestoreService restore;
  EXPECT_EQ(restore.Options(), TRestoreOptions{TRestoreOption::CreateNewDB});
  EXPECT_EQ(restore.PageSize(), 4096);
  Prepare(restore);
  restore.Attach();
  restore.SetDatabaseName({"/dados/EMPRESA 07-12-2026 10-30.FDB"});
  restore.SetBackupFile({kFbk});
  restore.ServiceStart();  // defaults: [CreateNewDB], page size 4096
  EXPECT_EQ(StartRequest(), Bytes({2}) + Number(108, 0x2000) + Number(10, 4096) + Text(5, kFbk) +
                                Text(106, "/dados/EMPRESA 07-12-2026 10-30.FDB"));
  restore.SetOptions(
      {TRestoreOption::OneRelationAtATime, TRestoreOption::Replace, TRestoreOption::CreateNewDB});
  restore.SetVerbose(true);
  restore.SetPageBuffers(3000);
  restore.ServiceStart();
  EXPECT_EQ(StartRequest(), Bytes({2}) + Number(108, 0x3800) + Bytes({107}) + Number(10, 4096) +
                                Number(9, 3000) + Text(5, kFbk) +
                                Text(106, "/dados/EMPRESA 07-12-2026 10-30.FDB"));

  TIBConfigService config;
  Prepare(config);
  config.SetDatabaseName(kDb);
  config.Attach();
  config.BringDatabaseOnline();
  EXPECT_EQ(StartRequest(), Bytes({8}) + Text(106, kDb) + Number(108, 0x0200));
}

TEST_F(ServiceFake, ReadOutputLineGivesEachLineThenOneEmptyText) {
  TIBBackupService backup;
  StartBackup(backup);
  Fake().serviceLines = {"gbak:    writing data for table CLIENTES ",
                         "gbak:closing file, committing, and finishing. 244224 bytes written "};
  std::vector<std::string> lines;
  while (!backup.AtEnd()) {
    lines.push_back(backup.ReadOutputLine());
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "gbak:    writing data for table CLIENTES ",
                       "gbak:closing file, committing, and finishing. 244224 bytes written ", ""}));
  // At the end no further query is made.
  EXPECT_EQ(backup.ReadOutputLine(), "");
  const auto queries = Fake().CallsTo("isc_service_query");
  ASSERT_EQ(queries.size(), 3u);
  // Only the line item, no time-out, the whole default buffer.
  EXPECT_EQ(queries[0].args[1], "");
  EXPECT_EQ(queries[0].args[2], Bytes({62}));
  EXPECT_EQ(queries[0].args[3], "32000");

  // A new start reads again; a new buffer size reaches the query.
  backup.SetBufferSize(1024);
  backup.ServiceStart();
  EXPECT_FALSE(backup.AtEnd());
  EXPECT_EQ(backup.ReadOutputLine(), "");
  EXPECT_TRUE(backup.AtEnd());
  EXPECT_EQ(Fake().CallsTo("isc_service_query").back().args[3], "1024");
}

TEST_F(ServiceFake, MalformedAnswerFailsAndLeavesAtEndFalse) {
  TIBValidationService service;
  Prepare(service);
  service.SetDatabaseName(kDb);
  service.Attach();
  service.ServiceStart();
  for (const std::string& answer :
       {Bytes({63, 0, 0, 1}), Bytes({62, 1, 0, 'x', 2}), Bytes({62, 0, 0, 0})}) {
    Fake().isc_service_query = [answer](ISC_STATUS* status, isc_svc_handle*, isc_resv_handle*,
                                        unsigned short, const ISC_SCHAR*, unsigned short,
                                        const ISC_SCHAR*, unsigned short length,
                                        ISC_SCHAR* buffer) -> ISC_STATUS {
      std::fill(buffer, buffer + length, 0);
      std::copy(answer.begin(), answer.end(), buffer);
      return Fake().Ok(status);
    };
    ExpectClientError([&] { service.ReadOutputLine(); }, 95,
                      "Emissão inesterada de valor no buffer");
    EXPECT_FALSE(service.AtEnd());
  }
}

// True when isc_service_detach was called after the last call of `function`.
bool DetachedAfter(const std::string& function) {
  const auto names = Fake().Names();
  const auto last = std::find(names.rbegin(), names.rend(), function);
  return last != names.rend() && std::find(names.rbegin(), last, "isc_service_detach") != last;
}

TEST_F(ServiceFake, FailedStartOrQueryDetachesAndRaisesTheServersText) {
  TIBValidationService service;
  Prepare(service);
  service.SetDatabaseName(kDb);
  service.SetOptions({TValidateOption::ValidateDB, TValidateOption::ValidateFull});
  service.Attach();
  Fake().FailOn("isc_service_start",
                {{335740952, 335740953},
                 {"Summary of validation errors", "\tNumber of data page errors\t: 1."},
                 -999});
  const auto failure = ServerFailure([&] { service.ServiceStart(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(std::string(failure->what()),
            "Summary of validation errors\r\n\tNumber of data page errors\t: 1");
  EXPECT_EQ(failure->EngineCode(), 335740952L);
  // The server's attachment is released, not just forgotten.
  EXPECT_FALSE(service.Active());
  EXPECT_TRUE(DetachedAfter("isc_service_start"));
  ExpectClientError([&] { service.Detach(); }, 90, kIdle);

  // The same for a failed read; the object may attach again afterwards.
  service.Attach();
  service.ServiceStart();
  Fake().FailOn("isc_service_query",
                {{335544344}, {"database file appears corrupt (/dados/EMPRESA.FDB)"}, -902});
  EXPECT_THROW(service.ReadOutputLine(), EIBInterBaseError);
  EXPECT_FALSE(service.Active());
  EXPECT_TRUE(DetachedAfter("isc_service_query"));
}

TEST_F(ServiceFake, FailedStartOrQueryKeepsItsTextWhenTheDetachFailsToo) {
  TIBValidationService service;
  Prepare(service);
  service.SetDatabaseName(kDb);
  service.SetOptions({TValidateOption::MendDB});
  service.Attach();
  Fake().FailOn("isc_service_start", {{335740952}, {"Summary of validation errors"}, -999});
  Fake().FailOn("isc_service_detach", {{335544559}, {"invalid service handle"}, -902});
  const auto failure = ServerFailure([&] { service.ServiceStart(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(std::string(failure->what()), "Summary of validation errors");
  EXPECT_EQ(failure->SqlCode(), -999);
  EXPECT_FALSE(service.Active());

  service.Attach();
  service.ServiceStart();
  Fake().FailOn("isc_service_query", {{335544344}, {"I/O error."}, -902});
  Fake().FailOn("isc_service_detach", {{335544559}, {"invalid service handle"}, -904});
  const auto readFailure = ServerFailure([&] { service.ReadOutputLine(); });
  ASSERT_TRUE(readFailure);
  EXPECT_EQ(std::string(readFailure->what()), "I/O error");
  EXPECT_EQ(readFailure->SqlCode(), -902);
  EXPECT_FALSE(service.Active());
}

// Measured on 3.0.11: the server reports an action's failure on the query
// that waits when the action ends, with a line in its buffer, and hands out
// the lines still queued on the next queries. A backup's retry needs them all
// (the last "writing data for table" line names the table to leave out).
TEST_F(ServiceFake, FailureInTheMiddleOfTheOutputIsRaisedAfterTheQueuedLines) {
  TIBBackupService backup;
  StartBackup(backup);
  struct Answer {
    std::string line;
    bool fails;
  };
  std::deque<Answer> answers = {{"gbak:    writing domain RDB$4 ", false},
                                {"gbak:writing shadow files ", true},
                                {"gbak:    writing data for table T ", false},
                                {"", false}};
  Fake().isc_service_query = [&answers](ISC_STATUS* status, isc_svc_handle*, isc_resv_handle*,
                                        unsigned short, const ISC_SCHAR*, unsigned short,
                                        const ISC_SCHAR*, unsigned short,
                                        ISC_SCHAR* buffer) -> ISC_STATUS {
    const Answer answer = answers.front();
    answers.pop_front();
    buffer[0] = 62;
    buffer[1] = static_cast<char>(answer.line.size());
    buffer[2] = 0;
    std::copy(answer.line.begin(), answer.line.end(), buffer + 3);
    buffer[3 + answer.line.size()] = 1;
    return answer.fails
               ? Fake().Fail(status, {{335544344}, {"File size is less than expected"}, -902})
               : Fake().Ok(status);
  };
  std::vector<std::string> lines;
  const auto failure = ServerFailure([&] {
    while (!backup.AtEnd()) {
      lines.push_back(backup.ReadOutputLine());
    }
  });
  ASSERT_TRUE(failure);
  EXPECT_EQ(std::string(failure->what()), "File size is less than expected");
  EXPECT_EQ(lines, (std::vector<std::string>{"gbak:    writing domain RDB$4 ",
                                             "gbak:writing shadow files ",
                                             "gbak:    writing data for table T "}));
  EXPECT_FALSE(backup.Active());
  EXPECT_TRUE(DetachedAfter("isc_service_query"));

  // A failure that brings nothing, then another: the attachment is gone, and
  // the first failure is raised without a third query.
  Fake().isc_service_query = nullptr;
  backup.Attach();
  backup.ServiceStart();
  const std::size_t queriesBefore = Fake().CallsTo("isc_service_query").size();
  Fake().FailOn("isc_service_query", {{335544344}, {"I/O error"}, -902});
  Fake().FailOn("isc_service_query", {{335544721}, {"Unable to complete network request"}, -902});
  const auto gone = ServerFailure([&] { backup.ReadOutputLine(); });
  ASSERT_TRUE(gone);
  EXPECT_EQ(std::string(gone->what()), "I/O error");
  EXPECT_EQ(Fake().CallsTo("isc_service_query").size(), queriesBefore + 2);
  EXPECT_FALSE(backup.Active());
}

TEST_F(ServiceFake, FailedAttachOrDetachAndDestructionWhileAttached) {
  Fake().FailOn("isc_service_attach", {{335544472},
                                       {"Your user name and password are not defined. Ask your "
                                        "database administrator to set up a Firebird login."},
                                       -902});
  TIBRestoreService restore;
  Prepare(restore);
  const auto failure = ServerFailure([&] { restore.Attach(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(std::string(failure->what()),
            "Your user name and password are not defined. Ask your database administrator to "
            "set up a Firebird login");
  EXPECT_FALSE(restore.Active());

  restore.Attach();
  Fake().FailOn("isc_service_detach", {{335544559}, {"invalid service handle"}, -902});
  EXPECT_THROW(restore.Detach(), EIBInterBaseError);
  EXPECT_FALSE(restore.Active());

  Fake().Reset();
  {
    TIBConfigService config;
    Prepare(config);
    config.Attach();
  }
  EXPECT_EQ(Fake().Names(), (std::vector<std::string>{"isc_service_attach", "isc_service_detach"}));
}

// Binding happens once per process, so these run in a fresh one each (death
// test in threadsafe style) and exit 0 when the check holds.
TEST(ServiceBindingDeathTest, MissingLibraryAndClientWithoutServiceFunctions) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto check = [](const std::string& library, int index, const std::string& message) {
    ClientLibrary::UseLibraryFile(library);
    try {
      TIBValidationService service;
      Prepare(service);
      service.Attach();
    } catch (const EIBClientError& error) {
      std::exit(error.SqlCode() == index && message == error.what() ? 0 : 1);
    }
    std::exit(2);
  };
  const std::string fake = FAKE_CLIENT_LIBRARY;
  const std::string missing = "/nonexistent/libfbclient.so.2";
  EXPECT_EXIT(check(missing, 1,
                    "Biblioteca " + missing +
                        " não encontrada. Por favor instale InterBase para usar esta "
                        "funcionalidade"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(check(fake.substr(0, fake.rfind('/') + 1) + "libfakefbclient5.so", 3,
                    "isc_service_attach é uma função do InterBase 6. Por favor instale o "
                    "InterBase 6 para poder usa-la"),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
