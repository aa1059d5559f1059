// The journal of server changes, embedded and through the test server:
// statements and the row writer recorded, then undone by key.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "data/journal/journal.h"
#include "data/sql/changes.h"
#include "journal_fixture.h"
#include "sql/server_fixture.h"

using namespace cg;
using journaltest::Line;
using journaltest::linesOf;
using sqltest::ServerTest;
using sqltest::Transport;

namespace {

class ServerJournal : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    createDatabase(dm_.sqlcon1);
    exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, PRECOFINAL) VALUES ('01', 1, 'Ana', 10.5)");
    exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('01', 2, 'Bia')");
    exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, CODLIVRO) VALUES ('02', 2, 'Davi', 4)");
  }
  void exec(const std::string& sql) { dm_.sqlcon1.executeDirect(sql); }
  std::vector<std::string> pedidos() {
    return column(
        "SELECT ESTACAO || '|' || NPEDIDO || '|' || COALESCE(NOME, '<null>') || '|' || "
        "COALESCE(CAST(PRECOFINAL AS VARCHAR(30)), '<null>') || '|' || COALESCE(CAST(CODLIVRO AS "
        "VARCHAR(12)), "
        "'<null>') FROM PEDIDOS ORDER BY ESTACAO, NPEDIDO");
  }
  TDM dm_{ui_};
};

TEST_P(ServerJournal, AppliedChangesAreRecordedByKeyAndUndoneExactlyWhereTheRowIsStillAsTheRunLeftIt) {
  const std::vector<std::string> before = pedidos();
  SQLConnection& c = dm_.sqlcon1;
  auto j = Journal::open(&c);
  int64_t number = j->beginRun("BotLivro", "Livro");
  exec("UPDATE PEDIDOS SET CODLIVRO = 5, NOME = 'X' WHERE ESTACAO = '01'");
  {
    ServerRowWriter w(c);
    EXPECT_EQ(w.remove("PEDIDOS", {"ESTACAO", "NPEDIDO"}, {std::string("02"), std::string("2")}), 1);
    w.insert("PEDIDOS", {"ESTACAO", "NPEDIDO", "NOME"},
             {std::string("03"), std::string("1"), std::string("Novo")});
    w.commit();
  }
  j->endRun(RunOutcome::Completed);
  std::vector<Line> lines = linesOf(j->changes(number));
  auto has = [&](const Line& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has({"PEDIDOS", "ESTACAO=01; NPEDIDO=1", 'U', "CODLIVRO", "", "5"}));
  EXPECT_TRUE(has({"PEDIDOS", "ESTACAO=01; NPEDIDO=1", 'U', "NOME", "Ana", "X"}));
  EXPECT_TRUE(has({"PEDIDOS", "ESTACAO=01; NPEDIDO=2", 'U', "CODLIVRO", "", "5"}));
  EXPECT_TRUE(has({"PEDIDOS", "ESTACAO=02; NPEDIDO=2", 'D', "NOME", "Davi", ""}));
  EXPECT_TRUE(has({"PEDIDOS", "ESTACAO=02; NPEDIDO=2", 'D', "CODLIVRO", "4", ""}));
  EXPECT_TRUE(has({"PEDIDOS", "ESTACAO=03; NPEDIDO=1", 'I', "NOME", "", "Novo"}));
  EXPECT_EQ(j->run(number)->counts,
            (std::map<std::pair<std::string, char>, int64_t>{
                {{"PEDIDOS", 'U'}, 2}, {{"PEDIDOS", 'D'}, 1}, {{"PEDIDOS", 'I'}, 1}}));

  // Order 01/2 changed since: kept and listed; the rest put back.
  exec("UPDATE PEDIDOS SET CODLIVRO = 6 WHERE ESTACAO = '01' AND NPEDIDO = 2");
  UndoResult u = j->undo(number, &c);
  EXPECT_EQ(u.restored, 3);
  std::vector<Line> conflicts = linesOf(u.conflicts);
  std::sort(conflicts.begin(), conflicts.end());
  EXPECT_EQ(conflicts, (std::vector<Line>{{"PEDIDOS", "ESTACAO=01; NPEDIDO=2", 'U', "CODLIVRO", "", "5"},
                                          {"PEDIDOS", "ESTACAO=01; NPEDIDO=2", 'U', "NOME", "Bia", "X"}}));
  std::vector<std::string> expected = before;
  ASSERT_EQ(expected.size(), 3u);
  expected[1] = "01|2|X|<null>|6";
  EXPECT_EQ(pedidos(), expected);
  EXPECT_EQ(j->rowsToRestore(u.run), 3);
  EXPECT_EQ(j->run(number)->undoneBy, u.run);
  // Without the server the undo of a server run is refused before anything.
  EXPECT_THROW(j->undo(u.run, nullptr), EJournalError);
  UndoResult redo = j->undo(u.run, &c);
  EXPECT_EQ(redo.restored, 3);
  EXPECT_TRUE(redo.conflicts.empty());
  EXPECT_EQ(pedidos(),
            (std::vector<std::string>{"01|1|X|10.50|5", "01|2|X|<null>|6", "03|1|Novo|<null>|<null>"}));
}

