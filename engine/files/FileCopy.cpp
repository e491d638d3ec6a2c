#include "engine/files/FileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/files/SafeRename.h"
#include "engine/files/TReadOnlyFile.h"
#include "engine/files/TTemporaryFile.h"

namespace {

std::string SystemError(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

}  // namespace

void CopyWholeFile(const std::string& source, const std::string& target,
                   const std::function<void()>& checkCancel) {
  const TReadOnlyFile in(source);
  if (in.Get() < 0) {
    throw std::runtime_error(SystemError("Não foi possível abrir", source, errno));
  }
  struct stat sourceInfo {};
  if (::fstat(in.Get(), &sourceInfo) != 0) {
    throw std::runtime_error(SystemError("Não foi possível ler", source, errno));
  }

  TTemporaryFile partial(target + ".XXXXXX");
  if (!partial.Created()) {
    throw std::runtime_error(SystemError("Não foi possível criar", partial.Path(), errno));
  }
  ::fchmod(partial.Fd(), sourceInfo.st_mode & 07777);

  std::vector<char> buffer(1 << 20);
  off_t written = 0;
  for (;;) {
    // A cancel ends the copy here; the partial file goes with `partial`.
    checkCancel();
    const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error(SystemError("Não foi possível ler", source, errno));
    }
    if (got == 0)
      break;
    ssize_t done = 0;
    while (done < got) {
      const ssize_t put =
          ::write(partial.Fd(), buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR)
          continue;
        throw std::runtime_error(SystemError("Não foi possível gravar", partial.Path(), errno));
      }
      done += put;
    }
    written += got;
  }

  // The source's size at the end of the copy: the copy must have read it all.
  if (::fstat(in.Get(), &sourceInfo) != 0) {
    throw std::runtime_error(SystemError("Não foi possível ler", source, errno));
  }
  if (written != sourceInfo.st_size) {
    throw std::runtime_error("A cópia de \"" + source + "\" ficou com " + std::to_string(written) +
                             " bytes, mas o arquivo tem " + std::to_string(sourceInfo.st_size) +
                             " bytes.");
  }
  if (::fsync(partial.Fd()) != 0 || !partial.Close()) {
    throw std::runtime_error(SystemError("Não foi possível gravar", partial.Path(), errno));
  }
  const int error = RenameWithoutReplacing(partial.Path(), target);
  if (error != 0) {
    throw std::runtime_error(SystemError("Não foi possível renomear para", target, error));
  }
  partial.Keep();
}
