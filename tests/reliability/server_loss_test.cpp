// The server goes away (its process killed) in the middle of each repair
// that works on it: the run ends with a clear message, the window is back in
// order, the rows the repair had already applied stay and nothing else
// changes. The program halts itself at a write event in the middle of its
// run (CG_FAULT_STOP_AFTER_WRITES) while the test kills the server; a server
// of the test's own is used, so that the shared test server stays up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>

#include "app/cli/json.h"
#include "child.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

struct LossCase {
  const char* name;
  const char* script;
  bool gated;        // the operation switches the commands off
  int portOffset;    // each case has a server of its own: cases run side by side
  bool singleApply;  // everything it changes on the server goes in one apply at the end
};

const LossCase kCases[] = {
    {"NomesPedidos", "state\ninvoke btn1\nstate\n", true, 0, false},
    {"CodLivro", "state\ninvoke BitBtn5\nstate\n", true, 1, false},
    {"CodigoComponente", "state\ninvoke BitBtn2\nstate\n", false, 2, false},
    // The component names then go on to the local purchases.
    {"NomesComponentes", "state\ninvoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\nstate\n", true, 3,
     true},
    {"CNPJ", "state\ninvoke BitBtn7\nstate\n", false, 4, true},
    {"NomesFormulas", "state\ninvoke BitBtn1\nstate\n", false, 5, true},
    {"Unidades", "state\ninvoke BotCorrecaoComp\ncheck RadioButton4\nclick BitBtn3\nstate\n", true, 6, true},
    {"Desconto", "state\ninvoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 10\nclick BitBtn3\nstate\n",
     true, 7, true},
};

// The cases of the test before the apply: the single-apply repairs, each on
// a port of its own after those of the first test.
std::vector<LossCase> singleApplyCases() {
  std::vector<LossCase> out;
  for (LossCase c : kCases)
    if (c.singleApply) {
      c.portOffset += static_cast<int>(std::size(kCases));
      out.push_back(c);
    }
  return out;
}

// Test names and failure output show the case by its name.
void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

// A Firebird server of this test alone (scripts/fbserver.sh on a port of its
// own, with its own folder).
class PrivateServer {
 public:
  PrivateServer(const fs::path& dir, int port) : dir_(dir), port_(port) {}
  ~PrivateServer() { run("stop"); }
  bool run(const std::string& command) {
    // Its lock folder is its own too: a server killed in the middle of its
    // work leaves its lock files there, not where the other tests' engines
    // keep theirs.
    const std::string cmd = "CG_FB_PORT=" + std::to_string(port_) + " CG_FB_DIR='" + dir_.string() +
                            "' FIREBIRD_LOCK='" + (dir_ / "lock").string() + "' bash '" + CG_SOURCE_DIR +
                            "/scripts/fbserver.sh' " + command + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }
  int port() const { return port_; }

 private:
  fs::path dir_;
  int port_;
};

int privatePort(int offset) {
  // Away from the shared test server's port (CG_FB_PORT, 3057 by default).
  const char* p = std::getenv("CG_FB_PORT");
  return (p && *p ? std::atoi(p) : 3057) + 11 + offset;
}

void useServer(const fs::path& driveC, int port) {
  std::string ini = ReadFile(driveC / "platform.ini");
  const size_t at = ini.find("[sql]");
  ASSERT_NE(at, std::string::npos);
  WriteFile(driveC / "platform.ini",
            ini.substr(0, at) + "[sql]\ntransport = server\nport = " + std::to_string(port) + "\n");
}

bool in(const std::vector<std::string>& sorted, const std::string& row) {
  return std::binary_search(sorted.begin(), sorted.end(), row);
}

// A sample installation in `driveC` whose server is `server`.
void sampleOn(const fs::path& driveC, int port) {
  fs::create_directories(driveC);
  CreateSample(driveC);
  useServer(driveC, port);
}

// What the run told the user: its error reports and messages.
std::vector<std::string> saidTo(const std::string& output) {
  std::vector<std::string> said = EventLines(output, "error");
  for (const std::string& m : EventLines(output, "message")) said.push_back(m);
  return said;
}

// True when a transcript line holds `text` (UTF-8), as the transcript
// writes it.
bool holds(const std::string& line, const std::string& text) {
  const std::string quoted = cg::json::quote(text);
  return line.find(quoted.substr(1, quoted.size() - 2)) != std::string::npos;
}

const std::string kLost = "Conexão com o servidor de banco de dados perdida: ";
const std::string kUnreachable = "Não foi possível conectar ao servidor de banco de dados: ";

class ServidorCai : public ::testing::TestWithParam<LossCase> {};

