// Other programs on the same files: the write lock, and what survives when
// the program is killed.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "data/engine/sqlite.h"
#include "engine_fixture.h"

using namespace enginetest;
using cg::operator""_cp;
namespace fs = std::filesystem;

namespace {

// A second connection to a table file, as another program would hold it.
class OtherProgram {
 public:
  explicit OtherProgram(const fs::path& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open " << file;
  }
  ~OtherProgram() { sqlite3_close(db_); }
  int exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
  sqlite3* db() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Locking : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
  }
  fs::path file() { return host("VITRALON/DADOS/Pessoas.DB"); }

  // Runs `work` in a child process, which must end by calling dieNow() while
  // its tables are still open; true when the child died that way.
  bool runAndKill(const std::function<void()>& work) {
    pid_t pid = fork();
    if (pid == 0) {
      try {
        work();
      } catch (...) {
        _exit(3);
      }
      _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
};

// Kills the process on the spot: no destructor, no close, no commit.
void dieNow() { raise(SIGKILL); }

}  // namespace

TEST_F(Locking, EditWhileAnotherProgramHoldsTheWriteLockFailsWithinTwoSeconds) {
  {
    auto t = opened("Pessoas");
    addPerson(*t, "01", 1, "ANA");
  }
  OtherProgram other(file());
  ASSERT_EQ(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
  auto t = opened("Pessoas");  // reading is still possible
  EXPECT_EQ(t->asString("Nome"), "ANA");
  auto start = std::chrono::steady_clock::now();
  try {
    t->edit();
    FAIL() << "edit went through";
  } catch (const cg::ERecordLocked& e) {
    EXPECT_EQ(e.message(),
              "Registro bloqueado por outro usuário.\rTabela: C:\\VITRALON\\DADOS\\Pessoas.DB"_cp);
    EXPECT_STREQ(e.className(), "ERecordLocked");
  }
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1500));
  EXPECT_LE(waited, std::chrono::milliseconds(4000));
  EXPECT_FALSE(t->editing());
  EXPECT_THROW(t->append(), cg::ERecordLocked);
  // Once the other program lets go, the edit goes through.
  ASSERT_EQ(other.exec("ROLLBACK"), SQLITE_OK);
  t->edit();
  t->setString("Nome", "BIA");
  t->post();
  t->flushBuffers();
  EXPECT_EQ(t->asString("Nome"), "BIA");
}

TEST_F(Locking, ARecordInEditIsProtectedFromOtherPrograms) {
  auto t = opened("Pessoas");
  addPerson(*t, "01", 1, "ANA");
  t->flushBuffers();
  t->edit();
  OtherProgram other(file());
  other.exec("PRAGMA busy_timeout=100");
  EXPECT_EQ(other.exec("UPDATE Pessoas SET Nome = 'X'") & 0xFF, SQLITE_BUSY);
  t->setString("Nome", "CAIO");
  t->post();
  t->flushBuffers();
  EXPECT_EQ(other.exec("UPDATE Pessoas SET Fone = '1'"), SQLITE_OK);
  t->first();
  EXPECT_EQ(t->asString("Nome"), "CAIO");
  EXPECT_EQ(t->asString("Fone"), "1");
}

TEST_F(Locking, ASavedPostSurvivesTheProgramBeingKilled) {
  ASSERT_TRUE(runAndKill([&] {
    cg::Session s("Sessao1");
    auto t = opened("Pessoas");
    t->afterPost = [](cg::Table& x) { x.flushBuffers(); };
    addPerson(*t, "01", 1, "SALVO");
    addPerson(*t, "01", 2, "TAMBEM");
    dieNow();
  }));
  auto t = opened("Pessoas");
  EXPECT_EQ(walk(*t, "Nome"), (std::vector<std::string>{"SALVO", "TAMBEM"}));
}

