// The local table engine: table objects over the suite's local tables, under
// one session. Each table is one file in its database directory (an SQLite 3
// database holding one data table named as the file's base name, with its
// indexes; see docs/storage.md). Field types are those of a Paradox table.
//
// A table object is bound (database name, table name, index name), opened,
// walked with a cursor in the order of its current index, and edited in place.
// Every failure is raised as EDBEngineError (or a subclass) with a Portuguese
// message naming the table by its Windows path; a value that does not
// convert to a field's type raises EConvertError naming the field, the value
// and the table.
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
#include <variant>
#include <vector>

#include "platform/errors.h"

namespace cg {

// Errors of the table engine. The class names are stable: operations show
// them to the user.
CG_DECLARE_ERROR(EDBEngineError, Exception);
CG_DECLARE_ERROR(EKeyViolation, EDBEngineError);
CG_DECLARE_ERROR(ERecordLocked, EDBEngineError);
CG_DECLARE_ERROR(ETableNotFound, EDBEngineError);
CG_DECLARE_ERROR(EIndexNotFound, EDBEngineError);
CG_DECLARE_ERROR(EFieldNotFound, EDBEngineError);
CG_DECLARE_ERROR(EAliasNotFound, EDBEngineError);

// Field types as a Paradox table knows them.
enum class FieldType {
  Alpha,      // text of a fixed maximum width (1..255)
  Number,     // double
  Money,      // double
  Short,      // 16-bit integer
  LongInt,    // 32-bit integer
  AutoInc,    // 32-bit integer assigned on append
  Logical,    // boolean ("True"/"False" as text)
  Date,       // date, text "dd/mm/yyyy"
  Time,       // time, text "hh:nn:ss"
  Timestamp,  // date-time, text "dd/mm/yyyy hh:nn:ss"
  Memo,       // text without width
};

// The letter a table description keeps for a field type: 'A', 'N', '$',
// 'S', 'I', '+', 'L', 'D', 'T', '@' or 'M' (docs/storage.md).
char FieldTypeCode(FieldType type);

struct FieldDef {
  std::string name;  // as declared (case kept, looked up without regard to case)
  FieldType type = FieldType::Alpha;
  int size = 0;  // width of an Alpha field
};

struct IndexDef {
  std::string name;                 // secondary index name
  std::vector<std::string> fields;  // its fields, in order
  bool unique = false;
};

// The layout of a table: its fields, its primary key (the leading fields of
// the primary index, unique) and its secondary indexes.
struct TableDef {
  std::vector<FieldDef> fields;
  std::vector<std::string> primaryKey;
  std::vector<IndexDef> indexes;
};

// A key value of a key search: text or integer.
using KeyValue = std::variant<std::string, int64_t>;

class Session;
class TableCursor;  // the engine's open cursor (implementation)

// A named handle on one local table (TTable).
class Table {
 public:
  // The session is found by name when the table opens (the window's tables
  // exist before the data module that holds their session).
  explicit Table(std::string name, std::string sessionName = "Sessao1");
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const std::string& name() const { return name_; }

  // Binding. Changing the database or table name of an open table raises
  // EDBEngineError. Setting the index name of an open table switches the
  // index, the current record staying current. Empty names unbind.
  void setDatabaseName(const std::string& db);
  void setTableName(const std::string& table);
  void setIndexName(const std::string& index);
  // Selects the index by its fields ("Estacao;Codigo"): the primary index or
  // the secondary index with exactly these fields. Setting one of the two
  // clears the other.
  void setIndexFieldNames(const std::string& fields);
  const std::string& indexFieldNames() const { return indexFieldNames_; }
  const std::string& databaseName() const { return databaseName_; }
  const std::string& tableName() const { return tableName_; }
  const std::string& indexName() const { return indexName_; }
  // The Windows path of the bound table file (for messages), e.g.
  // "C:\VITRALON\DADOS\Clientes.DB".
  std::string windowsPath() const;

  void open();
  void close();  // a pending edit or append is posted first
  bool active() const;

  int recordCount();
  void first();
  void next();
  bool eof() const;
  // Moves by `delta` records (negative: backwards) and fires afterScroll once.
  void moveBy(int delta);
  // For views: the position of the current record (1-based, 0 when empty)
  // and the text of one field for `count` records from record `firstRecNo`
  // on, in the order of the current index; the cursor does not move.
  int recNo();
  std::vector<std::string> fieldValues(std::string_view field, int firstRecNo, int count);

  // A field of the open table, taken once by name and then read and written
  // without looking the name up again: a walk takes its fields after the
  // table opens, not on every record. It reads and writes the current record
  // (or the pending edit / append buffer) of the table it came from. It is
  // valid while the table stays open: after a close (and a new open, or a
  // rebinding) take it again; an older one raises EDBEngineError. Switching
  // the index keeps it valid.
  class FieldRef {
   public:
    const std::string& name() const;
    bool isNull() const;
    std::string asString() const;                    // pt-BR text; null -> ""
    int32_t asInteger() const;                       // null -> 0
    double asFloat() const;                          // null -> 0
    void setString(const std::string& value) const;  // "" stores a blank
    void setInteger(int64_t value) const;
    void setFloat(double value) const;
    void clear() const;

