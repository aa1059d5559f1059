// The journal against real table files: what a run records, its report,
// the undo, a program that died in the middle, a register replaced whole.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "data/engine/changes.h"
#include "journal_fixture.h"
#include "platform/clock.h"

using namespace cg;
using namespace journaltest;

namespace {

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> journalTables(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1, &st,
                     nullptr);
  std::vector<std::string> out;
  while (sqlite3_step(st) == SQLITE_ROW)
    out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
  if (sqlite3_step(st) == SQLITE_ROW)
    out.push_back("user_version=" + std::to_string(sqlite3_column_int(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// Statements run on a table file by another program (SQLite itself, no
// records kept).
void outside(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  char* error = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  std::string what = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << what;
}

int64_t scalar(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  int64_t v = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    v = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return v;
}

}  // namespace

class JournalRuns : public JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    Session::createTable("C:\\VITRALON\\DADOS", "Pessoas", enginetest::peopleDef());
    auto t = opened("Pessoas");
    enginetest::addPerson(*t, "01", 1, "Ana", "111", 1.5);
    enginetest::addPerson(*t, "01", 2, "Bia", "222", 0);
    enginetest::addPerson(*t, "01", 3, "Caio", "", 7);
    t->close();
  }
  // Finds a record by code on an open table.
  static void go(Table& t, int code) { ASSERT_TRUE(t.findKey({std::string("01"), int64_t{code}})); }
};

TEST_F(JournalRuns, ARunIsKeptWithItsRowsAndReportedAsCsvForSpreadsheets) {
  int64_t number = 0;
  {
    auto j = Journal::open(nullptr);
    EXPECT_EQ(j->currentRun(), 0);
    number = j->beginRun("BotTeste", std::string("Corrigir Acentuação"_cp));
    EXPECT_EQ(j->currentRun(), number);
    auto t = opened("Pessoas");
    enginetest::addPerson(*t, "01", 4, std::string("José"_cp), "4;4", 12.5);
    go(*t, 1);
    t->edit();
    t->setString("Nome", "Ana \"A\"");
    t->post();
    go(*t, 2);
    t->remove();
    t->close();
    j->endRun(RunOutcome::Completed);
    EXPECT_EQ(j->currentRun(), 0);
    // A change outside any run still has one.
    t = opened("Pessoas");
    go(*t, 3);
    t->edit();
    t->setString("Fone", "333");
    t->post();
    t->close();
    EXPECT_EQ(j->currentRun(), 0);
  }
  // Everything is read back from the file by a journal opened afresh.
  auto j = Journal::open(nullptr);
  EXPECT_EQ(journalTables(Journal::file()),
            (std::vector<std::string>{"batches", "changes", "collecting", "conflicts", "copies", "numbers",
                                      "run_files", "runs", "tables", "user_version=2"}));
  EXPECT_EQ(Journal::file(), host("VITRALON/CONSISTGERAL/Historico.db"));
  std::vector<RunInfo> runs = j->runs();
  ASSERT_EQ(runs.size(), 2u);
  const RunInfo& r = runs[0];
  EXPECT_EQ(r.number, number);
  EXPECT_EQ(r.command, "BotTeste");
  EXPECT_EQ(r.caption, std::string("Corrigir Acentuação"_cp));
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  EXPECT_EQ(OutcomeText(r.outcome), std::string("concluída"_cp));
  EXPECT_EQ(r.transport, "embedded");
  EXPECT_EQ(r.driveC, tmp_.path().string());
  EXPECT_EQ(r.started.size(), 19u);
  EXPECT_EQ(r.ended.size(), 19u);
  const std::string table = path("Pessoas");
  EXPECT_EQ(r.counts, (std::map<std::pair<std::string, char>, int64_t>{
                          {{table, 'D'}, 1}, {{table, 'I'}, 1}, {{table, 'U'}, 1}}));
  EXPECT_EQ(r.total(), 3);
  EXPECT_EQ(runs[1].command, "");
  EXPECT_EQ(runs[1].caption, std::string("Alterações fora de um comando"_cp));
  EXPECT_EQ(runs[1].outcome, RunOutcome::Completed);
  EXPECT_EQ(runs[1].counts, (std::map<std::pair<std::string, char>, int64_t>{{{table, 'U'}, 1}}));

  std::vector<Line> expected = {
      {table, "Estacao=01; Codigo=4", 'I', "Estacao", "", "01"},
      {table, "Estacao=01; Codigo=4", 'I', "Codigo", "", "4"},
      {table, "Estacao=01; Codigo=4", 'I', "Nome", "", std::string("José"_cp)},
      {table, "Estacao=01; Codigo=4", 'I', "Fone", "", "4;4"},
      {table, "Estacao=01; Codigo=4", 'I', "Valor", "", "12,5"},
      {table, "Estacao=01; Codigo=1", 'U', "Nome", "Ana", "Ana \"A\""},
      {table, "Estacao=01; Codigo=2", 'D', "Estacao", "01", ""},
      {table, "Estacao=01; Codigo=2", 'D', "Codigo", "2", ""},
      {table, "Estacao=01; Codigo=2", 'D', "Nome", "Bia", ""},
      {table, "Estacao=01; Codigo=2", 'D', "Fone", "222", ""},
      {table, "Estacao=01; Codigo=2", 'D', "Valor", "0", ""},
  };
  std::vector<ChangeLine> lines = j->changes(number);
  EXPECT_EQ(linesOf(lines), expected);
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), [](const ChangeLine& a, const ChangeLine& b) {
    return a.sequence < b.sequence;
  }));
  EXPECT_EQ(j->changes(number, 2).size(), 2u);
  EXPECT_EQ(j->rowsToRestore(number), 3);

  auto csv = tmp_.path() / "relatorio.csv";
  j->writeReport(number, csv);
  const std::string t = "C:\\VITRALON\\DADOS\\Pessoas.DB;";
  EXPECT_EQ(readFile(csv),
            "\xEF\xBB\xBFTabela;Chave;Opera\xC3\xA7\xC3\xA3o;Campo;Antes;Depois\r\n" + t +
                "\"Estacao=01; Codigo=4\";inclus\xC3\xA3o;Estacao;;'01\r\n" + t +
                "\"Estacao=01; Codigo=4\";inclus\xC3\xA3o;Codigo;;4\r\n" + t +
                "\"Estacao=01; Codigo=4\";inclus\xC3\xA3o;Nome;;Jos\xC3\xA9\r\n" + t +
                "\"Estacao=01; Codigo=4\";inclus\xC3\xA3o;Fone;;\"4;4\"\r\n" + t +
                "\"Estacao=01; Codigo=4\";inclus\xC3\xA3o;Valor;;12,5\r\n" + t +
                "\"Estacao=01; Codigo=1\";altera\xC3\xA7\xC3\xA3o;Nome;Ana;\"Ana \"\"A\"\"\"\r\n" + t +
                "\"Estacao=01; Codigo=2\";exclus\xC3\xA3o;Estacao;'01;\r\n" + t +
                "\"Estacao=01; Codigo=2\";exclus\xC3\xA3o;Codigo;2;\r\n" + t +
                "\"Estacao=01; Codigo=2\";exclus\xC3\xA3o;Nome;Bia;\r\n" + t +
                "\"Estacao=01; Codigo=2\";exclus\xC3\xA3o;Fone;222;\r\n" + t +
                "\"Estacao=01; Codigo=2\";exclus\xC3\xA3o;Valor;0;\r\n");
  EXPECT_THROW(j->writeReport(99, csv), EJournalError);
}

