// The engine's reports of row changes: SQLite's pre-update hook hands each
// change with the row's old and new values, the commit hook lets the sink
// make its records durable first, the rollback hook tells it that a
// transaction's changes are gone, and the write-ahead-log hook (called once
// a commit is in the log) tells it that they are on disk.
#include "data/engine/changes.h"

#include <sqlite3.h>

#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

#include "data/engine/capture.h"
#include "data/engine/sqlite.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

LocalChangeSink* g_sink = nullptr;

void putVarint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

bool getVarint(std::string_view& in, uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in.empty()) return false;
    auto b = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

uint64_t zigzag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
int64_t unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

void putReal(std::string& out, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

// Appends one entry of an image from an SQLite value. `real`: the column
// keeps reals, so an integer is stored (and read back) as a real; the
// pre-update hook may hand it over before that conversion.
void putValue(std::string& out, int position, sqlite3_value* v, bool real) {
  putVarint(out, static_cast<uint64_t>(position));
  int type = sqlite3_value_type(v);
  if (real && type == SQLITE_INTEGER) type = SQLITE_FLOAT;
  switch (type) {
    case SQLITE_INTEGER:
      out.push_back(static_cast<char>(ImageValue::Integer));
      putVarint(out, zigzag(sqlite3_value_int64(v)));
      break;
    case SQLITE_FLOAT:
      out.push_back(static_cast<char>(ImageValue::Real));
      putReal(out, sqlite3_value_double(v));
      break;
    case SQLITE_TEXT: {
      out.push_back(static_cast<char>(ImageValue::Text));
      const auto* p = sqlite3_value_text(v);
      int n = sqlite3_value_bytes(v);
      putVarint(out, static_cast<uint64_t>(n));
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
      break;
    }
    case SQLITE_BLOB: {
      out.push_back(static_cast<char>(ImageValue::Blob));
      const void* p = sqlite3_value_blob(v);
      int n = sqlite3_value_bytes(v);
      putVarint(out, static_cast<uint64_t>(n));
      if (n > 0) out.append(static_cast<const char*>(p), static_cast<size_t>(n));
      break;
    }
    default:
      out.push_back(static_cast<char>(ImageValue::Null));
      break;
  }
}

// Two SQLite values are the same stored value: same type, same bytes.
bool sameValue(sqlite3_value* a, sqlite3_value* b, bool real) {
  int t = sqlite3_value_type(a);
  int u = sqlite3_value_type(b);
  if (real && (t == SQLITE_INTEGER || t == SQLITE_FLOAT) && (u == SQLITE_INTEGER || u == SQLITE_FLOAT)) {
    double x = sqlite3_value_double(a), y = sqlite3_value_double(b);
    return std::memcmp(&x, &y, sizeof x) == 0;
  }
  if (t != u) return false;
  switch (t) {
    case SQLITE_INTEGER:
      return sqlite3_value_int64(a) == sqlite3_value_int64(b);
    case SQLITE_FLOAT: {
      double x = sqlite3_value_double(a), y = sqlite3_value_double(b);
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* pa =
          t == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(a)) : sqlite3_value_blob(a);
      int na = sqlite3_value_bytes(a);
      const void* pb =
          t == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(b)) : sqlite3_value_blob(b);
      int nb = sqlite3_value_bytes(b);
      return na == nb && (na == 0 || std::memcmp(pa, pb, static_cast<size_t>(na)) == 0);
    }
    default:
      return true;
  }
}

// What the hooks of one connection keep.
struct Capture {
  sqlite3* db = nullptr;
  std::string mainWindowsPath;
  std::map<std::string, std::string> attached;  // schema -> Windows path
  struct Watched {
    ChangedTable table;
    std::vector<bool> real;  // per column: it keeps reals
    std::string schema;
  };
  std::map<std::string, std::unique_ptr<Watched>> tables;  // "schema\ttable"
  // The records of the open transaction not yet written, per schema.
  struct Record {
    char op;
    int64_t rowid;
    std::string key, before, after;
  };
  struct Pending {
    const Watched* table = nullptr;
    std::vector<Record> records;
    int64_t run = 0;
  };
  std::map<std::string, Pending> pending;        // by schema
  std::map<std::string, sqlite3_stmt*> inserts;  // by schema: the records' INSERT
  std::string failure;                           // a sink's error: the transaction may not commit
  std::string lastFailure;                       // the failure of the transaction just rolled back
  bool simulating = false;                       // in a simulation: nothing may commit
  int64_t simulationFirstRun = 0;                // the run of the simulation's first write here

  ~Capture() {
    for (auto& [schema, st] : inserts) sqlite3_finalize(st);
  }
  bool hasPending() const {
    for (const auto& [schema, p] : pending)
      if (!p.records.empty()) return true;
    return false;
  }
};

