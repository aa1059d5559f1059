// The connection to Firebird 3 through the object-oriented API of the client
// library. Every call gets a fresh status; a failure becomes ESQLError (or
// EConnectionError when attaching) carrying the text the client library
// formats from the status, its lines separated by carriage returns.
#include "data/sql/firebird.h"

#include <firebird/Interface.h>
#include <ibase.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>
#include <utility>

#include "data/sql/changes.h"
#include "platform/cp1252.h"
#include "platform/faults.h"

namespace cg {

using namespace Firebird;

// A connection the server dropped in the middle of the work (stopped, died,
// network gone): the client library's text alone ("Error reading data from
// the connection.") does not tell the user what happened.
std::string LostConnectionMessage(const std::string& clientText) {
  return std::string("Conexão com o servidor de banco de dados perdida: "_cp) + clientText;
}

namespace {

// The embedded engine keeps its lock files in /tmp/firebird unless
// FIREBIRD_LOCK names another folder; that folder belongs to the firebird
// user and an ordinary user cannot write it. Every process of this system
// run by one user (and the test server started by scripts/fbserver.sh) uses
// the same private folder, so that two engines opening one file see each
// other's locks.
void prepareClientEnvironment() {
  static bool done = false;
  if (done) return;
  done = true;
  if (const char* set = std::getenv("FIREBIRD_LOCK"); set && *set) return;
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  dir /= "consistgeral-fblock-" + std::to_string(getuid());
  std::filesystem::create_directories(dir, ec);
  ::chmod(dir.c_str(), 0700);
  ::setenv("FIREBIRD_LOCK", dir.c_str(), 1);
}

IMaster* master() {
  static IMaster* m = [] {
    prepareClientEnvironment();
    return fb_get_master_interface();
  }();
  return m;
}

IUtil* util() { return master()->getUtilInterface(); }

// A status for one call, disposed at the end of the scope.
class Status {
 public:
  Status() : raw_(master()->getStatus()), wrapper_(raw_.get()) {}
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;
  CheckStatusWrapper* operator&() { return &wrapper_; }
  bool failed() const { return (raw_->getState() & IStatus::STATE_ERRORS) != 0; }

  std::string text() {
    std::vector<char> buf(4096);
    util()->formatStatus(buf.data(), static_cast<unsigned>(buf.size()), raw_.get());
    std::string s(buf.data());
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    std::replace(s.begin(), s.end(), '\n', '\r');
    return s;
  }

  // True when the error says the attachment to the server is gone.
  bool connectionLost() const {
    const intptr_t* v = raw_->getErrors();
    for (int i = 0; i < 60 && v[i] != isc_arg_end; i += v[i] == isc_arg_cstring ? 3 : 2) {
      if (v[i] != isc_arg_gds) continue;
      switch (v[i + 1]) {
        case isc_network_error:
        case isc_net_connect_err:
        case isc_net_read_err:
        case isc_net_write_err:
        case isc_lost_db_connection:
        case isc_att_shutdown:
        case isc_shutdown:
          return true;
        default:
          break;
      }
    }
    return false;
  }

  // Raises the error of a failed call.
  [[noreturn]] void raise(SQLConnectionImpl* c, bool connectionLevel = false) {
    std::string message = text();
    if (message.empty()) message = "Erro desconhecido do servidor de banco de dados.";
    bool gone = connectionLost();
    if (c && gone) c->lost();
    if (gone && !connectionLevel) throw EConnectionError(LostConnectionMessage(message));
    if (connectionLevel)
      throw EConnectionError(std::string("Não foi possível conectar ao servidor de banco de dados: "_cp) +
                             message);
    throw ESQLError(message);
  }

  void check(SQLConnectionImpl* c, bool connectionLevel = false) {
    if (failed()) raise(c, connectionLevel);
  }

