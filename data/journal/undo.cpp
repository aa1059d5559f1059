// Taking a run back, and the copies of registers replaced whole.
#include <algorithm>

#include "data/journal/journal.h"
#include "data/journal/store.h"
#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {

namespace fs = std::filesystem;
using journal::Record;
using journal::TableInfo;

namespace journal {

fs::path liveFile(const std::string& windowsPath) {
  size_t slash = windowsPath.find_last_of("\\/");
  if (slash == std::string::npos) return DriveC::resolve(windowsPath);
  return engine::tableFile(DriveC::resolve(windowsPath.substr(0, slash)), windowsPath.substr(slash + 1));
}

TableInfo describe(sqlite3* db, const std::string& windowsPath) {
  engine::FileLayout layout = engine::readLayout(db, windowsPath);
  TableInfo t;
  t.place = 'L';
  t.name = windowsPath;
  t.dataTable = layout.dataTable;
  for (const FieldDef& f : layout.def.fields) t.fields.push_back(f.name);
  for (const std::string& k : layout.def.primaryKey)
    for (size_t i = 0; i < t.fields.size(); ++i)
      if (engine::equalsNoCase(t.fields[i], k)) t.key.push_back(static_cast<int>(i));
  return t;
}

std::string tableDigest(sqlite3* db, const std::string& dataTable, const std::string& windowsPath) {
  engine::Stmt s(db, "SELECT rowid, * FROM " + engine::quoteId(dataTable) + " ORDER BY rowid", windowsPath);
  engine::StmtUse use(s);
  uint64_t h = 0xcbf29ce484222325ULL;
  auto mix = [&h](std::string_view bytes) {
    for (unsigned char c : bytes) {
      h ^= c;
      h *= 0x100000001b3ULL;
    }
  };
  int columns = sqlite3_column_count(s.get());
  while (s.step()) {
    RowImage row;
    for (int i = 1; i < columns; ++i) row.emplace_back(i - 1, columnValue(s.get(), i));
    auto rowid = static_cast<uint64_t>(s.columnInt(0));
    char key[8];
    for (int k = 0; k < 8; ++k) key[k] = static_cast<char>((rowid >> (8 * k)) & 0xFF);
    mix(std::string_view(key, 8));
    std::string encoded = EncodeImage(row);
    mix(encoded);
  }
  static const char* hex = "0123456789abcdef";
  std::string out(16, '0');
  for (int k = 15; k >= 0; --k, h >>= 4) out[static_cast<size_t>(k)] = hex[h & 15];
  return out;
}

std::string fileDigest(const std::string& windowsPath) {
  const fs::path file = liveFile(windowsPath);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    throw EJournalError(windowsPath + std::string(": arquivo não encontrado."_cp));
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  engine::Database db(raw);
  if (rc != SQLITE_OK) engine::raiseSqlite(raw, rc, windowsPath);
  sqlite3_busy_timeout(raw, 5000);
  TableInfo t = describe(raw, windowsPath);
  return tableDigest(raw, t.dataTable, windowsPath);
}

void backupInto(sqlite3* source, const fs::path& copy, const std::string& windowsPath) {
  std::error_code ec;
  fs::remove(copy, ec);
  engine::removeSideFiles(copy);
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(copy.c_str(), &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  engine::Database dest(raw);
  if (rc != SQLITE_OK) engine::raiseSqlite(raw, rc, windowsPath);
  sqlite3_backup* b = sqlite3_backup_init(raw, "main", source, "main");
  if (!b) engine::raiseSqlite(raw, sqlite3_errcode(raw), windowsPath);
  rc = sqlite3_backup_step(b, -1);
  int finish = sqlite3_backup_finish(b);
  if (rc != SQLITE_DONE) engine::raiseSqlite(source, rc, windowsPath);
  if (finish != SQLITE_OK) engine::raiseSqlite(raw, finish, windowsPath);
  rc = sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) engine::raiseSqlite(raw, rc, windowsPath);
}

}  // namespace journal

// ------------------------------------------------------------ copies

