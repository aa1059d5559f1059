// Simulated runs of whole repairs (consistgeral --simular): for every repair,
// through both transports for those that write to the server, the rows the
// simulation records are, row for row, those a real run on a copy of the same
// installation changes (the two runs' reports compared), while every table
// file stays byte for byte as it was, with no log beside it, every server row
// as it was, and nothing locked. A simulation killed half-way leaves every
// file and row as before; during one, other programs read the files but
// cannot write them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "reliability/child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

using Param = RepairVia;

// Every file under VITRALON but the journal's folder and the server
// database (whose header the engine rewrites on every attachment), with its
// bytes: table files, their logs if any, the reports.
std::map<std::string, std::string> filesOf(const fs::path& driveC) {
  std::map<std::string, std::string> out;
  const fs::path root = driveC / "VITRALON";
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (rel.rfind("CONSISTGERAL", 0) == 0) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || it->path().extension() == ".bd" || rel == "Em_Uso.txt") continue;
    out[rel] = ReadFile(it->path());
  }
  return out;
}

void expectFilesAsBefore(const std::map<std::string, std::string>& before,
                         const std::map<std::string, std::string>& after) {
  for (const auto& [file, bytes] : after) {
    auto it = before.find(file);
    if (it == before.end()) {
      ADD_FAILURE() << file << ": a file that was not there before";
      continue;
    }
    EXPECT_TRUE(it->second == bytes) << file << ": not byte for byte as before";
  }
  for (const auto& [file, bytes] : before) EXPECT_TRUE(after.count(file)) << file << ": gone";
}

// The run numbers of the transcript's simulated clicks ({"event":"simulation","run":N}).
std::vector<int> simulatedRuns(const std::string& output) {
  std::vector<int> runs;
  const std::string tag = "{\"event\":\"simulation\",\"run\":";
  for (size_t at = output.find(tag); at != std::string::npos; at = output.find(tag, at + 1))
    runs.push_back(std::atoi(output.c_str() + at + tag.size()));
  return runs;
}

// A report's lines (CRLF ends; a quoted field may hold line breaks) by
// table, each table's lines in the report's order.
std::map<std::string, std::vector<std::string>> reportLines(const fs::path& driveC, int run,
                                                            const fs::path& csv) {
  ChildResult r = RunProgram(driveC, {"--relatorio", std::to_string(run), csv.string()});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string bytes = ReadFile(csv);
  std::map<std::string, std::vector<std::string>> out;
  std::string line;
  bool quoted = false;
  bool header = true;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      if (!header) out[line.substr(0, line.find(';'))].push_back(line);
      header = false;
      line.clear();
      ++i;
      continue;
    }
    line += c;
  }
  EXPECT_TRUE(line.empty()) << "the last line has no CRLF: " << line;
  return out;
}

size_t lineCount(const std::map<std::string, std::vector<std::string>>& lines) {
  size_t n = 0;
  for (const auto& [table, l] : lines) n += l.size();
  return n;
}

// Every table's records, by file.
std::map<std::string, std::vector<std::string>> rowsOf(const fs::path& driveC) {
  std::map<std::string, std::vector<std::string>> out;
  for (auto& [file, t] : ImageOfTables(driveC)) {
    EXPECT_EQ(t.integrity, "ok") << file;
    out[file] = t.rows;
  }
  return out;
}

// Another program takes each table file's write lock and lets it go.
void expectNoLock(const fs::path& driveC) {
  for (const auto& e : fs::recursive_directory_iterator(driveC / "VITRALON")) {
    if (e.path().extension() != ".DB" && e.path().extension() != ".db") continue;
    if (e.path().string().find("CONSISTGERAL") != std::string::npos) continue;
    execOn(e.path(), "BEGIN IMMEDIATE; COMMIT;");
  }
}

// The quarter-size sample, made once per build folder (next to the test
// program) and copied for each case: its making takes seconds.
fs::path quarterSample() {
  const fs::path dir = fs::read_symlink("/proc/self/exe").parent_path() / "quarter-sample";
  const fs::path done = dir / ".complete";
  if (fs::exists(done)) return dir;
  // Tests running side by side make it once: the first one that gets the lock.
  const fs::path lockFile = dir.string() + ".lock";
  const int fd = ::open(lockFile.c_str(), O_CREAT | O_RDWR, 0600);
  EXPECT_GE(fd, 0) << lockFile;
  ::flock(fd, LOCK_EX);
  if (!fs::exists(done)) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    ChildResult r = RunProgram(dir, {"--create-sample", "--scale", "quarter"}, {}, 600);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    if (r.exitCode == 0) WriteFile(done, "");
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
  return dir;
}

