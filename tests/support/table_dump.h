// Every local table file of an installation as SQLite itself reads it: each
// table of each file, each row by its rowid with every column's type and
// bytes. Two dumps are equal only when the tables hold the same rows with
// the same values, byte for byte. The journal's own folder is left out, and
// so is a table file's empty table of records for the journal.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct TableDump {
  std::vector<std::string> columns;
  // rowid -> each column as its type letter and bytes ("T12.345", "I7", "N").
  std::map<int64_t, std::vector<std::string>> rows;
  bool operator==(const TableDump& o) const { return columns == o.columns && rows == o.rows; }
};
// "DADOS/Medicos.DB" -> table name -> its dump.
using InstallationDump = std::map<std::string, std::map<std::string, TableDump>>;

inline std::map<std::string, TableDump> DumpFile(const std::filesystem::path& file) {
  std::map<std::string, TableDump> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return out;
  }
  auto each = [&](const std::string& sql, auto&& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return;
    while (sqlite3_step(st) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
  };
  std::vector<std::string> tables;
  each("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", [&](sqlite3_stmt* st) {
    tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  });
  for (const std::string& table : tables) {
    TableDump& d = out[table];
    each("SELECT name FROM pragma_table_info('" + table + "')", [&](sqlite3_stmt* st) {
      d.columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    });
    each("SELECT rowid, * FROM \"" + table + "\"", [&](sqlite3_stmt* st) {
      std::vector<std::string> values;
      for (int i = 1; i < sqlite3_column_count(st); ++i) {
        const int type = sqlite3_column_type(st, i);
        const char letter = type == SQLITE_INTEGER ? 'I'
                            : type == SQLITE_FLOAT ? 'R'
                            : type == SQLITE_TEXT  ? 'T'
                            : type == SQLITE_BLOB  ? 'B'
                                                   : 'N';
        const void* bytes = type == SQLITE_BLOB ? sqlite3_column_blob(st, i) : sqlite3_column_text(st, i);
        const int size = sqlite3_column_bytes(st, i);
        values.push_back(letter + (bytes ? std::string(static_cast<const char*>(bytes), size) : ""));
      }
      d.rows[sqlite3_column_int64(st, 0)] = std::move(values);
    });
    // The engine's table of records waiting for the journal: there once the
    // file was written under the journal, empty once they are collected.
    if (table == "_journal" && d.rows.empty()) out.erase(table);
  }
  sqlite3_close(db);
  return out;
}

inline InstallationDump DumpInstallation(const std::filesystem::path& driveC) {
  InstallationDump out;
  const std::filesystem::path root = driveC / "VITRALON";
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const std::string relative = std::filesystem::relative(e.path(), root).string();
    if (relative.rfind("CONSISTGERAL/", 0) == 0) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::toupper);
    if (ext == ".DB") out[relative] = DumpFile(e.path());
  }
  return out;
}

// One field that differs between two dumps of the same row.
struct FieldChange {
  std::string file, table, column;
  int64_t rowid = 0;
  std::string before, after;  // type letter and bytes
};

// Every field changed between two dumps, and the rows inserted or deleted
// (counted, not listed field by field).
struct DumpDifference {
  std::vector<FieldChange> fields;
  int64_t rowsChanged = 0;  // rows updated, inserted or deleted
};

inline DumpDifference Difference(const InstallationDump& before, const InstallationDump& after) {
  DumpDifference diff;
  for (const auto& [file, tables] : after) {
    for (const auto& [table, dump] : tables) {
      const TableDump* old = nullptr;
      auto f = before.find(file);
      if (f != before.end()) {
        auto t = f->second.find(table);
        if (t != f->second.end()) old = &t->second;
      }
      for (const auto& [rowid, values] : dump.rows) {
        auto was = old ? old->rows.find(rowid) : decltype(old->rows.end()){};
        if (!old || was == old->rows.end()) {
          ++diff.rowsChanged;
          continue;
        }
        bool changed = false;
        for (size_t i = 0; i < values.size() && i < was->second.size(); ++i) {
          if (values[i] == was->second[i]) continue;
          changed = true;
          diff.fields.push_back({file, table, dump.columns[i], rowid, was->second[i], values[i]});
        }
        if (changed) ++diff.rowsChanged;
      }
      if (old)
        for (const auto& [rowid, values] : old->rows)
          if (!dump.rows.count(rowid)) ++diff.rowsChanged;
    }
  }
  return diff;
}

}  // namespace testsupport
