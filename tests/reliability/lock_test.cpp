// Another program holds the write lock of a table a repair needs, for the
// whole run: the repair stops with the engine's message and the window is
// back in order (panels hidden, commands enabled, tables closed), the locked
// table is untouched, and once the lock is gone the repair finishes as if
// nothing had happened. The orders pass of the CRM correction is the one
// exception: a locked order is reported and the scan goes on. Last, many
// programs started at the same moment: exactly one of them goes on.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "app/cli/json.h"
#include "child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

std::string lockedError(const std::string& windowsPath) {
  return "{\"event\":\"error\",\"class\":\"ERecordLocked\",\"text\":" +
         cg::json::quote("Registro bloqueado por outro usuário.\rTabela: " + windowsPath) + "}";
}

struct LockCase {
  const char* name;
  const char* script;
  const char* file;         // under VITRALON
  const char* windowsPath;  // as the message names it
  bool gated;               // the operation switches the commands
};

const LockCase kStopping[] = {
    {"OrfasAtivas", "state\ninvoke BotFormulaOrfan\nstate\n", "DADOS/PEDIFORM.DB",
     "C:\\VITRALON\\DADOS\\PEDIFORM.DB", false},
    {"OrfasArquivoMorto", "state\ninvoke BotFormulaOrfanArqQM\nstate\n", "ARQMORTO/pediform.DB",
     "C:\\VITRALON\\ARQMORTO\\PEDIFORM.DB", false},
    {"GrupoSinonimos", "state\ninvoke BotAcertaGrupoSinon\nstate\n", "DADOS/Sinonimo.DB",
     "C:\\VITRALON\\DADOS\\Sinonimo.DB", true},
    {"ParametrosTecnicos", "state\ninvoke BotAjusta\nstate\n", "DADOS/Componen.DB",
     "C:\\VITRALON\\DADOS\\Componen.DB", true},
    {"CustoFixo", "state\ninvoke BitBtn6\nstate\n", "DADOS/Componen.DB", "C:\\VITRALON\\DADOS\\componen.DB",
     false},
    {"CRMMedicos", "state\ninvoke BotCorrigeCadMed\nstate\n", "DADOS/Medicos.DB",
     "C:\\VITRALON\\DADOS\\Medicos.DB", false},
    {"AbreviaClientes", "state\ninvoke BotAbreviaNomeCli\nstate\n", "INTER/Clientes.DB",
     "C:\\VITRALON\\INTER\\Clientes.DB", true},
    {"AbreviaMedicos", "state\ninvoke BotAbreviaNomeMed\nstate\n", "INTER/Medicos.DB",
     "C:\\VITRALON\\INTER\\Medicos.DB", true},
};

// Test names and failure output show the case by its name.
void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class Trava : public ::testing::TestWithParam<LockCase> {};

TEST_P(Trava, TheRepairStopsWithTheEngineMessageAndLosesNothing) {
  const LockCase& c = GetParam();
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  fs::create_directories(drive);
  CreateSample(drive);
  const fs::path reference = work.path() / "referencia";
  CopyTree(drive, reference);
  const auto before = ImageOfTables(drive);

  ChildResult locked;
  {
    WriteLock lock(drive / "VITRALON" / c.file);
    locked = RunScript(drive, c.script);
  }
  EXPECT_EQ(locked.exitCode, 0) << locked.output;
  EXPECT_EQ(EventLines(locked.output, "error"), std::vector<std::string>{lockedError(c.windowsPath)})
      << locked.output;
  EXPECT_TRUE(EventLines(locked.output, "message").empty()) << locked.output;
  ExpectWindowInOrder(locked.output, c.gated);
  const auto left = ImageOfTables(drive);
  EXPECT_EQ(left.at(c.file).rows, before.at(c.file).rows) << "the locked table changed";
  for (const auto& [file, table] : left) EXPECT_EQ(table.integrity, "ok") << file;

  // With the lock gone, the same repair on both copies gives the same tables.
  for (const fs::path& d : {drive, reference}) {
    ChildResult r = RunScript(d, c.script);
    ASSERT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  }
  const auto done = ImageOfTables(drive), expected = ImageOfTables(reference);
  for (const auto& [file, table] : expected) EXPECT_TRUE(done.at(file).rows == table.rows) << file;
}

INSTANTIATE_TEST_SUITE_P(Reparos, Trava, ::testing::ValuesIn(kStopping),
                         [](const ::testing::TestParamInfo<LockCase>& param) {
                           return std::string(param.param.name);
                         });

