// Fields: every type read and written as text, integer and floating point,
// width cutting, blanks and conversion errors.
#include <cmath>

#include "engine_fixture.h"
#include "platform/regional.h"

using namespace enginetest;
using cg::operator""_cp;

namespace {

TableDef allTypes() {
  TableDef d;
  d.fields = {{"Codigo", FieldType::AutoInc, 0}, {"Nome", FieldType::Alpha, 10},
              {"Fator", FieldType::Number, 0},   {"Preco", FieldType::Money, 0},
              {"Qtde", FieldType::Short, 0},     {"Total", FieldType::LongInt, 0},
              {"Ativo", FieldType::Logical, 0},  {"Nascimento", FieldType::Date, 0},
              {"Hora", FieldType::Time, 0},      {"Alterado", FieldType::Timestamp, 0},
              {"Obs", FieldType::Memo, 0}};
  d.primaryKey = {"Codigo"};
  return d;
}

class Fields : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    cg::Session::createTable("C:\\VITRALON\\DADOS", "Tipos", allTypes());
    t = opened("TIPOS.db");
    t->append();
  }
  std::string convertError(const std::string& field, const std::string& text) {
    try {
      t->setString(field, text);
    } catch (const cg::EConvertError& e) {
      return e.message();
    }
    return "(nenhum erro)";
  }
  std::unique_ptr<cg::Table> t;
};

}  // namespace

TEST_F(Fields, TextFormsInPortugueseSettingsRoundTrip) {
  t->setString("Nome", std::string("José"_cp));
  t->setString("Fator", "1,5");
  t->setString("Preco", "10.25");
  t->setString("Qtde", " 12 ");
  t->setString("Total", "-70000");
  t->setString("Ativo", "True");
  t->setString("Nascimento", "7/2/1980");
  t->setString("Hora", "8:05");
  t->setString("Alterado", "07/12/2026 08:05:09");
  t->setString("Obs", std::string(300, 'x'));
  t->post();
  t->close();
  t->open();
  EXPECT_EQ(t->asString("Codigo"), "1");  // assigned on append
  EXPECT_EQ(t->asString("Nome"), "José"_cp);
  EXPECT_EQ(t->asString("Fator"), "1,5");
  EXPECT_EQ(t->asString("Preco"), "10,25");
  EXPECT_EQ(t->asString("Qtde"), "12");
  EXPECT_EQ(t->asString("Total"), "-70000");
  EXPECT_EQ(t->asString("Ativo"), "True");
  EXPECT_EQ(t->asString("Nascimento"), "07/02/1980");
  EXPECT_EQ(t->asString("Hora"), "08:05:00");
  EXPECT_EQ(t->asString("Alterado"), "07/12/2026 08:05:09");
  EXPECT_EQ(t->asString("Obs").size(), 300u);
  EXPECT_DOUBLE_EQ(t->asFloat("Fator"), 1.5);
  EXPECT_EQ(t->asInteger("Total"), -70000);
  EXPECT_DOUBLE_EQ(t->asFloat("Nascimento"), cg::EncodeDate(1980, 2, 7));
}

