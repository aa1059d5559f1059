// The book code fill killed in the middle of its run: the next run must not
// hand out again a code that an order already carries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "installation.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "support/scoped_env.h"

extern char** environ;

namespace cg {
namespace {

using testsupport::Installation;
using testsupport::Row;
using testsupport::Transport;

// The program, run as its own process on the test's drive C.
class Program {
 public:
  Program(const std::filesystem::path& driveC, const std::filesystem::path& script,
          const std::filesystem::path& output) {
    const std::string binary = std::string(CG_BINARY_DIR) + "/consistgeral";
    if (!std::filesystem::exists(binary)) {
      ADD_FAILURE() << binary << " is missing: build the target consistgeral";
      return;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    std::string root = driveC.string(), scriptPath = script.string();
    std::vector<char*> argv = {const_cast<char*>(binary.c_str()),
                               const_cast<char*>("--drive-c"),
                               root.data(),
                               const_cast<char*>("--script"),
                               scriptPath.data(),
                               nullptr};
    if (posix_spawn(&pid_, binary.c_str(), &files, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
    EXPECT_GT(pid_, 0) << "could not start " << binary;
  }
  ~Program() { kill(); }
  bool running() const { return pid_ > 0; }
  // SIGKILL, as a crash or a power cut leaves the program: nothing of it runs.
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST(CodLivroQueda, ARunKilledMidwayLeavesNoCodeToBeHandedOutTwice) {
  std::string why;
  ASSERT_TRUE(testsupport::EnsureTestServer(why)) << why;
  Installation inst(Transport::Server);
  inst.exec({"INSERT INTO CONFIG (USARPRECOMOV, CODLIVRO) VALUES ('SIM', 100)",
             "CREATE TABLE TRAVA (V INTEGER)", "INSERT INTO TRAVA VALUES (1)"});
  for (int n = 1; n <= 4; ++n)
    inst.exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, MEDICO) VALUES ('01', " + std::to_string(n) +
              ", 'CLIENTE', 'DR X')");
  // The third order holds the run on the server until the test lets go of
  // it (bounded, should the test itself die).
  inst.exec(
      "CREATE TRIGGER T_PEDIDOS_SEGURA FOR PEDIDOS BEFORE UPDATE AS DECLARE I INTEGER = 0; BEGIN "
      "IF (NEW.NPEDIDO = 3) THEN WHILE (I < 20000000 AND (SELECT V FROM TRAVA) = 1) DO I = I + 1; END");

  const auto script = inst.root() / "codlivro.txt";
  std::ofstream(script) << "invoke BitBtn5\n";
  // Groups of two orders: the first two are committed together with the
  // configuration before the third is held.
  testsupport::ScopedEnv groups("CG_SQL_GROUP_STATEMENTS", "2");
  Program program(inst.root(), script, inst.root() / "saida.txt");
  ASSERT_TRUE(program.running());

  // Wait until the first two orders are numbered and the third is held.
  auto numbered = [&] {
    return inst.scalar("select count(*) as V from PEDIDOS where CODLIVRO is not null").value_or("");
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (numbered() != "2" && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(numbered(), "2");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  program.kill();
  inst.exec("UPDATE TRAVA SET V = 0");

  // What the program left: two orders numbered, and the configuration at the
  // last of their codes, not at the value it had when the run started.
  EXPECT_EQ(inst.query("select NPEDIDO, CODLIVRO from PEDIDOS order by NPEDIDO", {"NPEDIDO", "CODLIVRO"}),
            (std::vector<Row>{{"1", "101"}, {"2", "102"}, {"3", std::nullopt}, {"4", std::nullopt}}));
  EXPECT_EQ(inst.scalar("select CODLIVRO as V from CONFIG"), "102");

  // The killed program could not delete its in-use marker; it is removed by
  // hand, as the technician would after the crash.
  std::filesystem::remove(DriveC::resolve("C:\\VITRALON\\Em_Uso.txt"));
  auto t = inst.run("invoke BitBtn5\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp("Procedimento concluído com sucesso."_cp)}) << t.dump();
  EXPECT_EQ(inst.query("select NPEDIDO, CODLIVRO from PEDIDOS order by NPEDIDO", {"NPEDIDO", "CODLIVRO"}),
            (std::vector<Row>{{"1", "101"}, {"2", "102"}, {"3", "103"}, {"4", "104"}}));
  EXPECT_EQ(inst.scalar("select CODLIVRO as V from CONFIG"), "104");
}

}  // namespace
}  // namespace cg
