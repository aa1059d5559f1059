// Key search, index switching and key violations.
#include "engine_fixture.h"

using namespace enginetest;
using cg::operator""_cp;

namespace {

// Formula rows: a four-field primary key, text and integers mixed.
TableDef formulaDef() {
  TableDef d;
  d.fields = {{"Estacao", FieldType::Alpha, 3},
              {"NPedido", FieldType::LongInt, 0},
              {"NFormula", FieldType::Short, 0},
              {"Serie", FieldType::Short, 0},
              {"Descricao", FieldType::Alpha, 30}};
  d.primaryKey = {"Estacao", "NPedido", "NFormula", "Serie"};
  d.indexes = {IndexDef{"Descricao", {"Descricao"}, false}, IndexDef{"Unica", {"Descricao", "Serie"}, true}};
  return d;
}

class Keys : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    cg::Session::createTable("C:\\VITRALON\\DADOS", "PEDIFORM.DB", formulaDef());
    t = opened("Pediform");
    row("01", 10, 1, 1, "CREME");
    row("01", 10, 2, 1, "GEL");
    row("01", 12, 0, 1, "XAROPE");
    row("02", 10, 1, 1, "");
    row("", 7, 1, 1, "LOCAO");
    row("01", 9, 3, 2, "POMADA");
    t->first();
  }
  void row(const std::string& e, int p, int f, int s, const std::string& d) {
    t->append();
    t->setString("Estacao", e);
    t->setInteger("NPedido", p);
    t->setInteger("NFormula", f);
    t->setInteger("Serie", s);
    t->setString("Descricao", d);
    t->post();
  }
  std::string at() {
    return t->asString("Estacao") + "/" + t->asString("NPedido") + "/" + t->asString("NFormula") + "/" +
           t->asString("Serie");
  }
  std::unique_ptr<cg::Table> t;
};

}  // namespace

TEST_F(Keys, LeadingFieldsMatchWithTextAndIntegersMixed) {
  EXPECT_TRUE(t->findKey({std::string("01"), int64_t{10}}));
  EXPECT_EQ(at(), "01/10/1/1");
  EXPECT_TRUE(t->findKey({std::string("01"), int64_t{10}, int64_t{2}}));
  EXPECT_EQ(at(), "01/10/2/1");
  EXPECT_TRUE(t->findKey({std::string("01")}));
  EXPECT_EQ(at(), "01/9/3/2");
  // Integers given as text (the review looks its keys up as text).
  EXPECT_TRUE(t->findKey({std::string("01"), std::string("12")}));
  EXPECT_EQ(at(), "01/12/0/1");
  // The empty text finds the blank station.
  EXPECT_TRUE(t->findKey({std::string(""), int64_t{7}}));
  EXPECT_EQ(at(), "/7/1/1");
  // The walk goes on from where the search left the cursor.
  t->next();
  EXPECT_EQ(at(), "01/9/3/2");
}

TEST_F(Keys, AMissLeavesTheCursorWhereItWas) {
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{12}}));
  int scrolls = 0;
  t->afterScroll = [&](cg::Table&) { ++scrolls; };
  EXPECT_FALSE(t->findKey({std::string("01"), int64_t{11}}));
  EXPECT_FALSE(t->findKey({std::string("03")}));
  EXPECT_FALSE(t->findKey({std::string("01"), int64_t{10}, int64_t{9}}));
  EXPECT_EQ(at(), "01/12/0/1");
  EXPECT_EQ(scrolls, 0);
  EXPECT_TRUE(t->findKey({std::string("02")}));
  EXPECT_EQ(scrolls, 1);
}

TEST_F(Keys, SearchOnASecondaryIndexAndItsBlanks) {
  t->setIndexName("Descricao");
  EXPECT_TRUE(t->findKey({std::string("GEL")}));
  EXPECT_EQ(at(), "01/10/2/1");
  EXPECT_TRUE(t->findKey({std::string("")}));
  EXPECT_EQ(at(), "02/10/1/1");
  EXPECT_FALSE(t->findKey({std::string("GE")}));  // whole values only
  // A text longer than the field is cut as an assignment would cut it.
  row("03", 1, 1, 1, "CAPSULA " + std::string(40, 'Z'));
  t->first();
  EXPECT_TRUE(t->findKey({"CAPSULA " + std::string(30, 'Z')}));
  EXPECT_EQ(at(), "03/1/1/1");
  EXPECT_EQ(t->asString("Descricao"), "CAPSULA " + std::string(22, 'Z'));
}

TEST_F(Keys, BadKeyValueRaisesAConversionError) {
  try {
    t->findKey({std::string("01"), std::string("dez")});
    FAIL() << "no error";
  } catch (const cg::EConvertError& e) {
    EXPECT_EQ(e.message(),
              "'dez' não é um valor válido para o campo NPedido (C:\\VITRALON\\DADOS\\Pediform.DB)"_cp);
  }
}

TEST_F(Keys, APendingEditIsPostedBeforeTheSearch) {
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{12}}));
  int posts = 0;
  t->afterPost = [&](cg::Table&) { ++posts; };
  t->edit();
  t->setString("Descricao", "XAROPE 2");
  EXPECT_TRUE(t->findKey({std::string("01"), int64_t{10}}));
  EXPECT_EQ(posts, 1);
  EXPECT_FALSE(t->editing());
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{12}}));
  EXPECT_EQ(t->asString("Descricao"), "XAROPE 2");
}

