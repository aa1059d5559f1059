// Orders on the server: client names abbreviated, book codes handed out.
#include <gtest/gtest.h>

#include "installation.h"
#include "platform/cp1252.h"
#include "support/scoped_hook.h"
#include "text/normaliza.h"

namespace cg {
namespace {

using testsupport::ButtonEnabled;
using testsupport::GaugeOf;
using testsupport::Installation;
using testsupport::PanelVisible;
using testsupport::Row;
using testsupport::ScopedHook;

std::string sqlText(const std::optional<std::string>& v) { return v ? "'" + *v + "'" : "NULL"; }

std::string pedido(const std::string& estacao, int npedido, const std::optional<std::string>& nome,
                   const std::optional<std::string>& medico = std::nullopt,
                   std::optional<int> codlivro = {}) {
  return "INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, MEDICO, CODLIVRO) VALUES (" + sqlText(estacao) + ", " +
         std::to_string(npedido) + ", " + sqlText(nome) + ", " + sqlText(medico) + ", " +
         (codlivro ? std::to_string(*codlivro) : "NULL") + ")";
}

const char* kGated[] = {
    "BotCorrecaoComp",   "BotAjusta",           "BotSair", "BotCorrigeCadMed", "BotAbreviaNomeCli",
    "BotAbreviaNomeMed", "BotAcertaGrupoSinon", "BitBtn5", "BitBtn1",          "btn1"};

// ---- Client names in the orders --------------------------------------------

std::vector<Row> nomes(Installation& inst) {
  return inst.query("select ESTACAO, NPEDIDO, NOME from PEDIDOS order by ESTACAO, NPEDIDO",
                    {"ESTACAO", "NPEDIDO", "NOME"});
}

// 39 characters whose abbreviation is longer than the column.
const char* kLetras = "A B C D E F G H I J K L M N O P Q R S T";

TEST(NomesPedidos, NamesAreAbbreviatedInPlaceAndNullNamesKept) {
  Installation inst;
  inst.exec({pedido("01", 1, "JOSE CARLOS DE OLIVEIRA SOUZA"), pedido("01", 2, std::nullopt),
             pedido("01", 3, ""), pedido("02", 1, "maria  da   silva"), pedido("02", 2, kLetras)});
  auto t = inst.run("invoke btn1\nstate\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  auto rows = nomes(inst);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][2], "Jose Carlos O. Souza");
  EXPECT_EQ(rows[1][2], std::nullopt);
  EXPECT_EQ(rows[2][2], "");
  EXPECT_EQ(rows[3][2], "Maria da Silva");
  // Many one-letter words make a name longer than the column: cut to 40.
  ASSERT_TRUE(rows[4][2].has_value());
  EXPECT_EQ(*rows[4][2], AbreviaNome(kLetras).substr(0, 40));
  EXPECT_EQ(rows[4][2]->substr(0, 12), "A B C. D. E.");

  // The loop lets window events through, so the commands were switched off
  // during it and are switched on again at its end.
  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  for (const char* b : kGated) EXPECT_TRUE(ButtonEnabled(s, b)) << b;
  EXPECT_EQ(GaugeOf(s).max, 4);
  EXPECT_EQ(GaugeOf(s).position, 4);

  // A second run, after another operation moved the gauge, writes the same
  // names again and counts from 0.
  auto again = inst.run("invoke BitBtn2\ninvoke btn1\nstate\n");
  EXPECT_TRUE(again.messages().empty()) << again.dump();
  auto second = nomes(inst);
  ASSERT_EQ(second.size(), 5u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(second[i], rows[i]);
  // The cut name ended in a blank, which the abbreviation trims.
  EXPECT_EQ(second[4][2], AbreviaNome(*rows[4][2]));
  EXPECT_EQ(GaugeOf(again.state(0)).position, 4);
}

TEST(NomesPedidos, NoNamedOrderShowsAndHidesThePanelSilently) {
  Installation inst;
  inst.exec(pedido("01", 1, std::nullopt));
  auto t = inst.run("invoke btn1\nstate\n");
  EXPECT_TRUE(t.messages().empty()) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_FALSE(PanelVisible(t.state(0), "PainelCG"));
  EXPECT_EQ(GaugeOf(t.state(0)).max, 0);
  EXPECT_EQ(nomes(inst), (std::vector<Row>{{"01", "1", std::nullopt}}));
}

class NomesPedidosTransportes : public testsupport::BothTransports {};
CG_BOTH_TRANSPORTS(NomesPedidosTransportes);

TEST_P(NomesPedidosTransportes, OrdersTheServerRefusesAreCountedOnceAndTheOthersApplied) {
  Installation inst(GetParam());
  inst.exec({pedido("01", 1, "ANA MARIA"), pedido("01", 2, "BRUNO COSTA"), pedido("01", 3, "CARLA DIAS"),
             pedido("01", 4, "DAVI ELIAS"), "CREATE EXCEPTION E_PEDIDO_FECHADO 'pedido fechado no caixa'",
             "CREATE TRIGGER T_PEDIDOS_FECHADO FOR PEDIDOS BEFORE UPDATE AS BEGIN "
             "IF (OLD.NPEDIDO IN (2, 3)) THEN EXCEPTION E_PEDIDO_FECHADO; END"});
  auto t = inst.run("invoke btn1\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 1u) << t.dump();
  const std::string prefix =
      cp("O servidor recusou 2 alterações, que não foram gravadas.\rPrimeira mensagem do servidor: "_cp);
  EXPECT_EQ(m[0].substr(0, prefix.size()), prefix) << m[0];
  EXPECT_NE(m[0].find("pedido fechado no caixa"), std::string::npos) << m[0];
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_EQ(nomes(inst), (std::vector<Row>{{"01", "1", "Ana Maria"},
                                           {"01", "2", "BRUNO COSTA"},
                                           {"01", "3", "CARLA DIAS"},
                                           {"01", "4", "Davi Elias"}}));
}

// ---- Book codes -------------------------------------------------------------

std::vector<Row> livros(Installation& inst) {
  return inst.query("select ESTACAO, NPEDIDO, CODLIVRO from PEDIDOS order by ESTACAO, NPEDIDO",
                    {"ESTACAO", "NPEDIDO", "CODLIVRO"});
}

std::optional<std::string> configLivro(Installation& inst) {
  return inst.scalar("select CODLIVRO as V from CONFIG");
}

void config(Installation& inst, const std::string& codlivro) {
  inst.exec("INSERT INTO CONFIG (USARPRECOMOV, CODLIVRO) VALUES ('SIM', " + codlivro + ")");
}

const std::string kSucesso = cp("Procedimento concluído com sucesso."_cp);

class CodLivroTransportes : public testsupport::BothTransports {};
CG_BOTH_TRANSPORTS(CodLivroTransportes);

TEST_P(CodLivroTransportes, SelectedOrdersReceiveTheNextCodesInStationAndNumberOrder) {
  Installation inst(GetParam());
  config(inst, "41");
  inst.exec({pedido("02", 1, "A", "DR X"), pedido("01", 7, "B", "DR Y"), pedido("01", 3, "C", "DR Z"),
             pedido("01", 5, "D", std::nullopt),  // no doctor
             pedido("01", 9, "E", "DR W", 12)});  // already numbered
  auto t = inst.run("invoke BitBtn5\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{kSucesso}) << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_EQ(livros(inst), (std::vector<Row>{{"01", "3", "42"},
                                            {"01", "5", std::nullopt},
                                            {"01", "7", "43"},
                                            {"01", "9", "12"},
                                            {"02", "1", "44"}}));
  EXPECT_EQ(configLivro(inst), "44");
  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  for (const char* b : kGated) EXPECT_TRUE(ButtonEnabled(s, b)) << b;
  EXPECT_EQ(GaugeOf(s).max, 3);
  EXPECT_EQ(GaugeOf(s).position, 3);

  // Nothing left to number: the configuration keeps its value.
  auto again = inst.run("invoke BitBtn5\n");
  EXPECT_EQ(again.messages(), std::vector<std::string>{kSucesso}) << again.dump();
  EXPECT_EQ(configLivro(inst), "44");
}

TEST(CodLivro, AnEmptyStoredCodeStartsAtOne) {
  Installation inst;
  config(inst, "NULL");
  inst.exec({pedido("01", 1, "A", "DR X"), pedido("01", 2, "B", "DR Y")});
  auto t = inst.run("invoke BitBtn5\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{kSucesso}) << t.dump();
  EXPECT_EQ(livros(inst), (std::vector<Row>{{"01", "1", "1"}, {"01", "2", "2"}}));
  EXPECT_EQ(configLivro(inst), "2");
}

TEST_P(CodLivroTransportes, AFailedOrderUsesUpItsCodeAndIsReported) {
  Installation inst(GetParam());
  config(inst, "41");
  inst.exec({pedido("01", 1, "A", "DR X"), pedido("01", 2, "B", "DR Y"), pedido("01", 3, "C", "DR Z"),
             "CREATE EXCEPTION E_PEDIDO_FECHADO 'pedido fechado no caixa'",
             "CREATE TRIGGER T_PEDIDOS_FECHADO FOR PEDIDOS BEFORE UPDATE AS BEGIN "
             "IF (OLD.NPEDIDO = 2) THEN EXCEPTION E_PEDIDO_FECHADO; END"});
  auto t = inst.run("invoke BitBtn5\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 2u) << t.dump();
  const std::string m2 =
      cp("Não consegui gravar o codigo 43 no pedido nº: 01.2\rClasse do Erro: ESQLError\rErro: "_cp);
  EXPECT_EQ(m[0].substr(0, m2.size()), m2) << m[0];
  EXPECT_NE(m[0].find("pedido fechado no caixa"), std::string::npos) << m[0];
  EXPECT_EQ(m[1], cp("Procedimento concluído com 1 erro."_cp));
  EXPECT_EQ(livros(inst),
            (std::vector<Row>{{"01", "1", "42"}, {"01", "2", std::nullopt}, {"01", "3", "44"}}));
  EXPECT_EQ(configLivro(inst), "44");
}

TEST(CodLivro, TheConfigurationNeverLagsBehindTheCodesHandedOut) {
  Installation inst;
  config(inst, "10");
  // Every time the configuration is written, note what it receives and the
  // highest code the orders hold in the same transaction: had the program
  // died right after that transaction, the next run would start from it.
  // Groups of two orders here: the refused second order uses up its code.
  ScopedHook groups("CG_SQL_GROUP_STATEMENTS", "2");
  inst.exec({pedido("01", 1, "A", "DR X"), pedido("01", 2, "B", "DR Y"), pedido("01", 3, "C", "DR Z"),
             pedido("01", 4, "D", "DR W"), pedido("01", 5, "E", "DR V"),
             "CREATE TABLE VISTO (N INTEGER, CONFIGURADO INTEGER, MAIOR INTEGER, PEDIDOS INTEGER)",
             "CREATE SEQUENCE S_VISTO", "CREATE EXCEPTION E_PEDIDO_FECHADO 'pedido fechado no caixa'",
             "CREATE TRIGGER T_PEDIDOS_FECHADO FOR PEDIDOS BEFORE UPDATE AS BEGIN "
             "IF (NEW.NPEDIDO = 2) THEN EXCEPTION E_PEDIDO_FECHADO; END",
             "CREATE TRIGGER T_CONFIG_VISTO FOR CONFIG AFTER UPDATE AS BEGIN "
             "INSERT INTO VISTO VALUES (NEXT VALUE FOR S_VISTO, NEW.CODLIVRO, "
             "(SELECT max(CODLIVRO) FROM PEDIDOS), (SELECT count(CODLIVRO) FROM PEDIDOS)); END"});
  auto t = inst.run("invoke BitBtn5\n");
  ASSERT_EQ(t.messages().size(), 2u) << t.dump();
  auto seen = inst.query("select CONFIGURADO, MAIOR, PEDIDOS from VISTO order by N",
                         {"CONFIGURADO", "MAIOR", "PEDIDOS"});
  EXPECT_EQ(seen, (std::vector<Row>{{"12", "11", "1"}, {"14", "14", "3"}, {"15", "15", "4"}}));
  EXPECT_EQ(configLivro(inst), "15");
  EXPECT_EQ(livros(inst), (std::vector<Row>{{"01", "1", "11"},
                                            {"01", "2", std::nullopt},
                                            {"01", "3", "13"},
                                            {"01", "4", "14"},
                                            {"01", "5", "15"}}));

  // A run after a crash goes on after the last code the configuration holds.
  inst.exec(
      {"DROP TRIGGER T_PEDIDOS_FECHADO", "UPDATE CONFIG SET CODLIVRO = 20", pedido("01", 6, "F", "DR U")});
  inst.run("invoke BitBtn5\n");
  EXPECT_EQ(inst.scalar("select CODLIVRO as V from PEDIDOS where NPEDIDO = 2"), "21");
  EXPECT_EQ(inst.scalar("select CODLIVRO as V from PEDIDOS where NPEDIDO = 6"), "22");
}

TEST(CodLivro, AConfigurationThatCannotBeWrittenHandsOutNoCode) {
  Installation inst;
  config(inst, "5");
  inst.exec(
      {pedido("01", 1, "A", "DR X"), "CREATE EXCEPTION E_CONFIG_TRAVADA 'configuracao travada'",
       "CREATE TRIGGER T_CONFIG_TRAVA FOR CONFIG BEFORE UPDATE AS BEGIN EXCEPTION E_CONFIG_TRAVADA; END"});
  auto t = inst.run("invoke BitBtn5\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 3u) << t.dump();
  const std::string m2 =
      cp("Não consegui gravar o codigo 6 no pedido nº: 01.1\rClasse do Erro: ESQLError\rErro: "_cp);
  EXPECT_EQ(m[0].substr(0, m2.size()), m2) << m[0];
  const std::string m3 = cp(
      "Não consegui gravar o codigo 6 na tabela \"Config\" do Servidor\rClasse do Erro: ESQLError\rErro: "_cp);
  EXPECT_EQ(m[1].substr(0, m3.size()), m3) << m[1];
  EXPECT_NE(m[1].find("configuracao travada"), std::string::npos) << m[1];
  EXPECT_EQ(m[2], cp("Procedimento concluído com 2 erros."_cp));
  EXPECT_EQ(livros(inst), (std::vector<Row>{{"01", "1", std::nullopt}}));
  EXPECT_EQ(configLivro(inst), "5");
}

TEST(CodLivro, AQuoteInTheStationStaysPartOfTheValue) {
  Installation inst;
  config(inst, "0");
  inst.exec({pedido("A''", 1, "A", "DR X"), pedido("A", 1, "B", std::nullopt)});
  auto t = inst.run("invoke BitBtn5\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{kSucesso}) << t.dump();
  EXPECT_EQ(livros(inst), (std::vector<Row>{{"A", "1", std::nullopt}, {"A'", "1", "1"}}));
}

TEST(CodLivro, AnUnreadableOrdersTableIsReportedAndTheConfigurationStillRewritten) {
  Installation inst;
  config(inst, "7");
  inst.exec({pedido("01", 1, "A", "DR X"), "ALTER TABLE PEDIDOS DROP MEDICO"});
  auto t = inst.run("invoke BitBtn5\nstate\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 3u) << t.dump();
  const std::string m1a =
      cp("Não foi possível abrir a tabela \"sqldspedidos\".\rClasse do erro: ESQLError\rErro: "_cp);
  const std::string m1b = cp("Não foi possível abrir a tabela \"cdspedidos\".\rClasse do erro: "_cp);
  EXPECT_EQ(m[0].substr(0, m1a.size()), m1a) << m[0];
  EXPECT_NE(m[0].find("MEDICO"), std::string::npos) << m[0];
  EXPECT_EQ(m[1].substr(0, m1b.size()), m1b) << m[1];
  // A run whose selection failed numbered nothing: it says so.
  EXPECT_EQ(m[2], cp("Procedimento concluído com 2 erros."_cp));
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();
  EXPECT_EQ(configLivro(inst), "7");
  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  for (const char* b : kGated) EXPECT_TRUE(ButtonEnabled(s, b)) << b;
}

}  // namespace
}  // namespace cg
