// Another program holds server row locks a repair needs (an open transaction
// that updated those rows, in isql). The connection waits on locks: the
// repair waits for the other transaction to end, then goes on, and the rows
// end exactly as a run without the lock leaves them. Through the test server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>

#include "child.h"
#include "support/temp_dir.h"

extern char** environ;

namespace reliability {
namespace {

namespace fs = std::filesystem;

std::string port() {
  const char* p = std::getenv("CG_FB_PORT");
  return p && *p ? p : "3057";
}

// isql holding an uncommitted update until release() or destruction.
class RowLock {
 public:
  RowLock(const fs::path& database, const std::string& update) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, in[0], 0);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_adddup2(&files, out[1], 2);
    posix_spawn_file_actions_addclose(&files, in[1]);
    posix_spawn_file_actions_addclose(&files, out[0]);
    const std::string target = "127.0.0.1/" + port() + ":" + database.string();
    std::vector<std::string> args = {"/usr/bin/isql-fb", "-q",        "-user", "SYSDBA",
                                     "-password",        "corvidane", target};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
    close(in[0]);
    close(out[1]);
    toIsql_ = in[1];
    fromIsql_ = out[0];
    if (pid_ <= 0) {
      ADD_FAILURE() << "could not start isql-fb";
      return;
    }
    // The update has run once isql answers the select after it.
    say(update + ";\nSELECT 'TRAVADO' FROM RDB$DATABASE;\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    fcntl(fromIsql_, F_SETFL, O_NONBLOCK);
    while (output_.find("TRAVADO") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      char buf[512];
      ssize_t n = read(fromIsql_, buf, sizeof buf);
      if (n > 0)
        output_.append(buf, static_cast<size_t>(n));
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    held_ =
        output_.find("TRAVADO") != std::string::npos && output_.find("Statement failed") == std::string::npos;
  }
  ~RowLock() { release(); }
  bool held() const { return held_; }
  const std::string& output() const { return output_; }
  // Rolls the update back and ends isql.
  void release() {
    if (pid_ <= 0) return;
    say("ROLLBACK;\nQUIT;\n");
    close(toIsql_);
    int status = 0;
    waitpid(pid_, &status, 0);
    close(fromIsql_);
    pid_ = -1;
  }

 private:
  void say(const std::string& text) {
    if (::write(toIsql_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      ADD_FAILURE() << "isql";
  }
  pid_t pid_ = -1;
  int toIsql_ = -1, fromIsql_ = -1;
  std::string output_;
  bool held_ = false;
};

struct RowLockCase {
  const char* name;
  const char* script;
  const char* update;  // what the other program holds
};

void PrintTo(const RowLockCase& c, std::ostream* os) { *os << c.name; }

const RowLockCase kCases[] = {
    {"NomesPedidos", "invoke btn1\n", "UPDATE PEDIDOS SET NOME = NOME"},
    {"CodLivro", "invoke BitBtn5\n", "UPDATE CONFIG SET CODLIVRO = CODLIVRO"},
    {"CNPJ", "invoke BitBtn7\n", "UPDATE FORNECED SET CNPJ = CNPJ"},
    {"CodigoComponente", "invoke BitBtn2\n", "UPDATE COMPEDID SET CODIGOCOMP = CODIGOCOMP"},
    {"NomesComponentes", "invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n",
     "UPDATE COMPONEN SET COMPONENTE = COMPONENTE"},
};

class TravaServidor : public ::testing::TestWithParam<RowLockCase> {};

TEST_P(TravaServidor, TheRepairWaitsForTheOtherTransactionAndLosesNothing) {
  const RowLockCase& c = GetParam();
  std::string why;
  ASSERT_TRUE(EnsureTestServer(why)) << why;
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c", reference = work.path() / "referencia";
  fs::create_directories(drive);
  CreateSample(drive);
  std::string ini = ReadFile(drive / "platform.ini");
  ini = ini.substr(0, ini.find("[sql]")) + "[sql]\ntransport = server\nport = " + port() + "\n";
  WriteFile(drive / "platform.ini", ini);
  CopyTree(drive, reference);

  ChildResult whole = RunScript(reference, c.script);
  ASSERT_EQ(whole.exitCode, 0) << whole.output;

  RowLock lock(drive / "VITRALON/DADOS/vitralon.bd", c.update);
  ASSERT_TRUE(lock.held()) << lock.output();
  // The program runs while the lock is held; it must still be waiting when
  // the other transaction ends, however long that takes.
  ChildResult locked;
  std::atomic<bool> done{false};
  std::thread program([&] {
    locked = RunScript(drive, c.script);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const bool ended = done;
  lock.release();
  program.join();
  EXPECT_FALSE(ended) << "the repair did not wait for the locked rows:\n" << locked.output;
  EXPECT_EQ(locked.exitCode, 0) << locked.output;
  EXPECT_EQ(EventLines(locked.output, "error"), EventLines(whole.output, "error")) << locked.output;
  EXPECT_EQ(EventLines(locked.output, "message"), EventLines(whole.output, "message")) << locked.output;
  EXPECT_TRUE(ServerImage(drive) == ServerImage(reference)) << "the rows differ from a run without the lock";
}

INSTANTIATE_TEST_SUITE_P(Reparos, TravaServidor, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RowLockCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace reliability
