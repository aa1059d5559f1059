// ClientDataSet and Field: the rows of a statement read a packet at a time
// from a cursor on the server, a change log, and the apply that turns the
// log into parameterised UPDATEs.
//
// Memory: the packet the walk is on, and each changed row not yet applied
// (its values as fetched and as changed); a packet read again (first(),
// refresh()) shows the changes still in the log.
//
// Storage: each row is one packed byte string, each value a length prefix
// (a base-128 varint holding length + 1, or 0 for NULL) followed by its
// bytes. Numbers, dates and times are kept as their exact text ("12.50000000",
// "2024-01-31 10:20:30.000"); texts as their CP1252 bytes. A 62-column order
// row then costs its bytes plus one string header, instead of one object per
// cell.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "data/sql/changes.h"
#include "data/sql/firebird.h"
#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/faults.h"
#include "platform/regional.h"

namespace cg {

namespace {

void appendValue(std::string& out, std::optional<std::string_view> v) {
  uint64_t n = v ? v->size() + 1 : 0;
  while (n >= 0x80) {
    out.push_back(static_cast<char>((n & 0x7F) | 0x80));
    n >>= 7;
  }
  out.push_back(static_cast<char>(n));
  if (v) out.append(*v);
}

std::optional<std::string_view> valueAt(const std::string& row, int column) {
  size_t p = 0;
  for (int c = 0;; ++c) {
    uint64_t n = 0;
    int shift = 0;
    for (;;) {
      unsigned char b = static_cast<unsigned char>(row[p++]);
      n |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) break;
      shift += 7;
    }
    if (c == column) {
      if (n == 0) return std::nullopt;
      return std::string_view(row).substr(p, n - 1);
    }
    if (n) p += n - 1;
  }
}

SQLValue valueOf(std::optional<std::string_view> v) { return v ? SQLValue(std::string(*v)) : std::nullopt; }

bool isText(SQLFieldType t) {
  return t == SQLFieldType::String || t == SQLFieldType::FixedChar || t == SQLFieldType::Memo ||
         t == SQLFieldType::Blob;
}

bool isWhole(SQLFieldType t) {
  return t == SQLFieldType::Integer || t == SQLFieldType::SmallInt || t == SQLFieldType::BigInt;
}

// Exact decimal text at `scale` digits after the point, rounded half away
// from zero. Accepts a comma or a dot; anything else goes through StrToFloat
// (which raises EConvertError for text that is no number).
std::string decimalFromText(std::string_view text, int scale) {
  std::string t = TrimBlanks(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  std::string whole, frac;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) whole += t[i++];
  if (i < t.size() && (t[i] == ',' || t[i] == '.')) {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) frac += t[i++];
  }
  if (i != t.size() || (whole.empty() && frac.empty())) {
    double v = StrToFloat(t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", scale, v);
    return decimalFromText(buf, scale);
  }
  bool roundUp = static_cast<int>(frac.size()) > scale && frac[scale] >= '5';
  frac.resize(scale, '0');
  std::string digits = (whole.empty() ? "0" : whole) + frac;
  if (roundUp) {
    int k = static_cast<int>(digits.size()) - 1;
    while (k >= 0 && digits[k] == '9') digits[k--] = '0';
    if (k < 0)
      digits.insert(digits.begin(), '1');
    else
      ++digits[k];
  }
  size_t wholeLen = digits.size() - scale;
  std::string w = digits.substr(0, wholeLen);
  size_t nz = w.find_first_not_of('0');
  w = nz == std::string::npos ? "0" : w.substr(nz);
  std::string f = digits.substr(wholeLen);
  bool zero = w == "0" && f.find_first_not_of('0') == std::string::npos;
  std::string out = (negative && !zero ? "-" : "") + w;
  if (scale > 0) out += "." + f;
  return out;
}

// "12.50000000" -> "12,5"; "3.00" -> "3".
std::string decimalDisplay(std::string_view stored) {
  std::string s(stored);
  size_t dot = s.find('.');
  if (dot == std::string::npos) return s;
  while (s.size() > dot + 1 && s.back() == '0') s.pop_back();
  if (s.size() == dot + 1)
    s.pop_back();
  else
    s[dot] = ',';
  if (s == "-0") s = "0";
  return s;
}

double parseNumber(std::string_view s) {
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc()) return StrToFloat(s);
  return v;
}

