// Private to the table engine: RAII over the SQLite C API, the shared
// connections (one per physical table file in the process) and the layout
// kept inside each table file.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/engine/engine.h"

struct sqlite3;
struct sqlite3_stmt;

namespace cg::engine {

// Raises the engine error that fits an SQLite result code: busy or locked ->
// ERecordLocked, constraint -> EKeyViolation, not a database -> invalid
// table file, anything else -> EDBEngineError with SQLite's own text.
[[noreturn]] void raiseSqlite(sqlite3* db, int rc, const std::string& windowsPath);

// The message of a locked table (also used by the cursor's own checks).
std::string lockedMessage(const std::string& windowsPath);

// An SQLite connection handle, closed with sqlite3_close_v2 when its owner
// goes (statements still open on it are finalized by their own owners; the
// handle goes when the last of them does). Closing never throws.
class Database {
 public:
  Database() = default;
  explicit Database(sqlite3* db) noexcept : db_(db) {}
  ~Database() { close(); }
  Database(Database&& o) noexcept : db_(std::exchange(o.db_, nullptr)) {}
  Database& operator=(Database&& o) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* get() const noexcept { return db_; }
  explicit operator bool() const noexcept { return db_ != nullptr; }
  void close() noexcept;  // now rather than at the end of the scope

 private:
  sqlite3* db_ = nullptr;
};

// Finalizes a statement handle (for std::unique_ptr).
struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const noexcept;
};
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// A prepared statement; finalized on destruction. Every use ends with
// reset() so that no read lock outlives the call that needed it.
class Stmt {
 public:
  Stmt() = default;
  Stmt(sqlite3* db, std::string_view sql, const std::string& windowsPath);
  Stmt(Stmt&& o) noexcept = default;
  Stmt& operator=(Stmt&& o) noexcept = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  explicit operator bool() const { return st_ != nullptr; }
  sqlite3_stmt* get() const { return st_.get(); }

  void bindNull(int i);
  void bindInt(int i, int64_t v);
  void bindReal(int i, double v);
  void bindText(int i, std::string_view v);  // the bytes as they are (CP1252)
  // True while a row is available; raises on error.
  bool step();
  void reset();  // the bindings stay; every use binds all it needs

  int columnType(int i) const;  // SQLITE_INTEGER, ...
  int64_t columnInt(int i) const;
  double columnReal(int i) const;
  std::string_view columnText(int i) const;

 private:
  sqlite3* db_ = nullptr;
  StmtHandle st_;
  std::string path_;
};

// Resets a statement when the scope ends (also on an exception).
class StmtUse {
 public:
  explicit StmtUse(Stmt& s) : s_(s) {}
  ~StmtUse() { s_.reset(); }
  StmtUse(const StmtUse&) = delete;
  StmtUse& operator=(const StmtUse&) = delete;

 private:
  Stmt& s_;
};

// Where a field's value is kept in SQLite.
enum class Storage { Int, Real, Text };
Storage storageOf(FieldType t);
const char* sqlTypeOf(FieldType t);
char typeCode(FieldType t);  // the letter kept in _fields
bool typeFromCode(std::string_view code, FieldType& out);

// A quoted SQL identifier.
std::string quoteId(std::string_view name);

// The layout of an open table file, read once per connection.
struct FileLayout {
  std::string dataTable;  // name of the data table inside the file
  TableDef def;
};

