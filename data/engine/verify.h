// Private to the table engine: the checks that a table file agrees with the
// description kept inside it, and the deeper check a repair asks for before
// it deletes or replaces records.
#pragma once

#include <filesystem>
#include <string>

#include "data/engine/sqlite.h"

namespace cg::engine {

// The Portuguese sentence for an SQLite failure on a table (disk full, disk
// not written, no permission, cannot open, damaged), with SQLite's own
// text after it.
std::string sqliteFailure(int rc, const std::string& windowsPath, const std::string& detail);

// Compares the description (_fields, _primary, _indexes) with the SQLite
// table and its indexes: every declared field is a column whose declared
// type has the affinity its type letter keeps, widths are within the type's
// limits, the primary key and every declared index exist as SQLite indexes
// on the declared columns. Raises EDBEngineError "Arquivo de tabela inválido
// ou danificado: PATH (what disagrees)". Runs once per connection, when the
// layout is read.
void checkLayout(sqlite3* db, const FileLayout& layout, const std::string& windowsPath);

// The check before a destructive repair: SQLite's quick check of the data
// table, every index holding one entry per record, every ordering field
// holding only values of its type, and no alpha field whose stored values
// are mostly longer than its declared width.
void verifyFile(const std::filesystem::path& file, const std::string& windowsPath);

}  // namespace cg::engine