std::string numberText(double v) {
  char b[32];
  auto r = std::to_chars(b, b + sizeof b, v);
  return std::string(b, r.ptr);
}

int num(std::string_view s, size_t pos, size_t len) {
  int v = 0;
  for (size_t i = pos; i < pos + len && i < s.size(); ++i)
    if (std::isdigit(static_cast<unsigned char>(s[i]))) v = v * 10 + (s[i] - '0');
  return v;
}

// Stored date-time texts to TDateTime.
TDateTime storedToDateTime(std::string_view s, SQLFieldType type) {
  DateTimeParts p;
  if (type == SQLFieldType::Time) {
    p.hour = num(s, 0, 2), p.minute = num(s, 3, 2), p.second = num(s, 6, 2), p.msec = num(s, 9, 3);
    return EncodeTime(p.hour, p.minute, p.second, p.msec);
  }
  p.year = num(s, 0, 4), p.month = num(s, 5, 2), p.day = num(s, 8, 2);
  if (type == SQLFieldType::Timestamp && s.size() >= 19)
    p.hour = num(s, 11, 2), p.minute = num(s, 14, 2), p.second = num(s, 17, 2), p.msec = num(s, 20, 3);
  return EncodeDateTime(p);
}

std::string dateTimeToStored(TDateTime t, SQLFieldType type) {
  DateTimeParts p = DecodeDateTime(t);
  char b[40];
  if (type == SQLFieldType::Date)
    std::snprintf(b, sizeof b, "%04d-%02d-%02d", p.year, p.month, p.day);
  else if (type == SQLFieldType::Time)
    std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", p.hour, p.minute, p.second, p.msec);
  else
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second, p.msec);
  return b;
}

// The table an UPDATE goes to when the columns do not say: the first name
// after the word FROM.
std::string tableFromStatement(const std::string& sql) {
  std::string u;
  for (char c : sql) u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (size_t p = u.find("FROM"); p != std::string::npos; p = u.find("FROM", p + 4)) {
    bool before = p == 0 || !(std::isalnum(static_cast<unsigned char>(u[p - 1])) || u[p - 1] == '_');
    bool after = p + 4 < u.size() && std::isspace(static_cast<unsigned char>(u[p + 4]));
    if (!before || !after) continue;
    size_t b = p + 4;
    while (b < u.size() && std::isspace(static_cast<unsigned char>(u[b]))) ++b;
    size_t e = b;
    while (e < u.size() &&
           (std::isalnum(static_cast<unsigned char>(u[e])) || u[e] == '_' || u[e] == '$' || u[e] == '"'))
      ++e;
    return sql.substr(b, e - b);
  }
  return {};
}

}  // namespace

// ---------------------------------------------------------------------------

struct ClientDataSet::Data {
  std::vector<SQLColumn> columns;
  std::vector<Field*> fieldOf;                        // the field object of each column
  std::vector<std::unique_ptr<Field>> dynamic;        // fields of undeclared columns
  std::unique_ptr<SQLConnectionImpl::Cursor> reader;  // open with the dataset
  bool more = false;                                  // rows remain to be read
  std::vector<int> cut;                               // size a declared text field cuts its column to
  std::vector<std::string> rows;                      // the packet in memory: rows base .. base + size - 1
  int base = 0;
  int count = 0;  // the record count
  int cursor = 0;
  bool eof = true;

  std::string& row(int r) { return rows[r - base]; }
  bool holds(int r) const { return r >= base && r < base + static_cast<int>(rows.size()); }

  // The row being edited, unpacked, and the columns assigned since edit().
  std::vector<SQLValue> edit;
  std::vector<bool> assigned;

  struct Change {
    int row;
    std::string original;        // the row as fetched
    std::string current;         // the row as posted
    std::vector<bool> assigned;  // the columns posted since
  };
  // The changes not yet applied are log[logStart ..]: an apply that stops
  // at a refusal leaves the rest where they are, so that applying a long log
  // in rounds (one refusal a round) costs the changes sent, not the log's
  // length each round.
  std::vector<Change> log;
  size_t logStart = 0;
  std::unordered_map<int, size_t> logAt;  // the log's entry of a row
  std::string table;

