#include "ops_local/installation.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/cli/json.h"
#include "app/cli/runner.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/layouts.h"
#include "text/normaliza.h"

namespace opslocal {
namespace {

const cg::TableDef* LayoutOf(const std::vector<cg::LocalTableSpec>& tables, const std::string& directory,
                             const std::string& file) {
  for (const cg::LocalTableSpec& t : tables)
    if (cg::AsciiUpper(t.directory) == cg::AsciiUpper(directory) &&
        cg::AsciiUpper(t.fileName) == cg::AsciiUpper(file))
      return &t.def;
  return nullptr;
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

}  // namespace

Installation::Installation() {
  cg::DriveC::setRoot(dir_.path());
  for (const char* d : {kRoot, kDados, kInter, kArquivo}) cg::DriveC::resolveDir(d);
  WriteText(host("C:\\platform.ini"),
            "[aliases]\r\nVTRNDADOS = C:\\VITRALON\\DADOS\r\nVTRNINTER = C:\\VITRALON\\INTER\r\n"
            "VTRNARQM = C:\\VITRALON\\ARQMORTO\r\n");
  create(kRoot, "Config.DB");
  insert(kRoot, "Config.DB",
         {{{"Codigo", "1"}, {"CorFundo", "12632256"}, {"DiretorioPrincipal", "C:\\VITRALON\\"}}});
}

Installation::~Installation() = default;

std::filesystem::path Installation::host(std::string_view winPath) const {
  return cg::DriveC::resolve(winPath);
}

void Installation::create(const std::string& directory, const std::string& file) {
  const auto tables = cg::LocalTables();
  const cg::TableDef* def = LayoutOf(tables, directory, file);
  ASSERT_NE(def, nullptr) << directory << "\\" << file;
  cg::Session::createTable(directory, file, *def);
}

void Installation::create(const std::string& directory, const std::string& file, const cg::TableDef& def) {
  cg::Session::createTable(directory, file, def);
}

void Installation::createAll() {
  for (const cg::LocalTableSpec& t : cg::LocalTables())
    if (t.fileName != "Config.DB") cg::Session::createTable(t.directory, t.fileName, t.def);
}

void Installation::insert(const std::string& directory, const std::string& file,
                          const std::vector<Row>& rows) {
  cg::Table t("Semeadura", session_.name());
  t.setDatabaseName(directory);
  t.setTableName(file);
  t.open();
  for (const Row& row : rows) {
    t.append();
    for (const auto& [field, value] : row) t.setString(field, cg::fromUtf8(value));
    t.post();
  }
  t.flushBuffers();
  t.close();
}

void Installation::setMainDirectory(const std::string& directoryUtf8) {
  cg::Table t("Config", session_.name());
  t.setDatabaseName(kRoot);
  t.setTableName("Config.DB");
  t.open();
  t.edit();
  t.setString("DiretorioPrincipal", cg::fromUtf8(directoryUtf8));
  t.post();
  t.flushBuffers();
  t.close();
}

std::vector<std::string> Installation::dump(const std::string& directory, const std::string& file,
                                            const std::vector<std::string>& fields,
                                            const std::string& index) {
  cg::Table t("Leitura", session_.name());
  t.setDatabaseName(directory);
  t.setTableName(file);
  t.setIndexName(index);
  t.open();
  std::vector<std::string> rows;
  for (t.first(); !t.eof(); t.next()) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i) line.push_back('|');
      line += cg::toUtf8(t.asString(fields[i]));
    }
    rows.push_back(line);
  }
  t.close();
  return rows;
}

std::vector<std::string> Installation::run(const std::string& script) {
  std::istringstream in(script);
  std::ostringstream transcript, errors;
  const int rc = cg::RunScript(in, transcript, errors);
  EXPECT_EQ(rc, 0) << errors.str();
  std::vector<std::string> lines;
  std::istringstream out(transcript.str());
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

std::string Installation::readFile(std::string_view winPath) const {
  std::ifstream in(host(winPath), std::ios::binary);
  if (!in) return "";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> Events(const std::vector<std::string>& transcript, const std::string& kind) {
  const std::string tag = "{\"event\":\"" + kind + "\"";
  std::vector<std::string> out;
  for (const std::string& line : transcript)
    if (line.rfind(tag, 0) == 0) out.push_back(line);
  return out;
}

std::string LastState(const std::vector<std::string>& transcript) {
  const auto states = Events(transcript, "state");
  return states.empty() ? "" : states.back();
}

bool ButtonEnabled(const std::string& state, const std::string& button) {
  const std::string on = "\"" + button + "\":{\"enabled\":true";
  const std::string off = "\"" + button + "\":{\"enabled\":false";
  EXPECT_TRUE(state.find(on) != std::string::npos || state.find(off) != std::string::npos) << button;
  return state.find(on) != std::string::npos;
}

bool PanelVisible(const std::string& state, const std::string& panel) {
  const std::string on = "\"" + panel + "\":true";
  const std::string off = "\"" + panel + "\":false";
  EXPECT_TRUE(state.find(on) != std::string::npos || state.find(off) != std::string::npos) << panel;
  return state.find(on) != std::string::npos;
}

std::string Message(const std::string& textUtf8) {
  return "{\"event\":\"message\",\"text\":" + cg::json::quote(textUtf8) + "}";
}

std::string ErrorEvent(const std::string& className, const std::string& textUtf8) {
  return "{\"event\":\"error\",\"class\":" + cg::json::quote(className) +
         ",\"text\":" + cg::json::quote(textUtf8) + "}";
}

}  // namespace opslocal
