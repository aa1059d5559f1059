// A simulated run on the server, embedded and through the test server: the
// run's statements, groups, applies, writes and fetches share one
// transaction and read their own changes, others read the rows as they were,
// and the end (or a kill) leaves every row as before with no lock left.
#include "data/sql/simulation.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "data/sql/changes.h"
#include "server_fixture.h"

using namespace cg;
using sqltest::ServerTest;
using sqltest::Transport;

namespace {

class Sink : public ServerChangeSink {
 public:
  std::vector<std::string> log;
  std::set<const void*> changed, simulatedTokens;
  void change(const void* t, const ServerRowChange& c) override {
    log.push_back(c.table + " " + c.columns.at(0) + " -> " + c.after.at(0).value_or("<null>"));
    changed.insert(t);
  }
  bool committing(const void*) noexcept override {
    log.push_back("committing");
    return true;
  }
  void committed(const void*) noexcept override { log.push_back("committed"); }
  void rolledBack(const void* t) noexcept override {
    log.push_back("rolledBack");
    changed.erase(t);
  }
  void simulated(const void* t) noexcept override {
    log.push_back("simulated");
    simulatedTokens.insert(t);
  }
};

class Simulation : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    createDatabase(dm_.sqlcon1);
    SQLConnection& c = dm_.sqlcon1;
    c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, PRECOFINAL) VALUES ('01', 1, 'Ana', 10.5)");
    c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, PRECOFINAL) VALUES ('01', 2, 'Bia', 3)");
    c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('02', 1, 'Caio')");
    c.executeDirect("INSERT INTO CONFIG (USARPRECOMOV, CODLIVRO, LOJA) VALUES ('SIM', 7, 3)");
    before_ = dump();
  }
  void TearDown() override { SetServerChangeSink(nullptr); }

  // Every row of the changed tables, as a connection of its own reads them.
  std::vector<std::string> dump() {
    std::vector<std::string> out = column(
        "select ESTACAO || '/' || NPEDIDO || '/' || coalesce(NOME, '-') || '/' || "
        "coalesce(PRECOFINAL, -1) from PEDIDOS order by ESTACAO, NPEDIDO");
    for (const std::string& r : column("select CODLIVRO || '/' || LOJA from CONFIG")) out.push_back(r);
    return out;
  }
  // An update by another program that does not wait for locks.
  void otherWrites() {
    SQLConnection other("other");
    other.params() = dm_.sqlcon1.params();
    other.setParam("WaitOnLocks", "False");
    other.executeDirect("UPDATE PEDIDOS SET PRECOFINAL = 11 WHERE ESTACAO = '01' AND NPEDIDO = 1");
    other.executeDirect("UPDATE PEDIDOS SET PRECOFINAL = 10.5 WHERE ESTACAO = '01' AND NPEDIDO = 1");
  }

  TDM dm_{ui_};
  std::vector<std::string> before_;
};

}  // namespace

