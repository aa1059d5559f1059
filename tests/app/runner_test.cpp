// Whole runs of the headless runner: start-up, the single-module marker,
// the heartbeat, the script actions and the exact transcript lines.
#include <chrono>
#include <regex>
#include <thread>

#include "app/cli/script_ui.h"
#include "shell_fixture.h"

using namespace cg;
using shelltest::kRefusalUtf8;
using shelltest::ShellTest;

namespace {

const std::string kClosed = "{\"event\":\"closed\"}";

// The marker text a state record holds, as the JSON string's content.
std::string markerOf(const std::string& stateLine) {
  std::smatch m;
  if (!std::regex_search(stateLine, m, std::regex("\"marker\":(null|\"([^\"]*)\")"))) return "<missing>";
  return m[1] == "null" ? "null" : m[2].str();
}

// Seconds between two marker stamps ("dd/mm/yyyy hh:nn:ss\r\n" as JSON).
double secondsBetween(const std::string& a, const std::string& b) {
  auto parse = [](std::string s) { return StrToDateTime(s.substr(0, s.find('\\'))); };
  return (parse(b) - parse(a)) * 86400.0;
}

std::string stamp() { return "\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\\\\r\\\\n"; }

}  // namespace

class RunnerTest : public ShellTest {};

TEST_F(RunnerTest, StateRecordAtStart) {
  auto lines = run("state\n");
  ASSERT_EQ(lines.size(), 2u);
  const std::string expected =
      "{\"event\":\"state\",\"buttons\":{"
      "\"BotSair\":{\"enabled\":true,\"visible\":true},"
      "\"BotCorrecaoComp\":{\"enabled\":false,\"visible\":true},"
      "\"BitBtn6\":{\"enabled\":false,\"visible\":true},"
      "\"BitBtn1\":{\"enabled\":false,\"visible\":true},"
      "\"BotCorrigeCadMed\":{\"enabled\":false,\"visible\":true},"
      "\"BotAjusta\":{\"enabled\":false,\"visible\":true},"
      "\"BotAbreviaNomeCli\":{\"enabled\":false,\"visible\":true},"
      "\"BotAcertaGrupoSinon\":{\"enabled\":false,\"visible\":true},"
      "\"BotAbreviaNomeMed\":{\"enabled\":false,\"visible\":true},"
      "\"BitBtn5\":{\"enabled\":false,\"visible\":true},"
      "\"btn1\":{\"enabled\":false,\"visible\":true},"
      "\"BitBtn7\":{\"enabled\":true,\"visible\":true},"
      "\"BitBtn2\":{\"enabled\":false,\"visible\":true},"
      "\"BotFormulaOrfan\":{\"enabled\":true,\"visible\":false},"
      "\"BotFormulaOrfanArqQM\":{\"enabled\":true,\"visible\":false},"
      "\"BotCancelFormatCli\":{\"enabled\":true,\"visible\":true},"
      "\"BotConfirmaFormatCli\":{\"enabled\":true,\"visible\":true},"
      "\"BotCancelFormatMed\":{\"enabled\":true,\"visible\":true},"
      "\"BotConfirmaFormatMed\":{\"enabled\":true,\"visible\":true},"
      "\"BitBtn4\":{\"enabled\":true,\"visible\":true},"
      "\"BitBtn3\":{\"enabled\":true,\"visible\":true}},"
      "\"panels\":{\"PainelConsistG\":true,\"PainelCG\":false,\"PainelAguarde\":false,"
      "\"PainelFormatCliAntigo\":false,\"PainelFormatCliNovo\":false,\"PainelFormatMedAntigo\":false,"
      "\"PainelFormatMedNovo\":false,\"PainelCorrigComponentes\":false},"
      "\"caption\":\"Consistência Geral BD - \\\"em desenvolvimento\\\"\","
      "\"gauge\":{\"min\":0,\"max\":100,\"position\":0},\"colour\":12345,\"marker\":\"STAMP\",\"current\":{}"
      "}";
  const std::string marker = markerOf(lines[0]);
  EXPECT_TRUE(std::regex_match(marker, std::regex(stamp()))) << marker;
  std::string got = lines[0];
  got.replace(got.find(marker), marker.size(), "STAMP");
  EXPECT_EQ(got, expected);
  EXPECT_EQ(lines[1], kClosed);
  EXPECT_FALSE(markerExists());  // the closing at the end deleted it
}

