// The backup's and the restore's skip-data item: the pattern goes last, as a
// text item of code 8, and only when one is set. Also the other requests the
// run added: the single-user shutdown and the online validation.

#include <gtest/gtest.h>

#include <string>

#include "FakeClient.h"
#include "ServiceBytes.h"
#include "fbaccess/ClientLibrary.h"
#include "fbaccess/TIBBackupService.h"
#include "fbaccess/detail/ServiceBuffers.h"

namespace {

const std::string kDb = "/dados/EMPRESA.FDB";
const std::string kFbk = "/dados/EMPRESA.fbk";

TEST(BackupSkipData, StartRequestCarriesThePatternAfterTheFiles) {
  ASSERT_EQ(ClientLibrary::LibraryFile(), FAKE_CLIENT_LIBRARY);
  Fake().Reset();
  TIBBackupService backup;
  backup.SetServerName("localhost");
  backup.SetProtocol(TCP);
  backup.SetLoginPrompt(false);
  backup.AddParam("user_name=sysdba");
  backup.AddParam("password=lumenrock");
  backup.Attach();
  backup.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
  backup.SetVerbose(true);
  backup.SetDatabaseName(kDb);
  backup.SetBackupFile({kFbk});
  const std::string head =
      Bytes({1}) + Text(106, kDb) + Number(108, 0x22) + Bytes({107}) + Text(5, kFbk);

  backup.SetSkipData("CLIENTES|\"Nome\\_Livre\"");
  backup.ServiceStart();
  auto starts = Fake().CallsTo("isc_service_start");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts.back().args.at(1), head + Text(8, "CLIENTES|\"Nome\\_Livre\""));

  // Cleared again: the item is left out, not sent empty.
  backup.SetSkipData("");
  backup.ServiceStart();
  starts = Fake().CallsTo("isc_service_start");
  EXPECT_EQ(starts.back().args.at(1), head);
  EXPECT_EQ(fbdetail::BuildBackupRequest(kDb, {kFbk}, {}, false, 0, std::string(300, 'T')),
            Bytes({1}) + Text(106, kDb) + Number(108, 0) + Text(5, kFbk) +
                Text(8, std::string(300, 'T')));
}

TEST(BackupSkipData, RestoreShutdownAndOnlineValidationRequests) {
  const std::string restore = fbdetail::BuildRestoreRequest({kDb}, {kFbk}, {}, false, 0, 0);
  EXPECT_EQ(fbdetail::BuildRestoreRequest({kDb}, {kFbk}, {}, false, 0, 0, "%"),
            restore + Text(8, "%"));
  // isc_action_svc_properties: the mode a byte item, the wait a number.
  EXPECT_EQ(fbdetail::BuildShutdownRequest(kDb),
            Bytes({8}) + Text(106, kDb) + Bytes({44, 2}) + Number(41, 0));
  EXPECT_EQ(fbdetail::BuildOnlineValidationRequest(kDb), Bytes({30}) + Text(106, kDb));
}

}  // namespace
