// The journal file: its schema, the runs, the records the engine's and the
// driver's reports become, and the settling of what a program that died
// left behind.
#include "data/journal/journal.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "data/journal/store.h"
#include "data/sql/firebird.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/faults.h"
#include "platform/ini.h"

namespace cg {

namespace fs = std::filesystem;
using journal::Record;
using journal::TableInfo;

std::string OutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Running:
      return std::string("em andamento");
    case RunOutcome::Completed:
      return std::string("concluída"_cp);
    case RunOutcome::Failed:
      return std::string("parada por erro");
    case RunOutcome::Interrupted:
      return std::string("interrompida");
    case RunOutcome::Died:
      return std::string("não terminou"_cp);
  }
  return {};
}

namespace journal {

std::string joinNames(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += '\n';
    out += names[i];
  }
  return out;
}

std::vector<std::string> splitNames(std::string_view text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    out.emplace_back(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

std::string joinPositions(const std::vector<int>& positions) {
  std::string out;
  for (size_t i = 0; i < positions.size(); ++i) {
    if (i) out += ',';
    out += std::to_string(positions[i]);
  }
  return out;
}

std::vector<int> splitPositions(std::string_view text) {
  std::vector<int> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    out.push_back(std::stoi(std::string(text.substr(start, comma - start))));
    start = comma + 1;
  }
  return out;
}

ImageValue columnValue(sqlite3_stmt* st, int column) {
  ImageValue v;
  switch (sqlite3_column_type(st, column)) {
    case SQLITE_INTEGER:
      v.kind = ImageValue::Integer;
      v.integer = sqlite3_column_int64(st, column);
      break;
    case SQLITE_FLOAT:
      v.kind = ImageValue::Real;
      v.real = sqlite3_column_double(st, column);
      break;
    case SQLITE_TEXT: {
      v.kind = ImageValue::Text;
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
      v.bytes.assign(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, column)));
      break;
    }
    case SQLITE_BLOB: {
      v.kind = ImageValue::Blob;
      const auto* p = static_cast<const char*>(sqlite3_column_blob(st, column));
      v.bytes.assign(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, column)));
      break;
    }
    default:
      break;
  }
  return v;
}

void bindValue(sqlite3_stmt* st, int index, const ImageValue& value) {
  switch (value.kind) {
    case ImageValue::Null:
      sqlite3_bind_null(st, index);
      break;
    case ImageValue::Integer:
      sqlite3_bind_int64(st, index, value.integer);
      break;
    case ImageValue::Real:
      sqlite3_bind_double(st, index, value.real);
      break;
    case ImageValue::Text:
      sqlite3_bind_text(st, index, value.bytes.data(), static_cast<int>(value.bytes.size()),
                        SQLITE_TRANSIENT);
      break;
    case ImageValue::Blob:
      sqlite3_bind_blob(st, index, value.bytes.data(), static_cast<int>(value.bytes.size()),
                        SQLITE_TRANSIENT);
      break;
  }
}

std::string valueText(const ImageValue& value) {
  switch (value.kind) {
    case ImageValue::Null:
      return {};
    case ImageValue::Integer:
      return IntToStr(value.integer);
    case ImageValue::Real: {
      // The shortest form that reads back as the same double, in pt-BR.
      char text[40];
      for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*G", digits, value.real);
        if (std::strtod(text, nullptr) == value.real) break;
      }
      std::string out(text);
      for (char& c : out)
        if (c == '.') c = ',';
      return out;
    }
    case ImageValue::Text:
      return value.bytes;
    case ImageValue::Blob: {
      static const char* hex = "0123456789ABCDEF";
      std::string out = "X'";
      for (unsigned char c : value.bytes) {
        out += hex[c >> 4];
        out += hex[c & 15];
      }
      return out + "'";
    }
  }
  return {};
}

ImageValue serverValue(const SQLValue& value) {
  ImageValue v;
  if (value) {
    v.kind = ImageValue::Text;
    v.bytes = *value;
  }
  return v;
}

SQLValue sqlValue(const ImageValue& value) {
  if (value.kind == ImageValue::Null) return std::nullopt;
  if (value.kind == ImageValue::Text || value.kind == ImageValue::Blob) return value.bytes;
  return valueText(value);
}

const ImageValue* valueAt(const RowImage& image, int position) {
  for (const auto& [p, v] : image)
    if (p == position) return &v;
  return nullptr;
}

std::string stamp(TDateTime t) { return DateToStr(t) + " " + TimeToStr(t); }

}  // namespace journal

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE runs(
  number INTEGER PRIMARY KEY,
  command TEXT NOT NULL,
  caption TEXT NOT NULL,
  started TEXT NOT NULL,
  started_unix INTEGER NOT NULL,
  ended TEXT NOT NULL DEFAULT '',
  outcome INTEGER NOT NULL DEFAULT 0,
  message TEXT NOT NULL DEFAULT '',
  drive_c TEXT NOT NULL DEFAULT '',
  transport TEXT NOT NULL DEFAULT '',
  undoes INTEGER NOT NULL DEFAULT 0,
  undone_by INTEGER NOT NULL DEFAULT 0,
  simulation INTEGER NOT NULL DEFAULT 0,
  pid INTEGER NOT NULL DEFAULT 0);
CREATE TABLE tables(
  id INTEGER PRIMARY KEY,
  place TEXT NOT NULL,
  name TEXT NOT NULL,
  data_table TEXT NOT NULL,
  fields TEXT NOT NULL,
  key_fields TEXT NOT NULL);
CREATE INDEX tables_name ON tables(place, name);
CREATE TABLE batches(
  id INTEGER PRIMARY KEY,
  run INTEGER NOT NULL,
  place TEXT NOT NULL,
  confirmed INTEGER NOT NULL DEFAULT 0);
CREATE INDEX batches_unconfirmed ON batches(confirmed) WHERE confirmed = 0;
CREATE TABLE changes(
  seq INTEGER PRIMARY KEY,
  run INTEGER NOT NULL,
  batch INTEGER NOT NULL,
  tbl INTEGER NOT NULL,
  row_id INTEGER,
  key BLOB NOT NULL,
  op TEXT NOT NULL,
  before BLOB,
  after BLOB,
  src_hash INTEGER);
CREATE INDEX changes_run ON changes(run, tbl, op);
CREATE TABLE collecting(
  file TEXT PRIMARY KEY,
  last INTEGER NOT NULL);
CREATE TABLE run_files(
  run INTEGER NOT NULL,
  tbl INTEGER NOT NULL,
  collected INTEGER NOT NULL DEFAULT 0,
  after_seq INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(run, tbl));
