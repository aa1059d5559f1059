// What the driver reports of the server rows it changes: the sink, the
// execute-direct statements read ahead, and the row-by-row writer.
//
// An execute-direct UPDATE is read ahead by a SELECT of the same condition
// in the statement's transaction. Its literals become parameters, each cast
// to the type the literal itself has (a text to VARCHAR of the connection's
// character set, a whole number to INTEGER or BIGINT, a decimal to
// NUMERIC(18,s), a number with an exponent to DOUBLE PRECISION), so that the
// condition means exactly what it means in the statement and the SELECT
// stays prepared for every statement of the same shape: the book codes and
// the component codes send hundreds of thousands of them.
#include "data/sql/changes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <unordered_map>

#include "data/sql/firebird.h"
#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/faults.h"

namespace cg {

namespace {

ServerChangeSink* gSink = nullptr;

using Prepared = SQLConnectionImpl::Prepared;
using Transaction = SQLConnectionImpl::Transaction;

SQLValue valueOf(std::optional<std::string_view> v) { return v ? SQLValue(std::string(*v)) : std::nullopt; }

// A name as the server holds it, quoted so that it means that name only.
std::string ident(const std::string& name) {
  std::string out = "\"";
  for (char ch : name) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

std::string joinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + ident(n);
  return out;
}

// ---------------------------------------------------------------------------
// Reading an execute-direct statement.

struct Token {
  enum Kind { Word, Name, Text, Number, Symbol } kind;
  std::string text;  // Word: upper case; Name: unquoted; Text: the literal's value; else as written
  size_t begin, end;
};

bool wordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// Splits the statement into tokens; nullopt for anything this reading does
// not know (comments, parameters, a terminator, q-quoted texts, bytes
// outside ASCII outside a literal).
std::optional<std::vector<Token>> tokenize(const std::string& s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    size_t b = i;
    if (static_cast<unsigned char>(c) <= 32) {
      ++i;
    } else if (wordStart(c)) {
      while (i < s.size() && wordChar(s[i])) ++i;
      if (i < s.size() && s[i] == '\'' && i - b == 1 && (c == 'q' || c == 'Q')) return std::nullopt;
      out.push_back({Token::Word, AsciiUpper(s.substr(b, i - b)), b, i});
    } else if (c == '"' || c == '\'') {
      std::string v;
      for (++i;; ++i) {
        if (i >= s.size()) return std::nullopt;
        if (s[i] == c) {
          if (i + 1 < s.size() && s[i + 1] == c) {
            v += c;
            ++i;
            continue;
          }
          ++i;
          break;
        }
        v += s[i];
      }
      out.push_back({c == '"' ? Token::Name : Token::Text, v, b, i});
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]));) ++i;
      if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return std::nullopt;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      }
      if (i < s.size() && wordChar(s[i])) return std::nullopt;
      out.push_back({Token::Number, s.substr(b, i - b), b, i});
    } else if ((c == '-' && i + 1 < s.size() && s[i + 1] == '-') ||
               (c == '/' && i + 1 < s.size() && s[i + 1] == '*')) {
      return std::nullopt;
    } else if (std::string_view("=<>!^~+-*/|(),.").find(c) != std::string_view::npos) {
      out.push_back({Token::Symbol, std::string(1, c), b, ++i});
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// The value a SET expression gives, when it is a plain literal.
struct Literal {
  bool is = false;
  bool text = false;  // a quoted text (else a number or NULL)
  SQLValue value;
};

struct ParsedUpdate {
  std::string table;
  std::vector<std::string> columns;
  std::vector<Literal> literals;
  std::vector<Token> tokens;
  size_t where = 0;  // first token of the condition; tokens.size() when none
};

bool isWord(const Token& t, std::string_view w) { return t.kind == Token::Word && t.text == w; }

// UPDATE <table> SET <column> = <expression> [, ...] [WHERE <condition>],
// nothing else.
std::optional<ParsedUpdate> parseUpdate(const std::string& sql) {
  auto tokens = tokenize(sql);
  if (!tokens) return std::nullopt;
  const std::vector<Token>& t = *tokens;
  auto name = [&](size_t i) {
    return i < t.size() && (t[i].kind == Token::Word || t[i].kind == Token::Name);
  };
  if (t.size() < 6 || !isWord(t[0], "UPDATE") || !name(1) || !isWord(t[2], "SET")) return std::nullopt;
  ParsedUpdate p;
  p.table = t[1].text;
  size_t i = 3;
  // Words that would make the statement change other rows than its
  // condition selects, or more than rows.
  auto banned = [](const Token& tok) {
    return isWord(tok, "PLAN") || isWord(tok, "ORDER") || isWord(tok, "ROWS") || isWord(tok, "RETURNING") ||
           isWord(tok, "SKIP");
  };
  for (;;) {
    if (!name(i) || i + 1 >= t.size() || t[i + 1].kind != Token::Symbol || t[i + 1].text != "=")
      return std::nullopt;
    p.columns.push_back(t[i].text);
    size_t b = i + 2, e = b;
    int depth = 0;
    for (; e < t.size(); ++e) {
      const Token& tok = t[e];
      if (tok.kind == Token::Symbol && tok.text == "(") ++depth;
      if (tok.kind == Token::Symbol && tok.text == ")" && --depth < 0) return std::nullopt;
      if (depth == 0 && ((tok.kind == Token::Symbol && tok.text == ",") || isWord(tok, "WHERE"))) break;
      if (depth == 0 && banned(tok)) return std::nullopt;
    }
    if (e == b || depth != 0) return std::nullopt;
    Literal lit;
    size_t n = e - b;
    if (n == 1 && t[b].kind == Token::Text) {
      lit = {true, true, t[b].text};
    } else if (n == 1 && t[b].kind == Token::Number) {
      lit = {true, false, t[b].text};
    } else if (n == 1 && isWord(t[b], "NULL")) {
      lit = {true, false, std::nullopt};
    } else if (n == 2 && t[b].kind == Token::Symbol && (t[b].text == "-" || t[b].text == "+") &&
               t[b + 1].kind == Token::Number) {
      lit = {true, false, (t[b].text == "-" ? "-" : "") + t[b + 1].text};
    }
    p.literals.push_back(lit);
    i = e;
    if (i < t.size() && t[i].kind == Token::Symbol && t[i].text == ",") {
      ++i;
      continue;
    }
    break;
  }
  if (i < t.size()) {
    if (!isWord(t[i], "WHERE") || i + 1 >= t.size()) return std::nullopt;
    int depth = 0;
    for (size_t k = i + 1; k < t.size(); ++k) {
      if (t[k].kind == Token::Symbol && t[k].text == "(") ++depth;
      if (t[k].kind == Token::Symbol && t[k].text == ")" && --depth < 0) return std::nullopt;
      if (depth == 0 && banned(t[k])) return std::nullopt;
    }
    if (depth != 0) return std::nullopt;
    p.where = i + 1;
  } else {
    p.where = t.size();
  }
  p.tokens = std::move(*tokens);
  return p;
}

bool fitsInt(std::string_view digits, int64_t max) {
  uint64_t v = 0;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return r.ec == std::errc() && r.ptr == digits.data() + digits.size() && v <= static_cast<uint64_t>(max);
}

// The condition with its literals as parameters of the literal's own type;
// `literalsKept` says whether some literal had to stay in the text.
std::string parameterisedCondition(const std::string& sql, const ParsedUpdate& p, const std::string& charset,
                                   std::vector<std::string>& params) {
  std::string out;
  size_t at = p.tokens[p.where].begin;
  for (size_t k = p.where; k < p.tokens.size(); ++k) {
    const Token& tok = p.tokens[k];
    out.append(sql, at, tok.begin - at);
    at = tok.end;
    std::string cast;
    if (tok.kind == Token::Text) {
      // A typed literal (DATE '...'), an introducer (_WIN1252 '...') or a
      // prefix glued to the quote (X'...') stays as written.
      const Token* prev = k > p.where ? &p.tokens[k - 1] : nullptr;
      bool typed = prev && prev->kind == Token::Word &&
                   (prev->end == tok.begin || prev->text[0] == '_' || prev->text == "DATE" ||
                    prev->text == "TIME" || prev->text == "TIMESTAMP");
      if (!typed && tok.text.size() <= 256)
        cast = "CAST(? AS VARCHAR(256) CHARACTER SET " + charset + ")";
      else if (!typed && tok.text.size() <= 8191)
        cast = "CAST(? AS VARCHAR(8191) CHARACTER SET " + charset + ")";
    } else if (tok.kind == Token::Number) {
      const std::string& n = tok.text;
      size_t dot = n.find('.');
      if (n.find_first_of("eE") != std::string::npos) {
        cast = "CAST(? AS DOUBLE PRECISION)";
      } else if (dot == std::string::npos) {
        if (fitsInt(n, INT32_MAX))
          cast = "CAST(? AS INTEGER)";
        else if (fitsInt(n, INT64_MAX))
          cast = "CAST(? AS BIGINT)";
      } else if (n.size() - 1 <= 18) {
        cast = "CAST(? AS NUMERIC(18," + std::to_string(n.size() - dot - 1) + "))";
      }
    }
    if (cast.empty()) {
      out.append(sql, tok.begin, tok.end - tok.begin);
    } else {
      out += cast;
      params.push_back(tok.text);
    }
  }
  return out;
}

// Whether a literal set into a column reads back as exactly its own text.
bool readsBackAsWritten(const Literal& lit, const SQLColumn& column) {
  if (!lit.value) return true;  // NULL
  const std::string& v = *lit.value;
  switch (column.type) {
    case SQLFieldType::String:
      return lit.text && column.size > 0 && v.size() <= static_cast<size_t>(column.size);
    case SQLFieldType::Integer:
    case SQLFieldType::SmallInt:
    case SQLFieldType::BigInt: {
      std::string_view d = v;
      if (!d.empty() && d[0] == '-') d.remove_prefix(1);
      return !d.empty() && d.size() <= 18 && std::all_of(d.begin(), d.end(), ::isdigit) &&
             (d[0] != '0' || (d.size() == 1 && v.size() == 1));
    }
    default:
      return false;
  }
}

}  // namespace

