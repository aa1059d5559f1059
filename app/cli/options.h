// Command-line options of build/consistgeral. The system itself reads no
// command line; these options belong to the platform (where drive C lives)
// and to the maintenance tools around it (sample installation, script runner).
#pragma once

#include <optional>
#include <string>

namespace cg {

struct Options {
  std::string driveC;                 // --drive-c DIR (empty: the default root)
  std::optional<std::string> script;  // --script FILE ("-" = standard input)
  bool createSample = false;          // --create-sample
  std::string scale = "small";        // --scale small|large
  bool force = false;                 // --force
  bool help = false;                  // --help
  std::string screenshot;             // --screenshot FILE.png (window picture, then exit)
};

// Parses argv; on an error fills `error` and returns nullopt.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);
const char* UsageText();

}  // namespace cg
