#include "data/engine/cursor.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "data/engine/capture.h"
#include "data/engine/verify.h"
#include "platform/cp1252.h"

namespace cg {
using namespace engine;

namespace {

// One read of the cursor: takes the read lock, and lets go of it afterwards
// unless reads are coming fast (see Connection). A view's read (`release`)
// always lets go: views ask between user actions, and no read lock may be
// kept after them.
class ReadScope {
 public:
  enum Hold { MayHold, Release };
  ReadScope(Connection& c, const std::string& path, Hold hold = MayHold) : c_(c), hold_(hold) {
    c_.readLock(path);
  }
  ~ReadScope() {
    c_.readDone();
    if (hold_ == Release) c_.releaseRead();
  }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  Connection& c_;
  Hold hold_;
};

std::vector<std::string> splitFields(const std::string& s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= s.size()) {
    size_t j = s.find(';', i);
    if (j == std::string::npos) j = s.size();
    std::string f = s.substr(i, j - i);
    while (!f.empty() && f.front() == ' ') f.erase(f.begin());
    while (!f.empty() && f.back() == ' ') f.pop_back();
    if (!f.empty()) out.push_back(f);
    i = j + 1;
  }
  return out;
}

bool startsWithFields(const std::vector<std::string>& have, const std::vector<std::string>& want) {
  if (want.empty() || want.size() > have.size()) return false;
  for (size_t i = 0; i < want.size(); ++i)
    if (!equalsNoCase(have[i], want[i])) return false;
  return true;
}

// Openings of tables so far (each cursor is one).
uint64_t openings = 0;

}  // namespace

TableCursor::TableCursor(Table& owner, Session* session, std::string windowsPath,
                         const std::filesystem::path& file, const std::string& indexName,
                         const std::string& indexFieldNames)
    : owner_(owner), session_(session), path_(std::move(windowsPath)), opening_(++openings) {
  conn_ = Connection::acquire(file, path_);
  const FileLayout& layout = conn_->layout(path_);
  dataTable_ = layout.dataTable;
  def_ = layout.def;
  selectList_ = "rowid";
  for (const auto& f : def_.fields) selectList_ += ", " + quoteId(f.name);
  const size_t n = def_.fields.size();
  cur_.v.resize(n);
  seekFrom_.v.resize(n);
  progressFrom_.v.resize(n);
  edit_.v.resize(n);
  dirty_.assign(n, false);
  buf_.resize(kReadAhead);
  for (auto& r : buf_) r.v.resize(n);

  auto indices = [&](const std::vector<std::string>& names) {
    std::vector<int> out;
    for (const auto& f : names) out.push_back(requireField(f));
    return out;
  };
  if (!def_.primaryKey.empty()) uniqueSets_.push_back(indices(def_.primaryKey));
  for (const auto& ix : def_.indexes)
    if (ix.unique) uniqueSets_.push_back(indices(ix.fields));
  unique_.resize(uniqueSets_.size());

  order_ = &orderFor(indexName, indexFieldNames);
}

TableCursor::~TableCursor() {
  if (refilling()) conn_->disownRefill();
  if (mode_ != Mode::Browse) {
    mode_ = Mode::Browse;
    conn_->releaseIfIdle();
  }
}

// Fields are looked up by name when a handle is taken (Table::field), when
// an order is set up and for one-off reads: a plain search of the few fields.
int TableCursor::fieldIndex(std::string_view name) const {
  for (size_t i = 0; i < def_.fields.size(); ++i)
    if (equalsNoCase(def_.fields[i].name, name)) return static_cast<int>(i);
  return -1;
}

int TableCursor::requireField(std::string_view name) const {
  int i = fieldIndex(name);
  if (i < 0)
    throw EFieldNotFound(std::string("Campo não encontrado: "_cp) + std::string(name) + " (" + path_ + ")");
  return i;
}

const Value& TableCursor::value(int field) {
  if (mode_ != Mode::Browse) return edit_.v[field];
  if (cur_.partial) {
    // A row read by a key search or a walk of the ordering fields holds
    // those fields; the others are read when first asked for, and the walk
    // reads whole rows from then on.
    for (int c : order_->cols)
      if (c == field) return cur_.v[field];
    loadFull();
    if (keysOnly_) {
      keysOnly_ = false;
      dropBuffer();
    }
  }
  return cur_.v[field];
}

void TableCursor::loadFull() {
  ReadScope read(*conn_, path_);
  if (!reread(cur_.rowid, cur_))
    throw EDBEngineError(std::string("O registro foi excluído por outro usuário: "_cp) + path_);
}

Value& TableCursor::editValue(int field) {
  if (mode_ == Mode::Browse)
    throw EDBEngineError(std::string("A tabela não está em modo de edição ou inclusão: "_cp) + path_);
  dirty_[field] = true;
  return edit_.v[field];
}

// ---------------------------------------------------------------- orders