void SetServerChangeSink(ServerChangeSink* sink) { gSink = sink; }
ServerChangeSink* CurrentServerChangeSink() { return gSink; }

// ---------------------------------------------------------------------------

struct SQLConnectionImpl::ChangeCache {
  struct Table {
    std::vector<std::string> primaryKey;  // empty when none
    std::vector<std::string> columns;     // every column, in order; empty: no such table
  };
  std::unordered_map<std::string, Table> tables;
  // Prepared statements by text; null: a shape the server would not
  // prepare with parameters.
  std::unordered_map<std::string, std::unique_ptr<Prepared>> statements;

  const Table& table(SQLConnectionImpl& c, Transaction& t, const std::string& name);
  Prepared& statement(SQLConnectionImpl& c, Transaction& t, const std::string& sql) {
    auto& p = statements[sql];
    if (!p) p = std::make_unique<Prepared>(c, t, sql);
    return *p;
  }
};

void SQLConnectionImpl::ChangeCacheDelete::operator()(ChangeCache* p) const { delete p; }

SQLConnectionImpl::ChangeCache& SQLConnectionImpl::changeCache() {
  if (!changeCache_) changeCache_.reset(new ChangeCache);
  return *changeCache_;
}

namespace {

std::vector<std::string> names(Prepared& q, Transaction& t, const std::string& table) {
  std::vector<std::string> out;
  q.bind(0, table);
  q.query(t, [&](const SQLRowView& row) {
    std::string n(row[0].value_or(""));
    while (!n.empty() && n.back() == ' ') n.pop_back();
    out.push_back(n);
  });
  return out;
}

}  // namespace

