// The table cursor over whatever values a table file can hold: a small
// table (key Estacao;NPedido, index Nome) is written with fuzzed values of
// every SQLite type (null, integer, real, text, BLOB) in its key and
// ordering fields, and walked in both orders, forwards and back, with key
// searches. Every forward walk must end within as many steps as there are
// rows (plus one), and the only errors allowed are the engine's own.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/engine/engine.h"
#include "platform/drive.h"

namespace fs = std::filesystem;

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

// One value of any SQLite type, bound to parameter `at`.
void bindFuzzed(sqlite3_stmt* st, int at, Reader& in) {
  const uint8_t kind = in.byte() % 5;
  const uint8_t len = in.byte() % 12;
  std::string bytes;
  for (uint8_t k = 0; k < len; ++k) bytes += static_cast<char>(in.byte());
  uint64_t u = 0;
  for (char c : bytes) u = u * 131 + static_cast<unsigned char>(c);
  const int64_t i = static_cast<int64_t>(u) >> (len % 4 * 16);
  switch (kind) {
    case 0:
      sqlite3_bind_null(st, at);
      break;
    case 1:
      sqlite3_bind_int64(st, at, (in.byte() & 1) ? i : i % 7);
      break;
    case 2:
      sqlite3_bind_double(st, at, static_cast<double>(i) / (1 + in.byte()));
      break;
    case 3:
      sqlite3_bind_text(st, at, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_blob(st, at, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
  }
}

struct Setup {
  fs::path root;
  cg::Session* session;
  Setup() {
    char tmpl[] = "/tmp/cursor_fuzz-XXXXXX";
    root = mkdtemp(tmpl);
    fs::create_directories(root / "VITRALON" / "DADOS");
    std::ofstream(root / "platform.ini") << "[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\n";
    cg::DriveC::setRoot(root);
    session = new cg::Session("Sessao1");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  cg::TableDef def;
  def.fields = {{"Estacao", cg::FieldType::Alpha, 4},
                {"NPedido", cg::FieldType::LongInt, 0},
                {"Nome", cg::FieldType::Alpha, 20},
                {"Valor", cg::FieldType::Number, 0}};
  def.primaryKey = {"Estacao", "NPedido"};
  def.indexes = {{"Nome", {"Nome"}, false}};
  cg::Session::createTable("C:\\VITRALON\\DADOS", "T.DB", def);

  Reader in{data, size};
  const int rows = in.byte() % 24;
  {
    sqlite3* db = nullptr;
    sqlite3_open((setup.root / "VITRALON" / "DADOS" / "T.DB").c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO T VALUES(?1, ?2, ?3, ?4)", -1, &st, nullptr);
    for (int r = 0; r < rows; ++r) {
      for (int c = 1; c <= 4; ++c) bindFuzzed(st, c, in);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }

  for (const char* index : {"", "Nome"}) {
    cg::Table t("T");
    t.setDatabaseName("VTRNDADOS");
    t.setTableName("T.DB");
    t.setIndexName(index);
    cg::Table k("K");  // key searches on a second object: they move its cursor
    k.setDatabaseName("VTRNDADOS");
    k.setTableName("T.DB");
    k.setIndexName(index);
    try {
      t.open();
      k.open();
      int steps = 0;
      for (t.first(); !t.eof(); t.next()) {
        if (++steps > rows + 1) std::abort();  // a walk that does not end
        try {
          (void)t.asString("Estacao");
          (void)t.asInteger("NPedido");
          (void)t.asFloat("Valor");
          (void)k.findKey({t.asString(index[0] ? "Nome" : "Estacao")});
        } catch (const cg::EConvertError&) {
        }
      }
      // Backwards (the grids' paging): no crash, whatever stands before.
      for (int back = 0; back <= rows + 1; ++back) {
        t.moveBy(-1);
        (void)t.recNo();
      }
      t.verify();
    } catch (const cg::EDBEngineError&) {
    } catch (const cg::EConvertError&) {
    }
    t.close();
    k.close();
  }
  return 0;
}
