// Starting a command line as a new process (the stand-in for WinExec):
// detached, without waiting for it, or waited for within a bound. The program
// of the command line may be a Windows path (mapped through drive C); a
// program whose name ends in ".bat" is an installation command file and runs
// under /bin/sh.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cg {

// Splits a command line into the program and its arguments: blanks separate,
// double quotes group.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The host argv that StartProcess would run for the command line (CP1252 in,
// UTF-8 out). Empty when the command line names no program.
std::vector<std::string> HostArgv(std::string_view commandLine);

// Starts the command line detached; true when the process was started. A
// program that does not exist starts nothing and returns false.
bool StartProcess(std::string_view commandLine);

// How a process that was waited for ended.
struct ProcessOutcome {
  enum class End {
    NotStarted,  // no such program, or it could not be run
    Exited,      // it ended by itself; `code` is its exit code
    Signalled,   // a signal ended it; `code` is the signal
    TimedOut,    // still running at the bound: it was stopped (SIGKILL to its process group)
  };
  End end = End::NotStarted;
  int code = 0;
  // The start of what the process wrote to its standard error while it was
  // waited for: at most kErrorOutputLimit bytes, as the host wrote them
  // (UTF-8 text, as a rule). Empty when it wrote nothing there.
  std::string errorOutput;
  bool succeeded() const { return end == End::Exited && code == 0; }
};

// How much of a waited process's standard error is kept; the rest is read
// and dropped, so that the process never blocks on a full pipe.
constexpr std::size_t kErrorOutputLimit = 1024;

// Starts the command line in a session of its own and waits for it at most
// `waitAtMost`, keeping the start of its standard error (its standard input
// and output are the null device). A bound of zero waits for nothing: the
// process is left to run detached with every standard stream on the null
// device, and the outcome tells only whether it started (Exited, 0).
ProcessOutcome RunProcess(std::string_view commandLine, std::chrono::milliseconds waitAtMost);

}  // namespace cg