// The primary key from the system tables; every column in field order.
const SQLConnectionImpl::ChangeCache::Table& SQLConnectionImpl::ChangeCache::table(SQLConnectionImpl& c,
                                                                                   Transaction& t,
                                                                                   const std::string& name) {
  auto it = tables.find(name);
  if (it != tables.end()) return it->second;
  Table info;
  info.primaryKey = names(statement(c, t,
                                    "SELECT S.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS K "
                                    "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = K.RDB$INDEX_NAME "
                                    "WHERE K.RDB$RELATION_NAME = ? AND K.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
                                    "ORDER BY S.RDB$FIELD_POSITION"),
                          t, name);
  info.columns = names(statement(c, t,
                                 "SELECT RDB$FIELD_NAME FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = ? "
                                 "ORDER BY RDB$FIELD_POSITION"),
                       t, name);
  return tables.emplace(name, std::move(info)).first->second;
}

int SQLConnectionImpl::executeReported(const std::string& sql, Transaction* within) {
  std::optional<ParsedUpdate> p = parseUpdate(sql);
  if (!p) throw ESQLError("Instrução não registrável no histórico: "_cp.data() + sql);
  faults::serverWriting();
  std::optional<Transaction> own;
  Transaction& t = within ? *within : own.emplace(*this);
  ChangeCache& cache = changeCache();
  const ChangeCache::Table& info = cache.table(*this, t, p->table);
  const std::vector<std::string>& keyColumns = info.primaryKey.empty() ? info.columns : info.primaryKey;
  const size_t nk = keyColumns.size(), nc = p->columns.size();

  // The rows the statement will change: their place, key and the values of
  // the columns it sets.
  std::string head = "SELECT RDB$DB_KEY, " + joinNames(keyColumns) + (nk ? ", " : "") +
                     joinNames(p->columns) + " FROM " + ident(p->table);
  std::vector<std::string> params;
  Prepared* ahead = nullptr;
  std::unique_ptr<Prepared> once;
  if (!info.columns.empty()) {
    std::string select = head;
    if (p->where < p->tokens.size())
      select += " WHERE " + parameterisedCondition(sql, *p, target_.charset, params);
    auto found = cache.statements.find(select);
    if (found == cache.statements.end()) {
      try {
        found = cache.statements.emplace(select, std::make_unique<Prepared>(*this, t, select)).first;
      } catch (const EConnectionError&) {
        throw;
      } catch (const ESQLError&) {
        found = cache.statements.emplace(select, nullptr).first;
      }
    }
    ahead = found->second.get();
    if (!ahead) {  // the condition as written, prepared for this statement alone
      params.clear();
      std::string verbatim = head;
      if (p->where < p->tokens.size()) verbatim += " WHERE " + sql.substr(p->tokens[p->where].begin);
      try {
        once = std::make_unique<Prepared>(*this, t, verbatim);
      } catch (const EConnectionError&) {
        throw;
      } catch (const ESQLError&) {
      }
      ahead = once.get();
    }
  }
  if (!ahead) {
    // Let the server say what is wrong with the statement itself; one it
    // takes but that cannot be read ahead is not sent.
    check(sql);
    throw ESQLError("Instrução não registrável no histórico: "_cp.data() + sql);
  }

  // Sets the literal values of `p` into the rows at `places`: up to
  // kPlacesPerStatement rows a statement (the server fetches them by their
  // place, in their order in the file), the list padded to 1, 8, 64 or 512
  // places so that few statements are prepared. More than one statement runs
  // under a savepoint: the whole is undone when a part fails, as a single
  // statement would be. Returns the rows written.
  auto writeAt = [&](const std::vector<const std::string*>& places) -> int {
    constexpr size_t kPlacesPerStatement = 512;
    if (places.empty()) return 0;
    std::string prefix = "UPDATE " + ident(p->table) + " SET ";
    for (size_t k = 0; k < p->columns.size(); ++k) prefix += (k ? ", " : "") + ident(p->columns[k]) + " = ?";
    prefix += " WHERE RDB$DB_KEY IN (";
    const bool several = places.size() > kPlacesPerStatement;
    if (several) run("SAVEPOINT CG_LINHAS", t);
    int written = 0;
    try {
      for (size_t at = 0; at < places.size(); at += kPlacesPerStatement) {
        const size_t n = std::min(kPlacesPerStatement, places.size() - at);
        size_t width = 1;
        while (width < n) width *= 8;
        std::string text = prefix;
        for (size_t i = 0; i < width; ++i) text += i ? ", ?" : "?";
        Prepared& update = changeCache().statement(*this, t, text + ")");
        int b = 0;
        for (const Literal& lit : p->literals)
          update.bind(b++, lit.value ? std::optional<std::string_view>(*lit.value) : std::nullopt);
        for (size_t i = 0; i < width; ++i) update.bindBinary(b++, *places[at + std::min(i, n - 1)]);
        written += update.execute(t);
      }
    } catch (const EConnectionError&) {
      throw;
    } catch (...) {
      if (several) {
        try {
          run("ROLLBACK TO SAVEPOINT CG_LINHAS", t);
        } catch (const std::exception&) {
        }
      }
      throw;
    }
    if (several) run("RELEASE SAVEPOINT CG_LINHAS", t);
    return written;
  };

  struct Row {
    std::string dbKey;
    std::vector<SQLValue> key, before, after;
  };
  std::vector<Row> rows;
  for (size_t i = 0; i < params.size(); ++i) ahead->bind(static_cast<int>(i), params[i]);
  ahead->query(t, [&](const SQLRowView& v) {
    Row r;
    r.dbKey = std::string(v[0].value_or(""));
    for (size_t k = 0; k < nk; ++k) r.key.push_back(valueOf(v[1 + k]));
    for (size_t k = 0; k < nc; ++k) r.before.push_back(valueOf(v[1 + nk + k]));
    rows.push_back(std::move(r));
  });

  // The values after: the literals themselves when they read back as
  // written, otherwise the rows read again where they lie.
  const std::vector<SQLColumn>& described = ahead->columns();
  bool literal = true;
  for (size_t k = 0; k < nc && literal; ++k)
    literal = p->literals[k].is && readsBackAsWritten(p->literals[k], described[1 + nk + k]);
  if (literal)
    for (Row& r : rows)
      for (size_t k = 0; k < nc; ++k) r.after.push_back(p->literals[k].value);
  bool setOnce = true;
  for (size_t k = 1; k < nc && setOnce; ++k)
    setOnce = std::find(p->columns.begin(), p->columns.begin() + k, p->columns[k]) == p->columns.begin() + k;
  int affected = 0;
  if (literal && setOnce) {
    // Only the rows whose values change are written, by their place: a row
    // that already holds the values gets no new version (none for the
    // server to clean up later, no lock held on it), and the statement
    // changes exactly the rows read ahead. It counts the rows it matched.
    std::vector<const std::string*> changing;
    for (const Row& r : rows)
      if (r.after != r.before) changing.push_back(&r.dbKey);
    affected = static_cast<int>(rows.size() - changing.size()) + writeAt(changing);
  } else {
    affected = run(sql, t);
  }
  if (!literal && !rows.empty()) {
    Prepared& again = cache.statement(
        *this, t, "SELECT " + joinNames(p->columns) + " FROM " + ident(p->table) + " WHERE RDB$DB_KEY = ?");
    for (Row& r : rows) {
      again.bindBinary(0, r.dbKey);
      again.query(t, [&](const SQLRowView& v) {
        for (size_t k = 0; k < nc; ++k) r.after.push_back(valueOf(v[k]));
      });
    }
  }

  for (Row& r : rows) {
    if (r.after.size() != nc) continue;  // no longer there
    ServerRowChange change;
    change.op = ServerRowChange::Op::Update;
    change.table = p->table;
    for (size_t k = 0; k < nc; ++k) {
      if (r.before[k] == r.after[k]) continue;
      // A column set twice counts once, with its last value.
      auto dup = std::find(change.columns.begin(), change.columns.end(), p->columns[k]);
      if (dup != change.columns.end()) {
        change.after[dup - change.columns.begin()] = r.after[k];
        continue;
      }
      change.columns.push_back(p->columns[k]);
      change.before.push_back(r.before[k]);
      change.after.push_back(r.after[k]);
    }
    if (change.columns.empty()) continue;
    change.keyColumns = keyColumns;
    change.key = std::move(r.key);
    t.report(change);
  }
  if (own) {
    own->commit();
    faults::wrote();
  }
  return affected;
}

