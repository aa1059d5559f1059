#include "sample/paradox_import.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <set>

#include "data/engine/bulk.h"
#include "data/engine/engine.h"
#include "data/paradox/codepage.h"
#include "data/paradox/reader.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/ini.h"
#include "sample/layouts.h"
#include "sample/sample.h"

namespace cg {

namespace fs = std::filesystem;
using paradox::EParadoxError;
using paradox::Header;
using paradox::TableReader;

namespace {

std::string trimSlash(std::string s) {
  while (!s.empty() && (s.back() == '\\' || s.back() == '/')) s.pop_back();
  return s;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A Windows path ("C:\VITRALON\DADOS") under another drive C's folder, each
// component found without regard to case.
fs::path underRoot(const fs::path& root, const std::string& win) {
  std::string rest = win.size() >= 2 && win[1] == ':' ? win.substr(2) : win;
  fs::path cur = root;
  std::string comp;
  auto flush = [&]() {
    if (!comp.empty()) cur = DriveC::findEntry(cur, toUtf8(comp));
    comp.clear();
  };
  for (char c : rest) {
    if (c == '\\' || c == '/')
      flush();
    else
      comp.push_back(c);
  }
  flush();
  return cur;
}

// The aliases of the destination's platform.ini, or the sample's when it has
// none.
std::map<std::string, std::string> destinationAliases() {
  std::map<std::string, std::string> a = {{"VTRNDADOS", "C:\\VITRALON\\DADOS"},
                                          {"VTRNINTER", "C:\\VITRALON\\INTER"},
                                          {"VTRNARQM", "C:\\VITRALON\\ARQMORTO"}};
  if (auto entries = ReadPlatformIniSection("aliases"))
    for (const auto& [k, v] : *entries) a[upper(k)] = trimSlash(v);
  return a;
}

std::optional<FieldType> engineType(char t) {
  switch (t) {
    case 'A':
      return FieldType::Alpha;
    case 'N':
      return FieldType::Number;
    case '$':
      return FieldType::Money;
    case 'S':
      return FieldType::Short;
    case 'I':
      return FieldType::LongInt;
    case '+':
      return FieldType::AutoInc;
    case 'L':
      return FieldType::Logical;
    case 'D':
      return FieldType::Date;
    case 'T':
      return FieldType::Time;
    case '@':
      return FieldType::Timestamp;
    case 'M':
      return FieldType::Memo;
    default:
      return std::nullopt;
  }
}

const char* typeName(char t) {
  switch (t) {
    case 'B':
      return "B (binário)";
    case 'F':
      return "F (memo formatado)";
    case 'O':
      return "O (OLE)";
    case 'G':
      return "G (gráfico)";
    case 'Y':
      return "Y (bytes)";
    case '#':
      return "# (BCD)";
    default:
      return "?";
  }
}

// The suite's lock files in a source folder: one held by a running program
// stops the import; one left behind is only reported.
void checkLocks(const fs::path& dir, const std::string& dirWin, ParadoxImportReport& report) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = upper(e.path().filename().string());
    if (e.path().extension().string().size() != 4 || upper(e.path().extension().string()) != ".LCK") {
      if (name != "PDOXUSRS.NET") continue;
    }
    const int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    const std::string file = dirWin + "\\" + fromUtf8(e.path().filename().string());
    if (held)
      throw Exception(cp("O sistema parece estar em uso na origem: o arquivo de bloqueio "_cp) + file +
                      cp(" está preso por outro programa. A importação precisa de uma cópia quieta: feche o "
                         "sistema em todas as estações e tente de novo."_cp));
    report.lines.push_back(cp("Arquivo de bloqueio "_cp) + file +
                           cp(" presente, mas livre (deixado por uma "
                              "sessão anterior)."_cp));
  }
}

struct Job {
  std::string destDir;    // Windows path in the destination
  std::string originDir;  // Windows path in the origin
  fs::path originFile;
  std::string fileName;  // as the catalogue spells it
  const TableDef* catalogue;
};

std::string timeText(int64_t ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60));
  std::string s = b;
  if (ms % 1000) {
    std::snprintf(b, sizeof b, ".%03d", static_cast<int>(ms % 1000));
    s += b;
  }
  return s;
}

