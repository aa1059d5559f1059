// The components registry: the option panel and its three corrections.
#include <gtest/gtest.h>

#include "installation.h"
#include "platform/cp1252.h"
#include "text/normaliza.h"

namespace cg {
namespace {

using testsupport::ButtonEnabled;
using testsupport::GaugeOf;
using testsupport::Installation;
using testsupport::PanelVisible;
using testsupport::Row;

std::string componente(const std::string& codigo, const std::string& nome, const std::string& unid,
                       const std::string& desconto) {
  return "INSERT INTO COMPONEN (CODIGO, COMPONENTE, UNID, DESCONTO) VALUES ('" + codigo + "', '" + nome +
         "', '" + unid + "', " + desconto + ")";
}

std::vector<Row> registro(Installation& inst) {
  return inst.query(
      "select CODIGO, COMPONENTE, UNID, cast(DESCONTO as varchar(30)) as D from COMPONEN order by CODIGO",
      {"CODIGO", "COMPONENTE", "UNID", "D"});
}

const char* kGated[] = {
    "BotCorrecaoComp",   "BotAjusta",           "BotSair", "BotCorrigeCadMed", "BotAbreviaNomeCli",
    "BotAbreviaNomeMed", "BotAcertaGrupoSinon", "BitBtn5", "BitBtn1",          "btn1"};

void expectGated(const testsupport::Event& state, bool enabled) {
  for (const char* b : kGated) EXPECT_EQ(ButtonEnabled(state, b), enabled) << b;
}

TEST(CorrecaoComponentes, OkWithoutOptionKeepsThePanelOpenAndCancelRestoresTheCommands) {
  Installation inst;
  inst.exec(componente("1", "DIPIRONA", "GR", "0"));
  auto t = inst.run(
      "invoke BotCorrecaoComp\nstate\n"
      "click BitBtn3\nstate\n"
      "key Escape\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp("Selecione uma Opção ou Clique em Cancelar"_cp)})
      << t.dump();

  EXPECT_TRUE(PanelVisible(t.state(0), "PainelCorrigComponentes"));
  expectGated(t.state(0), false);
  EXPECT_TRUE(PanelVisible(t.state(1), "PainelCorrigComponentes"));
  EXPECT_FALSE(PanelVisible(t.state(1), "PainelCG"));
  expectGated(t.state(1), false);
  // Escape answers "&Cancelar".
  EXPECT_FALSE(PanelVisible(t.state(2), "PainelCorrigComponentes"));
  expectGated(t.state(2), true);
  EXPECT_FALSE(ButtonEnabled(t.state(2), "BitBtn2"));
  EXPECT_FALSE(ButtonEnabled(t.state(2), "BitBtn6"));

  EXPECT_EQ(registro(inst), (std::vector<Row>{{"1", "DIPIRONA", "GR", "0.00000000"}}));
}

class CorrecaoComponentesTransportes : public testsupport::BothTransports {};
CG_BOTH_TRANSPORTS(CorrecaoComponentesTransportes);

TEST_P(CorrecaoComponentesTransportes, UnitsAreLoweredWithGrAndLtShortened) {
  Installation inst(GetParam());
  inst.exec(
      {componente("01", "A", "GR", "0"), componente("02", "B", "Gr", "0"), componente("03", "C", "gr", "0"),
       componente("04", "D", "LT", "0"), componente("05", "E", "ML", "0"), componente("06", "F", "Kg", "0"),
       componente("07", "G", "g", "0"), componente("08", "H", "ml", "0"), componente("09", "I", "gr ", "0"),
       componente("10", "J", "", "0"), componente("11", "K", "Lt", "0"), componente("12", "L", "UI", "0"),
       "INSERT INTO COMPONEN (CODIGO, COMPONENTE, UNID) VALUES ('13', 'M', NULL)"});
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton4\nclick BitBtn3\nstate\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();

  const char* expected[][2] = {{"01", "g"},   {"02", "g"},  {"03", "g"}, {"04", "l"},
                               {"05", "ml"},  {"06", "kg"}, {"07", "g"}, {"08", "ml"},
                               {"09", "gr "}, {"10", ""},   {"11", "l"}, {"12", "ui"}};
  auto rows = registro(inst);
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(rows[12][2], std::nullopt);  // no unit stays none
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(rows[i][0], expected[i][0]);
    EXPECT_EQ(rows[i][2], expected[i][1]) << "component " << expected[i][0];
  }

  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  EXPECT_FALSE(PanelVisible(s, "PainelCorrigComponentes"));
  expectGated(s, true);
  // The counter started at 1: the gauge reached its maximum and stayed there.
  auto g = GaugeOf(s);
  EXPECT_EQ(g.max, 13);
  EXPECT_EQ(g.position, 13);
}

TEST(CorrecaoComponentes, DefaultDiscountGoesToZeroAndEmptyDiscountsOnly) {
  Installation inst;
  inst.exec({componente("1", "A", "g", "0"), componente("2", "B", "g", "NULL"),
             componente("3", "C", "g", "5"), componente("4", "D", "g", "-1"),
             componente("5", "E", "g", "0.00000001")});
  // A decimal comma as the pharmacy types it.
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 12,5\nclick BitBtn3\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_EQ(registro(inst), (std::vector<Row>{{"1", "A", "g", "12.50000000"},
                                              {"2", "B", "g", "12.50000000"},
                                              {"3", "C", "g", "5.00000000"},
                                              {"4", "D", "g", "-1.00000000"},
                                              {"5", "E", "g", "0.00000001"}}));

  // A full stop is taken as well; a percentage above 100 is refused with
  // nothing written, the panel still open for another.
  inst.exec("UPDATE COMPONEN SET DESCONTO = 0 WHERE CODIGO IN ('1', '3')");
  auto refused = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 150.25\nclick BitBtn3\n");
  EXPECT_EQ(
      refused.messages(),
      (std::vector<std::string>{cp("O desconto digitado, \"150.25\", não é um percentual: digite um número "
                                   "de 0 a 100 (por exemplo 10 ou 12,5). Nenhum desconto foi gravado."_cp)}))
      << refused.dump();
  EXPECT_EQ(inst.scalar("select cast(DESCONTO as varchar(30)) as V from COMPONEN where CODIGO = '1'"),
            "0.00000000");
  auto again = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 99.75\nclick BitBtn3\n");
  EXPECT_TRUE(again.messages().empty()) << again.dump();
  EXPECT_EQ(inst.scalar("select cast(DESCONTO as varchar(30)) as V from COMPONEN where CODIGO = '1'"),
            "99.75000000");
  EXPECT_EQ(inst.scalar("select cast(DESCONTO as varchar(30)) as V from COMPONEN where CODIGO = '3'"),
            "99.75000000");
}

TEST(CorrecaoComponentes, EmptyPercentageTurnsZeroDiscountsEmpty) {
  Installation inst;
  inst.exec({componente("1", "A", "g", "0"), componente("2", "B", "g", "7")});
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\nclick BitBtn3\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_EQ(registro(inst), (std::vector<Row>{{"1", "A", "g", std::nullopt}, {"2", "B", "g", "7.00000000"}}));
}

TEST(CorrecaoComponentes, APercentageThatIsNoNumberIsRefusedBeforeAnythingChanges) {
  Installation inst;
  inst.exec({componente("1", "A", "g", "0"), componente("2", "B", "g", "0")});
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 10%\nclick BitBtn3\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp(
                              "O desconto digitado, \"10%\", não é um número. Digite o percentual (por "
                              "exemplo 10 ou 12,5) ou deixe a caixa vazia."_cp)})
      << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_TRUE(PanelVisible(t.state(0), "PainelCorrigComponentes"));
  EXPECT_FALSE(PanelVisible(t.state(0), "PainelCG"));
  expectGated(t.state(0), false);
  EXPECT_EQ(registro(inst), (std::vector<Row>{{"1", "A", "g", "0.00000000"}, {"2", "B", "g", "0.00000000"}}));

