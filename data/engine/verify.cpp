#include "data/engine/verify.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "data/engine/values.h"
#include "platform/cp1252.h"

namespace cg::engine {

namespace {

[[noreturn]] void invalid(const std::string& windowsPath, const std::string& what) {
  throw EDBEngineError(std::string("Arquivo de tabela inválido ou danificado: "_cp) + windowsPath + " (" +
                       what + ")");
}

// SQLite's affinity of a declared column type, by its rules: INT, then
// CHAR/CLOB/TEXT, then BLOB or nothing, then REAL/FLOA/DOUB, else NUMERIC.
std::string affinityOf(const std::string& declared) {
  const std::string t = upperAscii(declared);
  auto has = [&](const char* part) { return t.find(part) != std::string::npos; };
  if (has("INT")) return "INTEGER";
  if (has("CHAR") || has("CLOB") || has("TEXT")) return "TEXT";
  if (t.empty() || has("BLOB")) return "BLOB";
  if (has("REAL") || has("FLOA") || has("DOUB")) return "REAL";
  return "NUMERIC";
}

std::string joined(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ";") + n;
  return s;
}

std::vector<std::string> indexColumns(sqlite3* db, const std::string& index, const std::string& windowsPath) {
  Stmt s(db, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno", windowsPath);
  s.bindText(1, index);
  StmtUse use(s);
  std::vector<std::string> cols;
  while (s.step()) cols.emplace_back(s.columnText(0));
  return cols;
}

bool sameNames(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](const auto& x, const auto& y) { return equalsNoCase(x, y); });
}

const FieldDef* fieldOf(const TableDef& def, const std::string& name) {
  for (const auto& f : def.fields)
    if (equalsNoCase(f.name, name)) return &f;
  return nullptr;
}

// The SQLite indexes the description calls for, with their columns.
struct SqlIndex {
  std::string name;
  std::vector<std::string> columns;
};
std::vector<SqlIndex> declaredIndexes(const FileLayout& l) {
  std::vector<SqlIndex> out;
  if (!l.def.primaryKey.empty()) out.push_back({primaryIndexName(l.dataTable), l.def.primaryKey});
  for (const auto& ix : l.def.indexes) {
    out.push_back({secondaryIndexName(l.dataTable, ix.name), orderedColumns(l.def, ix.fields)});
    if (ix.unique) out.push_back({secondaryIndexName(l.dataTable, ix.name) + "$u", ix.fields});
  }
  return out;
}

// A stored value of a column of the current row.
Value columnValue(Stmt& s, int c) {
  Value v;
  switch (s.columnType(c)) {
    case SQLITE_NULL:
      break;
    case SQLITE_INTEGER:
      v.setInt(s.columnInt(c));
      break;
    case SQLITE_FLOAT:
      v.setReal(s.columnReal(c));
      break;
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(s.get(), c);
      v.setBlob(std::string_view(static_cast<const char*>(p),
                                 static_cast<size_t>(sqlite3_column_bytes(s.get(), c))));
      break;
    }
    default:
      v.setText(s.columnText(c));
      break;
  }
  return v;
}

// The SQL condition that a stored value does not fit the field's type.
std::string foreignCondition(const FieldDef& f) {
  const std::string c = quoteId(f.name);
  switch (f.type) {
    case FieldType::Short:
      return "(typeof(" + c + ") NOT IN ('integer','null') OR " + c + " NOT BETWEEN -32768 AND 32767)";
    case FieldType::LongInt:
    case FieldType::AutoInc:
      return "(typeof(" + c + ") NOT IN ('integer','null') OR " + c +
             " NOT BETWEEN -2147483648 AND 2147483647)";
    case FieldType::Logical:
      return "(typeof(" + c + ") NOT IN ('integer','null') OR " + c + " NOT IN (0, 1))";
    case FieldType::Number:
    case FieldType::Money:
      return "typeof(" + c + ") NOT IN ('real','integer','null')";
    default:
      return "typeof(" + c + ") NOT IN ('text','null')";
  }
}

