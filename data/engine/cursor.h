// Private to the table engine: the open cursor behind a Table object.
//
// The cursor walks the table in the order of its current index: the index
// fields, then the primary key fields, then the rowid as the final
// tiebreak (the "ordering tuple" of a row). It keeps the whole current row;
// moving on seeks the first row whose tuple is strictly greater than the
// current one. When none of the current row's ordering fields is blank that
// is one row-value comparison, "(c1, ..., cn, rowid) > (?, ..., ?)", one
// indexed seek: every row past it in the index's order compares greater at
// its first differing column. SQLite's row-value comparison is NULL-blind,
// so from a row with a blank ordering field the seek is split into levels:
// for k = n..0, "the first k columns equal (IS) and column k greater", each
// an indexed seek on the SQLite index that matches the order; the deepest
// level that finds a row holds the successor. A hit
// reads up to kReadAhead consecutive rows at once; they stay valid while
// nothing is written through the file's connection (generation counter).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/engine/engine.h"
#include "data/engine/sqlite.h"
#include "data/engine/values.h"

namespace cg {
class Session;

class TableCursor {
 public:
  static constexpr int kReadAhead = 32;
  static constexpr int kLimitParam = 900;  // parameter number of a seek's LIMIT

  TableCursor(Table& owner, Session* session, std::string windowsPath, const std::filesystem::path& file,
              const std::string& indexName, const std::string& indexFieldNames);
  ~TableCursor();

  const std::string& path() const { return path_; }
  const std::filesystem::path& file() const { return conn_->file(); }
  Session* session() const { return session_; }
  const TableDef& def() const { return def_; }

  void selectIndex(const std::string& indexName, const std::string& indexFieldNames);

  int recordCount();
  bool first();  // true when positioned on a row
  bool next();   // true when it moved
  bool prior();  // true when it moved
  bool eof() const { return eof_; }
  int recNo();
  std::vector<std::string> fieldValues(std::string_view field, int firstRecNo, int count);

  // Which opening of its table this cursor is: field handles taken from
  // another one are refused.
  uint64_t opening() const { return opening_; }

  int fieldIndex(std::string_view name) const;  // -1 when absent, without regard to case
  int requireField(std::string_view name) const;
  const engine::Value& value(int field);
  engine::Value& editValue(int field);
  engine::FieldCodec codec(int field) const { return engine::FieldCodec{&def_.fields[field], &path_}; }

  enum class Mode { Browse, Edit, Insert };
  Mode mode() const { return mode_; }
  bool hasCurrent() const { return hasCur_; }
  void edit();
  void append();
  void post();
  void cancel();
  void remove();
  bool findKey(const std::vector<KeyValue>& values);
  void emptyTable();
  // Starts a refill of the emptied table in the current order, a secondary
  // index whose leading fields are text: the secondary indexes are dropped
  // and built again, sorted, when the refill commits (Connection::
  // startRefill), and key searches on the leading fields are answered from
  // the keys posted meanwhile. Anything else done on the file first builds
  // the indexes again. Does nothing in a simulation or on a table that holds
  // records.
  void beginRefill();
  // The same for a walk of the table in its primary order that edits or
  // deletes records: the walk and its writes go on in that order, anything
  // else builds the indexes first. Does nothing in a simulation or in
  // another order.
  void beginRewrite();
  void commit();
  bool tryCommit() noexcept;
  // The save-changes call: commits; raises only when the journal refused
  // the group (which is then rolled back).
  void flush();

 private:
  struct Order {
    std::string name;                     // secondary index name, "" for the primary
    std::string sqlIndex;                 // SQLite index to use, "" for rowid order
    std::vector<int> cols;                // ordering fields (without the rowid)
    std::string orderAsc, orderDesc;      // ORDER BY clauses
    std::string keyList;                  // "rowid" and the ordering fields
    std::vector<engine::Stmt> fwd;        // level seeks forward: 2 per level (value, null)
    std::vector<engine::Stmt> fwdKeys;    // the same, reading the ordering fields only
    engine::Stmt fwdRow, fwdRowKeys;      // the row-value seek forward (whole rows, ordering fields)
    std::vector<engine::Stmt> back;       // level seeks backward: 2 per level (less, is null)
    std::vector<engine::Stmt> key;        // key searches by number of values
    std::vector<engine::Stmt> countLess;  // recNo counts: 2 per level
    engine::Stmt firstRows, firstKeys, lastRow;
  };

