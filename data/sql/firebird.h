// The driver's own connection to Firebird 3 through the client library's
// object-oriented API: attach (server or embedded), run statements, fetch a
// result set, and run parameterised statements inside a transaction. Only
// the driver's sources (and the sample database builder) include this header.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/sql/fb_ref.h"
#include "data/sql/sql.h"

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IMessageMetadata;
}  // namespace Firebird

namespace cg {

class ServerChangeSink;
struct ServerRowChange;
struct FbColumnSlot;

// How the driver reaches the database file; read from section [sql] of
// platform.ini at the root of drive C.
struct SQLTransport {
  bool embedded = false;  // transport=embedded
  std::string port;       // port=NNNN (server only); empty for the default
};
SQLTransport ReadSQLTransport();

// Everything the connection parameters say, resolved for this machine.
struct SQLTarget {
  bool embedded = false;
  std::string host;            // "127.0.0.1" (server transport)
  std::filesystem::path file;  // the database file on this machine
  std::string attachName;      // what the client library is given
  std::string user, password, role, charset;
  int dialect = 3;
  bool readCommitted = true, waitOnLocks = true;
  int forcedWrites = -1;  // 0 or 1 sets the database's write mode at attach
};
SQLTarget ResolveSQLTarget(const SQLConnection& connection);

// One column of a result set.
struct SQLColumn {
  std::string name;      // the alias the statement gives the column
  std::string origin;    // the table column it comes from (may be empty)
  std::string relation;  // its table (may be empty)
  SQLFieldType type = SQLFieldType::String;
  int size = 0;   // characters of a text column
  int scale = 0;  // digits after the point of a decimal (positive)
  bool nullable = true;
};

// The values of one fetched row; nullopt is NULL. Views stay valid only for
// the call that receives them.
using SQLRowView = std::vector<std::optional<std::string_view>>;

// The message of a connection the server dropped in the middle of the work.
std::string LostConnectionMessage(const std::string& clientText);

class SQLConnectionImpl {
 public:
  // Attaches (or creates the database when `create`). Raises EConnectionError.
  SQLConnectionImpl(const SQLTarget& target, bool create);
  ~SQLConnectionImpl();
  SQLConnectionImpl(const SQLConnectionImpl&) = delete;
  SQLConnectionImpl& operator=(const SQLConnectionImpl&) = delete;

  // False once the server has dropped the attachment; the connection then
  // attaches again at its next use.
  bool alive() const { return alive_; }

  // A transaction of the connection's kind (read committed, wait as set);
  // rolled back when destroyed uncommitted.
  //
  // A transaction that has reported a changed row to the change sink
  // (changes.h) tells the sink how it ends: committing() before the commit
  // (a refusal rolls it back and raises EDatabaseError), committed() after
  // it, rolledBack() when it is rolled back, destroyed uncommitted or lost
  // with its attachment. A commit whose answer is lost with the connection
  // may or may not have reached the server: the sink hears nothing more, and
  // its records stay unconfirmed. Its address is the sink's token.
  //
  // During a simulation (simulation.h) it is a part of the simulation's one
  // transaction instead, from a savepoint taken when it starts: its commit
  // releases the savepoint (the sink hears nothing: the changes wait for the
  // end of the simulation, which says simulated()), its rollback goes back
  // to the savepoint (the sink hears rolledBack()). Its sink token is then
  // one of the simulation's, valid to the end of it.
  class Transaction {
   public:
    explicit Transaction(SQLConnectionImpl& c);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();
    void rollback();
    // False once committed or rolled back.
    bool active() const { return static_cast<bool>(tra_); }
    Firebird::ITransaction* handle() { return tra_.get(); }
    // Hands one changed row to the installed sink (none: nothing). When the
    // sink raises, the transaction is rolled back and the error raised.
    void report(const ServerRowChange& change);

   private:
    void savepoint(const std::string& statement);  // in the simulation's transaction
    SQLConnectionImpl& c_;
    FbRef<Firebird::ITransaction> tra_;
    ServerChangeSink* sink_ = nullptr;  // the sink that has heard of a change
    const void* token_ = this;          // what the sink knows it by
    std::string savepoint_;             // a part of a simulation: its savepoint
  };

  // The simulation on this attachment: every Transaction is then a part of
  // one transaction, rolled back at the end.
  void beginSimulation();
  void endSimulation() noexcept;
  bool simulating() const { return sim_ != nullptr; }