CREATE TABLE copies(
  id INTEGER PRIMARY KEY,
  run INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  tbl INTEGER NOT NULL,
  file TEXT NOT NULL,
  digest TEXT NOT NULL DEFAULT '',
  copy_digest TEXT NOT NULL DEFAULT '');
CREATE TABLE conflicts(
  run INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  PRIMARY KEY(run, seq));
CREATE TABLE numbers(last_run INTEGER NOT NULL);
INSERT INTO numbers VALUES (0);
CREATE TRIGGER runs_numbered AFTER INSERT ON runs BEGIN
  UPDATE numbers SET last_run = max(last_run, NEW.number);
END;
PRAGMA user_version = 2;
)";

// A journal of the first format: its copies get the digest of what they hold
// (unknown for those taken before: empty); its files noted, the last record
// each held before the run (unknown: 0).
constexpr const char* kUpgradeFrom1 = R"(
ALTER TABLE copies ADD COLUMN copy_digest TEXT NOT NULL DEFAULT '';
ALTER TABLE run_files ADD COLUMN after_seq INTEGER NOT NULL DEFAULT 0;
CREATE TABLE conflicts(run INTEGER NOT NULL, seq INTEGER NOT NULL, PRIMARY KEY(run, seq));
CREATE TABLE numbers(last_run INTEGER NOT NULL);
INSERT INTO numbers SELECT coalesce(max(number), 0) FROM runs;
CREATE TRIGGER runs_numbered AFTER INSERT ON runs BEGIN
  UPDATE numbers SET last_run = max(last_run, NEW.number);
END;
PRAGMA user_version = 2;
)";

// SQLite's own words on the journal, after a sentence of ours.
std::string sqliteReason(int rc, const std::string& english) {
  std::string why;
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      why = std::string("o arquivo está bloqueado por outro programa"_cp);
      break;
    case SQLITE_CANTOPEN:
      why = std::string("o arquivo não pôde ser aberto nem criado"_cp);
      break;
    case SQLITE_FULL:
      why = std::string("disco cheio");
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      why = std::string("o arquivo ou a sua pasta não pode ser gravado"_cp);
      break;
    case SQLITE_IOERR:
      why = errno == ENOSPC ? std::string("disco cheio")
                            : std::string("o disco não pôde ser lido ou gravado"_cp);
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      why = std::string("o arquivo está danificado ou não é um histórico deste programa"_cp);
      break;
    default:
      return english;
  }
  return why + " (" + english + ")";
}

[[noreturn]] void raiseJournal(const std::string& what) {
  throw EJournalError(std::string("Erro no histórico "_cp) + journal::kFile + ": " + what);
}

bool processAlive(int64_t pid) {
  if (pid <= 0 || pid == static_cast<int64_t>(::getpid())) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::string transportName() {
  try {
    return ReadSQLTransport().embedded ? "embedded" : "server";
  } catch (const Exception&) {
    return {};
  }
}

std::string_view blobOf(sqlite3_stmt* st, int column) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(st, column));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(st, column))) : std::string_view();
}

// An empty image is an empty blob, not null.
void bindBlob(sqlite3_stmt* st, int index, std::string_view bytes) {
  sqlite3_bind_blob(st, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                    SQLITE_TRANSIENT);
}

}  // namespace

// ------------------------------------------------------------ the file

Journal::Impl::Impl() {
  localSink.j = this;
  serverSink.j = this;
}

Journal::Impl::~Impl() = default;

void Journal::Impl::exec(const char* sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(db.get(), sql, nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string what = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    raiseJournal(sqliteReason(rc, what));
  }
}

engine::Stmt& Journal::Impl::stmt(const char* sql) {
  auto it = statements.find(std::string_view(sql));
  if (it == statements.end()) it = statements.emplace(sql, engine::Stmt(db.get(), sql, windowsPath)).first;
  return it->second;
}

void Journal::Impl::begin() {
  if (inTransaction) return;
  exec("BEGIN IMMEDIATE");
  inTransaction = true;
}

void Journal::Impl::commit() {
  if (!inTransaction && confirmedBatches.empty() && finishedCollections.empty()) return;
  begin();
  for (const std::string& f : finishedCollections) {
    engine::Stmt& s = stmt("DELETE FROM collecting WHERE file = ?");
    engine::StmtUse use(s);
    s.bindText(1, f);
    s.step();
  }
  finishedCollections.clear();
  if (!confirmedBatches.empty()) {
    engine::Stmt& s = stmt("UPDATE batches SET confirmed = 1 WHERE id = ?");
    for (int64_t id : confirmedBatches) {
      engine::StmtUse use(s);
      s.bindInt(1, id);
      s.step();
    }
  }
  exec("COMMIT");
  inTransaction = false;
  confirmedBatches.clear();
}

void Journal::Impl::rollback() noexcept {
  if (!inTransaction) return;
  sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction = false;
}

// ------------------------------------------------------------ runs

int64_t Journal::Impl::beginRun(const std::string& command, const std::string& caption, int64_t undoes,
                                bool simulation) {
  if (run && !implicitRun) raiseJournal(std::string("uma execução já está em andamento"_cp));
  if (run) endRun(RunOutcome::Completed, {});
  begin();
  engine::Stmt& s = stmt(
      "INSERT INTO runs(number, command, caption, started, started_unix, drive_c, transport, undoes, pid, "
      "simulation) "
      "VALUES (" CG_NEXT_RUN ", ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  {
    engine::StmtUse use(s);
    TDateTime now = Clock::now();
    s.bindText(1, command);
    s.bindText(2, caption);
    s.bindText(3, journal::stamp(now));
    s.bindInt(4, DateTimeToUnix(now));
    s.bindText(5, fromUtf8(DriveC::root().string()));
    s.bindText(6, transportName());
    s.bindInt(7, undoes);
    s.bindInt(8, ::getpid());
    s.bindInt(9, simulation ? 1 : 0);
    s.step();
  }
  run = sqlite3_last_insert_rowid(db.get());
  implicitRun = false;
  simulatedRun = simulation;
  commit();
  return run;
}

void Journal::Impl::endRun(RunOutcome outcome, const std::string& given) {
  if (!run) return;
  std::string message = given;
  if (failure && outcome == RunOutcome::Completed) {
    outcome = RunOutcome::Failed;
    message = *failure;
  }
  failure.reset();
  // A simulated run's records come from the simulation's end, never from
  // the files (which a simulation still under way holds locked).
  if (!simulatedRun) collect(run);
  begin();
  engine::Stmt& s = stmt("UPDATE runs SET ended = ?, outcome = ?, message = ? WHERE number = ?");
  {
    engine::StmtUse use(s);
    s.bindText(1, journal::stamp(Clock::now()));
    s.bindInt(2, static_cast<int>(outcome));
    s.bindText(3, message);
    s.bindInt(4, run);
    s.step();
  }
  commit();
  run = 0;
  implicitRun = false;
  simulatedRun = false;
}