TEST_F(JournalRuns, TheRecordsOfARunAreTheDifferenceOfTheTablesAndTheUndoPutsThemBackByteForByte) {
  Session::createTable("C:\\VITRALON\\DADOS", "Outros", enginetest::peopleDef());
  {
    auto t = opened("Outros");
    enginetest::addPerson(*t, "02", 1, "Xavier", "9", 2.25);
    enginetest::addPerson(*t, "02", 2, "Yara");
    t->close();
  }
  const std::vector<std::string> key = {"Estacao", "Codigo"};
  const std::vector<std::string> fields = {"Estacao", "Codigo", "Nome", "Fone", "Valor"};
  const std::string pessoasBefore = dump(dados("Pessoas.DB"), "Pessoas");
  const std::string outrosBefore = dump(dados("Outros.DB"), "Outros");
  Rows pessoas0 = rowsByKey(dados("Pessoas.DB"), "Pessoas", key);
  Rows outros0 = rowsByKey(dados("Outros.DB"), "Outros", key);

  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotTeste", "Teste");
  {
    auto t = opened("Pessoas");
    go(*t, 1);
    t->edit();
    t->setString("Nome", "Ana Maria");
    t->post();
    go(*t, 2);
    t->edit();
    t->setFloat("Valor", 3.75);
    t->setString("Fone", "");
    t->post();
    enginetest::addPerson(*t, "01", 7, "Davi", "777", -1);
    go(*t, 3);
    t->remove();
    t->close();
    auto o = bound("Outros");
    o->emptyTable();
    Query q("Q");
    q.setDatabaseName("VTRNDADOS");
    q.setSQL("UPDATE Pessoas SET Fone = '999' WHERE Codigo IN (1, 2)");
    EXPECT_EQ(q.execSQL(), 2);
  }
  session_->closeAll();
  j->endRun(RunOutcome::Completed);
  Rows pessoas1 = rowsByKey(dados("Pessoas.DB"), "Pessoas", key);
  Rows outros1 = rowsByKey(dados("Outros.DB"), "Outros", key);

  // Each row is changed once or more; the report has a line per change, so
  // the net difference is compared with the lines folded per row and field.
  std::map<std::tuple<std::string, std::string, std::string>, Line> net;
  std::vector<Line> lines = linesOf(j->changes(number));
  for (const Line& l : lines) {
    auto k = std::make_tuple(std::get<0>(l), std::get<1>(l), std::get<3>(l));
    auto it = net.find(k);
    if (it == net.end())
      net.emplace(k, l);
    else
      std::get<5>(it->second) = std::get<5>(l);  // the first before, the last after
  }
  std::vector<Line> folded;
  for (auto& [k, l] : net)
    if (std::get<4>(l) != std::get<5>(l) || std::get<2>(l) != 'U') folded.push_back(l);
  std::vector<Line> expected = difference(path("Pessoas"), pessoas0, pessoas1, fields);
  std::vector<Line> outros = difference(path("Outros"), outros0, outros1, fields);
  expected.insert(expected.end(), outros.begin(), outros.end());
  std::sort(expected.begin(), expected.end());
  std::sort(folded.begin(), folded.end());
  EXPECT_EQ(folded, expected);
  // 2 posts, 1 append, 1 delete, 2 emptied, 2 rows of the statement: 8
  // changes of 6 rows (the statement's rows were posted before).
  EXPECT_EQ(j->rowsToRestore(number), 6);
  EXPECT_EQ(lines.size(), 1u + 2u + 5u + 5u + 10u + 2u);

  UndoResult u = j->undo(number, nullptr);
  EXPECT_EQ(u.restored, 6);
  EXPECT_EQ(u.unchanged, 0);
  EXPECT_TRUE(u.conflicts.empty());
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), pessoasBefore);
  EXPECT_EQ(dump(dados("Outros.DB"), "Outros"), outrosBefore);
  // The undo is a run of its own, journaled like any other: undoing it
  // brings the run's result back.
  std::optional<RunInfo> undoRun = j->run(u.run);
  ASSERT_TRUE(undoRun);
  EXPECT_EQ(undoRun->command, "Desfazer");
  EXPECT_EQ(undoRun->caption, std::string("Desfazer a execução "_cp) + std::to_string(number));
  EXPECT_EQ(undoRun->undoes, number);
  EXPECT_EQ(undoRun->outcome, RunOutcome::Completed);
  EXPECT_EQ(undoRun->total(), 6);
  EXPECT_EQ(j->run(number)->undoneBy, u.run);
  UndoResult again = j->undo(u.run, nullptr);
  EXPECT_EQ(again.restored, 6);
  EXPECT_EQ(rowsByKey(dados("Pessoas.DB"), "Pessoas", key), pessoas1);
  EXPECT_EQ(rowsByKey(dados("Outros.DB"), "Outros", key), outros1);
}