  std::unordered_map<std::string, std::unique_ptr<SQLConnectionImpl::Prepared>> statements;
  uint64_t statementsOf = 0;  // serial of their attachment
};

ClientDataSet::ClientDataSet(std::string name, SQLDataSet& source, std::vector<std::string> keyColumns)
    : name_(std::move(name)),
      source_(source),
      keyColumns_(std::move(keyColumns)),
      data_(std::make_unique<Data>()) {}

ClientDataSet::~ClientDataSet() = default;

Field& ClientDataSet::declareField(const std::string& name, SQLFieldType type, int size, bool required) {
  bool key = std::any_of(keyColumns_.begin(), keyColumns_.end(),
                         [&](const std::string& k) { return EqualsNoCase(k, name); });
  fields_.push_back(std::make_unique<Field>(*this, name, type, size, key, required));
  return *fields_.back();
}

namespace {
std::string notActive(const std::string& name) {
  return name + ": Não é possível realizar esta operação com o conjunto de dados fechado."_cp.data();
}
}  // namespace

void ClientDataSet::open() {
  if (active_) return;
  if (!source_.active()) source_.open();
  Data& d = *data_;
  d = Data();
  try {
    SQLConnectionImpl& conn = source_.connection().impl();
    d.reader = std::make_unique<SQLConnectionImpl::Cursor>(conn, source_.commandText());
    const std::vector<SQLColumn>& columns = d.reader->columns();
    d.columns = columns;
    d.fieldOf.assign(columns.size(), nullptr);
    d.cut.assign(columns.size(), 0);
    for (auto& f : fields_) f->index_ = -1;
    for (size_t i = 0; i < columns.size(); ++i) {
      const SQLColumn& c = columns[i];
      Field* f = findField(c.name);
      if (f && f->index_ < 0) {
        f->index_ = static_cast<int>(i);
      } else {
        bool key = std::any_of(keyColumns_.begin(), keyColumns_.end(),
                               [&](const std::string& k) { return EqualsNoCase(k, c.name); });
        d.dynamic.push_back(std::make_unique<Field>(*this, c.name, c.type, c.size, key, !c.nullable));
        f = d.dynamic.back().get();
        f->index_ = static_cast<int>(i);
      }
      d.fieldOf[i] = f;
      if (isText(c.type) && (f->type() == SQLFieldType::String || f->type() == SQLFieldType::FixedChar))
        d.cut[i] = f->size();
      if (d.table.empty() && !c.relation.empty() && f->isKey()) d.table = c.relation;
    }
    d.count = static_cast<int>(d.reader->count());
    d.more = true;
    nextPacket();
  } catch (...) {
    active_ = false;
    for (auto& f : fields_) f->index_ = -1;
    d = Data();
    throw;
  }
  if (d.table.empty()) d.table = tableFromStatement(source_.commandText());
  active_ = true;
  editing_ = false;
  d.cursor = 0;
  d.eof = d.rows.empty();
}

// A cursor of an attachment that is gone cannot be read: the walk stops as
// an apply on it would.
void ClientDataSet::checkReader() {
  Data& d = *data_;
  if (d.reader && source_.connection().serial() != d.reader->serial())
    throw EConnectionError(LostConnectionMessage("as linhas seguintes de "_cp.data() + name_ +
                                                 " não puderam ser lidas."_cp.data()));
}

// Reads the packet after the one in memory, which it replaces; false at the
// end of the rows (the packet in memory then stays). A failed read raises
// and leaves the dataset as it was.
bool ClientDataSet::nextPacket() {
  Data& d = *data_;
  if (!d.reader || !d.more) return false;
  checkReader();
  std::vector<std::string> packet;
  packet.reserve(static_cast<size_t>(packetRecords_));
  std::string packed;
  d.reader->fetch(static_cast<size_t>(packetRecords_), [&](const SQLRowView& row) {
    packed.clear();
    for (size_t i = 0; i < row.size(); ++i) {
      std::optional<std::string_view> v = row[i];
      if (v && d.cut[i] > 0 && v->size() > static_cast<size_t>(d.cut[i])) v = v->substr(0, d.cut[i]);
      appendValue(packed, v);
    }
    packet.emplace_back(packed.data(), packed.size());
  });
  if (packet.size() < static_cast<size_t>(packetRecords_)) d.more = false;  // the last rows
  if (packet.empty()) {
    d.count = d.base + static_cast<int>(d.rows.size());
    return false;
  }
  d.base += static_cast<int>(d.rows.size());
  d.rows = std::move(packet);
  if (!d.logAt.empty())
    for (int r = d.base; r < d.base + static_cast<int>(d.rows.size()); ++r)
      if (auto at = d.logAt.find(r); at != d.logAt.end()) d.row(r) = d.log[at->second].current;
  const int seen = d.base + static_cast<int>(d.rows.size());
  d.count = d.more ? std::max(d.count, seen) : seen;
  return true;
}