TableCursor::Order& TableCursor::orderFor(const std::string& indexName, const std::string& indexFieldNames) {
  const IndexDef* ix = nullptr;
  bool primary = true;
  if (!indexName.empty()) {
    for (const auto& i : def_.indexes)
      if (equalsNoCase(i.name, indexName)) ix = &i;
    if (!ix) throw EIndexNotFound(std::string("Índice não encontrado: "_cp) + indexName + " (" + path_ + ")");
    primary = false;
  } else if (!indexFieldNames.empty()) {
    auto want = splitFields(indexFieldNames);
    if (!startsWithFields(def_.primaryKey, want)) {
      for (const auto& i : def_.indexes)
        if (!ix && startsWithFields(i.fields, want)) ix = &i;
      if (!ix)
        throw EIndexNotFound(std::string("Índice não encontrado para os campos "_cp) + indexFieldNames +
                             " (" + path_ + ")");
      primary = false;
    }
  }
  std::string key = primary ? std::string() : upperAscii(ix->name);
  auto it = orders_.find(key);
  if (it != orders_.end()) return *it->second;

  auto o = std::make_unique<Order>();
  std::vector<std::string> colNames;
  if (primary) {
    colNames = def_.primaryKey;
    if (!colNames.empty()) o->sqlIndex = primaryIndexName(dataTable_);
  } else {
    o->name = ix->name;
    colNames = orderedColumns(def_, ix->fields);
    o->sqlIndex = secondaryIndexName(dataTable_, ix->name);
  }
  for (const auto& c : colNames) {
    o->cols.push_back(requireField(c));
    o->orderAsc += quoteId(def_.fields[o->cols.back()].name) + ", ";
    o->orderDesc += quoteId(def_.fields[o->cols.back()].name) + " DESC, ";
  }
  o->orderAsc += "rowid";
  o->orderDesc += "rowid DESC";
  o->keyList = "rowid";
  for (int c : o->cols) o->keyList += ", " + quoteId(def_.fields[c].name);
  const size_t levels = o->cols.size() + 1;
  o->fwd.resize(levels * 2);
  o->fwdKeys.resize(levels * 2);
  o->back.resize(levels * 2);
  o->countLess.resize(levels * 2);
  o->key.resize(levels);
  return *(orders_[key] = std::move(o));
}

void TableCursor::selectIndex(const std::string& indexName, const std::string& indexFieldNames) {
  settle();
  Order& next = orderFor(indexName, indexFieldNames);
  if (hasCur_ && cur_.partial) loadFull();  // the new order needs its own fields
  order_ = &next;
  dropBuffer();
  if (hasCur_) eof_ = false;
}

std::string TableCursor::fromClause(const Order& o) const {
  std::string s = " FROM " + quoteId(dataTable_);
  if (!o.sqlIndex.empty()) s += " INDEXED BY " + quoteId(o.sqlIndex);
  return s;
}

namespace {
std::string levelColumn(const std::vector<FieldDef>& fields, const std::vector<int>& cols, size_t k) {
  return k < cols.size() ? quoteId(fields[cols[k]].name) : std::string("rowid");
}
}  // namespace

// Level k of a seek: the first k ordering columns equal to the bound values,
// and column k past the bound value (variant 0) or, for a blank bound value
// going forward, any non-blank one (variant 1). Going backward, variant 0 is
// "less than the bound value" and variant 1 "blank".
Stmt& TableCursor::seekStmt(Order& o, bool forward, int level, bool variant) {
  const bool keys = forward && keysOnly_;
  Stmt& s = (forward ? (keys ? o.fwdKeys : o.fwd) : o.back)[level * 2 + (variant ? 1 : 0)];
  if (s) return s;
  std::string sql = "SELECT " + (keys ? o.keyList : selectList_) + fromClause(o) + " WHERE ";
  for (int i = 0; i < level; ++i)
    sql += levelColumn(def_.fields, o.cols, i) + " IS ?" + std::to_string(i + 1) + " AND ";
  std::string col = levelColumn(def_.fields, o.cols, level);
  if (forward)
    sql += variant ? col + " IS NOT NULL" : col + " > ?" + std::to_string(level + 1);
  else
    sql += variant ? col + " IS NULL" : col + " < ?" + std::to_string(level + 1);
  // Forward seeks take their limit as a parameter: a seek fills what is
  // left of the read-ahead buffer.
  sql += " ORDER BY " + (forward ? o.orderAsc : o.orderDesc) +
         (forward ? " LIMIT ?" + std::to_string(kLimitParam) : std::string(" LIMIT 1"));
  s = Stmt(conn_->db(), sql, path_);
  return s;
}

