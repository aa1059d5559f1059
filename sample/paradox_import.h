// The import of a Windows installation of the suite (--importar-paradox): its
// Paradox tables of the catalogue are read, checked and written as our
// tables under the current drive C root. The source is only read; the
// destination changes only when every table was read and checked.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace cg {

struct ParadoxImportOptions {
  // The old installation's drive C, as copied or mounted.
  std::filesystem::path origin;
  // Where an alias's folder is in the origin (alias in upper case ->
  // "C:\PASTA"); an alias not given here is looked for at the folder the
  // destination's platform.ini names for it.
  std::map<std::string, std::string> aliasFolders;
  // Over an existing installation: the old one is kept as a copy first.
  bool force = false;
};

struct ParadoxImportReport {
  int tables = 0;
  int64_t records = 0;
  int fields = 0;
  int indexes = 0;
  double seconds = 0;
  std::vector<std::string> lines;  // CP1252: one per table, then each conversion and refusal
  std::string keptCopy;            // with force: where the old installation was kept
};

// Raises cg::Exception with a Portuguese message naming the table and what
// disagrees; the destination is then as it was.
ParadoxImportReport ImportParadox(const ParadoxImportOptions& options);

}  // namespace cg
