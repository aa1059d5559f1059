// Private to the journal: the open journal file, its statements and the
// sinks through which the engine and the driver report their changes.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "data/engine/changes.h"
#include "data/engine/sqlite.h"
#include "data/journal/journal.h"
#include "data/sql/changes.h"
#include "platform/regional.h"

namespace cg::journal {

inline constexpr int kSchemaVersion = 2;

// The row a record of `changes` is about: its rowid (local), or its key
// (server; a register replaced whole: its table).
#define CG_ROW_OF_RECORD "coalesce(row_id, hex(key))"

// The number of the next run: never one given before, even to a run
// removed since (table `numbers` keeps the last one given).
#define CG_NEXT_RUN "(SELECT max(coalesce((SELECT max(number) FROM runs), 0), last_run) + 1 FROM numbers)"

// A condition on `changes`: the record is of a server transaction not
// known to have committed.
#define CG_UNSETTLED_RECORD \
  " AND EXISTS (SELECT 1 FROM batches b WHERE b.id = changes.batch AND b.confirmed = 0 AND b.place = 'S')"

// A condition on `changes`: the record counts, unless it is of a server
// transaction not known to have committed (its batch unconfirmed).
#define CG_SETTLED_RECORD                                                                                  \
  " AND NOT EXISTS (SELECT 1 FROM batches b WHERE b.id = changes.batch AND b.confirmed = 0 AND b.place = " \
  "'S')"
inline constexpr const char* kFolder = "C:\\VITRALON\\CONSISTGERAL";
inline constexpr const char* kFile = "C:\\VITRALON\\CONSISTGERAL\\Historico.db";
inline constexpr const char* kCopies = "C:\\VITRALON\\CONSISTGERAL\\Copias";

// A row of `tables`: a local table file (place 'L') or a server table
// ('S'). Images and keys name fields by their position in `fields`.
struct TableInfo {
  int64_t id = 0;
  char place = 'L';
  std::string name;       // Windows path, or the server table
  std::string dataTable;  // the data table inside the file (server: the table)
  std::vector<std::string> fields;
  std::vector<int> key;  // positions of the key fields
};

// A row of `changes`.
struct Record {
  int64_t seq = 0, run = 0, batch = 0, table = 0;
  std::optional<int64_t> rowid;
  char op = 'U';
  RowImage key, before, after;
};

// Texts kept in `tables`: names one per line, positions separated by commas.
std::string joinNames(const std::vector<std::string>& names);
std::vector<std::string> splitNames(std::string_view text);
std::string joinPositions(const std::vector<int>& positions);
std::vector<int> splitPositions(std::string_view text);

// A value of a row as SQLite holds it, and back.
ImageValue columnValue(sqlite3_stmt* st, int column);
void bindValue(sqlite3_stmt* st, int index, const ImageValue& value);
// The value in a report: integers plain, reals in pt-BR form, texts as they
// are, null empty, blobs as X'..'.
std::string valueText(const ImageValue& value);
// A server value in an image, and back.
ImageValue serverValue(const SQLValue& value);
SQLValue sqlValue(const ImageValue& value);
// The value at `position` of an image, or nullptr.
const ImageValue* valueAt(const RowImage& image, int position);

// "dd/mm/yyyy hh:nn:ss", the time always present.
std::string stamp(TDateTime t);

// The digest of a table's rows in rowid order (64-bit FNV-1a over each
// row's rowid and encoded values), as 16 hexadecimal digits.
std::string tableDigest(sqlite3* db, const std::string& dataTable, const std::string& windowsPath);

// The digest of the data table of a table file (Windows path), opened
// read-only; raises when it is not a table file.
std::string fileDigest(const std::string& windowsPath);

// Writes everything of `source` into a new file `copy` with SQLite's
// backup API (the copy in rollback-journal mode, a single file).
void backupInto(sqlite3* source, const std::filesystem::path& copy, const std::string& windowsPath);

// The host file of a table named by its Windows path.
std::filesystem::path liveFile(const std::string& windowsPath);
// The description of a table file as the journal keeps it.
TableInfo describe(sqlite3* db, const std::string& windowsPath);

}  // namespace cg::journal

namespace cg {

struct Journal::Impl {
  Impl();
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // --- the file
  engine::Database db;
  std::string windowsPath = journal::kFile;
  bool inTransaction = false;
  std::vector<int64_t> confirmedBatches;         // written with the next commit
  std::vector<std::string> finishedCollections;  // their marks removed with the next commit
  void exec(const char* sql);
  void begin();   // opens the journal's transaction unless open
  void commit();  // writes the confirmations and commits (synced)
  void rollback() noexcept;
  engine::Stmt& stmt(const char* sql);  // prepared once, kept
  std::map<std::string, engine::Stmt, std::less<>> statements;
  engine::Stmt* insertChange = nullptr;

  // --- runs
  int64_t run = 0;
  bool implicitRun = false;
  bool simulatedRun = false;           // the run under way is a simulation
  std::optional<std::string> failure;  // Journal::failRun's message
  int64_t beginRun(const std::string& command, const std::string& caption, int64_t undoes,
                   bool simulation = false);
  void endRun(RunOutcome outcome, const std::string& message);
  int64_t ensureRun();  // the run that changes belong to

