// What the table engine tells a journal about the rows it changes. Every
// SQLite connection the engine opens on a table file (a table object's, a
// local SQL statement's) reports, while a sink is installed:
//  - each row change before it is made, with the row's images;
//  - each transaction about to commit, before it commits: the sink makes its
//    records of that transaction durable first (or refuses the commit);
//  - each transaction committed, file by file, and each rolled back.
// A change is never on disk without its record.
//
// During a simulation (simulation.h) the changes are reported the same way,
// but nothing commits: the sink never hears committing() or committed().
// The token of a change is then one part of the simulation's transaction
// (from one savepoint to the next, where a real run would have committed):
// a part rolled back where a real run would roll back is rolledBack(), and at
// the end of the simulation, when everything is rolled back, each part that
// reported changes and was not rolled back is simulated() instead of
// rolledBack(): those are the changes the run would have made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cg {

// One value of a row image: null, integer, real, text (CP1252 bytes) or a
// foreign blob kept as bytes.
struct ImageValue {
  enum Kind : uint8_t { Null = 0, Integer = 1, Real = 2, Text = 3, Blob = 4 };
  Kind kind = Null;
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // Text and Blob
  bool operator==(const ImageValue& o) const;
  bool operator!=(const ImageValue& o) const { return !(*this == o); }
};

// A row image: field positions (0-based, in field order) and their values.
// Encoded as a sequence of entries: the position (varint), the kind (one
// byte), then the payload (integer: zigzag varint; real: 8 bytes, little
// endian; text and blob: length as varint, then the bytes). The encoding is
// kept in the journal; it never changes meaning.
using RowImage = std::vector<std::pair<int, ImageValue>>;
std::string EncodeImage(const RowImage& image);
RowImage DecodeImage(std::string_view bytes);  // raises cg::Exception on a damaged image

// A table file as the changes name it.
struct ChangedTable {
  std::string windowsPath;          // "C:\VITRALON\DADOS\Clientes.DB", as the program first named it
  std::filesystem::path file;       // the host file
  std::string dataTable;            // the data table inside the file
  std::vector<std::string> fields;  // field names in field order
  std::vector<int> primaryKey;      // positions of the primary key fields
};

class LocalChangeSink {
 public:
  enum class Op : char { Insert = 'I', Update = 'U', Delete = 'D' };
  virtual ~LocalChangeSink() = default;

  // A row change about to be made through connection `connection` (an
  // opaque token, one per SQLite handle) in `table`. `before`: the whole
  // row for a delete, the old values of the changed fields for an update,
  // empty for an insert; `after`: the whole row for an insert, the new
  // values of the changed fields for an update, empty for a delete (both
  // encoded by EncodeImage). An update that changes no value is not
  // reported. May raise: the transaction it belongs to then cannot commit
  // (it is rolled back, and the commit raises EDBEngineError with the
  // sink's message).
  virtual void change(const void* connection, const ChangedTable& table, Op op, int64_t rowid,
                      std::string_view before, std::string_view after) = 0;
  // The transaction of `connection` is about to commit: make every change
  // reported for it durable now. False refuses the commit (the transaction
  // is rolled back).
  virtual bool committing(const void* connection) noexcept = 0;
  // The transaction of `connection` is on disk in `file`.
  virtual void committed(const void* connection, const std::filesystem::path& file) noexcept = 0;
  // The transaction of `connection` was rolled back: its changes are gone.
  virtual void rolledBack(const void* connection) noexcept = 0;
  // The simulation has ended: the changes reported under `connection` are
  // the simulated run's, and none of them is in the file. A sink that keeps
  // no simulations takes them back, as for a rollback.
  virtual void simulated(const void* connection) noexcept { rolledBack(connection); }
};

// The sink that connections report to (nullptr: none). Connections opened
// while no sink is installed never report; the others report to the sink
// installed at the time of each report.
void SetLocalChangeSink(LocalChangeSink* sink);
LocalChangeSink* CurrentLocalChangeSink();

}  // namespace cg