// ---------------------------------------------------------------------------

struct ServerRowWriter::Impl {
  explicit Impl(SQLConnectionImpl& connection) : c(connection), tx(connection) {}
  SQLConnectionImpl& c;
  Transaction tx;
  std::unordered_map<std::string, std::unique_ptr<Prepared>> statements;

  Transaction& open() {
    if (!tx.active())
      throw EDatabaseError("A transação de gravação das linhas do servidor já terminou."_cp.data());
    return tx;
  }
  Prepared& statement(const std::string& sql) {
    auto& p = statements[sql];
    if (!p) p = std::make_unique<Prepared>(c, open(), sql);
    return *p;
  }
  const SQLConnectionImpl::ChangeCache::Table& table(const std::string& name) {
    const auto& info = c.changeCache().table(c, open(), name);
    if (info.columns.empty()) throw ESQLError("Tabela desconhecida no servidor: "_cp.data() + name);
    return info;
  }

  // The places (RDB$DB_KEY) and the values of `columns` of the rows whose
  // key is `key`.
  struct Found {
    std::string dbKey;
    std::vector<SQLValue> values;
  };
  std::vector<Found> find(const std::string& tableName, const std::vector<std::string>& keyColumns,
                          const std::vector<SQLValue>& key, const std::vector<std::string>& columns,
                          bool lock) {
    if (keyColumns.size() != key.size() || keyColumns.empty())
      throw EDatabaseError("A chave da linha do servidor não confere com os seus campos."_cp.data());
    std::string sql = "SELECT RDB$DB_KEY" + std::string(columns.empty() ? "" : ", ") + joinNames(columns) +
                      " FROM " + ident(tableName) + " WHERE ";
    for (size_t k = 0; k < keyColumns.size(); ++k)
      sql += (k ? " AND " : "") + ident(keyColumns[k]) + (key[k] ? " = ?" : " IS NULL");
    if (lock) sql += " WITH LOCK";
    Prepared& q = statement(sql);
    int at = 0;
    for (const SQLValue& v : key)
      if (v) q.bind(at++, *v);
    std::vector<Found> out;
    q.query(open(), [&](const SQLRowView& row) {
      Found f{std::string(row[0].value_or("")), {}};
      for (size_t i = 1; i < row.size(); ++i) f.values.push_back(valueOf(row[i]));
      out.push_back(std::move(f));
    });
    return out;
  }
  std::vector<SQLValue> at(const std::string& tableName, const std::string& dbKey,
                           const std::vector<std::string>& columns) {
    Prepared& q =
        statement("SELECT " + joinNames(columns) + " FROM " + ident(tableName) + " WHERE RDB$DB_KEY = ?");
    q.bindBinary(0, dbKey);
    std::vector<SQLValue> out;
    q.query(open(), [&](const SQLRowView& row) {
      for (const auto& v : row) out.push_back(valueOf(v));
    });
    return out;
  }
  void report(ServerRowChange&& change) { open().report(change); }
};

