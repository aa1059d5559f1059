// How the table engine keeps a record of every row it changes, for the
// journal. While a sink is installed, every SQLite connection the engine
// opens on a table file (a table object's, a local SQL statement's) keeps,
// for each row change, a record in the table file itself: the engine's
// table "_journal" (docs/storage.md), written in the same transaction as
// the change, so that the change and its record reach the file together or
// not at all, whatever happens to the program or the machine. The journal
// collects the records from the files (and deletes them there) once it has
// them safely in its own file.
//
// Table "_journal" of a table file:
//   seq INTEGER PRIMARY KEY  order of the changes in the file
//   run INTEGER      the sink's run when the change was made
//   op TEXT          'I' insert, 'U' update, 'D' delete
//   row_id INTEGER   the row's rowid (its old rowid for an update)
//   key BLOB         image of the primary key fields before the change
//                    (after it for an insert)
//   before BLOB      delete: the whole row; update: the old values of the
//                    changed fields; insert: empty
//   after BLOB       insert: the whole row; update: the new values of the
//                    changed fields; delete: empty
// An update that changes no stored value has no record.
//
// During a simulation (simulation.h) the records are written the same way,
// where a real run would commit (a savepoint released), and go when the
// simulation rolls everything back; just before, the sink receives the
// records of what the simulation changed in each file.
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
  virtual ~LocalChangeSink() = default;
  // The run the records of changes made now belong to.
  virtual int64_t currentRun() noexcept = 0;
  // A table file receives its first change of a transaction: the journal
  // notes it (durably) so that it will collect the file's records. May
  // raise: the change is then kept from the file (its transaction cannot
  // commit, and the commit raises EDBEngineError with the sink's message).
  virtual void touched(const ChangedTable& table) = 0;

  // One record of the records' table.
  struct Record {
    int64_t run = 0;
    char op = 'U';
    int64_t rowid = 0;
    std::string key, before, after;
  };
  // A simulation ends: the records of the run `run` in `table`, as the
  // simulation wrote them; none of them, nor their changes, stays in the
  // file.
  virtual void simulated(const ChangedTable& table, const std::vector<Record>& records) noexcept = 0;
};

// The name of the records' table inside a table file.
inline constexpr const char* kJournalTable = "_journal";

// The sink that connections report to (nullptr: none). Connections opened
// while no sink is installed never report; the others report to the sink
// installed at the time of each report.
void SetLocalChangeSink(LocalChangeSink* sink);
LocalChangeSink* CurrentLocalChangeSink();

}  // namespace cg
