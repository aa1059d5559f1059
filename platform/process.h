// Starting a command line as a new process (the stand-in for WinExec):
// detached, without waiting for it, or waited for within a bound. The program
// of the command line may be a Windows path (mapped through drive C); a
// program whose name ends in ".bat" is an installation command file and runs
// under /bin/sh.
#pragma once

#include <chrono>
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
  bool succeeded() const { return end == End::Exited && code == 0; }
};

// Starts the command line in a session of its own and waits for it at most
// `waitAtMost`. A bound of zero waits for nothing: the process is left to
// run detached, and the outcome tells only whether it started (Exited, 0).
ProcessOutcome RunProcess(std::string_view commandLine, std::chrono::milliseconds waitAtMost);

}  // namespace cg