// One SQLite connection on one table file, shared by every table object of
// the process that opens the same file (through an alias or a directory).
//
// Reads that come in quick succession (a walk: the previous read ended less
// than kDenseGap ago) run inside a read transaction held across calls, so
// that a walk does not pay for taking and checking the file lock at every
// step; it is let go after kMaxReadHold, at the next read, so that the walk
// sees what other programs wrote meanwhile (readers never hold writers back
// in the write-ahead log) and the log can be copied back, and whenever the
// session releases its locks. A read after a pause (a user's action) starts
// afresh and lets go as soon as it is done, so that an idle window holds no
// read open. Posts and deletes run inside a write transaction that stays open
// until a flush, a close, kMaxGroupedWrites writes or kMaxWriteHold, so that
// bulk work does not pay for one commit per record.
//
// During a simulation (simulation.h) the first write takes the write lock
// for the rest of the simulation and nothing commits: each commit releases
// the open savepoint and opens the next, a rollback goes back to the open
// savepoint, and the end of the simulation rolls the whole transaction back.
// The simulation keeps the connection alive until then, so that a table
// opened again reads what the simulation wrote.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  static constexpr int kMaxGroupedWrites = 20000;
  static constexpr std::chrono::milliseconds kMaxReadHold{100};
  static constexpr std::chrono::milliseconds kDenseGap{20};
  static constexpr std::chrono::milliseconds kMaxWriteHold{1000};

  Connection(const std::filesystem::path& file, const std::string& windowsPath);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* db() const { return db_.get(); }
  const std::filesystem::path& file() const { return file_; }
  const std::string& windowsPath() const { return windowsPath_; }
  const FileLayout& layout(const std::string& windowsPath);

  // Before a read: opens a read transaction unless one is open, and lets an
  // old read transaction go first.
  void readLock(const std::string& windowsPath);
  // After a read: lets go of the read lock unless reads are coming fast.
  void readDone() noexcept;
  // Ends a read transaction (not a write transaction).
  void releaseRead() noexcept;
  // Takes the file's write lock (BEGIN IMMEDIATE) unless a write transaction
  // is already open. Raises ERecordLocked after the busy timeout.
  void beginWrite(const std::string& windowsPath);
  bool inWrite() const { return txn_ == Txn::Write; }
  // Counts a write; commits when the group is full or old.
  void wrote() noexcept;
  int pendingWrites() const { return pending_; }
  // Ends the open transaction, committing what was written.
  void commit(const std::string& windowsPath);
  // Ends a write transaction that holds no write (a cancelled edit).
  void releaseIfIdle();
  // Undoes the open transaction (in a simulation: back to the open savepoint).
  void rollback() noexcept;
  // Best-effort commit for destructors and the save-changes call.
  bool tryCommit() noexcept;
  // True while the connection holds a simulation's write transaction.
  bool simulating() const { return simulating_; }
  // Rolls the simulation's transaction back and lets go of the write lock.
  void endSimulation() noexcept;

  // A refill of an emptied table (TableCursor::beginRefill): its write
  // transaction dropped the secondary indexes that only slow the refill
  // down, and `rebuildSql` builds them again, sorted, before it commits. The
  // whole refill is one transaction: a program killed meanwhile leaves the
  // table as it was before, indexes and all. The records of the changes are
  // written into the transaction every kMaxGroupedWrites writes.
  void startRefill(std::string rebuildSql, const void* owner);
  bool refilling() const { return refillOwner_ != nullptr; }
  // The cursor of the refill is gone: whoever comes next builds the indexes.
  void disownRefill() {
    if (refillOwner_) refillOwner_ = &refillSql_;
  }
  const void* refillOwner() const { return refillOwner_; }
  // Builds the dropped indexes again, in the open transaction; raises when
  // they cannot be built (the refill then stays open).
  void settleRefill(const std::string& windowsPath);

  // Bumped on every change made through this connection; cursors compare it
  // with the value their read-ahead rows were read under.
  uint64_t generation() const { return generation_; }
  void bumpGeneration() { ++generation_; }
  // Bumped whenever a transaction begins: two reads under one snapshot and
  // one generation see the file in the same state.
  uint64_t snapshot() const { return snapshot_; }

  // The shared connection of a file, opened on first use.
  static std::shared_ptr<Connection> acquire(const std::filesystem::path& file,
                                             const std::string& windowsPath);
  // Every live connection (for the session's flush and for local SQL).
  static std::vector<std::shared_ptr<Connection>> live();
  // The live connection of a file, or nullptr.
  static std::shared_ptr<Connection> find(const std::filesystem::path& file);

 private:
  enum class Txn { None, Read, Write };
  // Transaction control, prepared once per connection: a walk that posts
  // and saves every record begins and ends hundreds of thousands of them.
  enum Control { kBegin, kBeginImmediate, kCommit, kRollback, kSavepoint, kRelease, kRollbackTo, kControls };
  int control(Control which) noexcept;                          // SQLite's result code, SQLITE_OK on success
  void control(Control which, const std::string& windowsPath);  // raises on failure
  void syncTransaction() noexcept;
  void beginSimulatedWrite(const std::string& windowsPath);
  int nextSavepoint() noexcept;  // a simulation's commit
  int buildRefillIndexes() noexcept;
  void endRefill() noexcept {
    refillOwner_ = nullptr;
    refillSql_.clear();
  }
  Database db_;  // declared first: closed after the statements below
  StmtHandle control_[kControls];
  std::filesystem::path file_;
  std::string windowsPath_;
  std::unique_ptr<FileLayout> layout_;
  Txn txn_ = Txn::None;
  std::chrono::steady_clock::time_point since_, lastRead_;
  bool holdRead_ = false;
  int readDepth_ = 0;  // reads in progress (readLock without its readDone)
  int pending_ = 0;
  uint64_t generation_ = 0;
  uint64_t snapshot_ = 0;
  bool simulating_ = false;      // the write transaction is a simulation's
  bool simulationLost_ = false;  // SQLite rolled it back by itself (disk error)
  const void* refillOwner_ = nullptr;
  std::string refillSql_;
};

