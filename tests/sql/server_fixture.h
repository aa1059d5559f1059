// Every driver and data-module test runs twice: through the embedded engine,
// and through the test server on 127.0.0.1 that scripts/fbserver.sh starts
// (port CG_FB_PORT, default 3057). A server test that cannot reach the
// server fails. Each test gets its own drive C in a temporary folder, with
// platform.ini naming the transport, and its own database file.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/sql/dm.h"
#include "data/sql/sql.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/user_interface.h"
#include "sample/server_schema.h"
#include "support/temp_dir.h"

namespace sqltest {

inline std::string serverPort() {
  const char* p = std::getenv("CG_FB_PORT");
  return p && *p ? p : "3057";
}

// The port through which the data module's handlers talk to the user; it
// keeps what was shown.
class RecordingUI : public cg::UserInterface {
 public:
  std::vector<std::string> messages;
  void showMessage(const std::string& text) override { messages.push_back(text); }
  bool confirm(const std::string&) override { return true; }
  void showError(const cg::Exception& e) override { messages.push_back(std::string("ERRO: ") + e.message()); }
  void repaint(const std::string&) override {}
  void processMessages() override {}
  cg::ProcessOutcome startProcess(const std::string&, std::chrono::milliseconds) override { return {}; }
};

enum class Transport { Embedded, Server };

inline std::string transportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::Embedded ? "Embedded" : "Server";
}

class ServerTest : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    root_ = tmp_.path() / "c";
    std::filesystem::create_directories(root_ / "vitralon" / "dados");
    cg::DriveC::setRoot(root_);
    writeIni(GetParam() == Transport::Embedded ? "[sql]\ntransport=embedded\n"
                                               : "[sql]\ntransport=server\nport=" + serverPort() + "\n");
  }

  void writeIni(const std::string& text) {
    std::ofstream out(root_ / "platform.ini", std::ios::binary | std::ios::trunc);
    out << "[aliases]\nVTRNDADOS=C:\\VITRALON\\DADOS\n" << text;
  }

  // Creates the database the data module names, with the suite's tables and
  // keys, through the transport under test.
  void createDatabase(cg::SQLConnection& c) {
    c.createDatabase();
    for (const std::string& ddl : cg::ServerTablesDDL()) c.executeDirect(ddl);
    for (const std::string& ddl : cg::ServerConstraintsDDL()) c.executeDirect(ddl);
  }

  // A fresh connection to the same database, to see what the server holds.
  std::vector<std::string> column(const std::string& sql);

  std::filesystem::path dbFile() const { return root_ / "vitralon" / "dados" / "vitralon.bd"; }

  testsupport::TempDir tmp_;
  std::filesystem::path root_;
  RecordingUI ui_;
};

// The values of the first column of a statement, read through a connection
// of its own ("<null>" for NULL).
inline std::vector<std::string> ServerTest::column(const std::string& sql) {
  cg::SQLConnection c("check");
  c.params() = {{"Database", "127.0.0.1:C:\\vitralon\\dados\\vitralon.bd"},
                {"User_Name", "sysdba"},
                {"Password", "corvidane"},
                {"ServerCharSet", "WIN1252"},
                {"SQLDialect", "3"}};
  cg::SQLDataSet q("q", c);
  q.setCommandText(sql);
  cg::ClientDataSet ds("ds", q, {});
  ds.open();
  std::vector<std::string> out;
  cg::Field& f = ds.field(0);
  for (ds.first(); !ds.eof(); ds.next()) out.push_back(f.isNull() ? "<null>" : f.asString());
  ds.closeDiscarding();
  return out;
}

}  // namespace sqltest
