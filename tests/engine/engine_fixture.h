// A drive C of its own for each engine test: a temporary folder with
// platform.ini, the data directories and the session Sessao1.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/engine/engine.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "support/temp_dir.h"

namespace enginetest {

using cg::FieldDef;
using cg::FieldType;
using cg::IndexDef;
using cg::TableDef;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cg::DriveC::setRoot(tmp_.path());
    std::filesystem::create_directories(tmp_.path() / "VITRALON" / "DADOS");
    std::filesystem::create_directories(tmp_.path() / "VITRALON" / "INTER");
    writeIni("[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\nVTRNINTER = C:\\VITRALON\\INTER\\\n");
    session_ = std::make_unique<cg::Session>("Sessao1");
  }
  void TearDown() override { session_.reset(); }

  void writeIni(const std::string& text) {
    std::ofstream(tmp_.path() / "platform.ini", std::ios::binary) << text;
    if (session_) session_->reloadConfiguration();
  }
  std::filesystem::path host(const std::string& rel) const { return tmp_.path() / rel; }

  // A table bound to C:\VITRALON\DADOS (not opened).
  std::unique_ptr<cg::Table> bound(const std::string& table, const std::string& index = "",
                                   const std::string& object = "T") {
    auto t = std::make_unique<cg::Table>(object);
    t->setDatabaseName("C:\\VITRALON\\DADOS");
    t->setTableName(table);
    if (!index.empty()) t->setIndexName(index);
    return t;
  }
  std::unique_ptr<cg::Table> opened(const std::string& table, const std::string& index = "") {
    auto t = bound(table, index);
    t->open();
    return t;
  }

  // Every value of one field, walking from the first record.
  static std::vector<std::string> walk(cg::Table& t, const std::string& field) {
    std::vector<std::string> out;
    for (t.first(); !t.eof(); t.next()) out.push_back(t.asString(field));
    return out;
  }

  testsupport::TempDir tmp_;
  std::unique_ptr<cg::Session> session_;
};

// People: primary key Estacao;Codigo, secondary Nome (Nome) and NomeFone.
inline TableDef peopleDef() {
  TableDef d;
  d.fields = {{"Estacao", FieldType::Alpha, 3},
              {"Codigo", FieldType::LongInt, 0},
              {"Nome", FieldType::Alpha, 20},
              {"Fone", FieldType::Alpha, 12},
              {"Valor", FieldType::Number, 0}};
  d.primaryKey = {"Estacao", "Codigo"};
  d.indexes = {IndexDef{"Nome", {"Nome"}, false}, IndexDef{"NomeFone", {"Nome", "Fone"}, false}};
  return d;
}

inline void addPerson(cg::Table& t, const std::string& est, int64_t code, const std::string& nome,
                      const std::string& fone = "", double valor = 0) {
  t.append();
  t.setString("Estacao", est);
  t.setInteger("Codigo", code);
  t.setString("Nome", nome);
  t.setString("Fone", fone);
  t.setFloat("Valor", valor);
  t.post();
}

}  // namespace enginetest