TEST_F(Locking, GroupedPostsAreOnDiskOnceTheTableIsClosed) {
  ASSERT_TRUE(runAndKill([&] {
    cg::Session s("Sessao1");
    auto t = opened("Pessoas");
    for (int i = 1; i <= 2500; ++i) addPerson(*t, "01", i, "P");
    t->close();
    auto u = opened("Pessoas");
    addPerson(*u, "02", 1, "Q");
    s.flushAll();
    addPerson(*u, "03", 1, "PERDIDO");  // neither saved nor closed
    dieNow();
  }));
  auto t = opened("Pessoas");
  EXPECT_EQ(t->recordCount(), 2501);
  EXPECT_FALSE(t->findKey({std::string("03")}));
  EXPECT_TRUE(t->findKey({std::string("02")}));
}

TEST_F(Locking, AKilledWriterLeavesNoHalfWrittenGroup) {
  constexpr int kPosts = cg::engine::Connection::kMaxGroupedWrites + 100;  // more than one group
  ASSERT_TRUE(runAndKill([&] {
    cg::Session s("Sessao1");
    auto t = opened("Pessoas");
    for (int i = 1; i <= kPosts; ++i) addPerson(*t, "01", i, "P");
    dieNow();
  }));
  // What the killed writer had not committed is gone, whole groups stay:
  // the rows left are exactly the first ones posted.
  auto t = opened("Pessoas");
  const int kept = t->recordCount();
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, kPosts);
  int expected = 1;
  for (t->first(); !t->eof(); t->next()) EXPECT_EQ(t->asInteger("Codigo"), expected++);
  // Its log goes once the table is closed again.
  addPerson(*t, "09", 1, "NOVO");
  t->close();
  for (const char* side : {"-journal", "-wal", "-shm"})
    EXPECT_FALSE(fs::exists(file().string() + side)) << side;
  EXPECT_EQ(opened("Pessoas")->recordCount(), kept + 1);
}

