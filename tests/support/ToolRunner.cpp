#include "support/ToolRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

// Both ends of a pipe, closed when it goes out of scope.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_.data(), O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int Read() const { return fds_[0]; }
  int Write() const { return fds_[1]; }
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
  std::array<int, 2> fds_{-1, -1};
};

}  // namespace

ToolResult ToolRunner::Run(const std::vector<std::string>& argv, const std::string& input) {
  if (argv.empty()) {
    throw std::invalid_argument("ToolRunner::Run: no program");
  }
  Pipe in;
  Pipe out;
  Pipe err;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.Read(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.Write(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.Write(), STDERR_FILENO);

  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(spawned));
  }
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();

  // A child that stops reading its stdin must not kill us with SIGPIPE; the
  // write then fails with EPIPE and the rest of the input is dropped.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);

  ToolResult result;
  size_t written = 0;
  if (input.empty()) {
    in.CloseWrite();
  } else {
    // Non-blocking, so a write takes only what the pipe holds and the loop
    // keeps draining the child's output meanwhile (no deadlock on big input).
    fcntl(in.Write(), F_SETFL, fcntl(in.Write(), F_GETFL) | O_NONBLOCK);
  }
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    const int inIndex = in.Write() >= 0 ? static_cast<int>(count) : -1;
    if (inIndex >= 0)
      fds[count++] = {in.Write(), POLLOUT, 0};
    const int outIndex = outOpen ? static_cast<int>(count) : -1;
    if (outOpen)
      fds[count++] = {out.Read(), POLLIN, 0};
    const int errIndex = errOpen ? static_cast<int>(count) : -1;
    if (errOpen)
      fds[count++] = {err.Read(), POLLIN, 0};
    if (poll(fds.data(), count, -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (inIndex >= 0 && fds[inIndex].revents != 0) {
      const ssize_t n = write(in.Write(), input.data() + written, input.size() - written);
      if (n > 0)
        written += static_cast<size_t>(n);
      if (n < 0 || written == input.size())
        in.CloseWrite();
    }
    const auto drain = [&](int index, int fd, std::string& stream, bool& open) {
      if (index < 0 || fds[index].revents == 0)
        return;
      std::array<char, 4096> buffer{};
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n > 0) {
        stream.append(buffer.data(), static_cast<size_t>(n));
        result.output.append(buffer.data(), static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        open = false;
      }
    };
    drain(outIndex, out.Read(), result.out, outOpen);
    drain(errIndex, err.Read(), result.err, errOpen);
  }
  in.CloseWrite();
  sigaction(SIGPIPE, &previous, nullptr);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace testsupport
