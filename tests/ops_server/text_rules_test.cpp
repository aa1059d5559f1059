// The pure rules of the server repairs: tax number cleaning, the percentage
// of the default discount, quoting of statement values, the order selection.
#include <gtest/gtest.h>

#include "ops/formulas/componentes.h"
#include "ops/people/cnpj.h"
#include "ops/people/pedidos_nomes.h"
#include "ops/sql_text.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

TEST(SomenteDigitos, KeepsExactlyTheDigitsInOrder) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"12345678000195", "12345678000195"},
      {"12.345.678/0001-95", "12345678000195"},
      {"12 345 678 0001 95", "12345678000195"},
      {"AB12cd34", "1234"},
      {cp("Çã9é0"_cp), "90"},
      {"./- ", ""},
      {"0", "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(SomenteDigitos(c.in), c.out) << c.in;
}

TEST(LimpaCNPJ, AlphanumericNumbersWithValidCheckDigitsKeepTheirLetters) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"12.ABC.345/01DE-35", "12ABC34501DE35"},
      {"12.abc.345/01de-35", "12ABC34501DE35"},  // either case, stored in upper case
      {"12ABC34501DE35", "12ABC34501DE35"},
      {"12 ABC 345 01DE 35", "12ABC34501DE35"},
      // Plain numbers are reduced to digits as before, valid or not.
      {"12.345.678/0001-95", "12345678000195"},
      {"11.222.333/0001-81", "11222333000181"},
      // Look-alikes: wrong check digits, wrong length, letters in the check
      // digits, other punctuation. Their letters are dropped.
      {"12.ABC.345/01DE-36", "123450136"},
      {"12.ABC.345/01DE-53", "123450153"},
      {"12ABC34501DE3", "12345013"},
      {"12ABC34501DE355", "1234501355"},
      {"12ABC34501DEX5", "12345015"},
      {"12_ABC_345_01DE_35", "123450135"},
      {"ABCDEFGHIJKL", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LimpaCNPJ(c.in), c.out) << c.in;
}

// Every blank separates, as the space does: a tab, a line break or the
// no-break space (160) copied in with the number used to send it to the
// digits-only cleaning, which dropped its letters ("123450135").
TEST(LimpaCNPJ, EveryBlankSeparatesAnAlphanumericNumber) {
  for (int b = 0; b <= 32; ++b) {
    std::string in = "12.ABC.345/01DE";
    in += static_cast<char>(b);
    in += "-35";
    EXPECT_EQ(LimpaCNPJ(in), "12ABC34501DE35") << "byte " << b;
  }
  EXPECT_EQ(LimpaCNPJ("12\xA0"
                      "ABC\xA0"
                      "345\xA0"
                      "01DE\xA0"
                      "35"),
            "12ABC34501DE35");
  EXPECT_EQ(LimpaCNPJ("\t12ABC34501DE35\r\n"), "12ABC34501DE35");
  // Other bytes above 127 are no separators: the letters go as before.
  EXPECT_EQ(LimpaCNPJ("12\xB7"
                      "ABC34501DE35"),
            "123450135");
}

TEST(LimpaCNPJ, CheckDigitsFollowTheModulo11Rule) {
  EXPECT_TRUE(CNPJAlfanumericoValido("12ABC34501DE35"));
  EXPECT_TRUE(CNPJAlfanumericoValido("11222333000181"));  // the digits-only form obeys the same rule
  EXPECT_FALSE(CNPJAlfanumericoValido("11222333000182"));
  EXPECT_FALSE(CNPJAlfanumericoValido("12abc34501de35"));  // lower case is not the clean form
  EXPECT_FALSE(CNPJAlfanumericoValido(""));
  // Every wrong second check digit is refused.
  for (char d = '0'; d <= '9'; ++d) {
    std::string s = "12ABC34501DE3";
    s += d;
    EXPECT_EQ(CNPJAlfanumericoValido(s), d == '5') << s;
  }
}

TEST(PercentualDesconto, AcceptsDecimalNumbersAndEmptyText) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},         {"   ", ""},      {"10", "10"},         {" 10 ", "10"},
      {"12,5", "12,5"}, {"12.5", "12,5"}, {"0", "0"},           {"100", "100"},
      {"+3", "3"},      {",5", ",5"},     {"100,00", "100,00"}, {"0000099,99999999", "0000099,99999999"},
      {"-0", "-0"},
  };
  for (const auto& c : cases) {
    auto v = PercentualDesconto(c.in);
    ASSERT_TRUE(v.has_value()) << c.in;
    EXPECT_EQ(*v, c.out) << c.in;
  }
  const char* refused[] = {"abc", "10%", "1,2,3",    "1.2.3",       "12,5a", "-",
                           ",",   "1 0", "12345678", "1,123456789", "1e3"};
  for (const char* r : refused) EXPECT_FALSE(PercentualDesconto(r).has_value()) << r;
  // A number the column holds but no percentage is.
  for (const char* r : {"150", "-1", "100,00000001", "1234567,12345678", "-0,5"}) {
    EXPECT_FALSE(PercentualDesconto(r).has_value()) << r;
    EXPECT_EQ(MotivoDescontoRecusado(r), DescontoRecusado::ForaDoPercentual) << r;
  }
}

TEST(SqlQuoted, DoublesEverySingleQuote) {
  EXPECT_EQ(SqlQuoted("OLEO D'AGUA"), "OLEO D''AGUA");
  EXPECT_EQ(SqlQuoted("''"), "''''");
  EXPECT_EQ(SqlQuoted("X' OR '1'='1"), "X'' OR ''1''=''1");
  EXPECT_EQ(SqlQuoted(""), "");
  EXPECT_EQ(SqlQuoted("sem aspas"), "sem aspas");
}

TEST(SelecaoNomesPedidos, SelectsThe62ColumnsOfNamedOrders) {
  std::string sql = SelecaoNomesPedidos();
  EXPECT_EQ(sql.size(), 724u);
  EXPECT_EQ(sql.rfind("Select ESTACAO, NPEDIDO, NOME, ENDER1, ", 0), 0u);
  EXPECT_NE(sql.find("TIPOPEDIDO, QDEFORMULAS"), std::string::npos);
  EXPECT_NE(sql.find("PAGO, DATAPAGAMENTO"), std::string::npos);
  EXPECT_NE(sql.find("ACRESCPERC, NPED, NCF"), std::string::npos);
  const std::string tail = "CCF, CODLIVRO from PEDIDOS where NOME is not null";
  EXPECT_EQ(sql.substr(sql.size() - tail.size()), tail);
  size_t commas = 0;
  for (char c : sql) commas += c == ',';
  EXPECT_EQ(commas, 61u);
}

}  // namespace
}  // namespace cg
