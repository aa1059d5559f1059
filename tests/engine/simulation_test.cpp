// A simulated run of the local tables: the run reads its own writes, other
// programs read the files as they were, and at the end (or after a kill)
// every file is byte for byte as before, with no lock left.
#include "data/engine/simulation.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "data/engine/changes.h"
#include "data/engine/sqlite.h"
#include "engine_fixture.h"

using namespace enginetest;
using cg::operator""_cp;

namespace {

// A sink that notes the files it is told of and keeps the records a
// simulation hands over at its end.
class Recorder : public cg::LocalChangeSink {
 public:
  std::vector<std::string> touchedTables;
  std::map<std::string, std::vector<std::string>> simulatedRecords;  // by data table
  bool refuse = false;
  int64_t currentRun() noexcept override { return 5; }
  void touched(const cg::ChangedTable& t) override {
    if (refuse) throw cg::Exception("disco cheio");
    touchedTables.push_back(t.dataTable);
  }
  void simulated(const cg::ChangedTable& t, const std::vector<Record>& records) noexcept override {
    for (const Record& r : records)
      simulatedRecords[t.dataTable].push_back(std::string(1, r.op) + " #" + std::to_string(r.rowid) + " run" +
                                              std::to_string(r.run));
  }
};

std::string bytesOf(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Another program on the file: rows as it reads them, and whether it can
// take the write lock at once.
struct OtherProgram {
  sqlite3* db = nullptr;
  explicit OtherProgram(const std::filesystem::path& file) { sqlite3_open(file.c_str(), &db); }
  ~OtherProgram() { sqlite3_close(db); }
  std::vector<std::string> rows(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return {"erro"};
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* v = sqlite3_column_text(st, i);
        row += (i ? "|" : "") + std::string(v ? reinterpret_cast<const char*>(v) : "<null>");
      }
      out.push_back(row);
    }
    if (rc != SQLITE_DONE) out.push_back("erro " + std::to_string(rc));
    sqlite3_finalize(st);
    return out;
  }
  int beginImmediate() {
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
  }
};

class Simulation : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
    cg::Session::createTable("C:\\VITRALON\\DADOS", "Itens.DB", peopleDef());
    for (const char* table : {"Pessoas", "Itens"}) {
      auto t = opened(table);
      addPerson(*t, "01", 1, "ANA", "111", 1.5);
      addPerson(*t, "01", 2, "BIA", "222");
      t->close();
    }
    pessoas_ = host("VITRALON/DADOS/Pessoas.DB");
    itens_ = host("VITRALON/DADOS/Itens.DB");
  }
  void TearDown() override {
    cg::EndLocalSimulation();
    cg::SetLocalChangeSink(nullptr);
    EngineTest::TearDown();
  }
  std::vector<std::string> names(const std::string& table) {
    auto t = opened(table);
    std::vector<std::string> out;
    for (t->first(); !t->eof(); t->next()) out.push_back(t->asString("Nome") + "/" + t->asString("Valor"));
    return out;
  }
  bool sideFiles(const std::filesystem::path& f) {
    return std::filesystem::exists(f.string() + "-wal") || std::filesystem::exists(f.string() + "-shm");
  }
  std::filesystem::path pessoas_, itens_;
};

}  // namespace

TEST_F(Simulation, AWalkReadsItsOwnWritesOthersReadTheOldRowsAndTheEndLeavesEveryFileAsItWas) {
  const std::string pessoasBefore = bytesOf(pessoas_), itensBefore = bytesOf(itens_);
  ASSERT_FALSE(sideFiles(pessoas_));
  Recorder rec;
  cg::SetLocalChangeSink(&rec);

  cg::BeginLocalSimulation();
  EXPECT_TRUE(cg::LocalSimulationActive());
  EXPECT_THROW(cg::BeginLocalSimulation(), cg::EDBEngineError);
  {
    auto t = opened("Pessoas");
    t->edit();
    t->setString("Nome", "ANA MARIA");
    t->post();
    addPerson(*t, "02", 3, "CAIO", "", 7);
    t->flushBuffers();  // where a real run commits: a savepoint
    ASSERT_TRUE(t->findKey({std::string("01"), int64_t{2}}));
    t->remove();
    t->close();
  }
  // The table opened again reads what the simulation wrote.
  EXPECT_EQ(names("Pessoas"), (std::vector<std::string>{"ANA MARIA/1,5", "CAIO/7"}));
  // A closed table emptied; a statement on one table file.
  auto itens = bound("Itens");
  itens->emptyTable();
  cg::Query q("Q");
  q.setDatabaseName("VTRNDADOS");
  q.setSQL("update pessoas set Valor = 9 where Codigo = 3");
  EXPECT_EQ(q.execSQL(), 1);
  EXPECT_EQ(names("Pessoas"), (std::vector<std::string>{"ANA MARIA/1,5", "CAIO/9"}));
  EXPECT_EQ(names("Itens"), std::vector<std::string>{});
  // A statement over two table files cannot run inside one file's transaction.
  q.setSQL("delete from Itens where Codigo in (select Codigo from Pessoas)");
  try {
    q.execSQL();
    FAIL() << "a statement over two files ran in a simulation";
  } catch (const cg::EDBEngineError& e) {
    EXPECT_EQ(e.message(),
              "A instrução SQL usa mais de uma tabela e não pode ser simulada (C:\\VITRALON\\DADOS): "
              "delete from Itens where Codigo in (select Codigo from Pessoas)"_cp);
  }
  EXPECT_THROW(cg::Session::createTable("C:\\VITRALON\\DADOS", "Nova.DB", peopleDef()), cg::EDBEngineError);
  EXPECT_FALSE(std::filesystem::exists(host("VITRALON/DADOS/Nova.DB")));

  // Another program reads the rows as they are on disk, at once, and cannot
  // write: the simulation holds the write locks.
  {
    OtherProgram other(pessoas_);
    sqlite3_busy_timeout(other.db, 0);
    EXPECT_EQ(other.rows("SELECT Nome, Valor FROM Pessoas ORDER BY Codigo"),
              (std::vector<std::string>{"ANA|1.5", "BIA|0.0"}));
    EXPECT_EQ(other.beginImmediate(), SQLITE_BUSY);
    OtherProgram otherItens(itens_);
    EXPECT_EQ(otherItens.rows("SELECT count(*) FROM Itens"), std::vector<std::string>{"2"});
  }
  session_->flushAll();
  session_->closeAll();
  itens.reset();
  cg::EndLocalSimulation();
  EXPECT_FALSE(cg::LocalSimulationActive());

  // Every change was recorded where a real run commits, and the end handed
  // the records of what the simulation changed over, file by file.
  EXPECT_EQ(rec.simulatedRecords, (std::map<std::string, std::vector<std::string>>{
                                      {"Pessoas", {"U #1 run5", "I #3 run5", "D #2 run5", "U #3 run5"}},
                                      {"Itens", {"D #1 run5", "D #2 run5"}}}));
  EXPECT_EQ(rec.touchedTables.size(), 4u);  // savepoint to savepoint, per file

  // No lock left, no log left, every byte as before.
  for (const auto& f : {pessoas_, itens_}) {
    OtherProgram other(f);
    EXPECT_EQ(other.beginImmediate(), SQLITE_OK);
  }
  EXPECT_FALSE(sideFiles(pessoas_));
  EXPECT_FALSE(sideFiles(itens_));
  EXPECT_EQ(bytesOf(pessoas_), pessoasBefore);
  EXPECT_EQ(bytesOf(itens_), itensBefore);
  EXPECT_EQ(names("Pessoas"), (std::vector<std::string>{"ANA/1,5", "BIA/0"}));
  EXPECT_EQ(names("Itens"), (std::vector<std::string>{"ANA/1,5", "BIA/0"}));

  // After the simulation, writes are real again.
  auto t = opened("Pessoas");
  addPerson(*t, "09", 9, "ZECA");
  t->close();
  EXPECT_EQ(OtherProgram(pessoas_).rows("SELECT Nome FROM Pessoas WHERE Codigo = 9"),
            std::vector<std::string>{"ZECA"});
}

