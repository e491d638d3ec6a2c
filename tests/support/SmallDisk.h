#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

// A small tmpfs mounted over an empty folder for as long as the object lives,
// so a test can make the server's writes run out of space. Mounting needs
// root (or CAP_SYS_ADMIN): where it is refused, Mounted() is false and
// Refusal() says why, for the test to skip with. The mount point is open to
// every user, the server's included.
class SmallDisk {
 public:
  SmallDisk(std::string folder, std::uint64_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Refusal() const { return refusal_; }
  const std::string& Path() const { return folder_; }
  std::string File(const std::string& name) const { return folder_ + "/" + name; }

  std::uint64_t FreeBytes() const;
  // Writes a file of the test's own until no more than `bytes` stay free.
  void FillLeaving(std::uint64_t bytes, const std::string& name = "ENCHIMENTO.BIN") const;

 private:
  std::string folder_;
  bool mounted_ = false;
  std::string refusal_;
};

}  // namespace testsupport