// The successor of a row without blank ordering fields, in one seek.
Stmt& TableCursor::rowSeekStmt(Order& o) {
  Stmt& s = keysOnly_ ? o.fwdRowKeys : o.fwdRow;
  if (s) return s;
  std::string columns, marks;
  for (size_t i = 0; i <= o.cols.size(); ++i) {
    columns += (i ? ", " : "") + levelColumn(def_.fields, o.cols, i);
    marks += (i ? ", ?" : "?") + std::to_string(i + 1);
  }
  s = Stmt(conn_->db(),
           "SELECT " + (keysOnly_ ? o.keyList : selectList_) + fromClause(o) + " WHERE (" + columns +
               ") > (" + marks + ") ORDER BY " + o.orderAsc + " LIMIT ?" + std::to_string(kLimitParam),
           path_);
  return s;
}

namespace {
const Value& levelValue(const Row& r, const std::vector<int>& cols, size_t k, Value& rowidHolder) {
  if (k < cols.size()) return r.v[cols[k]];
  rowidHolder.setInt(r.rowid);
  return rowidHolder;
}
}  // namespace

void TableCursor::bindValue(Stmt& s, int at, const Value& v) const {
  switch (v.kind) {
    case Value::Null:
      s.bindNull(at);
      break;
    case Value::Int:
      s.bindInt(at, v.i);
      break;
    case Value::Real:
      s.bindReal(at, v.d);
      break;
    case Value::Text:
      if (v.blob)
        sqlite3_bind_blob(s.get(), at, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
      else
        s.bindText(at, v.s);
      break;
  }
}

void TableCursor::bindPrefix(Stmt& s, const Row& r, int levels) const {
  Value rid;
  for (int i = 0; i < levels; ++i) bindValue(s, i + 1, levelValue(r, order_->cols, i, rid));
}

namespace {
// Column `c` of the statement's current row, as the value it holds (one
// call into SQLite for the column, then its value's type and content; the
// value is SQLite's unprotected one, which a connection used by one thread
// at a time may read so).
void readColumn(Stmt& s, int c, Value& v) {
  sqlite3_value* x = sqlite3_column_value(s.get(), c);
  switch (sqlite3_value_type(x)) {
    case SQLITE_NULL:
      v.setNull();
      break;
    case SQLITE_INTEGER:
      v.setInt(sqlite3_value_int64(x));
      break;
    case SQLITE_FLOAT:
      v.setReal(sqlite3_value_double(x));
      break;
    case SQLITE_BLOB: {
      const void* p = sqlite3_value_blob(x);
      v.setBlob(p ? std::string_view(static_cast<const char*>(p), static_cast<size_t>(sqlite3_value_bytes(x)))
                  : std::string_view());
      break;
    }
    default: {
      const unsigned char* p = sqlite3_value_text(x);
      v.setText(
          p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_value_bytes(x)))
            : std::string_view());
      break;
    }
  }
}
}  // namespace

void TableCursor::readRow(Stmt& s, Row& into) const {
  into.rowid = s.columnInt(0);
  into.partial = false;
  for (size_t i = 0; i < into.v.size(); ++i) readColumn(s, static_cast<int>(i) + 1, into.v[i]);
}

void TableCursor::readKeys(Stmt& s, Row& into) const {
  into.rowid = s.columnInt(0);
  into.partial = true;
  const std::vector<int>& cols = order_->cols;
  for (size_t i = 0; i < cols.size(); ++i) readColumn(s, static_cast<int>(i) + 1, into.v[cols[i]]);
}

int TableCursor::fill(Stmt& s, bool haveCurrent, bool keys) {
  StmtUse use(s);
  int rows = 0;
  if (!haveCurrent) {
    if (!s.step()) return 0;
    keys ? readKeys(s, cur_) : readRow(s, cur_);
    ++rows;
  }
  while (bufLen_ < buf_.size() && s.step()) {
    keys ? readKeys(s, buf_[bufLen_++]) : readRow(s, buf_[bufLen_++]);
    ++rows;
  }
  bufGen_ = conn_->generation();
  return rows;
}

bool TableCursor::takeBuffered() {
  if (!bufferValid()) return false;
  std::swap(cur_, buf_[bufPos_++]);
  return true;
}

// The rows of level k all come before those of level k-1, so the levels are
// read from the deepest on, each one filling what the previous left of the
// buffer, until it is full or level 0 is done.
bool TableCursor::seekAfter(const Row& from) {
  ReadScope read(*conn_, path_);
  dropBuffer();
  // `from` may be the current row, which the first row read replaces.
  seekFrom_.rowid = from.rowid;
  for (int c : order_->cols) seekFrom_.v[c] = from.v[c];
  const int n = static_cast<int>(order_->cols.size());
  const int capacity = static_cast<int>(buf_.size()) + 1;
  bool blank = false;
  for (int c : order_->cols) blank = blank || seekFrom_.v[c].kind == Value::Null;
  if (n > 0 && !blank) {
    Stmt& s = rowSeekStmt(*order_);
    bindPrefix(s, seekFrom_, n + 1);
    s.bindInt(kLimitParam, capacity);
    return fill(s, false, keysOnly_) > 0;
  }
  int got = 0;
  Value rid;
  for (int k = n; k >= 0 && got < capacity; --k) {
    const Value& v = levelValue(seekFrom_, order_->cols, k, rid);
    bool levelBlank = v.kind == Value::Null;
    Stmt& s = seekStmt(*order_, true, k, levelBlank);
    bindPrefix(s, seekFrom_, k);
    if (!levelBlank) bindValue(s, k + 1, v);
    const int limit = capacity - got;
    s.bindInt(kLimitParam, limit);
    const int rows = fill(s, got > 0, keysOnly_);
    got += rows;
    if (rows == limit) break;  // this level may hold more: read them later
  }
  return got > 0;
}

