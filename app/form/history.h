// How the runs of the journal and their changes read, in the history panel
// and on the command line (consistgeral --historico, --desfazer). CP1252.
#pragma once

#include <cstdint>
#include <string>

#include "data/journal/journal.h"

namespace cg {

// "inclusão", "alteração", "exclusão", "substituição".
std::string OperationText(char op);
// "1 registro", "12 registros".
std::string RowsText(int64_t rows);
// One line of the panel's list of runs:
// "12 - 07/12/2026 08:05:09 - Ajusta Param. Técnicos - concluída - 3 registros".
std::string RunLine(const RunInfo& run);
// What a run changed, in a run's line: "K registros", "cadastro substituído".
std::string ChangedText(const RunInfo& run);
// What the undo of `run` will do, `rows` being the rows it changed: the
// second line of the undo's question.
std::string UndoForecast(const RunInfo& run, int64_t rows);
// One changed field: "C:\VITRALON\DADOS\Config.DB | Codigo=1 | alteração | CorFundo: 1 -> 2".
std::string ChangeText(const ChangeLine& line);
// What an undo did, for its closing message ('\r' between lines): the rows
// restored, those already as before, the conflicts with the first
// `conflictLines` of them.
std::string UndoSummary(int64_t undone, const UndoResult& result, size_t conflictLines = 20);

}  // namespace cg
