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

// A simulation (simulation.h) on a connection: it has begun its transaction
// (from now on no commit may reach the file: one is refused), has released a
// savepoint where a real run commits (the records of the changes so far are
// in the file's records table, inside the transaction), has rolled back to
// its savepoint (the changes since are gone, with their records), and is
// ending (called before its transaction is rolled back: the sink receives
// the records of the changes kept).
void simulationStarted(sqlite3* db) noexcept;
void simulationSavepoint(sqlite3* db) noexcept;
// False when the sink could not record a change of the open part: where a
// real run's commit would fail, the part is rolled back instead.
bool simulationMayCommit(sqlite3* db) noexcept;
void simulationRolledBack(sqlite3* db) noexcept;
void simulationEnded(sqlite3* db) noexcept;

}  // namespace cg::engine