  // --- tables
  struct LocalTable {
    journal::TableInfo info;
    std::string windowsPath;  // what the cache entry stands for
    std::string dataTable;
    size_t fields = 0;
    std::filesystem::path file;
    std::set<int64_t> touchedIn;  // runs the file's touch is noted for
  };
  std::unordered_map<const ChangedTable*, std::unique_ptr<LocalTable>> localTables;
  LocalTable& localTable(const ChangedTable& table);
  int64_t localTableId(const journal::TableInfo& info);  // found or added (begin() first)
  struct ServerTable {
    journal::TableInfo info;
    std::unordered_map<std::string, int> positions;
  };
  std::unordered_map<std::string, ServerTable> serverTables;
  ServerTable& serverTable(const std::string& name);
  int serverPosition(ServerTable& table, const std::string& column);
  journal::TableInfo tableById(int64_t id);
  std::map<int64_t, journal::TableInfo> tableCache;

  // --- batches: one per server transaction; one per run and file collected
  std::unordered_map<const void*, int64_t> openServer;
  int64_t newBatch(char place);
  void dropBatch(int64_t id);

  // --- records
  void insertRecord(int64_t batch, int64_t table, std::optional<int64_t> rowid, char op, std::string_view key,
                    std::string_view before, std::string_view after);
  // Server records whose transaction is not known to have committed (a
  // program that died before confirming it, its batch not yet settled)
  // are left out: they may never have reached the server.
  std::vector<journal::Record> records(int64_t run);
  // The run's records in order, one at a time, until `f` returns false.
  void eachRecord(int64_t run, const std::function<bool(const journal::Record&)>& f);
  // The records an undo (run `run`) left as they were, in order.
  void eachConflict(int64_t run, const std::function<bool(const journal::Record&)>& f);
  // Whether the run has records of server rows, confirmed or not.
  bool touchedServer(int64_t run);
  std::vector<journal::Record> batchRecords(int64_t batch);

  // --- settling what a program that died left
  void settle(SQLConnection* server);
  // The unconfirmed server batches of programs that are gone, checked
  // against the rows as the server has them: a transaction that never
  // committed leaves its records out, one that did has them confirmed.
  void settleServer(SQLConnection& server);
  void removeOld();

  // --- what the engine and the driver report
  // The engine's local records: the files a run writes are noted as it
  // begins writing them; their records are collected from the files (and
  // removed there) at the run's end, or at the next start after a crash.
  void touched(const ChangedTable& table);
  void collectFile(const std::filesystem::path& file);
  // Records found in a file that no run of this journal left there (the
  // journal was lost, its run numbers begun again): each such run number
  // gets a run of its own, kept as `Died`, for this program's life.
  std::map<int64_t, int64_t> orphanRuns;
  int64_t orphanRun(int64_t recorded);
  // A journal made anew where copies of an earlier one's runs are found:
  // its numbers go on after theirs, and a run says that the history before
  // is gone.
  void noteLostHistory();
  // The records of what a simulation changed in `table`.
  void localSimulated(const ChangedTable& table,
                      const std::vector<LocalChangeSink::Record>& records) noexcept;
  // The files of run `number` not yet collected; nullopt: of every run of
  // another program (gone).
  void collect(std::optional<int64_t> number);
  void serverChange(const void* transaction, const ServerRowChange& change);
  bool serverCommitting(const void* transaction) noexcept;
  void serverCommitted(const void* transaction) noexcept;
  void serverRolledBack(const void* transaction) noexcept;
  void serverSimulated(const void* transaction) noexcept;
  void serverConnected(SQLConnection& server) noexcept;

  struct LocalSink final : LocalChangeSink {
    Impl* j = nullptr;
    int64_t currentRun() noexcept override { return j->run; }
    void touched(const ChangedTable& t) override { j->touched(t); }
    void simulated(const ChangedTable& t, const std::vector<Record>& r) noexcept override {
      j->localSimulated(t, r);
    }
  } localSink;
  struct ServerSink final : ServerChangeSink {
    Impl* j = nullptr;
    void change(const void* t, const ServerRowChange& c) override { j->serverChange(t, c); }
    bool committing(const void* t) noexcept override { return j->serverCommitting(t); }
    void committed(const void* t) noexcept override { j->serverCommitted(t); }
    void rolledBack(const void* t) noexcept override { j->serverRolledBack(t); }
    void simulated(const void* t) noexcept override { j->serverSimulated(t); }
    void connected(SQLConnection& c) noexcept override { j->serverConnected(c); }
  } serverSink;

  // --- copies of replaced registers
  std::map<std::string, int64_t> pendingCopies;  // live table -> copy row awaiting its digest
  // Records in the current run that `liveTable` is replaced whole, its
  // former content kept in `copy` (Windows path); returns the copy's row.
  // `digest`: what the replacement leaves (empty: not known yet);
  // `copyDigest`: what the copy holds.
  int64_t recordReplacement(const journal::TableInfo& live, const std::string& copy,
                            const std::string& digest, const std::string& copyDigest);
  // Raises EJournalError naming the copy unless every copy of run
  // `number` is there and is the table it was taken from, as it was taken.
  void checkCopies(int64_t number);
  // The Windows path and host file of the run's next copy.
  std::pair<std::string, std::filesystem::path> nextCopy();

  // --- reports
  std::vector<ChangeLine> lines(const journal::Record& r, const journal::TableInfo& t);
};

}  // namespace cg