void ClientDataSet::close() {
  if (!active_) return;
  if (beforeClose) beforeClose(*this);
  closeDiscarding();
}

void ClientDataSet::closeDiscarding() {
  if (!active_) return;
  for (auto& f : fields_) f->index_ = -1;
  *data_ = Data();
  active_ = false;
  editing_ = false;
}

int ClientDataSet::recordCount() const { return active_ ? data_->count : 0; }

void ClientDataSet::first() {
  if (!active_) throw EDatabaseError(notActive(name_));
  if (editing_) post();
  Data& d = *data_;
  if (d.base > 0) {
    // The first packet is gone: the statement is read again in the same
    // snapshot, the same rows in the same order, those changed and not yet
    // applied with their changes. A read that fails leaves the packet it
    // was on (the attachment is lost: its cursor is never read again).
    std::vector<std::string> rows = std::move(d.rows);
    const int base = d.base;
    const bool more = d.more;
    try {
      checkReader();
      d.reader->restart();
      d.rows.clear();
      d.base = 0;
      d.more = true;
      nextPacket();
    } catch (...) {
      d.rows = std::move(rows);
      d.base = base;
      d.more = more;
      throw;
    }
  }
  d.cursor = 0;
  d.eof = d.rows.empty();
}

void ClientDataSet::next() {
  if (!active_) throw EDatabaseError(notActive(name_));
  if (editing_) post();
  Data& d = *data_;
  if (d.cursor + 1 < d.base + static_cast<int>(d.rows.size()))
    ++d.cursor;
  else if (nextPacket())
    d.cursor = d.base;
  else
    d.eof = true;
}

bool ClientDataSet::eof() const { return !active_ || data_->eof; }

int ClientDataSet::recNo() const { return active_ && !data_->rows.empty() ? data_->cursor + 1 : 0; }

Field* ClientDataSet::findField(std::string_view name) {
  for (auto& f : fields_)
    if (EqualsNoCase(f->fieldName(), name)) return f.get();
  for (auto& f : data_->dynamic)
    if (EqualsNoCase(f->fieldName(), name)) return f.get();
  return nullptr;
}

int ClientDataSet::fieldCount() const { return active_ ? static_cast<int>(data_->fieldOf.size()) : 0; }

Field& ClientDataSet::field(int index) {
  if (index < 0 || index >= fieldCount()) throw EDatabaseError(name_ + ": Campo não encontrado."_cp.data());
  return *data_->fieldOf[index];
}

Field& ClientDataSet::fieldByName(std::string_view name) {
  if (Field* f = findField(name)) return *f;
  throw EDatabaseError(name_ + ": Campo '"_cp.data() + std::string(name) + "' não encontrado."_cp.data());
}

void ClientDataSet::edit() {
  if (!active_) throw EDatabaseError(notActive(name_));
  if (editing_) return;
  Data& d = *data_;
  if (d.rows.empty()) throw EDatabaseError(name_ + ": Não há registro para alterar."_cp.data());
  const std::string& row = d.row(d.cursor);
  d.edit.resize(d.columns.size());
  for (size_t i = 0; i < d.columns.size(); ++i) {
    auto v = valueAt(row, static_cast<int>(i));
    d.edit[i] = v ? SQLValue(std::string(*v)) : std::nullopt;
  }
  d.assigned.assign(d.columns.size(), false);
  editing_ = true;
}