TEST_P(ServerJournal, ARowWhoseKeyTheRunChangedIsFoundAsBeforeUnderItsOldKeyNotCalledAConflict) {
  const std::vector<std::string> before = pedidos();
  SQLConnection& c = dm_.sqlcon1;
  auto j = Journal::open(&c);
  int64_t number = j->beginRun("BotNomes", "Nomes");
  exec("UPDATE PEDIDOS SET NPEDIDO = 7 WHERE ESTACAO = '02'");
  j->endRun(RunOutcome::Completed);
  ASSERT_NE(pedidos(), before);
  UndoResult u = j->undo(number, &c);
  EXPECT_EQ(u.restored, 1);
  EXPECT_EQ(pedidos(), before);
  // Undone again: the row is back under its old key, as before the run.
  UndoResult again = j->undo(number, &c);
  EXPECT_EQ(again.restored, 0);
  EXPECT_EQ(again.unchanged, 1);
  EXPECT_EQ(again.conflictRows, 0);
  EXPECT_TRUE(again.conflicts.empty());
  EXPECT_EQ(pedidos(), before);
}

// A program that died between the journal's commit and the server's, and
// one that died after the server's commit, before confirming it: the next
// start settles both against the rows as the server has them. Through the
// test server only (the dying program is a forked child with a connection of
// its own; the embedded engine lives in one process).
class ServerDeath : public ServerJournal {
 protected:
  enum class When { BeforeServerCommit, AfterServerCommit };
  struct DyingSink : ServerChangeSink {
    ServerChangeSink* journal = nullptr;
    When when = When::BeforeServerCommit;
    void change(const void* t, const ServerRowChange& c) override { journal->change(t, c); }
    bool committing(const void* t) noexcept override {
      bool ok = journal->committing(t);
      if (when == When::BeforeServerCommit) _exit(0);
      return ok;
    }
    void committed(const void*) noexcept override { _exit(0); }
    void rolledBack(const void* t) noexcept override { journal->rolledBack(t); }
  };
  void runAndDie(When when) {
    dm_.sqlcon1.close();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        sqltest::RecordingUI ui;
        TDM dm(ui);
        auto j = Journal::open(&dm.sqlcon1);
        DyingSink sink;
        sink.journal = CurrentServerChangeSink();
        sink.when = when;
        SetServerChangeSink(&sink);
        j->beginRun("BotLivro", "Livro");
        dm.sqlcon1.executeDirect("UPDATE PEDIDOS SET CODLIVRO = 9 WHERE ESTACAO = '01'");
      } catch (...) {
        _exit(3);
      }
      _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
  }
};

TEST_P(ServerDeath, RecordsOfAChangeTheServerNeverGotGoAndACommittedOneIsKeptAndUndone) {
  const std::vector<std::string> before = pedidos();
  runAndDie(When::BeforeServerCommit);
  EXPECT_EQ(pedidos(), before);
  {
    auto j = Journal::open(&dm_.sqlcon1);
    EXPECT_EQ(j->run(1)->outcome, RunOutcome::Died);
    EXPECT_EQ(j->rowsToRestore(1), 0);
  }
  runAndDie(When::AfterServerCommit);
  EXPECT_NE(pedidos(), before);
  auto j = Journal::open(&dm_.sqlcon1);
  EXPECT_EQ(j->run(2)->outcome, RunOutcome::Died);
  EXPECT_EQ(j->rowsToRestore(2), 2);
  UndoResult u = j->undo(2, &dm_.sqlcon1);
  EXPECT_EQ(u.restored, 2);
  EXPECT_TRUE(u.conflicts.empty());
  EXPECT_EQ(pedidos(), before);
}

TEST_P(ServerDeath, UnconfirmedRecordsAreSettledWhenTheServerIsFirstReachedBeforeALaterRunWritesTheirRows) {
  const std::vector<std::string> before = pedidos();
  runAndDie(When::BeforeServerCommit);
  EXPECT_EQ(pedidos(), before);
  // As the window starts: the journal opens without the server, which the
  // first command that needs it reaches.
  auto j = Journal::open(nullptr);
  EXPECT_EQ(j->run(1)->outcome, RunOutcome::Died);
  // Not counted while it is not known whether they reached the server.
  EXPECT_EQ(j->run(1)->total(), 0);
  EXPECT_EQ(j->run(1)->unsettled, 2);
  EXPECT_EQ(j->runs().at(0).unsettled, 2);
  EXPECT_TRUE(j->changes(1).empty());
  int64_t second = j->beginRun("BotLivro", "Livro");
  exec("UPDATE PEDIDOS SET CODLIVRO = 9 WHERE ESTACAO = '01'");
  j->endRun(RunOutcome::Completed);
  const std::vector<std::string> changed = pedidos();
  ASSERT_NE(changed, before);
  EXPECT_EQ(j->run(1)->total(), 0);
  EXPECT_EQ(j->run(1)->unsettled, 0);  // settled: they never reached it
  EXPECT_EQ(j->rowsToRestore(1), 0);
  EXPECT_EQ(j->run(second)->total(), 2);
  // The dead run changed nothing: its undo is refused, and takes back
  // nothing of the second run's.
  EXPECT_THROW(j->undo(1, &dm_.sqlcon1), EJournalError);
  EXPECT_EQ(pedidos(), changed);
  j.reset();
  auto again = Journal::open(nullptr);
  EXPECT_EQ(again->run(1)->total(), 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, ServerDeath, ::testing::Values(Transport::Server),
                         sqltest::transportName);

INSTANTIATE_TEST_SUITE_P(Transports, ServerJournal, ::testing::Values(Transport::Embedded, Transport::Server),
                         sqltest::transportName);

}  // namespace
