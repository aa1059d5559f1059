#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <thread>

#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    std::string tok;
    bool quoted = false;
    while (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      if (s[i] == '"')
        quoted = !quoted;
      else
        tok.push_back(s[i]);
      ++i;
    }
    out.push_back(tok);
  }
  return out;
}

std::vector<std::string> HostArgv(std::string_view commandLine) {
  std::vector<std::string> parts = SplitCommandLine(commandLine);
  std::vector<std::string> argv;
  if (parts.empty()) return argv;
  std::string program =
      DriveC::isWindowsPath(parts[0]) ? DriveC::resolve(parts[0]).string() : toUtf8(parts[0]);
  std::string lower = program;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c += 32;
  if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".bat") == 0) argv.push_back("/bin/sh");
  argv.push_back(program);
  for (std::size_t i = 1; i < parts.size(); ++i)
    argv.push_back(DriveC::isWindowsPath(parts[i]) ? DriveC::resolve(parts[i]).string() : toUtf8(parts[i]));
  return argv;
}

namespace {

// The host argv of the command line, or nothing when its program is a path
// that does not exist.
std::vector<std::string> RunnableArgv(std::string_view commandLine) {
  std::vector<std::string> argv = HostArgv(commandLine);
  if (argv.empty()) return argv;
  const std::string& program = argv[0] == "/bin/sh" ? argv[1] : argv[0];
  std::error_code ec;
  if (program.find('/') != std::string::npos && !std::filesystem::exists(program, ec)) argv.clear();
  return argv;
}

void QuietStandardStreams() {
  int nul = open("/dev/null", O_RDWR);
  if (nul >= 0) {
    dup2(nul, 0);
    dup2(nul, 1);
    dup2(nul, 2);
    if (nul > 2) close(nul);
  }
}

// The read end of a waited process's standard error. Keeps the first
// kErrorOutputLimit bytes and drops the rest, reading as long as the process
// writes so that it never blocks on a full pipe.
class ErrorOutput {
 public:
  explicit ErrorOutput(int fd) : fd_(fd) { fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK); }
  ~ErrorOutput() { close(fd_); }
  ErrorOutput(const ErrorOutput&) = delete;
  ErrorOutput& operator=(const ErrorOutput&) = delete;

  // Waits at most `interval` for something to read, and reads it.
  void wait(std::chrono::milliseconds interval) {
    if (ended_) {
      std::this_thread::sleep_for(interval);
      return;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(interval.count())) > 0) readAvailable();
  }

  // Reads what is there now. What the process started may still hold the
  // pipe open after it ended: this does not wait for the end of the stream,
  // and stops after a bounded number of reads against an endless writer.
  void readAvailable() {
    char buffer[4096];
    for (int reads = 0; !ended_ && reads < 64; ++reads) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;  // nothing more for now
      if (n == 0) {
        ended_ = true;
        return;
      }
      const std::size_t room = kErrorOutputLimit - std::min(kept_.size(), kErrorOutputLimit);
      kept_.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    }
  }

  std::string kept() && { return std::move(kept_); }

 private:
  int fd_;
  bool ended_ = false;
  std::string kept_;
};

}  // namespace

bool StartProcess(std::string_view commandLine) {
  std::vector<std::string> argv = RunnableArgv(commandLine);
  if (argv.empty()) return false;

  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // First child: new session, then a grandchild that the init process adopts,
    // so the caller never waits for the command and leaves no zombie behind.
    setsid();
    pid_t g = fork();
    if (g != 0) _exit(g < 0 ? 1 : 0);
    QuietStandardStreams();
    execvp(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProcessOutcome RunProcess(std::string_view commandLine, std::chrono::milliseconds waitAtMost) {
  using End = ProcessOutcome::End;
  ProcessOutcome outcome;
  if (waitAtMost.count() <= 0) {
    if (StartProcess(commandLine)) outcome.end = End::Exited;
    return outcome;
  }
  std::vector<std::string> argv = RunnableArgv(commandLine);
  if (argv.empty()) return {};
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  // A failed exec is told through a pipe that a successful one closes; the
  // process's standard error goes through another.
  int execFailed[2];
  if (pipe2(execFailed, O_CLOEXEC) != 0) return {};
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    close(execFailed[0]);
    close(execFailed[1]);
    return {};
  }
  const pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {execFailed[0], execFailed[1], errorPipe[0], errorPipe[1]}) close(fd);
    return {};
  }
  if (pid == 0) {
    // A session of its own, so that a process that outlives the bound is
    // stopped with everything it started.
    setsid();
    QuietStandardStreams();
    dup2(errorPipe[1], 2);  // the copy is not closed on exec
    execvp(cargv[0], cargv.data());
    const int why = errno;
    [[maybe_unused]] ssize_t n = write(execFailed[1], &why, sizeof why);
    _exit(127);
  }
  close(execFailed[1]);
  close(errorPipe[1]);
  ErrorOutput errors(errorPipe[0]);
  int why = 0;
  ssize_t n;
  while ((n = read(execFailed[0], &why, sizeof why)) < 0 && errno == EINTR) {
  }
  close(execFailed[0]);

  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + waitAtMost;
  bool timedOut = false;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return {};
    if (std::chrono::steady_clock::now() >= deadline) {
      timedOut = true;
      kill(-pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    errors.wait(std::chrono::milliseconds(10));
  }
  if (n > 0) return {};
  errors.readAvailable();
  if (timedOut) {
    outcome.end = End::TimedOut;
  } else if (WIFSIGNALED(status)) {
    outcome.end = End::Signalled;
    outcome.code = WTERMSIG(status);
  } else {
    outcome.end = End::Exited;
    outcome.code = WEXITSTATUS(status);
  }
  outcome.errorOutput = std::move(errors).kept();
  return outcome;
}

}  // namespace cg
