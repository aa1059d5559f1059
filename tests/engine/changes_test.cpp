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

// A sink that keeps what it hears, in order, as text.
class Recorder : public cg::LocalChangeSink {
 public:
  std::vector<std::string> events;
  std::function<void()> onCommitting;  // runs inside committing()
  bool refuse = false;
  std::string throwOn;  // raise from change() for a row whose image holds this text

  static std::string show(std::string_view image) {
    std::string out;
    for (const auto& [pos, v] : cg::DecodeImage(image)) {
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
  void change(const void*, const cg::ChangedTable& t, Op op, int64_t rowid, std::string_view before,
              std::string_view after) override {
    std::string b = show(before), a = show(after);
    if (!throwOn.empty() && (a.find(throwOn) != std::string::npos)) throw cg::Exception("disco cheio");
    std::string keys;
    for (int k : t.primaryKey) keys += t.fields[k] + ";";
    events.push_back(std::string(1, static_cast<char>(op)) + " " + t.windowsPath + " " + t.dataTable + " [" +
                     keys + "] #" + std::to_string(rowid) + " {" + b + "} -> {" + a + "}");
  }
  bool committing(const void*) noexcept override {
    events.push_back("committing");
    if (onCommitting) onCommitting();
    return !refuse;
  }
  void committed(const void*, const std::filesystem::path& file) noexcept override {
    events.push_back("committed " + file.filename().string());
  }
  void rolledBack(const void*) noexcept override { events.push_back("rolledBack"); }
};

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
  // The names of the people as another program sees them now.
  std::set<std::string> committedNames() {
    sqlite3* db = nullptr;
    std::set<std::string> out;
    sqlite3_open_v2(host("VITRALON/DADOS/Pessoas.DB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT Nome FROM Pessoas", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
      out.insert(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }
  Recorder rec_;
};

}  // namespace

TEST_F(Changes, PostsAppendsDeletesAndEmptyingAreReportedWithTheirImagesBeforeTheyCommit) {
  const std::string p = "C:\\VITRALON\\DADOS\\Pessoas.DB Pessoas [Estacao;Codigo;] ";
  auto t = opened("Pessoas");
  rec_.onCommitting = [&] {
    rec_.events.push_back("seen by others: " + std::to_string(committedNames().size()));
  };
  t->first();
  t->edit();
  t->setString("Nome", "ANA MARIA");
  t->setString("Fone", "111");  // the same value: not a change
  t->post();
  t->edit();
  t->setString("Fone", "111");  // nothing changes at all: no report
  t->post();
  addPerson(*t, "02", 7, "CAIO");
  t->flushBuffers();
  t->first();
  t->next();
  t->remove();  // BIA
  t->flushBuffers();
  EXPECT_EQ(rec_.events,
            (std::vector<std::string>{"U " + p + "#1 {2='ANA'} -> {2='ANA MARIA'}",
                                      "I " + p + "#3 {} -> {0='02',1=7,2='CAIO',3=null,4=r0.000000}",
                                      "committing", "seen by others: 2", "committed Pessoas.DB",
                                      "D " + p + "#2 {0='01',1=2,2='BIA',3='222',4=r0.000000} -> {}",
                                      "committing", "seen by others: 3", "committed Pessoas.DB"}));
  rec_.events.clear();
  rec_.onCommitting = nullptr;
  t->emptyTable();
  ASSERT_EQ(rec_.events.size(), 4u);
  EXPECT_EQ(rec_.events[0], "D " + p + "#1 {0='01',1=1,2='ANA MARIA',3='111',4=r1.500000} -> {}");
  EXPECT_EQ(rec_.events[2], "committing");
  EXPECT_EQ(rec_.events[3], "committed Pessoas.DB");
}

TEST_F(Changes, ALocalStatementReportsEveryRowItChangesAndARollbackTakesThemBack) {
  cg::Query q("Q");
  q.setDatabaseName("VTRNDADOS");
  q.setSQL("update pessoas set Valor = 9 where Codigo >= 1");
  EXPECT_EQ(q.execSQL(), 2);
  ASSERT_EQ(rec_.events.size(), 4u);
  EXPECT_EQ(rec_.events[0],
            "U C:\\VITRALON\\DADOS\\pessoas.DB Pessoas [Estacao;Codigo;] #1 {4=r1.500000} -> {4=r9.000000}");
  EXPECT_EQ(rec_.events[2], "committing");
  rec_.events.clear();

  // The sink cannot record: nothing reaches the file, and the error says why.
  rec_.refuse = true;
  q.setSQL("update pessoas set Nome = 'X'");
  try {
    q.execSQL();
    FAIL() << "a change without its record was committed";
  } catch (const cg::EDBEngineError& e) {
    EXPECT_EQ(e.message(),
              "O histórico de alterações não pôde ser gravado; nada foi gravado em "
              "C:\\VITRALON\\DADOS\\pessoas.DB."_cp);
  }
  EXPECT_EQ(committedNames(), (std::set<std::string>{"ANA", "BIA"}));
  EXPECT_EQ(rec_.events.back(), "rolledBack");

  // A sink that fails on one row keeps the whole group of posts from disk.
  rec_.refuse = false;
  rec_.events.clear();
  rec_.throwOn = "'ZEZ'";
  auto t = opened("Pessoas");
  addPerson(*t, "03", 1, "LUA");
  addPerson(*t, "03", 2, "ZEZ");
  EXPECT_THROW(t->flushBuffers(), cg::EDBEngineError);
  EXPECT_EQ(committedNames(), (std::set<std::string>{"ANA", "BIA"}));
  EXPECT_EQ(rec_.events.back(), "rolledBack");
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