int64_t Journal::Impl::ensureRun() {
  if (!run) {
    beginRun("", std::string("Alterações fora de um comando"_cp), 0);
    implicitRun = true;
  }
  return run;
}

// ------------------------------------------------------------ tables

Journal::Impl::LocalTable& Journal::Impl::localTable(const ChangedTable& table) {
  auto& slot = localTables[&table];
  // The address may stand for another table since: the names tell.
  if (slot && slot->windowsPath == table.windowsPath && slot->dataTable == table.dataTable &&
      slot->fields == table.fields.size())
    return *slot;
  auto entry = std::make_unique<LocalTable>();
  entry->windowsPath = table.windowsPath;
  entry->dataTable = table.dataTable;
  entry->fields = table.fields.size();
  entry->file = table.file;
  TableInfo& info = entry->info;
  info.place = 'L';
  info.name = table.windowsPath;
  // One file, one name: the name the journal knows it by already, however
  // the program spells it now (COMPONEN.DB, Componen.DB).
  {
    engine::Stmt& known = stmt("SELECT DISTINCT name FROM tables WHERE place = 'L' AND data_table = ?");
    engine::StmtUse use(known);
    known.bindText(1, table.dataTable);
    std::error_code ec;
    while (known.step()) {
      const std::string name(known.columnText(0));
      if (name == table.windowsPath) break;
      try {
        if (fs::equivalent(journal::liveFile(name), table.file, ec)) {
          info.name = name;
          break;
        }
      } catch (const Exception&) {
        continue;
      }
    }
  }
  info.dataTable = table.dataTable;
  info.fields = table.fields;
  info.key = table.primaryKey;
  info.id = localTableId(info);
  slot = std::move(entry);
  return *slot;
}

int64_t Journal::Impl::localTableId(const TableInfo& info) {
  std::string fields = journal::joinNames(info.fields), key = journal::joinPositions(info.key);
  engine::Stmt& find = stmt(
      "SELECT id FROM tables WHERE place = 'L' AND name = ? AND data_table = ? AND fields = ? AND key_fields "
      "= ?");
  {
    engine::StmtUse use(find);
    find.bindText(1, info.name);
    find.bindText(2, info.dataTable);
    find.bindText(3, fields);
    find.bindText(4, key);
    if (find.step()) return find.columnInt(0);
  }
  engine::Stmt& add =
      stmt("INSERT INTO tables(place, name, data_table, fields, key_fields) VALUES ('L', ?, ?, ?, ?)");
  engine::StmtUse use(add);
  add.bindText(1, info.name);
  add.bindText(2, info.dataTable);
  add.bindText(3, fields);
  add.bindText(4, key);
  add.step();
  return sqlite3_last_insert_rowid(db.get());
}

Journal::Impl::ServerTable& Journal::Impl::serverTable(const std::string& name) {
  auto it = serverTables.find(name);
  if (it != serverTables.end()) return it->second;
  ServerTable t;
  t.info.place = 'S';
  t.info.name = t.info.dataTable = name;
  engine::Stmt& find = stmt("SELECT id, fields, key_fields FROM tables WHERE place = 'S' AND name = ?");
  {
    engine::StmtUse use(find);
    find.bindText(1, name);
    if (find.step()) {
      t.info.id = find.columnInt(0);
      t.info.fields = journal::splitNames(find.columnText(1));
      t.info.key = journal::splitPositions(find.columnText(2));
    }
  }
  if (!t.info.id) {
    engine::Stmt& add =
        stmt("INSERT INTO tables(place, name, data_table, fields, key_fields) VALUES ('S', ?, ?, '', '')");
    engine::StmtUse use(add);
    add.bindText(1, name);
    add.bindText(2, name);
    add.step();
    t.info.id = sqlite3_last_insert_rowid(db.get());
  }
  for (size_t i = 0; i < t.info.fields.size(); ++i) t.positions[t.info.fields[i]] = static_cast<int>(i);
  return serverTables.emplace(name, std::move(t)).first->second;
}

// A server table's columns only grow: a position once given keeps its name.
int Journal::Impl::serverPosition(ServerTable& table, const std::string& column) {
  auto it = table.positions.find(column);
  if (it != table.positions.end()) return it->second;
  int position = static_cast<int>(table.info.fields.size());
  table.info.fields.push_back(column);
  table.positions.emplace(column, position);
  engine::Stmt& s = stmt("UPDATE tables SET fields = ? WHERE id = ?");
  engine::StmtUse use(s);
  s.bindText(1, journal::joinNames(table.info.fields));
  s.bindInt(2, table.info.id);
  s.step();
  tableCache.erase(table.info.id);
  return position;
}

TableInfo Journal::Impl::tableById(int64_t id) {
  auto cached = tableCache.find(id);
  if (cached != tableCache.end()) return cached->second;
  engine::Stmt& s = stmt("SELECT place, name, data_table, fields, key_fields FROM tables WHERE id = ?");
  engine::StmtUse use(s);
  s.bindInt(1, id);
  TableInfo t;
  if (!s.step())
    raiseJournal(std::string("o histórico está incompleto: falta a descrição da tabela número "_cp) +
                 std::to_string(id));
  t.id = id;
  t.place = s.columnText(0).empty() ? 'L' : s.columnText(0)[0];
  t.name = std::string(s.columnText(1));
  t.dataTable = std::string(s.columnText(2));
  t.fields = journal::splitNames(s.columnText(3));
  t.key = journal::splitPositions(s.columnText(4));
  tableCache[id] = t;
  return t;
}

// ------------------------------------------------------------ batches and records

int64_t Journal::Impl::newBatch(char place) {
  engine::Stmt& s = stmt("INSERT INTO batches(run, place) VALUES (?, ?)");
  engine::StmtUse use(s);
  s.bindInt(1, run);
  s.bindText(2, std::string(1, place));
  s.step();
  return sqlite3_last_insert_rowid(db.get());
}

void Journal::Impl::dropBatch(int64_t id) {
  begin();
  // By the batch's run: the records are indexed by run.
  for (const char* sql :
       {"DELETE FROM changes WHERE run = (SELECT run FROM batches WHERE id = ?1) AND batch = ?1",
        "DELETE FROM batches WHERE id = ?1"}) {
    engine::Stmt& s = stmt(sql);
    engine::StmtUse use(s);
    s.bindInt(1, id);
    s.step();
  }
}

