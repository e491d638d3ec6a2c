#pragma once

#include <functional>
#include <optional>
#include <string>

#include "engine/firebird/TCredentials.h"

// Finds the login of a run. The first source that gives a password wins:
//   1. a password file named on the command line (--password-file);
//   2. the environment variable ISC_PASSWORD;
//   3. Debian's /etc/firebird/3.0/SYSDBA.password, when readable;
//   4. the built-in account of the development server.
// The user is the one named on the command line (--user), else ISC_USER, else
// sysdba. Sources 3 and 4 each hold one account's password and count only
// when no user was named or the named user is theirs; a named user whose
// password no source holds gets an empty one, so the server refuses it and
// the front end asks. The environment variable ISC_ROLE, when set, gives the
// role of every login (RDB$ADMIN for an account that repairs databases it
// does not own).
class TCredentialSource {
 public:
  // The value of an environment variable, or nothing when it is not set.
  using Environment = std::function<std::optional<std::string>(const char* name)>;

  static constexpr const char* kDebianFile = "/etc/firebird/3.0/SYSDBA.password";

  // From the process environment and the Debian file. Throws
  // std::runtime_error when the password file cannot be read or is empty.
  static TCredentials Resolve(const std::optional<std::string>& cliUser,
                              const std::optional<std::string>& passwordFile);
  static TCredentials Resolve(const std::optional<std::string>& cliUser,
                              const std::optional<std::string>& passwordFile,
                              const Environment& environment, const std::string& debianFile);

  // The account in a file of ISC_USER=... and ISC_PASSWORD=... lines (values
  // optionally in single or double quotes; other lines ignored). Nothing when
  // it holds no password; the user defaults to sysdba.
  static std::optional<TCredentials> ParseDebianFile(const std::string& text);

  // The first line of a password file, without its line break.
  static std::string ReadPasswordFile(const std::string& path);

  static Environment ProcessEnvironment();
};