TEST_F(JournalRuns, ARowChangedSinceTheRunIsKeptAndListedAndTheRestRestored) {
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotTeste", "Teste");
  {
    auto t = opened("Pessoas");
    for (int code : {1, 2, 3}) {
      go(*t, code);
      t->edit();
      t->setString("Nome", t->asString("Nome") + "2");
      t->post();
    }
    go(*t, 3);
    t->remove();
    t->close();
  }
  j->endRun(RunOutcome::Completed);
  j->beginRun("BotOutro", "Outro");
  {
    auto t = opened("Pessoas");
    go(*t, 2);
    t->edit();
    t->setString("Nome", "Outra");
    t->post();
    // Code 3 comes back under another rowid: the deleted row cannot.
    enginetest::addPerson(*t, "01", 3, "Nova");
    t->close();
  }
  j->endRun(RunOutcome::Completed);
  const std::string table = path("Pessoas");
  UndoResult u = j->undo(number, nullptr);
  EXPECT_EQ(u.restored, 1);
  EXPECT_EQ(u.unchanged, 0);
  EXPECT_EQ(u.conflictRows, 2);  // rows, not their 7 lines
  // Kept with the undo's run: its changes and its report list them.
  EXPECT_EQ(j->run(u.run)->conflicts, 2);
  std::vector<ChangeLine> undone = j->changes(u.run);
  EXPECT_EQ(std::count_if(undone.begin(), undone.end(), [](const ChangeLine& l) { return l.op == 'C'; }), 7);
  EXPECT_EQ(undone.back().op, 'C');
  const auto csv = tmp_.path() / "desfeita.csv";
  j->writeReport(u.run, csv);
  EXPECT_NE(readFile(csv).find(
                "\r\nC:\\VITRALON\\DADOS\\Pessoas.DB;\"Estacao=01; Codigo=2\";conflito;Nome;Bia;Bia2\r\n"),
            std::string::npos)
      << readFile(csv);
  EXPECT_EQ(linesOf(u.conflicts), (std::vector<Line>{
                                      {table, "Estacao=01; Codigo=3", 'D', "Estacao", "01", ""},
                                      {table, "Estacao=01; Codigo=3", 'D', "Codigo", "3", ""},
                                      {table, "Estacao=01; Codigo=3", 'D', "Nome", "Caio2", ""},
                                      {table, "Estacao=01; Codigo=3", 'D', "Fone", "", ""},
                                      {table, "Estacao=01; Codigo=3", 'D', "Valor", "7", ""},
                                      {table, "Estacao=01; Codigo=3", 'U', "Nome", "Caio", "Caio2"},
                                      {table, "Estacao=01; Codigo=2", 'U', "Nome", "Bia", "Bia2"},
                                  }));
  auto t = opened("Pessoas");
  EXPECT_EQ(enginetest::EngineTest::walk(*t, "Nome"), (std::vector<std::string>{"Ana", "Outra", "Nova"}));
  t->close();
  // Undone again: what is as before counts unchanged, the conflicts stay.
  UndoResult again = j->undo(number, nullptr);
  EXPECT_EQ(again.restored, 0);
  EXPECT_EQ(again.unchanged, 1);
  EXPECT_EQ(again.conflicts.size(), 7u);
  EXPECT_EQ(j->rowsToRestore(again.run), 0);
}

// A program killed before its changes were committed to the table file, and
// one killed after the commit, before the run's end collected the records.
class JournalDeath : public JournalRuns {
 protected:
  enum class When { BeforeTableCommit, AfterTableCommit };

  void runAndDie(When when) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        auto j = Journal::open(nullptr);
        j->beginRun("BotTeste", "Teste");
        auto t = opened("Pessoas");
        enginetest::addPerson(*t, "01", 8, "Oito");
        go(*t, 1);
        t->edit();
        t->setString("Nome", "Um");
        t->post();
        go(*t, 2);
        t->remove();
        if (when == When::AfterTableCommit) t->flushBuffers();
        _exit(0);
      } catch (...) {
        _exit(3);
      }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
  }
};