void Journal::Impl::insertRecord(int64_t batch, int64_t table, std::optional<int64_t> rowid, char op,
                                 std::string_view key, std::string_view before, std::string_view after) {
  if (!insertChange)
    insertChange = &stmt(
        "INSERT INTO changes(run, batch, tbl, row_id, key, op, before, after) VALUES (?, ?, ?, ?, ?, ?, ?, "
        "?)");
  engine::Stmt& s = *insertChange;
  engine::StmtUse use(s);
  sqlite3_stmt* st = s.get();
  sqlite3_bind_int64(st, 1, run);
  sqlite3_bind_int64(st, 2, batch);
  sqlite3_bind_int64(st, 3, table);
  if (rowid)
    sqlite3_bind_int64(st, 4, *rowid);
  else
    sqlite3_bind_null(st, 4);
  bindBlob(st, 5, key);
  char opText[2] = {op, 0};
  sqlite3_bind_text(st, 6, opText, 1, SQLITE_TRANSIENT);
  if (op == 'I' || op == 'R')
    sqlite3_bind_null(st, 7);
  else
    bindBlob(st, 7, before);
  if (op == 'D' || op == 'R')
    sqlite3_bind_null(st, 8);
  else
    bindBlob(st, 8, after);
  s.step();
}

namespace {

Record readRecord(sqlite3_stmt* st) {
  Record r;
  r.seq = sqlite3_column_int64(st, 0);
  r.run = sqlite3_column_int64(st, 1);
  r.batch = sqlite3_column_int64(st, 2);
  r.table = sqlite3_column_int64(st, 3);
  if (sqlite3_column_type(st, 4) != SQLITE_NULL) r.rowid = sqlite3_column_int64(st, 4);
  r.key = DecodeImage(blobOf(st, 5));
  const auto* op = reinterpret_cast<const char*>(sqlite3_column_text(st, 6));
  r.op = op && *op ? *op : 'U';
  r.before = DecodeImage(blobOf(st, 7));
  r.after = DecodeImage(blobOf(st, 8));
  return r;
}

}  // namespace

void Journal::Impl::eachConflict(int64_t number, const std::function<bool(const Record&)>& f) {
  engine::Stmt s(
      db.get(),
      "SELECT c.seq, c.run, c.batch, c.tbl, c.row_id, c.key, c.op, c.before, c.after FROM conflicts x "
      "JOIN changes c ON c.seq = x.seq WHERE x.run = ? ORDER BY x.seq",
      windowsPath);
  s.bindInt(1, number);
  while (s.step())
    if (!f(readRecord(s.get()))) break;
}

bool Journal::Impl::touchedServer(int64_t number) {
  engine::Stmt& s =
      stmt("SELECT 1 FROM changes c JOIN tables t ON t.id = c.tbl WHERE c.run = ? AND t.place = 'S' LIMIT 1");
  engine::StmtUse use(s);
  s.bindInt(1, number);
  return s.step();
}

std::vector<Record> Journal::Impl::records(int64_t number) {
  engine::Stmt& s = stmt(
      "SELECT seq, run, batch, tbl, row_id, key, op, before, after FROM changes WHERE run = "
      "?" CG_SETTLED_RECORD " ORDER BY seq");
  engine::StmtUse use(s);
  s.bindInt(1, number);
  std::vector<Record> out;
  while (s.step()) out.push_back(readRecord(s.get()));
  return out;
}

void Journal::Impl::eachRecord(int64_t number, const std::function<bool(const Record&)>& f) {
  // A statement of its own: `f` may use the kept ones.
  engine::Stmt s(db.get(),
                 "SELECT seq, run, batch, tbl, row_id, key, op, before, after FROM changes WHERE run = "
                 "?" CG_SETTLED_RECORD " ORDER BY seq",
                 windowsPath);
  s.bindInt(1, number);
  while (s.step())
    if (!f(readRecord(s.get()))) break;
}

std::vector<Record> Journal::Impl::batchRecords(int64_t batch) {
  engine::Stmt& s = stmt(
      "SELECT seq, run, batch, tbl, row_id, key, op, before, after FROM changes WHERE run = (SELECT run FROM "
      "batches WHERE id = ?1) AND batch = ?1 ORDER BY "
      "seq");
  engine::StmtUse use(s);
  s.bindInt(1, batch);
  std::vector<Record> out;
  while (s.step()) out.push_back(readRecord(s.get()));
  return out;
}

// ------------------------------------------------------------ local records

