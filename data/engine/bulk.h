// Private to the data layer: fast creation of a filled table file, for the
// sample installation. Rows go in through one reused prepared INSERT inside
// one transaction, with no journal; the indexes are built after the load,
// which is much faster than keeping them up to date row by row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine/engine.h"
#include "data/engine/sqlite.h"
#include "data/engine/values.h"

namespace cg::engine {

class BulkTable {
 public:
  // Creates (or overwrites) `tableName` in the Windows directory `dirWin`.
  BulkTable(const std::string& dirWin, const std::string& tableName, const TableDef& def);
  BulkTable(const BulkTable&) = delete;
  BulkTable& operator=(const BulkTable&) = delete;

  // Position of a field (raises EFieldNotFound).
  int field(std::string_view name) const;

  // Values of the row being built; unset fields are blank. Texts are cut to
  // an alpha field's width and an empty text is a blank, as in a table object.
  void text(int f, std::string_view v);
  void integer(int f, int64_t v);
  void real(int f, double v);
  void date(int f, int year, int month, int day);
  void blank(int f);
  void insert();  // writes the row and starts a blank one

  // Commits, builds the indexes and closes the file.
  void finish();
  int64_t rows() const { return rows_; }

 private:
  TableDef def_;
  std::string path_, dataTable_;
  Database db_;  // declared before the statement: closed after it
  Stmt insert_;
  std::vector<Value> row_;
  int64_t rows_ = 0;
  bool finished_ = false;
};

}  // namespace cg::engine