TEST_F(JournalDeath, ChangesThatNeverReachedTheTableLeaveNoRecordsAndTheRunIsFoundDead) {
  const std::string before = dump(dados("Pessoas.DB"), "Pessoas");
  runAndDie(When::BeforeTableCommit);
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), before);
  auto j = Journal::open(nullptr);
  std::optional<RunInfo> r = j->run(1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->outcome, RunOutcome::Died);
  EXPECT_EQ(OutcomeText(r->outcome), std::string("não terminou"_cp));
  EXPECT_EQ(j->rowsToRestore(1), 0);
  EXPECT_EQ(scalar(Journal::file(), "SELECT count(*) FROM changes"), 0);
}

TEST_F(JournalDeath, RecordsCommittedWithTheChangesAreCollectedAtTheNextStartAndTheDeadRunUndoneExactly) {
  const std::string before = dump(dados("Pessoas.DB"), "Pessoas");
  runAndDie(When::AfterTableCommit);
  EXPECT_NE(dump(dados("Pessoas.DB"), "Pessoas"), before);
  // The records went into the table file with the changes.
  EXPECT_EQ(scalar(dados("Pessoas.DB"), "SELECT count(*) FROM _journal"), 3);
  EXPECT_EQ(scalar(Journal::file(), "SELECT count(*) FROM changes"), 0);
  auto j = Journal::open(nullptr);
  EXPECT_EQ(j->run(1)->outcome, RunOutcome::Died);
  EXPECT_EQ(scalar(dados("Pessoas.DB"), "SELECT count(*) FROM _journal"), 0);
  EXPECT_EQ(j->rowsToRestore(1), 3);
  UndoResult u = j->undo(1, nullptr);
  EXPECT_EQ(u.restored, 3);
  EXPECT_TRUE(u.conflicts.empty());
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), before);
}

TEST_F(JournalRuns, AReplacedRegisterIsPutBackFromItsCopyUnlessTheTableChangedSince) {
  // The interim table that takes the live table's place.
  Session::createTable("C:\\VITRALON\\INTER", "Pessoas", enginetest::peopleDef());
  {
    auto t = std::make_unique<Table>("I");
    t->setDatabaseName("C:\\VITRALON\\INTER");
    t->setTableName("Pessoas");
    t->open();
    enginetest::addPerson(*t, "01", 1, "Ana", "111", 1.5);
    t->close();
  }
  auto replace = [&] {
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    sqlite3_open_v2(host("VITRALON/INTER/Pessoas.DB").c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_open_v2(dados("Pessoas.DB").c_str(), &dst, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(sqlite3_backup_step(b, -1), SQLITE_DONE);
    sqlite3_backup_finish(b);
    sqlite3_close(src);
    sqlite3_close(dst);
  };
  const std::string original = dump(dados("Pessoas.DB"), "Pessoas");
  const std::string table = path("Pessoas");
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotConfirma", "Confirmar");
  j->beforeReplace(table);
  replace();
  j->afterReplace(table);
  j->endRun(RunOutcome::Completed);
  const std::string replaced = dump(dados("Pessoas.DB"), "Pessoas");
  ASSERT_NE(replaced, original);
  const std::string copy = "C:\\VITRALON\\CONSISTGERAL\\Copias\\R" + std::to_string(number) + "-1.DB";
  EXPECT_EQ(linesOf(j->changes(number)), (std::vector<Line>{{table, "", 'R', "", copy, ""}}));
  EXPECT_EQ(j->run(number)->counts, (std::map<std::pair<std::string, char>, int64_t>{{{table, 'R'}, 1}}));
  EXPECT_EQ(dump(DriveC::resolve(copy), "Pessoas"), original);

  UndoResult u = j->undo(number, nullptr);
  EXPECT_EQ(u.restored, 1);
  EXPECT_TRUE(u.conflicts.empty());
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), original);
  // The restore kept a copy of its own: undoing the undo replaces again.
  UndoResult back = j->undo(u.run, nullptr);
  EXPECT_EQ(back.restored, 1);
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), replaced);

  // Replaced, then changed by another run: the undo is refused.
  number = j->beginRun("BotConfirma", "Confirmar");
  {
    auto t = opened("Pessoas");
    enginetest::addPerson(*t, "01", 8, "Antes");
    t->close();
  }
  session_->closeAll();
  j->endRun(RunOutcome::Completed);
  std::string live = dump(dados("Pessoas.DB"), "Pessoas");
  int64_t second = j->beginRun("BotConfirma", "Confirmar");
  j->beforeReplace(table);
  replace();
  j->afterReplace(table);
  j->endRun(RunOutcome::Completed);
  {
    auto t = opened("Pessoas");
    enginetest::addPerson(*t, "01", 9, "Depois");
    t->close();
  }
  session_->closeAll();
  live = dump(dados("Pessoas.DB"), "Pessoas");
  UndoResult refused = j->undo(second, nullptr);
  EXPECT_EQ(refused.restored, 0);
  ASSERT_EQ(refused.conflicts.size(), 1u);
  EXPECT_EQ(refused.conflicts[0].op, 'R');
  EXPECT_EQ(refused.conflicts[0].before,
            "C:\\VITRALON\\CONSISTGERAL\\Copias\\R" + std::to_string(second) + "-1.DB");
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), live);
  (void)number;
}

