// The records of one table of a table file as SQLite itself reads them, each
// as "field=type:value|..." with the fields by name, sorted: neither column
// nor row positions count (the import puts the key fields first and writes
// the records in key order). Real numbers are written with 17 digits, so two
// doubles that differ in their last bit differ here too.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace paradoxtest {

inline std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& table) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"(não abre)"};
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"(sem a tabela)"};
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::map<std::string, std::string> named;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      std::string v;
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_NULL:
          v = "N";
          break;
        case SQLITE_INTEGER:
          v = "I" + std::to_string(sqlite3_column_int64(st, i));
          break;
        case SQLITE_FLOAT: {
          char b[40];
          std::snprintf(b, sizeof b, "R%.17g", sqlite3_column_double(st, i));
          v = b;
          break;
        }
        default:
          v = "T" + std::string(reinterpret_cast<const char*>(sqlite3_column_blob(st, i)),
                                sqlite3_column_bytes(st, i));
      }
      named[sqlite3_column_name(st, i)] = v;
    }
    std::string r;
    for (const auto& [k, v] : named) r += k + "=" + v + "|";
    rows.push_back(r);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace paradoxtest