bool TableCursor::seekBefore(const Row& from) {
  ReadScope read(*conn_, path_);
  dropBuffer();
  const int n = static_cast<int>(order_->cols.size());
  Value rid;
  for (int k = n; k >= 0; --k) {
    const Value& v = levelValue(from, order_->cols, k, rid);
    if (v.kind == Value::Null) continue;  // nothing sorts before a blank
    for (int variant = 0; variant < (k < n ? 2 : 1); ++variant) {
      Stmt& s = seekStmt(*order_, false, k, variant != 0);
      bindPrefix(s, from, k);
      if (variant == 0) bindValue(s, k + 1, v);
      StmtUse use(s);
      if (s.step()) {
        readRow(s, cur_);
        return true;
      }
    }
  }
  return false;
}

bool TableCursor::sameOrder(const Row& a, const Row& b) const {
  for (int c : order_->cols)
    if (!(a.v[c] == b.v[c])) return false;
  return true;
}

// ---------------------------------------------------------------- navigation

int TableCursor::recordCount() {
  ReadScope read(*conn_, path_);
  if (!count_) count_ = Stmt(conn_->db(), "SELECT count(*) FROM " + quoteId(dataTable_), path_);
  StmtUse use(count_);
  count_.step();
  return static_cast<int>(count_.columnInt(0));
}

bool TableCursor::first() {
  settle();
  ReadScope read(*conn_, path_);
  dropBuffer();
  Order& o = *order_;
  Stmt& s = keysOnly_ ? o.firstKeys : o.firstRows;
  if (!s)
    s = Stmt(conn_->db(),
             "SELECT " + (keysOnly_ ? o.keyList : selectList_) + fromClause(o) + " ORDER BY " + o.orderAsc +
                 " LIMIT " + std::to_string(buf_.size() + 1),
             path_);
  hasCur_ = fill(s, false, keysOnly_) > 0;
  eof_ = !hasCur_;
  return hasCur_;
}

