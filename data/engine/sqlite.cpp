#include "data/engine/sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <system_error>

#include "data/engine/capture.h"
#include "data/engine/simulation.h"
#include "data/engine/verify.h"
#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/faults.h"

namespace cg::engine {
namespace fs = std::filesystem;

namespace {

// Format of the layout tables; bumped if their shape ever changes.
constexpr int kLayoutFormat = 1;

std::map<std::string, std::weak_ptr<Connection>>& registry() {
  static std::map<std::string, std::weak_ptr<Connection>> r;
  return r;
}

}  // namespace

std::string lockedMessage(const std::string& windowsPath) {
  return std::string("Registro bloqueado por outro usuário."_cp) + "\rTabela: " + windowsPath;
}

void raiseSqlite(sqlite3* db, int rc, const std::string& windowsPath) {
  if (db && rc == SQLITE_CONSTRAINT_COMMITHOOK) {
    std::string failure = takeCaptureFailure(db);
    if (!failure.empty()) throw EDBEngineError(failure);
  }
  int primary = rc & 0xFF;
  std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      throw ERecordLocked(lockedMessage(windowsPath));
    case SQLITE_CONSTRAINT:
      throw EKeyViolation(std::string("Violação de chave em "_cp) + windowsPath + ".");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      throw EDBEngineError(std::string("Arquivo de tabela inválido ou danificado: "_cp) + windowsPath);
    default:
      throw EDBEngineError(sqliteFailure(rc, windowsPath, fromUtf8(detail)));
  }
}

// ---------------------------------------------------------------- handles

Database& Database::operator=(Database&& o) noexcept {
  if (this != &o) {
    close();
    db_ = std::exchange(o.db_, nullptr);
  }
  return *this;
}

void commitWithRecords(sqlite3* db, const std::string& windowsPath) {
  int rc = writePendingRecords(db);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(db, rc, windowsPath);
}

void Database::close() noexcept {
  if (db_) stopCapture(db_);
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void StmtFinalizer::operator()(sqlite3_stmt* st) const noexcept { sqlite3_finalize(st); }

// ---------------------------------------------------------------- Stmt

Stmt::Stmt(sqlite3* db, std::string_view sql, const std::string& windowsPath) : db_(db), path_(windowsPath) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st,
                              nullptr);
  st_.reset(st);  // null after a failure
  if (rc != SQLITE_OK) raiseSqlite(db, rc, windowsPath);
}

