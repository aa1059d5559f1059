// The journal on the command line: the runs (--historico), the report of a
// run (--relatorio N [ARQUIVO]) and its undo (--desfazer N [--confirmar]), on the
// installation under the current drive C root. Output in UTF-8; the
// format is in README.md ("The history of the runs").
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace cg {

struct RunInfo;

// Prints one run's block as --historico does.
void PrintRun(const RunInfo& run, std::ostream& out);

// Prints every run, oldest first, one block per run. Exit status: 0, or 1
// when the journal cannot be opened.
int PrintHistory(std::ostream& out, std::ostream& errors);

// Writes run `number`'s report to `file` (default "Historico_N.csv" in the
// current folder) and prints its absolute path. An existing file is written
// over only with `replace` (--substituir), a database never. 0, or 1 on a
// failure (no such run, the journal or the file cannot be opened, the file
// refused).
int WriteRunReport(int64_t number, const std::optional<std::string>& file, bool replace, std::ostream& out,
                   std::ostream& errors);

// Undoes run `number` holding the in-use marker as the window does. Asks
// "s/n" on `answers` when `terminal`; otherwise only with `yes` (--confirmar).
// 0 undone, 1 failure, 2 no terminal and no --confirmar, 3 refused (another
// module runs) or declined.
int UndoRun(int64_t number, bool yes, bool terminal, std::istream& answers, std::ostream& out,
            std::ostream& errors);

}  // namespace cg
