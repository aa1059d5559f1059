// The session (database names, aliases, the open tables) and local SQL.
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "data/engine/capture.h"
#include "data/engine/changes.h"
#include "data/engine/engine.h"
#include "data/engine/simulation.h"
#include "data/engine/sqlite.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/faults.h"
#include "platform/ini.h"

namespace cg {
using namespace engine;
namespace fs = std::filesystem;

namespace {

constexpr const char* kConfigFile = "C:\\platform.ini";

std::map<std::string, Session*>& sessions() {
  static std::map<std::string, Session*> s;
  return s;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

// "C:\VITRALON\INTER\" -> "C:\VITRALON\INTER"; "C:\" stays.
std::string withoutTrailingSeparator(std::string dir) {
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

bool isDirectory(const std::string& windowsDir) {
  std::error_code ec;
  try {
    return fs::is_directory(DriveC::resolve(windowsDir), ec);
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------- Session

Session::Session(std::string name) : name_(std::move(name)) { sessions()[upperAscii(name_)] = this; }

Session::~Session() {
  try {
    closeAll();
  } catch (...) {
  }
  auto& s = sessions();
  auto it = s.find(upperAscii(name_));
  if (it != s.end() && it->second == this) s.erase(it);
}

Session* Session::find(const std::string& name) {
  auto& s = sessions();
  auto it = s.find(upperAscii(name));
  return it == s.end() ? nullptr : it->second;
}

void Session::reloadConfiguration() { aliases_.reset(); }

std::string Session::databaseDirectory(const std::string& databaseName) const {
  std::string name = trimmed(databaseName);
  if (name.empty()) throw EAliasNotFound(std::string("Banco de dados não informado."_cp));
  if (DriveC::isWindowsPath(name)) {
    std::string dir = withoutTrailingSeparator(name);
    if (!isDirectory(dir)) throw EAliasNotFound(std::string("Diretório não encontrado: "_cp) + dir);
    return dir;
  }
  if (!aliases_) {
    std::map<std::string, std::string> found;
    auto entries = ReadPlatformIniSection("aliases");
    if (!entries) {
      const std::optional<std::string> unreadable = PlatformIniUnreadable();
      throw EAliasNotFound(
          std::string("Alias não encontrado: "_cp) + name + std::string(" (arquivo de configuração "_cp) +
          kConfigFile +
          (unreadable ? std::string(" ilegível: "_cp) + *unreadable + ")" : std::string(" ausente)")));
    }
    for (const auto& [alias, directory] : *entries) found[upperAscii(alias)] = directory;
    aliases_ = std::move(found);
  }
  auto it = aliases_->find(upperAscii(name));
  if (it == aliases_->end())
    throw EAliasNotFound(std::string("Alias não encontrado: "_cp) + name + " (" + kConfigFile + ")");
  std::string dir = withoutTrailingSeparator(it->second);
  if (!DriveC::isWindowsPath(dir) || !isDirectory(dir))
    throw EAliasNotFound(std::string("Diretório do alias "_cp) + name + std::string(" não encontrado: "_cp) +
                         it->second);
  return dir;
}

void Session::registerTable(Table* t) {
  if (std::find(open_.begin(), open_.end(), t) == open_.end()) open_.push_back(t);
}

void Session::unregisterTable(Table* t) {
  open_.erase(std::remove(open_.begin(), open_.end(), t), open_.end());
}

void Session::closeAll() {
  std::vector<Table*> tables = open_;
  std::exception_ptr firstError;
  for (Table* t : tables) {
    try {
      t->cancel();
      t->close();
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
    }
  }
  if (firstError) std::rethrow_exception(firstError);
}

void Session::flushAll() noexcept {
  for (auto& c : Connection::live()) c->tryCommit();
}

void Session::createTable(const std::string& directoryWin, const std::string& tableName,
                          const TableDef& def) {
  fs::path hostDir = DriveC::resolveDir(directoryWin);
  std::string win = joinWindows(withoutTrailingSeparator(directoryWin), withExtension(tableName));
  fs::path file = tableFile(hostDir, tableName);
  if (LocalSimulationActive())
    throw EDBEngineError(std::string("Nenhuma tabela é criada durante uma simulação: "_cp) + win);
  if (Connection::find(file)) throw EDBEngineError(std::string("Tabela em uso: "_cp) + win);
  std::error_code ec;
  fs::remove(file, ec);
  removeSideFiles(file);
  Database db = openDatabase(file, win, true);
  try {
    writeNewTable(db.get(), baseName(tableName), def, win, false);
  } catch (...) {
    db.close();  // before the file goes
    fs::remove(file, ec);
    throw;
  }
}

// ---------------------------------------------------------------- Query

Query::Query(std::string name, std::string sessionName)
    : name_(std::move(name)), sessionName_(std::move(sessionName)) {}

Query::~Query() = default;

namespace {

bool identStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool identChar(unsigned char c) { return identStart(c) || (c >= '0' && c <= '9') || c == '$'; }

// A name in the statement that may be a table, with where it stands.
struct NameToken {
  size_t begin, end;  // span in the statement text
  std::string name;   // without quotes; with ".DB" when written so
};

// The identifiers of a statement, skipping literals and comments. An
// unquoted name followed by ".DB" is taken as one table file name.
std::vector<NameToken> scanNames(const std::string& sql) {
  std::vector<NameToken> out;
  size_t i = 0, n = sql.size();
  while (i < n) {
    unsigned char c = sql[i];
    if (c == '\'') {
      for (++i; i < n; ++i)
        if (sql[i] == '\'') {
          if (i + 1 < n && sql[i + 1] == '\'')
            ++i;
          else
            break;
        }
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      size_t e = sql.find("*/", i + 2);
      i = e == std::string::npos ? n : e + 2;
    } else if (c == '"' || c == '[' || c == '`') {
      char close = c == '[' ? ']' : static_cast<char>(c);
      size_t e = sql.find(close, i + 1);
      if (e == std::string::npos) e = n;
      out.push_back({i, std::min(e + 1, n), sql.substr(i + 1, e - i - 1)});
      i = e + 1;
    } else if (identStart(c)) {
      size_t b = i;
      while (i < n && identChar(sql[i])) ++i;
      if (i + 2 < n && sql[i] == '.' && (sql[i + 1] | 32) == 'd' && (sql[i + 2] | 32) == 'b' &&
          (i + 3 >= n || !identChar(sql[i + 3])))
        i += 3;
      out.push_back({b, i, sql.substr(b, i - b)});
    } else {
      ++i;
    }
  }
  return out;
}

}  // namespace

int Query::execSQL() {
  Session* s = Session::find(sessionName_);
  if (!s) throw EDBEngineError(std::string("Sessão não encontrada: "_cp) + sessionName_);
  if (trimmed(sql_).empty()) throw EDBEngineError(std::string("Instrução SQL vazia em "_cp) + name_ + ".");
  const std::string dir = s->databaseDirectory(databaseName_);
  const fs::path hostDir = DriveC::resolve(dir);

  // The table files the statement names, in order of first mention.
  struct Ref {
    fs::path file;
    std::string windowsPath;
  };
  std::vector<Ref> refs;
  std::vector<std::pair<NameToken, size_t>> tableNames;  // token, index in refs
  for (const auto& t : scanNames(sql_)) {
    fs::path file = tableFile(hostDir, t.name);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) continue;
    std::string key = fileKey(file);
    auto at = std::find_if(refs.begin(), refs.end(), [&](const Ref& r) { return fileKey(r.file) == key; });
    if (at == refs.end()) {
      refs.push_back({file, joinWindows(dir, withExtension(t.name))});
      at = refs.end() - 1;
    }
    tableNames.emplace_back(t, static_cast<size_t>(at - refs.begin()));
  }
  if (refs.empty())
    throw ETableNotFound(std::string("Nenhuma tabela da instrução SQL foi encontrada em "_cp) + dir + ": " +
                         sql_);

  // Grouped writes of open tables hold the write lock of their file; commit
  // them so that the statement does not wait on this very program.
  for (const auto& r : refs)
    if (auto c = Connection::find(r.file)) c->commit(r.windowsPath);

  // A simulation runs the statement in the transaction that its file's own
  // connection holds for the simulation; files cannot be attached inside a
  // transaction, nor would they see the other files' simulated writes.
  std::shared_ptr<Connection> simulated;
  Database own;
  std::vector<std::string> dataTables;
  if (LocalSimulationActive()) {
    if (refs.size() > 1)
      throw EDBEngineError(
          std::string("A instrução SQL usa mais de uma tabela e não pode ser simulada ("_cp) + dir +
          "): " + sql_);
    simulated = Connection::acquire(refs[0].file, refs[0].windowsPath);
    dataTables.push_back(simulated->layout(refs[0].windowsPath).dataTable);
    simulated->beginWrite(refs[0].windowsPath);
  } else {
    own = openDatabase(refs[0].file, refs[0].windowsPath, false);
  }
  sqlite3* const db = simulated ? simulated->db() : own.get();
  for (size_t i = 0; i < refs.size() && !simulated; ++i) {
    std::string schema = "main";
    if (i > 0) schema = std::string("t").append(std::to_string(i));
    if (i > 0) {
      Stmt a(db, "ATTACH DATABASE ?1 AS " + quoteId(schema), refs[i].windowsPath);
      a.bindText(1, refs[i].file.string());
      StmtUse use(a);
      a.step();
      noteAttached(db, schema, refs[i].windowsPath);
    }
    Stmt q(db, "SELECT name FROM " + quoteId(schema) + ".\"_table\"", refs[i].windowsPath);
    StmtUse use(q);
    if (!q.step())
      throw EDBEngineError(std::string("Arquivo de tabela inválido ou danificado: "_cp) +
                           refs[i].windowsPath);
    dataTables.emplace_back(q.columnText(0));
  }
  // A name written as the file ("componen.db") or spelled otherwise than the
  // data table inside becomes the data table's name.
  std::string rewritten = sql_;
  for (auto it = tableNames.rbegin(); it != tableNames.rend(); ++it) {
    const std::string& inside = dataTables[it->second];
    if (!equalsNoCase(it->first.name, inside))
      rewritten.replace(it->first.begin, it->first.end - it->first.begin, quoteId(inside));
  }

  sqlite3_stmt* prepared = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db, rewritten.c_str(), static_cast<int>(rewritten.size()), &prepared, &tail);
  StmtHandle st(prepared);  // null after a failure
  if (rc != SQLITE_OK) {
    std::string msg = sqlite3_errmsg(db);
    if (msg.rfind("no such table: ", 0) == 0)
      throw ETableNotFound(std::string("Tabela não encontrada: "_cp) +
                           joinWindows(dir, withExtension(fromUtf8(msg.substr(15)))));
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
      throw ERecordLocked(lockedMessage(refs[0].windowsPath));
    throw EDBEngineError(std::string("Erro na instrução SQL ("_cp) + dir + "): " + fromUtf8(msg));
  }
  for (const char* p = tail; p && *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';')
      throw EDBEngineError(std::string("Somente uma instrução SQL pode ser executada de cada vez ("_cp) +
                           dir + ").");
  // Watched for the journal: the statement and the records of what it
  // changes commit together (in a simulation, where it would commit).
  const bool recorded = CurrentLocalChangeSink() != nullptr && !simulated;
  if (recorded && (rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr)) != SQLITE_OK) {
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
      throw ERecordLocked(lockedMessage(refs[0].windowsPath));
    raiseSqlite(db, rc, refs[0].windowsPath);
  }
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
  }
  // Counted before the records are written (their inserts count too).
  const int statementChanges = sqlite3_changes(db);
  if (recorded && rc == SQLITE_DONE) {
    rc = writePendingRecords(db);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = SQLITE_DONE;
  }
  if (recorded && rc != SQLITE_DONE) {
    const int failed = rc;
    sqlite3_reset(st.get());
    std::string message = sqlite3_errmsg(db);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (std::string failure = takeCaptureFailure(db); !failure.empty()) throw EDBEngineError(failure);
    if ((failed & 0xFF) == SQLITE_BUSY || (failed & 0xFF) == SQLITE_LOCKED)
      throw ERecordLocked(lockedMessage(refs[0].windowsPath));
    if ((failed & 0xFF) == SQLITE_CONSTRAINT)
      throw EKeyViolation(std::string("Violação de chave em "_cp) + refs[0].windowsPath + ".");
    throw EDBEngineError(std::string("Erro na instrução SQL ("_cp) + dir + "): " + fromUtf8(message));
  }
  if (rc != SQLITE_DONE) {
    // A simulated statement that fails is undone whole, with its records.
    if (simulated) {
      st.reset();
      simulated->rollback();
    }
    if (std::string failure = takeCaptureFailure(db); !failure.empty()) throw EDBEngineError(failure);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
      throw ERecordLocked(lockedMessage(refs[0].windowsPath));
    if ((rc & 0xFF) == SQLITE_CONSTRAINT)
      throw EKeyViolation(std::string("Violação de chave em "_cp) + refs[0].windowsPath + ".");
    throw EDBEngineError(std::string("Erro na instrução SQL ("_cp) + dir +
                         "): " + fromUtf8(sqlite3_errmsg(db)));
  }
  int changed = statementChanges;
  st.reset();
  // Where the statement alone would have committed.
  if (simulated) simulated->commit(refs[0].windowsPath);
  faults::wrote();
  // Open cursors on these files must read again what they had read ahead.
  for (const auto& r : refs)
    if (auto c = Connection::find(r.file)) c->bumpGeneration();
  return changed;
}

}  // namespace cg