TEST_F(Keys, SwitchingTheIndexKeepsTheCurrentRecord) {
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{10}, int64_t{2}}));
  t->setIndexName("Descricao");
  EXPECT_EQ(at(), "01/10/2/1");
  t->next();
  EXPECT_EQ(t->asString("Descricao"), "LOCAO");
  t->setIndexFieldNames("Estacao;NPedido");
  EXPECT_EQ(t->indexName(), "");
  EXPECT_EQ(at(), "/7/1/1");
  t->next();
  EXPECT_EQ(at(), "01/9/3/2");
  t->setIndexName("");
  EXPECT_EQ(at(), "01/9/3/2");
  t->next();
  EXPECT_EQ(at(), "01/10/1/1");
  EXPECT_EQ(t->indexFieldNames(), "");
}

TEST_F(Keys, UnknownIndexFailsOnOpenAndOnSwitchingWithoutChangingTheOrder) {
  try {
    t->setIndexName("NomeFone");
    FAIL() << "no error";
  } catch (const cg::EIndexNotFound& e) {
    EXPECT_EQ(e.message(), "Índice não encontrado: NomeFone (C:\\VITRALON\\DADOS\\Pediform.DB)"_cp);
    EXPECT_STREQ(e.className(), "EIndexNotFound");
  }
  EXPECT_EQ(t->indexName(), "");
  EXPECT_EQ(walk(*t, "Estacao").front(), "");
  t->close();
  t->setIndexName("nomefone");
  EXPECT_THROW(t->open(), cg::EIndexNotFound);
  EXPECT_FALSE(t->active());
  t->setIndexName("DESCRICAO");  // index names ignore case
  t->open();
  EXPECT_EQ(t->asString("Descricao"), "");
  EXPECT_THROW(t->setIndexFieldNames("Serie"), cg::EIndexNotFound);
}

TEST_F(Keys, DuplicateKeysAreRejectedBlanksIncluded) {
  auto expectViolation = [&](auto&& f) {
    try {
      f();
      ADD_FAILURE() << "no key violation";
    } catch (const cg::EKeyViolation& e) {
      EXPECT_EQ(e.message(), "Violação de chave em C:\\VITRALON\\DADOS\\Pediform.DB."_cp);
      EXPECT_STREQ(e.className(), "EKeyViolation");
    }
  };
  expectViolation([&] { row("01", 10, 2, 1, "OUTRA"); });
  t->cancel();
  expectViolation([&] { row("", 7, 1, 1, "OUTRA"); });  // blank station twice
  t->cancel();
  // Editing a row onto another row's key.
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{12}}));
  t->edit();
  t->setInteger("NPedido", 10);
  t->setInteger("NFormula", 1);
  expectViolation([&] { t->post(); });
  EXPECT_TRUE(t->editing());
  t->cancel();
  // A unique secondary index: blank descriptions with the same series clash.
  expectViolation([&] { row("05", 1, 1, 1, ""); });
  t->cancel();
  EXPECT_EQ(t->recordCount(), 6);
  row("05", 1, 1, 2, "");
  EXPECT_EQ(t->recordCount(), 7);
}

TEST_F(Keys, CancelDropsTheEditAndAppend) {
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{12}}));
  t->edit();
  t->setString("Descricao", "OUTRA");
  EXPECT_EQ(t->asString("Descricao"), "OUTRA");
  t->cancel();
  EXPECT_EQ(t->asString("Descricao"), "XAROPE");
  t->append();
  EXPECT_EQ(t->asString("Descricao"), "");
  t->cancel();
  EXPECT_EQ(at(), "01/12/0/1");
  EXPECT_EQ(t->recordCount(), 6);
  EXPECT_THROW(t->setString("Descricao", "X"), cg::EDBEngineError);
}

// The same key looked up again (the formulas of one order, one after the
// other) answers as a fresh search would: it stands on the first matching
// row again, and a change through any object on the file is seen.
TEST_F(Keys, ASearchRepeatedAfterMovesAndChangesAnswersAsAFreshOne) {
  cg::Table other("Outra");
  other.setDatabaseName("VTRNDADOS");
  other.setTableName("PEDIFORM.DB");
  other.open();

  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{10}}));
  EXPECT_EQ(at(), "01/10/1/1");
  t->next();
  EXPECT_EQ(at(), "01/10/2/1");
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{10}}));
  EXPECT_EQ(at(), "01/10/1/1");
  EXPECT_EQ(t->asString("Descricao"), "CREME");

  // Deleted through another object: the same search now finds the next row.
  ASSERT_TRUE(other.findKey({std::string("01"), int64_t{10}, int64_t{1}}));
  other.edit();
  other.remove();
  ASSERT_TRUE(t->findKey({std::string("01"), int64_t{10}}));
  EXPECT_EQ(at(), "01/10/2/1");
  EXPECT_EQ(t->asString("Descricao"), "GEL");

  // A miss, then the row appears.
  EXPECT_FALSE(t->findKey({std::string("03"), int64_t{1}}));
  EXPECT_FALSE(t->findKey({std::string("03"), int64_t{1}}));
  other.append();
  other.setString("Estacao", "03");
  other.setInteger("NPedido", 1);
  other.setInteger("NFormula", 1);
  other.setInteger("Serie", 1);
  other.setString("Descricao", "NOVA");
  other.post();
  ASSERT_TRUE(t->findKey({std::string("03"), int64_t{1}}));
  EXPECT_EQ(t->asString("Descricao"), "NOVA");

  // Edited through the searching object itself.
  t->edit();
  t->setString("Descricao", "NOVA 2");
  t->post();
  ASSERT_TRUE(t->findKey({std::string("03"), int64_t{1}}));
  EXPECT_EQ(t->asString("Descricao"), "NOVA 2");
}
