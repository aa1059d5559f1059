// Commands while the window runs on the sample installation: one command at
// a time, the frame's close and "Interromper" during the commands that let
// window events through, and the demonstration, which keeps to a sample of
// its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "app/cli/demo.h"
#include "app/cli/runner.h"
#include "app/form/program.h"
#include "data/sql/dm.h"
#include "ops/people/pedidos_nomes.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/sample.h"
#include "support/temp_dir.h"
#include "text/normaliza.h"

namespace cg {
namespace {

namespace fs = std::filesystem;

// The port as a user who acts while a command lets events through: `pause`
// runs at each of those moments with its 1-based number.
class ActingUser : public UserInterface {
 public:
  std::vector<std::string> messages, questions;
  std::vector<bool> answers;  // given in order; No once they run out
  std::function<void(int)> pause;
  int pauses = 0;

  void showMessage(const std::string& text) override { messages.push_back(text); }
  bool confirm(const std::string& text) override {
    questions.push_back(text);
    return questions.size() <= answers.size() && answers[questions.size() - 1];
  }
  void showError(const Exception& e) override { messages.push_back("erro: " + e.message()); }
  void repaint(const std::string&) override {}
  void processMessages() override {
    if (pause) pause(++pauses);
  }
  cg::ProcessOutcome startProcess(const std::string&, std::chrono::milliseconds) override { return {}; }
};

class SampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clock::reset();
    DriveC::setRoot(dir_.path() / "c");
    CreateSample("small", false);
  }
  void TearDown() override { Clock::reset(); }

  fs::path marker() const { return DriveC::resolve("C:\\VITRALON\\Em_Uso.txt"); }

  // The order names in the order the repair walks them.
  static std::vector<std::optional<std::string>> orderNames(TDM& dm) {
    std::vector<std::optional<std::string>> names;
    dm.sqldsPedidos.close();
    dm.sqldsPedidos.setCommandText(SelecaoNomesPedidos());
    dm.cdsPedidos.open();
    Field& nome = dm.cdsPedidos.fieldByName("NOME");
    for (dm.cdsPedidos.first(); !dm.cdsPedidos.eof(); dm.cdsPedidos.next())
      names.push_back(nome.isNull() ? std::nullopt : std::optional(nome.asString()));
    dm.cdsPedidos.close();
    dm.sqldsPedidos.close();
    return names;
  }

  testsupport::TempDir dir_;
};

const std::string kQuestion =
    cp("Um comando está em andamento.\rInterromper depois do registro atual e fechar a janela?"_cp);

TEST_F(SampleTest, FrameCloseDuringOrderNamesStopsAfterTheCurrentOrderAndKeepsTheWindowUntilThen) {
  std::vector<std::optional<std::string>> before;
  {
    ActingUser reader;
    Program p(reader);
    before = orderNames(p.dataModule());
  }
  ASSERT_GT(before.size(), 10u);

  ActingUser user;
  user.answers = {false, true};
  Program p(user);
  TFormConsistGeral& f = p.form();
  p.activate();
  ASSERT_TRUE(fs::exists(marker()));
  f.HabilitaComandos();
  int cnpjRuns = 0;
  const auto cnpj = f.BitBtn7.onClick;
  f.BitBtn7.onClick = [&] {
    ++cnpjRuns;
    cnpj();
  };
  int ticks = 0;
  const auto tick = f.Timer1.onTimer;
  f.Timer1.onTimer = [&] {
    ++ticks;
    tick();
  };
  std::vector<bool> closedAt, markerAt;
  user.pause = [&](int n) {
    if (n == 1) {
      // One command at a time: neither a command outside the gating nor one
      // inside it starts, nor does the option panel's box run its handler.
      EXPECT_TRUE(f.commandRunning());
      EXPECT_FALSE(f.click(f.BitBtn7));
      f.BitBtn6.enabled = true;
      EXPECT_FALSE(f.click(f.BitBtn6));
      f.BitBtn6.enabled = false;
      EXPECT_TRUE(f.BotInterromper.visible);
      EXPECT_TRUE(f.BotInterromper.enabled);
      // The heartbeat goes on.
      Clock::advanceMs(31000);
      p.pollTimers();
    }
    if (n == 2 || n == 4) closedAt.push_back(f.closeFromFrame());
    markerAt.push_back(fs::exists(marker()));
  };
  ASSERT_TRUE(f.click(f.btn1));

  // Asked twice: No goes on, Yes stops after the fourth order.
  EXPECT_EQ(user.questions, (std::vector<std::string>{kQuestion, kQuestion}));
  EXPECT_EQ(closedAt, (std::vector<bool>{false, false}));
  EXPECT_EQ(user.pauses, 4);
  EXPECT_EQ(markerAt, std::vector<bool>(4, true));  // the marker stays while the command runs
  EXPECT_EQ(cnpjRuns, 0);
  EXPECT_EQ(ticks, 1);
  // The run says it was stopped, and how far it went, before the window
  // closes.
  EXPECT_EQ(user.messages,
            (std::vector<std::string>{cp("Procedimento interrompido: 4 pedidos percorridos, os "
                                         "nomes abreviados até aqui foram gravados."_cp)}));
  // Then the window closed, as the frame asked, and the marker went.
  EXPECT_TRUE(f.closed());
  EXPECT_FALSE(fs::exists(marker()));
  EXPECT_FALSE(f.commandRunning());

  ActingUser reader;
  Program after(reader);
  const auto names = orderNames(after.dataModule());
  ASSERT_EQ(names.size(), before.size());
  int pending = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(before[i].has_value());
    const std::string abbreviated = AbreviaNome(*before[i]).substr(0, 40);
    if (i < 4) {
      EXPECT_EQ(names[i], abbreviated);  // done before the stop, and kept
    } else {
      EXPECT_EQ(names[i], before[i]);  // never reached
      pending += abbreviated != *before[i];
    }
  }
  EXPECT_GT(pending, 0);
}

