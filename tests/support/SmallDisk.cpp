#include "support/SmallDisk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace testsupport {

SmallDisk::SmallDisk(std::string folder, std::uint64_t bytes) : folder_(std::move(folder)) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  const std::string options = "size=" + std::to_string((bytes + 1023) / 1024) + "k,mode=0777";
  if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    refusal_ = "mount -t tmpfs -o " + options + " tmpfs " + folder_ + ": " + std::strerror(errno);
    return;
  }
  mounted_ = true;
  ::chmod(folder_.c_str(), 0777);
}

SmallDisk::~SmallDisk() {
  if (!mounted_) {
    return;
  }
  // The server lets go of a file as soon as its last attachment ends; a
  // lazy unmount still frees the folder should it be slower.
  if (::umount(folder_.c_str()) != 0) {
    ::umount2(folder_.c_str(), MNT_DETACH);
  }
}

std::uint64_t SmallDisk::FreeBytes() const {
  struct statvfs info {};
  if (::statvfs(folder_.c_str(), &info) != 0) {
    throw std::runtime_error("statvfs " + folder_ + ": " + std::strerror(errno));
  }
  return std::uint64_t(info.f_bavail) * info.f_frsize;
}

void SmallDisk::FillLeaving(std::uint64_t bytes, const std::string& name) const {
  const std::string path = File(name);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw std::runtime_error("open " + path + ": " + std::strerror(errno));
  }
  const std::vector<char> block(64 * 1024, 'x');
  while (FreeBytes() > bytes) {
    const std::uint64_t wanted = std::min<std::uint64_t>(block.size(), FreeBytes() - bytes);
    if (::write(fd, block.data(), wanted) <= 0) {
      break;  // full already
    }
  }
  ::close(fd);
}

}  // namespace testsupport