template <class Where>
std::string dateText(int64_t day, Where&& where) {
  int y, m, d;
  paradox::CivilFromDayNumber(day, y, m, d);
  if (y < 1 || y > 9999) throw Exception(cp("Data fora dos limites em "_cp) + where());
  char b[16];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
  return b;
}

// Reads one table, checks it and writes it under the current drive C root
// (the staging folder).
void importTable(const Job& job, ParadoxImportReport& report) {
  const std::string display = job.originDir + "\\" + fromUtf8(job.originFile.filename().string());
  TableReader r(job.originFile, display);
  const Header& h = r.header();
  const int cpage = h.codePage;
  if (!paradox::KnownCodePage(cpage))
    throw Exception(cp("A tabela "_cp) + display + cp(" usa o código de página "_cp) + std::to_string(cpage) +
                    cp(", que a importação não conhece."_cp));
  // `where` names the value in a refusal; it is only called then.
  auto toCp1252 = [&](const std::string& text, auto&& where) {
    std::string out;
    std::size_t bad = 0;
    if (!paradox::ToCp1252(cpage, text, out, bad)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(text[bad]));
      throw Exception(cp("Caractere sem forma no código 1252 em "_cp) + std::string(where()) + " (byte " +
                      hex + cp(" do código "_cp) + std::to_string(cpage) + "): " + display +
                      cp(". Nada foi importado."_cp));
    }
    return out;
  };

  // The layout, as the table's own header gives it.
  TableDef def;
  for (const auto& f : h.fields) {
    const std::string name = toCp1252(f.name, [] { return cp("nome de campo"_cp); });
    const auto type = engineType(f.type);
    if (!type)
      throw Exception(cp("O campo "_cp) + name + cp(" da tabela "_cp) + display + cp(" é do tipo "_cp) +
                      cp(std::string(typeName(f.type))) +
                      cp(", que as tabelas deste sistema não guardam. Nada foi importado."_cp));
    def.fields.push_back(FieldDef{name, *type, *type == FieldType::Alpha ? f.size : 0});
  }
  if (h.fileType == 0)
    for (int i = 0; i < h.keyFields; ++i)
      def.primaryKey.push_back(def.fields[static_cast<std::size_t>(i)].name);
  for (const auto& ix : paradox::FindSecondaryIndexes(job.originFile, h)) {
    const std::string name = toCp1252(ix.name, [] { return cp("nome de índice"_cp); });
    if (ix.descending) {
      report.lines.push_back(
          cp("  índice "_cp) + name + " (" + ix.suffix +
          cp(") recusado: é descendente, e as tabelas deste sistema só têm índices ascendentes"_cp));
      continue;
    }
    IndexDef d{name, {}, false};
    for (const auto& f : ix.fields) d.fields.push_back(toCp1252(f, [] { return cp("nome de campo"_cp); }));
    // Whether an index is unique is not in the index file's known header:
    // the catalogue's layout says it for the suite's own indexes.
    for (const auto& c : job.catalogue->indexes)
      if (upper(c.name) == upper(d.name) && c.fields.size() == d.fields.size()) d.unique = c.unique;
    def.indexes.push_back(d);
  }

  // The primary index must agree with the data before the data is taken.
  if (h.fileType == 0) {
    if (const auto px = paradox::Sibling(job.originFile, "PX")) {
      paradox::CheckPrimaryIndex(*px, job.originDir + "\\" + fromUtf8(px->filename().string()),
                                 job.originFile, display);
    } else {
      report.lines.push_back(
          cp("  sem índice primário (.PX): a ordem da chave foi verificada nos registros"_cp));
    }
  }

  engine::BulkTable out(job.destDir, job.fileName, def);
  int64_t converted = 0, milliseconds = 0;
  while (r.next()) {
    for (int i = 0; i < h.fieldCount; ++i) {
      const paradox::Value v = r.value(i);
      using K = paradox::Value::Kind;
      auto where = [&]() {
        return cp("campo "_cp) + def.fields[static_cast<std::size_t>(i)].name + cp(" do registro "_cp) +
               std::to_string(r.recordNumber());
      };
      auto inTable = [&]() { return where() + " de " + display; };
      switch (v.kind) {
        case K::Null:
          out.blank(i);
          break;
        case K::Text: {
          const std::string text = toCp1252(v.bytes, where);
          if (cpage != 1252 && text != v.bytes) ++converted;
          out.text(i, text);
          break;
        }
        case K::Integer:
        case K::Logical:
          out.integer(i, v.integer);
          break;
        case K::Real:
          out.real(i, v.real);
          break;
        case K::Date:
          out.text(i, dateText(v.integer, inTable));
          break;
        case K::Time:
          out.text(i, timeText(v.integer));
          break;
        case K::Timestamp: {
          // Milliseconds from day 0 to the end of year 9999 at most.
          if (!std::isfinite(v.real) || v.real < 0 || v.real > 315537897600000.0)
            throw Exception(cp("Data fora dos limites em "_cp) + inTable());
          const auto ms = static_cast<int64_t>(v.real);
          // Our timestamps keep whole seconds: the milliseconds are dropped,
          // and counted in the report.
          if (ms % 1000 != 0) ++milliseconds;
          out.text(i, dateText(ms / 86400000, inTable) + " " + timeText(ms % 86400000 / 1000 * 1000));
          break;
        }
        default:
          throw Exception(cp("Valor que a importação não sabe guardar em "_cp) + inTable());
      }
    }
    out.insert();
  }
  if (r.changedSinceOpen())
    throw Exception(
        cp("A tabela "_cp) + display +
        cp(" mudou enquanto era lida: o sistema parece estar em uso na origem. A importação precisa "
           "de uma cópia quieta: feche o sistema em todas as estações e tente de novo."_cp));
  out.finish();
  ++report.tables;
  report.records += out.rows();
  report.fields += static_cast<int>(def.fields.size());
  report.indexes += static_cast<int>(def.indexes.size());
  report.lines.push_back(job.destDir + "\\" + job.fileName + ": " + std::to_string(out.rows()) +
                         " registros, " + std::to_string(def.fields.size()) + " campos, " +
                         std::to_string(def.indexes.size()) + cp(" índices secundários (Paradox "_cp) +
                         h.version() + cp(", código "_cp) +
                         (cpage < 0 ? std::string("437") : std::to_string(cpage)) + ")");
  if (milliseconds > 0)
    report.lines.push_back(cp("  "_cp) + std::to_string(milliseconds) +
                           cp(" carimbos de data e hora com milissegundos guardados até o segundo"_cp));
  if (converted > 0)
    report.lines.push_back(cp("  "_cp) + std::to_string(converted) +
                           cp(" valores convertidos do código "_cp) + std::to_string(cpage) + " para o 1252");
}