TEST_F(JournalRuns, RunsOlderThanTheDaysKeptGoWithTheirCopiesAtTheNextStart) {
  EXPECT_EQ(Journal::keepDays(), 90);
  const std::string table = path("Pessoas");
  std::filesystem::path copy;
  {
    auto j = Journal::open(nullptr);
    j->beginRun("BotConfirma", "Confirmar");
    j->beforeReplace(table);
    outside(dados("Pessoas.DB"), "DELETE FROM Pessoas WHERE Codigo = 3");
    j->afterReplace(table);
    j->endRun(RunOutcome::Completed);
    copy = DriveC::resolve(j->changes(1).at(0).before);
    ASSERT_TRUE(std::filesystem::exists(copy));
  }
  writeIni("[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\n[consistgeral]\nhistorico_dias = 2\n");
  EXPECT_EQ(Journal::keepDays(), 2);
  Clock::advanceMs(int64_t{36} * 3600 * 1000);
  {
    auto j = Journal::open(nullptr);
    EXPECT_EQ(j->runs().size(), 1u);
    j->beginRun("BotTeste", "Teste");
    auto t = opened("Pessoas");
    go(*t, 1);
    t->remove();
    t->close();
    j->endRun(RunOutcome::Completed);
  }
  Clock::advanceMs(int64_t{24} * 3600 * 1000);
  auto j = Journal::open(nullptr);
  Clock::reset();
  std::vector<RunInfo> runs = j->runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].number, 2);
  EXPECT_EQ(runs[0].total(), 1);
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ(scalar(Journal::file(), "SELECT count(*) FROM changes WHERE run = 1"), 0);
  writeIni("[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\n[consistgeral]\nhistorico_dias = muitos\n");
  EXPECT_EQ(Journal::keepDays(), 90);
}

TEST_F(JournalRuns, TheUndoFindsALocalRowByItsKeyAndNeverTouchesAnotherRecordThatTookItsPlace) {
  auto j = Journal::open(nullptr);
  auto change = [&] {
    int64_t number = j->beginRun("BotTeste", "Teste");
    auto t = opened("Pessoas");
    for (int code : {2, 3}) {
      go(*t, code);
      t->edit();
      t->setString("Nome", t->asString("Nome") + "2");
      t->post();
    }
    go(*t, 1);
    t->remove();
    t->close();
    session_->closeAll();
    j->endRun(RunOutcome::Completed);
    return number;
  };
  const std::string original = dump(dados("Pessoas.DB"), "Pessoas");
  int64_t first = change();
  // Another program deletes the two rows the run changed and adds records
  // of its own in their rowids, holding what the run left in the changed
  // fields; the deleted record comes back with another phone.
  outside(
      dados("Pessoas.DB"),
      "DELETE FROM Pessoas WHERE rowid IN (2, 3);"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (2, '01', 9, 'Bia2', '', 0);"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (3, '01', 8, 'Caio2', '', 7);"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (5, '01', 1, 'Ana', '999', "
      "1.5);");
  const std::string theirs = dump(dados("Pessoas.DB"), "Pessoas");
  UndoResult u = j->undo(first, nullptr);
  EXPECT_EQ(u.restored, 0);
  EXPECT_EQ(u.unchanged, 0);
  std::set<std::string> keys;
  for (const ChangeLine& l : u.conflicts) keys.insert(l.key);
  EXPECT_EQ(keys,
            (std::set<std::string>{"Estacao=01; Codigo=1", "Estacao=01; Codigo=2", "Estacao=01; Codigo=3"}));
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), theirs);

  // Rows moved to other rowids (a table rebuilt) are still the run's rows:
  // found by key and put back.
  outside(
      dados("Pessoas.DB"),
      "DELETE FROM Pessoas;"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (1, '01', 1, 'Ana', '111', 1.5);"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (2, '01', 2, 'Bia', '222', 0);"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (3, '01', 3, 'Caio', NULL, 7);");
  ASSERT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), original);
  int64_t second = change();
  outside(
      dados("Pessoas.DB"),
      "UPDATE Pessoas SET rowid = rowid + 10;"
      "INSERT INTO Pessoas(rowid, Estacao, Codigo, Nome, Fone, Valor) VALUES (1, '01', 7, 'Sete', '', 0);");
  UndoResult back = j->undo(second, nullptr);
  EXPECT_EQ(back.restored, 3);
  EXPECT_TRUE(back.conflicts.empty());
  Rows rows = rowsByKey(dados("Pessoas.DB"), "Pessoas", {"Estacao", "Codigo"});
  EXPECT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows["Estacao=01; Codigo=1"]["Fone"], "111");
  EXPECT_EQ(rows["Estacao=01; Codigo=2"]["Nome"], "Bia");
  EXPECT_EQ(rows["Estacao=01; Codigo=3"]["Nome"], "Caio");
  EXPECT_EQ(rows["Estacao=01; Codigo=7"]["Nome"], "Sete");
}