// The exactness check of one repair on a copy of the sample in `pristine`
// (or on a fresh small sample when it is empty).
void checkSimulation(const Param& p, const fs::path& pristine) {
  std::string why;
  if (p.via == Via::Server && !EnsureTestServer(why)) GTEST_SKIP() << why;
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  const fs::path copy = work.path() / "copia";
  fs::create_directories(drive);
  if (pristine.empty())
    CreateSample(drive);
  else
    CopyTree(pristine, drive);
  std::error_code ec;
  fs::remove(drive / ".complete", ec);
  UseTransport(drive, p.via);
  RemoveMarker(drive);
  CopyTree(drive, copy);
  const auto files = filesOf(drive);
  const auto rows = rowsOf(drive);
  const auto serverRows = ServerImage(drive);

  const fs::path script = work.path() / "roteiro.txt";
  WriteFile(script, p.repair.script);
  // The order names on the quarter-size sample take minutes.
  const int seconds = pristine.empty() ? 120 : 900;
  ChildResult sim = RunProgram(drive, {"--simular", "--script", script.string()}, {}, seconds);
  ASSERT_EQ(sim.exitCode, 0) << sim.output;
  ASSERT_TRUE(EventLines(sim.output, "error").empty()) << sim.output;
  EXPECT_TRUE(EventLines(sim.output, "exec").empty()) << "a command file started:\n" << sim.output;
  const std::vector<int> runs = simulatedRuns(sim.output);
  ASSERT_EQ(static_cast<int>(runs.size()), CommandsIn(p.repair.script)) << sim.output;

  // Nothing written, nothing left locked, no log beside any file.
  expectFilesAsBefore(files, filesOf(drive));
  EXPECT_TRUE(rowsOf(drive) == rows);
  EXPECT_TRUE(ServerImage(drive) == serverRows) << "server rows changed by a simulation";
  expectNoLock(drive);

  // The real run on the copy: each click's report equals its simulation's,
  // but for the register the confirmation replaces (the simulation starts
  // no command file: it lists it instead).
  ChildResult real = RunProgram(copy, {"--script", script.string()}, {}, seconds);
  ASSERT_EQ(real.exitCode, 0) << real.output;
  ASSERT_TRUE(EventLines(real.output, "error").empty()) << real.output;
  size_t changed = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE("clique " + std::to_string(i + 1));
    auto simulated = reportLines(drive, runs[i], work.path() / ("sim" + std::to_string(i) + ".csv"));
    auto actual =
        reportLines(copy, static_cast<int>(i) + 1, work.path() / ("real" + std::to_string(i) + ".csv"));
    const size_t replaced = EventLines(real.output, "exec").size();
    if (replaced > 0 && i + 1 == runs.size()) {
      // The confirmation: one register replaced for real, none simulated.
      EXPECT_EQ(lineCount(actual), 1u);
      EXPECT_EQ(lineCount(simulated), 0u);
      EXPECT_NE(sim.output.find("o arquivo de comandos C:\\\\VITRALON\\\\Format"), std::string::npos)
          << sim.output;
      continue;
    }
    EXPECT_EQ(simulated, actual) << lineCount(simulated) << " lines simulated, " << lineCount(actual)
                                 << " in the real run";
    changed += lineCount(actual);
  }
  EXPECT_GT(changed, 0u) << "the repair changed nothing on the sample";

  // The journal keeps the simulation as one and refuses to undo it.
  RemoveMarker(drive);
  ChildResult undo = RunProgram(drive, {"--desfazer", std::to_string(runs.back()), "--confirmar"});
  EXPECT_EQ(undo.exitCode, 1) << undo.output;
  EXPECT_NE(undo.output.find("foi uma simula\xC3\xA7\xC3\xA3o: nada foi gravado"), std::string::npos)
      << undo.output;
}

class Simulacao : public ::testing::TestWithParam<Param> {};

TEST_P(Simulacao, RecordsExactlyTheRowsOfARealRunAndLeavesEveryFileAndRowAsItWas) {
  checkSimulation(GetParam(), {});
}

// The same on the quarter-size sample: a longer check, left out of the test
// command for its time (about nine minutes on two cores); scripts/
// simulation-check.sh runs it.
class SimulacaoQuarto : public ::testing::TestWithParam<Param> {};