TEST_P(Simulation, ARunReadsItsOwnChangesOthersReadTheOldRowsAndTheEndPutsEveryRowBack) {
  Sink sink;
  SetServerChangeSink(&sink);
  SQLConnection& c = dm_.sqlcon1;
  BeginServerSimulation(c);
  EXPECT_TRUE(c.simulating());
  EXPECT_THROW(BeginServerSimulation(c), EDatabaseError);
  {
    StatementGroup g(c, 100, 60000);
    c.executeDirect("UPDATE PEDIDOS SET NOME = 'Ana S' WHERE ESTACAO = '01' AND NPEDIDO = 1");
    g.commit();  // where a real run commits
    c.executeDirect("UPDATE PEDIDOS SET NOME = 'Bia S' WHERE ESTACAO = '01' AND NPEDIDO = 2");
    g.rollback();  // gone from the simulation too
    c.executeDirect("UPDATE CONFIG SET LOJA = 4");
    g.end();
  }
  c.executeDirect("UPDATE PEDIDOS SET PRECOFINAL = 2 WHERE ESTACAO = '02'");

  // A fetch, an apply and a refresh: one transaction with the statements.
  SQLDataSet q("q", c);
  q.setCommandText("select ESTACAO, NPEDIDO, NOME, PRECOFINAL from PEDIDOS order by ESTACAO, NPEDIDO");
  ClientDataSet ds("ds", q, {"ESTACAO", "NPEDIDO"});
  ds.open();
  std::vector<std::string> seen;
  for (ds.first(); !ds.eof(); ds.next())
    seen.push_back(ds.fieldByName("NOME").asString() + "/" + ds.fieldByName("PRECOFINAL").asString());
  EXPECT_EQ(seen, (std::vector<std::string>{"Ana S/10,5", "Bia/3", "Caio/2"}));
  ds.first();
  ds.next();
  ds.edit();
  ds.fieldByName("NOME").setString("Bia A");
  ds.post();
  EXPECT_EQ(ds.applyUpdates(0), 0);
  {
    ServerRowWriter w(c);
    EXPECT_EQ(w.update("PEDIDOS", {"ESTACAO", "NPEDIDO"}, {SQLValue("02"), SQLValue("1")}, {"NOME"},
                       {SQLValue("Caio W")}),
              1);
    w.commit();
  }
  ds.refresh();
  seen.clear();
  for (ds.first(); !ds.eof(); ds.next()) seen.push_back(ds.fieldByName("NOME").asString());
  EXPECT_EQ(seen, (std::vector<std::string>{"Ana S", "Bia A", "Caio W"}));
  ds.closeDiscarding();

  // Another program reads the rows as they are, and cannot change a row the
  // simulation holds.
  EXPECT_EQ(dump(), before_);
  EXPECT_THROW(otherWrites(), ESQLError);

  EndServerSimulation(c);
  SetServerChangeSink(nullptr);
  EXPECT_FALSE(c.simulating());
  EXPECT_EQ(dump(), before_);
  EXPECT_NO_THROW(otherWrites());  // no lock left

  EXPECT_EQ(std::count(sink.log.begin(), sink.log.end(), "committing"), 0);
  EXPECT_EQ(std::count(sink.log.begin(), sink.log.end(), "committed"), 0);
  EXPECT_EQ(std::vector<std::string>(sink.log.begin(), sink.log.begin() + 8),
            (std::vector<std::string>{"PEDIDOS NOME -> Ana S", "PEDIDOS NOME -> Bia S", "rolledBack",
                                      "CONFIG LOJA -> 4", "PEDIDOS PRECOFINAL -> 2.00",
                                      "PEDIDOS NOME -> Bia A", "PEDIDOS NOME -> Caio W", "simulated"}));
  EXPECT_EQ(sink.simulatedTokens, sink.changed);
  EXPECT_EQ(sink.simulatedTokens.size(), 5u);

  // Afterwards the connection writes for real again.
  c.executeDirect("UPDATE CONFIG SET LOJA = 5");
  EXPECT_EQ(column("select LOJA from CONFIG"), std::vector<std::string>{"5"});
}

TEST_P(Simulation, AProgramKilledInTheMiddleOfASimulationLeavesEveryRowAsItWas) {
  const std::filesystem::path ready = tmp_.path() / "ready";
  dm_.sqlcon1.close();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The program of its own: the test binary again, running the child's part.
    setenv("CG_SIMULATION_CHILD", (root_.string() + "\n" + ready.string()).c_str(), 1);
    execl("/proc/self/exe", "test_sql", "--gtest_filter=SimulationChild.HoldsASimulationUntilKilled",
          nullptr);
    _exit(127);
  }
  // The child goes whatever happens here.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
  } reaper{child};
  bool there = false;
  for (int i = 0; i < 600 && !there; ++i) {
    there = std::filesystem::exists(ready);
    if (!there) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(there) << "the child did not start its simulation";
  // The embedded engine keeps the file to the process that has it open.
  if (GetParam() == Transport::Server) {
    EXPECT_EQ(dump(), before_);
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  reaper.pid = 0;
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(dump(), before_);
  EXPECT_NO_THROW(otherWrites());
}

INSTANTIATE_TEST_SUITE_P(Transports, Simulation, ::testing::Values(Transport::Embedded, Transport::Server),
                         sqltest::transportName);

// The killed program's part (run only by the test above, through
// CG_SIMULATION_CHILD): a simulation that changes every row, then waits.
TEST(SimulationChild, HoldsASimulationUntilKilled) {
  const char* child = std::getenv("CG_SIMULATION_CHILD");
  if (!child) {
    GTEST_SKIP() << "run by AProgramKilledInTheMiddleOfASimulationLeavesEveryRowAsItWas";
  }
  std::string s(child);
  DriveC::setRoot(s.substr(0, s.find('\n')));
  sqltest::RecordingUI ui;
  TDM dm(ui);
  SQLConnection& c = dm.sqlcon1;
  BeginServerSimulation(c);
  {
    StatementGroup g(c, 100, 60000);
    c.executeDirect("UPDATE PEDIDOS SET NOME = 'X', PRECOFINAL = 0");
    g.commit();
    c.executeDirect("UPDATE CONFIG SET LOJA = 9");
    g.end();
  }
  ASSERT_EQ(c.executeDirect("UPDATE PEDIDOS SET NOME = 'Y' WHERE NOME = 'X'"), 3);
  std::ofstream(s.substr(s.find('\n') + 1)) << "ok";
  pause();
}