TEST_F(Locking, AClosedTableIsOneFileAgain) {
  auto t = opened("Pessoas");
  for (int i = 1; i <= 3; ++i) addPerson(*t, "01", i, "P");
  t->flushBuffers();
  // While open, committed posts may sit in the write-ahead log beside it...
  EXPECT_TRUE(fs::exists(file().string() + "-wal"));
  {
    // ...and another program reads them from there.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM Pessoas", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 3);
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  t->close();
  for (const char* side : {"-journal", "-wal", "-shm"})
    EXPECT_FALSE(fs::exists(file().string() + side)) << side;
  // The file alone holds everything: a copy of it is the whole table.
  fs::path copy = host("VITRALON/DADOS/Copia.DB");
  fs::copy_file(file(), copy);
  auto c = opened("Copia");
  EXPECT_EQ(walk(*c, "Codigo"), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(Locking, AWalkLetsAnotherProgramWriteBetweenItsSteps) {
  auto t = opened("Pessoas");
  for (int i = 1; i <= 300; ++i) addPerson(*t, "01", i, "P");
  t->flushBuffers();
  std::atomic<int> rc{-1};
  std::atomic<bool> done{false};
  std::thread other([&] {
    OtherProgram o(file());
    o.exec("PRAGMA busy_timeout=2000");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    rc = o.exec("UPDATE Pessoas SET Fone = '9'");
    done = true;
  });
  // A slow walk, as a repair that works on every record.
  auto start = std::chrono::steady_clock::now();
  int steps = 0;
  while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
    if (t->eof()) t->first();
    t->next();
    ++steps;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  other.join();
  EXPECT_EQ(rc, SQLITE_OK);
  EXPECT_GT(steps, 10);
  // The walk reads a state at most 100 ms old; a read after a pause reads
  // the file as it is.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  t->first();
  EXPECT_EQ(t->asString("Fone"), "9");
}

TEST_F(Locking, ReadsNeverKeepAnotherProgramFromWriting) {
  auto t = opened("Pessoas");
  addPerson(*t, "01", 1, "A");
  addPerson(*t, "01", 2, "B");
  t->flushBuffers();
  OtherProgram o(file());
  o.exec("PRAGMA busy_timeout=0");
  // A read after a pause (a user's action).
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  t->first();
  EXPECT_EQ(o.exec("UPDATE Pessoas SET Fone = '1'"), SQLITE_OK);
  // Reads in quick succession (a walk) keep their read transaction between
  // calls; the other program writes all the same...
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  t->first();
  EXPECT_TRUE(t->findKey({std::string("01"), int64_t{2}}));
  EXPECT_EQ(o.exec("UPDATE Pessoas SET Fone = '2'"), SQLITE_OK);
  // ...and the walk sees it once the session lets go of its reads.
  session_->flushAll();
  t->first();
  EXPECT_EQ(t->asString("Fone"), "2");
  // A record in edit still holds the write lock.
  t->edit();
  EXPECT_EQ(o.exec("UPDATE Pessoas SET Fone = '3'") & 0xFF, SQLITE_BUSY);
  t->cancel();
  EXPECT_EQ(o.exec("UPDATE Pessoas SET Fone = '3'"), SQLITE_OK);
}

TEST_F(Locking, EmptyingATableWaitsOnlyForAnotherProgramsWriteLock) {
  auto t = opened("Pessoas");
  for (int i = 1; i <= 5; ++i) addPerson(*t, "01", i, "P");
  t->close();
  OtherProgram writer(file());
  ASSERT_EQ(writer.exec("BEGIN IMMEDIATE"), SQLITE_OK);
  try {
    t->emptyTable();
    FAIL() << "emptied";
  } catch (const cg::ERecordLocked& e) {
    EXPECT_EQ(e.message(),
              "Registro bloqueado por outro usuário.\rTabela: C:\\VITRALON\\DADOS\\Pessoas.DB"_cp);
  }
  writer.exec("ROLLBACK");
  t->open();
  EXPECT_EQ(t->recordCount(), 5);
  t->close();
  // A program in the middle of reading keeps what it saw; the emptying goes
  // through and it sees the empty table at its next read.
  OtherProgram reader(file());
  sqlite3_stmt* count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(reader.db(), "SELECT count(*) FROM Pessoas", -1, &count, nullptr), SQLITE_OK);
  auto counted = [&] {
    sqlite3_step(count);
    int n = sqlite3_column_int(count, 0);
    sqlite3_reset(count);
    return n;
  };
  ASSERT_EQ(reader.exec("BEGIN"), SQLITE_OK);
  EXPECT_EQ(counted(), 5);
  t->emptyTable();
  EXPECT_EQ(counted(), 5);
  reader.exec("COMMIT");
  EXPECT_EQ(counted(), 0);
  sqlite3_finalize(count);
  t->open();
  EXPECT_EQ(t->recordCount(), 0);
}

TEST_F(Locking, ARefillAnswersKeySearchesAsItsIndexWouldAndBuildsTheIndexesOnceAtItsEnd) {
  auto t = opened("Pessoas", "NomeFone");
  addPerson(*t, "01", 99, "ANTIGO", "0");
  std::shared_ptr<cg::engine::Connection> c = cg::engine::Connection::find(file());
  ASSERT_TRUE(c);
  t->beginRefill();  // the table holds a record: an ordinary run of posts
  EXPECT_FALSE(c->refilling());
  t->emptyTable();
  t->beginRefill();
  ASSERT_TRUE(c->refilling());
  addPerson(*t, "01", 1, "ANA", "1");
  addPerson(*t, "01", 2, "BIA", "2");
  addPerson(*t, "01", 3, "ANA", "3");
  addPerson(*t, "01", 4, "CAIO", "");
  addPerson(*t, "01", 8, "DUDA", "9");
  addPerson(*t, "01", 7, "DUDA", "9");
  {
    // Another program sees the emptied table until the refill commits, and
    // cannot write meanwhile.
    OtherProgram o(file());
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(o.db(), "SELECT count(*) FROM Pessoas", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 0);
    sqlite3_finalize(st);
    EXPECT_EQ(o.exec("DELETE FROM Pessoas"), SQLITE_BUSY);
  }
  // Found and missed from the posted keys, blank fields included; a miss
  // leaves the cursor where it was.
  EXPECT_TRUE(t->findKey({std::string("ANA"), std::string("3")}));
  EXPECT_EQ(t->asInteger("Codigo"), 3);
  EXPECT_FALSE(t->findKey({std::string("ANA"), std::string("2")}));
  EXPECT_EQ(t->asInteger("Codigo"), 3);
  EXPECT_TRUE(t->findKey({std::string("CAIO"), std::string("")}));
  EXPECT_EQ(t->asInteger("Codigo"), 4);
  EXPECT_FALSE(t->findKey({std::string("ZECA"), std::string("")}));
  EXPECT_TRUE(c->refilling());
  // Two records with the key: the index says which comes first.
  EXPECT_TRUE(t->findKey({std::string("DUDA"), std::string("9")}));
  EXPECT_EQ(t->asInteger("Codigo"), 7);
  EXPECT_FALSE(c->refilling());
  t->close();
  t = bound("Pessoas");
  EXPECT_NO_THROW(t->verify());
  t = opened("Pessoas", "NomeFone");
  EXPECT_EQ(walk(*t, "Codigo"), (std::vector<std::string>{"1", "3", "2", "4", "7", "8"}));

  // Whatever else touches the file first builds the indexes: another table
  // object reading it in another order, and one posting to it.
  t->emptyTable();
  t->beginRefill();
  addPerson(*t, "01", 1, "ANA", "1");
  EXPECT_TRUE(t->findKey({std::string("ANA")}));  // fewer fields than the refill keeps
  EXPECT_FALSE(c->refilling());
  t->emptyTable();
  t->beginRefill();
  addPerson(*t, "01", 1, "BIA", "1");
  auto other = opened("Pessoas", "Nome");
  EXPECT_FALSE(c->refilling());
  EXPECT_EQ(walk(*other, "Nome"), (std::vector<std::string>{"BIA"}));
  t->emptyTable();
  t->beginRefill();
  addPerson(*other, "01", 2, "ANA", "1");
  EXPECT_FALSE(c->refilling());
  EXPECT_TRUE(t->findKey({std::string("ANA"), std::string("1")}));
  EXPECT_EQ(t->asInteger("Codigo"), 2);
  other->close();

  // The save-changes call commits the refill with its indexes; the table
  // goes on as usual.
  t->emptyTable();
  t->beginRefill();
  addPerson(*t, "01", 5, "EVA", "5");
  t->flushBuffers();
  EXPECT_FALSE(c->refilling());
  EXPECT_NO_THROW(t->verify());
  addPerson(*t, "01", 6, "EVA", "5");
  EXPECT_TRUE(t->findKey({std::string("EVA"), std::string("5")}));
  EXPECT_EQ(t->asInteger("Codigo"), 5);
}

TEST_F(Locking, ARewriteEditsAndDeletesInThePrimaryOrderAndBuildsTheIndexesAtItsEnd) {
  auto t = opened("Pessoas");
  addPerson(*t, "01", 1, "bia", "1");
  addPerson(*t, "01", 2, "ana", "2");
  addPerson(*t, "01", 3, "caio", "3");
  addPerson(*t, "01", 4, "DUDA", "4");
  addPerson(*t, "01", 5, "eva", "5");
  t->flushBuffers();
  std::shared_ptr<cg::engine::Connection> c = cg::engine::Connection::find(file());
  ASSERT_TRUE(c);
  t->first();
  t->beginRewrite();
  ASSERT_TRUE(c->refilling());
  // The walk goes on from where it stood: names in capitals, one record
  // deleted, one whose name is already right; a key search in the primary
  // order needs no other index.
  while (!t->eof()) {
    t->edit();
    if (t->asInteger("Codigo") == 3) {
      t->remove();
      continue;
    }
    std::string nome = t->asString("Nome");
    for (char& ch : nome) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    t->setString("Nome", nome);
    t->post();
    t->next();
  }
  EXPECT_TRUE(t->findKey({std::string("01"), int64_t{2}}));
  EXPECT_EQ(t->asString("Nome"), "ANA");
  EXPECT_TRUE(c->refilling());
  {
    // Another program sees the table as it was until the end, and cannot
    // write meanwhile.
    OtherProgram o(file());
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(o.db(),
                                 "SELECT group_concat(Nome) FROM (SELECT Nome FROM Pessoas ORDER BY Codigo)",
                                 -1, &st, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "bia,ana,caio,DUDA,eva");
    sqlite3_finalize(st);
    EXPECT_EQ(o.exec("DELETE FROM Pessoas"), SQLITE_BUSY);
  }
  // Another order builds the indexes first.
  t->setIndexName("Nome");
  EXPECT_EQ(walk(*t, "Nome"), (std::vector<std::string>{"ANA", "BIA", "DUDA", "EVA"}));
  EXPECT_FALSE(c->refilling());
  t->close();
  t = bound("Pessoas");
  EXPECT_NO_THROW(t->verify());

  // A rewrite whose first record needs no change still drops and builds the
  // indexes in one transaction; in another order it does nothing.
  t = opened("Pessoas");
  t->beginRewrite();
  t->edit();
  t->post();
  EXPECT_TRUE(c->refilling());
  t->close();
  EXPECT_FALSE(c->refilling());
  t = bound("Pessoas");
  EXPECT_NO_THROW(t->verify());
  t = opened("Pessoas", "Nome");
  t->beginRewrite();
  EXPECT_FALSE(c->refilling());
  EXPECT_EQ(walk(*t, "Codigo"), (std::vector<std::string>{"2", "1", "4", "5"}));
}

TEST_F(Locking, AKilledRefillOrRewriteLeavesTheTableAsItWasBeforeWithItsIndexes) {
  {
    auto t = opened("Pessoas");
    for (int i = 1; i <= 3; ++i) addPerson(*t, "01", i, "P");
  }
  constexpr int kPosts = cg::engine::Connection::kMaxGroupedWrites + 100;  // past a group's size
  ASSERT_TRUE(runAndKill([&] {
    cg::Session s("Sessao1");
    auto t = opened("Pessoas", "NomeFone");
    t->emptyTable();
    t->beginRefill();
    for (int i = 1; i <= kPosts; ++i) {
      std::string name = "P";
      name += std::to_string(kPosts - i);  // the names in the other order than the key
      addPerson(*t, "01", i, name);
    }
    dieNow();
  }));
  auto t = bound("Pessoas");
  EXPECT_NO_THROW(t->verify());
  t = opened("Pessoas", "Nome");
  EXPECT_EQ(t->recordCount(), 0);
  addPerson(*t, "01", 1, "B");
  addPerson(*t, "01", 2, "A");
  EXPECT_EQ(walk(*t, "Nome"), (std::vector<std::string>{"A", "B"}));
  t->close();

  // A rewrite killed in its walk leaves the records as they were.
  ASSERT_TRUE(runAndKill([&] {
    cg::Session s("Sessao1");
    auto w = opened("Pessoas");
    w->beginRewrite();
    while (!w->eof()) {
      w->edit();
      w->setString("Nome", "Z");
      w->post();
      w->next();
    }
    dieNow();
  }));
  t = bound("Pessoas");
  EXPECT_NO_THROW(t->verify());
  t = opened("Pessoas", "Nome");
  EXPECT_EQ(walk(*t, "Nome"), (std::vector<std::string>{"A", "B"}));
}

TEST_F(Locking, APostThatChangesNoStoredValueWritesNothing) {
  auto t = opened("Pessoas");
  addPerson(*t, "01", 1, "ANA", "1", 2.5);
  t->flushBuffers();
  sqlite3* db = cg::engine::Connection::find(file())->db();
  const int before = sqlite3_total_changes(db);
  t->edit();
  t->setString("Nome", "ANA");
  t->setFloat("Valor", 2.5);
  t->post();
  EXPECT_EQ(sqlite3_total_changes(db), before);
  // One field of two differs: the record is written.
  t->edit();
  t->setString("Nome", "ANA");
  t->setString("Fone", "2");
  t->post();
  EXPECT_EQ(sqlite3_total_changes(db), before + 1);
  // The comparison is with the file, not with what the edit read: a value
  // set back over another table object's change is written.
  t->edit();
  auto other = opened("Pessoas");
  other->edit();
  other->setString("Nome", "BIA");
  other->post();
  t->setString("Nome", "ANA");
  t->post();
  t->close();
  other->close();
  t = opened("Pessoas");
  EXPECT_EQ(t->asString("Nome"), "ANA");
  EXPECT_EQ(t->asString("Fone"), "2");
  EXPECT_EQ(t->asFloat("Valor"), 2.5);
}
