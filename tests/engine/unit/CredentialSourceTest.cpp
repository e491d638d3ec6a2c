// Where a run's login comes from: the Debian account file, the password file
// and the order of the sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "engine/firebird/TCredentialSource.h"

namespace {

namespace fs = std::filesystem;

TCredentialSource::Environment Environment(std::map<std::string, std::string> values) {
  return [values](const char* name) -> std::optional<std::string> {
    const auto found = values.find(name);
    if (found == values.end()) {
      return std::nullopt;
    }
    return found->second;
  };
}

class CredentialSource : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("tessarine-credsrc-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  fs::path folder_;
};

TEST(DebianFile, ReadsTheAccountInEveryQuotingAndIgnoresTheRest) {
  const auto debian = TCredentialSource::ParseDebianFile(
      "# Password for firebird SYSDBA user\n#\n# ISC_PASSWORD=comment\n\nISC_USER=sysdba\n"
      "ISC_PASSWORD=\"pass word\"\n");
  ASSERT_TRUE(debian);
  EXPECT_EQ(debian->User(), "sysdba");
  EXPECT_EQ(debian->Password(), "pass word");

  const auto single =
      TCredentialSource::ParseDebianFile("ISC_USER='ADMIN'\r\nISC_PASSWORD='a\"b'\r\n");
  ASSERT_TRUE(single);
  EXPECT_EQ(single->User(), "ADMIN");
  EXPECT_EQ(single->Password(), "a\"b");

  // Unquoted, exported, no user line, no final line break; unmatched quotes stay.
  const auto bare = TCredentialSource::ParseDebianFile("export ISC_PASSWORD=\"x'");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->User(), "sysdba");
  EXPECT_EQ(bare->Password(), "\"x'");

  EXPECT_FALSE(TCredentialSource::ParseDebianFile("ISC_USER=sysdba\n"));
  EXPECT_FALSE(TCredentialSource::ParseDebianFile("ISC_USER=sysdba\nISC_PASSWORD=\"\"\n"));
  EXPECT_FALSE(TCredentialSource::ParseDebianFile(""));
}

TEST_F(CredentialSource, PasswordFileGivesItsFirstLineOrAClearError) {
  EXPECT_EQ(TCredentialSource::ReadPasswordFile(Write("a", "s3nha\r\nsecond line\n")), "s3nha");
  EXPECT_EQ(TCredentialSource::ReadPasswordFile(Write("b", " with blanks ")), " with blanks ");

  const std::string missing = (folder_ / "missing").string();
  try {
    TCredentialSource::ReadPasswordFile(missing);
    FAIL() << "a missing file was read";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "Não foi possível ler o arquivo de senha \"" + missing +
                                             "\": No such file or directory.");
  }
  EXPECT_THROW(TCredentialSource::ReadPasswordFile(Write("empty", "\nsecond\n")),
               std::runtime_error);
  // A bad file named on the command line is an error, never a fall-back.
  EXPECT_THROW(TCredentialSource::Resolve("sysdba", missing, Environment({}), missing),
               std::runtime_error);
}

TEST_F(CredentialSource, FirstSourceWithAPasswordWins) {
  const std::string file = Write("senha", "from-file\n");
  const std::string debian =
      Write("SYSDBA.password", "ISC_USER=sysdba\nISC_PASSWORD=from-debian\n");
  const std::string none = (folder_ / "none").string();
  const auto env = Environment({{"ISC_USER", "envuser"}, {"ISC_PASSWORD", "from-env"}});

  TCredentials found = TCredentialSource::Resolve("cliuser", file, env, debian);
  EXPECT_EQ(found.User(), "cliuser");
  EXPECT_EQ(found.Password(), "from-file");
  EXPECT_EQ(found.Source(), "arquivo de senha " + file);

  // A password file without --user: the user of ISC_USER, else sysdba.
  EXPECT_EQ(TCredentialSource::Resolve(std::nullopt, file, env, debian).User(), "envuser");
  EXPECT_EQ(TCredentialSource::Resolve(std::nullopt, file, Environment({}), debian).User(),
            "sysdba");

  found = TCredentialSource::Resolve(std::nullopt, std::nullopt, env, debian);
  EXPECT_EQ(found.User(), "envuser");
  EXPECT_EQ(found.Password(), "from-env");
  EXPECT_EQ(found.Source(), "ISC_USER/ISC_PASSWORD");

  found = TCredentialSource::Resolve(std::nullopt, std::nullopt, Environment({}), debian);
  EXPECT_EQ(found.Password(), "from-debian");
  EXPECT_EQ(found.Source(), debian);

  found = TCredentialSource::Resolve(std::nullopt, std::nullopt, Environment({}), none);
  EXPECT_EQ(found.Password(), TCredentials::BuiltIn().Password());
  EXPECT_EQ(found.Source(), TCredentials::BuiltIn().Source());

  // Empty variables count as unset.
  found = TCredentialSource::Resolve(std::nullopt, std::nullopt,
                                     Environment({{"ISC_USER", ""}, {"ISC_PASSWORD", ""}}), debian);
  EXPECT_EQ(found.Source(), debian);
}

TEST_F(CredentialSource, NamedUserTakesOnlyPasswordsThatAreItsOwn) {
  const std::string debian =
      Write("SYSDBA.password", "ISC_USER=sysdba\nISC_PASSWORD=from-debian\n");
  const std::string none = (folder_ / "none").string();

  // ISC_PASSWORD goes with whichever user is named, as in Firebird's tools.
  EXPECT_EQ(TCredentialSource::Resolve("Operador", std::nullopt,
                                       Environment({{"ISC_PASSWORD", "from-env"}}), debian)
                .Password(),
            "from-env");
  // The Debian file and the built-in account speak for sysdba alone, in any case.
  EXPECT_EQ(TCredentialSource::Resolve("SYSDBA", std::nullopt, Environment({}), debian).Password(),
            "from-debian");
  EXPECT_EQ(TCredentialSource::Resolve("SysDba", std::nullopt, Environment({}), none).Password(),
            TCredentials::BuiltIn().Password());
  // Another user without a password source: an empty one, which the server
  // refuses so that the front end asks.
  for (const std::string& source : {debian, none}) {
    const TCredentials found =
        TCredentialSource::Resolve("operador", std::nullopt, Environment({}), source);
    EXPECT_EQ(found.User(), "operador");
    EXPECT_EQ(found.Password(), "");
  }
  const TCredentials fromEnvUser = TCredentialSource::Resolve(
      std::nullopt, std::nullopt, Environment({{"ISC_USER", "operador"}}), debian);
  EXPECT_EQ(fromEnvUser.User(), "operador");
  EXPECT_EQ(fromEnvUser.Password(), "");
}

TEST_F(CredentialSource, RoleComesFromIscRoleWhateverTheSource) {
  const std::string none = (folder_ / "none").string();
  const TCredentials withRole = TCredentialSource::Resolve(
      std::nullopt, std::nullopt, Environment({{"ISC_ROLE", "RDB$ADMIN"}}), none);
  EXPECT_EQ(withRole.Role(), "RDB$ADMIN");
  EXPECT_EQ(withRole.Password(), TCredentials::BuiltIn().Password());
  EXPECT_EQ(TCredentialSource::Resolve(std::nullopt, std::nullopt, Environment({}), none).Role(),
            "");
}

}  // namespace
