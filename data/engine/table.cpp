// Table objects: binding, the open cursor's lifetime and the events.
#include <filesystem>

#include "data/engine/cursor.h"
#include "data/engine/engine.h"
#include "data/engine/verify.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {
using namespace engine;
namespace fs = std::filesystem;

namespace {

struct Located {
  Session* session;
  std::string windowsPath;
  fs::path file;
};

}  // namespace

// Resolves the bound names to the table file; raises the engine's errors.
static Located locate(const Table& t, const std::string& sessionName, bool checkFile = true) {
  if (t.tableName().empty())
    throw EDBEngineError(std::string("Nome da tabela não definido em "_cp) + t.name() + ".");
  if (t.databaseName().empty())
    throw EDBEngineError(std::string("Banco de dados não definido em "_cp) + t.name() + " (" + t.tableName() +
                         ").");
  Session* s = Session::find(sessionName);
  if (!s) throw EDBEngineError(std::string("Sessão não encontrada: "_cp) + sessionName);
  std::string dir = s->databaseDirectory(t.databaseName());
  std::string win = joinWindows(dir, withExtension(t.tableName()));
  fs::path file = tableFile(DriveC::resolve(dir), t.tableName());
  if (!checkFile) return {s, win, file};
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    // A folder or file the user may not read is there, not missing.
    if (ec == std::errc::permission_denied)
      throw EDBEngineError(std::string("Sem permissão para ler a tabela ou a sua pasta: "_cp) + win);
    throw ETableNotFound(std::string("Tabela não encontrada: "_cp) + win);
  }
  return {s, win, file};
}

Table::Table(std::string name, std::string sessionName)
    : name_(std::move(name)), sessionName_(std::move(sessionName)) {}

Table::~Table() {
  if (!cursor_) return;
  try {
    close();
  } catch (...) {
  }
  if (cursor_) {
    cursor_->tryCommit();
    Session* s = cursor_->session();
    cursor_.reset();
    if (s) s->unregisterTable(this);
  }
}

void Table::setDatabaseName(const std::string& db) {
  if (cursor_ && db != databaseName_)
    throw EDBEngineError(std::string("Não é possível alterar o banco de dados de uma tabela aberta: "_cp) +
                         name_ + " (" + cursor_->path() + ")");
  databaseName_ = db;
}

void Table::setTableName(const std::string& table) {
  if (cursor_ && table != tableName_)
    throw EDBEngineError(std::string("Não é possível alterar o nome de uma tabela aberta: "_cp) + name_ +
                         " (" + cursor_->path() + ")");
  tableName_ = table;
}

void Table::setIndexName(const std::string& index) {
  if (cursor_) {
    if (cursor_->mode() != TableCursor::Mode::Browse) post();
    cursor_->selectIndex(index, "");
  }
  indexName_ = index;
  indexFieldNames_.clear();
}

void Table::setIndexFieldNames(const std::string& fields) {
  if (cursor_) {
    if (cursor_->mode() != TableCursor::Mode::Browse) post();
    cursor_->selectIndex("", fields);
  }
  indexFieldNames_ = fields;
  indexName_.clear();
}

std::string Table::windowsPath() const {
  if (cursor_) return cursor_->path();
  try {
    return locate(*this, sessionName_, false).windowsPath;
  } catch (const Exception&) {
    return joinWindows(databaseName_, withExtension(tableName_));
  }
}

void Table::open() {
  if (cursor_) return;
  Located where = locate(*this, sessionName_);
  cursor_ = std::make_unique<TableCursor>(*this, where.session, where.windowsPath, where.file, indexName_,
                                          indexFieldNames_);
  where.session->registerTable(this);
  cursor_->first();
  if (afterScroll) afterScroll(*this);
}

void Table::close() {
  if (!cursor_) return;
  if (cursor_->mode() != TableCursor::Mode::Browse) post();
  // What was posted through the table is on disk when it is closed.
  cursor_->commit();
  Session* s = cursor_->session();
  cursor_.reset();
  if (s) s->unregisterTable(this);
}

bool Table::active() const { return cursor_ != nullptr; }

namespace {
TableCursor& need(const std::unique_ptr<TableCursor>& c, const std::string& name) {
  if (!c) throw EDBEngineError(std::string("Operação impossível com a tabela fechada: "_cp) + name);
  return *c;
}
}  // namespace

int Table::recordCount() { return need(cursor_, name_).recordCount(); }

void Table::first() {
  TableCursor& c = need(cursor_, name_);
  if (c.mode() != TableCursor::Mode::Browse) post();
  c.first();
  if (afterScroll) afterScroll(*this);
}

void Table::next() {
  TableCursor& c = need(cursor_, name_);
  if (c.mode() != TableCursor::Mode::Browse) post();
  if (c.next() && afterScroll) afterScroll(*this);
}

