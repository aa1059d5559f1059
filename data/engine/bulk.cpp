#include "data/engine/bulk.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>

#include "data/engine/simulation.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg::engine {
namespace fs = std::filesystem;

BulkTable::BulkTable(const std::string& dirWin, const std::string& tableName, const TableDef& def)
    : def_(def), dataTable_(baseName(tableName)) {
  fs::path hostDir = DriveC::resolveDir(dirWin);
  path_ = joinWindows(dirWin, withExtension(tableName));
  fs::path file = tableFile(hostDir, tableName);
  if (LocalSimulationActive())
    throw EDBEngineError(std::string("Nenhuma tabela é criada durante uma simulação: "_cp) + path_);
  if (Connection::find(file)) throw EDBEngineError(std::string("Tabela em uso: "_cp) + path_);
  std::error_code ec;
  fs::remove(file, ec);
  removeSideFiles(file);
  db_ = openDatabase(file, path_, true);
  writeNewTable(db_.get(), dataTable_, def_, path_, true);
  sqlite3_exec(db_.get(),
               "PRAGMA journal_mode=OFF;PRAGMA synchronous=OFF;PRAGMA cache_size=-262144;"
               "PRAGMA temp_store=MEMORY",
               nullptr, nullptr, nullptr);
  std::string sql = "INSERT INTO " + quoteId(dataTable_) + " VALUES(";
  for (size_t i = 0; i < def_.fields.size(); ++i) sql += i ? ",?" : "?";
  insert_ = Stmt(db_.get(), sql + ")", path_);
  int rc = sqlite3_exec(db_.get(), "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(db_.get(), rc, path_);
  row_.resize(def_.fields.size());
}

int BulkTable::field(std::string_view name) const {
  for (size_t i = 0; i < def_.fields.size(); ++i)
    if (equalsNoCase(def_.fields[i].name, name)) return static_cast<int>(i);
  throw EFieldNotFound(std::string("Campo não encontrado: "_cp) + std::string(name) + " (" + path_ + ")");
}

void BulkTable::text(int f, std::string_view v) {
  const FieldDef& d = def_.fields[f];
  if (d.type == FieldType::Alpha && v.size() > static_cast<size_t>(d.size)) v = v.substr(0, d.size);
  if (v.empty())
    row_[f].setNull();
  else
    row_[f].setText(v);
}

void BulkTable::integer(int f, int64_t v) {
  if (storageOf(def_.fields[f].type) == Storage::Real)
    row_[f].setReal(static_cast<double>(v));
  else
    row_[f].setInt(v);
}

void BulkTable::real(int f, double v) { row_[f].setReal(v); }

void BulkTable::date(int f, int year, int month, int day) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  row_[f].setText(buf);
}

void BulkTable::blank(int f) { row_[f].setNull(); }

void BulkTable::insert() {
  for (size_t i = 0; i < row_.size(); ++i) {
    int at = static_cast<int>(i) + 1;
    switch (row_[i].kind) {
      case Value::Null:
        insert_.bindNull(at);
        break;
      case Value::Int:
        insert_.bindInt(at, row_[i].i);
        break;
      case Value::Real:
        insert_.bindReal(at, row_[i].d);
        break;
      case Value::Text:
        insert_.bindText(at, row_[i].s);
        break;
    }
    row_[i].setNull();
  }
  StmtUse use(insert_);
  insert_.step();
  ++rows_;
}

void BulkTable::finish() {
  if (finished_) return;
  int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) raiseSqlite(db_.get(), rc, path_);
  createIndexes(db_.get(), dataTable_, def_, path_);
  insert_ = Stmt();
  sqlite3_exec(db_.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  db_.close();
  finished_ = true;
}

}  // namespace cg::engine
