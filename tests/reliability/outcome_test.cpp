// How a run ends, on the sample installation through the program itself:
// the success text only when nothing failed or was stopped; a name repair
// run a second time finds nothing left to change; the technicians' option
// reaches the script runner.
#include <gtest/gtest.h>

#include <algorithm>

#include "child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

class Desfecho : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(drive_);
    CreateSample(drive_);
  }
  testsupport::TempDir work_;
  fs::path drive_ = work_.path() / "c";
};

TEST_F(Desfecho, ABookCodeRunWhoseSelectionFailedSaysSoInsteadOfSuccess) {
  ServerExec(drive_, {"ALTER TABLE PEDIDOS ALTER CODLIVRO TO CODLIVRO_ANTIGO"});
  const auto server = ServerImage(drive_);
  ChildResult r = RunScript(drive_, "state\ninvoke BitBtn5\nstate\n");
  const auto messages = EventLines(r.output, "message");
  ASSERT_EQ(messages.size(), 3u) << r.output;
  EXPECT_NE(messages[0].find("\\\"sqldspedidos\\\""), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("\\\"cdspedidos\\\""), std::string::npos) << messages[1];
  EXPECT_EQ(messages[2], messageEvent("Procedimento concluído com 2 erros."));
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  ExpectWindowInOrder(r.output, true);
  EXPECT_TRUE(ServerImage(drive_) == server) << "the server rows changed";
}

// Accented capitals are names' letters like any other: "MARIA DA CONCEIÇÃO"
// becomes "Maria da Conceição", so that a second run finds every name in
// the house style already (the sample's names have accented capitals).
TEST_F(Desfecho, ANameRepairRunASecondTimeChangesNothing) {
  const std::vector<std::string> formulas = ServerQuery(drive_, "select FORMULA from FORMULAS");
  auto accentedCapitalInside = [](const std::string& n) {
    return std::any_of(n.begin() + (n.empty() ? 0 : 1), n.end(), [](char c) {
      const auto b = static_cast<unsigned char>(c);
      return b >= 0xC0 && b <= 0xDE && b != 0xD7;
    });
  };
  ASSERT_TRUE(std::any_of(formulas.begin(), formulas.end(), accentedCapitalInside))
      << "the sample has no accented capital inside a formula name";
  const char* const scripts[] = {
      "invoke BitBtn1\n",
      "invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    ChildResult first = RunScript(drive_, script);
    ASSERT_EQ(first.exitCode, 0) << first.output;
    const auto server = ServerImage(drive_);
    const auto tables = ImageOfTables(drive_);
    ChildResult second = RunScript(drive_, script);
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(ServerImage(drive_) == server) << "the second run changed server rows";
    const auto after = ImageOfTables(drive_);
    for (const auto& [name, table] : tables)
      EXPECT_TRUE(after.at(name).rows == table.rows) << name << " changed on the second run";
  }
}

TEST_F(Desfecho, TheTechniciansOptionReachesTheScriptRunner) {
  const fs::path script = work_.path() / "estado.txt";
  WriteFile(script, "state\n");
  for (bool technician : {false, true}) {
    std::vector<std::string> args = {"--script", script.string()};
    if (technician) args.insert(args.begin(), "--tecnico");
    ChildResult r = RunProgram(drive_, args);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string state = EventLines(r.output, "state").at(0);
    for (const char* command : {"BotFormulaOrfan", "BotFormulaOrfanArqQM"})
      EXPECT_NE(state.find(std::string("\"") + command +
                           "\":{\"enabled\":true,\"visible\":" + (technician ? "true" : "false")),
                std::string::npos)
          << command << " " << state;
  }
}

}  // namespace
}  // namespace reliability
