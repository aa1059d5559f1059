// The journal of whole runs: for every repair, through both transports for
// those that write to the server, each row the run changed has its record
// and no unchanged table has any; undoing the runs puts every table file and
// every server row back byte for byte; undoing the undo gives the repaired
// data again. A row changed by someone else between the run and its undo is
// left as it is and listed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/cp1252.h"
#include "reliability/child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

struct JournalCase {
  const char* name;
  const char* script;
  bool server;  // the repair writes to the server: run it through both transports
};

const JournalCase kCases[] = {
    {"OrfasAtivas", "invoke BotFormulaOrfan\n", false},
    {"OrfasArquivoMorto", "invoke BotFormulaOrfanArqQM\n", false},
    {"GrupoSinonimos", "invoke BotAcertaGrupoSinon\n", false},
    {"ParametrosTecnicos", "invoke BotAjusta\n", false},
    {"CustoFixo", "invoke BitBtn6\n", false},
    {"CRM", "invoke BotCorrigeCadMed\n", false},
    {"AbreviaClientes", "invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\n", false},
    {"AbreviaMedicos", "invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\n", false},
    {"CNPJ", "answer yes\ninvoke BitBtn7\n", true},
    {"Unidades", "invoke BotCorrecaoComp\ncheck RadioButton4\nclick BitBtn3\n", true},
    {"Desconto", "invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 7,5\nclick BitBtn3\n", true},
    {"NomesComponentes", "invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n", true},
    {"CodigoComponente", "invoke BitBtn2\n", true},
    {"CodLivro", "answer yes\ninvoke BitBtn5\n", true},
    {"Formulas", "answer yes\ninvoke BitBtn1\n", true},
    {"NomesPedidos", "answer yes\ninvoke btn1\n", true},
};

enum class Via { Embedded, Server };

struct Param {
  JournalCase repair;
  Via via;
};

void PrintTo(const Param& p, std::ostream* os) {
  *os << p.repair.name << (p.via == Via::Server ? "_Servidor" : "_Embarcado");
}

std::string port() {
  const char* p = std::getenv("CG_FB_PORT");
  return p && *p ? p : "3057";
}

void useTransport(const fs::path& driveC, Via via) {
  std::string ini = ReadFile(driveC / "platform.ini");
  const size_t at = ini.find("[sql]");
  ASSERT_NE(at, std::string::npos) << ini;
  ini = ini.substr(0, at) + "[sql]\n" +
        (via == Via::Embedded ? std::string("transport = embedded\n")
                              : "transport = server\nport = " + port() + "\n");
  WriteFile(driveC / "platform.ini", ini);
}

// Every table of the installation: local table files by their path under
// VITRALON in upper case ("DADOS/PEDIDOS.DB"), server tables by name.
using Image = std::map<std::string, std::vector<std::string>>;

Image imageOf(const fs::path& driveC) {
  Image out;
  for (auto& [file, t] : ImageOfTables(driveC)) {
    std::string name = file;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out[name] = t.rows;
  }
  for (auto& [table, rows] : ServerImage(driveC)) out[table] = rows;
  return out;
}

// The table name of a report line as imageOf names it.
std::string imageName(const std::string& table) {
  const std::string prefix = "C:\\VITRALON\\";
  if (table.rfind(prefix, 0) != 0) return table;
  std::string name = table.substr(prefix.size());
  for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// The fields of one CSV line (';' separated, '"' quoted).
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        out.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// The rows a run's report names: per table, the keys of each operation.
struct Recorded {
  std::map<std::string, std::map<std::string, std::set<std::string>>> keys;  // table -> op -> keys
};

Recorded readReport(const fs::path& csv) {
  Recorded r;
  std::string bytes = ReadFile(csv);
  EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte order mark";
  size_t at = bytes.find("\r\n");
  EXPECT_EQ(bytes.substr(3, at - 3), "Tabela;Chave;Opera\xC3\xA7\xC3\xA3o;Campo;Antes;Depois");
  // Lines end with CRLF; a field may hold line breaks inside its quotes.
  std::string line;
  bool quoted = false;
  for (size_t i = at + 2; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      auto f = csvFields(line);
      EXPECT_EQ(f.size(), 6u) << line;
      if (f.size() >= 3) r.keys[imageName(f[0])][f[2]].insert(f[1]);
      line.clear();
      ++i;
      continue;
    }
    line += c;
  }
  EXPECT_TRUE(line.empty()) << "the last line has no CRLF: " << line;
  return r;
}