std::string stamp() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y%m%d-%H%M%S", &tm);
  return b;
}

}  // namespace

ParadoxImportReport ImportParadox(const ParadoxImportOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  ParadoxImportReport report;
  const fs::path destRoot = DriveC::root();
  std::error_code ec;
  if (!fs::is_directory(options.origin, ec))
    throw Exception(cp("Pasta de origem não encontrada: "_cp) + fromUtf8(options.origin.string()));
  if (fs::exists(destRoot, ec) && fs::equivalent(options.origin, destRoot, ec))
    throw Exception(cp("A origem e o destino da importação são a mesma pasta: "_cp) +
                    fromUtf8(destRoot.string()));
  fs::create_directories(destRoot, ec);

  // Which tables, from where, to where.
  const auto aliases = destinationAliases();
  const auto catalogue = LocalTables();
  std::vector<Job> jobs;
  std::set<std::string> originDirs;
  for (const auto& table : catalogue) {
    std::string alias;
    if (upper(table.directory) == "C:\\VITRALON\\INTER") alias = "VTRNINTER";
    if (upper(table.directory) == "C:\\VITRALON\\ARQMORTO") alias = "VTRNARQM";
    Job job;
    job.destDir = alias.empty() ? table.directory : aliases.at(alias);
    job.originDir = job.destDir;
    if (!alias.empty()) {
      const auto it = options.aliasFolders.find(alias);
      if (it != options.aliasFolders.end()) job.originDir = trimSlash(it->second);
    }
    job.fileName = table.fileName;
    job.catalogue = &table.def;
    const fs::path dir = underRoot(options.origin, job.originDir);
    job.originFile = DriveC::findEntry(dir, toUtf8(table.fileName));
    if (!fs::is_regular_file(job.originFile, ec)) {
      report.lines.push_back(cp("Tabela não encontrada na origem: "_cp) + job.originDir + "\\" +
                             table.fileName);
      continue;
    }
    if (originDirs.insert(job.originDir).second) checkLocks(dir, job.originDir, report);
    jobs.push_back(job);
  }
  if (jobs.empty())
    throw Exception(cp("Nenhuma tabela do sistema foi encontrada na origem "_cp) +
                    fromUtf8(options.origin.string()) +
                    cp(" (procurei C:\\VITRALON\\Config.DB, C:\\VITRALON\\DADOS\\…)"_cp));

  // What the import puts in place, and whether it may.
  std::set<std::string> tops;
  for (const auto& j : jobs) {
    const std::string rest = j.destDir.substr(3);
    tops.insert(upper(rest.substr(0, rest.find('\\'))));
  }
  for (const auto& top : tops) {
    const fs::path existing = DriveC::findEntry(destRoot, toUtf8(top));
    if (fs::exists(existing, ec) && !options.force)
      throw Exception(
          cp("A unidade C ("_cp) + fromUtf8(destRoot.string()) + cp(") já contém "_cp) +
          fromUtf8(existing.filename().string()) +
          cp("; use --force para importar por cima (a instalação atual é guardada numa cópia)."_cp));
  }

  // Everything is written into a staging folder first.
  const fs::path staging = destRoot / (".importacao-paradox-" + std::to_string(::getpid()));
  fs::remove_all(staging, ec);
  fs::create_directories(staging, ec);
  struct Restore {
    fs::path root, staging;
    bool keep = false;
    ~Restore() {
      DriveC::setRoot(root);
      std::error_code e;
      if (!keep) fs::remove_all(staging, e);
    }
  } restore{destRoot, staging};
  DriveC::setRoot(staging);
  for (const auto& j : jobs) {
    DriveC::resolveDir(j.destDir);
    importTable(j, report);
  }
  DriveC::setRoot(destRoot);

  // Every table was read and checked: into place.
  for (const auto& e : fs::directory_iterator(staging)) {
    const fs::path target = DriveC::findEntry(destRoot, e.path().filename().string());
    if (fs::exists(target, ec)) {
      const fs::path kept =
          target.parent_path() / (target.filename().string() + ".antes-da-importacao-" + stamp());
      fs::rename(target, kept, ec);
      if (ec)
        throw Exception(cp("Não foi possível guardar a instalação atual em "_cp) + fromUtf8(kept.string()) +
                        " (" + ec.message() + ")");
      report.keptCopy = fromUtf8(kept.string());
      report.lines.push_back(cp("Instalação anterior guardada em "_cp) + report.keptCopy);
    }
    fs::rename(e.path(), destRoot / target.filename(), ec);
    if (ec)
      throw Exception(cp("Não foi possível pôr a importação no lugar: "_cp) + fromUtf8(target.string()) +
                      " (" + ec.message() + ")");
  }
  WriteInstallationFiles(!fs::exists(DriveC::findEntry(destRoot, "platform.ini"), ec));
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return report;
}

}  // namespace cg
