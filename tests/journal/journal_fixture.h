// A drive C of its own for each journal test (engine_fixture.h), with the
// journal's helpers: dumps of table files read with SQLite itself.
#pragma once

#include <sqlite3.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "data/journal/journal.h"
#include "engine/engine_fixture.h"
#include "platform/regional.h"

namespace journaltest {

using cg::operator""_cp;

// Every row of a table file in rowid order, each value as SQL quotes it
// (the rowid first), one line per row.
inline std::string dump(const std::filesystem::path& file, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> columns;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, ("PRAGMA table_info(\"" + table + "\")").c_str(), -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW)
    columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
  sqlite3_finalize(st);
  std::string sql = "SELECT quote(rowid)";
  for (const std::string& c : columns) sql += " || '|' || quote(\"" + c + "\")";
  sql += " FROM \"" + table + "\" ORDER BY rowid";
  std::string out;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    out = std::string("ERRO: ") + sqlite3_errmsg(db);
  while (st && sqlite3_step(st) == SQLITE_ROW)
    out += reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) + std::string("\n");
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// The rows of a table file by key ("Estacao=01; Codigo=1"), each a map of
// field to value as a report shows it.
using Rows = std::map<std::string, std::map<std::string, std::string>>;
inline Rows rowsByKey(const std::filesystem::path& file, const std::string& table,
                      const std::vector<std::string>& key) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &st, nullptr);
  Rows out;
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    std::map<std::string, std::string> row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      std::string v;
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER:
          v = std::to_string(sqlite3_column_int64(st, i));
          break;
        case SQLITE_FLOAT:
          v = cg::FloatToStr(sqlite3_column_double(st, i));
          break;
        case SQLITE_TEXT:
          v = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
          break;
        default:
          break;
      }
      row[sqlite3_column_name(st, i)] = v;
    }
    std::string k;
    for (const std::string& f : key) k += (k.empty() ? "" : "; ") + f + "=" + row[f];
    out[k] = row;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// A report line without its sequence number, for comparing sets of lines.
using Line = std::tuple<std::string, std::string, char, std::string, std::string, std::string>;

inline std::vector<Line> linesOf(const std::vector<cg::ChangeLine>& lines) {
  std::vector<Line> out;
  for (const cg::ChangeLine& l : lines) out.emplace_back(l.table, l.key, l.op, l.field, l.before, l.after);
  return out;
}

// The difference between two sets of rows of one table as report lines.
inline std::vector<Line> difference(const std::string& table, const Rows& before, const Rows& after,
                                    const std::vector<std::string>& fields) {
  std::vector<Line> out;
  for (const auto& [key, row] : before) {
    auto now = after.find(key);
    if (now == after.end()) {
      for (const std::string& f : fields) out.emplace_back(table, key, 'D', f, row.at(f), "");
      continue;
    }
    for (const std::string& f : fields)
      if (row.at(f) != now->second.at(f)) out.emplace_back(table, key, 'U', f, row.at(f), now->second.at(f));
  }
  for (const auto& [key, row] : after)
    if (!before.count(key))
      for (const std::string& f : fields) out.emplace_back(table, key, 'I', f, "", row.at(f));
  return out;
}

class JournalTest : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    writeIni(
        "[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\nVTRNINTER = C:\\VITRALON\\INTER\\\n[sql]\ntransport = "
        "embedded\n");
  }
  std::filesystem::path dados(const std::string& file) const { return host("VITRALON/DADOS/" + file); }
  static std::string path(const std::string& table) { return "C:\\VITRALON\\DADOS\\" + table + ".DB"; }
};

}  // namespace journaltest