namespace {
// SQLite's order of stored values: blanks, numbers (by value), texts (by
// their bytes), BLOBs (by their bytes).
int rankOf(const Value& v) {
  switch (v.kind) {
    case Value::Null:
      return 0;
    case Value::Int:
    case Value::Real:
      return 1;
    case Value::Text:
      break;
  }
  return v.blob ? 3 : 2;
}

int compareValues(const Value& a, const Value& b) {
  const int ra = rankOf(a), rb = rankOf(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 1) {
    if (a.kind == Value::Int && b.kind == Value::Int) return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
    const long double x = a.kind == Value::Int ? static_cast<long double>(a.i) : a.d;
    const long double y = b.kind == Value::Int ? static_cast<long double>(b.i) : b.d;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int c = a.s.compare(b.s);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}
}  // namespace

// A step always lands on a row whose ordering tuple is greater than the one
// it left; a file whose index does not keep that order (damaged, or a value
// that SQLite orders otherwise than it is read back) stops the walk here
// instead of visiting rows again without end.
void TableCursor::checkProgress(const Row& from) const {
  int k = 0;
  for (size_t i = 0; i < order_->cols.size() && k == 0; ++i)
    k = compareValues(cur_.v[order_->cols[i]], from.v[order_->cols[i]]);
  if (k > 0 || (k == 0 && cur_.rowid > from.rowid)) return;
  throw EDBEngineError(
      std::string("Arquivo de tabela inválido ou danificado: "_cp) + path_ + std::string(" (o índice "_cp) +
      (order_->sqlIndex.empty() ? "rowid" : order_->sqlIndex) + std::string(" não está em ordem)"_cp));
}

bool TableCursor::next() {
  settle();
  if (!hasCur_) {
    eof_ = true;
    return false;
  }
  progressFrom_.rowid = cur_.rowid;
  for (int c : order_->cols) progressFrom_.v[c] = cur_.v[c];
  if (takeBuffered() || seekAfter(cur_)) {
    eof_ = false;
    checkProgress(progressFrom_);
    return true;
  }
  eof_ = true;
  return false;
}

bool TableCursor::prior() {
  settle();
  if (!hasCur_) return false;
  Row keep = cur_;
  if (seekBefore(keep)) {
    eof_ = false;
    return true;
  }
  return false;
}

int TableCursor::recNo() {
  settle();
  if (!hasCur_) return 0;
  ReadScope scope(*conn_, path_, ReadScope::Release);
  Order& o = *order_;
  const int n = static_cast<int>(o.cols.size());
  int64_t before = 0;
  Value rid;
  for (int k = n; k >= 0; --k) {
    const Value& v = levelValue(cur_, o.cols, k, rid);
    if (v.kind == Value::Null) continue;
    for (int variant = 0; variant < (k < n ? 2 : 1); ++variant) {
      Stmt& s = o.countLess[k * 2 + variant];
      if (!s) {
        std::string sql = "SELECT count(*)" + fromClause(o) + " WHERE ";
        for (int i = 0; i < k; ++i)
          sql += levelColumn(def_.fields, o.cols, i) + " IS ?" + std::to_string(i + 1) + " AND ";
        std::string col = levelColumn(def_.fields, o.cols, k);
        sql += variant ? col + " IS NULL" : col + " < ?" + std::to_string(k + 1);
        s = Stmt(conn_->db(), sql, path_);
      }
      bindPrefix(s, cur_, k);
      if (variant == 0) bindValue(s, k + 1, v);
      StmtUse use(s);
      s.step();
      before += s.columnInt(0);
    }
  }
  return static_cast<int>(before + 1);
}

std::vector<std::string> TableCursor::fieldValues(std::string_view field, int firstRecNo, int count) {
  settle();
  int f = requireField(field);
  std::vector<std::string> out;
  if (count <= 0) return out;
  ReadScope scope(*conn_, path_, ReadScope::Release);
  Stmt s(
      conn_->db(),
      "SELECT " + selectList_ + fromClause(*order_) + " ORDER BY " + order_->orderAsc + " LIMIT ?1 OFFSET ?2",
      path_);
  s.bindInt(1, count);
  s.bindInt(2, std::max(0, firstRecNo - 1));
  StmtUse use(s);
  Row r;
  r.v.resize(def_.fields.size());
  FieldCodec c = codec(f);
  while (s.step()) {
    readRow(s, r);
    out.push_back(c.asString(r.v[f]));
  }
  return out;
}

// ---------------------------------------------------------------- key search

void TableCursor::keyValue(int field, const KeyValue& kv, Value& into) const {
  FieldCodec c = codec(field);
  if (const auto* s = std::get_if<std::string>(&kv))
    c.fromString(into, *s);
  else
    c.fromInteger(into, std::get<int64_t>(kv));
}

bool TableCursor::findKey(const std::vector<KeyValue>& values) {
  ReadScope read(*conn_, path_);
  Order& o = *order_;
  if (values.size() > o.cols.size())
    throw EDBEngineError(std::string("A pesquisa tem mais valores que os campos do índice ("_cp) +
                         std::to_string(o.cols.size()) + "): " + path_);
  const size_t m = values.size();
  std::vector<Value>& keys = keyScratch_;
  keys.resize(m);
  for (size_t i = 0; i < m; ++i) keyValue(o.cols[i], values[i], keys[i]);
  if (conn_->refilling()) {
    bool found = false;
    if (findRefilled(keys, found)) return found;
    settle();
  }
  LastSearch& last = lastSearch_;
  if (last.order == &o && last.snapshot == conn_->snapshot() && last.generation == conn_->generation() &&
      last.keys == keys) {
    if (!last.found) return false;
    cur_.rowid = last.rowid;
    for (size_t i = 0; i < o.cols.size(); ++i) cur_.v[o.cols[i]] = last.row[i];
    cur_.partial = true;
    dropBuffer();
    hasCur_ = true;
    eof_ = false;
    return true;
  }
  last.order = nullptr;  // kept only once the search has answered
  // Only the ordering fields are read, from the index alone: most searches
  // only ask whether the key is there. The rest of the row is read when a
  // field is asked for.
  Stmt& s = o.key[m];
  if (!s) {
    std::string sql = "SELECT " + o.keyList + fromClause(o);
    for (size_t i = 0; i < m; ++i)
      sql +=
          (i ? " AND " : " WHERE ") + levelColumn(def_.fields, o.cols, i) + " IS ?" + std::to_string(i + 1);
    sql += " ORDER BY " + o.orderAsc + " LIMIT 1";
    s = Stmt(conn_->db(), sql, path_);
  }
  for (size_t i = 0; i < m; ++i) bindValue(s, static_cast<int>(i) + 1, keys[i]);
  StmtUse use(s);
  const bool found = s.step();
  std::swap(last.keys, keys);
  last.snapshot = conn_->snapshot();
  last.generation = conn_->generation();
  last.found = found;
  if (!found) {
    last.order = &o;
    return false;
  }
  readKeys(s, cur_);
  last.row.resize(o.cols.size());
  for (size_t i = 0; i < o.cols.size(); ++i) last.row[i] = cur_.v[o.cols[i]];
  last.rowid = cur_.rowid;
  last.order = &o;
  dropBuffer();
  hasCur_ = true;
  eof_ = false;
  return true;
}

// ---------------------------------------------------------------- writes

bool TableCursor::reread(int64_t rowid, Row& into) {
  if (!byRowid_)
    byRowid_ = Stmt(conn_->db(),
                    "SELECT " + selectList_ + " FROM " + quoteId(dataTable_) + " WHERE rowid = ?1", path_);
  byRowid_.bindInt(1, rowid);
  StmtUse use(byRowid_);
  if (!byRowid_.step()) return false;
  readRow(byRowid_, into);
  return true;
}

void TableCursor::edit() {
  settle();
  if (mode_ != Mode::Browse) return;
  if (!hasCur_) {
    append();
    return;
  }
  conn_->beginWrite(path_);
  // Read the row again under the write lock: another program may have
  // changed it since it was read.
  if (!reread(cur_.rowid, edit_)) {
    conn_->releaseIfIdle();
    throw EDBEngineError(std::string("O registro foi excluído por outro usuário: "_cp) + path_);
  }
  if (!sameOrder(cur_, edit_)) dropBuffer();
  cur_ = edit_;
  editGen_ = conn_->generation();
  std::fill(dirty_.begin(), dirty_.end(), false);
  mode_ = Mode::Edit;
}

void TableCursor::append() {
  if (mode_ != Mode::Browse) post();
  conn_->beginWrite(path_);
  for (auto& v : edit_.v) v.setNull();
  edit_.rowid = 0;
  std::fill(dirty_.begin(), dirty_.end(), true);
  mode_ = Mode::Insert;
}

void TableCursor::cancel() {
  if (mode_ == Mode::Browse) return;
  mode_ = Mode::Browse;
  conn_->releaseIfIdle();
}

void TableCursor::checkUnique(const Row& r, int64_t exceptRowid) {
  for (size_t u = 0; u < uniqueSets_.size(); ++u) {
    const auto& set = uniqueSets_[u];
    // A unique SQLite index lets blanks repeat; a blank is a value here.
    bool blank = std::any_of(set.begin(), set.end(), [&](int f) { return r.v[f].kind == Value::Null; });
    if (!blank) continue;
    Stmt& s = unique_[u];
    if (!s) {
      std::string sql = "SELECT 1 FROM " + quoteId(dataTable_) + " WHERE ";
      for (size_t i = 0; i < set.size(); ++i)
        sql += quoteId(def_.fields[set[i]].name) + " IS ?" + std::to_string(i + 1) + " AND ";
      sql += "rowid <> ?" + std::to_string(set.size() + 1) + " LIMIT 1";
      s = Stmt(conn_->db(), sql, path_);
    }
    for (size_t i = 0; i < set.size(); ++i) bindValue(s, static_cast<int>(i) + 1, r.v[set[i]]);
    s.bindInt(static_cast<int>(set.size()) + 1, exceptRowid);
    StmtUse use(s);
    if (s.step()) throw EKeyViolation(std::string("Violação de chave em "_cp) + path_ + ".");
  }
}

void TableCursor::assignAutoInc(Row& r) {
  for (size_t i = 0; i < def_.fields.size(); ++i) {
    if (def_.fields[i].type != FieldType::AutoInc || r.v[i].kind != Value::Null) continue;
    Stmt s(conn_->db(),
           "SELECT coalesce(max(" + quoteId(def_.fields[i].name) + "), 0) + 1 FROM " + quoteId(dataTable_),
           path_);
    StmtUse use(s);
    s.step();
    r.v[i].setInt(s.columnInt(0));
  }
}

// Writes the changed fields of the row in edit.
void TableCursor::writeChanged() {
  const int n = static_cast<int>(def_.fields.size());
  Stmt& s = updates_[dirty_];
  if (!s) {
    std::string sql = "UPDATE " + quoteId(dataTable_) + " SET ";
    int p = 0;
    for (int i = 0; i < n; ++i)
      if (dirty_[i]) {
        if (p++) sql += ", ";
        sql += quoteId(def_.fields[i].name) + " = ?" + std::to_string(p);
      }
    sql += " WHERE rowid = ?" + std::to_string(p + 1);
    s = Stmt(conn_->db(), sql, path_);
  }
  int p = 0;
  for (int i = 0; i < n; ++i)
    if (dirty_[i]) bindValue(s, ++p, edit_.v[i]);
  s.bindInt(p + 1, edit_.rowid);
  StmtUse use(s);
  s.step();
}

// Whether the file holds every changed field of `r` as it is, to the bit:
// then writing it would change nothing, and a record in an index would still
// be taken out and put back in its place. Any doubt (another type stored, a
// row gone) is a difference. The row the edit read under the write lock is
// the file's as long as nothing was written through the file's connection
// since (no other program can write meanwhile); otherwise it is read again.
bool TableCursor::holdsAlready(const Row& r) {
  const Row* stored = &cur_;
  if (conn_->generation() != editGen_) {
    stored_.v.resize(def_.fields.size());
    if (!reread(r.rowid, stored_)) return false;
    stored = &stored_;
  }
  for (size_t i = 0; i < r.v.size(); ++i) {
    if (!dirty_[i]) continue;
    const Value &a = r.v[i], &b = stored->v[i];
    if (a.kind != b.kind) return false;
    switch (a.kind) {
      case Value::Null:
        break;
      case Value::Int:
        if (a.i != b.i) return false;
        break;
      case Value::Real:
        if (std::memcmp(&a.d, &b.d, sizeof a.d) != 0) return false;
        break;
      case Value::Text:
        if (a.blob != b.blob || a.s != b.s) return false;
        break;
    }
  }
  return true;
}

void TableCursor::post() {
  if (mode_ == Mode::Browse) return;
  // Rows posted through another table object are not among the refill's
  // keys.
  if (!refilling()) {
    settle();
    forgetRefill();
  }
  conn_->beginWrite(path_);
  const int n = static_cast<int>(def_.fields.size());
  if (mode_ == Mode::Edit) {
    if (std::none_of(dirty_.begin(), dirty_.end(), [](bool b) { return b; })) {
      mode_ = Mode::Browse;
      conn_->releaseIfIdle();
      return;
    }
    checkUnique(edit_, edit_.rowid);
    if (!holdsAlready(edit_)) writeChanged();
    bool keep = bufferValid() && sameOrder(cur_, edit_);
    conn_->bumpGeneration();
    if (keep)
      bufGen_ = conn_->generation();
    else
      dropBuffer();
  } else {
    assignAutoInc(edit_);
    checkUnique(edit_, -1);
    if (!insert_) {
      std::string sql = "INSERT INTO " + quoteId(dataTable_) + "(", vals;
      for (int i = 0; i < n; ++i) {
        sql += std::string(i ? ", " : "") + quoteId(def_.fields[i].name);
        vals += std::string(i ? ", ?" : "?") + std::to_string(i + 1);
      }
      insert_ = Stmt(conn_->db(), sql + ") VALUES(" + vals + ")", path_);
    }
    for (int i = 0; i < n; ++i) bindValue(insert_, i + 1, edit_.v[i]);
    {
      StmtUse use(insert_);
      insert_.step();
    }
    edit_.rowid = sqlite3_last_insert_rowid(conn_->db());
    conn_->bumpGeneration();
    dropBuffer();
    if (keepsKeys()) noteRefilled(edit_);
  }
  std::swap(cur_, edit_);
  mode_ = Mode::Browse;
  hasCur_ = true;
  eof_ = false;
  conn_->wrote();
}

void TableCursor::remove() {
  settle();
  if (mode_ == Mode::Insert) {
    cancel();
    return;
  }
  mode_ = Mode::Browse;
  if (!hasCur_) throw EDBEngineError(std::string("Operação impossível numa tabela vazia: "_cp) + path_);
  conn_->beginWrite(path_);
  if (!delete_)
    delete_ = Stmt(conn_->db(), "DELETE FROM " + quoteId(dataTable_) + " WHERE rowid = ?1", path_);
  delete_.bindInt(1, cur_.rowid);
  {
    StmtUse use(delete_);
    delete_.step();
  }
  // The rows read ahead follow the deleted one and are unchanged by it.
  bool keep = bufferValid();
  conn_->bumpGeneration();
  if (keep) bufGen_ = conn_->generation();
  Row gone;
  gone.v.resize(def_.fields.size());
  std::swap(gone, cur_);
  if (takeBuffered() || seekAfter(gone)) {
    eof_ = false;
  } else {
    // Past the last row: stand on the new last row, at the end.
    cur_.v.resize(def_.fields.size());
    hasCur_ = seekBefore(gone);
    eof_ = true;
  }
  conn_->wrote();
}

void TableCursor::emptyTable() {
  settle();
  cancel();
  // What others posted through this file is committed first, so that a
  // failed emptying can be undone alone.
  conn_->commit(path_);
  conn_->beginWrite(path_);
  if (!deleteAll_) deleteAll_ = Stmt(conn_->db(), "DELETE FROM " + quoteId(dataTable_), path_);
  try {
    {
      StmtUse use(deleteAll_);
      deleteAll_.step();
    }
    conn_->commit(path_);
  } catch (...) {
    conn_->rollback();
    throw;
  }
  conn_->bumpGeneration();
  dropBuffer();
  hasCur_ = false;
  eof_ = true;
}

// ---------------------------------------------------------------- refill

namespace {
// A leading field's stored or searched value, as it takes part in the hash
// of a key: its kind and its bytes.
void appendKeyPart(std::string& out, char kind, std::string_view bytes) {
  out.push_back(kind);
  const auto n = static_cast<uint32_t>(bytes.size());
  out.append(reinterpret_cast<const char*>(&n), sizeof n);
  out.append(bytes);
}
}  // namespace

void TableCursor::beginRefill() {
  cancel();
  settle();
  const Order& o = *order_;
  const IndexDef* ix = nullptr;
  for (const auto& i : def_.indexes)
    if (!o.name.empty() && equalsNoCase(i.name, o.name)) ix = &i;
  if (!ix) return;
  for (size_t k = 0; k < ix->fields.size(); ++k)
    if (storageOf(def_.fields[o.cols[k]].type) != Storage::Text) return;
  if (!beginOwnWrite()) return;
  {
    Stmt any(conn_->db(), "SELECT 1 FROM " + quoteId(dataTable_) + " LIMIT 1", path_);
    StmtUse use(any);
    if (any.step()) {
      conn_->releaseIfIdle();
      return;
    }
  }
  dropSecondaryIndexes(ix->fields.size());
}

void TableCursor::beginRewrite() {
  cancel();
  settle();
  if (!order_->name.empty() || def_.indexes.empty()) return;
  if (beginOwnWrite()) dropSecondaryIndexes(0);
}

bool TableCursor::beginOwnWrite() {
  // What was posted before is a group of its own.
  conn_->commit(path_);
  conn_->beginWrite(path_);
  return !conn_->simulating();
}

void TableCursor::dropSecondaryIndexes(size_t leading) {
  std::string drop, build;
  for (const auto& i : def_.indexes) {
    drop += "DROP INDEX " + quoteId(secondaryIndexName(dataTable_, i.name)) + ";";
    build += secondaryIndexSql(dataTable_, def_, i);
  }
  if (int rc = sqlite3_exec(conn_->db(), drop.c_str(), nullptr, nullptr, nullptr); rc != SQLITE_OK) {
    // Raised after the rollback, as any write the file refuses (a file the
    // user may not write: "Sem permissão para gravar a tabela").
    std::string detail = fromUtf8(sqlite3_errmsg(conn_->db()));
    conn_->rollback();
    throw EDBEngineError(sqliteFailure(rc, path_, detail));
  }
  conn_->startRefill(std::move(build), this);
  refill_.leading = leading;
  refill_.rows.clear();
  conn_->bumpGeneration();
  dropBuffer();
}

// The key of a posted row: its leading values as posted when they are blank
// or text (a text field stores those as they are), otherwise as the file
// holds them (a number is kept as text). A key still not blank or text (a
// blob) is one no search matches: the indexes are built for it.
void TableCursor::noteRefilled(const Row& posted) {
  uint64_t hash = 0;
  if (!refillHash(posted.v, false, hash)) {
    Row& stored = stored_;
    stored.v.resize(def_.fields.size());
    if (!reread(posted.rowid, stored) || !refillHash(stored.v, false, hash)) {
      settle();
      return;
    }
  }
  auto [at, fresh] = refill_.rows.try_emplace(hash, posted.rowid);
  if (!fresh) at->second = -1;
}

// The hash of the leading values of the current order, each blank or text;
// false for any other value. `values` holds them at the order's columns, or
// (`searched`) in the order's sequence.
bool TableCursor::refillHash(const std::vector<Value>& values, bool searched, uint64_t& hash) {
  std::string& key = refill_.scratch;
  key.clear();
  for (size_t k = 0; k < refill_.leading; ++k) {
    const Value& v = values[searched ? k : static_cast<size_t>(order_->cols[k])];
    if (v.kind == Value::Null)
      appendKeyPart(key, 'N', {});
    else if (v.kind == Value::Text && !v.blob)
      appendKeyPart(key, 'T', v.s);
    else
      return false;
  }
  hash = std::hash<std::string>{}(key);
  return true;
}

bool TableCursor::findRefilled(const std::vector<Value>& keys, bool& found) {
  uint64_t hash = 0;
  if (!keepsKeys() || keys.size() != refill_.leading || !refillHash(keys, true, hash)) return false;
  auto at = refill_.rows.find(hash);
  found = false;
  if (at == refill_.rows.end()) return true;  // no row has these leading fields
  if (at->second < 0) return false;           // several rows: the index tells which comes first
  // The one row with that hash: it is the match when its fields are equal.
  Row row;
  row.v.resize(def_.fields.size());
  if (!reread(at->second, row)) return false;
  const Order& o = *order_;
  for (size_t k = 0; k < keys.size(); ++k) {
    const Value& have = row.v[o.cols[k]];
    if (have.kind != keys[k].kind || have.blob || (have.kind == Value::Text && have.s != keys[k].s))
      return true;
  }
  cur_ = std::move(row);
  lastSearch_.order = nullptr;
  dropBuffer();
  hasCur_ = true;
  eof_ = false;
  found = true;
  return true;
}

void TableCursor::commit() {
  conn_->commit(path_);
  forgetRefill();
}

bool TableCursor::tryCommit() noexcept { return conn_->tryCommit(); }

void TableCursor::flush() {
  // A disk error leaves the group open for the next try; a group the
  // journal could not record is gone, and that is said.
  const bool committed = conn_->tryCommit();
  forgetRefill();
  if (!committed)
    if (std::string failure = engine::takeCaptureFailure(conn_->db()); !failure.empty())
      throw EDBEngineError(failure);
}

}  // namespace cg
