#pragma once

#include <string>

// A new file made from a mkstemp pattern ("<final name>.XXXXXX", so that it
// lies beside the name it will take), removed again unless kept: a failed
// write never leaves a half-written file behind, and a file is only ever
// created, never replaced.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(std::string pattern);
  ~TTemporaryFile();
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  // False when the file could not be made (errno tells why).
  bool Created() const { return made_; }
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // Closes now; false when the close failed (a write error of the file
  // system may show only here). The file is still removed unless kept.
  bool Close();
  // The file has taken its final name: it stays. Hands over the descriptor
  // when it is still open (-1 otherwise).
  int Keep();

 private:
  std::string path_;
  int fd_ = -1;
  bool made_ = false;
  bool kept_ = false;
};
