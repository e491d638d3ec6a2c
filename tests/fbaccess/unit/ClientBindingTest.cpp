// Binding the client library: a missing file, a client without the version-6
// functions and a client that lacks a required function. Each case runs in a
// fresh process (death test in threadsafe style re-executes this program), as
// the binding happens once per process.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"

namespace {

std::string SiblingOfFake(const std::string& file) {
  std::string path = FAKE_CLIENT_LIBRARY;
  return path.substr(0, path.rfind('/') + 1) + file;
}

// Runs the check in the child and exits 0 when it holds; the child's stderr
// tells what went wrong otherwise.
template <typename F>
void ExitWithResult(F check) {
  bool ok = false;
  try {
    ok = check();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "unexpected exception: %s\n", error.what());
  }
  std::exit(ok ? 0 : 1);
}

bool ExpectClientError(int index, const std::string& message, const auto& call) {
  try {
    call();
  } catch (const EIBClientError& error) {
    if (error.SqlCode() == index && message == error.what()) {
      return true;
    }
    std::fprintf(stderr, "got %d '%s'\n", error.SqlCode(), error.what());
    return false;
  }
  std::fprintf(stderr, "no error for '%s'\n", message.c_str());
  return false;
}

class ClientBindingDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ClientBindingDeathTest, MissingLibraryNamesTheFileAndCanBeRetried) {
  EXPECT_EXIT(ExitWithResult([] {
                const std::string missing = "/nonexistent/libfbclient.so.2";
                ClientLibrary::UseLibraryFile(missing);
                const std::string message = "Biblioteca " + missing +
                                            " não encontrada. Por favor instale InterBase para "
                                            "usar esta funcionalidade";
                bool ok = ExpectClientError(1, message, [] { TIBDatabase database; });
                ok = ok && ExpectClientError(1, message, [] { TIBTransaction transaction; });
                ok = ok && !ClientLibrary::Bound();
                // Still unbound: a later construction tries again.
                ClientLibrary::UseLibraryFile(FAKE_CLIENT_LIBRARY);
                TIBDatabase database;
                return ok && ClientLibrary::Bound() && ClientLibrary::Version() == 6;
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(ClientBindingDeathTest, VersionFiveClientGetsSubstitutesThatRaise) {
  EXPECT_EXIT(ExitWithResult([] {
                ClientLibrary::UseLibraryFile(SiblingOfFake("libfakefbclient5.so"));
                TIBDatabase database;
                if (ClientLibrary::Version() != 5) {
                  std::fprintf(stderr, "version %d\n", ClientLibrary::Version());
                  return false;
                }
                const std::string tail =
                    " é uma função do InterBase 6. Por favor instale o InterBase 6 para poder "
                    "usa-la";
                const fbdetail::ClientApi& api = fbdetail::Api();
                ISC_STATUS* status = fbdetail::StatusVector();
                isc_svc_handle service = 0;
                bool ok = ExpectClientError(3, "isc_service_attach" + tail, [&] {
                  api.isc_service_attach(status, 0, "service_mgr", &service, 0, nullptr);
                });
                ok = ok && ExpectClientError(3, "isc_encode_sql_date" + tail, [&] {
                       ISC_DATE date = 0;
                       api.isc_encode_sql_date(nullptr, &date);
                     });
                // The version-5 functions still work; the retaining rollback does not.
                database.SetDatabaseName("localhost:/dados/x.fdb");
                database.Open();
                TIBTransaction transaction;
                transaction.SetDefaultDatabase(&database);
                transaction.Start();
                transaction.CommitRetaining();
                ok = ok && ExpectClientError(3, "isc_rollback_retaining" + tail,
                                             [&] { transaction.RollbackRetaining(); });
                return ok && transaction.Active();
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(ClientBindingDeathTest, ClientLackingARequiredFunctionStaysUnbound) {
  EXPECT_EXIT(ExitWithResult([] {
                ClientLibrary::UseLibraryFile(SiblingOfFake("libfakefbclientbroken.so"));
                for (int attempt = 0; attempt < 2; ++attempt) {
                  try {
                    TIBTransaction transaction;
                    std::fprintf(stderr, "bound an incomplete client\n");
                    return false;
                  } catch (const EIBClientError& error) {
                    if (std::string(error.what()).find("isc_drop_database") == std::string::npos) {
                      std::fprintf(stderr, "message '%s'\n", error.what());
                      return false;
                    }
                  }
                }
                return !ClientLibrary::Bound();
              }),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