void Stmt::bindNull(int i) { sqlite3_bind_null(st_.get(), i); }
void Stmt::bindInt(int i, int64_t v) { sqlite3_bind_int64(st_.get(), i, v); }
void Stmt::bindReal(int i, double v) { sqlite3_bind_double(st_.get(), i, v); }
void Stmt::bindText(int i, std::string_view v) {
  sqlite3_bind_text(st_.get(), i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

bool Stmt::step() {
  int rc = sqlite3_step(st_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(st_.get());
  raiseSqlite(db_, rc, path_);
}

void Stmt::reset() {
  if (st_) sqlite3_reset(st_.get());
}

int Stmt::columnType(int i) const { return sqlite3_column_type(st_.get(), i); }
int64_t Stmt::columnInt(int i) const { return sqlite3_column_int64(st_.get(), i); }
double Stmt::columnReal(int i) const { return sqlite3_column_double(st_.get(), i); }
std::string_view Stmt::columnText(int i) const {
  const unsigned char* p = sqlite3_column_text(st_.get(), i);
  int n = sqlite3_column_bytes(st_.get(), i);
  return p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string_view();
}

// ---------------------------------------------------------------- types

Storage storageOf(FieldType t) {
  switch (t) {
    case FieldType::Number:
    case FieldType::Money:
      return Storage::Real;
    case FieldType::Short:
    case FieldType::LongInt:
    case FieldType::AutoInc:
    case FieldType::Logical:
      return Storage::Int;
    case FieldType::Alpha:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Timestamp:
    case FieldType::Memo:
      return Storage::Text;
  }
  return Storage::Text;
}

const char* sqlTypeOf(FieldType t) {
  switch (storageOf(t)) {
    case Storage::Int:
      return "INTEGER";
    case Storage::Real:
      return "REAL";
    case Storage::Text:
      return "TEXT";
  }
  return "TEXT";
}

namespace {
struct TypeCodeEntry {
  FieldType type;
  char code;
};
constexpr TypeCodeEntry kTypeCodes[] = {
    {FieldType::Alpha, 'A'},     {FieldType::Number, 'N'},  {FieldType::Money, '$'},
    {FieldType::Short, 'S'},     {FieldType::LongInt, 'I'}, {FieldType::AutoInc, '+'},
    {FieldType::Logical, 'L'},   {FieldType::Date, 'D'},    {FieldType::Time, 'T'},
    {FieldType::Timestamp, '@'}, {FieldType::Memo, 'M'},
};
}  // namespace

char typeCode(FieldType t) {
  for (const auto& e : kTypeCodes)
    if (e.type == t) return e.code;
  return 'A';
}

}  // namespace cg::engine

namespace cg {
char FieldTypeCode(FieldType type) { return engine::typeCode(type); }
}  // namespace cg

namespace cg::engine {

bool typeFromCode(std::string_view code, FieldType& out) {
  if (code.size() != 1) return false;
  for (const auto& e : kTypeCodes)
    if (e.code == code[0]) {
      out = e.type;
      return true;
    }
  return false;
}

std::string quoteId(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

bool equalsNoCase(std::string_view a, std::string_view b) { return EqualsNoCase(a, b); }

std::string upperAscii(std::string_view s) { return AsciiUpper(s); }

std::string withExtension(const std::string& tableName) {
  size_t slash = tableName.find_last_of("\\/");
  size_t dot = tableName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return tableName + ".DB";
  return tableName;
}

std::string baseName(const std::string& tableName) {
  std::string n = tableName;
  size_t slash = n.find_last_of("\\/");
  if (slash != std::string::npos) n = n.substr(slash + 1);
  size_t dot = n.find_last_of('.');
  if (dot != std::string::npos) n = n.substr(0, dot);
  return n;
}

std::string joinWindows(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '\\' || dir.back() == '/') return dir + name;
  return dir + "\\" + name;
}

fs::path tableFile(const fs::path& hostDir, const std::string& tableName) {
  return DriveC::findEntry(hostDir, toUtf8(withExtension(tableName)));
}

std::string fileKey(const fs::path& file) {
  std::error_code ec;
  fs::path c = fs::weakly_canonical(file, ec);
  return (ec ? file : c).string();
}

// ---------------------------------------------------------------- layout

std::string primaryIndexName(const std::string& dataTable) { return dataTable + "$pk"; }
std::string secondaryIndexName(const std::string& dataTable, const std::string& index) {
  return dataTable + "$" + index;
}

std::vector<std::string> orderedColumns(const TableDef& def, const std::vector<std::string>& leading) {
  std::vector<std::string> cols;
  auto has = [&](const std::string& f) {
    return std::any_of(cols.begin(), cols.end(), [&](const std::string& c) { return equalsNoCase(c, f); });
  };
  for (const auto& f : leading)
    if (!has(f)) cols.push_back(f);
  for (const auto& f : def.primaryKey)
    if (!has(f)) cols.push_back(f);
  return cols;
}

namespace {

void execOn(sqlite3* db, const std::string& sql, const std::string& windowsPath) {
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(db, rc, windowsPath);
}

const FieldDef* findField(const TableDef& def, std::string_view name) {
  for (const auto& f : def.fields)
    if (equalsNoCase(f.name, name)) return &f;
  return nullptr;
}

void checkDef(const TableDef& def, const std::string& windowsPath) {
  auto bad = [&](const std::string& what) {
    throw EDBEngineError(std::string("Definição inválida da tabela "_cp) + windowsPath + ": " + what);
  };
  if (def.fields.empty()) bad("nenhum campo");
  for (size_t i = 0; i < def.fields.size(); ++i) {
    const auto& f = def.fields[i];
    if (f.name.empty() || f.name[0] == '_') bad(std::string("nome de campo inválido: "_cp) + f.name);
    if (f.type == FieldType::Alpha && (f.size < 1 || f.size > 255))
      bad(std::string("largura inválida do campo "_cp) + f.name);
    for (size_t j = 0; j < i; ++j)
      if (equalsNoCase(def.fields[j].name, f.name)) bad("campo repetido: " + f.name);
  }
  for (const auto& k : def.primaryKey)
    if (!findField(def, k)) bad(std::string("campo da chave não existe: "_cp) + k);
  for (const auto& ix : def.indexes) {
    if (ix.name.empty() || ix.fields.empty()) bad(std::string("índice sem nome ou sem campos"_cp));
    for (const auto& f : ix.fields)
      if (!findField(def, f))
        bad(std::string("campo do índice "_cp) + ix.name + std::string(" não existe: "_cp) + f);
  }
}

std::string columnList(const std::vector<std::string>& cols) {
  std::string s;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) s += ", ";
    s += quoteId(cols[i]);
  }
  return s;
}

}  // namespace

void writeNewTable(sqlite3* db, const std::string& dataTable, const TableDef& def,
                   const std::string& windowsPath, bool deferIndexes) {
  checkDef(def, windowsPath);
  std::string sql =
      "BEGIN;"
      "CREATE TABLE \"_table\"(name TEXT NOT NULL, format INTEGER NOT NULL);"
      "CREATE TABLE \"_fields\"(position INTEGER PRIMARY KEY, name TEXT NOT NULL, type TEXT NOT NULL, "
      "size INTEGER NOT NULL);"
      "CREATE TABLE \"_primary\"(position INTEGER PRIMARY KEY, field TEXT NOT NULL);"
      "CREATE TABLE \"_indexes\"(name TEXT NOT NULL, position INTEGER NOT NULL, field TEXT NOT NULL, "
      "is_unique INTEGER NOT NULL, PRIMARY KEY(name, position));";
  auto lit = [](const std::string& s) {
    std::string q = "'";
    for (char c : s) {
      if (c == '\'') q += '\'';
      q += c;
    }
    return q + "'";
  };
  sql += "INSERT INTO \"_table\" VALUES(" + lit(dataTable) + ", " + std::to_string(kLayoutFormat) + ");";
  for (size_t i = 0; i < def.fields.size(); ++i) {
    const auto& f = def.fields[i];
    sql += "INSERT INTO \"_fields\" VALUES(" + std::to_string(i + 1) + ", " + lit(f.name) + ", '" +
           typeCode(f.type) + "', " + std::to_string(f.type == FieldType::Alpha ? f.size : 0) + ");";
  }
  for (size_t i = 0; i < def.primaryKey.size(); ++i)
    sql += "INSERT INTO \"_primary\" VALUES(" + std::to_string(i + 1) + ", " + lit(def.primaryKey[i]) + ");";
  for (const auto& ix : def.indexes)
    for (size_t i = 0; i < ix.fields.size(); ++i)
      sql += "INSERT INTO \"_indexes\" VALUES(" + lit(ix.name) + ", " + std::to_string(i + 1) + ", " +
             lit(ix.fields[i]) + ", " + (ix.unique ? "1" : "0") + ");";
  sql += "CREATE TABLE " + quoteId(dataTable) + "(";
  for (size_t i = 0; i < def.fields.size(); ++i) {
    if (i) sql += ", ";
    sql += quoteId(def.fields[i].name) + " " + sqlTypeOf(def.fields[i].type);
  }
  sql += ");COMMIT;";
  execOn(db, sql, windowsPath);
  if (!deferIndexes) createIndexes(db, dataTable, def, windowsPath);
}

std::string secondaryIndexSql(const std::string& dataTable, const TableDef& def, const IndexDef& ix) {
  return "CREATE INDEX " + quoteId(secondaryIndexName(dataTable, ix.name)) + " ON " + quoteId(dataTable) +
         "(" + columnList(orderedColumns(def, ix.fields)) + ");";
}

void createIndexes(sqlite3* db, const std::string& dataTable, const TableDef& def,
                   const std::string& windowsPath) {
  std::string sql = "BEGIN;";
  if (!def.primaryKey.empty())
    sql += "CREATE UNIQUE INDEX " + quoteId(primaryIndexName(dataTable)) + " ON " + quoteId(dataTable) + "(" +
           columnList(def.primaryKey) + ");";
  for (const auto& ix : def.indexes) {
    sql += secondaryIndexSql(dataTable, def, ix);
    if (ix.unique)
      sql += "CREATE UNIQUE INDEX " + quoteId(secondaryIndexName(dataTable, ix.name) + "$u") + " ON " +
             quoteId(dataTable) + "(" + columnList(ix.fields) + ");";
  }
  sql += "COMMIT;";
  try {
    execOn(db, sql, windowsPath);
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

FileLayout readLayout(sqlite3* db, const std::string& windowsPath) {
  FileLayout out;
  auto invalid = [&]() -> EDBEngineError {
    return EDBEngineError(std::string("Arquivo de tabela inválido ou danificado: "_cp) + windowsPath);
  };
  {
    Stmt s;
    try {
      s = Stmt(db, "SELECT name FROM \"_table\"", windowsPath);
    } catch (const ERecordLocked&) {
      throw;
    } catch (const EDBEngineError&) {
      throw invalid();
    }
    StmtUse u(s);
    if (!s.step()) throw invalid();
    out.dataTable = std::string(s.columnText(0));
  }
  {
    Stmt s(db, "SELECT name, type, size FROM \"_fields\" ORDER BY position", windowsPath);
    StmtUse u(s);
    while (s.step()) {
      FieldDef f;
      f.name = std::string(s.columnText(0));
      if (!typeFromCode(s.columnText(1), f.type)) throw invalid();
      f.size = static_cast<int>(s.columnInt(2));
      out.def.fields.push_back(std::move(f));
    }
  }
  {
    Stmt s(db, "SELECT field FROM \"_primary\" ORDER BY position", windowsPath);
    StmtUse u(s);
    while (s.step()) out.def.primaryKey.emplace_back(s.columnText(0));
  }
  {
    Stmt s(db, "SELECT name, field, is_unique FROM \"_indexes\" ORDER BY rowid", windowsPath);
    StmtUse u(s);
    while (s.step()) {
      std::string name(s.columnText(0));
      if (out.def.indexes.empty() || out.def.indexes.back().name != name)
        out.def.indexes.push_back(IndexDef{name, {}, s.columnInt(2) != 0});
      out.def.indexes.back().fields.emplace_back(s.columnText(1));
    }
  }
  if (out.def.fields.empty()) throw invalid();
  return out;
}

// ---------------------------------------------------------------- Connection

Database openDatabase(const fs::path& file, const std::string& windowsPath, bool create) {
  // Memory statistics cost a global mutex on every allocation; the engine
  // never reads them. Only possible before SQLite's first use.
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  Database db(raw);  // SQLite hands out a handle even when the open fails
  if (rc != SQLITE_OK) {
    db.close();
    if (!create) {
      std::error_code ec;
      if (std::filesystem::exists(file, ec))
        throw EDBEngineError(sqliteFailure(rc, windowsPath, fromUtf8(sqlite3_errstr(rc))));
      throw ETableNotFound(std::string("Tabela não encontrada: "_cp) + windowsPath);
    }
    raiseSqlite(nullptr, rc, windowsPath);
  }
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), 2000);
  // Write-ahead log with synchronous=NORMAL: a commit is appended to the
  // log and has reached the operating system when it returns, so it
  // survives the death of the program, without a disk flush per commit; a
  // power cut may lose the last commits but cannot damage the file. The
  // last connection to close checkpoints the log and removes it and its
  // shared-memory index, so a closed table is a single file again. The log
  // is copied back (with a disk flush) every 32 MB rather than every 4 MB:
  // a run that posts every record flushes the disk far less often.
  // No memory mapping: the pages of a mapped file count as the program's
  // memory, up to the whole mapping for every file open (a large pharmacy's
  // client register alone is 600 MB); read through the 16 MB cache, the
  // repairs take the same time. Deleted records are wiped where the pages
  // are written anyway, not by writing every freed page again.
  int prc = sqlite3_exec(db.get(),
                         "PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;PRAGMA wal_autocheckpoint=8192;"
                         "PRAGMA cache_size=-16384;PRAGMA mmap_size=0;PRAGMA foreign_keys=OFF;"
                         "PRAGMA secure_delete=FAST",
                         nullptr, nullptr, nullptr);
  // The message is taken from the handle before it closes.
  if (prc != SQLITE_OK) raiseSqlite(db.get(), prc, windowsPath);
  if (!create) startCapture(db.get(), windowsPath);
  return db;
}

void removeSideFiles(const fs::path& file) noexcept {
  std::error_code ec;
  for (const char* suffix : {"-journal", "-wal", "-shm"}) fs::remove(fs::path(file.string() + suffix), ec);
}

Connection::Connection(const fs::path& file, const std::string& windowsPath)
    : db_(openDatabase(file, windowsPath, false)), file_(file), windowsPath_(windowsPath) {}

// The control statements are finalized, then the handle closed, by their
// owners.
Connection::~Connection() {
  if (simulating_ || simulationLost_)
    endSimulation();
  else if (txn_ == Txn::Write && pending_ > 0)
    tryCommit();
  else if (txn_ != Txn::None)
    control(kRollback);
}

int Connection::control(Control which) noexcept {
  static constexpr const char* kSql[kControls] = {"BEGIN",
                                                  "BEGIN IMMEDIATE",
                                                  "COMMIT",
                                                  "ROLLBACK",
                                                  "SAVEPOINT cg_simulation",
                                                  "RELEASE cg_simulation",
                                                  "ROLLBACK TO cg_simulation"};
  // The records of the changes go in the transaction they belong to (in a
  // simulation, in the part that a real run would have committed).
  if (which == kCommit || which == kRelease)
    if (int rc = writePendingRecords(db_.get()); rc != SQLITE_OK) return rc;
  // A refill's indexes are back before its rows commit; a rollback brings
  // them back by itself.
  if (which == kCommit && refilling())
    if (int rc = buildRefillIndexes(); rc != SQLITE_OK) return rc;
  if (which == kRollback) endRefill();
  StmtHandle& owned = control_[which];
  if (!owned) {
    sqlite3_stmt* prepared = nullptr;
    int rc = sqlite3_prepare_v2(db_.get(), kSql[which], -1, &prepared, nullptr);
    if (rc != SQLITE_OK) return rc;  // nothing was prepared
    owned.reset(prepared);
  }
  sqlite3_stmt* st = owned.get();
  int rc = sqlite3_step(st);
  // The reset hands the statement's error, message included, to the
  // connection, where the caller reads it.
  int reset = sqlite3_reset(st);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : (reset != SQLITE_OK ? reset : rc);
}

void Connection::control(Control which, const std::string& windowsPath) {
  int rc = control(which);
  if (rc != SQLITE_OK) raiseSqlite(db_.get(), rc, windowsPath);
}

const FileLayout& Connection::layout(const std::string& windowsPath) {
  if (!layout_) {
    readLock(windowsPath);
    try {
      auto read = std::make_unique<FileLayout>(readLayout(db_.get(), windowsPath));
      checkLayout(db_.get(), *read, windowsPath);
      layout_ = std::move(read);
    } catch (...) {
      readDone();
      throw;
    }
    readDone();
  }
  return *layout_;
}

void Connection::syncTransaction() noexcept {
  // SQLite rolls a transaction back by itself after some errors (disk full,
  // I/O error); then there is nothing left to commit.
  if (txn_ != Txn::None && sqlite3_get_autocommit(db_.get())) {
    endRefill();
    if (simulating_) {
      simulating_ = false;
      simulationLost_ = true;
    }
    txn_ = Txn::None;
    pending_ = 0;
  }
}

void Connection::readLock(const std::string& windowsPath) {
  syncTransaction();
  auto now = std::chrono::steady_clock::now();
  const bool outermost = readDepth_++ == 0;
  if (outermost) holdRead_ = now - lastRead_ < kDenseGap;
  // Readers do not hold writers back (write-ahead log), so a read
  // transaction kept open reads an older state of the file: a walk lets it
  // go now and then, and a read after a pause starts afresh.
  if (txn_ == Txn::Read && outermost && (!holdRead_ || now - since_ > kMaxReadHold)) releaseRead();
  if (txn_ != Txn::None) return;
  // A deferred transaction takes the shared lock at its first read.
  control(kBegin, windowsPath);
  ++snapshot_;
  txn_ = Txn::Read;
  since_ = now;
}

void Connection::readDone() noexcept {
  if (readDepth_ > 0 && --readDepth_ > 0) return;
  lastRead_ = std::chrono::steady_clock::now();
  if (!holdRead_) releaseRead();
}

void Connection::releaseRead() noexcept {
  if (txn_ != Txn::Read) return;
  control(kCommit);
  txn_ = Txn::None;
}

void Connection::beginWrite(const std::string& windowsPath) {
  syncTransaction();
  if (txn_ == Txn::Write) return;
  // A group of writes the journal could not record was rolled back by a
  // commit that could not raise (a full group, a time limit): the next
  // write says so instead of going on as if they were on disk.
  if (std::string failure = takeCaptureFailure(db_.get()); !failure.empty()) throw EDBEngineError(failure);
  releaseRead();
  if (simulationLost_ || LocalSimulationActive()) return beginSimulatedWrite(windowsPath);
  control(kBeginImmediate, windowsPath);
  ++snapshot_;
  txn_ = Txn::Write;
  since_ = std::chrono::steady_clock::now();
  pending_ = 0;
}

// The simulation's transaction: taken once, with its first savepoint, and
// held to the end of the simulation.
void Connection::beginSimulatedWrite(const std::string& windowsPath) {
  if (simulationLost_)
    throw EDBEngineError(
        std::string("As alterações simuladas em "_cp) + windowsPath +
        std::string(" foram desfeitas por um erro do disco; a simulação não pode continuar."_cp));
  control(kBeginImmediate, windowsPath);
  if (int rc = control(kSavepoint); rc != SQLITE_OK) {
    control(kRollback);
    raiseSqlite(db_.get(), rc, windowsPath);
  }
  ++snapshot_;
  txn_ = Txn::Write;
  since_ = std::chrono::steady_clock::now();
  pending_ = 0;
  simulating_ = true;
  simulationStarted(db_.get());
  holdForSimulation(shared_from_this());
}

int Connection::nextSavepoint() noexcept {
  if (!simulationMayCommit(db_.get())) {
    rollback();
    return SQLITE_CONSTRAINT_COMMITHOOK;
  }
  int rc = control(kRelease);
  if (rc == SQLITE_OK) rc = control(kSavepoint);
  if (rc != SQLITE_OK) return rc;
  simulationSavepoint(db_.get());
  pending_ = 0;
  faults::wrote();
  since_ = std::chrono::steady_clock::now();
  return SQLITE_OK;
}

void Connection::endSimulation() noexcept {
  // The records of the simulated changes are read before they go.
  if (simulating_ || simulationLost_) simulationEnded(db_.get());
  if (simulating_) control(kRollback);
  simulating_ = simulationLost_ = false;
  txn_ = Txn::None;
  pending_ = 0;
  ++generation_;  // cursors drop what they read of the simulated rows
}

void Connection::startRefill(std::string rebuildSql, const void* owner) {
  refillSql_ = std::move(rebuildSql);
  refillOwner_ = owner;
}

int Connection::buildRefillIndexes() noexcept {
  int rc = sqlite3_exec(db_.get(), refillSql_.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  endRefill();
  return SQLITE_OK;
}

void Connection::settleRefill(const std::string& windowsPath) {
  syncTransaction();
  if (!refilling()) return;
  if (int rc = buildRefillIndexes(); rc != SQLITE_OK) raiseSqlite(db_.get(), rc, windowsPath);
}

void Connection::wrote() noexcept {
  ++pending_;
  faults::wrote();
  if (refilling()) {
    // Records written now and then keep the memory of a long refill small;
    // one that fails is tried again at the commit, which then fails whole.
    if (pending_ % kMaxGroupedWrites == 0) writePendingRecords(db_.get());
    return;
  }
  // The write itself has succeeded; a group that cannot be committed now
  // (an error of the disk) stays open for the next try.
  if (pending_ >= kMaxGroupedWrites || std::chrono::steady_clock::now() - since_ > kMaxWriteHold) tryCommit();
}

void Connection::commit(const std::string& windowsPath) {
  syncTransaction();
  if (txn_ == Txn::Read) {
    releaseRead();
    return;
  }
  if (txn_ != Txn::Write) return;
  if (simulating_) {
    if (int rc = nextSavepoint(); rc != SQLITE_OK) raiseSqlite(db_.get(), rc, windowsPath);
    return;
  }
  control(kCommit, windowsPath);
  txn_ = Txn::None;
  pending_ = 0;
  faults::wrote();
}

void Connection::releaseIfIdle() {
  // A refill's transaction holds the dropped indexes even before its first
  // write.
  if (txn_ == Txn::Write && pending_ == 0 && !simulating_ && !refilling()) {
    control(kRollback);
    txn_ = Txn::None;
  }
}

void Connection::rollback() noexcept {
  if (txn_ == Txn::None) return;
  if (simulating_) {
    control(kRollbackTo);
    simulationRolledBack(db_.get());
    pending_ = 0;
    return;
  }
  control(kRollback);
  txn_ = Txn::None;
  pending_ = 0;
}

bool Connection::tryCommit() noexcept {
  syncTransaction();
  if (txn_ == Txn::None) return true;
  const bool writing = txn_ == Txn::Write;
  if (simulating_) return nextSavepoint() == SQLITE_OK;
  if (control(kCommit) != SQLITE_OK) return false;
  txn_ = Txn::None;
  pending_ = 0;
  if (writing) faults::wrote();
  return true;
}

std::shared_ptr<Connection> Connection::acquire(const fs::path& file, const std::string& windowsPath) {
  std::string key = fileKey(file);
  auto& reg = registry();
  auto it = reg.find(key);
  if (it != reg.end())
    if (auto c = it->second.lock()) return c;
  auto c = std::make_shared<Connection>(file, windowsPath);
  reg[key] = c;
  return c;
}

std::vector<std::shared_ptr<Connection>> Connection::live() {
  std::vector<std::shared_ptr<Connection>> out;
  auto& reg = registry();
  for (auto it = reg.begin(); it != reg.end();) {
    if (auto c = it->second.lock()) {
      out.push_back(std::move(c));
      ++it;
    } else {
      it = reg.erase(it);
    }
  }
  return out;
}

std::shared_ptr<Connection> Connection::find(const fs::path& file) {
  auto& reg = registry();
  auto it = reg.find(fileKey(file));
  return it == reg.end() ? nullptr : it->second.lock();
}

}  // namespace cg::engine
