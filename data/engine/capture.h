// Private to the table engine: the hooks through which a connection reports
// its row changes to the installed LocalChangeSink (changes.h).
#pragma once

#include <string>

struct sqlite3;

namespace cg::engine {

// Watches a connection just opened on `windowsPath`, when a sink is installed.
void startCapture(sqlite3* db, const std::string& windowsPath);
// Writes the records of the open transaction's changes into the files'
// record tables (changes.h), inside that transaction: every commit of a
// watched connection does it first. SQLite's result code.
int writePendingRecords(sqlite3* db) noexcept;
// A table file attached to a watched connection as `schema`.
void noteAttached(sqlite3* db, const std::string& schema, const std::string& windowsPath);
// The sink's error that kept the last transaction from committing ("" when
// none); taken once.
std::string takeCaptureFailure(sqlite3* db);
// Before the connection closes.
void stopCapture(sqlite3* db) noexcept;

}  // namespace cg::engine
