// The journal of the installation: every run of a command and every row
// change it made, local or on the server, kept so that any run can be
// reported and undone (docs/journal.md). One SQLite file,
// C:\VITRALON\CONSISTGERAL\Historico.db, written ahead of the changes it
// records: a change is never on disk without its record.
//
// While a Journal is open it is the engine's and the driver's change sink.
// Not thread-safe: the whole program runs on one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/errors.h"

namespace cg {

class SQLConnection;

CG_DECLARE_ERROR(EJournalError, Exception);

// How a run ended.
enum class RunOutcome {
  Running,      // under way (or the program died: see Died)
  Completed,    // the command ended normally
  Failed,       // stopped by an error (message kept)
  Interrupted,  // the user stopped it
  Died,         // the program ended without finishing it (found at the next start)
};
// "concluída", "parada por erro", "interrompida", "não terminou", "em andamento".
std::string OutcomeText(RunOutcome outcome);

struct RunInfo {
  int64_t number = 0;
  std::string command;         // component name ("BotFormulaOrfan"), or "Desfazer" for an undo
  std::string caption;         // its caption, CP1252 ("Excluir Fórmulas Orfãs", "Desfazer a execução 12")
  std::string started, ended;  // "dd/mm/yyyy hh:nn:ss" on the program's clock; ended empty while running
  RunOutcome outcome = RunOutcome::Running;
  std::string message;      // the error of a failed run
  std::string driveC;       // the host folder of drive C
  std::string transport;    // "embedded" or "server"
  int64_t undoes = 0;       // the run an undo took back (0: not an undo)
  int64_t undoneBy = 0;     // the last undo of this run (0: none)
  bool simulation = false;  // a simulation: its rows were never written (nothing to undo)
  // Rows changed, per table (Windows path of a local table, or the server
  // table's name) and operation letter ('I', 'U', 'D', 'R' for a register
  // replaced whole); a row changed twice the same way counts once.
  std::map<std::pair<std::string, char>, int64_t> counts;
  int64_t rows = 0;       // rows changed, each once (a register replaced whole: 1)
  int64_t conflicts = 0;  // an undo: the rows it left as they were (changed since)
  // Server rows of a program that died whose transaction is not known to
  // have committed: in no count until settled (at the next connection to
  // the server, or by the undo).
  int64_t unsettled = 0;
  int64_t total() const { return rows; }
};

// One line of a run's report: one field of one changed row.
struct ChangeLine {
  int64_t sequence = 0;  // order of the change in the run
  std::string table;     // "C:\VITRALON\DADOS\Clientes.DB" or "PEDIDOS"
  std::string key;       // "Codigo=12" / "ESTACAO=01; NPEDIDO=5"
  // 'I', 'U', 'D', 'R'; in an undo's lines, 'C' for a change of the run
  // undone that it left as it was (a conflict: the run's before and after)
  char op = 'U';
  std::string field;
  std::string before, after;  // pt-BR text; empty for null
  // What each value was: 0 null (or none), 1 integer, 2 real, 3 text,
  // 4 blob (the CSV tells a null from an empty text, and guards texts).
  uint8_t beforeKind = 0, afterKind = 0;
};

// Rows, not changes: a row the run changed twice counts once; a row with a
// conflict counts as a conflict only.
struct UndoResult {
  int64_t run = 0;                    // the undo's own run number
  int64_t restored = 0;               // rows put back
  int64_t unchanged = 0;              // rows already as before the run
  int64_t conflictRows = 0;           // rows changed since the run: left as they are
  std::vector<ChangeLine> conflicts;  // their changes, one line per field
};

class Journal {
 public:
  // Opens the journal of the installation on drive C, creating it (and its
  // folder) when missing, and settles what a program that died left: its
  // run becomes Died and its unconfirmed records are checked against the
  // tables and the server (`server` may be null: server records stay
  // unsettled until a start that can reach it). Raises EJournalError.
  static std::unique_ptr<Journal> open(SQLConnection* server);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Starts recording a run (changes from now on belong to it) and ends it.
  // `simulation`: the run is simulated (data/engine/simulation.h,
  // data/sql/simulation.h); its rows are what it would have changed.
  int64_t beginRun(const std::string& command, const std::string& caption, bool simulation = false);
  void endRun(RunOutcome outcome, const std::string& message = {});
  int64_t currentRun() const;  // 0 outside a run
  // The run under way failed although its command ends normally (it
  // reported the failure itself, as a command file that failed): it ends
  // `Failed` with `message` unless it ends otherwise still.
  void failRun(const std::string& message);

  // Before a command file replaces `liveTable` (Windows path) by the file
  // `replacement` (Windows path): a copy of the whole live table, taken
  // under its write lock, kept with the run with the digest of what it
  // holds, and the digest of what the replacement will leave (so that the
  // run can be undone even when the program dies before the command file
  // ends); after the replacement, the digest of what it left (to refuse an
  // undo when the table changed since). A command file that left the table
  // as it was replaced nothing: the replacement and its copy are dropped.
  void beforeReplace(const std::string& liveTable, const std::string& replacement = {});
  void afterReplace(const std::string& liveTable);

  std::vector<RunInfo> runs();
  std::optional<RunInfo> run(int64_t number);
  // The run's changes in order, one line per field (a replaced register: one
  // line naming the copy); at most `limit` lines when given.
  std::vector<ChangeLine> changes(int64_t number, std::optional<size_t> limit = std::nullopt);
  // Writes the run's report as CSV for pt-BR spreadsheets: UTF-8 with BOM,
  // ';' separators, CRLF lines: Tabela;Chave;Operação;Campo;Antes;Depois.
  // An existing file is written over only when `replace` says so; a
  // database (a table file, a copy, the journal) or its log never.
  void writeReport(int64_t number, const std::filesystem::path& file, bool replace = false);
  // Why the report may not be written to `file` (named `name` in the text;
  // by default its host path) as it stands (empty: it may be); with
  // `replace`, an existing file that is no database may.
  static std::string reportRefusal(const std::filesystem::path& file, bool replace,
                                   const std::string& name = {});
  // Rows the undo of run `number` would put back (each once), if every one
  // is still as the run left it.
  int64_t rowsToRestore(int64_t number);
  // Undoes run `number` as a run of its own (see docs/journal.md).
  UndoResult undo(int64_t number, SQLConnection* server);

  // Runs older than `days` days (platform.ini, [consistgeral] historico_dias,
  // 90 by default) are removed at open.
  static int keepDays();
  // The journal's file on the host.
  static std::filesystem::path file();

  struct Impl;

 private:
  explicit Journal(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace cg
