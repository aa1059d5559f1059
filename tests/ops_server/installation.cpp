#include "installation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/cli/runner.h"
#include "data/engine/engine.h"
#include "data/sql/dm.h"
#include "data/sql/firebird.h"
#include "data/sql/sql.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/layouts.h"
#include "sample/server_schema.h"

namespace testsupport {

namespace {

const char* kSetupSession = "InstalacaoTeste";

std::string serverPort() {
  const char* p = std::getenv("CG_FB_PORT");
  return p && *p ? p : "3057";
}

// The value of a string member of a flat JSON line, decoded to CP1252.
std::optional<std::string> jsonString(const std::string& line, const std::string& key) {
  const std::string open = "\"" + key + "\":\"";
  size_t p = line.find(open);
  if (p == std::string::npos) return std::nullopt;
  p += open.size();
  std::string utf8;
  while (p < line.size() && line[p] != '"') {
    char c = line[p++];
    if (c != '\\' || p >= line.size()) {
      utf8 += c;
      continue;
    }
    char e = line[p++];
    switch (e) {
      case 'r':
        utf8 += '\r';
        break;
      case 'n':
        utf8 += '\n';
        break;
      case 't':
        utf8 += '\t';
        break;
      case 'u': {
        unsigned cp = static_cast<unsigned>(std::stoul(line.substr(p, 4), nullptr, 16));
        p += 4;
        if (cp < 0x80) {
          utf8 += static_cast<char>(cp);
        } else if (cp < 0x800) {
          utf8 += static_cast<char>(0xC0 | (cp >> 6));
          utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          utf8 += static_cast<char>(0xE0 | (cp >> 12));
          utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
      default:
        utf8 += e;
        break;
    }
  }
  return cg::fromUtf8(utf8);
}

int jsonInt(const std::string& line, const std::string& key) {
  const std::string open = "\"" + key + "\":";
  size_t p = line.find(open);
  if (p == std::string::npos) return -999999;
  return std::stoi(line.substr(p + open.size()));
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

}  // namespace

std::vector<std::string> Transcript::messages() const {
  std::vector<std::string> out;
  for (const Event& e : events)
    if (e.kind == "message") out.push_back(e.text);
  return out;
}

std::vector<std::string> Transcript::errorReports() const {
  std::vector<std::string> out;
  for (const Event& e : events)
    if (e.kind == "error") out.push_back(e.cls + ": " + e.text);
  return out;
}

const Event& Transcript::state(size_t n) const {
  static const Event none;
  for (const Event& e : events)
    if (e.kind == "state" && n-- == 0) return e;
  ADD_FAILURE() << "the transcript has no state line " << n << "\n" << dump();
  return none;
}

std::string Transcript::dump() const {
  std::string out;
  for (const Event& e : events) out += e.raw + "\n";
  if (!errors.empty()) out += "stderr: " + errors;
  return out;
}

bool ButtonEnabled(const Event& state, const std::string& button) {
  return state.raw.find("\"" + button + "\":{\"enabled\":true") != std::string::npos;
}

bool PanelVisible(const Event& state, const std::string& panel) {
  return state.raw.find("\"" + panel + "\":true") != std::string::npos;
}

Gauge GaugeOf(const Event& state) {
  size_t p = state.raw.find("\"gauge\":{");
  std::string g = p == std::string::npos ? "" : state.raw.substr(p);
  return Gauge{jsonInt(g, "min"), jsonInt(g, "max"), jsonInt(g, "position")};
}

bool EnsureTestServer(std::string& why) {
  static int status = -1;
  if (status < 0) {
    // Test binaries run side by side: the lock keeps two of them from
    // starting a server each.
    const std::string script = std::string("'") + CG_SOURCE_DIR + "/scripts/fbserver.sh'";
    const std::string lock =
        (std::filesystem::temp_directory_path() / "consistgeral-fbserver-start.lock").string();
    std::string cmd = "flock '" + lock + "' bash " + script + " start >/dev/null 2>&1";
    status = std::system(cmd.c_str()) == 0 ? 1 : 0;
    if (status == 0)
      status = std::system(("bash " + script + " status >/dev/null 2>&1").c_str()) == 0 ? 1 : 0;
  }
  if (status == 0) why = "scripts/fbserver.sh start failed";
  return status == 1;
}

std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::Embedded ? "Embarcado" : "Servidor";
}

Installation::Installation(Transport transport) {
  cg::DriveC::setRoot(dir_.path());
  for (const char* d : {"C:\\VITRALON\\DADOS", "C:\\VITRALON\\INTER", "C:\\VITRALON\\ARQMORTO"})
    cg::DriveC::resolveDir(d);
  std::string ini =
      "[aliases]\nVTRNDADOS=C:\\VITRALON\\DADOS\nVTRNINTER=C:\\VITRALON\\INTER\nVTRNARQM=C:"
      "\\VITRALON\\ARQMORTO\n"
      "[sql]\n";
  ini += transport == Transport::Embedded ? "transport=embedded\n"
                                          : "transport=server\nport=" + serverPort() + "\n";
  writeFile(cg::DriveC::resolve("C:\\platform.ini"), ini);

  // The local tables, and the one Config row the window reads at start.
  for (const cg::LocalTableSpec& t : cg::LocalTables())
    cg::Session::createTable(t.directory, t.fileName, t.def);
  {
    cg::Session session(kSetupSession);
    cg::Table config("Config", kSetupSession);
    config.setDatabaseName("C:\\VITRALON");
    config.setTableName("Config.DB");
    config.open();
    config.append();
    config.setInteger("Codigo", 1);
    config.setInteger("CorFundo", 0xC0C0C0);
    config.setString("DiretorioPrincipal", "C:\\VITRALON");
    config.post();
    config.close();
  }

  // The server database, with the suite's tables and no rows.
  con_ = std::make_unique<cg::SQLConnection>("instalacao");
  con_->params() = cg::TDM::connectionParams();
  {
    cg::SQLConnectionImpl creator(cg::ResolveSQLTarget(*con_), true);
    for (const std::string& sql : cg::ServerTablesDDL()) creator.executeDirect(sql);
    for (const std::string& sql : cg::ServerConstraintsDDL()) creator.executeDirect(sql);
  }
}

Installation::~Installation() { con_.reset(); }

void Installation::exec(const std::string& sql) {
  try {
    con_->executeDirect(sql);
  } catch (const cg::Exception& e) {
    ADD_FAILURE() << "server refused: " << sql << "\n" << cg::toUtf8(e.message());
    throw;
  }
}

void Installation::exec(const std::vector<std::string>& statements) {
  for (const std::string& s : statements) exec(s);
}

std::vector<Row> Installation::query(const std::string& sql, const std::vector<std::string>& columns) {
  cg::SQLDataSet source("consulta", *con_);
  source.setCommandText(sql);
  cg::ClientDataSet rows("cdsConsulta", source, {});
  rows.open();
  std::vector<Row> out;
  for (rows.first(); !rows.eof(); rows.next()) {
    Row r;
    for (const std::string& c : columns) {
      cg::Field& f = rows.fieldByName(c);
      r.push_back(f.isNull() ? std::nullopt : std::optional<std::string>(f.asString()));
    }
    out.push_back(std::move(r));
  }
  rows.close();
  source.close();
  return out;
}

std::optional<std::string> Installation::scalar(const std::string& sql) {
  // The first column of the first row: the statement names it "V".
  auto rows = query(sql, {"V"});
  if (rows.empty()) {
    ADD_FAILURE() << "no row: " << sql;
    return std::nullopt;
  }
  return rows[0][0];
}

void Installation::addCompras(const std::vector<std::string>& componentNames) {
  cg::Session session(kSetupSession);
  cg::Table compras("Compras", kSetupSession);
  compras.setDatabaseName("C:\\VITRALON\\DADOS");
  compras.setTableName("COMPRAS.DB");
  compras.open();
  int n = compras.recordCount();
  for (const std::string& name : componentNames) {
    compras.append();
    compras.setInteger("NCompra", ++n);
    compras.setInteger("Item", 1);
    compras.setString("Componente", name);
    compras.post();
  }
  compras.close();
}

std::vector<std::string> Installation::comprasNames() {
  cg::Session session(kSetupSession);
  cg::Table compras("Compras", kSetupSession);
  compras.setDatabaseName("C:\\VITRALON\\DADOS");
  compras.setTableName("COMPRAS.DB");
  compras.open();
  std::vector<std::string> out;
  for (compras.first(); !compras.eof(); compras.next()) out.push_back(compras.asString("Componente"));
  compras.close();
  return out;
}

Transcript Installation::run(const std::string& script) {
  std::istringstream in(script);
  std::ostringstream out, err;
  Transcript t;
  t.exitCode = cg::RunScript(in, out, err);
  t.errors = err.str();
  std::istringstream lines(out.str());
  std::string line;
  while (std::getline(lines, line)) {
    Event e;
    e.raw = line;
    e.kind = jsonString(line, "event").value_or("");
    e.text = jsonString(line, "text").value_or("");
    e.cls = jsonString(line, "class").value_or("");
    t.events.push_back(std::move(e));
  }
  return t;
}

}  // namespace testsupport
