#include "engine/firebird/TCredentialSource.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace {

constexpr char kDefaultUser[] = "sysdba";
// Far more than any password or account file; a bigger file is read only
// this far.
constexpr std::size_t kMaxFileSize = 64 * 1024;

// Owns the bytes read from a file and zeroes them when it goes away. The
// buffer is sized once, so no growth leaves an unwiped copy behind.
class FileText {
 public:
  FileText() : text_(kMaxFileSize, '\0') {}
  ~FileText() { TCredentials::Wipe(text_); }
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;

  // Errno of the failure, 0 when read.
  int Read(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
      return errno;
    }
    std::size_t used = 0;
    int failure = 0;
    while (used < text_.size()) {
      const ssize_t count = ::read(descriptor, text_.data() + used, text_.size() - used);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count < 0) {
        failure = errno;
        break;
      }
      if (count == 0) {
        break;
      }
      used += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    text_.resize(used);
    return failure;
  }

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

std::string_view Trimmed(std::string_view text) {
  const char* const blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A shell-style value: one pair of matching quotes around it is dropped.
std::string_view Unquoted(std::string_view value) {
  value = Trimmed(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Firebird compares unquoted user names without regard to case.
bool SameUser(const std::string& a, const std::string& b) {
  return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::optional<std::string> Value(const TCredentialSource::Environment& environment,
                                 const char* name) {
  std::optional<std::string> value = environment(name);
  if (value && value->empty()) {
    return std::nullopt;
  }
  return value;
}

TCredentials WithRole(TCredentials credentials, const std::optional<std::string>& role,
                      const std::string& source) {
  TCredentials result(credentials.User(), credentials.Password(), role.value_or(""));
  result.SetSource(role ? source + ", papel de ISC_ROLE" : source);
  return result;
}

}  // namespace

TCredentialSource::Environment TCredentialSource::ProcessEnvironment() {
  return [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) {
      return std::nullopt;
    }
    return std::string(value);
  };
}

TCredentials TCredentialSource::Resolve(const std::optional<std::string>& cliUser,
                                        const std::optional<std::string>& passwordFile) {
  return Resolve(cliUser, passwordFile, ProcessEnvironment(), kDebianFile);
}

TCredentials TCredentialSource::Resolve(const std::optional<std::string>& cliUser,
                                        const std::optional<std::string>& passwordFile,
                                        const Environment& environment,
                                        const std::string& debianFile) {
  const std::optional<std::string> role = Value(environment, "ISC_ROLE");
  std::optional<std::string> named = cliUser;
  std::string userOrigin = "--user";
  if (!named || named->empty()) {
    named = Value(environment, "ISC_USER");
    userOrigin = "ISC_USER";
  }
  const std::string user = named.value_or(kDefaultUser);

  if (passwordFile) {
    std::string password = ReadPasswordFile(*passwordFile);
    const TCredentials found(user, password);
    TCredentials::Wipe(password);
    return WithRole(found, role, "arquivo de senha " + *passwordFile);
  }
  if (std::optional<std::string> password = Value(environment, "ISC_PASSWORD")) {
    // Copied rather than moved: a short string's bytes would stay behind.
    const TCredentials found(user, *password);
    TCredentials::Wipe(*password);
    return WithRole(found, role, (named ? userOrigin : "sysdba") + "/ISC_PASSWORD");
  }
  FileText debian;
  if (debian.Read(debianFile) == 0) {
    const std::optional<TCredentials> account = ParseDebianFile(debian.Text());
    if (account && (!named || SameUser(*named, account->User()))) {
      return WithRole(*account, role, debianFile);
    }
  }
  const TCredentials builtIn = TCredentials::BuiltIn();
  if (!named || SameUser(*named, builtIn.User())) {
    return WithRole(builtIn, role, builtIn.Source());
  }
  // No source holds this user's password: the server refuses the empty one
  // and the front end asks for it.
  return WithRole(TCredentials(user, ""), role, userOrigin + ", sem senha");
}

std::optional<TCredentials> TCredentialSource::ParseDebianFile(const std::string& text) {
  std::string_view user = kDefaultUser;
  std::optional<std::string_view> password;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = Trimmed(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.starts_with("export ")) {
      line = Trimmed(line.substr(7));
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      continue;
    }
    const std::string_view name = Trimmed(line.substr(0, equals));
    const std::string_view value = Unquoted(line.substr(equals + 1));
    if (name == "ISC_USER" && !value.empty()) {
      user = value;
    } else if (name == "ISC_PASSWORD") {
      password = value;
    }
  }
  if (!password || password->empty()) {
    return std::nullopt;
  }
  std::string secret(*password);
  TCredentials account(std::string(user), secret);
  TCredentials::Wipe(secret);
  return account;
}

std::string TCredentialSource::ReadPasswordFile(const std::string& path) {
  FileText file;
  if (const int failure = file.Read(path); failure != 0) {
    throw std::runtime_error("Não foi possível ler o arquivo de senha \"" + path +
                             "\": " + std::strerror(failure) + ".");
  }
  const std::string& text = file.Text();
  std::size_t end = text.find('\n');
  if (end == std::string::npos) {
    end = text.size();
  }
  if (end > 0 && text[end - 1] == '\r') {
    --end;
  }
  if (end == 0) {
    throw std::runtime_error("O arquivo de senha \"" + path +
                             "\" não tem a senha na primeira linha.");
  }
  return text.substr(0, end);
}