namespace {

// 64-bit FNV-1a, continued over `bytes`.
uint64_t fnv(uint64_t h, std::string_view bytes) {
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

}  // namespace

namespace {

// The last record kept in a table file's records' table as last committed
// (0: none), read through a connection of its own.
int64_t lastRecord(const fs::path& file) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  engine::Database db(raw);
  if (rc != SQLITE_OK) return 0;
  sqlite3_busy_timeout(raw, 5000);
  sqlite3_stmt* st = nullptr;
  int64_t last = 0;
  if (sqlite3_prepare_v2(raw, "SELECT max(seq) FROM _journal", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    last = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return last;
}

}  // namespace

void Journal::Impl::touched(const ChangedTable& table) {
  ensureRun();
  LocalTable& t = localTable(table);
  if (!t.touchedIn.insert(run).second) return;
  // Records the file holds before this run's first change in it are not
  // this run's, whatever run number they carry (a journal lost and begun
  // again numbers its runs from 1).
  const int64_t last = lastRecord(t.file);
  begin();
  engine::Stmt& s = stmt("INSERT OR IGNORE INTO run_files(run, tbl, after_seq) VALUES (?, ?, ?)");
  {
    engine::StmtUse use(s);
    s.bindInt(1, run);
    s.bindInt(2, t.info.id);
    s.bindInt(3, last);
    s.step();
  }
  // Synced before the file's first change of the run can commit: whatever
  // happens next, the journal knows where the run's records are.
  commit();
}

namespace {

// cg_hash(values...): 64-bit FNV-1a over the values' bytes, for telling a
// record collected twice (after a crash between the two commits of a
// collection) from a new one.
void hashFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  uint64_t h = 14695981039346656037ULL;
  for (int i = 0; i < argc; ++i) {
    const int type = sqlite3_value_type(argv[i]);
    if (type == SQLITE_INTEGER) {
      int64_t n = sqlite3_value_int64(argv[i]);
      h = fnv(h, std::string_view(reinterpret_cast<const char*>(&n), sizeof n));
    } else {
      const void* p = sqlite3_value_blob(argv[i]);
      int n = sqlite3_value_bytes(argv[i]);
      h = fnv(h,
              p ? std::string_view(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string_view());
      h = fnv(h, std::string_view(reinterpret_cast<const char*>(&n), sizeof n));
    }
  }
  sqlite3_result_int64(ctx, static_cast<int64_t>(h));
}

}  // namespace

void Journal::Impl::localSimulated(const ChangedTable& table,
                                   const std::vector<LocalChangeSink::Record>& records) noexcept {
  try {
    LocalTable& t = localTable(table);
    begin();
    std::map<int64_t, int64_t> batchOfRun;
    engine::Stmt& ins = stmt(
        "INSERT INTO changes(run, batch, tbl, row_id, key, op, before, after) VALUES (?, ?, ?, ?, ?, ?, ?, "
        "?)");
    for (const LocalChangeSink::Record& r : records) {
      auto& batch = batchOfRun[r.run];
      if (!batch) {
        engine::Stmt& b = stmt("INSERT INTO batches(run, place, confirmed) VALUES (?, 'L', 1)");
        engine::StmtUse use(b);
        b.bindInt(1, r.run);
        b.step();
        batch = sqlite3_last_insert_rowid(db.get());
      }
      engine::StmtUse use(ins);
      sqlite3_stmt* is = ins.get();
      sqlite3_bind_int64(is, 1, r.run);
      sqlite3_bind_int64(is, 2, batch);
      sqlite3_bind_int64(is, 3, t.info.id);
      sqlite3_bind_int64(is, 4, r.rowid);
      bindBlob(is, 5, r.key);
      char op[2] = {r.op, 0};
      sqlite3_bind_text(is, 6, op, 1, SQLITE_TRANSIENT);
      if (r.op == 'I')
        sqlite3_bind_null(is, 7);
      else
        bindBlob(is, 7, r.before);
      if (r.op == 'D')
        sqlite3_bind_null(is, 8);
      else
        bindBlob(is, 8, r.after);
      ins.step();
    }
    commit();
  } catch (...) {
    rollback();
  }
}

void Journal::Impl::collectFile(const fs::path& file) {
  // A connection of its own, not watched by the engine, holds the file's
  // write lock while the journal copies the records (the records' table is
  // the engine's: emptying it is no change of the user's data).
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  engine::Database lock(raw);
  if (rc != SQLITE_OK) return;  // gone or unreadable: the records wait
  sqlite3_busy_timeout(raw, 5000);
  // Records deleted here and found again after a power cut are collected
  // once only (changes.src_hash): no disk flush needed for the delete.
  sqlite3_exec(raw, "PRAGMA synchronous=NORMAL;PRAGMA secure_delete=FAST", nullptr, nullptr, nullptr);
  {
    engine::Stmt probe(raw, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '_journal'",
                       file.string());
    engine::StmtUse use(probe);
    if (!probe.step()) return;
  }
  if (sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  struct Rollback {
    sqlite3* db;
    bool done = false;
    ~Rollback() {
      if (!done) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } guard{raw};
  int64_t last = 0;
  {
    engine::Stmt top(raw, "SELECT max(seq) FROM _journal", file.string());
    engine::StmtUse use(top);
    if (top.step()) last = top.columnInt(0);
  }
  if (!last) return;
  const std::string hostPath = fromUtf8(file.string());
  TableInfo info = journal::describe(raw, hostPath);
  info.name.clear();
  // The file as the journal names it: the name it was noted by.
  {
    engine::Stmt& named = stmt(
        "SELECT DISTINCT t.name FROM run_files f JOIN tables t ON t.id = f.tbl WHERE t.place = 'L' AND "
        "t.data_table = ?");
    engine::StmtUse use(named);
    named.bindText(1, info.dataTable);
    std::error_code ec;
    while (named.step())
      if (fs::equivalent(journal::liveFile(std::string(named.columnText(0))), file, ec)) {
        info.name = std::string(named.columnText(0));
        break;
      }
  }
  if (info.name.empty()) info.name = hostPath;
  // Copied by SQLite itself, the file attached to the journal's connection
  // (the write lock above keeps it as it is meanwhile).
  commit();
  {
    engine::Stmt attach(db.get(), "ATTACH DATABASE ?1 AS src", windowsPath);
    attach.bindText(1, file.string());
    engine::StmtUse use(attach);
    attach.step();
  }
  struct Detach {
    Impl& j;
    ~Detach() {
      j.rollback();
      sqlite3_exec(j.db.get(), "DETACH DATABASE src", nullptr, nullptr, nullptr);
    }
  } detach{*this};
  // Deferred: an immediate transaction would take the attached file's write
  // lock too, which the connection above holds.
  exec("BEGIN");
  inTransaction = true;
  const int64_t table = localTableId(info);
  // The runs whose records these are: a run that noted the file, for the
  // records after those the file held when it did. Any other record was
  // left by a run this journal does not know, and goes to a run of its own.
  exec(
      "CREATE TEMP TABLE IF NOT EXISTS cg_owner(run INTEGER PRIMARY KEY, after_seq INTEGER NOT NULL);"
      "CREATE TEMP TABLE IF NOT EXISTS cg_lost(recorded INTEGER PRIMARY KEY, run INTEGER NOT NULL);"
      "DELETE FROM temp.cg_owner; DELETE FROM temp.cg_lost;");
  {
    std::map<int64_t, int64_t> owners;
    {
      engine::Stmt& s = stmt(
          "SELECT f.run, f.after_seq, t.name FROM run_files f JOIN tables t ON t.id = f.tbl WHERE t.place = "
          "'L' AND t.data_table = ?");
      engine::StmtUse use(s);
      s.bindText(1, info.dataTable);
      std::error_code ec;
      while (s.step())
        if (fs::equivalent(journal::liveFile(std::string(s.columnText(2))), file, ec)) {
          auto [at, fresh] = owners.emplace(s.columnInt(0), s.columnInt(1));
          if (!fresh) at->second = std::min(at->second, s.columnInt(1));
        }
    }
    engine::Stmt& add = stmt("INSERT INTO temp.cg_owner(run, after_seq) VALUES (?, ?)");
    for (const auto& [owner, after] : owners) {
      engine::StmtUse use(add);
      add.bindInt(1, owner);
      add.bindInt(2, after);
      add.step();
    }
    std::vector<int64_t> lost;
    {
      engine::Stmt s(
          db.get(),
          "SELECT DISTINCT j.run FROM src._journal j WHERE j.seq <= ?1 AND NOT EXISTS (SELECT 1 FROM "
          "temp.cg_owner o WHERE o.run = j.run AND j.seq > o.after_seq)",
          windowsPath);
      s.bindInt(1, last);
      while (s.step()) lost.push_back(s.columnInt(0));
    }
    engine::Stmt& map = stmt("INSERT INTO temp.cg_lost(recorded, run) VALUES (?, ?)");
    for (int64_t recorded : lost) {
      const int64_t own = orphanRun(recorded);
      engine::StmtUse use(map);
      map.bindInt(1, recorded);
      map.bindInt(2, own);
      map.step();
    }
  }
#define CG_OWNER                                                                                        \
  "(CASE WHEN EXISTS (SELECT 1 FROM temp.cg_owner o WHERE o.run = j.run AND j.seq > o.after_seq) THEN " \
  "j.run ELSE (SELECT l.run FROM temp.cg_lost l WHERE l.recorded = j.run) END)"
  {
    engine::Stmt batches(db.get(),
                         "INSERT INTO batches(run, place, confirmed) SELECT DISTINCT " CG_OWNER
                         ", 'L', 1 FROM src._journal j WHERE j.seq <= ?1",
                         windowsPath);
    batches.bindInt(1, last);
    engine::StmtUse use(batches);
    batches.step();
  }
  // A collection of this file that was cut short (the program died after
  // the journal's commit, before the file's) left a mark: the records up
  // to that mark may be in the journal already, and are taken only when
  // they are not.
  const std::string fileKey = file.string();
  int64_t doneUpTo = 0;
  {
    engine::Stmt& mark = stmt("SELECT last FROM collecting WHERE file = ?");
    engine::StmtUse use(mark);
    mark.bindText(1, fileKey);
    if (mark.step()) doneUpTo = mark.columnInt(0);
  }
  engine::Stmt copy(
      db.get(),
      "INSERT INTO changes(run, batch, tbl, row_id, key, op, before, after, src_hash) "
      "SELECT " CG_OWNER ", (SELECT max(id) FROM batches b WHERE b.run = " CG_OWNER
      " AND b.place = 'L'), ?1, "
      "j.row_id, j.key, j.op, CASE WHEN j.op = 'I' THEN NULL ELSE j.before END, "
      "CASE WHEN j.op = 'D' THEN NULL ELSE j.after END, "
      "cg_hash(j.seq, j.run, j.op, j.row_id, j.key, j.before, j.after) "
      "FROM src._journal j WHERE j.seq <= ?2 AND (j.seq > ?3 OR NOT EXISTS (SELECT 1 FROM changes c "
      "WHERE c.run = " CG_OWNER
      " AND c.tbl = ?1 AND c.src_hash = "
      "cg_hash(j.seq, j.run, j.op, j.row_id, j.key, j.before, j.after))) ORDER BY j.seq",
      windowsPath);
  copy.bindInt(1, table);
  copy.bindInt(2, last);
  copy.bindInt(3, doneUpTo);
  {
    engine::StmtUse use(copy);
    copy.step();
  }
  {
    engine::Stmt& mark = stmt("INSERT OR REPLACE INTO collecting(file, last) VALUES (?, ?)");
    engine::StmtUse use(mark);
    mark.bindText(1, fileKey);
    mark.bindInt(2, last);
    mark.step();
  }
  {
    // Emptied, the records' table numbers its next records from 1 again.
    engine::Stmt& mark = stmt("UPDATE run_files SET collected = 1, after_seq = 0 WHERE tbl = ?");
    engine::StmtUse use(mark);
    mark.bindInt(1, table);
    mark.step();
  }
  // In the journal (synced) first; only then out of the file.
  commit();
  // Every record is up to `last`: the file's write lock has been held since
  // it was read. Deleted whole, the table's pages go to the free list
  // unwritten (no hook watches this connection), rather than each page
  // being rewritten record by record: a large run's records are hundreds
  // of megabytes.
  engine::Stmt clear(raw, "DELETE FROM _journal", hostPath);
  {
    engine::StmtUse use(clear);
    clear.step();
  }
  if (sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  guard.done = true;
  faults::wrote();  // a crash test's kill point: collected and removed, its mark still kept
  // The collection is whole: its mark goes with the journal's next commit.
  finishedCollections.push_back(fileKey);
}

#undef CG_OWNER

void Journal::Impl::noteLostHistory() {
  // The copies of replaced registers outlive a journal deleted or emptied:
  // their names carry the numbers of the runs that took them.
  int64_t last = 0;
  std::error_code ec;
  const fs::path copies = DriveC::resolve(journal::kCopies);
  for (fs::directory_iterator it(copies, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 4 || (name[0] != 'R' && name[0] != 'r')) continue;
    const int64_t number = std::atoll(name.c_str() + 1);
    if (number > 0 && name.find('-') != std::string::npos) last = std::max(last, number);
  }
  if (!last) return;
  {
    engine::Stmt& s = stmt("UPDATE numbers SET last_run = ?");
    engine::StmtUse use(s);
    s.bindInt(1, last);
    s.step();
  }
  engine::Stmt& s = stmt(
      "INSERT INTO runs(number, command, caption, started, started_unix, ended, outcome, drive_c, transport, "
      "pid) VALUES (" CG_NEXT_RUN ", '', ?, ?, ?, ?, ?, ?, ?, 0)");
  engine::StmtUse use(s);
  TDateTime now = Clock::now();
  s.bindText(1,
             std::string("Histórico começado de novo: o anterior foi apagado ou perdido, as execuções até a "
                         "número "_cp) +
                 std::to_string(last) + std::string(" não estão nele"_cp));
  s.bindText(2, journal::stamp(now));
  s.bindInt(3, DateTimeToUnix(now));
  s.bindText(4, journal::stamp(now));
  s.bindInt(5, static_cast<int>(RunOutcome::Completed));
  s.bindText(6, fromUtf8(DriveC::root().string()));
  s.bindText(7, transportName());
  s.step();
}

int64_t Journal::Impl::orphanRun(int64_t recorded) {
  auto known = orphanRuns.find(recorded);
  if (known != orphanRuns.end()) return known->second;
  engine::Stmt& s = stmt(
      "INSERT INTO runs(number, command, caption, started, started_unix, ended, outcome, drive_c, transport, "
      "pid) VALUES (" CG_NEXT_RUN ", '', ?, ?, ?, ?, ?, ?, ?, 0)");
  {
    engine::StmtUse use(s);
    TDateTime now = Clock::now();
    s.bindText(1, std::string("Alterações de uma execução interrompida, histórico perdido"_cp));
    s.bindText(2, journal::stamp(now));
    s.bindInt(3, DateTimeToUnix(now));
    s.bindText(4, journal::stamp(now));
    s.bindInt(5, static_cast<int>(RunOutcome::Died));
    s.bindText(6, fromUtf8(DriveC::root().string()));
    s.bindText(7, transportName());
    s.step();
  }
  const int64_t number = sqlite3_last_insert_rowid(db.get());
  orphanRuns.emplace(recorded, number);
  return number;
}

void Journal::Impl::collect(std::optional<int64_t> number) {
  std::vector<std::string> files;
  {
    engine::Stmt& s =
        stmt(number ? "SELECT DISTINCT t.name, 0 FROM run_files f JOIN tables t ON t.id = f.tbl "
                      "WHERE f.collected = 0 AND f.run = ?"
                    : "SELECT DISTINCT t.name, r.pid FROM run_files f JOIN tables t ON t.id = f.tbl "
                      "JOIN runs r ON r.number = f.run "
                      "WHERE f.collected = 0 AND r.pid <> ?");
    engine::StmtUse use(s);
    s.bindInt(1, number ? *number : static_cast<int64_t>(::getpid()));
    // The files of a program still running are its own to collect (a report
    // opened meanwhile does not wait on its locks).
    while (s.step())
      if (number || !processAlive(s.columnInt(1))) files.emplace_back(s.columnText(0));
  }
  std::set<fs::path> seen;
  for (const std::string& name : files) {
    fs::path file;
    try {
      file = journal::liveFile(name);
    } catch (const Exception&) {
      continue;
    }
    if (!seen.insert(file).second) continue;
    try {
      collectFile(file);
    } catch (const Exception&) {
      rollback();  // the records stay in the file for the next collection
    }
  }
}

// ------------------------------------------------------------ server reports

void Journal::Impl::serverChange(const void* transaction, const ServerRowChange& change) {
  ensureRun();
  begin();
  ServerTable& t = serverTable(change.table);
  if (t.info.key.empty() && !change.keyColumns.empty()) {
    for (const std::string& k : change.keyColumns) t.info.key.push_back(serverPosition(t, k));
    engine::Stmt& s = stmt("UPDATE tables SET key_fields = ? WHERE id = ?");
    engine::StmtUse use(s);
    s.bindText(1, journal::joinPositions(t.info.key));
    s.bindInt(2, t.info.id);
    s.step();
    tableCache.erase(t.info.id);
  }
  RowImage key, before, after;
  for (size_t i = 0; i < change.keyColumns.size() && i < change.key.size(); ++i)
    key.emplace_back(serverPosition(t, change.keyColumns[i]), journal::serverValue(change.key[i]));
  for (size_t i = 0; i < change.columns.size(); ++i) {
    int p = serverPosition(t, change.columns[i]);
    if (i < change.before.size()) before.emplace_back(p, journal::serverValue(change.before[i]));
    if (i < change.after.size()) after.emplace_back(p, journal::serverValue(change.after[i]));
  }
  auto byPosition = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::sort(before.begin(), before.end(), byPosition);
  std::sort(after.begin(), after.end(), byPosition);
  auto open = openServer.find(transaction);
  if (open == openServer.end()) open = openServer.emplace(transaction, newBatch('S')).first;
  insertRecord(open->second, t.info.id, std::nullopt, static_cast<char>(change.op), EncodeImage(key),
               EncodeImage(before), EncodeImage(after));
}

bool Journal::Impl::serverCommitting(const void* transaction) noexcept {
  if (!openServer.count(transaction)) return true;
  try {
    commit();
    return true;
  } catch (...) {
    return false;
  }
}

void Journal::Impl::serverCommitted(const void* transaction) noexcept {
  auto it = openServer.find(transaction);
  if (it == openServer.end()) return;
  confirmedBatches.push_back(it->second);
  openServer.erase(it);
}

void Journal::Impl::serverSimulated(const void* transaction) noexcept {
  // The simulated run's server rows: kept, as a simulation's (never undone).
  serverCommitted(transaction);
}

void Journal::Impl::serverRolledBack(const void* transaction) noexcept {
  auto it = openServer.find(transaction);
  if (it == openServer.end()) return;
  try {
    dropBatch(it->second);
  } catch (...) {
    // Settled at the next start.
  }
  openServer.erase(it);
}

// ------------------------------------------------------------ settling

namespace {

// The state of one row before and after the records of one transaction.
struct RowChanges {
  const Record* first = nullptr;
  const Record* last = nullptr;
};

bool fieldsEqual(const RowImage& image, const std::vector<ImageValue>& row) {
  for (const auto& [p, v] : image)
    if (p < 0 || static_cast<size_t>(p) >= row.size() || row[static_cast<size_t>(p)] != v) return false;
  return true;
}

// Whether the row as it is (nullopt: absent) is what the record left, or
// what it found.
bool showsAfter(const Record& r, const std::optional<std::vector<ImageValue>>& row) {
  if (r.op == 'D') return !row;
  return row && fieldsEqual(r.after, *row);
}

bool showsBefore(const Record& r, const std::optional<std::vector<ImageValue>>& row) {
  if (r.op == 'I') return !row;
  return row && fieldsEqual(r.before, *row);
}

}  // namespace

void Journal::Impl::settleServer(SQLConnection& server) {
  // Server batches only: local records are confirmed as they are collected
  // (they reached the table file with their changes).
  std::vector<int64_t> batches;
  {
    engine::Stmt& s = stmt(
        "SELECT b.id, r.pid FROM batches b JOIN runs r ON r.number = b.run "
        "WHERE b.confirmed = 0 AND b.place = 'S' ORDER BY b.id");
    engine::StmtUse use(s);
    // A batch of a program still running is its own to confirm, whatever
    // its run's state: its table commit may be on its way.
    while (s.step())
      if (!processAlive(s.columnInt(1))) batches.push_back(s.columnInt(0));
  }
  if (batches.empty()) return;
  begin();
  std::unique_ptr<ServerRowWriter> writer;
  for (int64_t batch : batches) {
    std::vector<Record> recs = batchRecords(batch);
    // Every row the transaction touched, with its first and last record.
    std::map<std::pair<int64_t, std::string>, RowChanges> rows;
    for (const Record& r : recs) {
      std::string id = r.rowid ? std::to_string(*r.rowid) : EncodeImage(r.key);
      RowChanges& rc = rows[{r.table, id}];
      if (!rc.first) rc.first = &r;
      rc.last = &r;
      // A server row whose key changed goes on under its new key.
      if (!r.rowid && r.op == 'U') {
        RowImage next = r.key;
        bool rekeyed = false;
        for (auto& [p, v] : next)
          if (const ImageValue* changed = journal::valueAt(r.after, p)) {
            v = *changed;
            rekeyed = true;
          }
        if (rekeyed) {
          RowChanges moved = rc;
          rows.erase({r.table, id});
          rows[{r.table, EncodeImage(next)}] = moved;
        }
      }
    }
    bool changed = false, allBefore = true, readable = true;
    for (const auto& [where, rc] : rows) {
      std::optional<std::vector<ImageValue>> row;
      try {
        TableInfo t = tableById(where.first);
        if (!writer) writer = std::make_unique<ServerRowWriter>(server);
        RowImage key = DecodeImage(where.second);
        std::vector<std::string> keyColumns, columns;
        std::vector<SQLValue> keyValues;
        for (const auto& [p, v] : key) {
          keyColumns.push_back(t.fields[static_cast<size_t>(p)]);
          keyValues.push_back(journal::sqlValue(v));
        }
        for (const std::string& f : t.fields) columns.push_back(f);
        auto values = writer->read(t.name, keyColumns, keyValues, columns);
        if (values) {
          row.emplace();
          for (const SQLValue& v : *values) row->push_back(journal::serverValue(v));
        }
      } catch (const Exception&) {
        readable = false;
        break;
      }
      // A row as the transaction left it, and not as it found it: the
      // transaction committed (it is all or nothing).
      const bool found = showsBefore(*rc.first, row);
      if (showsAfter(*rc.last, row) && !found) changed = true;
      if (!found) allBefore = false;
    }
    // Settled before any later run of this program wrote to the server: a
    // transaction whose rows are all as it found them never committed, and
    // its records go; otherwise they are kept (a row changed by another
    // program since is a conflict for the undo, left as it is). A server
    // that cannot be read leaves the batch for the next time.
    if (!readable) continue;
    if (allBefore && !changed)
      dropBatch(batch);
    else
      confirmedBatches.push_back(batch);
  }
  writer.reset();
  commit();
}

void Journal::Impl::serverConnected(SQLConnection& server) noexcept {
  try {
    settleServer(server);
  } catch (...) {
    rollback();  // settled at the next connection
  }
}

void Journal::Impl::settle(SQLConnection* server) {
  // The records of local changes are in the table files until collected:
  // those of programs that are gone are collected now.
  collect(std::nullopt);
  // Runs of programs that are gone; another program may have its own open.
  std::set<int64_t> gone;
  {
    engine::Stmt& s = stmt("SELECT number, pid FROM runs WHERE outcome = 0");
    engine::StmtUse use(s);
    while (s.step())
      if (!processAlive(s.columnInt(1))) gone.insert(s.columnInt(0));
  }
  if (server) settleServer(*server);
  begin();
  for (int64_t number : gone) {
    engine::Stmt& s = stmt("UPDATE runs SET outcome = ? WHERE number = ?");
    engine::StmtUse use(s);
    s.bindInt(1, static_cast<int>(RunOutcome::Died));
    s.bindInt(2, number);
    s.step();
  }
  commit();
}

void Journal::Impl::removeOld() {
  int64_t cutoff = DateTimeToUnix(Clock::now()) - static_cast<int64_t>(Journal::keepDays()) * 86400;
  std::vector<int64_t> old;
  {
    engine::Stmt& s = stmt("SELECT number FROM runs WHERE started_unix < ? AND outcome <> 0");
    engine::StmtUse use(s);
    s.bindInt(1, cutoff);
    while (s.step()) old.push_back(s.columnInt(0));
  }
  if (old.empty()) return;
  begin();
  std::vector<std::string> files;
  for (int64_t number : old) {
    {
      engine::Stmt& s = stmt("SELECT file FROM copies WHERE run = ?");
      engine::StmtUse use(s);
      s.bindInt(1, number);
      while (s.step()) files.emplace_back(s.columnText(0));
    }
    for (const char* sql : {"DELETE FROM copies WHERE run = ?", "DELETE FROM conflicts WHERE run = ?",
                            "DELETE FROM changes WHERE run = ?", "DELETE FROM batches WHERE run = ?",
                            "DELETE FROM runs WHERE number = ?"}) {
      engine::Stmt& s = stmt(sql);
      engine::StmtUse use(s);
      s.bindInt(1, number);
      s.step();
    }
  }
  commit();
  for (const std::string& f : files) {
    std::error_code ec;
    fs::remove(DriveC::resolve(f), ec);
  }
}

// ------------------------------------------------------------ Journal

Journal::Journal(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Journal::~Journal() {
  if (CurrentLocalChangeSink() == &impl_->localSink) SetLocalChangeSink(nullptr);
  if (CurrentServerChangeSink() == &impl_->serverSink) SetServerChangeSink(nullptr);
  try {
    if (impl_->implicitRun) impl_->endRun(RunOutcome::Completed, {});
    impl_->commit();
  } catch (...) {
    impl_->rollback();
  }
}

fs::path Journal::file() { return DriveC::resolve(journal::kFile); }

int Journal::keepDays() {
  auto entries = ReadPlatformIniSection("consistgeral");
  if (entries)
    for (const auto& [key, value] : *entries)
      if (EqualsNoCase(key, "historico_dias")) {
        int32_t days = 0;
        if (TryStrToInt(value, days) && days > 0) return days;
      }
  return 90;
}

std::unique_ptr<Journal> Journal::open(SQLConnection* server) {
  auto impl = std::make_unique<Impl>();
  try {
    DriveC::resolveDir(journal::kFolder);
    fs::path path = file();
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    impl->db = engine::Database(raw);
    if (rc != SQLITE_OK) raiseJournal(sqliteReason(rc, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, 5000);
    // Every commit of the journal is on the disk before the change it
    // records is committed.
    impl->exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=OFF");
    sqlite3_create_function_v2(raw, "cg_hash", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, hashFunction,
                               nullptr, nullptr, nullptr);
    int version = 0;
    {
      engine::Stmt s(raw, "PRAGMA user_version", impl->windowsPath);
      engine::StmtUse use(s);
      if (s.step()) version = static_cast<int>(s.columnInt(0));
    }
    if (version == 0) {
      impl->begin();
      bool empty = true;
      {
        engine::Stmt s(raw, "SELECT count(*) FROM sqlite_master", impl->windowsPath);
        engine::StmtUse use(s);
        if (s.step()) empty = s.columnInt(0) == 0;
      }
      if (!empty) raiseJournal(std::string("o arquivo não é um histórico deste programa"_cp));
      impl->exec(kSchema);
      impl->noteLostHistory();
      impl->commit();
    } else if (version == 1) {
      impl->begin();
      impl->exec(kUpgradeFrom1);
      impl->commit();
    } else if (version != journal::kSchemaVersion) {
      raiseJournal(std::string("versão "_cp) + std::to_string(version) + " do formato desconhecida");
    }
    impl->settle(server);
    impl->removeOld();
  } catch (const EJournalError&) {
    throw;
  } catch (const Exception& e) {
    throw EJournalError(std::string("Erro no histórico "_cp) + journal::kFile + ": " + e.message());
  }
  SetLocalChangeSink(&impl->localSink);
  SetServerChangeSink(&impl->serverSink);
  return std::unique_ptr<Journal>(new Journal(std::move(impl)));
}

int64_t Journal::beginRun(const std::string& command, const std::string& caption, bool simulation) {
  return impl_->beginRun(command, caption, 0, simulation);
}

void Journal::endRun(RunOutcome outcome, const std::string& message) { impl_->endRun(outcome, message); }

void Journal::failRun(const std::string& message) {
  if (impl_->run && !impl_->implicitRun) impl_->failure = message;
}

int64_t Journal::currentRun() const { return impl_->implicitRun ? 0 : impl_->run; }

}  // namespace cg