void ClientDataSet::post() {
  if (!active_ || !editing_) return;
  Data& d = *data_;
  try {
    for (size_t i = 0; i < d.columns.size(); ++i) {
      Field* f = d.fieldOf[i];
      if (f->required() && !d.edit[i])
        throw EDatabaseError("O campo '"_cp.data() + f->fieldName() + "' precisa ter um valor."_cp.data());
    }
  } catch (const Exception& e) {
    if (onPostError) onPostError(*this, e);
    throw;
  }
  editing_ = false;
  if (std::none_of(d.assigned.begin(), d.assigned.end(), [](bool b) { return b; })) return;
  std::string packed;
  for (const SQLValue& v : d.edit)
    appendValue(packed, v ? std::optional<std::string_view>(*v) : std::nullopt);
  auto [at, added] = d.logAt.try_emplace(d.cursor, d.log.size());
  if (added) {
    d.log.push_back({d.cursor, d.row(d.cursor), packed, d.assigned});
  } else {
    Data::Change& c = d.log[at->second];
    for (size_t i = 0; i < d.assigned.size(); ++i)
      if (d.assigned[i]) c.assigned[i] = true;
    c.current = packed;
  }
  d.row(d.cursor) = std::move(packed);
}

void ClientDataSet::cancel() { editing_ = false; }

int ClientDataSet::changeCount() const { return static_cast<int>(data_->log.size() - data_->logStart); }