   private:
    friend class Table;
    FieldRef(Table& table, int index, uint64_t opening) : table_(&table), index_(index), opening_(opening) {}
    TableCursor& cursor() const;
    Table* table_;
    int index_;
    uint64_t opening_;  // the opening of the table it was taken from
  };

  // The field of that name (without regard to case); EFieldNotFound when
  // the table has none. The table must be open.
  FieldRef field(std::string_view name);
  bool fieldExists(std::string_view name);  // open or closed

  // The same by name, for one-off reads and writes: each call looks the name
  // up as field() does.
  bool isNull(std::string_view name) { return field(name).isNull(); }
  std::string asString(std::string_view name) { return field(name).asString(); }
  int32_t asInteger(std::string_view name) { return field(name).asInteger(); }
  double asFloat(std::string_view name) { return field(name).asFloat(); }
  void setString(std::string_view name, const std::string& value) { field(name).setString(value); }
  void setInteger(std::string_view name, int64_t value) { field(name).setInteger(value); }
  void setFloat(std::string_view name, double value) { field(name).setFloat(value); }
  void clearField(std::string_view name) { field(name).clear(); }

  void edit();
  void append();
  void post();  // fires afterPost
  void cancel();
  void remove();         // Delete: the cursor then stands on the record that followed
  bool editing() const;  // in edit or append state

  // Key search on the current index: the values are matched against its
  // leading fields. A pending edit is posted first. True and the cursor
  // moves on a match; false and the cursor stays otherwise.
  bool findKey(const std::vector<KeyValue>& values);

  // Deletes every record; the table may be open or closed.
  void emptyTable();
  // On the open, emptied table: what is posted until the table is closed or
  // flushed is one transaction, with the secondary indexes built afterwards
  // rather than record by record (docs/storage.md). Key searches on the
  // current index keep working. Does nothing in a simulation or when the
  // table holds records.
  void beginRefill();
  // On the open table in its primary order, walked to edit or delete its
  // records: the same single transaction, with every secondary index built
  // at its end; the walk in that order goes on without them.
  void beginRewrite();

  // The check a repair makes before it deletes or replaces records in the
  // bound table (open or closed): SQLite's quick check of the file, every
  // index holding one entry per record, the ordering fields holding only
  // values of their types, the alpha widths of the description fitting the
  // stored values. Raises EDBEngineError "Arquivo de tabela inválido ou
  // danificado: PATH (what is wrong)" or EConvertError for a value of a
  // foreign type; changes nothing.
  void verify();

  // The save-changes call: when it returns, what was posted is on disk.
  void flushBuffers();

  // The layout of the open (or bound) table.
  TableDef tableDef();

  // Events.
  std::function<void(Table&)> afterPost;
  std::function<void(Table&)> afterScroll;

 private:
  std::string name_, sessionName_;
  std::string databaseName_, tableName_, indexName_, indexFieldNames_;
  std::unique_ptr<TableCursor> cursor_;
  friend class TableCursor;
};

// A local SQL statement object (TQuery) bound to a database name.
class Query {
 public:
  explicit Query(std::string name, std::string sessionName = "Sessao1");
  ~Query();
  const std::string& name() const { return name_; }
  void setDatabaseName(const std::string& db) { databaseName_ = db; }
  const std::string& databaseName() const { return databaseName_; }
  void setSQL(const std::string& sql) { sql_ = sql; }
  const std::string& sql() const { return sql_; }
  void close() {}
  // Runs the statement (no result set) on the tables of the database's
  // directory; table names resolve to the table files without regard to case.
  // Returns the number of rows changed.
  int execSQL();

 private:
  std::string name_, sessionName_, databaseName_, sql_;
};

// The engine session (Sessao1): resolves database names to directories
// through the aliases of platform.ini at the root of drive C.
class Session {
 public:
  // Registers the session under its name for the tables that name it.
  explicit Session(std::string name);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // The live session of that name, or nullptr.
  static Session* find(const std::string& name);
  const std::string& name() const { return name_; }
  std::string netFileDir = "C:\\VITRALON";
  std::string privateDir = "C:\\VITRALON";

  // The directory (Windows form) a database name stands for: an alias of
  // platform.ini, or the name itself when it is a path. Raises
  // EAliasNotFound for an unknown alias or a missing directory.
  std::string databaseDirectory(const std::string& databaseName) const;
  // Reloads platform.ini (the aliases are read on first use).
  void reloadConfiguration();
  // Closes every open table of the session (a pending edit is cancelled,
  // grouped posts are committed), so that what was posted is on disk.
  void closeAll();
  // Commits the grouped posts of every open table and lets go of the read
  // locks that walks hold between calls, leaving the tables open. Call it
  // when the event loop goes idle and from the error report, so that other
  // programs are not kept waiting on an idle window.
  void flushAll() noexcept;
  // Open tables register here so that closeAll reaches them.
  void registerTable(Table* t);
  void unregisterTable(Table* t);

  // Creates a table file (used by the sample installation and the tests;
  // the system itself never creates tables). Overwrites an existing file.
  static void createTable(const std::string& directoryWin, const std::string& tableName, const TableDef& def);

 private:
  std::string name_;
  mutable std::optional<std::map<std::string, std::string>> aliases_;
  std::vector<Table*> open_;
};

}  // namespace cg