TEST_F(RunnerTest, OnlyTheTaxNumberCleaningAndExitRespondAtStart) {
  std::string script;
  for (const char* b :
       {"BotCorrecaoComp", "BitBtn6", "BitBtn1", "BotCorrigeCadMed", "BotAjusta", "BotAbreviaNomeCli",
        "BotAcertaGrupoSinon", "BotAbreviaNomeMed", "BitBtn5", "btn1", "BitBtn2"})
    script += std::string("click ") + b + "\n";
  script += "# a comment, then blank lines\n\n   \nkey Enter\nclick BotSair\nstate\nclick BitBtn7\n";
  auto lines = run(script);
  std::vector<std::string> expected;
  for (const char* b :
       {"BotCorrecaoComp", "BitBtn6", "BitBtn1", "BotCorrigeCadMed", "BotAjusta", "BotAbreviaNomeCli",
        "BotAcertaGrupoSinon", "BotAbreviaNomeMed", "BitBtn5", "btn1", "BitBtn2"})
    expected.push_back(std::string("{\"event\":\"ignored\",\"action\":\"click ") + b +
                       "\",\"why\":\"disabled\"}");
  expected.push_back("{\"event\":\"ignored\",\"action\":\"key Enter\",\"why\":\"no button answers Enter\"}");
  expected.push_back(kClosed);  // Sair closed the window; the rest is read and not run
  EXPECT_EQ(lines, expected);
  EXPECT_FALSE(markerExists());
}

TEST_F(RunnerTest, EscapeClosesTheIdleWindow) {
  EXPECT_EQ(run("key Escape\nstate\n"), std::vector<std::string>{kClosed});
  EXPECT_FALSE(markerExists());
}

TEST_F(RunnerTest, ClosingByTheFrameDeletesTheMarker) {
  auto lines = run("state\nclose\nstate\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], kClosed);
  EXPECT_FALSE(markerExists());
}

TEST_F(RunnerTest, ScriptsThatCannotRunExitWithTwo) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"state\njump BotSair\n", "linha 2: ação desconhecida: jump"},
      {"click BotNada\n", "linha 1: componente desconhecido: BotNada"},
      {"click PainelCG\n", "PainelCG não é um botão"},
      {"check BotSair\n", "BotSair não é um botão de opção"},
      {"type RadioButton1 5\n", "RadioButton1 não é uma caixa de texto"},
      {"key Tab\n", "tecla desconhecida: Tab"},
      {"answer maybe\n", "resposta deve ser yes ou no"},
      {"wait soon\n", "segundos inválidos"},
      {"wait -1\n", "segundos inválidos"},
      {"row GradeCliNovos 0\n", "linha inválida"},
      {"row BotSair 1\n", "BotSair não é uma grade"},
      {"state now\n", "texto a mais"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    int code = -1;
    std::string errors;
    auto lines = run(c.script, &code, &errors);
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(lines.empty());  // nothing ran
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
  }
  EXPECT_FALSE(markerExists());

  std::ostringstream out, err;
  EXPECT_EQ(RunScriptFile((dir_.path() / "nao-existe.txt").string(), out, err), 2);
  EXPECT_NE(err.str().find("nao-existe.txt"), std::string::npos);
}

TEST_F(RunnerTest, ScriptFileWithWindowsLineEnds) {
  const auto file = dir_.path() / "roteiro.txt";
  std::ofstream(file, std::ios::binary) << "state\r\nkey Escape\r\n";
  std::ostringstream out, err;
  EXPECT_EQ(RunScriptFile(file.string(), out, err), 0) << err.str();
  EXPECT_NE(out.str().find("{\"event\":\"state\""), std::string::npos);
  EXPECT_NE(out.str().find(kClosed), std::string::npos);
}

TEST_F(RunnerTest, AFreshMarkerOfAnotherModuleRefusesTheStartAndIsKept) {
  for (double age : {30.0, 0.0, -60.0}) {  // 30 s old, just written, a minute in the future
    SCOPED_TRACE(age);
    writeMarkerAged(age);
    const std::string before = markerContent();
    auto lines = run("state\nclick BitBtn7\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"{\"event\":\"message\",\"text\":" + q(kRefusalUtf8) + "}",
                                               kClosed}));
    ASSERT_TRUE(markerExists());
    EXPECT_EQ(markerContent(), before);  // the other module's stamp stays
  }
}