std::pair<std::string, fs::path> Journal::Impl::nextCopy() {
  fs::path dir = DriveC::resolveDir(journal::kCopies);
  for (int n = 1;; ++n) {
    std::string name("R");
    name.append(std::to_string(run)).append("-").append(std::to_string(n)).append(".DB");
    fs::path host = dir / name;
    std::error_code ec;
    if (!fs::exists(host, ec)) return {std::string(journal::kCopies).append("\\").append(name), host};
  }
}

int64_t Journal::Impl::recordReplacement(const TableInfo& live, const std::string& copy,
                                         const std::string& digest, const std::string& copyDigest) {
  begin();
  int64_t table = localTableId(live);
  int64_t batch = newBatch('L');
  insertRecord(batch, table, std::nullopt, 'R', {}, {}, {});
  int64_t seq = sqlite3_last_insert_rowid(db.get());
  engine::Stmt& s =
      stmt("INSERT INTO copies(run, seq, tbl, file, digest, copy_digest) VALUES (?, ?, ?, ?, ?, ?)");
  {
    engine::StmtUse use(s);
    s.bindInt(1, run);
    s.bindInt(2, seq);
    s.bindInt(3, table);
    s.bindText(4, copy);
    s.bindText(5, digest);
    s.bindText(6, copyDigest);
    s.step();
  }
  int64_t id = sqlite3_last_insert_rowid(db.get());
  confirmedBatches.push_back(batch);
  commit();
  return id;
}