TEST_F(Fields, LongTextIsCutToTheWidthAndEmptyTextIsABlank) {
  t->setString("Nome", "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(t->asString("Nome"), "ABCDEFGHIJ");
  t->setString("Nome", "");
  EXPECT_TRUE(t->isNull("Nome"));
  t->setInteger("Nome", 123456789012345);
  EXPECT_EQ(t->asString("Nome"), "1234567890");
  t->setFloat("Nome", 2.5);
  EXPECT_EQ(t->asString("Nome"), "2,5");
  t->setString("Fator", "");
  EXPECT_TRUE(t->isNull("Fator"));
  t->post();
  EXPECT_TRUE(t->isNull("Fator"));
  EXPECT_EQ(t->asString("Fator"), "");
  EXPECT_EQ(t->asFloat("Fator"), 0);
  EXPECT_EQ(t->asInteger("Fator"), 0);
  EXPECT_EQ(t->asString("Nascimento"), "");
  EXPECT_EQ(t->asString("Ativo"), "");
  t->edit();
  t->setString("Ativo", "f");
  t->clearField("Nome");
  t->post();
  EXPECT_EQ(t->asString("Ativo"), "False");
  EXPECT_TRUE(t->isNull("Nome"));
}

TEST_F(Fields, NumbersBetweenIntegerAndFloatingPoint) {
  t->setFloat("Qtde", 2.5);  // halves go to the even neighbour
  EXPECT_EQ(t->asInteger("Qtde"), 2);
  t->setFloat("Qtde", 3.5);
  EXPECT_EQ(t->asInteger("Qtde"), 4);
  t->setFloat("Fator", 2.7);
  EXPECT_EQ(t->asInteger("Fator"), 3);
  t->setInteger("Preco", 7);
  EXPECT_EQ(t->asString("Preco"), "7");
  t->setString("Nome", "42");
  EXPECT_EQ(t->asInteger("Nome"), 42);
  EXPECT_DOUBLE_EQ(t->asFloat("Nome"), 42);
  t->setString("Nome", "4,25");
  EXPECT_DOUBLE_EQ(t->asFloat("Nome"), 4.25);
  t->setInteger("Ativo", 5);
  EXPECT_EQ(t->asString("Ativo"), "True");
  t->setFloat("Alterado", cg::EncodeDateTime({2026, 12, 7, 6, 0, 0}));
  EXPECT_EQ(t->asString("Alterado"), "07/12/2026 06:00:00");
}

TEST_F(Fields, ConversionErrorsNameTheFieldTheValueAndTheTable) {
  EXPECT_EQ(convertError("Fator", "abc"),
            "'abc' não é um valor válido para o campo Fator (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  EXPECT_EQ(convertError("Qtde", "40000"),
            "'40000' não é um valor válido para o campo Qtde (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  EXPECT_EQ(convertError("Total", "1,5"),
            "'1,5' não é um valor válido para o campo Total (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  EXPECT_EQ(convertError("Nascimento", "31/02/2020"),
            "'31/02/2020' não é um valor válido para o campo Nascimento (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  EXPECT_EQ(convertError("Ativo", "talvez"),
            "'talvez' não é um valor válido para o campo Ativo (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  EXPECT_EQ(convertError("Hora", "25:00"),
            "'25:00' não é um valor válido para o campo Hora (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  // The field keeps what it had.
  t->setString("Fator", "3");
  EXPECT_NE(convertError("Fator", "x"), "(nenhum erro)");
  EXPECT_EQ(t->asString("Fator"), "3");
  t->setString("Nome", "abc");
  EXPECT_THROW(t->asInteger("Nome"), cg::EConvertError);
  EXPECT_THROW(t->setInteger("Qtde", 70000), cg::EConvertError);
}

TEST_F(Fields, FieldNamesIgnoreCaseAndUnknownOnesAreNamed) {
  t->setString("nome", "A");
  EXPECT_EQ(t->asString("NOME"), "A");
  EXPECT_TRUE(t->fieldExists("fAtOr"));
  EXPECT_FALSE(t->fieldExists("Xyz"));
  try {
    t->asString("Xyz");
    FAIL() << "no error";
  } catch (const cg::EFieldNotFound& e) {
    EXPECT_EQ(e.message(), "Campo não encontrado: Xyz (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  }
  EXPECT_THROW(t->setString("Xyz", "1"), cg::EFieldNotFound);
  // A name given in a buffer that is then rewritten in place names the new
  // field.
  std::string name = "Nome";
  t->setString(name, "B");
  name.replace(0, 4, "Qtde");
  t->setString(name, "7");
  EXPECT_EQ(t->asString("Nome"), "B");
  EXPECT_EQ(t->asInteger("qtde"), 7);
  name.replace(0, 4, "Xyzw");
  EXPECT_THROW(t->asString(name), cg::EFieldNotFound);
}

// A handle taken once reads and writes whichever record is current, as the
// names do, and belongs to one opening of the table.
TEST_F(Fields, AFieldHandleServesEveryRecordOfOneOpening) {
  const cg::Table::FieldRef nome = t->field("nOmE");
  const cg::Table::FieldRef qtde = t->field("QTDE");
  const cg::Table::FieldRef fator = t->field("fator");
  EXPECT_EQ(nome.name(), "Nome");
  nome.setString("Ana");
  qtde.setInteger(5);
  fator.setFloat(2.5);
  t->post();
  t->append();
  nome.setString("Bia");
  qtde.setString("70");
  t->post();
  std::vector<std::string> seen;
  for (t->first(); !t->eof(); t->next())
    seen.push_back(nome.asString() + "/" + std::to_string(qtde.asInteger()) + "/" + fator.asString() + "/" +
                   (fator.isNull() ? "blank" : "set") + "/" + t->asString("Nome"));
  EXPECT_EQ(seen, (std::vector<std::string>{"Ana/5/2,5/set/Ana", "Bia/70//blank/Bia"}));
  t->first();
  t->edit();
  fator.clear();
  EXPECT_TRUE(fator.isNull());
  EXPECT_EQ(fator.asFloat(), 0);
  EXPECT_THROW(qtde.setInteger(70000), cg::EConvertError);
  EXPECT_EQ(qtde.asInteger(), 5);
  t->post();
  EXPECT_TRUE(t->isNull("Fator"));

  // An unknown name fails as a read by name does.
  try {
    t->field("Xyz");
    FAIL() << "no error";
  } catch (const cg::EFieldNotFound& e) {
    EXPECT_EQ(e.message(), "Campo não encontrado: Xyz (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  }
  // Closed, and then opened again: the handle of the earlier opening is
  // refused, a new one reads the same record.
  t->close();
  EXPECT_THROW(nome.asString(), cg::EDBEngineError);
  EXPECT_THROW(t->field("Nome"), cg::EDBEngineError);
  t->open();
  try {
    nome.asString();
    FAIL() << "no error";
  } catch (const cg::EDBEngineError& e) {
    EXPECT_EQ(e.message(),
              "Campo obtido antes da última abertura da tabela: T (C:\\VITRALON\\DADOS\\TIPOS.db)"_cp);
  }
  EXPECT_EQ(t->field("Nome").asString(), "Ana");
}

TEST_F(Fields, TheLayoutIsKeptInTheFile) {
  t->cancel();
  t->close();
  cg::TableDef d = t->tableDef();
  ASSERT_EQ(d.fields.size(), 11u);
  EXPECT_EQ(d.fields[1].name, "Nome");
  EXPECT_EQ(d.fields[1].type, FieldType::Alpha);
  EXPECT_EQ(d.fields[1].size, 10);
  EXPECT_EQ(d.fields[9].type, FieldType::Timestamp);
  EXPECT_EQ(d.primaryKey, std::vector<std::string>{"Codigo"});
  EXPECT_TRUE(t->fieldExists("Obs"));
}