int ClientDataSet::applyUpdates(int maxErrors) {
  if (!active_) throw EDatabaseError(notActive(name_));
  if (editing_) post();
  Data& d = *data_;
  if (d.log.size() == d.logStart) return 0;
  if (d.table.empty())
    throw EDatabaseError(name_ + ": Não foi possível saber a tabela a atualizar."_cp.data());

  std::vector<int> keys;
  for (const std::string& k : keyColumns_) {
    auto it = std::find_if(d.columns.begin(), d.columns.end(),
                           [&](const SQLColumn& c) { return EqualsNoCase(c.name, k); });
    if (it == d.columns.end())
      throw EDatabaseError(name_ + ": Campo '"_cp.data() + k + "' não encontrado."_cp.data());
    keys.push_back(static_cast<int>(it - d.columns.begin()));
  }
  auto columnName = [&](int i) {
    return d.columns[i].origin.empty() ? d.columns[i].name : d.columns[i].origin;
  };

  faults::serverWriting();
  SQLConnectionImpl& conn = source_.connection().impl();
  SQLConnectionImpl::Transaction tx(conn);
  // UPDATE statements stay prepared from one apply to the next (an
  // operation that applies after every post sends the same statement again
  // and again), as long as the attachment they belong to lives.
  if (d.statementsOf != conn.serial()) {
    d.statements.clear();
    d.statementsOf = conn.serial();
  }
  auto& statements = d.statements;
  auto prepared = [&](const std::string& sql) -> SQLConnectionImpl::Prepared& {
    auto& stmt = statements[sql];
    if (!stmt) stmt = std::make_unique<SQLConnectionImpl::Prepared>(conn, tx, sql);
    return *stmt;
  };
  const bool reporting = CurrentServerChangeSink() != nullptr;

  // Sends one change; raises when the server refuses it or finds no row.
  // While a change sink listens, the row's values are read first by the
  // same key in the same transaction, and what really changed is reported.
  auto send = [&](const Data::Change& change) {
    const std::string& now = change.current;
    std::string set, where, read;
    std::vector<std::optional<std::string_view>> params;
    std::vector<int> assigned;
    for (size_t i = 0; i < change.assigned.size(); ++i) {
      if (!change.assigned[i]) continue;
      set += (set.empty() ? "" : ", ") + columnName(static_cast<int>(i)) + " = ?";
      read += (read.empty() ? "" : ", ") + columnName(static_cast<int>(i));
      assigned.push_back(static_cast<int>(i));
      params.push_back(valueAt(now, static_cast<int>(i)));
    }
    for (size_t k = 0; k < keys.size(); ++k) {
      auto original = valueAt(change.original, keys[k]);
      where += (k ? " AND " : "") + columnName(keys[k]) + (original ? " = ?" : " IS NULL");
      if (original) params.push_back(original);
    }
    std::vector<std::vector<SQLValue>> before;
    if (reporting) {
      auto& q = prepared("SELECT " + read + " FROM " + d.table + " WHERE " + where);
      for (size_t p = assigned.size(); p < params.size(); ++p)
        q.bind(static_cast<int>(p - assigned.size()), params[p]);
      q.query(tx, [&](const SQLRowView& row) {
        std::vector<SQLValue> values;
        for (const auto& v : row) values.push_back(v ? SQLValue(std::string(*v)) : std::nullopt);
        before.push_back(std::move(values));
      });
    }
    auto& stmt = prepared("UPDATE " + d.table + " SET " + set + " WHERE " + where);
    for (size_t p = 0; p < params.size(); ++p) stmt.bind(static_cast<int>(p), params[p]);
    if (stmt.execute(tx) == 0)
      throw ESQLError("Registro não encontrado ou alterado por outro usuário."_cp.data());
    for (const std::vector<SQLValue>& row : before) {
      ServerRowChange reported;
      reported.table = AsciiUpper(d.table);
      reported.table.erase(std::remove(reported.table.begin(), reported.table.end(), '"'),
                           reported.table.end());
      for (size_t j = 0; j < assigned.size() && j < row.size(); ++j) {
        // What the server holds: a fixed-length text padded to its length.
        const SQLColumn& column = d.columns[assigned[j]];
        SQLValue after = valueOf(params[j]);
        if (after && column.type == SQLFieldType::FixedChar &&
            after->size() < static_cast<size_t>(column.size))
          after->resize(column.size, ' ');
        if (after == row[j]) continue;
        reported.columns.push_back(columnName(assigned[j]));
        reported.before.push_back(row[j]);
        reported.after.push_back(std::move(after));
      }
      if (reported.columns.empty()) continue;
      for (size_t k = 0; k < keys.size(); ++k) {
        reported.keyColumns.push_back(columnName(keys[k]));
        reported.key.push_back(valueOf(valueAt(change.original, keys[k])));
      }
      tx.report(reported);
    }
  };

  // Changes the server accepted leave the log; a refused change is reported
  // and undone on the client, so that it is never sent again.
  std::vector<Data::Change> refused;
  std::vector<ESQLError> errors;
  size_t done = d.logStart;
  for (; done < d.log.size(); ++done) {
    try {
      send(d.log[done]);
    } catch (const EConnectionError&) {
      throw;
    } catch (const Exception& e) {
      // The server is gone, or the change sink failed and the transaction
      // with it: nothing was applied.
      if (!conn.alive() || !tx.active()) throw;
      refused.push_back(d.log[done]);
      errors.emplace_back(e.message());
      if (maxErrors >= 0 && static_cast<int>(errors.size()) > maxErrors) {
        ++done;
        break;
      }
    }
  }
  tx.commit();
  if (done > d.logStart) faults::wrote();
  for (size_t i = d.logStart; i < done; ++i) d.logAt.erase(d.log[i].row);
  d.logStart = done;
  if (d.logStart == d.log.size()) {
    d.log.clear();
    d.logStart = 0;
  } else if (d.logStart * 2 > d.log.size()) {
    d.log.erase(d.log.begin(), d.log.begin() + static_cast<std::ptrdiff_t>(d.logStart));
    d.logStart = 0;
    for (size_t i = 0; i < d.log.size(); ++i) d.logAt[d.log[i].row] = i;
  }
  for (const Data::Change& c : refused)
    if (d.holds(c.row)) d.row(c.row) = c.original;
  for (const ESQLError& e : errors)
    if (onReconcileError) onReconcileError(*this, e);
  return static_cast<int>(errors.size());
}