void Journal::Impl::checkCopies(int64_t number) {
  struct Copy {
    std::string file, digest;
    int64_t table;
  };
  std::vector<Copy> copies;
  {
    engine::Stmt& s = stmt("SELECT file, copy_digest, tbl FROM copies WHERE run = ? ORDER BY seq");
    engine::StmtUse use(s);
    s.bindInt(1, number);
    while (s.step())
      copies.push_back({std::string(s.columnText(0)), std::string(s.columnText(1)), s.columnInt(2)});
  }
  for (const Copy& c : copies) {
    const TableInfo live = tableById(c.table);
    const fs::path host = DriveC::resolve(c.file);
    std::error_code ec;
    if (!fs::is_regular_file(host, ec))
      throw EJournalError(std::string("A cópia "_cp) + c.file + " de " + live.name +
                          std::string(" não foi encontrada: nada foi desfeito."_cp));
    bool sound = false;
    try {
      sqlite3* raw = nullptr;
      int rc = sqlite3_open_v2(host.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
      engine::Database copyDb(raw);
      if (rc == SQLITE_OK) {
        TableInfo held = journal::describe(raw, c.file);
        sound = held.dataTable == live.dataTable && held.fields == live.fields && held.key == live.key &&
                (c.digest.empty() || journal::tableDigest(raw, held.dataTable, c.file) == c.digest);
      }
    } catch (const Exception&) {
      sound = false;
    }
    if (!sound)
      throw EJournalError(std::string("A cópia "_cp) + c.file + " de " + live.name +
                          std::string(" está danificada ou não é a que foi tirada: nada foi desfeito."_cp));
  }
}

void Journal::beforeReplace(const std::string& liveTable, const std::string& replacement) {
  impl_->ensureRun();
  fs::path live = journal::liveFile(liveTable);
  // Records still kept in the live file go to the journal first: the
  // replacement takes the file's record table with it.
  impl_->collectFile(live);
  // The write lock keeps every writer out while the copy is read through a
  // second connection (a reader sees the last commit in the write-ahead log).
  engine::Database lock = engine::openDatabase(live, liveTable, false);
  int rc = sqlite3_exec(lock.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) engine::raiseSqlite(lock.get(), rc, liveTable);
  engine::Database source = engine::openDatabase(live, liveTable, false);
  TableInfo info = journal::describe(source.get(), liveTable);
  auto [copy, host] = impl_->nextCopy();
  journal::backupInto(source.get(), host, liveTable);
  const std::string copyDigest = journal::tableDigest(source.get(), info.dataTable, liveTable);
  sqlite3_exec(lock.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  // What the command file will leave, known before it runs: a program that
  // dies meanwhile leaves a replacement that can still be undone.
  std::string expected;
  if (!replacement.empty()) {
    try {
      expected = journal::fileDigest(replacement);
    } catch (const Exception&) {
      expected.clear();  // the command file will not find it either
    }
  }
  impl_->pendingCopies[engine::upperAscii(liveTable)] =
      impl_->recordReplacement(info, copy, expected, copyDigest);
}

void Journal::afterReplace(const std::string& liveTable) {
  auto pending = impl_->pendingCopies.find(engine::upperAscii(liveTable));
  if (pending == impl_->pendingCopies.end())
    throw EJournalError(std::string("Nenhuma cópia foi tirada de "_cp) + liveTable + ".");
  const int64_t id = pending->second;
  impl_->pendingCopies.erase(pending);
  engine::Database live = engine::openDatabase(journal::liveFile(liveTable), liveTable, false);
  TableInfo info = journal::describe(live.get(), liveTable);
  std::string digest = journal::tableDigest(live.get(), info.dataTable, liveTable);
  std::string copyDigest, copy;
  int64_t seq = 0;
  {
    engine::Stmt& s = impl_->stmt("SELECT copy_digest, file, seq FROM copies WHERE id = ?");
    engine::StmtUse use(s);
    s.bindInt(1, id);
    if (s.step()) {
      copyDigest = std::string(s.columnText(0));
      copy = std::string(s.columnText(1));
      seq = s.columnInt(2);
    }
  }
  impl_->begin();
  if (!copyDigest.empty() && digest == copyDigest) {
    // The table is as it was: the command file replaced nothing, and there
    // is nothing to undo.
    for (auto [sql, value] : {std::pair<const char*, int64_t>{"DELETE FROM copies WHERE id = ?", id},
                              {"DELETE FROM changes WHERE seq = ?", seq}}) {
      engine::Stmt& s = impl_->stmt(sql);
      engine::StmtUse use(s);
      s.bindInt(1, value);
      s.step();
    }
    impl_->commit();
    std::error_code ec;
    fs::remove(DriveC::resolve(copy), ec);
    return;
  }
  engine::Stmt& s = impl_->stmt("UPDATE copies SET digest = ? WHERE id = ?");
  {
    engine::StmtUse use(s);
    s.bindText(1, digest);
    s.bindInt(2, id);
    s.step();
  }
  impl_->commit();
}

// ------------------------------------------------------------ undo

namespace {

using Row = std::optional<std::vector<ImageValue>>;

bool matches(const RowImage& image, const Row& row) {
  if (!row) return false;
  for (const auto& [p, v] : image)
    if (p < 0 || static_cast<size_t>(p) >= row->size() || (*row)[static_cast<size_t>(p)] != v) return false;
  return true;
}

bool matches(const RowImage& image, const std::vector<ImageValue>& row) { return matches(image, Row(row)); }

// The primary key of a row as the record left it (an update may change it).
RowImage keyAsLeft(const Record& r) {
  RowImage key = r.key;
  if (r.op == 'U')
    for (auto& [p, v] : key)
      if (const ImageValue* changed = journal::valueAt(r.after, p)) v = *changed;
  return key;
}

bool keyChanged(const Record& r) {
  for (const auto& [p, v] : r.key)
    if (journal::valueAt(r.after, p)) return true;
  return false;
}

// What the undo does with one record, given the row as it is now (absent:
// nullopt): put it back, nothing (already as before the run), or leave it
// and list it (changed since).
enum class Verdict { Restore, Unchanged, Conflict };
Verdict verdictOf(const Record& r, const Row& row) {
  switch (r.op) {
    case 'I':
      if (!row) return Verdict::Unchanged;
      return matches(r.after, row) ? Verdict::Restore : Verdict::Conflict;
    case 'U':
      if (matches(r.after, row)) return Verdict::Restore;
      return matches(r.before, row) ? Verdict::Unchanged : Verdict::Conflict;
    case 'D':
      if (!row) return Verdict::Restore;
      return matches(r.before, row) ? Verdict::Unchanged : Verdict::Conflict;
    default:
      return Verdict::Conflict;
  }
}

// One table file written by the undo: a connection of the engine's, in one
// write transaction, so that the engine reports the writes like any other.
class FileWriter {
 public:
  FileWriter(const fs::path& file, const std::string& windowsPath)
      : path_(windowsPath), db_(engine::openDatabase(file, windowsPath, false)) {}
  ~FileWriter() { rollback(); }
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  void begin() {
    if (open_) return;
    exec("BEGIN IMMEDIATE");
    open_ = true;
  }
  void commit() {
    if (!open_) return;
    statements_.clear();
    // The records of the undo's own changes go with them.
    engine::commitWithRecords(db_.get(), path_);
    open_ = false;
  }
  void rollback() noexcept {
    statements_.clear();
    if (open_) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    open_ = false;
  }

  // The row with the key `key` (field positions and values): its rowid and
  // values, or nullopt when no row has that key.
  std::optional<std::pair<int64_t, std::vector<ImageValue>>> find(const TableInfo& t, const RowImage& key) {
    std::string sql = "SELECT rowid";
    for (const std::string& f : t.fields) sql += ", " + engine::quoteId(f);
    sql += " FROM " + engine::quoteId(t.dataTable) + " WHERE ";
    for (size_t i = 0; i < key.size(); ++i)
      sql += (i ? " AND " : "") + engine::quoteId(t.fields.at(static_cast<size_t>(key[i].first))) + " IS ?";
    engine::Stmt& s = statement(sql);
    engine::StmtUse use(s);
    for (size_t i = 0; i < key.size(); ++i)
      journal::bindValue(s.get(), static_cast<int>(i + 1), key[i].second);
    if (!s.step()) return std::nullopt;
    std::vector<ImageValue> out;
    for (size_t i = 0; i < t.fields.size(); ++i)
      out.push_back(journal::columnValue(s.get(), static_cast<int>(i + 1)));
    return std::make_pair(s.columnInt(0), std::move(out));
  }
  bool rowidTaken(const TableInfo& t, int64_t rowid) {
    engine::Stmt& s = statement("SELECT 1 FROM " + engine::quoteId(t.dataTable) + " WHERE rowid = ?");
    engine::StmtUse use(s);
    s.bindInt(1, rowid);
    return s.step();
  }
  Row read(const TableInfo& t, int64_t rowid) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < t.fields.size(); ++i) sql += (i ? ", " : "") + engine::quoteId(t.fields[i]);
    sql += " FROM " + engine::quoteId(t.dataTable) + " WHERE rowid = ?";
    engine::Stmt& s = statement(sql);
    engine::StmtUse use(s);
    s.bindInt(1, rowid);
    if (!s.step()) return std::nullopt;
    std::vector<ImageValue> out;
    for (size_t i = 0; i < t.fields.size(); ++i)
      out.push_back(journal::columnValue(s.get(), static_cast<int>(i)));
    return out;
  }
  void remove(const TableInfo& t, int64_t rowid) {
    engine::Stmt& s = statement("DELETE FROM " + engine::quoteId(t.dataTable) + " WHERE rowid = ?");
    engine::StmtUse use(s);
    s.bindInt(1, rowid);
    s.step();
  }
  void update(const TableInfo& t, int64_t rowid, const RowImage& values) {
    std::string sql = "UPDATE " + engine::quoteId(t.dataTable) + " SET ";
    for (size_t i = 0; i < values.size(); ++i)
      sql += (i ? ", " : "") + engine::quoteId(t.fields[static_cast<size_t>(values[i].first)]) + " = ?";
    sql += " WHERE rowid = ?";
    engine::Stmt& s = statement(sql);
    engine::StmtUse use(s);
    for (size_t i = 0; i < values.size(); ++i)
      journal::bindValue(s.get(), static_cast<int>(i + 1), values[i].second);
    s.bindInt(static_cast<int>(values.size() + 1), rowid);
    s.step();
  }
  // With the rowid it had, unless another row has it since (then SQLite
  // gives it one).
  void insert(const TableInfo& t, int64_t rowid, const RowImage& values) {
    const bool withRowid = !rowidTaken(t, rowid);
    std::string sql = "INSERT INTO " + engine::quoteId(t.dataTable) + " (" + (withRowid ? "rowid" : "");
    bool first = !withRowid;
    for (const auto& [p, v] : values) {
      sql += (first ? "" : ", ") + engine::quoteId(t.fields[static_cast<size_t>(p)]);
      first = false;
    }
    sql += ") VALUES (";
    for (size_t i = 0; i < values.size() + (withRowid ? 1 : 0); ++i) sql += i ? ", ?" : "?";
    sql += ")";
    engine::Stmt& s = statement(sql);
    engine::StmtUse use(s);
    const int offset = withRowid ? 2 : 1;
    if (withRowid) s.bindInt(1, rowid);
    for (size_t i = 0; i < values.size(); ++i)
      journal::bindValue(s.get(), static_cast<int>(i) + offset, values[i].second);
    s.step();
  }

 private:
  void exec(const char* sql) {
    int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) engine::raiseSqlite(db_.get(), rc, path_);
  }
  engine::Stmt& statement(const std::string& sql) {
    auto it = statements_.find(sql);
    if (it == statements_.end()) it = statements_.emplace(sql, engine::Stmt(db_.get(), sql, path_)).first;
    return it->second;
  }
  std::string path_;
  engine::Database db_;
  std::map<std::string, engine::Stmt> statements_;
  bool open_ = false;
};

