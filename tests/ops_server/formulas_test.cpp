// Formula names on the server, and component codes of order items.
#include <gtest/gtest.h>

#include "installation.h"
#include "platform/cp1252.h"
#include "text/normaliza.h"

namespace cg {
namespace {

using testsupport::GaugeOf;
using testsupport::Installation;
using testsupport::PanelVisible;
using testsupport::Row;

std::string formula(int codigo, const std::string& nome) {
  return "INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (" + std::to_string(codigo) + ", '" + nome + "')";
}

std::vector<Row> formulas(Installation& inst) {
  return inst.query("select CODIGOFORM, FORMULA from FORMULAS order by CODIGOFORM",
                    {"CODIGOFORM", "FORMULA"});
}

TEST(NomesFormulas, EveryNameIsRewrittenInTheProductNameForm) {
  Installation inst;
  const std::string acentuada = cp("POMADA DE CALÊNDULA"_cp);
  inst.exec({formula(1, "XAROPE DE GUACO"), formula(2, "Creme hidratante"), formula(3, "vitamina d3 gotas"),
             formula(4, acentuada), "INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (5, NULL)",
             "INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (6, NULL)"});
  auto t = inst.run("invoke BitBtn1\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp("Procedimento Concluído com Sucesso."_cp)}) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  auto rows = formulas(inst);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0][1], "Xarope de guaco");
  EXPECT_EQ(rows[1][1], "Creme hidratante");  // already in the form: posted unchanged
  EXPECT_EQ(rows[2][1], "Vitamina D3 gotas");
  EXPECT_EQ(rows[3][1], FormataNomeProduto(acentuada));
  EXPECT_EQ(rows[3][1]->find('\xCA'), std::string::npos);
  // Formulas without a name keep none (two empty names would collide).
  EXPECT_EQ(rows[4][1], std::nullopt);
  EXPECT_EQ(rows[5][1], std::nullopt);

  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  EXPECT_EQ(GaugeOf(s).max, 6);
  EXPECT_EQ(GaugeOf(s).position, 6);
}

TEST(NomesFormulas, EmptyRegisterStillEndsWithTheClosingMessage) {
  Installation inst;
  auto t = inst.run("invoke BitBtn1\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp("Procedimento Concluído com Sucesso."_cp)}) << t.dump();
  EXPECT_EQ(GaugeOf(t.state(0)).max, 0);
}

// The refusal is shown by the data module as it happens ("2) "), counted,
// and told with the server's message before the closing message.
TEST(NomesFormulas, ANameTheServerRefusesAtCloseIsReportedBeforeTheClosingMessage) {
  Installation inst;
  inst.exec({formula(1, "ALFA"), formula(2, "BETA"), formula(3, "ZETA"),
             "CREATE EXCEPTION E_FORMULA_TRAVADA 'formula em uso no laboratorio'",
             "CREATE TRIGGER T_FORMULAS_TRAVA FOR FORMULAS BEFORE UPDATE AS BEGIN "
             "IF (OLD.CODIGOFORM = 3) THEN EXCEPTION E_FORMULA_TRAVADA; END"});
  auto t = inst.run("invoke BitBtn1\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 3u) << t.dump();
  EXPECT_EQ(m[0].substr(0, 3), "2) ");
  EXPECT_NE(m[0].find("formula em uso no laboratorio"), std::string::npos) << m[0];
  const std::string refused =
      cp("O servidor recusou 1 alteração, que não foi gravada.\rMensagem do servidor: "_cp);
  EXPECT_EQ(m[1].substr(0, refused.size()), refused) << m[1];
  EXPECT_NE(m[1].find("formula em uso no laboratorio"), std::string::npos) << m[1];
  EXPECT_EQ(m[2], cp("Procedimento concluído com 1 erro."_cp));
  EXPECT_EQ(formulas(inst), (std::vector<Row>{{"1", "Alfa"}, {"2", "Beta"}, {"3", "ZETA"}}));
}

TEST(NomesFormulas, AFailedPostNamesTheStoredNameAndTheWalkGoesOn) {
  Installation inst;
  // A row without its key cannot be posted by the dataset.
  inst.exec({"ALTER TABLE FORMULAS DROP CONSTRAINT PK_FORMULAS",
             "ALTER TABLE FORMULAS ALTER CODIGOFORM DROP NOT NULL", formula(1, "ALFA"),
             "INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (NULL, 'BETA COMPOSTA')",
             formula(3, "GAMA")});
  auto t = inst.run("invoke BitBtn1\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 3u) << t.dump();
  EXPECT_EQ(m[0].substr(0, 3), "1) ");  // the data module's own report comes first
  EXPECT_EQ(m[1],
            cp("Não foi possível corrigir \"BETA COMPOSTA\". Favor verificar se já existe outra fórmula com "
               "este nome."_cp));
  EXPECT_EQ(m[2], cp("Procedimento concluído com 1 erro."_cp));
  EXPECT_EQ(inst.query("select FORMULA from FORMULAS order by FORMULA", {"FORMULA"}),
            (std::vector<Row>{{"Alfa"}, {"BETA COMPOSTA"}, {"Gama"}}));
}

// ---- Component codes of order items ---------------------------------------

std::string componente(const std::string& codigo, const std::string& nome) {
  return "INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('" + codigo + "', '" + nome + "')";
}

std::string item(int npedido, int it, const std::string& nome, const std::string& codigo) {
  return "INSERT INTO COMPEDID (ESTACAO, NPEDIDO, NFORMULA, ITEM, COMPONENTE, CODIGOCOMP) VALUES ('01', " +
         std::to_string(npedido) + ", 1, " + std::to_string(it) + ", '" + nome + "', '" + codigo + "')";
}

std::vector<Row> itens(Installation& inst) {
  return inst.query("select NPEDIDO, ITEM, CODIGOCOMP from COMPEDID order by NPEDIDO, ITEM",
                    {"NPEDIDO", "ITEM", "CODIGOCOMP"});
}

TEST(CodigoComponenteItens, CodesFollowTheRegistryByNameWithQuotesKeptInTheirValue) {
  Installation inst;
  inst.exec({componente("C-100", "CAFEINA"), componente("C-200", "OLEO D''AGUA"),
             componente("C-300", "ZINCO"), componente("C-400", "X'' OR ''1''=''1"),
             item(1, 1, "CAFEINA", "velho"), item(1, 2, "OLEO D''AGUA", "velho"),
             item(2, 1, "ZINCO", "C-300"), item(2, 2, "Cafeina", "velho"),  // another spelling: not matched
             item(3, 1, "SEM CADASTRO", "velho")});
  auto t = inst.run("click BitBtn2\ninvoke BitBtn2\nstate\n");
  // The button stays disabled in the window; the runner's invoke runs it.
  ASSERT_FALSE(t.events.empty());
  EXPECT_EQ(t.events[0].kind, "ignored") << t.dump();
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_EQ(itens(inst), (std::vector<Row>{{"1", "1", "C-100"},
                                           {"1", "2", "C-200"},
                                           {"2", "1", "C-300"},
                                           {"2", "2", "velho"},
                                           {"3", "1", "velho"}}));
  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  EXPECT_EQ(GaugeOf(s).max, 4);
  EXPECT_EQ(GaugeOf(s).position, 4);
}

TEST(CodigoComponenteItens, TwoComponentsOfOneNameLeaveTheCodeOfTheLastVisited) {
  Installation inst;
  inst.exec({"ALTER TABLE COMPONEN DROP CONSTRAINT UQ_COMPONEN_COMPONENTE", componente("A1", "CAFEINA"),
             componente("B2", "CAFEINA"), item(1, 1, "CAFEINA", "velho")});
  auto order = inst.query("select CODIGO from COMPONEN", {"CODIGO"});  // the order the registry is read in
  ASSERT_EQ(order.size(), 2u);
  auto t = inst.run("invoke BitBtn2\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_EQ(inst.scalar("select CODIGOCOMP as V from COMPEDID"), order[1][0]);
}

class CodigoComponenteItensTransportes : public testsupport::BothTransports {};
CG_BOTH_TRANSPORTS(CodigoComponenteItensTransportes);

TEST_P(CodigoComponenteItensTransportes, ARejectedStatementIsShownAsSentAndTheWalkGoesOn) {
  Installation inst(GetParam());
  inst.exec({componente("C-1", "ACIDO D''ARCO"), componente("C-2", "BORO"), componente("C-3", "CALCIO"),
             item(1, 1, "ACIDO D''ARCO", "x"), item(1, 2, "BORO", "x"), item(1, 3, "CALCIO", "x"),
             "CREATE EXCEPTION E_ITEM_FATURADO 'item ja faturado'",
             "CREATE TRIGGER T_COMPEDID_TRAVA FOR COMPEDID BEFORE UPDATE AS BEGIN "
             "IF (OLD.COMPONENTE STARTING WITH 'ACIDO') THEN EXCEPTION E_ITEM_FATURADO; END"});
  auto t = inst.run("invoke BitBtn2\n");
  EXPECT_EQ(t.messages(),
            (std::vector<std::string>{
                cp("Não foi possível executar o comando \r"
                   "UPDATE COMPEDID set CODIGOCOMP = 'C-1' WHERE COMPONENTE = 'ACIDO D''ARCO'"_cp),
                cp("Procedimento concluído com 1 erro."_cp)}))
      << t.dump();
  EXPECT_EQ(itens(inst), (std::vector<Row>{{"1", "1", "x"}, {"1", "2", "C-2"}, {"1", "3", "C-3"}}));
}

TEST(CodigoComponenteItens, AnEmptyRegistrySendsNothing) {
  Installation inst;
  inst.exec(item(1, 1, "CAFEINA", "velho"));
  auto t = inst.run("invoke BitBtn2\nstate\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_FALSE(PanelVisible(t.state(0), "PainelCG"));
  EXPECT_EQ(GaugeOf(t.state(0)).max, 0);
  EXPECT_EQ(itens(inst), (std::vector<Row>{{"1", "1", "velho"}}));
}

}  // namespace
}  // namespace cg