// The number of orders still without a book code, and CONFIG.CODLIVRO.
std::pair<int, int> bookCodes(TDM& dm) {
  dm.sqldsPedidos.close();
  dm.sqldsPedidos.setCommandText(
      "select count(*) as N from PEDIDOS where MEDICO is not null and CODLIVRO is null");
  dm.cdsPedidos.open();
  const int left = dm.cdsPedidos.fieldByName("N").asInteger();
  dm.cdsPedidos.close();
  dm.sqldsPedidos.close();
  dm.cds_ConfigServidor.open();
  const int last = dm.cds_ConfigServidor.fieldByName("CODLIVRO").asInteger();
  dm.cds_ConfigServidor.close();
  return {left, last};
}

TEST_F(SampleTest, InterromperStopsTheBookCodesAfterTheCurrentOrderThroughTheRunner) {
  std::pair<int, int> before;
  {
    ActingUser reader;
    Program p(reader);
    before = bookCodes(p.dataModule());
  }
  ASSERT_GT(before.first, 3);

  // BitBtn5 lets events through three times before its walk, then after
  // every order: "Interromper" at the fifth pause stops it after the second
  // order. CONFIG moves past the two codes, the closing message says the
  // run was stopped, and the commands are enabled again.
  std::istringstream script(
      "invoke BotFormulaOrfan\n"
      "during 5 interrupt\n"
      "click BitBtn5\n"
      "state\n");
  std::ostringstream transcript, errors;
  ASSERT_EQ(RunScript(script, transcript, errors), 0) << errors.str();
  const std::string t = transcript.str();
  EXPECT_EQ(t.substr(0, t.find("{\"event\":\"state\"")),
            "{\"event\":\"message\",\"text\":\"Procedimento concluído com sucesso.\"}\n"
            "{\"event\":\"message\",\"text\":\"Procedimento interrompido: 2 pedidos numerados, o último "
            "código foi gravado.\"}\n");
  EXPECT_NE(t.find("\"BotSair\":{\"enabled\":true"), std::string::npos) << t;
  EXPECT_NE(t.find("\"PainelCG\":false"), std::string::npos) << t;

  ActingUser reader;
  Program p(reader);
  EXPECT_EQ(bookCodes(p.dataModule()), std::make_pair(before.first - 2, before.second + 2));
}

// Every file under a folder with its content.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    files[fs::relative(e.path(), root).string()] = s.str();
  }
  return files;
}

TEST_F(SampleTest, DemonstrationRunsOnASampleOfItsOwnAndLeavesDriveCAlone) {
  const fs::path root = DriveC::root();
  const auto before = snapshot(root.parent_path());
  std::ostringstream out, err;
  ASSERT_EQ(RunDemonstration(out, err, [] { CreateSample("small", false); }), 0) << err.str();
  EXPECT_EQ(DriveC::root(), root);
  EXPECT_EQ(snapshot(root.parent_path()), before);  // nothing written here nor next to it
  const std::string text = out.str();
  EXPECT_NE(text.find("22 CNPJs foram corrigidos"), std::string::npos) << text;
  const std::string kept = "A instalação de exemplo e a imagem ficam em ";
  const std::size_t at = text.find(kept);
  ASSERT_NE(at, std::string::npos) << text;
  const fs::path folder = text.substr(at + kept.size(), text.find('\n', at) - at - kept.size());
  EXPECT_TRUE(fs::exists(folder / "drive_c" / "VITRALON"));
  EXPECT_NE(folder, root.parent_path());
  std::error_code ec;
  fs::remove_all(folder, ec);
}

}  // namespace
}  // namespace cg