TEST_P(SimulacaoQuarto, RecordsExactlyTheRowsOfARealRunAndLeavesEveryFileAndRowAsItWas) {
  const fs::path sample = quarterSample();
  ASSERT_TRUE(fs::exists(sample / ".complete")) << "the quarter-size sample could not be made";
  checkSimulation(GetParam(), sample);
}

INSTANTIATE_TEST_SUITE_P(Reparos, Simulacao, ::testing::ValuesIn(EveryRepairThroughEachTransport()),
                         [](const ::testing::TestParamInfo<Param>& param) { return NameOf(param.param); });
INSTANTIATE_TEST_SUITE_P(Reparos, SimulacaoQuarto, ::testing::ValuesIn(EveryRepairThroughEachTransport()),
                         [](const ::testing::TestParamInfo<Param>& param) { return NameOf(param.param); });

// A simulation killed after a few of its writes, locally and on the server:
// every file and row as before. While one runs, another program reads the
// table it writes but cannot write it; once it has ended, it can.
TEST(SimulacaoInterrompida, AKilledSimulationLeavesEveryFileAndRowAsBefore) {
  struct Killed {
    const char* script;
    Via via;
  };
  const Killed cases[] = {{"invoke BotCorrigeCadMed\n", Via::Embedded},
                          {"invoke BotFormulaOrfan\n", Via::Embedded},
                          {"answer yes\ninvoke BitBtn1\n", Via::Embedded},
                          {"answer yes\ninvoke BitBtn1\n", Via::Server}};
  std::string why;
  const bool server = EnsureTestServer(why);
  for (const Killed& k : cases) {
    if (k.via == Via::Server && !server) continue;
    testsupport::TempDir work;
    const fs::path drive = work.path() / "c";
    fs::create_directories(drive);
    CreateSample(drive);
    UseTransport(drive, k.via);
    RemoveMarker(drive);
    const auto files = filesOf(drive);
    const auto rows = rowsOf(drive);
    const auto serverRows = ServerImage(drive);
    const fs::path script = work.path() / "roteiro.txt";
    WriteFile(script, k.script);
    // The simulation's write events, counted on a whole simulated run: the
    // kills fall at its first, in its middle and at its last.
    const fs::path countFile = work.path() / "escritas.txt";
    ChildResult whole = RunProgram(drive, {"--simular", "--script", script.string()},
                                   {{"CG_FAULT_COUNT_FILE", countFile.string()}});
    ASSERT_EQ(whole.exitCode, 0) << whole.output;
    const long writes = std::atol(ReadFile(countFile).c_str());
    ASSERT_GT(writes, 0) << whole.output;
    for (long point : std::set<long>{1L, (writes + 1) / 2, writes}) {
      SCOPED_TRACE(std::string(k.script) + " morto após a escrita " + std::to_string(point));
      ChildResult killed = RunProgram(drive, {"--simular", "--script", script.string()},
                                      {{"CG_FAULT_KILL_AFTER_WRITES", std::to_string(point)}});
      ASSERT_TRUE(killed.killed) << killed.output;
      RemoveMarker(drive);
      // The table files as bytes first (SQLite opening them may tidy a log).
      auto now = filesOf(drive);
      for (auto it = now.begin(); it != now.end();)
        it = it->first.size() > 4 && (it->first.ends_with("-wal") || it->first.ends_with("-shm"))
                 ? now.erase(it)
                 : ++it;
      expectFilesAsBefore(files, now);
      EXPECT_TRUE(rowsOf(drive) == rows);
      EXPECT_TRUE(ServerImage(drive) == serverRows);
      expectNoLock(drive);
    }
  }

  // During a simulation: readers go on, writers wait.
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  fs::create_directories(drive);
  CreateSample(drive);
  UseTransport(drive, Via::Embedded);
  RemoveMarker(drive);
  const fs::path medicos = drive / "VITRALON" / "DADOS" / "Medicos.DB";
  bool halted = false;
  ChildResult r = RunScriptHaltingAt(
      drive, "simulate on\ninvoke BotCorrigeCadMed\n", 20,
      [&] {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(medicos.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << "a reader is kept out during a simulation";
        EXPECT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_BUSY)
            << "another program could write a table the simulation writes";
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
      },
      halted);
  ASSERT_TRUE(halted) << r.output;
  ASSERT_EQ(r.exitCode, 0) << r.output;
  expectNoLock(drive);
}

}  // namespace
}  // namespace reliability