// An order-free digest of index entries: the count, and the sum of a hash
// of each entry (the record's rowid at column 0 and the values at the given
// columns, with their storage classes).
struct EntryDigest {
  int64_t entries = 0;
  uint64_t sum = 0;

  void add(const Stmt& s, const std::vector<int>& columns) {
    uint64_t h = mix(0x9E3779B97F4A7C15ULL ^ static_cast<uint64_t>(s.columnInt(0)));
    for (int c : columns) {
      const int type = s.columnType(c);
      h = mix(h ^ static_cast<uint64_t>(type));
      switch (type) {
        case SQLITE_NULL:
          break;
        case SQLITE_INTEGER:
          h = mix(h ^ static_cast<uint64_t>(s.columnInt(c)));
          break;
        case SQLITE_FLOAT: {
          const double d = s.columnReal(c);
          uint64_t bits;
          std::memcpy(&bits, &d, sizeof bits);
          h = mix(h ^ bits);
          break;
        }
        default: {
          const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), c));
          const int n = sqlite3_column_bytes(s.get(), c);
          uint64_t f = 0xCBF29CE484222325ULL;
          for (int i = 0; i < n; ++i) f = (f ^ p[i]) * 0x100000001B3ULL;
          h = mix(h ^ f ^ static_cast<uint64_t>(n));
          break;
        }
      }
    }
    ++entries;
    sum += h;
  }

  static uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
  }
};

class ReadHold {
 public:
  ReadHold(Connection& c, const std::string& path) : c_(c) { c_.readLock(path); }
  ~ReadHold() {
    c_.readDone();
    c_.releaseRead();
  }
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;

 private:
  Connection& c_;
};

}  // namespace

