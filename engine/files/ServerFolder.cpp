#include "engine/files/ServerFolder.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

namespace {

// Debian's Firebird 3 server runs as this user.
constexpr char kServerUser[] = "firebird";

bool InGroup(const passwd& user, gid_t group) {
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
      return false;
    }
  }
  groups.resize(static_cast<std::size_t>(count));
  for (const gid_t member : groups) {
    if (member == group) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string ServerCannotWriteIn(const std::string& folder) {
  struct statvfs volume {};
  if (::statvfs(folder.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
    return "O disco da pasta \"" + folder +
           "\" está montado somente para leitura: nenhum arquivo pode ser criado nela. Copie o "
           "banco de dados para um disco gravável e repare a cópia.";
  }
  struct stat info {};
  passwd entry{};
  passwd* user = nullptr;
  std::vector<char> buffer(4096);
  if (::stat(folder.c_str(), &info) != 0 ||
      getpwnam_r(kServerUser, &entry, buffer.data(), buffer.size(), &user) != 0 ||
      user == nullptr || user->pw_uid == 0) {
    return {};
  }
  mode_t needed = S_IWOTH | S_IXOTH;
  if (info.st_uid == user->pw_uid) {
    needed = S_IWUSR | S_IXUSR;
  } else if (InGroup(*user, info.st_gid)) {
    needed = S_IWGRP | S_IXGRP;
  }
  if ((info.st_mode & needed) == needed) {
    return {};
  }
  return "O servidor Firebird, que roda como o usuário \"" + std::string(kServerUser) +
         "\", não pode criar arquivos na pasta \"" + folder +
         "\", onde ficam o backup e o banco restaurado. Nada foi validado nem alterado.\rDê a "
         "ele permissão de escrita na pasta, por exemplo:\rchown " +
         kServerUser + ":" + kServerUser + " \"" + folder + "\"   (ou: chmod o+rwx \"" + folder +
         "\")";
}