void ClientDataSet::refresh() {
  if (!active_) throw EDatabaseError(notActive(name_));
  if (changeCount() > 0)
    throw EDatabaseError(name_ + ": Há alterações pendentes que não foram enviadas ao servidor."_cp.data());
  int cursor = data_->cursor;
  bool wasEof = data_->eof;
  editing_ = false;
  // A failed fetch leaves the dataset open on the rows it had. Field objects
  // handed out for undeclared columns stay valid: the old ones replace the
  // new ones of the same name.
  Data previous = std::move(*data_);
  *data_ = Data();
  active_ = false;
  try {
    open();
  } catch (...) {
    *data_ = std::move(previous);
    for (size_t i = 0; i < data_->fieldOf.size(); ++i) data_->fieldOf[i]->index_ = static_cast<int>(i);
    active_ = true;
    throw;
  }
  for (auto& old : previous.dynamic) {
    for (auto& fresh : data_->dynamic) {
      if (EqualsNoCase(old->fieldName(), fresh->fieldName())) {
        old->index_ = fresh->index_;
        data_->fieldOf[fresh->index_] = old.get();
        fresh = std::move(old);
        break;
      }
    }
  }
  // Back to the row it was on, or the last one.
  Data& d = *data_;
  try {
    while (cursor >= d.base + static_cast<int>(d.rows.size()) && nextPacket()) {
    }
  } catch (...) {
    closeDiscarding();
    throw;
  }
  if (!d.rows.empty()) {
    d.cursor = std::min(cursor, d.base + static_cast<int>(d.rows.size()) - 1);
    d.eof = wasEof && cursor >= d.count - 1;
  }
}

// ---------------------------------------------------------------------------

Field::Field(ClientDataSet& ds, std::string fieldName, SQLFieldType type, int size, bool key, bool required)
    : ds_(ds), fieldName_(std::move(fieldName)), type_(type), size_(size), key_(key), required_(required) {}

bool Field::isNull() const { return !ds_.currentValue(index_, fieldName_); }

std::string Field::asString() const {
  auto v = ds_.currentValue(index_, fieldName_);
  if (!v) return {};
  switch (ds_.columnType(index_)) {
    case SQLFieldType::Decimal:
      return decimalDisplay(*v);
    case SQLFieldType::Float:
      return FloatToStr(parseNumber(*v));
    case SQLFieldType::Date:
      return DateToStr(storedToDateTime(*v, SQLFieldType::Date));
    case SQLFieldType::Time:
      return TimeToStr(storedToDateTime(*v, SQLFieldType::Time));
    case SQLFieldType::Timestamp:
      return DateTimeToStr(storedToDateTime(*v, SQLFieldType::Timestamp));
    default:
      return std::string(*v);
  }
}

int32_t Field::asInteger() const {
  auto v = ds_.currentValue(index_, fieldName_);
  if (!v) return 0;
  SQLFieldType t = ds_.columnType(index_);
  if (isWhole(t)) return static_cast<int32_t>(StrToInt64(*v));
  if (t == SQLFieldType::Decimal || t == SQLFieldType::Float)
    return static_cast<int32_t>(std::llround(parseNumber(*v)));
  if (t == SQLFieldType::Date || t == SQLFieldType::Timestamp || t == SQLFieldType::Time)
    return static_cast<int32_t>(storedToDateTime(*v, t));
  return StrToInt(*v);
}

double Field::asFloat() const {
  auto v = ds_.currentValue(index_, fieldName_);
  if (!v) return 0;
  SQLFieldType t = ds_.columnType(index_);
  if (isWhole(t) || t == SQLFieldType::Decimal || t == SQLFieldType::Float) return parseNumber(*v);
  if (t == SQLFieldType::Date || t == SQLFieldType::Timestamp || t == SQLFieldType::Time)
    return storedToDateTime(*v, t);
  return StrToFloat(*v);
}

void Field::setString(const std::string& v) {
  SQLFieldType t = ds_.columnType(index_);
  if (isText(t)) {
    std::string s = v;
    if ((type_ == SQLFieldType::String || type_ == SQLFieldType::FixedChar) && size_ > 0 &&
        s.size() > static_cast<size_t>(size_))
      s.resize(size_);
    ds_.assign(index_, fieldName_, std::move(s));
    return;
  }
  if (TrimBlanks(v).empty()) {
    ds_.assign(index_, fieldName_, std::nullopt);
    return;
  }
  switch (t) {
    case SQLFieldType::Decimal: {
      std::string d = decimalFromText(v, ds_.columnScale(index_));
      // A declared precision bounds the digits before the point.
      if (size_ > 0) {
        size_t wholeDigits = d.find('.') == std::string::npos ? d.size() : d.find('.');
        if (d[0] == '-') --wholeDigits;
        if (static_cast<int>(wholeDigits) > size_ - ds_.columnScale(index_))
          throw EConvertError("'"_cp.data() + v + "' não é um valor válido para o campo '"_cp.data() +
                              fieldName_ + "'.");
      }
      ds_.assign(index_, fieldName_, d);
      return;
    }
    case SQLFieldType::Float:
      ds_.assign(index_, fieldName_, numberText(StrToFloat(v)));
      return;
    case SQLFieldType::Date:
      ds_.assign(index_, fieldName_, dateTimeToStored(StrToDate(v), t));
      return;
    case SQLFieldType::Time:
      ds_.assign(index_, fieldName_, dateTimeToStored(StrToTime(v), t));
      return;
    case SQLFieldType::Timestamp:
      ds_.assign(index_, fieldName_, dateTimeToStored(StrToDateTime(v), t));
      return;
    default:
      setInteger(StrToInt64(v));
      return;
  }
}

