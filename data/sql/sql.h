// The SQL driver layer: a connection to the suite's server database, SQL
// datasets (a statement text), and client-side datasets that fetch a
// statement's rows, keep edits in a change log and apply them to the server
// as UPDATE statements identified by their key columns. Texts travel as
// CP1252 bytes both ways.
//
// The server is Firebird 3 (the descendant of Interbase, SQL dialect 3),
// reached through the server on the host named in the database parameter or
// through the embedded engine, as section [sql] of platform.ini at the root
// of drive C says (see docs/server.md).
//
// Not thread-safe: the whole program runs on one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace cg {

// Errors of the driver. Their message carries the server's own text.
CG_DECLARE_ERROR(EDatabaseError, Exception);
CG_DECLARE_ERROR(ESQLError, EDatabaseError);         // the server refused a statement
CG_DECLARE_ERROR(EConnectionError, EDatabaseError);  // the server cannot be reached or login refused

class SQLConnectionImpl;

// TSQLConnection: parameters as "Name=Value" lines; opens on first use.
class SQLConnection {
 public:
  explicit SQLConnection(std::string name);
  ~SQLConnection();
  const std::string& name() const { return name_; }

  std::string connectionName, driverName, libraryName, vendorLib, getDriverFunc;
  bool loginPrompt = false;

  // Parameter lines in order; names compared without regard to case.
  std::vector<std::pair<std::string, std::string>>& params() { return params_; }
  std::string param(std::string_view name) const;
  void setParam(std::string_view name, const std::string& value);  // replaces, or appends

  void open();   // connects (also done on first use)
  void close();  // Disconnect
  // Creates the database file that `Database` names (default character set
  // ServerCharSet) through the configured transport, and stays connected.
  void createDatabase();
  bool connected() const;

  // Runs one statement with no result set in its own transaction (in the
  // open group's, between beginGroup and endGroup); returns the rows
  // affected. Raises ESQLError with the server's message.
  int executeDirect(const std::string& sql);

  // Groups of execute-direct statements. Between beginGroup() and
  // endGroup() the statements share one transaction until commitGroup()
  // commits it; the next statement opens the next one. A statement the
  // server refuses is undone alone (the server's savepoint around every
  // statement) and the group goes on. rollbackGroup() undoes what the group
  // holds. When the server drops the connection, what the open group held
  // is gone with it: the call that finds out raises EConnectionError.
  void beginGroup();
  void commitGroup();  // raises; nothing pending: nothing to do
  void rollbackGroup();
  void endGroup();     // commits what is pending (raises) and ends the grouping
  void cancelGroup();  // rolls back what is pending and ends the grouping
  bool grouping() const { return grouping_; }
  // Statements run in the open group since its start, and how long ago
  // (milliseconds of the program's clock) it started; 0 with no open group.
  int groupStatements() const { return groupStatements_; }
  int64_t groupAgeMs() const;

  SQLConnectionImpl& impl();  // the driver's connection (opens it)
  // The serial of the attachment held now (SQLConnectionImpl::serial), 0
  // with none or a lost one; never attaches.
  uint64_t serial() const;
  // True between BeginServerSimulation and EndServerSimulation (simulation.h).
  bool simulating() const { return simulating_; }

 private:
  friend void BeginServerSimulation(SQLConnection& c);
  friend void EndServerSimulation(SQLConnection& c) noexcept;
  void dropGroup();
  std::string name_;
  std::vector<std::pair<std::string, std::string>> params_;
  std::unique_ptr<SQLConnectionImpl> impl_;
  // The open group's transaction, on impl_ (dropped before impl_ is).
  struct GroupTransaction;
  std::unique_ptr<GroupTransaction> group_;
  bool grouping_ = false;
  bool simulating_ = false;
  int groupStatements_ = 0;
  int64_t groupStartMs_ = 0;
};

// A group of execute-direct statements for the length of a scope, due for
// its commit when it holds `statements` statements or has been open `ms`
// milliseconds; leaving the scope before end() undoes what the group still
// holds. CG_SQL_GROUP_STATEMENTS in the environment (platform/test_hooks.h)
// sets another number of statements for every group (tests use small groups
// to look between them).
class StatementGroup {
 public:
  StatementGroup(SQLConnection& c, int statements, int64_t ms);
  ~StatementGroup() { c_.cancelGroup(); }
  StatementGroup(const StatementGroup&) = delete;
  StatementGroup& operator=(const StatementGroup&) = delete;
  bool due() const {
    return c_.groupStatements() >= statements_ || (c_.groupStatements() > 0 && c_.groupAgeMs() >= ms_);
  }
  void commit() { c_.commitGroup(); }
  void rollback() { c_.rollbackGroup(); }
  void end() { c_.endGroup(); }

 private:
  SQLConnection& c_;
  int statements_;
  int64_t ms_;
};

// TSQLDataSet: a statement text on a connection, read forward only.
class SQLDataSet {
 public:
  SQLDataSet(std::string name, SQLConnection& connection);
  const std::string& name() const { return name_; }
  void setCommandText(const std::string& sql);  // raises when open
  const std::string& commandText() const { return commandText_; }
  void open();  // checks the statement on the server (prepares it)
  void close();
  bool active() const { return active_; }
  SQLConnection& connection() { return connection_; }