bool Table::eof() const { return cursor_ ? cursor_->eof() : true; }

void Table::moveBy(int delta) {
  TableCursor& c = need(cursor_, name_);
  if (c.mode() != TableCursor::Mode::Browse) post();
  bool moved = false;
  for (; delta > 0; --delta) {
    if (!c.next()) break;
    moved = true;
  }
  for (; delta < 0; ++delta) {
    if (!c.prior()) break;
    moved = true;
  }
  if (moved && afterScroll) afterScroll(*this);
}

int Table::recNo() { return cursor_ ? cursor_->recNo() : 0; }

std::vector<std::string> Table::fieldValues(std::string_view field, int firstRecNo, int count) {
  return need(cursor_, name_).fieldValues(field, firstRecNo, count);
}

bool Table::fieldExists(std::string_view name) {
  if (cursor_) return cursor_->fieldIndex(name) >= 0;
  for (const auto& f : tableDef().fields)
    if (equalsNoCase(f.name, name)) return true;
  return false;
}

Table::FieldRef Table::field(std::string_view name) {
  TableCursor& c = need(cursor_, name_);
  return FieldRef(*this, c.requireField(name), c.opening());
}

TableCursor& Table::FieldRef::cursor() const {
  TableCursor& c = need(table_->cursor_, table_->name_);
  if (c.opening() != opening_)
    throw EDBEngineError(std::string("Campo obtido antes da última abertura da tabela: "_cp) + table_->name_ +
                         " (" + c.path() + ")");
  return c;
}

const std::string& Table::FieldRef::name() const { return cursor().def().fields[index_].name; }

bool Table::FieldRef::isNull() const { return cursor().value(index_).kind == Value::Null; }

std::string Table::FieldRef::asString() const {
  TableCursor& c = cursor();
  return c.codec(index_).asString(c.value(index_));
}

int32_t Table::FieldRef::asInteger() const {
  TableCursor& c = cursor();
  return c.codec(index_).asInteger(c.value(index_));
}

double Table::FieldRef::asFloat() const {
  TableCursor& c = cursor();
  return c.codec(index_).asFloat(c.value(index_));
}

void Table::FieldRef::setString(const std::string& value) const {
  TableCursor& c = cursor();
  c.codec(index_).fromString(c.editValue(index_), value);
}

void Table::FieldRef::setInteger(int64_t value) const {
  TableCursor& c = cursor();
  c.codec(index_).fromInteger(c.editValue(index_), value);
}

void Table::FieldRef::setFloat(double value) const {
  TableCursor& c = cursor();
  c.codec(index_).fromFloat(c.editValue(index_), value);
}

void Table::FieldRef::clear() const { cursor().editValue(index_).setNull(); }

void Table::edit() { need(cursor_, name_).edit(); }

void Table::append() { need(cursor_, name_).append(); }

void Table::post() {
  TableCursor& c = need(cursor_, name_);
  if (c.mode() == TableCursor::Mode::Browse) return;
  c.post();
  if (afterPost) afterPost(*this);
}

void Table::cancel() { need(cursor_, name_).cancel(); }

void Table::remove() {
  TableCursor& c = need(cursor_, name_);
  c.remove();
  if (c.hasCurrent() && afterScroll) afterScroll(*this);
}

bool Table::editing() const { return cursor_ && cursor_->mode() != TableCursor::Mode::Browse; }

bool Table::findKey(const std::vector<KeyValue>& values) {
  TableCursor& c = need(cursor_, name_);
  if (c.mode() != TableCursor::Mode::Browse) post();
  if (!c.findKey(values)) return false;
  if (afterScroll) afterScroll(*this);
  return true;
}

void Table::emptyTable() {
  if (cursor_) {
    cursor_->emptyTable();
    return;
  }
  Located where = locate(*this, sessionName_);
  TableCursor c(*this, where.session, where.windowsPath, where.file, "", "");
  c.emptyTable();
}

void Table::verify() {
  if (cursor_) {
    engine::verifyFile(cursor_->file(), cursor_->path());
    return;
  }
  Located where = locate(*this, sessionName_);
  engine::verifyFile(where.file, where.windowsPath);
}

void Table::beginRefill() { need(cursor_, name_).beginRefill(); }

void Table::beginRewrite() { need(cursor_, name_).beginRewrite(); }

void Table::flushBuffers() {
  if (cursor_) cursor_->flush();
}

TableDef Table::tableDef() {
  if (cursor_) return cursor_->def();
  Located where = locate(*this, sessionName_);
  TableCursor c(*this, where.session, where.windowsPath, where.file, "", "");
  return c.def();
}

}  // namespace cg
