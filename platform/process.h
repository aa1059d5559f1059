// Starting a command line as a detached process, without waiting for it and
// without reading its result (the stand-in for WinExec). The program of the
// command line may be a Windows path (mapped through drive C); a program whose
// name ends in ".bat" is an installation command file and runs under /bin/sh.
#pragma once

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

}  // namespace cg
