// What the SQL driver tells a journal about the server rows it changes, and
// the row-by-row writer that takes changes back.
//
// While a sink is installed, every statement the driver sends that changes
// rows reports each changed row, after the statement succeeded and before
// its transaction commits: an applied change of a client-side dataset, an
// execute-direct statement (UPDATE table SET ... [WHERE ...]: the rows it
// will change are read first, in its transaction, by the same condition;
// when it sets literal values, only the rows they change are written), a
// ServerRowWriter's write. Before the transaction commits the sink makes its
// records durable; after the commit it hears that the transaction is on the
// server. A row whose values the statement leaves as they were is not
// reported. A statement the driver cannot read ahead (any other statement
// text) is refused while a sink is installed, rather than sent unrecorded.
//
// During a simulation (simulation.h) the changes are reported the same way,
// but nothing commits: the sink never hears committing() or committed().
// Each transaction the driver would use is then a part of the simulation's
// one transaction, with a token of its own: a part rolled back where a real
// run would roll back is rolledBack(); at the end of the simulation, when
// everything is rolled back, each part that a real run would have committed
// with changes is simulated() instead: those are the changes the run would
// have made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/sql/sql.h"

namespace cg {

struct ServerRowChange {
  enum class Op : char { Insert = 'I', Update = 'U', Delete = 'D' };
  Op op = Op::Update;
  std::string table;                    // upper case, as the server names it
  std::vector<std::string> keyColumns;  // the primary key; every column when the table has none
  std::vector<SQLValue> key;            // its values (before the change)
  std::vector<std::string> columns;     // the changed columns (every column for an insert or delete)
  std::vector<SQLValue> before, after;  // their values; empty for an insert (before) or delete (after)
};

class ServerChangeSink {
 public:
  virtual ~ServerChangeSink() = default;
  // `transaction` is an opaque token, one per server transaction. May raise:
  // the statement's transaction is then rolled back and the error raised.
  virtual void change(const void* transaction, const ServerRowChange& change) = 0;
  // Before the transaction commits; false refuses the commit (rolled back).
  virtual bool committing(const void* transaction) noexcept = 0;
  virtual void committed(const void* transaction) noexcept = 0;
  virtual void rolledBack(const void* transaction) noexcept = 0;
  // The simulation has ended: the changes reported under `transaction` are
  // the simulated run's, and none of them is on the server. A sink that
  // keeps no simulations takes them back, as for a rollback.
  virtual void simulated(const void* transaction) noexcept { rolledBack(transaction); }
  // A connection to the server has just been made, before any statement
  // runs on it: the sink may settle what it left unconfirmed (a program
  // that died) before anything else can write those rows.
  virtual void connected(SQLConnection& connection) noexcept { (void)connection; }
};

void SetServerChangeSink(ServerChangeSink* sink);
ServerChangeSink* CurrentServerChangeSink();

// Reads and writes single server rows by their key, in one transaction of
// its own that commit() ends (destroyed uncommitted: rolled back). Values
// travel as text, as everywhere in the driver. Writes are reported to the
// sink like any other change.
class ServerRowWriter {
 public:
  explicit ServerRowWriter(SQLConnection& connection);
  ~ServerRowWriter();
  ServerRowWriter(const ServerRowWriter&) = delete;
  ServerRowWriter& operator=(const ServerRowWriter&) = delete;

  // The primary key columns of `table` (upper case, in key order); empty
  // when it has none.
  std::vector<std::string> primaryKey(const std::string& table);
  // The row whose `keyColumns` equal `key` (NULL matches NULL), locked for
  // the transaction, with the values of `columns`; nullopt when there is
  // none. Raises ESQLError when more than one row matches.
  std::optional<std::vector<SQLValue>> read(const std::string& table,
                                            const std::vector<std::string>& keyColumns,
                                            const std::vector<SQLValue>& key,
                                            const std::vector<std::string>& columns);
  // Sets `columns` to `values` in that row; returns the rows changed.
  int update(const std::string& table, const std::vector<std::string>& keyColumns,
             const std::vector<SQLValue>& key, const std::vector<std::string>& columns,
             const std::vector<SQLValue>& values);
  void insert(const std::string& table, const std::vector<std::string>& columns,
              const std::vector<SQLValue>& values);
  int remove(const std::string& table, const std::vector<std::string>& keyColumns,
             const std::vector<SQLValue>& key);
  void commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cg