  // Corrected in the same panel, the option then runs.
  auto fixed = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 10\nclick BitBtn3\nstate\n");
  EXPECT_TRUE(fixed.messages().empty()) << fixed.dump();
  expectGated(fixed.state(0), true);
  EXPECT_EQ(registro(inst),
            (std::vector<Row>{{"1", "A", "g", "10.00000000"}, {"2", "B", "g", "10.00000000"}}));
}

TEST(CorrecaoComponentes, EnteringThePercentageBoxSelectsTheDiscountOption) {
  Installation inst;
  inst.exec(componente("1", "ACIDO", "GR", "0"));
  // The units option was chosen first; entering the box switches to discounts.
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton4\nfocus Edit1\ntype Edit1 3\nclick BitBtn3\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_EQ(registro(inst), (std::vector<Row>{{"1", "ACIDO", "GR", "3.00000000"}}));
}

TEST(CorrecaoComponentes, NamesAreCorrectedOnTheServerAndInThePurchases) {
  Installation inst;
  const std::string acentuado = cp("ÓLEO DE AMÊNDOAS"_cp);
  inst.exec({componente("1", "DIPIRONA SODICA", "g", "0"), componente("2", "vitamina c", "g", "0"),
             componente("3", "Cafeina", "g", "0"), componente("4", acentuado, "g", "0"),
             "INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('5', NULL)",
             "INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('6', NULL)"});
  inst.addCompras({"DIPIRONA SODICA", "VITAMINA E", acentuado});
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp("Procedimento Concluído com Sucesso."_cp)}) << t.dump();

  auto rows = registro(inst);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[4][1], std::nullopt);  // components without a name keep none
  EXPECT_EQ(rows[5][1], std::nullopt);
  EXPECT_EQ(rows[0][1], "Dipirona sodica");
  EXPECT_EQ(rows[1][1], "Vitamina C");
  EXPECT_EQ(rows[2][1], "Cafeina");
  EXPECT_EQ(rows[3][1], FormataNomeProduto(acentuado));
  EXPECT_EQ(rows[3][1]->find_first_of("\xD3\xCA"), std::string::npos);  // no accent left
  EXPECT_EQ(inst.comprasNames(),
            (std::vector<std::string>{"Dipirona sodica", "Vitamina E", FormataNomeProduto(acentuado)}));

  const auto& s = t.state(0);
  expectGated(s, true);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  auto g = GaugeOf(s);  // the purchases walk drove it last
  EXPECT_EQ(g.max, 3);
  EXPECT_EQ(g.position, 3);
}