std::unordered_map<const sqlite3*, std::unique_ptr<Capture>>& captures() {
  static std::unordered_map<const sqlite3*, std::unique_ptr<Capture>> m;
  return m;
}

// The table's description, read through a connection of its own (the
// hook's connection may not be used inside the hook).
std::unique_ptr<Capture::Watched> describe(sqlite3* db, Capture& c, const char* schema, const char* table) {
  auto w = std::make_unique<Capture::Watched>();
  w->schema = schema;
  ChangedTable* t = &w->table;
  const char* file = sqlite3_db_filename(db, schema);
  t->file = file ? std::filesystem::path(file) : std::filesystem::path();
  if (std::strcmp(schema, "main") == 0) {
    t->windowsPath = c.mainWindowsPath;
  } else {
    auto it = c.attached.find(schema);
    t->windowsPath = it != c.attached.end() ? it->second : t->file.string();
  }
  t->dataTable = table;
  sqlite3* reader = nullptr;
  if (sqlite3_open_v2(t->file.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) ==
      SQLITE_OK) {
    try {
      engine::FileLayout layout = engine::readLayout(reader, t->windowsPath);
      for (const FieldDef& f : layout.def.fields) {
        t->fields.push_back(f.name);
        w->real.push_back(engine::storageOf(f.type) == engine::Storage::Real);
      }
      for (const std::string& k : layout.def.primaryKey)
        for (size_t i = 0; i < layout.def.fields.size(); ++i)
          if (engine::equalsNoCase(layout.def.fields[i].name, k))
            t->primaryKey.push_back(static_cast<int>(i));
    } catch (...) {
    }
  }
  sqlite3_close_v2(reader);
  return w;
}

void preupdate(void* ctx, sqlite3* db, int op, const char* schema, const char* table, sqlite3_int64 oldRowid,
               sqlite3_int64 newRowid) {
  auto& c = *static_cast<Capture*>(ctx);
  LocalChangeSink* sink = g_sink;
  if (!sink || !c.failure.empty()) return;
  // The engine's own tables (the description, the records) and SQLite's
  // are not records.
  if (table[0] == '_' || std::strncmp(table, "sqlite_", 7) == 0) return;
  auto& slot = c.tables[std::string(schema) + '\t' + table];
  if (!slot) slot = describe(db, c, schema, table);
  const Capture::Watched& w = *slot;
  const std::vector<bool>& real = w.real;
  const int n = sqlite3_preupdate_count(db);
  auto isReal = [&](int i) { return static_cast<size_t>(i) < real.size() && real[i]; };
  Capture::Record r;
  r.rowid = oldRowid;
  sqlite3_value* v = nullptr;
  sqlite3_value* x = nullptr;
  // The key: the primary key fields as the row had them (as it gets them,
  // for an insert).
  auto keyOf = [&](bool fresh) {
    std::string key;
    for (int k : w.table.primaryKey)
      if ((fresh ? sqlite3_preupdate_new(db, k, &v) : sqlite3_preupdate_old(db, k, &v)) == SQLITE_OK)
        putValue(key, k, v, isReal(k));
    return key;
  };
  if (op == SQLITE_INSERT) {
    r.op = 'I';
    r.rowid = newRowid;
    for (int i = 0; i < n; ++i)
      if (sqlite3_preupdate_new(db, i, &v) == SQLITE_OK) putValue(r.after, i, v, isReal(i));
    r.key = keyOf(true);
  } else if (op == SQLITE_DELETE) {
    r.op = 'D';
    for (int i = 0; i < n; ++i)
      if (sqlite3_preupdate_old(db, i, &v) == SQLITE_OK) putValue(r.before, i, v, isReal(i));
    r.key = keyOf(false);
  } else {
    r.op = 'U';
    for (int i = 0; i < n; ++i) {
      if (sqlite3_preupdate_old(db, i, &v) != SQLITE_OK || sqlite3_preupdate_new(db, i, &x) != SQLITE_OK)
        continue;
      if (sameValue(v, x, isReal(i))) continue;
      putValue(r.before, i, v, isReal(i));
      putValue(r.after, i, x, isReal(i));
    }
    if (r.before.empty() && oldRowid == newRowid) return;  // nothing changes
    r.key = keyOf(false);
  }
  Capture::Pending& p = c.pending[schema];
  try {
    if (p.records.empty()) {
      sink->touched(w.table);
      p.table = &w;
      p.run = sink->currentRun();
    }
    p.records.push_back(std::move(r));
  } catch (const Exception& e) {
    c.failure = e.message();
  } catch (const std::exception& e) {
    c.failure = fromUtf8(e.what());
  }
}