ServerRowWriter::ServerRowWriter(SQLConnection& connection)
    : impl_(std::make_unique<Impl>(connection.impl())) {}

ServerRowWriter::~ServerRowWriter() = default;

std::vector<std::string> ServerRowWriter::primaryKey(const std::string& table) {
  return impl_->table(table).primaryKey;
}

std::optional<std::vector<SQLValue>> ServerRowWriter::read(const std::string& table,
                                                           const std::vector<std::string>& keyColumns,
                                                           const std::vector<SQLValue>& key,
                                                           const std::vector<std::string>& columns) {
  auto found = impl_->find(table, keyColumns, key, columns, true);
  if (found.empty()) return std::nullopt;
  if (found.size() > 1)
    throw ESQLError("Mais de uma linha de "_cp.data() + table + " tem a chave procurada."_cp.data());
  return std::move(found[0].values);
}

int ServerRowWriter::update(const std::string& table, const std::vector<std::string>& keyColumns,
                            const std::vector<SQLValue>& key, const std::vector<std::string>& columns,
                            const std::vector<SQLValue>& values) {
  if (columns.size() != values.size() || columns.empty())
    throw EDatabaseError("Os valores da linha do servidor não conferem com os seus campos."_cp.data());
  faults::serverWriting();
  std::vector<std::string> read = keyColumns;
  read.insert(read.end(), columns.begin(), columns.end());
  auto found = impl_->find(table, keyColumns, key, read, false);
  std::string sql = "UPDATE " + ident(table) + " SET ";
  for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + ident(columns[i]) + " = ?";
  Prepared& u = impl_->statement(sql + " WHERE RDB$DB_KEY = ?");
  int changed = 0;
  for (const auto& row : found) {
    for (size_t i = 0; i < values.size(); ++i)
      u.bind(static_cast<int>(i), values[i] ? std::optional<std::string_view>(*values[i]) : std::nullopt);
    u.bindBinary(static_cast<int>(values.size()), row.dbKey);
    changed += u.execute(impl_->open());
    std::vector<SQLValue> after = impl_->at(table, row.dbKey, columns);
    ServerRowChange change;
    change.table = table;
    change.keyColumns = keyColumns;
    change.key.assign(row.values.begin(),
                      row.values.begin() + static_cast<std::ptrdiff_t>(keyColumns.size()));
    for (size_t i = 0; i < columns.size() && i < after.size(); ++i) {
      const SQLValue& before = row.values[keyColumns.size() + i];
      if (before == after[i]) continue;
      change.columns.push_back(columns[i]);
      change.before.push_back(before);
      change.after.push_back(after[i]);
    }
    if (!change.columns.empty()) impl_->report(std::move(change));
  }
  return changed;
}