// The key, columns and values of a server record, by name.
struct ServerRow {
  std::vector<std::string> keyColumns;
  std::vector<SQLValue> key;
  std::vector<std::string> columns;  // every column the record names
  std::vector<int> positions;
};

ServerRow serverRow(const Record& r, const TableInfo& t, bool keyAfter) {
  ServerRow out;
  auto name = [&](int p) { return t.fields.at(static_cast<size_t>(p)); };
  for (const auto& [p, v] : r.key) {
    out.keyColumns.push_back(name(p));
    const ImageValue* changed = keyAfter ? journal::valueAt(r.after, p) : nullptr;
    out.key.push_back(journal::sqlValue(changed ? *changed : v));
  }
  std::vector<int> positions;
  for (const auto& [p, v] : r.before) positions.push_back(p);
  for (const auto& [p, v] : r.after) positions.push_back(p);
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  for (int p : positions) out.columns.push_back(name(p));
  out.positions = positions;
  return out;
}

}  // namespace

UndoResult Journal::undo(int64_t number, SQLConnection* server) {
  Impl& j = *impl_;
  std::optional<RunInfo> target = run(number);
  if (!target)
    throw EJournalError(std::string("Execução "_cp) + std::to_string(number) +
                        std::string(" não encontrada no histórico."_cp));
  if (j.run && !j.implicitRun)
    throw EJournalError(std::string("Não é possível desfazer durante uma execução."_cp));
  if (target->simulation)
    throw EJournalError(std::string("A execução "_cp) + std::to_string(number) +
                        std::string(" foi uma simulação: nada foi gravado, nada há a desfazer."_cp));
  if (target->total() == 0 && !j.touchedServer(number))
    throw EJournalError(std::string("A execução "_cp) + std::to_string(number) +
                        std::string(" não alterou nenhum registro: nada há a desfazer."_cp));
  // A copy that is not the one taken is never put back, nor is anything
  // else of the run taken back without it.
  j.checkCopies(number);
  // What a program that died left unconfirmed on the server is settled
  // first: only what reached the server is taken back.
  if (server) j.settleServer(*server);
  if (!server && j.touchedServer(number))
    throw EJournalError(std::string("A execução "_cp) + std::to_string(number) +
                        std::string(" alterou o servidor: é preciso a conexão com ele para desfazê-la."_cp));

  std::vector<Record> records = j.records(number);
  UndoResult result;
  result.run =
      j.beginRun("Desfazer", std::string("Desfazer a execução "_cp) + std::to_string(number), number);
  std::map<std::string, std::unique_ptr<FileWriter>> files;
  std::unique_ptr<ServerRowWriter> serverWriter;
  // What became of each row (by table and rowid, or server key): a
  // conflict on any of its changes makes it a conflict, else a change put
  // back makes it restored.
  std::map<std::pair<int64_t, std::string>, Verdict> rows;
  auto note = [&](const Record& r, Verdict verdict) {
    auto [at, fresh] = rows.emplace(
        std::make_pair(r.table, r.rowid ? std::to_string(*r.rowid) : EncodeImage(r.key)), verdict);
    if (!fresh &&
        (verdict == Verdict::Conflict || (verdict == Verdict::Restore && at->second == Verdict::Unchanged)))
      at->second = verdict;
  };
  auto conflict = [&](const Record& r, const TableInfo& t) {
    note(r, Verdict::Conflict);
    // Kept with the undo's run: its report lists them.
    j.begin();
    engine::Stmt& keep = j.stmt("INSERT OR IGNORE INTO conflicts(run, seq) VALUES (?, ?)");
    {
      engine::StmtUse use(keep);
      keep.bindInt(1, result.run);
      keep.bindInt(2, r.seq);
      keep.step();
    }
    for (ChangeLine& line : j.lines(r, t)) result.conflicts.push_back(std::move(line));
  };
  // A row already as before, or changed since by someone else, is counted
  // and left alone: true when the record needs no writing.
  auto decided = [&](const Record& r, const TableInfo& t, const Row& row) {
    const Verdict verdict = verdictOf(r, row);
    if (verdict == Verdict::Unchanged) note(r, Verdict::Unchanged);
    if (verdict == Verdict::Conflict) conflict(r, t);
    return verdict != Verdict::Restore;
  };
  try {
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      const Record& r = *it;
      TableInfo t = j.tableById(r.table);
      if (t.place == 'L') {
        fs::path live = journal::liveFile(t.name);
        std::string fileKey = engine::fileKey(live);
        if (r.op == 'R') {
          // The register goes back whole: this file's row writes so far are
          // committed first, as the restore takes the file's write lock.
          if (auto w = files.find(fileKey); w != files.end()) w->second->commit();
          engine::Stmt& s = j.stmt("SELECT file, digest FROM copies WHERE seq = ?");
          std::string copy, digest;
          {
            engine::StmtUse use(s);
            s.bindInt(1, r.seq);
            if (s.step()) {
              copy = std::string(s.columnText(0));
              digest = std::string(s.columnText(1));
            }
          }
          fs::path copyFile = copy.empty() ? fs::path() : DriveC::resolve(copy);
          std::error_code ec;
          if (copy.empty() || !fs::exists(copyFile, ec)) {
            conflict(r, t);
            continue;
          }
          engine::Database dest = engine::openDatabase(live, t.name, false);
          sqlite3* raw = nullptr;
          int rc =
              sqlite3_open_v2(copyFile.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
          engine::Database source(raw);
          if (rc != SQLITE_OK) engine::raiseSqlite(raw, rc, copy);
          sqlite3_backup* b = sqlite3_backup_init(dest.get(), "main", raw, "main");
          if (!b) engine::raiseSqlite(dest.get(), sqlite3_errcode(dest.get()), t.name);
          // No page copied yet: the step takes the live file's write lock,
          // kept until the backup ends; a reader sees the file as it is.
          rc = sqlite3_backup_step(b, 0);
          if (rc != SQLITE_OK && rc != SQLITE_DONE) {
            sqlite3_backup_finish(b);
            engine::raiseSqlite(dest.get(), rc, t.name);
          }
          bool restored = false, same = false;
          try {
            engine::Database reader = engine::openDatabase(live, t.name, false);
            TableInfo now = journal::describe(reader.get(), t.name);
            std::string liveDigest = journal::tableDigest(reader.get(), now.dataTable, t.name);
            TableInfo former = journal::describe(raw, t.name);
            std::string copyDigest = journal::tableDigest(raw, former.dataTable, copy);
            if (liveDigest == copyDigest) {
              same = true;
            } else if (!digest.empty() && liveDigest == digest) {
              auto [ownCopy, host] = j.nextCopy();
              journal::backupInto(reader.get(), host, t.name);
              j.recordReplacement(now, ownCopy, copyDigest, liveDigest);
              rc = sqlite3_backup_step(b, -1);
              if (rc != SQLITE_DONE) engine::raiseSqlite(dest.get(), rc, t.name);
              restored = true;
            }
          } catch (...) {
            sqlite3_backup_finish(b);
            throw;
          }
          rc = sqlite3_backup_finish(b);
          if (restored && rc != SQLITE_OK) engine::raiseSqlite(dest.get(), rc, t.name);
          if (restored)
            note(r, Verdict::Restore);
          else if (same)
            note(r, Verdict::Unchanged);
          else
            conflict(r, t);
          continue;
        }
        auto& w = files[fileKey];
        if (!w) w = std::make_unique<FileWriter>(live, t.name);
        w->begin();
        // A row is found by its primary key (its rowid may belong to another
        // record since, or the row moved); a table without one, by rowid.
        int64_t rowid = r.rowid.value_or(0);
        Row row;
        if (!t.key.empty() && !r.key.empty()) {
          auto found = w->find(t, keyAsLeft(r));
          if (found) {
            rowid = found->first;
            row = std::move(found->second);
          }
          // An update of the key itself: absent under the key it left,
          // perhaps back under the one it found.
          if (!row && r.op == 'U' && keyChanged(r))
            if (auto old = w->find(t, r.key); old && matches(r.before, old->second)) {
              note(r, Verdict::Unchanged);
              continue;
            }
        } else {
          row = w->read(t, rowid);
        }
        if (decided(r, t, row)) continue;
        try {
          if (r.op == 'I')
            w->remove(t, rowid);
          else if (r.op == 'U')
            w->update(t, rowid, r.before);
          else
            w->insert(t, rowid, r.before);
        } catch (const EKeyViolation&) {
          conflict(r, t);  // the key it goes back to is another record's since
          continue;
        }
        note(r, Verdict::Restore);
      } else {
        if (!serverWriter) serverWriter = std::make_unique<ServerRowWriter>(*server);
        ServerRowWriter& w = *serverWriter;
        ServerRow at = serverRow(r, t, r.op == 'U');
        auto values = w.read(t.name, at.keyColumns, at.key, at.columns);
        Row row;
        if (values) {
          row.emplace(t.fields.size());
          for (size_t i = 0; i < at.positions.size(); ++i)
            (*row)[static_cast<size_t>(at.positions[i])] = journal::serverValue((*values)[i]);
        }
        auto namesOf = [&](const RowImage& image, std::vector<SQLValue>& out) {
          std::vector<std::string> names;
          for (const auto& [p, v] : image) {
            names.push_back(t.fields.at(static_cast<size_t>(p)));
            out.push_back(journal::sqlValue(v));
          }
          return names;
        };
        // An update of the key itself: absent under the key it left, perhaps
        // back under the one it found (as before: no conflict).
        if (!row && r.op == 'U' && keyChanged(r)) {
          ServerRow old = serverRow(r, t, false);
          if (auto found = w.read(t.name, old.keyColumns, old.key, old.columns)) {
            Row was(std::vector<ImageValue>(t.fields.size()));
            for (size_t i = 0; i < old.positions.size(); ++i)
              (*was)[static_cast<size_t>(old.positions[i])] = journal::serverValue((*found)[i]);
            if (matches(r.before, was)) {
              note(r, Verdict::Unchanged);
              continue;
            }
          }
        }
        if (decided(r, t, row)) continue;
        if (r.op == 'I') {
          w.remove(t.name, at.keyColumns, at.key);
        } else {
          std::vector<SQLValue> before;
          std::vector<std::string> columns = namesOf(r.before, before);
          if (r.op == 'U')
            w.update(t.name, at.keyColumns, at.key, columns, before);
          else
            w.insert(t.name, columns, before);
        }
        note(r, Verdict::Restore);
      }
    }
    if (serverWriter) serverWriter->commit();
    for (auto& [key, w] : files) w->commit();
  } catch (const Exception& e) {
    serverWriter.reset();
    files.clear();
    j.endRun(RunOutcome::Failed, e.message());
    throw;
  }
  serverWriter.reset();
  files.clear();
  for (const auto& [row, verdict] : rows)
    ++(verdict == Verdict::Restore     ? result.restored
       : verdict == Verdict::Unchanged ? result.unchanged
                                       : result.conflictRows);
  j.begin();
  engine::Stmt& s = j.stmt("UPDATE runs SET undone_by = ? WHERE number = ?");
  {
    engine::StmtUse use(s);
    s.bindInt(1, result.run);
    s.bindInt(2, number);
    s.step();
  }
  j.endRun(RunOutcome::Completed, {});
  return result;
}

}  // namespace cg