  Order& orderFor(const std::string& indexName, const std::string& indexFieldNames);
  std::string fromClause(const Order& o) const;
  engine::Stmt& seekStmt(Order& o, bool forward, int level, bool variant);
  engine::Stmt& rowSeekStmt(Order& o);
  void bindPrefix(engine::Stmt& s, const engine::Row& r, int levels) const;
  void bindValue(engine::Stmt& s, int at, const engine::Value& v) const;
  void readRow(engine::Stmt& s, engine::Row& into) const;
  void readKeys(engine::Stmt& s, engine::Row& into) const;
  // Reads the rows of a positioned seek: the first into the current row
  // (unless `haveCurrent`), the rest after the rows already read ahead.
  // Returns the number of rows read. `keys`: the seek reads the ordering
  // fields only.
  int fill(engine::Stmt& s, bool haveCurrent, bool keys = false);
  bool seekAfter(const engine::Row& from);
  bool seekBefore(const engine::Row& from);
  bool takeBuffered();
  bool bufferValid() const { return bufPos_ < bufLen_ && bufGen_ == conn_->generation(); }
  void dropBuffer() { bufPos_ = bufLen_ = 0; }
  bool sameOrder(const engine::Row& a, const engine::Row& b) const;
  void checkProgress(const engine::Row& from) const;
  bool reread(int64_t rowid, engine::Row& into);
  bool holdsAlready(const engine::Row& r);
  void writeChanged();
  void loadFull();
  void checkUnique(const engine::Row& r, int64_t exceptRowid);
  void assignAutoInc(engine::Row& r);
  void requireWritable(const char* what) const;
  void keyValue(int field, const KeyValue& kv, engine::Value& into) const;
  bool refilling() const { return conn_->refillOwner() == this; }
  // Builds the indexes of a refill of the file again before anything needs
  // them.
  void settle() {
    if (conn_->refilling() && !walksOwnRewrite()) conn_->settleRefill(path_);
  }
  // A rewrite (no keys kept) walked in the primary order, which it keeps.
  bool walksOwnRewrite() const { return refilling() && !keepsKeys() && order_->name.empty(); }
  // A refill (not a rewrite): the keys posted answer key searches.
  bool keepsKeys() const { return refilling() && refill_.leading > 0; }
  // Commits what was posted and opens a write of its own; false in a
  // simulation.
  bool beginOwnWrite();
  void dropSecondaryIndexes(size_t leading);
  void noteRefilled(const engine::Row& posted);
  bool refillHash(const std::vector<engine::Value>& values, bool searched, uint64_t& hash);
  // The keys of a refill that has ended (committed or rolled back) go.
  void forgetRefill() {
    if (!refill_.rows.empty() && !refilling()) refill_.rows = {};
  }
  // A key search answered from the refill's keys; false when it cannot be.
  bool findRefilled(const std::vector<engine::Value>& keys, bool& found);

  Table& owner_;
  Session* session_;
  std::string path_;
  std::shared_ptr<engine::Connection> conn_;
  std::string dataTable_;
  TableDef def_;
  std::string selectList_;
  uint64_t opening_;                                      // this opening of the table, unique in the program
  std::vector<engine::Value> keyScratch_;                 // a key search's values, converted
  std::map<std::string, std::unique_ptr<Order>> orders_;  // by upper-case index name
  Order* order_ = nullptr;

  engine::Row cur_, edit_, seekFrom_, progressFrom_, stored_;
  std::vector<bool> dirty_;
  uint64_t editGen_ = 0;  // the connection's generation when the edit read its row
  bool hasCur_ = false, eof_ = true;
  // A walk reads the ordering fields only (from the index alone) until a
  // field outside them is asked for; from then on it reads whole rows.
  bool keysOnly_ = true;
  // The last key search, and what it found: walks that look the same key
  // up row after row (the formulas of one order) are answered from here as
  // long as the file is in the same state (same snapshot and generation).
  struct LastSearch {
    const Order* order = nullptr;
    std::vector<engine::Value> keys;
    uint64_t snapshot = 0, generation = 0;
    bool found = false;
    int64_t rowid = 0;
    std::vector<engine::Value> row;  // the ordering fields of the row found
  } lastSearch_;
  Mode mode_ = Mode::Browse;
  std::vector<engine::Row> buf_;
  size_t bufPos_ = 0, bufLen_ = 0;
  uint64_t bufGen_ = 0;

  // The keys posted during a refill: the hash of a row's leading fields, and
  // its rowid (-1: more than one row). A rewrite keeps none: its order, the
  // primary one, is still indexed.
  struct Refill {
    size_t leading = 0;
    std::unordered_map<uint64_t, int64_t> rows;
    std::string scratch;
  } refill_;

  engine::Stmt count_, insert_, delete_, byRowid_, deleteAll_;
  std::map<std::vector<bool>, engine::Stmt> updates_;  // by the set of changed fields
  std::vector<engine::Stmt> unique_;                   // null-aware key checks, per unique field set
  std::vector<std::vector<int>> uniqueSets_;
};

}  // namespace cg
