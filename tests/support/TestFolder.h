#pragma once

#include <string>

namespace testsupport {

// A fresh folder under /tmp owned by user `firebird`, so the server (which runs
// as that user) can create databases and backups in it. It is removed with all
// its content when the object goes away, unless the environment variable
// TESSARINE_KEEP_TEST_FOLDERS is set (then its path is printed, for debugging).
class TestFolder {
 public:
  explicit TestFolder(const std::string& prefix = "tessarine-test");
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Path of a file in the folder ("name" only, no separators).
  std::string File(const std::string& name) const;

  // Gives a file or folder made by the test to user `firebird`, so the server
  // may overwrite or delete it. Throws when that fails.
  static void GiveToServer(const std::string& path);

 private:
  std::string path_;
};

}  // namespace testsupport
