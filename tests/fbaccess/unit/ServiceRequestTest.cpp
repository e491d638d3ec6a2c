// The byte layouts sent to and read from the service manager: parameter
// block, start requests and the output answer.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "ServiceBytes.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/detail/ServiceBuffers.h"

namespace {

using namespace fbdetail;

const std::string kDb = "/dados/EMPRESA.FDB";
const std::string kFbk = "/dados/EMPRESA 07-12-2026 10-30.fbk";

TEST(ServiceParams, SystemAccountAndParameterLines) {
  EXPECT_EQ(BuildServiceParams({"user_name=sysdba", "password=lumenrock"}),
            Bytes({2, 2, 28, 6}) + "sysdba" + Bytes({29, 9}) + "lumenrock");
  // Blank names are skipped, the prefix and capitals are accepted, the value
  // keeps everything after the first "=".
  EXPECT_EQ(BuildServiceParams({"", "  =x", "ISC_SPB_User_Name=a=b", "password="}),
            Bytes({2, 2, 28, 3}) + "a=b" + Bytes({29, 0}));
  EXPECT_EQ(BuildServiceParams({}), Bytes({2, 2}));
}

TEST(ServiceParams, RefusedNames) {
  // A blank before "=" stays in the key, which is then unknown.
  ExpectClientError([] { BuildServiceParams({"user_name =sysdba"}); }, 89,
                    "SPB Constant Desconhecida");
  ExpectClientError([] { BuildServiceParams({"lc_ctype=WIN1252"}); }, 89,
                    "SPB Constant Desconhecida");
  for (const char* name :
       {"sys_user_name", "sys_user_name_enc", "password_enc", "command_line", "db_name", "verbose",
        "options", "connect_timeout", "dummy_packet_interval"}) {
    ExpectClientError([name] { BuildServiceParams({std::string(name) + "=1"}); }, 88,
                      "SPB Constant não suportado");
  }
  // The role travels like the user name (item 60).
  EXPECT_EQ(BuildServiceParams({"sql_role_name=RDB$ADMIN"}),
            std::string("\x02\x02\x3c\x09RDB$ADMIN", 13));
  // A value whose length does not fit its length byte is refused, not cut.
  ExpectClientError([] { BuildServiceParams({"password=" + std::string(256, 'x')}); }, 88,
                    "SPB Constant não suportado");
}

TEST(RepairRequest, ValidationMendAndEmptySet) {
  const std::string head = Bytes({3}) + Text(106, kDb);
  EXPECT_EQ(BuildRepairRequest(kDb, {TValidateOption::ValidateDB, TValidateOption::ValidateFull}),
            head + Number(108, 0x01) + Number(108, 0x81));
  EXPECT_EQ(BuildRepairRequest(kDb, {TValidateOption::MendDB}), head + Number(108, 0x04));
  EXPECT_EQ(BuildRepairRequest(kDb, {}), head);
  // With MendDB present the full flag goes without the validate bit.
  EXPECT_EQ(BuildRepairRequest(kDb, {TValidateOption::MendDB, TValidateOption::ValidateFull,
                                     TValidateOption::SweepDB}),
            head + Number(108, 0x02) + Number(108, 0x84));
  EXPECT_EQ(
      BuildRepairRequest(kDb, {TValidateOption::LimboTransactions, TValidateOption::CheckDB,
                               TValidateOption::IgnoreChecksum, TValidateOption::KillShadows}),
      head + Number(108, 0x78));
  ExpectClientError([] { BuildRepairRequest("", {TValidateOption::ValidateDB}); }, 94,
                    "Paramêtros iniciais não encontrados ou incorretos");
}

TEST(BackupRequest, SystemOptionsEmptySetAndFileLines) {
  EXPECT_EQ(
      BuildBackupRequest(kDb, {kFbk}, {TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable},
                         true, 0),
      Bytes({1}) + Text(106, kDb) + Number(108, 0x22) + Bytes({107}) + Text(5, kFbk));
  // Database triggers off is the server's bit 0x8000, not the next in order.
  EXPECT_EQ(BuildBackupRequest(kDb, {kFbk},
                               {TBackupOption::IgnoreLimbo, TBackupOption::NoDatabaseTriggers},
                               false, 0),
            Bytes({1}) + Text(106, kDb) + Number(108, 0x8002) + Text(5, kFbk));
  // The options item goes also for an empty set; blank lines are skipped, a
  // line with "=" splits into name and length, any other is taken whole.
  EXPECT_EQ(BuildBackupRequest(kDb, {"", "   ", "/b/one.fbk=2048", " /b/two.fbk "}, {}, false, 8),
            Bytes({1}) + Text(106, kDb) + Number(108, 0) + Number(6, 8) + Text(5, "/b/one.fbk") +
                Number(7, 2048) + Text(5, " /b/two.fbk "));
  ExpectClientError([] { BuildBackupRequest("", {kFbk}, {}, false, 0); }, 94,
                    "Paramêtros iniciais não encontrados ou incorretos");
  ExpectClientError([] { BuildBackupRequest(kDb, {"/b/one.fbk=lots"}, {}, false, 0); }, 94,
                    "Paramêtros iniciais não encontrados ou incorretos");
}

TEST(RestoreRequest, SystemOptionsDefaultSetAndFileLines) {
  const std::string restored = "/dados/EMPRESA 07-12-2026 10-30.FDB";
  EXPECT_EQ(BuildRestoreRequest({restored}, {kFbk},
                                {TRestoreOption::OneRelationAtATime, TRestoreOption::Replace,
                                 TRestoreOption::CreateNewDB},
                                true, 4096, 3000),
            Bytes({2}) + Number(108, 0x3800) + Bytes({107}) + Number(10, 4096) + Number(9, 3000) +
                Text(5, kFbk) + Text(106, restored));
  EXPECT_EQ(BuildRestoreRequest({"", "/d/a.fdb=5000", "/d/b.fdb "}, {"/b/x.fbk=100", ""},
                                {TRestoreOption::CreateNewDB}, false, 0, 0),
            Bytes({2}) + Number(108, 0x2000) + Text(5, "/b/x.fbk") + Number(7, 100) +
                Text(106, "/d/a.fdb") + Number(11, 5000) + Text(106, "/d/b.fdb "));
  // No check for a missing database: the server answers for it.
  EXPECT_EQ(BuildRestoreRequest({}, {}, {}, false, 0, 0), Bytes({2}) + Number(108, 0));
}

TEST(OnlineRequest, PathAndOnlineFlag) {
  EXPECT_EQ(BuildOnlineRequest(kDb), Bytes({8}) + Text(106, kDb) + Number(108, 0x0200));
  ExpectClientError([] { BuildOnlineRequest(""); }, 94,
                    "Paramêtros iniciais não encontrados ou incorretos");
}

TEST(TextItem, LongTextLengthAndEmptyText) {
  std::string request;
  AppendTextItem(request, 106, std::string(300, 'a'));
  EXPECT_EQ(request.substr(0, 3), Bytes({106, 300 & 0xFF, 1}));
  EXPECT_EQ(request.size(), 303u);
  AppendTextItem(request, 5, "");
  EXPECT_EQ(request.size(), 303u);
}

TEST(OutputAnswer, LineEndAndMalformed) {
  std::string line = "stale";
  std::string answer = Bytes({62, 5, 0}) + "gbak:" + Bytes({1}) + std::string(20, 'x');
  EXPECT_EQ(ParseOutputLine(answer.data(), answer.size(), line), OutputAnswer::Line);
  EXPECT_EQ(line, "gbak:");

  answer = Bytes({62, 4, 0}) + std::string("ab\0c", 4) + Bytes({1});
  EXPECT_EQ(ParseOutputLine(answer.data(), answer.size(), line), OutputAnswer::Line);
  EXPECT_EQ(line, "ab");

  answer = Bytes({62, 0, 0, 1});
  EXPECT_EQ(ParseOutputLine(answer.data(), answer.size(), line), OutputAnswer::End);
  EXPECT_EQ(line, "");

  for (const std::string& bad :
       {Bytes({63, 0, 0, 1}), Bytes({62, 1, 0, 'a', 2}), Bytes({62, 2, 0, 'a', 1}),
        Bytes({62, 0, 0x80, 1}), Bytes({62, 0}), Bytes({2, 0, 0, 1})}) {
    EXPECT_EQ(ParseOutputLine(bad.data(), bad.size(), line), OutputAnswer::Malformed);
  }
}

}  // namespace
