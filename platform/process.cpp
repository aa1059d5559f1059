#include "platform/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

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

bool StartProcess(std::string_view commandLine) {
  std::vector<std::string> argv = HostArgv(commandLine);
  if (argv.empty()) return false;
  const std::string& program = argv[0] == "/bin/sh" ? argv[1] : argv[0];
  std::error_code ec;
  if (program.find('/') != std::string::npos && !std::filesystem::exists(program, ec)) return false;

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
    int nul = open("/dev/null", O_RDWR);
    if (nul >= 0) {
      dup2(nul, 0);
      dup2(nul, 1);
      dup2(nul, 2);
      if (nul > 2) close(nul);
    }
    execvp(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace cg