TEST_F(Simulation, APartTheJournalCannotRecordIsRolledBackAloneAndSaidSo) {
  const std::string before = bytesOf(pessoas_);
  Recorder rec;
  cg::SetLocalChangeSink(&rec);
  cg::LocalSimulation simulation;
  auto t = opened("Pessoas");
  addPerson(*t, "03", 1, "LUA");
  t->flushBuffers();
  rec.refuse = true;
  addPerson(*t, "03", 2, "MIA");
  addPerson(*t, "03", 3, "ZEZ");
  try {
    t->flushBuffers();
    FAIL() << "a part without its record was kept";
  } catch (const cg::EDBEngineError& e) {
    EXPECT_EQ(e.message(), "disco cheio");
  }
  rec.refuse = false;
  // The part before the failure stays in the simulation; the failed one is gone.
  EXPECT_EQ(names("Pessoas"), (std::vector<std::string>{"ANA/1,5", "BIA/0", "LUA/0"}));
  t->close();
  t.reset();
  session_->closeAll();
  cg::EndLocalSimulation();
  EXPECT_EQ(rec.simulatedRecords,
            (std::map<std::string, std::vector<std::string>>{{"Pessoas", {"I #3 run5"}}}));
  EXPECT_EQ(bytesOf(pessoas_), before);
}

TEST_F(Simulation, AProgramKilledInTheMiddleOfASimulationLeavesEveryFileAsItWas) {
  const std::string pessoasBefore = bytesOf(pessoas_), itensBefore = bytesOf(itens_);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    try {
      cg::BeginLocalSimulation();
      auto t = opened("Pessoas");
      // A small page cache: the uncommitted transaction spills into the log.
      sqlite3_exec(cg::engine::Connection::find(pessoas_)->db(), "PRAGMA cache_size=8", nullptr, nullptr,
                   nullptr);
      for (int i = 0; i < 2500; ++i) addPerson(*t, "05", i, "NOME " + std::to_string(i), "", i);
      t->flushBuffers();
      bound("Itens")->emptyTable();
      char ok = '1';
      if (write(ready[1], &ok, 1) != 1) _exit(3);
    } catch (...) {
      _exit(2);
    }
    pause();
    _exit(0);
  }
  close(ready[1]);
  char got = 0;
  ASSERT_EQ(read(ready[0], &got, 1), 1);
  close(ready[0]);
  // Meanwhile, another program reads the old rows.
  EXPECT_EQ(OtherProgram(pessoas_).rows("SELECT count(*) FROM Pessoas"), std::vector<std::string>{"2"});
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  // The simulation's pages went to the log, uncommitted.
  ASSERT_TRUE(std::filesystem::exists(pessoas_.string() + "-wal"));
  EXPECT_GT(std::filesystem::file_size(pessoas_.string() + "-wal"), 8u * 4096u);

  EXPECT_EQ(names("Pessoas"), (std::vector<std::string>{"ANA/1,5", "BIA/0"}));
  EXPECT_EQ(names("Itens"), (std::vector<std::string>{"ANA/1,5", "BIA/0"}));
  session_->closeAll();
  EXPECT_FALSE(sideFiles(pessoas_));
  EXPECT_EQ(bytesOf(pessoas_), pessoasBefore);
  EXPECT_EQ(bytesOf(itens_), itensBefore);
}