std::string sqliteFailure(int rc, const std::string& windowsPath, const std::string& detail) {
  std::string what;
  switch (rc & 0xFF) {
    case SQLITE_FULL:
      what = "Disco cheio ao gravar a tabela ";
      break;
    case SQLITE_IOERR:
      what = "O disco não pôde ser lido ou gravado na tabela ";
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      what = "Sem permissão para gravar a tabela ";
      break;
    case SQLITE_CANTOPEN:
      what = "Não foi possível abrir a tabela (sem permissão de acesso ao arquivo ou à pasta) ";
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      what = "Arquivo de tabela inválido ou danificado: ";
      break;
    default:
      what = "Erro na tabela ";
      break;
  }
  what = fromUtf8(what);
  // Disk full and no permission say all there is to say.
  if (what.back() == ' ' &&
      ((rc & 0xFF) == SQLITE_FULL || (rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_PERM))
    return what + windowsPath;
  return what + windowsPath + ": " + detail;
}

void checkLayout(sqlite3* db, const FileLayout& l, const std::string& windowsPath) {
  struct Column {
    std::string name, type;
  };
  std::vector<Column> columns;
  {
    Stmt s(db, "SELECT name, type FROM pragma_table_info(?1)", windowsPath);
    s.bindText(1, l.dataTable);
    StmtUse use(s);
    while (s.step()) columns.push_back({std::string(s.columnText(0)), std::string(s.columnText(1))});
  }
  if (columns.empty())
    invalid(windowsPath, "a tabela " + l.dataTable + std::string(" não existe no arquivo"_cp));
  for (const auto& f : l.def.fields) {
    auto col = std::find_if(columns.begin(), columns.end(),
                            [&](const Column& c) { return equalsNoCase(c.name, f.name); });
    if (col == columns.end())
      invalid(windowsPath, "o campo " + f.name + std::string(" da descrição não existe na tabela"_cp));
    const std::string want = sqlTypeOf(f.type), have = affinityOf(col->type);
    if (have != want)
      invalid(windowsPath, std::string("a descrição dá ao campo "_cp) + f.name + " o tipo " +
                               typeCode(f.type) + std::string(", mas a coluna da tabela é "_cp) +
                               (col->type.empty() ? std::string("sem tipo") : col->type));
    const bool alpha = f.type == FieldType::Alpha;
    if (alpha ? (f.size < 1 || f.size > 255) : (f.size < 0 || f.size > 255))
      invalid(windowsPath, "largura " + std::to_string(f.size) + " do campo " + f.name +
                               std::string(" fora dos limites do tipo "_cp) + typeCode(f.type));
  }
  for (const auto& k : l.def.primaryKey)
    if (!fieldOf(l.def, k))
      invalid(windowsPath, "o campo " + k + std::string(" da chave primária não está na descrição"_cp));
  for (const auto& ix : l.def.indexes)
    for (const auto& k : ix.fields)
      if (!fieldOf(l.def, k))
        invalid(windowsPath, "o campo " + k + std::string(" do índice "_cp) + ix.name +
                                 std::string(" não está na descrição"_cp));
  for (const auto& ix : declaredIndexes(l)) {
    const std::vector<std::string> have = indexColumns(db, ix.name, windowsPath);
    if (have.empty())
      invalid(windowsPath, std::string("o índice "_cp) + ix.name + std::string(" não existe"_cp));
    if (!sameNames(have, ix.columns))
      invalid(windowsPath, std::string("o índice "_cp) + ix.name + std::string(" está sobre "_cp) +
                               joined(have) + std::string(", e não sobre "_cp) + joined(ix.columns));
  }
}

// How many records the width check reads.
constexpr int kWidthSample = 1000;

void verifyFile(const std::filesystem::path& file, const std::string& windowsPath) {
  std::shared_ptr<Connection> conn = Connection::acquire(file, windowsPath);
  // The indexes a refill set aside are checked as built.
  conn->settleRefill(windowsPath);
  const FileLayout& l = conn->layout(windowsPath);
  sqlite3* db = conn->db();
  ReadHold hold(*conn, windowsPath);

  {
    Stmt s(db, "PRAGMA quick_check", windowsPath);
    StmtUse use(s);
    if (s.step() && s.columnText(0) != "ok") invalid(windowsPath, fromUtf8(std::string(s.columnText(0))));
  }

  const std::string table = quoteId(l.dataTable);
  // Every index against the records: the count of its entries, and a digest
  // of what each entry holds (its fields and the record it points to) read
  // from the index alone, against the same digest of the records read from
  // the table itself. A search goes through the index, so an index whose
  // entries disagree with the records (the right count, the wrong values)
  // would make a record look missing, and a repair delete it.
  const std::vector<SqlIndex> indexes = declaredIndexes(l);
  std::vector<EntryDigest> fromTable(indexes.size());
  int64_t records = 0;
  {
    std::vector<std::vector<int>> positions;
    std::vector<std::string> columns;
    for (const auto& ix : indexes) {
      positions.emplace_back();
      for (const auto& c : ix.columns) {
        auto at = std::find_if(columns.begin(), columns.end(),
                               [&](const std::string& n) { return equalsNoCase(n, c); });
        positions.back().push_back(static_cast<int>(at - columns.begin()) + 1);
        if (at == columns.end()) columns.push_back(c);
      }
    }
    std::string list = "rowid";
    for (const auto& c : columns) list += ", " + quoteId(c);
    Stmt s(db, "SELECT " + list + " FROM " + table + " NOT INDEXED", windowsPath);
    StmtUse use(s);
    while (s.step()) {
      ++records;
      for (size_t i = 0; i < indexes.size(); ++i) fromTable[i].add(s, positions[i]);
    }
  }
  std::vector<std::string> checked;
  for (size_t k = 0; k < indexes.size(); ++k) {
    const SqlIndex& ix = indexes[k];
    EntryDigest fromIndex;
    {
      std::string list = "rowid";
      std::vector<int> positions;
      for (const auto& c : ix.columns) {
        list += ", " + quoteId(c);
        positions.push_back(static_cast<int>(positions.size()) + 1);
      }
      Stmt s(db, "SELECT " + list + " FROM " + table + " INDEXED BY " + quoteId(ix.name), windowsPath);
      StmtUse use(s);
      while (s.step()) fromIndex.add(s, positions);
    }
    if (fromIndex.entries != records)
      invalid(windowsPath, std::string("o índice "_cp) + ix.name + " tem " +
                               std::to_string(fromIndex.entries) + " entradas para " +
                               std::to_string(records) + " registros");
    if (fromIndex.sum != fromTable[k].sum)
      invalid(windowsPath, std::string("o índice "_cp) + ix.name +
                               std::string(" não corresponde aos registros da tabela"_cp));
    // The ordering fields, read from the index alone: a value of a foreign
    // type there makes searches and walks go wrong.
    std::vector<const FieldDef*> fields;
    std::string where;
    for (const auto& c : ix.columns) {
      if (std::any_of(checked.begin(), checked.end(),
                      [&](const std::string& n) { return equalsNoCase(n, c); }))
        continue;
      checked.push_back(c);
      fields.push_back(fieldOf(l.def, c));
      where += (where.empty() ? "" : " OR ") + foreignCondition(*fields.back());
    }
    if (fields.empty()) continue;
    std::string list;
    for (const FieldDef* f : fields) list += (list.empty() ? "" : ", ") + quoteId(f->name);
    Stmt s(db,
           "SELECT " + list + " FROM " + table + " INDEXED BY " + quoteId(ix.name) + " WHERE " + where +
               " LIMIT 1",
           windowsPath);
    StmtUse use(s);
    if (!s.step()) continue;
    for (size_t i = 0; i < fields.size(); ++i) {
      const Value v = columnValue(s, static_cast<int>(i));
      FieldCodec codec{fields[i], &windowsPath};
      codec.checkStored(v);
      if (v.kind == Value::Int) codec.asInteger(v);
      if (v.kind == Value::Int && (fields[i]->type == FieldType::Logical ||
                                   (fields[i]->type == FieldType::Short && (v.i < -32768 || v.i > 32767))))
        codec.badValue(std::to_string(v.i));
    }
  }

  // Alpha widths: the engine never stores a text longer than its field, so
  // a field whose values are mostly longer has the wrong width in the
  // description (a few long values are odd data the engine reads whole).
  // A wrong width shows in any part of the table: the first records are
  // enough, and reading every record would cost as much as the repair.
  std::vector<const FieldDef*> alpha;
  std::string sums;
  for (const auto& f : l.def.fields)
    if (f.type == FieldType::Alpha) {
      alpha.push_back(&f);
      const std::string c = quoteId(f.name);
      sums += std::string(sums.empty() ? "" : ", ") + "count(" + c + "), total(length(CAST(" + c +
              " AS BLOB)) > " + std::to_string(f.size) + ")";
    }
  if (alpha.empty()) return;
  std::string columns;
  for (const FieldDef* f : alpha) columns += std::string(columns.empty() ? "" : ", ") + quoteId(f->name);
  Stmt s(db,
         "SELECT " + sums + " FROM (SELECT " + columns + " FROM " + table + " LIMIT " +
             std::to_string(kWidthSample) + ")",
         windowsPath);
  StmtUse use(s);
  s.step();
  for (size_t i = 0; i < alpha.size(); ++i) {
    const int64_t values = s.columnInt(static_cast<int>(2 * i));
    const int64_t longer = static_cast<int64_t>(s.columnReal(static_cast<int>(2 * i + 1)));
    if (longer > 0 && 2 * longer > values)
      invalid(windowsPath,
              "o campo " + alpha[i]->name + " tem largura " + std::to_string(alpha[i]->size) +
                  std::string(" na descrição, mas a maioria dos valores guardados é mais longa"_cp));
  }
}

}  // namespace cg::engine