TEST_F(RunnerTest, AStaleMarkerIsTakenOver) {
  writeMarkerAged(41);
  const std::string before = markerContent();
  auto lines = run("state\n");
  ASSERT_EQ(lines.size(), 2u);
  const std::string now = markerOf(lines[0]);
  EXPECT_TRUE(std::regex_match(now, std::regex(stamp()))) << now;
  const std::string beforeJson = before.substr(0, before.size() - 2) + "\\r\\n";
  EXPECT_NEAR(secondsBetween(beforeJson, now), 41.0, 1.0);
  EXPECT_NE(lines[0].find("\"colour\":12345"), std::string::npos);
  EXPECT_FALSE(markerExists());
}

TEST_F(RunnerTest, TheAgeLimitLiesBetweenFortyAndFortyOneSeconds) {
  // Days times 84600 must exceed 40: about 40.85 real seconds. With the
  // program's clock 100 ms past a whole second, a stamp 40 whole seconds
  // back is 40.1 s old (refused), one 41 seconds back is 41.1 s old (taken).
  Clock::advanceMs((1100 - Clock::nowMs() % 1000) % 1000);
  const int64_t second = Clock::nowMs() / 1000;
  writeMarker(DateTimeToStr(UnixToDateTime(second - 40)) + "\r\n");
  EXPECT_EQ(run("state\n").front(), "{\"event\":\"message\",\"text\":" + q(kRefusalUtf8) + "}");
  writeMarker(DateTimeToStr(UnixToDateTime(second - 41)) + "\r\n");
  EXPECT_EQ(run("state\n").front().rfind("{\"event\":\"state\"", 0), 0u);
}

TEST_F(RunnerTest, AMarkerThatIsNotADateIsReportedAndLeftAlone) {
  writeMarker("isto n\xE3o \xE9 data\r\n");
  auto lines = run("state\nwait 95\nstate\n");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex("\\{\"event\":\"error\",\"class\":\"EConvertError\",\"text\":\".+\"\\}")))
      << lines[0];
  // The colour step did not run; the window stays open with no heartbeat.
  EXPECT_NE(lines[1].find("\"colour\":-16777201"), std::string::npos) << lines[1];
  EXPECT_EQ(markerOf(lines[1]), "isto não é data\\r\\n");
  EXPECT_EQ(markerOf(lines[2]), "isto não é data\\r\\n");
  EXPECT_NE(lines[2].find("\"BotSair\":{\"enabled\":true"), std::string::npos);
  EXPECT_EQ(lines[3], kClosed);
  EXPECT_FALSE(markerExists());  // closing deletes it all the same
}

TEST_F(RunnerTest, AMarkerThatCannotBeReadIsReported) {
  std::filesystem::create_directory(markerFile());  // a folder in the marker's place
  auto lines = run("wait 31\nstate\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "{\"event\":\"error\",\"class\":\"EInOutError\",\"text\":\"Erro de entrada/saída ao ler "
            "C:\\\\VITRALON\\\\Em_Uso.txt (há uma pasta com esse nome).\"}");
  EXPECT_NE(lines[1].find("\"colour\":-16777201"), std::string::npos);
  EXPECT_EQ(markerOf(lines[1]), "null");
  EXPECT_TRUE(std::filesystem::is_directory(markerFile()));  // not ours to delete
}

TEST_F(RunnerTest, AMissingRootStopsTheHeartbeatBeforeItStarts) {
  std::filesystem::remove_all(cg::DriveC::resolve("C:\\VITRALON"));
  auto lines = run("wait 40\nstate\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex("\\{\"event\":\"error\",\"class\":\"EInOutError\",\"text\":\".+\"\\}")))
      << lines[0];
  EXPECT_NE(lines[0].find("C:\\\\VITRALON\\\\Em_Uso.txt"), std::string::npos);
  EXPECT_NE(lines[1].find("\"colour\":-16777201"), std::string::npos);
  EXPECT_EQ(markerOf(lines[1]), "null");
  EXPECT_EQ(lines[2], kClosed);
}