// A register replaced whole by a command file: the interim table that
// takes the live table's place.
class JournalReplace : public JournalRuns {
 protected:
  void SetUp() override {
    JournalRuns::SetUp();
    Session::createTable("C:\\VITRALON\\INTER", "Pessoas", enginetest::peopleDef());
    auto t = std::make_unique<Table>("I");
    t->setDatabaseName("C:\\VITRALON\\INTER");
    t->setTableName("Pessoas");
    t->open();
    enginetest::addPerson(*t, "01", 1, "ANA", "111", 1.5);
    t->close();
  }
  // What the command file does: the interim file written into the live one.
  void replace() {
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    sqlite3_open_v2(host("VITRALON/INTER/Pessoas.DB").c_str(), &src, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_open_v2(dados("Pessoas.DB").c_str(), &dst, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(sqlite3_backup_step(b, -1), SQLITE_DONE);
    sqlite3_backup_finish(b);
    sqlite3_close(src);
    sqlite3_close(dst);
  }
  static std::string interim() { return "C:\\VITRALON\\INTER\\Pessoas.DB"; }
};

TEST_F(JournalReplace, ACopyThatIsDamagedForeignOrChangedIsRefusedByNameAndNothingChanges) {
  Session::createTable("C:\\VITRALON\\DADOS", "Outros", enginetest::peopleDef());
  const std::string original = dump(dados("Pessoas.DB"), "Pessoas");
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotConfirma", "Confirmar");
  j->beforeReplace(path("Pessoas"), interim());
  replace();
  j->afterReplace(path("Pessoas"));
  j->endRun(RunOutcome::Completed);
  const std::string replaced = dump(dados("Pessoas.DB"), "Pessoas");
  const std::string copy = "C:\\VITRALON\\CONSISTGERAL\\Copias\\R" + std::to_string(number) + "-1.DB";
  const std::filesystem::path copyFile = DriveC::resolve(copy);
  const std::string kept = readFile(copyFile);
  auto refused = [&](const std::string& what) {
    const size_t runs = j->runs().size();
    try {
      j->undo(number, nullptr);
      ADD_FAILURE() << what << ": undone";
    } catch (const EJournalError& e) {
      EXPECT_NE(e.message().find(copy), std::string::npos) << what << ": " << e.message();
    }
    EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), replaced) << what;
    EXPECT_EQ(j->runs().size(), runs) << what;
  };
  auto write = [&](const std::string& bytes) {
    std::ofstream out(copyFile, std::ios::binary | std::ios::trunc);
    out << bytes;
  };
  write("");
  refused("empty");
  write(kept.substr(0, kept.size() / 2));
  refused("truncated");
  write(readFile(dados("Outros.DB")));
  refused("another table");
  write(kept);
  outside(copyFile, "UPDATE Pessoas SET Nome = 'OUTRA' WHERE Codigo = 2");
  refused("changed");
  std::filesystem::remove(copyFile);
  refused("missing");
  write(kept);
  UndoResult u = j->undo(number, nullptr);
  EXPECT_EQ(u.restored, 1);
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), original);
}

TEST_F(JournalReplace, AReplacementWhoseProgramDiedIsUndoneAndACommandFileThatReplacedNothingLeavesNoChange) {
  const std::string original = dump(dados("Pessoas.DB"), "Pessoas");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      auto j = Journal::open(nullptr);
      j->beginRun("BotConfirma", "Confirmar");
      j->beforeReplace(path("Pessoas"), interim());
      replace();
      _exit(0);  // killed before the end of the command file was seen
    } catch (...) {
      _exit(3);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_NE(dump(dados("Pessoas.DB"), "Pessoas"), original);
  auto j = Journal::open(nullptr);
  EXPECT_EQ(j->run(1)->outcome, RunOutcome::Died);
  UndoResult u = j->undo(1, nullptr);
  EXPECT_EQ(u.restored, 1);
  EXPECT_TRUE(u.conflicts.empty());
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), original);

  // A command file that failed before writing anything: no replacement, no
  // copy, nothing to undo.
  int64_t failed = j->beginRun("BotConfirma", "Confirmar");
  j->beforeReplace(path("Pessoas"), interim());
  j->afterReplace(path("Pessoas"));
  j->endRun(RunOutcome::Failed, "O comando falhou.");
  EXPECT_TRUE(j->changes(failed).empty());
  EXPECT_EQ(j->run(failed)->total(), 0);
  EXPECT_FALSE(std::filesystem::exists(
      DriveC::resolve("C:\\VITRALON\\CONSISTGERAL\\Copias\\R" + std::to_string(failed) + "-1.DB")));
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), original);
}

TEST_F(JournalReplace, AJournalOfTheFirstFormatIsUpgradedAndItsCopiesStillPutBack) {
  const std::string original = dump(dados("Pessoas.DB"), "Pessoas");
  {
    auto j = Journal::open(nullptr);
    j->beginRun("BotConfirma", "Confirmar");
    j->beforeReplace(path("Pessoas"), interim());
    replace();
    j->afterReplace(path("Pessoas"));
    j->endRun(RunOutcome::Completed);
  }
  outside(Journal::file(),
          "ALTER TABLE copies DROP COLUMN copy_digest; ALTER TABLE run_files DROP COLUMN after_seq; DROP "
          "TABLE conflicts; DROP TRIGGER runs_numbered; DROP TABLE numbers; "
          "PRAGMA user_version = 1;");
  auto j = Journal::open(nullptr);
  EXPECT_EQ(scalar(Journal::file(), "PRAGMA user_version"), 2);
  EXPECT_EQ(scalar(Journal::file(), "SELECT count(*) FROM copies WHERE copy_digest = ''"), 1);
  UndoResult u = j->undo(1, nullptr);
  EXPECT_EQ(u.restored, 1);
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), original);
}