 private:
  std::string name_;
  SQLConnection& connection_;
  std::string commandText_;
  bool active_ = false;
};

enum class SQLFieldType {
  String,
  FixedChar,
  Integer,
  SmallInt,
  BigInt,
  Float,
  Decimal,
  Date,
  Time,
  Timestamp,
  Memo,
  Blob
};

// The value of one column of one row; nullopt is NULL. Numbers are held as
// their exact text ("12.50000000" for a decimal), texts as CP1252 bytes.
using SQLValue = std::optional<std::string>;

class ClientDataSet;

// A declared field object (TField) of a client-side dataset.
class Field {
 public:
  Field(ClientDataSet& ds, std::string fieldName, SQLFieldType type, int size, bool key, bool required);
  const std::string& fieldName() const { return fieldName_; }
  SQLFieldType type() const { return type_; }
  int size() const { return size_; }
  bool isKey() const { return key_; }
  bool required() const { return required_; }

  bool isNull() const;
  std::string asString() const;  // pt-BR text; null -> ""
  int32_t asInteger() const;     // null -> 0
  double asFloat() const;        // null -> 0
  // Assigning requires edit mode. A text longer than a string field is cut
  // to its size; a text that does not convert raises EConvertError; an empty
  // text stores NULL in a non-string field.
  void setString(const std::string& v);
  void setInteger(int64_t v);
  void setFloat(double v);
  void clear();

 private:
  ClientDataSet& ds_;
  std::string fieldName_;
  SQLFieldType type_;
  int size_;
  bool key_, required_;
  int index_ = -1;  // column index in the open dataset
  friend class ClientDataSet;
};

// TClientDataSet fed through a provider by one SQLDataSet.
class ClientDataSet {
 public:
  ClientDataSet(std::string name, SQLDataSet& source, std::vector<std::string> keyColumns);
  ~ClientDataSet();
  const std::string& name() const { return name_; }
  SQLDataSet& source() { return source_; }

  // Declares a field object before open (its type and size then rule over
  // what the server reports).
  Field& declareField(const std::string& name, SQLFieldType type, int size = 0, bool required = false);

  // Opens the source if needed and reads the first packet of rows from a
  // cursor that stays open on the server; the next packets are read as the
  // walk reaches them. Only that packet and the changed rows not yet applied
  // are held. The record count is the server's count at the open.
  void open();
  void close();  // fires beforeClose first; an error there stops the close
  // Closes without firing beforeClose, dropping the change log.
  void closeDiscarding();
  bool active() const { return active_; }
  int recordCount() const;
  void first();  // from a later packet, opens the statement again
  void next();
  bool eof() const;
  int recNo() const;  // 1-based, 0 when empty

  Field& fieldByName(std::string_view name);
  Field* findField(std::string_view name);
  // The fields of the open dataset in the statement's column order.
  int fieldCount() const;
  Field& field(int index);

  void edit();
  void post();  // into the change log; a failure goes through onPostError
  void cancel();
  bool editing() const { return editing_; }
  int changeCount() const;

  // Sends the change log: each changed row becomes an UPDATE of its assigned
  // columns, identified by the original values of the key columns, sent with
  // parameters, all in one transaction. An UPDATE the server refuses, or one
  // that finds no row, is a refusal. With maxErrors 0 the first refusal
  // stops the apply: the rows applied before it are committed, the refused
  // change is dropped from the log (its row shows the original values again)
  // and then reported through onReconcileError; the rest stay in the log.
  // Returns the number of refused changes. A connection lost on the way
  // raises EConnectionError and leaves the log as it was.
  int applyUpdates(int maxErrors);
  // Fetches the rows again; raises while changes are pending. A failed fetch
  // leaves the dataset open on the rows it had.
  void refresh();
  // Rows read from the server at a time (TClientDataSet's PacketRecords).
  void setPacketRecords(int n) { packetRecords_ = n > 0 ? n : 1; }
  int packetRecords() const { return packetRecords_; }

  // Events.
  std::function<void(ClientDataSet&)> beforeClose, afterDelete, afterInsert, beforeInsert;
  // Post error: the handler sees the error; it then stands.
  std::function<void(ClientDataSet&, const Exception&)> onPostError;
  // Reconcile error: a change refused while applying.
  std::function<void(ClientDataSet&, const Exception&)> onReconcileError;

  struct Row;

 private:
  friend class Field;
  void checkField(int index, const std::string& fieldName) const;
  std::optional<std::string_view> currentValue(int index, const std::string& fieldName) const;
  SQLFieldType columnType(int index) const;
  int columnScale(int index) const;
  void assign(int index, const std::string& fieldName, SQLValue value);

  std::string name_;
  SQLDataSet& source_;
  std::vector<std::string> keyColumns_;
  std::vector<std::unique_ptr<Field>> fields_;
  struct Data;
  std::unique_ptr<Data> data_;
  bool active_ = false;
  bool editing_ = false;
  int packetRecords_ = 256;
  bool nextPacket();
  void checkReader();
};

}  // namespace cg