void ServerRowWriter::insert(const std::string& table, const std::vector<std::string>& columns,
                             const std::vector<SQLValue>& values) {
  if (columns.size() != values.size() || columns.empty())
    throw EDatabaseError("Os valores da linha do servidor não conferem com os seus campos."_cp.data());
  faults::serverWriting();
  const auto& info = impl_->table(table);
  std::string sql = "INSERT INTO " + ident(table) + " (" + joinNames(columns) + ") VALUES (";
  for (size_t i = 0; i < columns.size(); ++i) sql += i ? ", ?" : "?";
  Prepared& q = impl_->statement(sql + ") RETURNING " + joinNames(info.columns));
  for (size_t i = 0; i < values.size(); ++i)
    q.bind(static_cast<int>(i), values[i] ? std::optional<std::string_view>(*values[i]) : std::nullopt);
  ServerRowChange change;
  change.op = ServerRowChange::Op::Insert;
  change.table = table;
  change.keyColumns = info.primaryKey.empty() ? info.columns : info.primaryKey;
  change.columns = info.columns;
  q.query(impl_->open(), [&](const SQLRowView& row) {
    for (const auto& v : row) change.after.push_back(valueOf(v));
  });
  for (const std::string& k : change.keyColumns) {
    size_t i = std::find(info.columns.begin(), info.columns.end(), k) - info.columns.begin();
    change.key.push_back(i < change.after.size() ? change.after[i] : std::nullopt);
  }
  impl_->report(std::move(change));
}

int ServerRowWriter::remove(const std::string& table, const std::vector<std::string>& keyColumns,
                            const std::vector<SQLValue>& key) {
  faults::serverWriting();
  const auto& info = impl_->table(table);
  auto found = impl_->find(table, keyColumns, key, info.columns, false);
  Prepared& d = impl_->statement("DELETE FROM " + ident(table) + " WHERE RDB$DB_KEY = ?");
  int removed = 0;
  for (auto& row : found) {
    d.bindBinary(0, row.dbKey);
    if (d.execute(impl_->open()) == 0) continue;
    ++removed;
    ServerRowChange change;
    change.op = ServerRowChange::Op::Delete;
    change.table = table;
    change.keyColumns = info.primaryKey.empty() ? info.columns : info.primaryKey;
    for (const std::string& k : change.keyColumns) {
      size_t i = std::find(info.columns.begin(), info.columns.end(), k) - info.columns.begin();
      change.key.push_back(row.values[i]);
    }
    change.columns = info.columns;
    change.before = std::move(row.values);
    impl_->report(std::move(change));
  }
  return removed;
}

void ServerRowWriter::commit() {
  impl_->open().commit();
  faults::wrote();
}

}  // namespace cg
