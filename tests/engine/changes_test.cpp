// What the engine reports of the rows it changes: every post, append,
// delete, emptying and local SQL statement, with the row's images, each
// transaction's records made durable before the commit, and the records of a
// rolled-back transaction taken back.
#include "data/engine/changes.h"

#include <sqlite3.h>

#include <set>

#include "engine_fixture.h"

using namespace enginetest;
using cg::operator""_cp;

namespace {

// A sink that gives the run number and notes the files it is told of.
class Recorder : public cg::LocalChangeSink {
 public:
  std::vector<std::string> touchedFiles;
  int64_t run = 7;
  bool refuse = false;

  int64_t currentRun() noexcept override { return run; }
  void touched(const cg::ChangedTable& t) override {
    if (refuse) throw cg::Exception("disco cheio");
    std::string keys;
    for (int k : t.primaryKey) keys += t.fields[k] + ";";
    touchedFiles.push_back(t.windowsPath + " " + t.dataTable + " [" + keys + "]");
  }
  void simulated(const cg::ChangedTable&, const std::vector<Record>&) noexcept override {}
};

std::string show(const void* data, int size) {
  std::string out;
  for (const auto& [pos, v] : cg::DecodeImage(std::string_view(static_cast<const char*>(data), size))) {
    out += (out.empty() ? "" : ",") + std::to_string(pos) + "=";
    switch (v.kind) {
      case cg::ImageValue::Integer:
        out += std::to_string(v.integer);
        break;
      case cg::ImageValue::Real:
        out += "r" + std::to_string(v.real);
        break;
      case cg::ImageValue::Text:
        out += "'" + v.bytes + "'";
        break;
      case cg::ImageValue::Blob:
        out += "blob";
        break;
      default:
        out += "null";
    }
  }
  return out;
}

class Changes : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
    auto t = opened("Pessoas");
    addPerson(*t, "01", 1, "ANA", "111", 1.5);
    addPerson(*t, "01", 2, "BIA", "222");
    t->close();
    cg::SetLocalChangeSink(&rec_);
  }
  void TearDown() override {
    session_->closeAll();
    cg::SetLocalChangeSink(nullptr);
    EngineTest::TearDown();
  }
  // What another program reads in the file now: the names, then the records.
  std::vector<std::string> committed() {
    sqlite3* db = nullptr;
    std::vector<std::string> out;
    sqlite3_open_v2(host("VITRALON/DADOS/Pessoas.DB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT Nome FROM Pessoas ORDER BY rowid", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
      out.push_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    if (sqlite3_prepare_v2(db, "SELECT seq, run, op, row_id, key, before, after FROM _journal ORDER BY seq",
                           -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        std::string line = std::to_string(sqlite3_column_int64(st, 0)) + " run" +
                           std::to_string(sqlite3_column_int64(st, 1)) + " " +
                           reinterpret_cast<const char*>(sqlite3_column_text(st, 2)) + " #" +
                           std::to_string(sqlite3_column_int64(st, 3));
        for (int c = 4; c < 7; ++c)
          line += " {" + show(sqlite3_column_blob(st, c), sqlite3_column_bytes(st, c)) + "}";
        out.push_back(line);
      }
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
  }
  Recorder rec_;
};

}  // namespace

TEST_F(Changes, EveryPostAppendDeleteAndEmptyingCommitsWithItsRecordInTheTableFile) {
  auto t = opened("Pessoas");
  t->first();
  t->edit();
  t->setString("Nome", "ANA MARIA");
  t->setString("Fone", "111");  // the same value: not a change
  t->post();
  t->edit();
  t->setString("Fone", "111");  // nothing changes at all: no record
  t->post();
  addPerson(*t, "02", 7, "CAIO");
  // Nothing of the group is in the file before its commit, neither the
  // changes nor their records.
  EXPECT_EQ(committed(), (std::vector<std::string>{"ANA", "BIA"}));
  t->flushBuffers();
  EXPECT_EQ(committed(), (std::vector<std::string>{
                             "ANA MARIA", "BIA", "CAIO", "1 run7 U #1 {0='01',1=1} {2='ANA'} {2='ANA MARIA'}",
                             "2 run7 I #3 {0='02',1=7} {} {0='02',1=7,2='CAIO',3=null,4=r0.000000}"}));
  rec_.run = 8;
  t->first();
  t->next();
  t->remove();  // BIA
  t->flushBuffers();
  t->emptyTable();
  const auto left = committed();
  ASSERT_EQ(left.size(), 5u);
  EXPECT_EQ(left[2], "3 run8 D #2 {0='01',1=2} {0='01',1=2,2='BIA',3='222',4=r0.000000} {}");
  EXPECT_EQ(left[3], "4 run8 D #1 {0='01',1=1} {0='01',1=1,2='ANA MARIA',3='111',4=r1.500000} {}");
  EXPECT_EQ(left[4], "5 run8 D #3 {0='02',1=7} {0='02',1=7,2='CAIO',3=null,4=r0.000000} {}");
  // Told once per transaction that wrote the file.
  EXPECT_EQ(rec_.touchedFiles,
            std::vector<std::string>(3, "C:\\VITRALON\\DADOS\\Pessoas.DB Pessoas [Estacao;Codigo;]"));
}

TEST_F(Changes, ALocalStatementCommitsWithItsRecordsAndNothingReachesTheFileUnrecorded) {
  cg::Query q("Q");
  q.setDatabaseName("VTRNDADOS");
  q.setSQL("update pessoas set Valor = 9 where Codigo >= 1");
  EXPECT_EQ(q.execSQL(), 2);
  EXPECT_EQ(committed(),
            (std::vector<std::string>{"ANA", "BIA", "1 run7 U #1 {0='01',1=1} {4=r1.500000} {4=r9.000000}",
                                      "2 run7 U #2 {0='01',1=2} {4=r0.000000} {4=r9.000000}"}));
  EXPECT_EQ(rec_.touchedFiles,
            (std::vector<std::string>{"C:\\VITRALON\\DADOS\\pessoas.DB Pessoas [Estacao;Codigo;]"}));

  // A statement that fails half way leaves neither changes nor records.
  q.setSQL("update pessoas set Codigo = 5");
  EXPECT_THROW(q.execSQL(), cg::EKeyViolation);
  EXPECT_EQ(committed().size(), 4u);

  // The journal cannot note the file: nothing reaches it, and the error says why.
  rec_.refuse = true;
  q.setSQL("update pessoas set Nome = 'X'");
  try {
    q.execSQL();
    FAIL() << "a change without its record was committed";
  } catch (const cg::Exception& e) {
    EXPECT_EQ(e.message(), "disco cheio");
  }
  auto t = opened("Pessoas");
  addPerson(*t, "03", 1, "LUA");
  EXPECT_THROW(t->flushBuffers(), cg::EDBEngineError);
  EXPECT_EQ(committed().size(), 4u);
  rec_.refuse = false;
  addPerson(*t, "03", 2, "ZECA");  // the next group goes on as usual
  t->flushBuffers();
  EXPECT_EQ(committed().size(), 6u);
}

TEST(ChangeImages, EncodeAndDecodeKeepEveryKindExactlyAndRefuseDamage) {
  cg::RowImage image;
  image.push_back({0, {}});
  cg::ImageValue i;
  i.kind = cg::ImageValue::Integer;
  i.integer = -9007199254740993LL;
  image.push_back({3, i});
  cg::ImageValue r;
  r.kind = cg::ImageValue::Real;
  r.real = -0.1;
  image.push_back({200, r});
  cg::ImageValue t;
  t.kind = cg::ImageValue::Text;
  t.bytes = std::string("S\xC3O\0X", 5);
  image.push_back({4, t});
  std::string bytes = cg::EncodeImage(image);
  EXPECT_EQ(cg::DecodeImage(bytes), image);
  EXPECT_THROW(cg::DecodeImage(bytes.substr(0, bytes.size() - 1)), cg::Exception);
  EXPECT_THROW(cg::DecodeImage(std::string("\x01\x09", 2)), cg::Exception);
}
