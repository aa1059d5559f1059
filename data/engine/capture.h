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

}  // namespace cg::engine