TEST_P(ServidorCai, TheRunEndsWithAClearMessageAndKeepsWhatWasApplied) {
  const LossCase& c = GetParam();
  // Small groups of statements, so that the server goes between commits.
  testsupport::ScopedEnv groups("CG_SQL_GROUP_STATEMENTS", "3");
  testsupport::TempDir work;
  PrivateServer server(work.path() / "fb", privatePort(c.portOffset));
  ASSERT_TRUE(server.run("start")) << "could not start a Firebird server on port " << server.port();

  const fs::path pristine = work.path() / "original";
  sampleOn(pristine, server.port());
  const auto before = ServerImage(pristine);
  const auto localBefore = ImageOfTables(pristine);

  const fs::path reference = work.path() / "referencia";
  CopyTree(pristine, reference);
  const fs::path countFile = work.path() / "escritas.txt";
  ChildResult whole = RunScript(reference, c.script, {{"CG_FAULT_COUNT_FILE", countFile.string()}});
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  const auto afterOne = ServerImage(reference);
  const auto localAfter = ImageOfTables(reference);
  const long writes = std::atol(ReadFile(countFile).c_str());
  ASSERT_GT(writes, 0);

  const fs::path drive = work.path() / "c";
  CopyTree(pristine, drive);
  const long middle = (writes + 1) / 2;
  bool halted = false;
  ChildResult r = RunScriptHaltingAt(
      drive, c.script, middle, [&] { EXPECT_TRUE(server.run("kill")); }, halted);
  ASSERT_TRUE(halted) << "the run did not reach write event " << middle << " of " << writes;
  EXPECT_EQ(r.exitCode, 0) << r.output;
  ExpectWindowInOrder(r.output, c.gated);

  ASSERT_TRUE(server.run("start"));
  const auto left = ServerImage(drive);
  const auto localLeft = ImageOfTables(drive);
  int kept = 0;
  for (const auto& [table, rows] : left) {
    if (std::string(c.name) == "CodLivro" && table == "CONFIG") {
      ExpectBookCodeConfig(rows, before.at(table), afterOne.at(table), drive);
      continue;
    }
    for (const std::string& row : rows) {
      EXPECT_TRUE(in(before.at(table), row) || in(afterOne.at(table), row))
          << table << ": row neither as before nor as repaired: " << row;
      if (!in(before.at(table), row)) ++kept;
    }
  }
  for (const auto& [file, table] : localLeft) {
    EXPECT_EQ(table.integrity, "ok") << file;
    for (const std::string& row : table.rows) {
      EXPECT_TRUE(in(localBefore.at(file).rows, row) || in(localAfter.at(file).rows, row))
          << file << ": record neither as before nor as repaired: " << row;
      if (!in(localBefore.at(file).rows, row)) ++kept;
    }
  }
  EXPECT_GT(kept, 0) << "what the repair wrote before the server went away is gone";

  // Either the repair had sent everything before the server went (it ends
  // as an uninterrupted run does), or the loss is told in plain words.
  auto tells = [&](const std::string& line) { return holds(line, kLost) || holds(line, kUnreachable); };
  const std::vector<std::string> said = saidTo(r.output);
  const bool told = std::any_of(said.begin(), said.end(), tells);
  // A loss is told once, not once for every record left: the book code fill
  // shows the order it could not write, the configuration it could not
  // reach and its closing line; the others stop with the error. What an
  // uninterrupted run also says (the formula names refused one by one as
  // they are applied) does not count.
  const std::vector<std::string> wholeSaid = saidTo(whole.output);
  const auto beyondWholeRun = std::count_if(said.begin(), said.end(), [&](const std::string& line) {
    return std::find(wholeSaid.begin(), wholeSaid.end(), line) == wholeSaid.end();
  });
  EXPECT_LE(beyondWholeRun, 3) << r.output;
  if (!told) {
    EXPECT_TRUE(left == afterOne) << "the server rows differ from a whole run and nothing was said:\n"
                                  << r.output;
    EXPECT_EQ(EventLines(r.output, "error"), EventLines(whole.output, "error")) << r.output;
  }
  std::cout << c.name << ": halted at write event " << middle << " of " << writes << ", "
            << (told ? "loss reported" : "nothing left to send") << "\n";
}

INSTANTIATE_TEST_SUITE_P(Reparos, ServidorCai, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LossCase>& param) {
                           return std::string(param.param.name);
                         });

// The server goes while the repair walks its rows, before it has sent
// anything: the loss is told, the window is back in order and the server
// rows are exactly as they were.
class ServidorCaiAntesDoEnvio : public ::testing::TestWithParam<LossCase> {};

TEST_P(ServidorCaiAntesDoEnvio, NothingChangesAndTheLossIsTold) {
  const LossCase& c = GetParam();
  testsupport::TempDir work;
  PrivateServer server(work.path() / "fb", privatePort(c.portOffset));
  ASSERT_TRUE(server.run("start")) << "could not start a Firebird server on port " << server.port();
  const fs::path drive = work.path() / "c";
  sampleOn(drive, server.port());
  const auto before = ServerImage(drive);
  const auto localBefore = ImageOfTables(drive);

  bool halted = false;
  ChildResult r = RunScriptHaltingAt(drive, c.script, 0, [&] { EXPECT_TRUE(server.run("kill")); }, halted,
                                     {{"CG_FAULT_STOP_BEFORE_SERVER_WRITES", "1"}});
  ASSERT_TRUE(halted) << "the run sent nothing to the server:\n" << r.output;
  EXPECT_EQ(r.exitCode, 0) << r.output;
  ExpectWindowInOrder(r.output, c.gated);

  ASSERT_TRUE(server.run("start"));
  EXPECT_TRUE(ServerImage(drive) == before) << "the server rows changed:\n" << r.output;
  const auto localAfter = ImageOfTables(drive);
  for (const auto& [file, table] : localAfter) {
    EXPECT_EQ(table.integrity, "ok") << file;
    EXPECT_EQ(table.rows, localBefore.at(file).rows) << file;
  }
  const std::vector<std::string> said = saidTo(r.output);
  ASSERT_EQ(said.size(), 1u) << r.output;
  EXPECT_TRUE(holds(said[0], kLost)) << said[0];
  std::cout << c.name << ": " << said[0] << "\n";
}

INSTANTIATE_TEST_SUITE_P(Reparos, ServidorCaiAntesDoEnvio, ::testing::ValuesIn(singleApplyCases()),
                         [](const ::testing::TestParamInfo<LossCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace reliability