TEST_F(JournalDeath, RecordsLeftByARunTheJournalNoLongerKnowsGoToARunOfTheirOwn) {
  const std::string before = dump(dados("Pessoas.DB"), "Pessoas");
  runAndDie(When::AfterTableCommit);
  ASSERT_EQ(scalar(dados("Pessoas.DB"), "SELECT count(*) FROM _journal"), 3);
  // The journal is lost: a new one numbers its runs from 1 again.
  for (const char* side : {"", "-wal", "-shm"}) std::filesystem::remove(Journal::file().string() + side);
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotOutro", "Outro");
  ASSERT_EQ(number, 1);
  {
    auto t = opened("Pessoas");
    go(*t, 3);
    t->edit();
    t->setString("Nome", "Caio3");
    t->post();
    t->close();
  }
  session_->closeAll();
  j->endRun(RunOutcome::Completed);
  EXPECT_EQ(scalar(dados("Pessoas.DB"), "SELECT count(*) FROM _journal"), 0);
  const std::string table = path("Pessoas");
  EXPECT_EQ(j->run(1)->counts, (std::map<std::pair<std::string, char>, int64_t>{{{table, 'U'}, 1}}));
  std::vector<RunInfo> runs = j->runs();
  ASSERT_EQ(runs.size(), 2u);
  const RunInfo& lost = runs[1];
  EXPECT_EQ(lost.caption, std::string("Alterações de uma execução interrompida, histórico perdido"_cp));
  EXPECT_EQ(lost.outcome, RunOutcome::Died);
  EXPECT_EQ(lost.counts, (std::map<std::pair<std::string, char>, int64_t>{
                             {{table, 'I'}, 1}, {{table, 'U'}, 1}, {{table, 'D'}, 1}}));
  // Each undone apart: the run's own change, then the lost run's.
  UndoResult u = j->undo(1, nullptr);
  EXPECT_EQ(u.restored, 1);
  UndoResult v = j->undo(lost.number, nullptr);
  EXPECT_EQ(v.restored, 3);
  EXPECT_TRUE(v.conflicts.empty());
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), before);
}

TEST_F(JournalRuns, TheUndoOfARunThatChangedNothingIsRefusedAndMakesNoRun) {
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotTeste", "Teste");
  j->endRun(RunOutcome::Completed);
  const std::string before = dump(dados("Pessoas.DB"), "Pessoas");
  try {
    j->undo(number, nullptr);
    ADD_FAILURE() << "undone";
  } catch (const EJournalError& e) {
    EXPECT_EQ(e.message(), std::string("A execução "_cp) + std::to_string(number) +
                               std::string(" não alterou nenhum registro: nada há a desfazer."_cp));
  }
  EXPECT_EQ(j->runs().size(), 1u);
  EXPECT_EQ(dump(dados("Pessoas.DB"), "Pessoas"), before);
}