TEST_F(RunnerTest, TheHeartbeatRewritesTheMarkerEveryThirtySeconds) {
  auto lines = run("state\nwait 29\nstate\nwait 1\nstate\nwait 65\nstate\n");
  ASSERT_EQ(lines.size(), 5u);
  const std::string t0 = markerOf(lines[0]);
  EXPECT_EQ(markerOf(lines[1]), t0);
  const std::string t30 = markerOf(lines[2]);
  EXPECT_NEAR(secondsBetween(t0, t30), 30.0, 1.0);
  // Two more ticks fell due within the 65 s, at 60 and 90.
  EXPECT_NEAR(secondsBetween(t0, markerOf(lines[3])), 90.0, 1.0);
  EXPECT_EQ(lines[4], kClosed);
}

TEST_F(RunnerTest, AWaitOfYearsEndsWithTheHeartbeatAtItsLastTick) {
  // A wait past an hour jumps to its last hour: the run ends, and the
  // marker holds the last tick's time, at most 30 s before the wait's end.
  auto lines = run("state\nwait 1000000000\nstate\n");
  ASSERT_EQ(lines.size(), 3u);
  const double moved = secondsBetween(markerOf(lines[0]), markerOf(lines[1]));
  EXPECT_LE(moved, 1e9);
  EXPECT_GE(moved, 1e9 - 31);
  EXPECT_EQ(lines[2], kClosed);
}

TEST_F(RunnerTest, ActionsOnClosedGridsAndRepeatedFocus) {
  auto lines = run("row GradeCliNovos 1\ntype Edit1 12,5 %\nfocus Edit1\nfocus Edit1\ncheck RadioButton4\n");
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "{\"event\":\"ignored\",\"action\":\"row GradeCliNovos 1\",\"why\":\"table closed\"}",
                "{\"event\":\"ignored\",\"action\":\"focus Edit1\",\"why\":\"already focused\"}", kClosed}));
}

TEST_F(RunnerTest, AStoppedOperationIsReportedAndTheWindowRestored) {
  // No data directory: the client name abbreviation stops at its first table.
  auto lines = run("invoke BotAbreviaNomeCli\nstate\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("{\"event\":\"error\",\"class\":\"E", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("\"BotSair\":{\"enabled\":true"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"PainelCG\":false"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"current\":{}"), std::string::npos) << lines[1];
}

TEST_F(RunnerTest, QuestionsTakeQueuedAnswersAndProcessesReallyStart) {
  std::ostringstream out;
  ScriptInterface ui(out);
  ui.queueAnswer(true);
  EXPECT_TRUE(ui.confirm(fromUtf8("Confirma a substituição ?")));
  EXPECT_FALSE(ui.confirm("Outra?"));
  ui.queueAnswer(false);
  EXPECT_FALSE(ui.confirm("Mais uma?"));
  ui.showMessage("Linha 1\rLinha \"2\"\\");

  const auto done = cg::DriveC::resolve("C:\\VITRALON") / "feito.txt";
  std::ofstream(cg::DriveC::resolve("C:\\VITRALON") / "Grava.bat", std::ios::binary)
      << "echo ok > '" << done.string() << "'\n";
  ui.startProcess("C:\\VITRALON\\Grava.bat ", std::chrono::milliseconds(0));

  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  EXPECT_EQ(
      lines,
      (std::vector<std::string>{
          "{\"event\":\"confirm\",\"text\":\"Confirma a substituição ?\",\"answer\":\"yes\",\"queued\":true}",
          "{\"event\":\"confirm\",\"text\":\"Outra?\",\"answer\":\"no\",\"queued\":false}",
          "{\"event\":\"confirm\",\"text\":\"Mais uma?\",\"answer\":\"no\",\"queued\":true}",
          "{\"event\":\"message\",\"text\":\"Linha 1\\rLinha \\\"2\\\"\\\\\"}",
          "{\"event\":\"exec\",\"command\":\"C:\\\\VITRALON\\\\Grava.bat \"}"}));
  for (int i = 0; i < 100 && !std::filesystem::exists(done); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(std::filesystem::exists(done));
}
