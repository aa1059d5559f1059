// SQLConnection and SQLDataSet: the parameter list, the transport read from
// platform.ini, and the attachment opened on first use.
#include <cctype>
#include <fstream>

#include "data/sql/changes.h"
#include "data/sql/firebird.h"
#include "data/sql/simulation.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/faults.h"
#include "platform/ini.h"
#include "platform/test_hooks.h"

namespace cg {

namespace {

[[noreturn]] void valorInvalido(const std::string& key, const std::string& value, std::string_view accepted) {
  throw EDatabaseError(std::string("Valor inválido em "_cp) + kPlatformIni +
                       std::string(", seção [sql]: "_cp) + key + " = " + value + ". " +
                       std::string(accepted));
}

}  // namespace

// A value the driver does not know is named, with its key, before anything
// reaches the server: taken for the default it would send the repair to a
// transport nobody configured.
SQLTransport ReadSQLTransport() {
  SQLTransport t;
  auto entries = ReadPlatformIniSection("sql");
  if (!entries) {
    if (std::optional<std::string> why = PlatformIniUnreadable())
      throw EDatabaseError(std::string("Não foi possível ler a seção [sql] de "_cp) + kPlatformIni + " (" +
                           *why + ").");
    return t;  // no file: the defaults
  }
  for (const auto& [key, value] : *entries) {
    if (EqualsNoCase(key, "transport")) {
      if (EqualsNoCase(value, "embedded"))
        t.embedded = true;
      else if (EqualsNoCase(value, "server"))
        t.embedded = false;
      else
        valorInvalido(key, value, "Use embedded ou server.");
    } else if (EqualsNoCase(key, "port")) {
      long port = 0;
      bool digits = !value.empty() && value.size() <= 5;
      for (char c : value) {
        if (c < '0' || c > '9') digits = false;
        if (digits) port = port * 10 + (c - '0');
      }
      if (!digits || port < 1 || port > 65535)
        valorInvalido(key, value, "A porta é um número de 1 a 65535."_cp);
      t.port = std::to_string(port);
    }
  }
  return t;
}

SQLTarget ResolveSQLTarget(const SQLConnection& connection) {
  SQLTarget target;
  SQLTransport transport = ReadSQLTransport();
  target.embedded = transport.embedded;

  // "host:C:\path" names a server and a file in the server's file system;
  // the server runs on this machine, so the file is under drive C.
  std::string database = connection.param("Database");
  std::string path = database;
  if (!DriveC::isWindowsPath(database)) {
    size_t colon = database.find(':');
    if (colon != std::string::npos && colon > 1) {
      target.host = database.substr(0, colon);
      path = database.substr(colon + 1);
    }
  }
  if (path.empty()) throw EConnectionError("O banco de dados do servidor não foi informado."_cp.data());
  target.file = DriveC::isWindowsPath(path) ? DriveC::resolve(path) : std::filesystem::path(path);
  if (target.host.empty()) target.host = "127.0.0.1";

  target.user = connection.param("User_Name");
  target.password = connection.param("Password");
  // "RoleName" is the placeholder the parameter list carries, not a role.
  std::string role = connection.param("RoleName");
  if (!role.empty() && !EqualsNoCase(role, "RoleName")) target.role = role;
  target.charset = connection.param("ServerCharSet");
  if (target.charset.empty()) target.charset = "WIN1252";
  std::string dialect = connection.param("SQLDialect");
  target.dialect = dialect == "1" ? 1 : 3;
  std::string isolation = connection.param("Interbase TransIsolation");
  target.readCommitted = isolation.empty() || EqualsNoCase(isolation, "ReadCommited") ||
                         EqualsNoCase(isolation, "ReadCommitted");
  target.waitOnLocks = !EqualsNoCase(connection.param("WaitOnLocks"), "False");

  if (target.embedded) {
    target.attachName = target.file.string();
  } else {
    std::string host = target.host;
    if (!transport.port.empty() && host.find('/') == std::string::npos) host += "/" + transport.port;
    target.attachName = host + ":" + target.file.string();
  }
  return target;
}

// ---------------------------------------------------------------------------

struct SQLConnection::GroupTransaction {
  explicit GroupTransaction(SQLConnectionImpl& c) : transaction(c) {}
  SQLConnectionImpl::Transaction transaction;
};

SQLConnection::SQLConnection(std::string name) : name_(std::move(name)) {}
SQLConnection::~SQLConnection() {
  EndServerSimulation(*this);
  dropGroup();
}

std::string SQLConnection::param(std::string_view name) const {
  for (const auto& [n, v] : params_)
    if (EqualsNoCase(n, name)) return v;
  return {};
}

void SQLConnection::setParam(std::string_view name, const std::string& value) {
  for (auto& [n, v] : params_) {
    if (EqualsNoCase(n, name)) {
      v = value;
      return;
    }
  }
  params_.emplace_back(std::string(name), value);
}

void SQLConnection::open() {
  if (impl_ && impl_->alive()) return;
  // A simulation lives in one transaction of one attachment: lost with it,
  // the run cannot go on as if its changes were there.
  if (simulating_)
    throw EConnectionError(
        "Conexão com o servidor de banco de dados perdida durante a simulação; nada foi alterado no servidor."_cp
            .data());
  dropGroup();
  impl_.reset();
  impl_ = std::make_unique<SQLConnectionImpl>(ResolveSQLTarget(*this), false);
  if (ServerChangeSink* sink = CurrentServerChangeSink()) sink->connected(*this);
}

void SQLConnection::createDatabase() {
  dropGroup();
  impl_.reset();
  SQLTarget target = ResolveSQLTarget(*this);
  // The server runs on this machine: its folder is ours to make either way.
  std::error_code ec;
  std::filesystem::create_directories(target.file.parent_path(), ec);
  impl_ = std::make_unique<SQLConnectionImpl>(target, true);
}

void SQLConnection::close() {
  dropGroup();
  impl_.reset();
}

bool SQLConnection::connected() const { return impl_ && impl_->alive(); }

uint64_t SQLConnection::serial() const { return connected() ? impl_->serial() : 0; }

SQLConnectionImpl& SQLConnection::impl() {
  open();
  return *impl_;
}

int SQLConnection::executeDirect(const std::string& sql) {
  SQLConnectionImpl& c = impl();
  if (!grouping_) return c.executeDirect(sql);
  if (!group_) {
    group_ = std::make_unique<GroupTransaction>(c);
    groupStatements_ = 0;
    groupStartMs_ = Clock::nowMs();
  }
  ++groupStatements_;
  try {
    return c.executeDirect(sql, &group_->transaction);
  } catch (...) {
    // A change sink that failed ended the group's transaction: what it held
    // is gone, and the next statement opens the next one.
    if (!group_->transaction.active()) dropGroup();
    throw;
  }
}

void SQLConnection::beginGroup() {
  dropGroup();
  grouping_ = true;
}

void SQLConnection::commitGroup() {
  if (!group_) return;
  // On an attachment that is gone the group went with it, and the call that
  // found out has said so.
  if (!impl_ || !impl_->alive()) return dropGroup();
  try {
    group_->transaction.commit();
  } catch (...) {
    dropGroup();
    throw;
  }
  faults::wrote();
  dropGroup();  // committed: nothing left to roll back
}

void SQLConnection::rollbackGroup() { dropGroup(); }

void SQLConnection::endGroup() {
  grouping_ = false;
  commitGroup();
}

StatementGroup::StatementGroup(SQLConnection& c, int statements, int64_t ms)
    : c_(c), statements_(statements), ms_(ms) {
  if (TestHooks::get().groupStatements > 0) statements_ = TestHooks::get().groupStatements;
  c_.beginGroup();
}

void SQLConnection::cancelGroup() {
  dropGroup();
  grouping_ = false;
}

int64_t SQLConnection::groupAgeMs() const { return group_ ? Clock::nowMs() - groupStartMs_ : 0; }

// Rolls back what the open group holds (nothing when its attachment is gone).
void SQLConnection::dropGroup() {
  if (group_) group_->transaction.rollback();  // on a dead attachment: only released
  group_.reset();
  groupStatements_ = 0;
}

void BeginServerSimulation(SQLConnection& c) {
  if (c.simulating_)
    throw EDatabaseError("Uma simulação já está em andamento na conexão "_cp.data() + c.name_ + ".");
  // What the open group holds belongs to the work before the simulation.
  c.commitGroup();
  c.impl().beginSimulation();
  c.simulating_ = true;
}

void EndServerSimulation(SQLConnection& c) noexcept {
  if (!c.simulating_) return;
  c.simulating_ = false;
  c.dropGroup();  // back to the group's savepoint
  if (c.impl_) c.impl_->endSimulation();
}

// ---------------------------------------------------------------------------

SQLDataSet::SQLDataSet(std::string name, SQLConnection& connection)
    : name_(std::move(name)), connection_(connection) {}

void SQLDataSet::setCommandText(const std::string& sql) {
  if (active_)
    throw EDatabaseError(name_ +
                         ": Não é possível realizar esta operação com o conjunto de dados aberto."_cp.data());
  commandText_ = sql;
}

void SQLDataSet::open() {
  if (active_) return;
  if (TrimBlanks(commandText_).empty())
    throw EDatabaseError(name_ + ": Nenhum comando SQL foi definido."_cp.data());
  connection_.impl().check(commandText_);
  active_ = true;
}

void SQLDataSet::close() { active_ = false; }

}  // namespace cg