// The orders pass reports an order it cannot write and goes on; the doctors
// are corrected all the same and the run ends with its closing message.
TEST(TravaPedidos, ALockedOrderIsReportedAndTheScanGoesOn) {
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  fs::create_directories(drive);
  CreateSample(drive);
  // Three orders are enough: each one waits for the lock before it is
  // reported.
  execOn(drive / "VITRALON/DADOS/Pedidos.DB",
         "DELETE FROM Pedidos WHERE rowid NOT IN (SELECT rowid FROM Pedidos WHERE CRM IS NOT NULL ORDER BY "
         "rowid "
         "LIMIT 3)");
  const auto before = ImageOfTables(drive);
  ChildResult r;
  {
    WriteLock lock(drive / "VITRALON/DADOS/Pedidos.DB");
    r = RunScript(drive, "state\ninvoke BotCorrigeCadMed\nstate\n");
  }
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  EXPECT_EQ(EventLines(r.output, "message"),
            std::vector<std::string>{
                "{\"event\":\"message\",\"text\":" +
                cg::json::quote("Procedimento concluído. Favor verificar o relatório de erros de "
                                "consistência (C:\\VITRALON\\CRMERROS.TXT) para completar a "
                                "correção manualmente.") +
                "}"})
      << r.output;
  ExpectWindowInOrder(r.output, false);
  const auto after = ImageOfTables(drive);
  EXPECT_EQ(after.at("DADOS/Pedidos.DB").rows, before.at("DADOS/Pedidos.DB").rows);
  EXPECT_NE(after.at("DADOS/Medicos.DB").rows, before.at("DADOS/Medicos.DB").rows)
      << "no doctor was corrected";

  // Every order of the table is in the report with its CRM as stored.
  const std::string report = ReadFile(drive / "VITRALON/CRMERROS.TXT");
  sqlite3* db = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2((drive / "VITRALON/DADOS/Pedidos.DB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT Estacao, NPedido, CRM FROM Pedidos", -1, &st, nullptr), SQLITE_OK);
  int orders = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++orders;
    std::string line = "  ";
    line += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    line += ".";
    line += std::to_string(sqlite3_column_int64(st, 1));
    line += "  CRM: ";
    line += reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
    line += "\r\n";
    EXPECT_NE(report.find(line), std::string::npos) << line << " is not in the report:\n" << report;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ(orders, 3);
}

// How many processes of the program on this drive C are alive (a process
// that has ended shows no command line).
int programsAlive(const fs::path& drive) {
  int n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    std::string cmdline = ReadFile(e.path() / "cmdline");
    std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
    if (cmdline.find("consistgeral --drive-c " + drive.string() + " ") != std::string::npos) ++n;
  }
  return n;
}

// Twenty programs started at the same moment on one drive C: exactly one
// owns the marker and goes on, every other one is refused with the module
// message. The one that goes on halts itself at its first write (the fixed
// cost reset) until every other program has ended, so that they all start
// while it runs. Both used to pass the check now and then (two repairs at
// once), or the second read the first's marker while it was still empty and
// stayed open without owning it.
TEST(MarcadorSimultaneo, ExactlyOneOfManyProgramsStartedTogetherGoesOn) {
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  fs::create_directories(drive);
  CreateSample(drive);
  const std::string refusal =
      "{\"event\":\"message\",\"text\":" +
      cg::json::quote(
          "Você tentou executar mais de um módulo do VITRALON ao mesmo tempo.\rEste sistema foi "
          "projetado para executar somente um módulo de cada \rvez no mesmo computador. Este módulo "
          "será finalizado.") +
      "}";
  constexpr int kPrograms = 20;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    std::vector<ChildResult> results(kPrograms);
    std::unique_ptr<bool[]> halted(new bool[kPrograms]());
    std::mutex m;
    std::condition_variable go;
    int ready = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kPrograms; ++i) {
      threads.emplace_back([&, i] {
        {
          std::unique_lock<std::mutex> lock(m);
          ++ready;
          go.notify_all();
          go.wait(lock, [&] { return ready == kPrograms; });
        }
        results[i] = RunScriptHaltingAt(
            drive, "state\ninvoke BitBtn6\nstate\n", 1,
            [&] {
              // Let every other program start and end (two halted programs
              // wait for each other until the deadline).
              std::this_thread::sleep_for(std::chrono::milliseconds(500));
              const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
              while (programsAlive(drive) > 1 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            },
            halted[i]);
      });
    }
    for (std::thread& t : threads) t.join();
    int goingOn = 0;
    for (int i = 0; i < kPrograms; ++i) {
      const ChildResult& r = results[i];
      EXPECT_EQ(r.exitCode, 0) << r.output;
      EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
      if (halted[i]) {
        ++goingOn;
        EXPECT_EQ(EventLines(r.output, "message"),
                  std::vector<std::string>{"{\"event\":\"message\",\"text\":\"Procedimento Concluído\"}"})
            << r.output;
        EXPECT_EQ(EventLines(r.output, "state").size(), 2u) << r.output;
      } else {
        EXPECT_EQ(EventLines(r.output, "message"), std::vector<std::string>{refusal}) << r.output;
        EXPECT_TRUE(EventLines(r.output, "state").empty()) << r.output;
      }
    }
    EXPECT_EQ(goingOn, 1);
    // The one that went on deleted the marker when it closed.
    EXPECT_FALSE(fs::exists(drive / "VITRALON/Em_Uso.txt"));
  }
}

}  // namespace
}  // namespace reliability