 private:
  FbDisposable<IStatus> raw_;
  CheckStatusWrapper wrapper_;
};

// The ending calls that give an interface's reference back when they succeed.
void endCall(IAttachment* a, CheckStatusWrapper* st) { a->detach(st); }
void endCall(IStatement* s, CheckStatusWrapper* st) { s->free(st); }
void endCall(IResultSet* r, CheckStatusWrapper* st) { r->close(st); }
void endCall(IBlob* b, CheckStatusWrapper* st) { b->close(st); }

// Ends the interface `ref` holds with its ending call (an attachment's
// detach, a statement's free, a result set's or a blob's close). True when
// the call succeeded and the interface is gone; after a failure `ref` still
// holds it, to be released, and `st` tells what went wrong.
template <class T>
bool end(FbRef<T>& ref, Status& st) {
  endCall(ref.get(), &st);
  if (st.failed()) return false;
  ref.ended();
  return true;
}

unsigned charsetId(const std::string& name) {
  std::string n = name;
  for (char& ch : n) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (n == "WIN1252") return 53;
  if (n == "UTF8") return 4;
  if (n == "ISO8859_1") return 21;
  if (n == "ASCII") return 2;
  return 0;
}

std::string trimRight(const char* s) {
  std::string r = s ? s : "";
  while (!r.empty() && r.back() == ' ') r.pop_back();
  return r;
}

// The exact decimal text of a scaled integer: 1250000000 at scale 8 gives
// "12.50000000".
std::string scaledText(int64_t v, int scale) {
  bool negative = v < 0;
  uint64_t u = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string digits = std::to_string(u);
  if (scale > 0) {
    if (static_cast<int>(digits.size()) <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    digits.insert(digits.size() - scale, 1, '.');
  }
  return negative ? "-" + digits : digits;
}

std::string dateText(ISC_DATE d) {
  unsigned y = 0, m = 0, day = 0;
  util()->decodeDate(d, &y, &m, &day);
  char b[16];
  std::snprintf(b, sizeof b, "%04u-%02u-%02u", y % 10000, m % 100, day % 100);
  return b;
}

std::string timeText(ISC_TIME t) {
  unsigned h = 0, mi = 0, s = 0, frac = 0;
  util()->decodeTime(t, &h, &mi, &s, &frac);
  char b[24];
  std::snprintf(b, sizeof b, "%02u:%02u:%02u.%03u", h % 100, mi % 100, s % 100, (frac / 10) % 1000);
  return b;
}

SQLFieldType fieldTypeOf(unsigned type, int scale, int subType) {
  switch (type) {
    case SQL_TEXT:
      return SQLFieldType::FixedChar;
    case SQL_VARYING:
      return SQLFieldType::String;
    case SQL_SHORT:
      return scale < 0 ? SQLFieldType::Decimal : SQLFieldType::SmallInt;
    case SQL_LONG:
      return scale < 0 ? SQLFieldType::Decimal : SQLFieldType::Integer;
    case SQL_INT64:
      return scale < 0 ? SQLFieldType::Decimal : SQLFieldType::BigInt;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return SQLFieldType::Float;
    case SQL_TYPE_DATE:
      return SQLFieldType::Date;
    case SQL_TYPE_TIME:
      return SQLFieldType::Time;
    case SQL_TIMESTAMP:
      return SQLFieldType::Timestamp;
    case SQL_BLOB:
      return subType == 1 ? SQLFieldType::Memo : SQLFieldType::Blob;
    default:
      return SQLFieldType::String;
  }
}

uint64_t littleEndian(const unsigned char* p, unsigned len) {
  uint64_t v = 0;
  for (unsigned i = 0; i < len && i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------

// The simulation's transaction, the parts' tokens and the parts a real run
// would have committed with changes, for the end.
struct SQLConnectionImpl::Simulation {
  FbRef<ITransaction> tra;
  uint64_t parts = 0;
  std::vector<std::unique_ptr<char>> tokens;
  std::vector<std::pair<ServerChangeSink*, const void*>> kept;
};

SQLConnectionImpl::SQLConnectionImpl(const SQLTarget& target, bool create) : target_(target) {
  static uint64_t attachments = 0;
  serial_ = ++attachments;
  Status st;
  FbDisposable<IXpbBuilder> dpb(util()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0));
  st.check(nullptr, true);
  dpb->insertString(&st, isc_dpb_user_name, target.user.c_str());
  if (!target.embedded) dpb->insertString(&st, isc_dpb_password, target.password.c_str());
  if (!target.role.empty()) dpb->insertString(&st, isc_dpb_sql_role_name, target.role.c_str());
  dpb->insertString(&st, isc_dpb_lc_ctype, target.charset.c_str());
  dpb->insertInt(&st, isc_dpb_sql_dialect, target.dialect);
  // Only the provider of the chosen transport is tried, so that a server
  // that cannot be reached is reported as such, and an embedded attach never
  // goes out to a server.
  // The embedded engine's page cache is this program's to size: a repair
  // that rewrites lines spread over a whole table (the component codes of
  // the order items) reads and writes every page again and again when the
  // table does not fit (16 MiB by default: 20 times slower on a large
  // pharmacy). Pages are taken as they are read, so a small database costs
  // no more than before. Garbage left by updates is collected by the
  // attachment that meets it: the engine's background collector, woken for
  // every row a repair updates, made such repairs two to three times slower.
  // A server's cache and collection are its administrator's.
  dpb->insertString(&st, isc_dpb_config,
                    target.embedded ? "Providers=Engine12\nDefaultDbCachePages=32768\nGCPolicy=cooperative"
                                    : "Providers=Remote");
  if (target.forcedWrites >= 0) dpb->insertInt(&st, isc_dpb_force_write, target.forcedWrites);
  if (create) {
    dpb->insertString(&st, isc_dpb_set_db_charset, target.charset.c_str());
    dpb->insertInt(&st, isc_dpb_page_size, 8192);
  }
  if (st.failed()) st.raise(nullptr, true);
  unsigned length = dpb->getBufferLength(&st);
  const unsigned char* buffer = dpb->getBuffer(&st);
  {
    FbRef<IProvider> provider(master()->getDispatcher());
    if (create)
      att_.reset(provider->createDatabase(&st, target.attachName.c_str(), length, buffer));
    else
      att_.reset(provider->attachDatabase(&st, target.attachName.c_str(), length, buffer));
  }
  if (st.failed() || !att_) st.raise(nullptr, true);
}

SQLConnectionImpl::~SQLConnectionImpl() {
  endSimulation();
  changeCache_.reset();  // its statements are freed while the attachment lives
  if (!att_) return;
  Status st;
  end(att_, st);  // a dead attachment cannot detach: it is only released
}

// ---------------------------------------------------------------------------

ITransaction* SQLConnectionImpl::startTransaction() {
  std::vector<unsigned char> tpb = {isc_tpb_version3, isc_tpb_write};
  if (target_.readCommitted) {
    tpb.push_back(isc_tpb_read_committed);
    tpb.push_back(isc_tpb_rec_version);
  } else {
    tpb.push_back(isc_tpb_concurrency);
  }
  tpb.push_back(target_.waitOnLocks ? isc_tpb_wait : isc_tpb_nowait);
  Status st;
  ITransaction* t = att_->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
  if (st.failed()) st.raise(this);
  return t;
}

void SQLConnectionImpl::beginSimulation() {
  if (sim_) return;
  auto sim = std::make_unique<Simulation>();
  sim->tra.reset(startTransaction());
  sim_ = std::move(sim);
}

void SQLConnectionImpl::endSimulation() noexcept {
  if (!sim_) return;
  std::unique_ptr<Simulation> sim = std::move(sim_);
  Status st;
  sim->tra->rollback(&st);
  if (st.failed())
    sim->tra.reset();  // a dead attachment: the server rolls it back
  else
    sim->tra.ended();
  for (const auto& [sink, token] : sim->kept) sink->simulated(token);
}

SQLConnectionImpl::Transaction::Transaction(SQLConnectionImpl& c) : c_(c) {
  if (Simulation* sim = c.sim_.get()) {
    sim->tra->addRef();
    tra_.reset(sim->tra.get());
    sim->tokens.push_back(std::make_unique<char>());
    token_ = sim->tokens.back().get();
    const std::string name = "CG_SIM_" + std::to_string(++sim->parts);
    savepoint("SAVEPOINT " + name);
    savepoint_ = name;
    return;
  }
  tra_.reset(c.startTransaction());
}

void SQLConnectionImpl::Transaction::savepoint(const std::string& statement) {
  Status st;
  c_.att_->execute(&st, tra_.get(), 0, statement.c_str(), c_.target_.dialect, nullptr, nullptr, nullptr,
                   nullptr);
  if (st.failed()) st.raise(&c_);
}

// A commit or a rollback that succeeds gives the transaction's reference
// back; after a failed one (a dead attachment) it is only released.
SQLConnectionImpl::Transaction::~Transaction() { rollback(); }

void SQLConnectionImpl::Transaction::commit() {
  if (!tra_) return;
  if (!savepoint_.empty()) {
    // A simulation's part: what it changed stays in the simulation.
    savepoint("RELEASE SAVEPOINT " + savepoint_ + " ONLY");
    tra_.reset();
    ServerChangeSink* sink = std::exchange(sink_, nullptr);
    if (sink && c_.sim_) c_.sim_->kept.emplace_back(sink, token_);
    return;
  }
  if (sink_ && !sink_->committing(token_)) {
    rollback();
    throw EDatabaseError(
        "O histórico de alterações não pôde ser gravado; nada foi alterado no servidor."_cp.data());
  }
  Status st;
  tra_->commit(&st);
  if (st.failed()) {
    // Lost with the connection, the commit may have reached the server:
    // the sink's records stay unconfirmed, to be settled against the rows.
    if (st.connectionLost()) sink_ = nullptr;
    st.raise(&c_);  // still held: the destructor rolls back
  }
  tra_.ended();
  if (ServerChangeSink* sink = std::exchange(sink_, nullptr)) sink->committed(token_);
}

void SQLConnectionImpl::Transaction::rollback() {
  if (!tra_) return;
  if (!savepoint_.empty()) {
    // A simulation's part: back to its savepoint (nothing to do once the
    // simulation's transaction or its attachment is gone).
    if (c_.sim_ && c_.sim_->tra.get() == tra_.get()) {
      try {
        savepoint("ROLLBACK TO SAVEPOINT " + savepoint_);
        savepoint("RELEASE SAVEPOINT " + savepoint_ + " ONLY");
      } catch (const Exception&) {
      }
    }
    tra_.reset();
    if (ServerChangeSink* sink = std::exchange(sink_, nullptr)) sink->rolledBack(token_);
    return;
  }
  Status st;
  tra_->rollback(&st);
  if (st.failed())
    tra_.reset();  // a dead attachment: the server rolls it back
  else
    tra_.ended();
  if (ServerChangeSink* sink = std::exchange(sink_, nullptr)) sink->rolledBack(token_);
}

void SQLConnectionImpl::Transaction::report(const ServerRowChange& change) {
  ServerChangeSink* sink = CurrentServerChangeSink();
  if (!sink) return;
  sink_ = sink;
  try {
    sink->change(token_, change);
  } catch (...) {
    rollback();
    throw;
  }
}

// ---------------------------------------------------------------------------

namespace {

int rowsAffected(IStatement* stmt) {
  Status st;
  const unsigned char items[] = {isc_info_sql_records, isc_info_end};
  unsigned char buf[128] = {};
  stmt->getInfo(&st, sizeof items, items, sizeof buf, buf);
  if (st.failed() || buf[0] != isc_info_sql_records) return 0;
  unsigned total = static_cast<unsigned>(littleEndian(buf + 1, 2));
  const unsigned char* p = buf + 3;
  const unsigned char* end = std::min(buf + 3 + total, buf + sizeof buf);
  int64_t sum = 0;
  while (p + 3 <= end && *p != isc_info_end) {
    unsigned char item = *p++;
    unsigned len = static_cast<unsigned>(littleEndian(p, 2));
    p += 2;
    if (p + len > end) break;
    int64_t v = static_cast<int64_t>(littleEndian(p, len));
    p += len;
    if (item == isc_info_req_update_count || item == isc_info_req_delete_count ||
        item == isc_info_req_insert_count)
      sum += v;
  }
  return static_cast<int>(sum);
}

}  // namespace

void SQLConnectionImpl::check(const std::string& sql) {
  Transaction t(*this);
  Status st;
  FbRef<IStatement> stmt(att_->prepare(&st, t.handle(), 0, sql.c_str(), target_.dialect, 0));
  if (st.failed()) st.raise(this);
  if (!end(stmt, st)) stmt.reset();
  t.commit();
}

int SQLConnectionImpl::executeDirect(const std::string& sql, Transaction* within) {
  if (CurrentServerChangeSink()) return executeReported(sql, within);
  faults::serverWriting();
  std::optional<Transaction> own;
  Transaction& t = within ? *within : own.emplace(*this);
  int rows = run(sql, t);
  if (own) {
    own->commit();
    faults::wrote();
  }
  return rows;
}

int SQLConnectionImpl::run(const std::string& sql, Transaction& t) {
  Status st;
  FbRef<IStatement> stmt(att_->prepare(&st, t.handle(), 0, sql.c_str(), target_.dialect, 0));
  if (st.failed()) st.raise(this);
  stmt->execute(&st, t.handle(), nullptr, nullptr, nullptr, nullptr);
  if (st.failed()) {
    std::string message = st.text();
    bool lostConnection = st.connectionLost();
    stmt.reset();
    if (lostConnection) {
      lost();
      throw EConnectionError(LostConnectionMessage(message));
    }
    throw ESQLError(message);
  }
  int rows = rowsAffected(stmt.get());
  Status st2;
  if (!end(stmt, st2)) stmt.reset();
  return rows;
}

// ---------------------------------------------------------------------------
// Fetching a result set: the columns described once, then every row decoded
// column by column into text.

namespace {}  // namespace

// Where a column's value lies in the row buffer of a result set, and its
// SQL type.
struct FbColumnSlot {
  unsigned type = 0;  // SQL_TEXT, SQL_VARYING, ... without the nullable bit
  int scale = 0;      // as the server gives it: negative for a decimal
  unsigned length = 0, offset = 0, nullOffset = 0;
};

namespace {

using ColumnSlot = FbColumnSlot;

// Describes the columns of a result set for the dataset, and fills `slots`
// with where each one's value lies. The caller checks `st` afterwards.
std::vector<SQLColumn> describeColumns(IMessageMetadata* meta, Status& st, std::vector<ColumnSlot>& slots) {
  unsigned n = meta->getCount(&st);
  std::vector<SQLColumn> cols(n);
  slots.assign(n, ColumnSlot{});
  for (unsigned i = 0; i < n; ++i) {
    ColumnSlot& slot = slots[i];
    slot.type = meta->getType(&st, i) & ~1u;
    slot.scale = meta->getScale(&st, i);
    slot.length = meta->getLength(&st, i);
    slot.offset = meta->getOffset(&st, i);
    slot.nullOffset = meta->getNullOffset(&st, i);
    SQLColumn& c = cols[i];
    c.name = trimRight(meta->getAlias(&st, i));
    c.origin = trimRight(meta->getField(&st, i));
    c.relation = trimRight(meta->getRelation(&st, i));
    if (c.name.empty()) c.name = c.origin;
    c.type = fieldTypeOf(slot.type, slot.scale, meta->getSubType(&st, i));
    c.scale = slot.scale < 0 ? -slot.scale : 0;
    c.nullable = meta->isNullable(&st, i);
    if (c.type == SQLFieldType::String || c.type == SQLFieldType::FixedChar) {
      unsigned bytesPerChar = 1;
      if (unsigned cs = meta->getCharSet(&st, i); cs == 4) bytesPerChar = 4;
      c.size = static_cast<int>(slot.length / bytesPerChar);
    }
  }
  return cols;
}

// Reads the blobs of a result set whole, in the transaction that fetches it.
struct BlobReader {
  SQLConnectionImpl& c;
  ITransaction* transaction;

  void read(ISC_QUAD id, std::string& out) const {
    out.clear();
    Status bs;
    FbRef<IBlob> blob(c.attachment()->openBlob(&bs, transaction, &id, 0, nullptr));
    if (bs.failed()) bs.raise(&c);
    char chunk[16384];
    for (;;) {
      unsigned got = 0;
      int r = blob->getSegment(&bs, sizeof chunk, chunk, &got);
      if (r == IStatus::RESULT_OK || r == IStatus::RESULT_SEGMENT) {
        out.append(chunk, got);
        continue;
      }
      break;
    }
    if (bs.failed()) bs.raise(&c);
    if (!end(blob, bs)) blob.reset();
  }
};

// Decodes one column of the fetched row in `row`: nullopt for NULL; a text
// is a view of the row buffer; any other value is written as text into
// `scratch` (numbers, dates and times exactly, blobs whole) and viewed there.
std::optional<std::string_view> decodeColumn(const ColumnSlot& c, const unsigned char* row,
                                             std::string& scratch, const BlobReader& blobs) {
  if (*reinterpret_cast<const short*>(row + c.nullOffset)) return std::nullopt;
  const unsigned char* p = row + c.offset;
  std::string& s = scratch;
  switch (c.type) {
    case SQL_TEXT:
      return std::string_view(reinterpret_cast<const char*>(p), c.length);
    case SQL_VARYING: {
      uint16_t len;
      std::memcpy(&len, p, 2);
      return std::string_view(reinterpret_cast<const char*>(p + 2), len);
    }
    case SQL_SHORT: {
      int16_t v;
      std::memcpy(&v, p, 2);
      s = scaledText(v, -c.scale);
      break;
    }
    case SQL_LONG: {
      int32_t v;
      std::memcpy(&v, p, 4);
      s = scaledText(v, -c.scale);
      break;
    }
    case SQL_INT64: {
      int64_t v;
      std::memcpy(&v, p, 8);
      s = scaledText(v, -c.scale);
      break;
    }
    case SQL_FLOAT: {
      float v;
      std::memcpy(&v, p, 4);
      char b[32];
      auto r = std::to_chars(b, b + sizeof b, v);
      s.assign(b, r.ptr);
      break;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
      double v;
      std::memcpy(&v, p, 8);
      char b[32];
      auto r = std::to_chars(b, b + sizeof b, v);
      s.assign(b, r.ptr);
      break;
    }
    case SQL_TYPE_DATE: {
      ISC_DATE d;
      std::memcpy(&d, p, sizeof d);
      s = dateText(d);
      break;
    }
    case SQL_TYPE_TIME: {
      ISC_TIME tm;
      std::memcpy(&tm, p, sizeof tm);
      s = timeText(tm);
      break;
    }
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP ts;
      std::memcpy(&ts, p, sizeof ts);
      s = dateText(ts.timestamp_date) + " " + timeText(ts.timestamp_time);
      break;
    }
    case SQL_BOOLEAN:
      s = *p ? "true" : "false";
      break;
    case SQL_BLOB: {
      ISC_QUAD id;
      std::memcpy(&id, p, sizeof id);
      blobs.read(id, s);
      break;
    }
    default:
      s.clear();
      break;
  }
  return std::string_view(s);
}

}  // namespace

// ---------------------------------------------------------------------------

struct SQLConnectionImpl::Cursor::State {
  State(SQLConnectionImpl& conn, std::string text) : c(conn), sql(std::move(text)) {}
  SQLConnectionImpl& c;
  std::string sql;
  bool ownTransaction = true;
  FbRef<ITransaction> tra;
  FbRef<IStatement> stmt;
  FbRef<IMessageMetadata> meta;
  FbRef<IResultSet> rs;
  std::vector<ColumnSlot> slots;
  std::vector<SQLColumn> columns;
  std::vector<unsigned char> buffer;
  std::vector<std::string> scratch;

  // Closes the result set; a failed ending call (a dead attachment) only
  // releases.
  void endRows() noexcept {
    Status st;
    if (rs && !end(rs, st)) rs.reset();
  }
  // Closes what is open, result set first.
  void close() noexcept {
    endRows();
    Status st2;
    if (stmt && !end(stmt, st2)) stmt.reset();
    meta.reset();
    if (tra && ownTransaction) {
      Status st3;
      tra->rollback(&st3);
      if (st3.failed())
        tra.reset();
      else
        tra.ended();
    }
    tra.reset();
  }
};

SQLConnectionImpl::Cursor::Cursor(SQLConnectionImpl& c, const std::string& sql)
    : s_(std::make_unique<State>(c, sql)), serial_(c.serial()) {
  State& s = *s_;
  try {
    if (c.sim_) {
      // The simulation's changes are seen where the real run would see them
      // committed.
      s.ownTransaction = false;
      c.sim_->tra->addRef();
      s.tra.reset(c.sim_->tra.get());
    } else {
      const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_concurrency, isc_tpb_nowait};
      Status st;
      s.tra.reset(c.att_->startTransaction(&st, sizeof tpb, tpb));
      if (st.failed()) st.raise(&c);
    }
    Status st;
    s.stmt.reset(c.att_->prepare(&st, s.tra.get(), 0, sql.c_str(), c.target_.dialect,
                                 IStatement::PREPARE_PREFETCH_METADATA));
    if (st.failed()) st.raise(&c);
    s.meta.reset(s.stmt->getOutputMetadata(&st));
    if (st.failed()) st.raise(&c);
    s.columns = describeColumns(s.meta.get(), st, s.slots);
    if (st.failed()) st.raise(&c);
    s.buffer.resize(s.meta->getMessageLength(&st));
    s.scratch.resize(s.slots.size());
    s.rs.reset(s.stmt->openCursor(&st, s.tra.get(), nullptr, nullptr, s.meta.get(), 0));
    if (st.failed()) st.raise(&c);
  } catch (...) {
    s.close();
    throw;
  }
}

SQLConnectionImpl::Cursor::~Cursor() { s_->close(); }

const std::vector<SQLColumn>& SQLConnectionImpl::Cursor::columns() const { return s_->columns; }

int64_t SQLConnectionImpl::Cursor::count() {
  State& s = *s_;
  if (!s.tra) return 0;
  std::string sql = s.sql;
  while (!sql.empty() && (std::isspace(static_cast<unsigned char>(sql.back())) || sql.back() == ';'))
    sql.pop_back();
  Status st;
  FbRef<IStatement> stmt(s.c.att_->prepare(&st, s.tra.get(), 0,
                                           ("SELECT COUNT(*) FROM (" + sql + ")").c_str(),
                                           s.c.target_.dialect, IStatement::PREPARE_PREFETCH_METADATA));
  if (st.failed()) {
    // A statement that cannot stand as a derived table (a column without a
    // name): its rows are counted as they come, unread.
    if (st.connectionLost()) st.raise(&s.c);
    stmt.reset();
    Status st2;
    stmt.reset(s.c.att_->prepare(&st2, s.tra.get(), 0, s.sql.c_str(), s.c.target_.dialect, 0));
    if (st2.failed()) st2.raise(&s.c);
    FbRef<IResultSet> rs(stmt->openCursor(&st2, s.tra.get(), nullptr, nullptr, s.meta.get(), 0));
    if (st2.failed()) st2.raise(&s.c);
    int64_t n = 0;
    std::vector<unsigned char> buffer(s.buffer.size());
    while (rs->fetchNext(&st2, buffer.data()) == IStatus::RESULT_OK) ++n;
    if (st2.failed()) st2.raise(&s.c);
    if (!end(rs, st2)) st2.raise(&s.c);
    if (!end(stmt, st2)) st2.raise(&s.c);
    return n;
  }
  FbRef<IMessageMetadata> meta(stmt->getOutputMetadata(&st));
  if (st.failed()) st.raise(&s.c);
  std::vector<ColumnSlot> slots;
  describeColumns(meta.get(), st, slots);
  if (st.failed()) st.raise(&s.c);
  std::vector<unsigned char> buffer(meta->getMessageLength(&st));
  FbRef<IResultSet> rs(stmt->openCursor(&st, s.tra.get(), nullptr, nullptr, meta.get(), 0));
  if (st.failed()) st.raise(&s.c);
  int64_t n = 0;
  if (rs->fetchNext(&st, buffer.data()) == IStatus::RESULT_OK && !slots.empty()) {
    std::string scratch;
    const BlobReader blobs{s.c, s.tra.get()};
    if (auto v = decodeColumn(slots[0], buffer.data(), scratch, blobs))
      n = std::strtoll(std::string(*v).c_str(), nullptr, 10);
  }
  if (st.failed()) st.raise(&s.c);
  if (!end(rs, st)) st.raise(&s.c);
  if (!end(stmt, st)) st.raise(&s.c);
  return n;
}

size_t SQLConnectionImpl::Cursor::fetch(size_t n, const std::function<void(const SQLRowView&)>& row) {
  State& s = *s_;
  if (!s.rs) return 0;
  const BlobReader blobs{s.c, s.tra.get()};
  const size_t columns = s.slots.size();
  SQLRowView view(columns);
  size_t got = 0;
  Status st;
  while (got < n) {
    if (s.rs->fetchNext(&st, s.buffer.data()) != IStatus::RESULT_OK) {
      if (st.failed()) st.raise(&s.c);
      s.endRows();
      break;
    }
    for (size_t i = 0; i < columns; ++i)
      view[i] = decodeColumn(s.slots[i], s.buffer.data(), s.scratch[i], blobs);
    row(view);
    ++got;
  }
  return got;
}

size_t SQLConnectionImpl::Cursor::skip(size_t n) {
  State& s = *s_;
  size_t got = 0;
  Status st;
  while (got < n && s.rs) {
    if (s.rs->fetchNext(&st, s.buffer.data()) != IStatus::RESULT_OK) {
      if (st.failed()) st.raise(&s.c);
      s.endRows();
      break;
    }
    ++got;
  }
  return got;
}

void SQLConnectionImpl::Cursor::restart() {
  State& s = *s_;
  s.endRows();
  if (!s.stmt) return;
  Status st;
  s.rs.reset(s.stmt->openCursor(&st, s.tra.get(), nullptr, nullptr, s.meta.get(), 0));
  if (st.failed()) st.raise(&s.c);
}

// ---------------------------------------------------------------------------

struct SQLConnectionImpl::Prepared::Output {
  FbRef<IMessageMetadata> meta;
  std::vector<ColumnSlot> slots;
  std::vector<SQLColumn> columns;
  std::vector<unsigned char> buffer;
  std::vector<std::string> scratch;
  SQLRowView view;
  bool select = true;
};

SQLConnectionImpl::Prepared::Prepared(SQLConnectionImpl& c, Transaction& t, const std::string& sql) : c_(c) {
  Status st;
  stmt_.reset(c.att_->prepare(&st, t.handle(), 0, sql.c_str(), c.target_.dialect, 0));
  if (st.failed()) st.raise(&c);
  FbRef<IMessageMetadata> in(stmt_->getInputMetadata(&st));
  if (st.failed()) st.raise(&c);
  count_ = static_cast<int>(in->getCount(&st));
  in.reset();
  values_.assign(count_, std::nullopt);
  capacity_.assign(count_, 64);
  binary_.assign(count_, false);
  FbRef<IMessageMetadata> out(stmt_->getOutputMetadata(&st));
  if (st.failed()) st.raise(&c);
  if (out->getCount(&st) > 0) {
    out_ = std::make_unique<Output>();
    out_->columns = describeColumns(out.get(), st, out_->slots);
    out_->buffer.assign(out->getMessageLength(&st), 0);
    out_->scratch.resize(out_->slots.size());
    out_->view.resize(out_->slots.size());
    out_->select = stmt_->getType(&st) == isc_info_sql_stmt_select;
    if (st.failed()) st.raise(&c);
    out_->meta = std::move(out);
  }
}

SQLConnectionImpl::Prepared::~Prepared() {
  out_.reset();
  meta_.reset();
  if (stmt_) {
    Status st;
    end(stmt_, st);  // after a failed free the statement is only released
  }
}

void SQLConnectionImpl::Prepared::bindBinary(int index, std::string_view value) {
  bindAs(index, value, true);
}

void SQLConnectionImpl::Prepared::bind(int index, std::optional<std::string_view> value) {
  bindAs(index, value, false);
}

void SQLConnectionImpl::Prepared::bindAs(int index, std::optional<std::string_view> value, bool binary) {
  if (index < 0 || index >= count_)
    throw ESQLError("Parâmetro inexistente: "_cp.data() + std::to_string(index + 1));
  if (binary_[index] != binary) {
    binary_[index] = binary;
    dirty_ = true;
  }
  if (value)
    values_[index] = std::string(*value);
  else
    values_[index].reset();
  // A parameter travels as one VARCHAR, which holds at most 32765 bytes.
  if (value && value->size() > 32765)
    throw ESQLError("Texto longo demais para ser enviado ao servidor ("_cp.data() +
                    std::to_string(value->size()) + " bytes; o limite é 32765)."_cp.data());
  if (value && value->size() > capacity_[index]) {
    capacity_[index] = std::max<unsigned>(static_cast<unsigned>(value->size()), capacity_[index] * 2);
    dirty_ = true;
  }
}

// Every parameter is described as a WIN1252 VARCHAR; the server converts the
// text to the type of the column it meets.
void SQLConnectionImpl::Prepared::rebuild() {
  Status st;
  meta_.reset();
  if (count_ == 0) {
    buffer_.clear();
    dirty_ = false;
    return;
  }
  FbRef<IMetadataBuilder> builder(master()->getMetadataBuilder(&st, static_cast<unsigned>(count_)));
  if (st.failed()) st.raise(&c_);
  unsigned cs = charsetId(c_.target_.charset);
  for (int i = 0; i < count_; ++i) {
    builder->setType(&st, i, SQL_VARYING + 1);
    builder->setLength(&st, i, std::min<unsigned>(capacity_[i], 32765));
    builder->setCharSet(&st, i, binary_[i] ? 1u : cs);  // 1: OCTETS, the bytes as they are
    builder->setScale(&st, i, 0);
  }
  meta_.reset(builder->getMetadata(&st));
  builder.reset();
  if (st.failed()) {
    meta_.reset();
    st.raise(&c_);
  }
  buffer_.assign(meta_->getMessageLength(&st), 0);
  dirty_ = false;
}

const std::vector<SQLColumn>& SQLConnectionImpl::Prepared::columns() const {
  static const std::vector<SQLColumn> none;
  return out_ ? out_->columns : none;
}

int SQLConnectionImpl::Prepared::query(Transaction& t, const std::function<void(const SQLRowView&)>& row) {
  if (!out_) {
    execute(t);
    return 0;
  }
  if (dirty_) rebuild();
  fillInput();
  Output& o = *out_;
  Status st;
  const BlobReader blobs{c_, t.handle()};
  auto hand = [&] {
    for (size_t i = 0; i < o.slots.size(); ++i)
      o.view[i] = decodeColumn(o.slots[i], o.buffer.data(), o.scratch[i], blobs);
    row(o.view);
  };
  if (!o.select) {  // RETURNING: one row, in the output message
    stmt_->execute(&st, t.handle(), count_ ? meta_.get() : nullptr, count_ ? buffer_.data() : nullptr,
                   o.meta.get(), o.buffer.data());
    if (st.failed()) st.raise(&c_);
    hand();
    return 1;
  }
  FbRef<IResultSet> rs(stmt_->openCursor(&st, t.handle(), count_ ? meta_.get() : nullptr,
                                         count_ ? buffer_.data() : nullptr, o.meta.get(), 0));
  if (st.failed()) st.raise(&c_);
  int rows = 0;
  while (rs->fetchNext(&st, o.buffer.data()) == IStatus::RESULT_OK) {
    hand();
    ++rows;
  }
  if (st.failed()) st.raise(&c_);
  if (!end(rs, st)) st.raise(&c_);
  return rows;
}

void SQLConnectionImpl::Prepared::fillInput() {
  Status st;
  for (int i = 0; i < count_; ++i) {
    unsigned off = meta_->getOffset(&st, i);
    unsigned nullOff = meta_->getNullOffset(&st, i);
    short isNull = values_[i] ? 0 : -1;
    std::memcpy(buffer_.data() + nullOff, &isNull, sizeof isNull);
    uint16_t len = 0;
    if (values_[i]) {
      len = static_cast<uint16_t>(values_[i]->size());
      std::memcpy(buffer_.data() + off + 2, values_[i]->data(), len);
    }
    std::memcpy(buffer_.data() + off, &len, 2);
  }
}

int SQLConnectionImpl::Prepared::execute(Transaction& t) {
  if (dirty_) rebuild();
  fillInput();
  Status st;
  stmt_->execute(&st, t.handle(), count_ ? meta_.get() : nullptr, count_ ? buffer_.data() : nullptr, nullptr,
                 nullptr);
  if (st.failed()) st.raise(&c_);
  return rowsAffected(stmt_.get());
}

}  // namespace cg