  // Prepares the statement and frees it: raises ESQLError when the server
  // refuses it.
  void check(const std::string& sql);
  // A select read forward a packet at a time, for a ClientDataSet that keeps
  // only the rows it is on. It reads in a read-only snapshot transaction of
  // its own, held until it is destroyed, so that its count and its rows, read
  // once or again from the start, are those of the moment it was opened, as
  // if every row had been read then; during a simulation, in the
  // simulation's transaction, which holds what the simulation changed. Its
  // handles stay valid when the attachment goes; a read then raises.
  class Cursor {
   public:
    Cursor(SQLConnectionImpl& c, const std::string& sql);  // prepares and opens; raises
    ~Cursor();                                             // never raises
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;
    const std::vector<SQLColumn>& columns() const;
    // The rows of the statement, counted by the server in the same
    // transaction.
    int64_t count();
    // Hands up to `n` further rows to `row`; returns how many (fewer than
    // `n`: the rows have ended).
    size_t fetch(size_t n, const std::function<void(const SQLRowView&)>& row);
    // Skips up to `n` rows without reading their values; returns how many.
    size_t skip(size_t n);
    // Reads again from the first row, the same rows in the same order.
    void restart();
    uint64_t serial() const { return serial_; }  // of the attachment it reads

   private:
    struct State;
    std::unique_ptr<State> s_;
    uint64_t serial_;
  };

  // Runs one statement without result set: in its own transaction,
  // committed, or in `within`, left open. While a change sink is installed
  // only an UPDATE is accepted, and the rows it changes are reported
  // (changes.cpp).
  int executeDirect(const std::string& sql, Transaction* within = nullptr);

  // A prepared statement whose parameters all travel as text; the server
  // converts them to the column types. Reusable within one transaction.
  class Prepared {
   public:
    Prepared(SQLConnectionImpl& c, Transaction& t, const std::string& sql);
    ~Prepared();
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;
    int parameterCount() const { return count_; }
    void bind(int index, std::optional<std::string_view> value);
    // Binds bytes that travel unconverted (a row's RDB$DB_KEY).
    void bindBinary(int index, std::string_view value);
    // Runs with the bound values; returns the rows affected.
    int execute(Transaction& t);
    // The columns of its result (a select, or a statement with RETURNING);
    // empty when it has none.
    const std::vector<SQLColumn>& columns() const;
    // Runs with the bound values and hands every row of its result to `row`
    // (values as a ClientDataSet reads them); returns the rows handed.
    int query(Transaction& t, const std::function<void(const SQLRowView&)>& row);

   private:
    void bindAs(int index, std::optional<std::string_view> value, bool binary);
    void rebuild();
    void fillInput();
    SQLConnectionImpl& c_;
    FbRef<Firebird::IStatement> stmt_;
    struct Output;
    std::unique_ptr<Output> out_;
    FbRef<Firebird::IMessageMetadata> meta_;
    int count_ = 0;
    std::vector<std::optional<std::string>> values_;
    std::vector<unsigned> capacity_;
    std::vector<bool> binary_;
    std::vector<unsigned char> buffer_;
    bool dirty_ = true;
  };

  Firebird::IAttachment* attachment() { return att_.get(); }
  // Tells attachments apart over the life of the program (never 0).
  uint64_t serial() const { return serial_; }
  const SQLTarget& target() const { return target_; }
  // Notes that the server dropped the attachment.
  void lost() { alive_ = false; }

  // What the change reports keep per attachment: the tables' keys and the
  // prepared statements that read rows ahead (changes.cpp).
  struct ChangeCache;
  ChangeCache& changeCache();

 private:
  int run(const std::string& sql, Transaction& t);  // prepares, executes, frees
  Firebird::ITransaction* startTransaction();       // of the connection's kind
  struct Simulation;
  std::unique_ptr<Simulation> sim_;
  int executeReported(const std::string& sql, Transaction* within);
  struct ChangeCacheDelete {
    void operator()(ChangeCache* p) const;
  };
  std::unique_ptr<ChangeCache, ChangeCacheDelete> changeCache_;  // freed before the detach
  SQLTarget target_;
  uint64_t serial_;
  FbRef<Firebird::IAttachment> att_;
  bool alive_ = true;
};

}  // namespace cg
