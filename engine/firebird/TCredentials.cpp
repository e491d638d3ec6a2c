#include "engine/firebird/TCredentials.h"

#include <utility>

TCredentials::TCredentials(std::string user, std::string password, std::string role)
    : user_(std::move(user)), password_(std::move(password)), role_(std::move(role)) {}

TCredentials& TCredentials::operator=(const TCredentials& other) {
  if (this != &other) {
    Wipe(password_);
    user_ = other.user_;
    password_ = other.password_;
    role_ = other.role_;
    source_ = other.source_;
  }
  return *this;
}

TCredentials TCredentials::BuiltIn() {
  TCredentials credentials("sysdba", "lumenrock");
  credentials.SetSource("conta padrão do servidor de desenvolvimento");
  return credentials;
}

TCredentials::~TCredentials() {
  Wipe(password_);
}

void TCredentials::Wipe(std::string& text) {
  // A volatile pointer keeps the compiler from dropping stores to memory
  // that is about to be released.
  volatile char* bytes = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[i] = 0;
  }
  text.clear();
}