void Field::setInteger(int64_t v) {
  SQLFieldType t = ds_.columnType(index_);
  if (t == SQLFieldType::SmallInt && (v < -32768 || v > 32767))
    throw EConvertError(std::to_string(v) + " está fora do intervalo do campo '"_cp.data() + fieldName_ +
                        "'.");
  if (t == SQLFieldType::Integer && (v < INT32_MIN || v > INT32_MAX))
    throw EConvertError(std::to_string(v) + " está fora do intervalo do campo '"_cp.data() + fieldName_ +
                        "'.");
  if (isWhole(t) || t == SQLFieldType::Float) {
    ds_.assign(index_, fieldName_, std::to_string(v));
  } else if (t == SQLFieldType::Decimal) {
    ds_.assign(index_, fieldName_, decimalFromText(std::to_string(v), ds_.columnScale(index_)));
  } else if (t == SQLFieldType::Date || t == SQLFieldType::Time || t == SQLFieldType::Timestamp) {
    ds_.assign(index_, fieldName_, dateTimeToStored(static_cast<double>(v), t));
  } else {
    setString(IntToStr(v));
  }
}

void Field::setFloat(double v) {
  SQLFieldType t = ds_.columnType(index_);
  if (t == SQLFieldType::Float) {
    ds_.assign(index_, fieldName_, numberText(v));
  } else if (t == SQLFieldType::Decimal) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", ds_.columnScale(index_), v);
    ds_.assign(index_, fieldName_, decimalFromText(buf, ds_.columnScale(index_)));
  } else if (isWhole(t)) {
    setInteger(std::llround(v));
  } else if (t == SQLFieldType::Date || t == SQLFieldType::Time || t == SQLFieldType::Timestamp) {
    ds_.assign(index_, fieldName_, dateTimeToStored(v, t));
  } else {
    setString(FloatToStr(v));
  }
}

void Field::clear() { ds_.assign(index_, fieldName_, std::nullopt); }

// ---------------------------------------------------------------------------

void ClientDataSet::checkField(int index, const std::string& fieldName) const {
  if (!active_) throw EDatabaseError(notActive(name_));
  if (index < 0)
    throw EDatabaseError(name_ + ": Campo '"_cp.data() + fieldName + "' não encontrado."_cp.data());
}

std::optional<std::string_view> ClientDataSet::currentValue(int index, const std::string& fieldName) const {
  checkField(index, fieldName);
  const Data& d = *data_;
  if (editing_) {
    const SQLValue& v = d.edit[index];
    return v ? std::optional<std::string_view>(*v) : std::nullopt;
  }
  if (d.rows.empty()) return std::nullopt;
  return valueAt(d.rows[d.cursor - d.base], index);
}

SQLFieldType ClientDataSet::columnType(int index) const {
  if (index < 0 || index >= static_cast<int>(data_->columns.size()))
    throw EDatabaseError(name_ + ": Campo não encontrado."_cp.data());
  return data_->columns[index].type;
}

int ClientDataSet::columnScale(int index) const { return data_->columns[index].scale; }

void ClientDataSet::assign(int index, const std::string& fieldName, SQLValue value) {
  checkField(index, fieldName);
  if (!editing_) throw EDatabaseError(name_ + ": O conjunto de dados não está em modo de edição."_cp.data());
  data_->edit[index] = std::move(value);
  data_->assigned[index] = true;
}

}  // namespace cg
