// A drive C of its own for each test, holding the smallest installation the
// window starts on: C:\VITRALON with the table Config (CorFundo,
// DiretorioPrincipal). The program's clock is put back after each test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/runner.h"
#include "data/engine/engine.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/regional.h"
#include "support/temp_dir.h"

namespace shelltest {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cg::Clock::reset();
    cg::DriveC::setRoot(dir_.path());
    cg::DriveC::resolveDir("C:\\VITRALON");
    makeConfig(12345);
  }
  void TearDown() override { cg::Clock::reset(); }

  // Creates C:\VITRALON\Config.DB with one record.
  void makeConfig(int32_t corFundo, const std::string& diretorio = "C:\\VITRALON\\") {
    cg::TableDef def;
    def.fields = {{"Codigo", cg::FieldType::LongInt, 0},
                  {"CorFundo", cg::FieldType::LongInt, 0},
                  {"DiretorioPrincipal", cg::FieldType::Alpha, 80}};
    def.primaryKey = {"Codigo"};
    cg::Session::createTable("C:\\VITRALON", "Config", def);
    cg::Session session("Sessao1");
    cg::Table t("Config");
    t.setDatabaseName("C:\\VITRALON");
    t.setTableName("Config");
    t.open();
    t.append();
    t.setInteger("Codigo", 1);
    t.setInteger("CorFundo", corFundo);
    t.setString("DiretorioPrincipal", diretorio);
    t.post();
    t.close();
  }

  std::filesystem::path markerFile() const { return cg::DriveC::resolve("C:\\VITRALON\\Em_Uso.txt"); }
  bool markerExists() const { return std::filesystem::exists(markerFile()); }
  std::string markerContent() const {
    std::ifstream in(markerFile(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void writeMarker(const std::string& content) const {
    std::ofstream out(markerFile(), std::ios::binary | std::ios::trunc);
    out << content;
  }
  // A marker stamped `seconds` before the program's current time (negative:
  // in the future), as another module writes it.
  void writeMarkerAged(double seconds) const {
    writeMarker(cg::DateTimeToStr(cg::Clock::now() - seconds / 86400.0) + "\r\n");
  }

  // Runs a script; returns the transcript lines.
  std::vector<std::string> run(const std::string& script, int* code = nullptr,
                               std::string* errors = nullptr) {
    std::istringstream in(script);
    std::ostringstream out, err;
    int rc = cg::RunScript(in, out, err);
    if (code) *code = rc;
    if (errors) *errors = err.str();
    EXPECT_TRUE(code || rc == 0) << "exit " << rc << ": " << err.str();
    std::vector<std::string> lines;
    std::istringstream t(out.str());
    for (std::string l; std::getline(t, l);) lines.push_back(l);
    return lines;
  }

  // A JSON string literal as the transcript writes it, from UTF-8 text.
  static std::string q(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
      if (c == '"')
        out += "\\\"";
      else if (c == '\\')
        out += "\\\\";
      else if (c == '\r')
        out += "\\r";
      else if (c == '\n')
        out += "\\n";
      else
        out.push_back(c);
    }
    return out + "\"";
  }

  testsupport::TempDir dir_;
};

// The refusal of a second module, UTF-8, with its carriage returns.
inline const std::string kRefusalUtf8 =
    "Você tentou executar mais de um módulo do VITRALON ao mesmo tempo.\r"
    "Este sistema foi projetado para executar somente um módulo de cada \r"
    "vez no mesmo computador. Este módulo será finalizado.";

}  // namespace shelltest