int commandsIn(const std::string& script) {
  int n = 0;
  size_t at = 0;
  while (at < script.size()) {
    size_t end = script.find('\n', at);
    std::string line = script.substr(at, end - at);
    if (line.rfind("invoke ", 0) == 0 || line.rfind("click ", 0) == 0) ++n;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

void removeMarker(const fs::path& driveC) {
  std::error_code ec;
  fs::remove(driveC / "VITRALON" / "Em_Uso.txt", ec);
}

void undo(const fs::path& driveC, int run) {
  removeMarker(driveC);
  ChildResult r = RunUndo(driveC, run);
  ASSERT_EQ(r.exitCode, 0) << r.output;
}

class Historico : public ::testing::TestWithParam<Param> {};

TEST_P(Historico, EveryChangedRowIsRecordedAndUndoingPutsEveryTableBackByteForByte) {
  const Param& p = GetParam();
  std::string why;
  if (p.via == Via::Server && !EnsureTestServer(why)) GTEST_SKIP() << why;
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  fs::create_directories(drive);
  CreateSample(drive);
  useTransport(drive, p.via);
  const Image before = imageOf(drive);

  ChildResult run = RunScript(drive, p.repair.script);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_TRUE(EventLines(run.output, "error").empty()) << run.output;
  const Image after = imageOf(drive);
  const int runs = commandsIn(p.repair.script);

  // Every row the runs changed has a record; a table nobody changed has none.
  std::map<std::string, std::map<std::string, std::set<std::string>>> recorded;
  for (int n = 1; n <= runs; ++n) {
    const fs::path csv = work.path() / ("run" + std::to_string(n) + ".csv");
    ChildResult report = RunProgram(drive, {"--relatorio", std::to_string(n), csv.string()});
    ASSERT_EQ(report.exitCode, 0) << report.output;
    for (auto& [table, ops] : readReport(csv).keys)
      for (auto& [op, keys] : ops) recorded[table][op].insert(keys.begin(), keys.end());
  }
  int changedTables = 0;
  for (const auto& [table, rows] : before) {
    ASSERT_TRUE(after.count(table)) << table;
    std::vector<std::string> removed, added;
    const auto& now = after.at(table);
    std::set_difference(rows.begin(), rows.end(), now.begin(), now.end(), std::back_inserter(removed));
    std::set_difference(now.begin(), now.end(), rows.begin(), rows.end(), std::back_inserter(added));
    auto count = [&](const char* op) {
      auto t = recorded.find(table);
      if (t == recorded.end()) return size_t{0};
      auto o = t->second.find(op);
      return o == t->second.end() ? size_t{0} : o->second.size();
    };
    const size_t updates = count("alteração"), deletes = count("exclusão"), inserts = count("inclusão"),
                 replaced = count("substituição");
    if (removed.empty() && added.empty()) {
      EXPECT_EQ(updates + deletes + inserts + replaced, 0u)
          << table << ": records of a table that did not change";
      continue;
    }
    ++changedTables;
    if (replaced > 0) continue;  // a register replaced whole is kept as a copy
    EXPECT_GE(updates + deletes, removed.size()) << table << ": rows gone or changed without a record";
    EXPECT_GE(updates + inserts, added.size()) << table << ": rows new or changed without a record";
  }
  EXPECT_GT(changedTables, 0) << "the repair changed nothing on the sample";

  for (int n = runs; n >= 1; --n) undo(drive, n);
  const Image undone = imageOf(drive);
  for (const auto& [table, rows] : before) {
    ASSERT_TRUE(undone.count(table)) << table;
    EXPECT_TRUE(undone.at(table) == rows) << table << ": " << undone.at(table).size()
                                          << " rows after the undo, " << rows.size() << " before the run";
  }
}

std::vector<Param> params() {
  std::vector<Param> out;
  for (const JournalCase& c : kCases) {
    out.push_back({c, Via::Embedded});
    if (c.server) out.push_back({c, Via::Server});
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Reparos, Historico, ::testing::ValuesIn(params()),
                         [](const ::testing::TestParamInfo<Param>& param) {
                           return std::string(param.param.repair.name) +
                                  (param.param.via == Via::Server ? "_Servidor" : "_Embarcado");
                         });

}  // namespace
}  // namespace reliability
