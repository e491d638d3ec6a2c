#pragma once

#include <string>

// A user name and password for the server (and a role where one is needed).
// The password's bytes are overwritten when the object goes away, so that it
// does not linger in freed memory or a core dump longer than it must.
class TCredentials {
 public:
  TCredentials() = default;
  TCredentials(std::string user, std::string password, std::string role = {});
  TCredentials(const TCredentials& other) = default;
  TCredentials& operator=(const TCredentials& other);
  ~TCredentials();

  const std::string& User() const { return user_; }
  const std::string& Password() const { return password_; }
  const std::string& Role() const { return role_; }
  // Where they came from, for the log ("ISC_USER/ISC_PASSWORD", ...); never
  // the password itself.
  const std::string& Source() const { return source_; }
  void SetSource(std::string source) { source_ = std::move(source); }

  // The account of this repository's development server, used only when no
  // other credentials were found.
  static TCredentials BuiltIn();

  // Overwrites a string's characters with zeros before it is emptied.
  static void Wipe(std::string& text);

 private:
  std::string user_;
  std::string password_;
  std::string role_;
  std::string source_;
};