TEST(CorrecaoComponentes, ANameTheServerRefusesIsReportedAndTheOthersAreStillCorrected) {
  Installation inst;
  // Both names become "Acido x", which the registry holds only once.
  inst.exec({componente("1", "ACIDO X", "g", "0"), componente("2", "Acido X", "g", "0"),
             componente("3", "ZINCO", "g", "0")});
  inst.addCompras({"ZINCO"});
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 2u) << t.dump();
  const std::string prefix =
      cp("O servidor recusou 1 alteração, que não foi gravada.\rMensagem do servidor: "_cp);
  EXPECT_EQ(m[0].substr(0, prefix.size()), prefix) << m[0];
  EXPECT_NE(m[0].find("UQ_COMPONEN_COMPONENTE"), std::string::npos) << m[0];
  EXPECT_EQ(m[1], cp("Procedimento concluído com 1 erro."_cp));

  auto rows = registro(inst);
  ASSERT_EQ(rows.size(), 3u);
  int corrected = (rows[0][1] == "Acido x") + (rows[1][1] == "Acido x");
  EXPECT_EQ(corrected, 1);
  EXPECT_TRUE(rows[0][1] == "ACIDO X" || rows[1][1] == "Acido X");
  EXPECT_EQ(rows[2][1], "Zinco");
  EXPECT_EQ(inst.comprasNames(), std::vector<std::string>{"Zinco"});
}

TEST(CorrecaoComponentes, AFailedPostNamesTheStoredNameAndTheWalkGoesOn) {
  Installation inst;
  // A row without its code cannot be posted by the dataset.
  inst.exec({"ALTER TABLE COMPONEN DROP CONSTRAINT PK_COMPONEN",
             "ALTER TABLE COMPONEN ALTER CODIGO DROP NOT NULL", componente("1", "ALFA", "g", "0"),
             "INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES (NULL, 'BETA AMARGA')",
             componente("3", "GAMA", "g", "0")});
  auto t = inst.run("invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 3u) << t.dump();
  EXPECT_NE(m[0].find("CODIGO"), std::string::npos) << m[0];  // the data module's own report
  EXPECT_EQ(m[1],
            cp("Não foi possível corrigir \"BETA AMARGA\". Favor verificar se já existe outro componente "
               "com este nome."_cp));
  EXPECT_EQ(m[2], cp("Procedimento concluído com 1 erro."_cp));
  EXPECT_EQ(inst.query("select COMPONENTE from COMPONEN order by COMPONENTE", {"COMPONENTE"}),
            (std::vector<Row>{{"Alfa"}, {"BETA AMARGA"}, {"Gama"}}));
}

TEST(CorrecaoComponentes, AnEmptyRegistryStillCorrectsThePurchasesOrEndsSilently) {
  Installation inst;
  inst.addCompras({"CAFEINA ANIDRA"});
  auto names = inst.run("invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n");
  EXPECT_EQ(names.messages(), std::vector<std::string>{cp("Procedimento Concluído com Sucesso."_cp)})
      << names.dump();
  EXPECT_EQ(inst.comprasNames(), std::vector<std::string>{"Cafeina anidra"});

  auto units = inst.run("invoke BotCorrecaoComp\ncheck RadioButton4\nclick BitBtn3\nstate\n");
  EXPECT_TRUE(units.messages().empty()) << units.dump();
  EXPECT_TRUE(units.errorReports().empty()) << units.dump();
  expectGated(units.state(0), true);
  EXPECT_EQ(GaugeOf(units.state(0)).max, 0);

  auto discount = inst.run("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 5\nclick BitBtn3\n");
  EXPECT_TRUE(discount.messages().empty()) << discount.dump();
  EXPECT_TRUE(discount.errorReports().empty()) << discount.dump();
}

}  // namespace
}  // namespace cg
