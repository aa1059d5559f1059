// Command-line options of build/consistgeral. The system itself reads no
// command line; these options belong to the platform (where drive C lives)
// and to the maintenance tools around it (sample installation, script runner).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cg {

struct Options {
  std::string driveC;                 // --drive-c DIR (empty: the default root)
  std::optional<std::string> script;  // --script FILE ("-" = standard input)
  bool createSample = false;          // --create-sample
  std::string scale = "small";        // --scale small|large
  bool force = false;                 // --force
  // The import of a Windows installation: --importar-paradox ORIGEM, with
  // --alias-origem NOME=C:\PASTA for an alias whose folder in ORIGEM is not
  // the one the destination's platform.ini names.
  std::optional<std::string> importParadox;
  std::vector<std::pair<std::string, std::string>> aliasOrigin;
  bool help = false;        // --help
  bool version = false;     // --version
  bool technician = false;  // --tecnico (the orphan removals shown)
  bool demo = false;        // --demo (on a sample of its own, in a temporary folder)
  std::string screenshot;   // --screenshot FILE.png (window picture, then exit)
  // The journal of the runs.
  bool history = false;                   // --historico
  int64_t reportRun = 0;                  // --relatorio N [ARQUIVO]
  std::optional<std::string> reportFile;  //   ARQUIVO
  int64_t undoRun = 0;                    // --desfazer N
  bool replaceReport = false;             //   --substituir (an existing file written over)
  bool yes = false;                       // --confirmar (the undo's question answered yes)
  // A simulation: --simular [COMANDO] (with --script: the script runs inside it).
  bool simulate = false;
  std::optional<std::string> simulateCommand;
};

// Parses argv; on an error fills `error` and returns nullopt.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);
const char* UsageText();
const char* VersionText();

// Exit statuses of the program (the script runner has its own, docs/runner.md).
inline constexpr int kExitOk = 0;
inline constexpr int kExitStartFailed =
    1;                                // the start failed: no screen, or the first activation raised an error
inline constexpr int kExitUsage = 2;  // bad options, or a script refused before it ran
inline constexpr int kExitRefused = 3;  // another module of the suite is running

}  // namespace cg