// Commits the open transaction of a connection opened with openDatabase
// (BEGIN ... by its owner), with the records of its changes (changes.h).
// Raises on failure (the transaction stays for the caller to roll back).
void commitWithRecords(sqlite3* db, const std::string& windowsPath);
// Keeps a connection that writes in the simulation alive until its end.
void holdForSimulation(std::shared_ptr<Connection> c);

// Opens an SQLite connection with the engine's settings (busy timeout,
// write-ahead log, synchronous mode). Raises on failure.
Database openDatabase(const std::filesystem::path& file, const std::string& windowsPath, bool create);

// Removes what a killed program may have left beside a table file (rollback
// journal, write-ahead log and its index): before a new file takes the
// place, they would be played back onto it.
void removeSideFiles(const std::filesystem::path& file) noexcept;

// Canonical key of a file for sharing connections.
std::string fileKey(const std::filesystem::path& file);

// Reads the layout kept in an open table file.
FileLayout readLayout(sqlite3* db, const std::string& windowsPath);

// Writes a new table file: data table, layout tables and, unless
// `deferIndexes`, its indexes. The file must not exist.
void writeNewTable(sqlite3* db, const std::string& dataTable, const TableDef& def,
                   const std::string& windowsPath, bool deferIndexes);
// Creates the indexes of a table written with deferred indexes.
void createIndexes(sqlite3* db, const std::string& dataTable, const TableDef& def,
                   const std::string& windowsPath);
// The statement that creates the SQLite index behind a secondary index (not
// the unique one beside it).
std::string secondaryIndexSql(const std::string& dataTable, const TableDef& def, const IndexDef& ix);
// Name of the SQLite index that orders a table by its primary key, and by a
// secondary index.
std::string primaryIndexName(const std::string& dataTable);
std::string secondaryIndexName(const std::string& dataTable, const std::string& index);
// The columns of the SQLite index behind a secondary index: its fields,
// then the primary key fields not among them.
std::vector<std::string> orderedColumns(const TableDef& def, const std::vector<std::string>& leading);

bool equalsNoCase(std::string_view a, std::string_view b);
std::string upperAscii(std::string_view s);

// The host file of a table: `tableName` (".DB" added when it has no
// extension) in the host directory, found without regard to case.
std::filesystem::path tableFile(const std::filesystem::path& hostDir, const std::string& tableName);
// The table name with ".DB" added when it has no extension.
std::string withExtension(const std::string& tableName);
// The base name of a table file name ("Clientes" for "Clientes.DB").
std::string baseName(const std::string& tableName);
// Joins a Windows directory and a file name with one backslash.
std::string joinWindows(const std::string& dir, const std::string& name);

}  // namespace cg::engine