// Writes the pending records into the files' record tables, inside the
// open transaction. SQLite's result code.
int writeRecords(Capture& c) {
  for (auto& [schema, p] : c.pending) {
    if (p.records.empty()) continue;
    sqlite3_stmt*& st = c.inserts[schema];
    if (!st) {
      const std::string table = "\"" + schema + "\"." + kJournalTable;
      std::string create = "CREATE TABLE IF NOT EXISTS " + table +
                           "(seq INTEGER PRIMARY KEY, run INTEGER NOT NULL, op TEXT NOT NULL, "
                           "row_id INTEGER, key BLOB, before BLOB, after BLOB)";
      int rc = sqlite3_exec(c.db, create.c_str(), nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) return rc;
      std::string insert =
          "INSERT INTO " + table + "(run, op, row_id, key, before, after) VALUES(?1, ?2, ?3, ?4, ?5, ?6)";
      rc = sqlite3_prepare_v3(c.db, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
      if (rc != SQLITE_OK) return rc;
    }
    for (const Capture::Record& r : p.records) {
      char op[2] = {r.op, 0};
      sqlite3_bind_int64(st, 1, p.run);
      sqlite3_bind_text(st, 2, op, 1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(st, 3, r.rowid);
      sqlite3_bind_blob(st, 4, r.key.data(), static_cast<int>(r.key.size()), SQLITE_STATIC);
      sqlite3_bind_blob(st, 5, r.before.data(), static_cast<int>(r.before.size()), SQLITE_STATIC);
      sqlite3_bind_blob(st, 6, r.after.data(), static_cast<int>(r.after.size()), SQLITE_STATIC);
      int rc = sqlite3_step(st);
      sqlite3_reset(st);
      if (rc != SQLITE_DONE) return rc;
    }
    p.records.clear();
  }
  return SQLITE_OK;
}

int commitHook(void* ctx) {
  auto& c = *static_cast<Capture*>(ctx);
  if (!c.failure.empty() || c.simulating) return 1;
  // A change whose record is not written with it never reaches the file.
  if (c.hasPending()) {
    c.failure = "O histórico de alterações não pôde ser gravado; nada foi gravado em "_cp.data() +
                c.mainWindowsPath + ".";
    return 1;
  }
  return 0;
}

void rollbackHook(void* ctx) {
  auto& c = *static_cast<Capture*>(ctx);
  for (auto& [schema, p] : c.pending) p.records.clear();
  if (!c.failure.empty()) c.lastFailure = std::exchange(c.failure, std::string());
}

// A connection not watched, during a simulation: no commit reaches the file.
int refuseCommit(void*) { return 1; }

}  // namespace

bool ImageValue::operator==(const ImageValue& o) const {
  if (kind != o.kind) return false;
  switch (kind) {
    case Integer:
      return integer == o.integer;
    case Real:
      return std::memcmp(&real, &o.real, sizeof real) == 0;
    case Text:
    case Blob:
      return bytes == o.bytes;
    default:
      return true;
  }
}

std::string EncodeImage(const RowImage& image) {
  std::string out;
  for (const auto& [position, value] : image) {
    putVarint(out, static_cast<uint64_t>(position));
    out.push_back(static_cast<char>(value.kind));
    switch (value.kind) {
      case ImageValue::Integer:
        putVarint(out, zigzag(value.integer));
        break;
      case ImageValue::Real:
        putReal(out, value.real);
        break;
      case ImageValue::Text:
      case ImageValue::Blob:
        putVarint(out, value.bytes.size());
        out += value.bytes;
        break;
      default:
        break;
    }
  }
  return out;
}

RowImage DecodeImage(std::string_view in) {
  RowImage out;
  auto damaged = [] {
    return Exception("Imagem de registro danificada no histórico de alterações."_cp.data());
  };
  while (!in.empty()) {
    uint64_t position = 0, n = 0;
    if (!getVarint(in, position) || in.empty() || position > 100000) throw damaged();
    ImageValue v;
    auto kind = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    if (kind > ImageValue::Blob) throw damaged();
    v.kind = static_cast<ImageValue::Kind>(kind);
    switch (v.kind) {
      case ImageValue::Integer:
        if (!getVarint(in, n)) throw damaged();
        v.integer = unzigzag(n);
        break;
      case ImageValue::Real: {
        if (in.size() < 8) throw damaged();
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(static_cast<uint8_t>(in[i])) << (8 * i);
        std::memcpy(&v.real, &bits, sizeof bits);
        in.remove_prefix(8);
        break;
      }
      case ImageValue::Text:
      case ImageValue::Blob:
        if (!getVarint(in, n) || n > in.size()) throw damaged();
        v.bytes.assign(in.data(), n);
        in.remove_prefix(n);
        break;
      default:
        break;
    }
    out.emplace_back(static_cast<int>(position), std::move(v));
  }
  return out;
}

void SetLocalChangeSink(LocalChangeSink* sink) { g_sink = sink; }
LocalChangeSink* CurrentLocalChangeSink() { return g_sink; }

namespace engine {

void startCapture(sqlite3* db, const std::string& windowsPath) {
  if (!g_sink) return;
  auto c = std::make_unique<Capture>();
  c->db = db;
  c->mainWindowsPath = windowsPath;
  Capture* ctx = c.get();
  captures()[db] = std::move(c);
  sqlite3_preupdate_hook(db, preupdate, ctx);
  sqlite3_commit_hook(db, commitHook, ctx);
  sqlite3_rollback_hook(db, rollbackHook, ctx);
}

int writePendingRecords(sqlite3* db) noexcept {
  auto it = captures().find(db);
  if (it == captures().end() || !it->second->hasPending()) return SQLITE_OK;
  return writeRecords(*it->second);
}

void noteAttached(sqlite3* db, const std::string& schema, const std::string& windowsPath) {
  auto it = captures().find(db);
  if (it != captures().end()) it->second->attached[schema] = windowsPath;
}

std::string takeCaptureFailure(sqlite3* db) {
  auto it = captures().find(db);
  if (it == captures().end()) return {};
  Capture& c = *it->second;
  return std::exchange(c.lastFailure.empty() ? c.failure : c.lastFailure, std::string());
}

void simulationStarted(sqlite3* db) noexcept {
  auto it = captures().find(db);
  if (it == captures().end())
    sqlite3_commit_hook(db, refuseCommit, nullptr);
  else {
    it->second->simulating = true;
    it->second->simulationFirstRun = g_sink ? g_sink->currentRun() : 0;
  }
}

bool simulationMayCommit(sqlite3* db) noexcept {
  auto it = captures().find(db);
  return it == captures().end() || it->second->failure.empty();
}

// The records of the part just released are in the file's table (written
// by the release itself).
void simulationSavepoint(sqlite3*) noexcept {}

void simulationRolledBack(sqlite3* db) noexcept {
  auto it = captures().find(db);
  if (it == captures().end()) return;
  Capture& c = *it->second;
  // The records written since the savepoint went with it; those not yet
  // written go now.
  for (auto& [schema, p] : c.pending) p.records.clear();
  if (!c.failure.empty()) c.lastFailure = std::exchange(c.failure, std::string());
}

void simulationEnded(sqlite3* db) noexcept {
  auto it = captures().find(db);
  if (it == captures().end()) {
    sqlite3_commit_hook(db, nullptr, nullptr);
    return;
  }
  Capture& c = *it->second;
  // Still inside the simulation's transaction: its records are readable
  // through this connection only.
  if (g_sink && c.failure.empty() && writeRecords(c) == SQLITE_OK) {
    // A simulation may span several runs (one per click of a command that
    // takes several): the records of each run it wrote, from its first.
    const int64_t run = c.simulationFirstRun ? c.simulationFirstRun : g_sink->currentRun();
    for (const auto& [key, watched] : c.tables) {
      std::vector<LocalChangeSink::Record> records;
      const std::string sql = "SELECT run, op, row_id, key, before, after FROM \"" + watched->schema + "\"." +
                              kJournalTable + " WHERE run >= ?1 ORDER BY seq";
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        continue;
      }
      sqlite3_bind_int64(st, 1, run);
      auto blob = [&](int col) {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(st, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, col))) : std::string();
      };
      while (sqlite3_step(st) == SQLITE_ROW) {
        LocalChangeSink::Record r;
        r.run = sqlite3_column_int64(st, 0);
        const auto* op = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        r.op = op && *op ? *op : 'U';
        r.rowid = sqlite3_column_int64(st, 2);
        r.key = blob(3);
        r.before = blob(4);
        r.after = blob(5);
        records.push_back(std::move(r));
      }
      sqlite3_finalize(st);
      if (!records.empty()) g_sink->simulated(watched->table, records);
    }
  }
  c.simulating = false;
  c.simulationFirstRun = 0;
}

void stopCapture(sqlite3* db) noexcept {
  auto it = captures().find(db);
  if (it == captures().end()) return;
  sqlite3_preupdate_hook(db, nullptr, nullptr);
  sqlite3_commit_hook(db, nullptr, nullptr);
  sqlite3_rollback_hook(db, nullptr, nullptr);
  captures().erase(it);
}

}  // namespace engine
}  // namespace cg