namespace {

// A CSV as the report writes it, read back: the fields of each line, and
// whether each was quoted (an empty quoted field is an empty text, an empty
// bare one a null).
struct CsvField {
  std::string text;
  bool quoted = false;
};
std::vector<std::vector<CsvField>> parseCsv(const std::string& csv) {
  std::vector<std::vector<CsvField>> out;
  size_t i = 3;  // the byte order mark
  std::vector<CsvField> line;
  CsvField field;
  while (i < csv.size()) {
    char c = csv[i];
    if (c == '"' && field.text.empty() && !field.quoted) {
      field.quoted = true;
      ++i;
      while (i < csv.size()) {
        if (csv[i] == '"') {
          if (i + 1 < csv.size() && csv[i + 1] == '"') {
            field.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.text += csv[i++];
      }
      continue;
    }
    if (c == ';') {
      line.push_back(field);
      field = {};
      ++i;
    } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
      line.push_back(field);
      field = {};
      out.push_back(line);
      line.clear();
      i += 2;
    } else {
      field.text += c;
      ++i;
    }
  }
  return out;
}

// A value of the report as a spreadsheet takes it back: null for an empty
// bare field, the guard mark taken off a text, a pt-BR real.
std::string valueOf(const CsvField& f) {
  if (!f.quoted && f.text.empty()) return "<null>";
  std::string v = f.text;
  if (!v.empty() && v[0] == '\'') v.erase(0, 1);
  return v;
}

}  // namespace

TEST_F(JournalRuns, TheReportReadBackGivesEveryValueExactlyAndNothingASpreadsheetWouldEvaluate) {
  outside(dados("Pessoas.DB"), "DELETE FROM Pessoas");
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotTeste", "Teste");
  const std::vector<std::pair<std::string, double>> people = {{"=SOMA(A1:A9)", 1.0 / 3},
                                                              {"+55 11", 0.1},
                                                              {"-x", -2.5},
                                                              {"@conta", 1e20},
                                                              {"01", 123456789.123456789},
                                                              {"00001", 1e-7},
                                                              {"'citado", 0.30000000000000004},
                                                              {"", 5}};
  {
    auto t = opened("Pessoas");
    int code = 1;
    for (const auto& [name, value] : people) enginetest::addPerson(*t, "01", code++, name, name, value);
    t->close();
  }
  session_->closeAll();
  // An empty text, as another program may leave it (the engine keeps none).
  outside(dados("Pessoas.DB"), "UPDATE Pessoas SET Nome = '' WHERE Codigo = 8");
  {
    auto t = opened("Pessoas");
    go(*t, 8);
    t->edit();
    t->setString("Nome", "Oito");
    t->post();
    t->close();
  }
  session_->closeAll();
  j->endRun(RunOutcome::Completed);
  const auto csv = tmp_.path() / "valores.csv";
  j->writeReport(number, csv);
  const auto lines = parseCsv(readFile(csv));
  // Every value read back as SQLite holds it: texts byte for byte, reals by
  // their shortest exact form, null apart from the empty text.
  std::map<std::string, std::string> read;  // "Codigo=N.Campo" -> value
  for (size_t i = 1; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 6u);
    const std::string key = lines[i][1].text, field = lines[i][3].text;
    const CsvField& v = lines[i][2].text == "altera\xC3\xA7\xC3\xA3o" ? lines[i][4] : lines[i][5];
    if (lines[i][2].text == "altera\xC3\xA7\xC3\xA3o") {
      read[key + "." + field + ".antes"] = valueOf(v);
      read[key + "." + field] = valueOf(lines[i][5]);
    } else {
      read[key + "." + field] = valueOf(v);
    }
    // Nothing a spreadsheet would evaluate or turn into a number.
    for (const CsvField& f : lines[i]) {
      ASSERT_FALSE(!f.text.empty() && std::string("=+@").find(f.text[0]) != std::string::npos) << f.text;
      ASSERT_FALSE(f.text.size() > 1 && f.text[0] == '0' &&
                   f.text.find_first_not_of("0123456789") == std::string::npos)
          << f.text;
    }
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dados("Pessoas.DB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT Codigo, Fone, Valor FROM Pessoas WHERE Codigo < 8 ORDER BY Codigo", -1, &st,
                     nullptr);
  int rows = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    const std::string prefix = "Estacao=01; Codigo=" + std::to_string(sqlite3_column_int(st, 0));
    EXPECT_EQ(read[prefix + ".Fone"], reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) << prefix;
    std::string real = read[prefix + ".Valor"];
    std::replace(real.begin(), real.end(), ',', '.');
    EXPECT_EQ(std::strtod(real.c_str(), nullptr), sqlite3_column_double(st, 2)) << prefix << " " << real;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ(rows, 7);
  EXPECT_EQ(read["Estacao=01; Codigo=8.Fone"], "<null>");
  EXPECT_EQ(read["Estacao=01; Codigo=8.Nome.antes"], "");  // the empty text
  EXPECT_EQ(read["Estacao=01; Codigo=8.Nome"], "Oito");
  EXPECT_EQ(read["Estacao=01; Codigo=8.Valor"], "5");
}

TEST_F(JournalReplace, RunNumbersAreNeverGivenAgainAndAJournalBegunAnewSaysTheHistoryBeforeIsGone) {
  {
    auto j = Journal::open(nullptr);
    j->beginRun("BotConfirma", "Confirmar");
    j->beforeReplace(path("Pessoas"), interim());
    replace();
    j->afterReplace(path("Pessoas"));
    j->endRun(RunOutcome::Completed);
    EXPECT_EQ(j->beginRun("BotTeste", "Teste"), 2);
    j->endRun(RunOutcome::Completed);
  }
  // Every run removed by the days kept: the numbers go on.
  writeIni("[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\n[consistgeral]\nhistorico_dias = 1\n");
  Clock::advanceMs(int64_t{48} * 3600 * 1000);
  {
    auto j = Journal::open(nullptr);
    EXPECT_TRUE(j->runs().empty());
    EXPECT_EQ(j->beginRun("BotTeste", "Teste"), 3);
    j->endRun(RunOutcome::Completed);
    j->beginRun("BotConfirma", "Confirmar");
    j->beforeReplace(path("Pessoas"), interim());
    outside(dados("Pessoas.DB"), "DELETE FROM Pessoas WHERE Codigo = 1");
    j->afterReplace(path("Pessoas"));
    j->endRun(RunOutcome::Completed);
  }
  Clock::reset();
  // The journal deleted: the new one says so, and numbers after the copies.
  for (const char* side : {"", "-wal", "-shm"}) std::filesystem::remove(Journal::file().string() + side);
  auto j = Journal::open(nullptr);
  std::vector<RunInfo> runs = j->runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].number, 5);
  EXPECT_EQ(runs[0].caption, std::string("Histórico começado de novo: o anterior foi apagado ou perdido, as "
                                         "execuções até a número 4 não estão nele"_cp));
  EXPECT_EQ(runs[0].total(), 0);
  EXPECT_EQ(j->beginRun("BotTeste", "Teste"), 6);
}

TEST_F(JournalRuns, AJournalThatCannotBeOpenedSaysWhyInPortugueseBeforeSQLitesWords) {
  std::filesystem::create_directories(Journal::file());  // a folder where the file goes
  try {
    Journal::open(nullptr);
    ADD_FAILURE() << "opened";
  } catch (const EJournalError& e) {
    EXPECT_EQ(e.message(),
              std::string("Erro no histórico C:\\VITRALON\\CONSISTGERAL\\Historico.db: o arquivo não pôde "
                          "ser aberto nem criado (unable to open database file)"_cp));
  }
  std::filesystem::remove(Journal::file());
  {
    auto j = Journal::open(nullptr);
    j->beginRun("BotTeste", "Teste");
    j->endRun(RunOutcome::Completed);
  }
  // Held by another program: locked.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Journal::file().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  try {
    Journal::open(nullptr);
    ADD_FAILURE() << "opened";
  } catch (const EJournalError& e) {
    EXPECT_NE(e.message().find("o arquivo está bloqueado por outro programa (database is locked)"_cp),
              std::string::npos)
        << e.message();
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
}

TEST_F(JournalRuns, OneFileIsOneNameHoweverTheProgramSpellsIt) {
  auto j = Journal::open(nullptr);
  int64_t number = j->beginRun("BotTeste", "Teste");
  {
    auto t = opened("Pessoas");
    go(*t, 1);
    t->remove();
    t->close();
  }
  session_->closeAll();
  {
    auto t = opened("PESSOAS");
    go(*t, 2);
    t->remove();
    t->close();
  }
  session_->closeAll();
  j->endRun(RunOutcome::Completed);
  EXPECT_EQ(j->run(number)->counts,
            (std::map<std::pair<std::string, char>, int64_t>{{{path("Pessoas"), 'D'}, 2}}));
}
