// Speed and memory of the import of a Windows installation:
//
//   paradox_bench FOLDER [SCALE] [CODEPAGE]
//
// builds the sample's local tables (SCALE: small, quarter, large; default
// large) under FOLDER/sample, timing it as --create-sample writes them;
// exports them as Paradox tables (the tests' writer) under FOLDER/origem;
// then imports them under FOLDER/destino and prints both times, their ratio
// and the import's peak resident memory (read from /proc while it runs);
// then compares every imported table with the sample's, record for record.
#include <sqlite3.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "data/paradox/reader.h"
#include "paradox/paradox_writer.h"
#include "platform/drive.h"
#include "sample/layouts.h"
#include "sample/paradox_import.h"
#include "sample/sample.h"

namespace fs = std::filesystem;

namespace {

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

fs::path Relative(const std::string& win) {
  std::string s = win.substr(3);
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// Whether the imported table holds the same records as the sample's, field
// for field (by name: the import puts the key fields first), compared by
// SQLite itself over both files. Prints what differs.
bool SameRows(const fs::path& a, const fs::path& b, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(a.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string cols;
  {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT name FROM _fields ORDER BY position", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
      cols += (cols.empty() ? "\"" : ", \"") +
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + "\"";
    sqlite3_finalize(st);
  }
  auto count = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    int64_t n = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0);
    else
      std::printf("  %s: %s\n", table.c_str(), sqlite3_errmsg(db));
    sqlite3_finalize(st);
    return n;
  };
  sqlite3_exec(db, ("ATTACH '" + b.string() + "' AS b").c_str(), nullptr, nullptr, nullptr);
  const std::string t = "\"" + table + "\"";
  const int64_t na = count("SELECT count(*) FROM main." + t);
  const int64_t nb = count("SELECT count(*) FROM b." + t);
  const int64_t onlyA = count("SELECT count(*) FROM (SELECT " + cols + " FROM main." + t + " EXCEPT SELECT " +
                              cols + " FROM b." + t + ")");
  const int64_t onlyB = count("SELECT count(*) FROM (SELECT " + cols + " FROM b." + t + " EXCEPT SELECT " +
                              cols + " FROM main." + t + ")");
  sqlite3_close(db);
  if (na == nb && onlyA == 0 && onlyB == 0) return true;
  std::printf("  %s difere: %lld e %lld registros, %lld só na amostra, %lld só na importação\n",
              table.c_str(), static_cast<long long>(na), static_cast<long long>(nb),
              static_cast<long long>(onlyA), static_cast<long long>(onlyB));
  return false;
}

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "uso: paradox_bench PASTA [small|quarter|large] [850|1252]\n");
    return 2;
  }
  const fs::path root = argv[1];
  const std::string scale = argc > 2 ? argv[2] : "large";
  const int codePage = argc > 3 ? std::atoi(argv[3]) : 850;
  fs::remove_all(root);
  const fs::path sample = root / "sample", origin = root / "origem", dest = root / "destino";
  fs::create_directories(sample);
  cg::DriveC::setRoot(sample);
  auto t = std::chrono::steady_clock::now();
  cg::CreateLocalSample(cg::SampleSizeFor(scale), 20261207);
  const double create = Since(t);

  t = std::chrono::steady_clock::now();
  paradoxtest::ParadoxWriter writer(codePage);
  for (const auto& table : cg::LocalTables()) {
    const fs::path dir = origin / Relative(table.directory);
    fs::create_directories(dir);
    writer.Export(sample / Relative(table.directory) / table.fileName, dir,
                  fs::path(table.fileName).stem().string());
  }
  const double exported = Since(t);
  uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(origin))
    if (e.is_regular_file()) bytes += e.file_size();

  // The reader alone: every table of the origin walked, every value read.
  const long beforeRead = ResidentKb();
  long peakRead = beforeRead;
  int64_t values = 0;
  t = std::chrono::steady_clock::now();
  for (const auto& e : fs::recursive_directory_iterator(origin)) {
    if (e.path().extension() != ".DB") continue;
    cg::paradox::TableReader reader(e.path(), e.path().filename().string());
    while (reader.next()) {
      for (int i = 0; i < reader.header().fieldCount; ++i) values += !reader.value(i).isNull();
      if (reader.recordNumber() % 65536 == 0) peakRead = std::max(peakRead, ResidentKb());
    }
  }
  const double read = Since(t);

  fs::create_directories(dest);
  cg::DriveC::setRoot(dest);
  std::atomic<bool> running{true};
  std::atomic<long> peak{0};
  const long before = ResidentKb();
  std::thread watch([&] {
    while (running) {
      peak = std::max(peak.load(), ResidentKb());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  t = std::chrono::steady_clock::now();
  cg::ParadoxImportOptions o;
  o.origin = origin;
  const cg::ParadoxImportReport r = cg::ImportParadox(o);
  const double imported = Since(t);
  running = false;
  watch.join();
  std::printf("escala %s, código %d: %d tabelas, %lld registros, %.0f MB em Paradox\n", scale.c_str(),
              codePage, r.tables, static_cast<long long>(r.records), static_cast<double>(bytes) / 1e6);
  std::printf("escrever as tabelas locais (--create-sample): %.2f s\n", create);
  std::printf("exportar como Paradox (ferramenta dos testes): %.2f s\n", exported);
  std::printf("só ler (todas as tabelas, todos os valores: %lld não brancos): %.2f s, memória %+ld MB\n",
              static_cast<long long>(values), read, (peakRead - beforeRead) / 1024);
  std::printf("importar (--importar-paradox): %.2f s (%.2f vezes o --create-sample)\n", imported,
              imported / create);
  std::printf("memória residente: %ld MB antes, pico %ld MB durante a importação\n", before / 1024,
              peak.load() / 1024);
  int equal = 0;
  for (const auto& table : cg::LocalTables())
    equal +=
        SameRows(sample / Relative(table.directory) / table.fileName,
                 dest / Relative(table.directory) / table.fileName, fs::path(table.fileName).stem().string());
  std::printf("%d de %zu tabelas iguais à amostra, registro por registro e campo por campo\n", equal,
              cg::LocalTables().size());
  return equal == static_cast<int>(cg::LocalTables().size()) ? 0 : 1;
}
