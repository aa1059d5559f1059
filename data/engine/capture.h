// Private to the table engine: the hooks through which a connection reports
// its row changes to the installed LocalChangeSink (changes.h).
#pragma once

#include <string>

struct sqlite3;

namespace cg::engine {

// Pages of write-ahead log after which a commit copies the log back into
// the file (PRAGMA wal_autocheckpoint; the capture's own log hook does it
// on the connections it watches).
inline constexpr int kWalCheckpointPages = 8192;

// Watches a connection just opened on `windowsPath`, when a sink is installed.
void startCapture(sqlite3* db, const std::string& windowsPath);
// A table file attached to a watched connection as `schema`.
void noteAttached(sqlite3* db, const std::string& schema, const std::string& windowsPath);
// The sink's error that kept the last transaction from committing ("" when
// none); taken once.
std::string takeCaptureFailure(sqlite3* db);
// Before the connection closes.
void stopCapture(sqlite3* db) noexcept;

// A simulation (simulation.h) on a connection: it has begun its transaction
// (from now on no commit may reach the file: one is refused), has released a
// savepoint where a real run commits (the changes so far are kept for the
// end), has rolled back to its savepoint (the changes since are gone), and has
// ended (its transaction rolled back: the sink hears simulated() for the
// changes kept).
void simulationStarted(sqlite3* db) noexcept;
void simulationSavepoint(sqlite3* db) noexcept;
// False when the sink could not record a change of the open part: where a
// real run's commit would fail, the part is rolled back instead.
bool simulationMayCommit(sqlite3* db) noexcept;
void simulationRolledBack(sqlite3* db) noexcept;
void simulationEnded(sqlite3* db) noexcept;

}  // namespace cg::engine
