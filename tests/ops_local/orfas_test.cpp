// Orphan formula removal, live and archive, through the script runner.
#include <gtest/gtest.h>

#include "ops_local/installation.h"

namespace opslocal {
namespace {

const std::vector<std::string> kFormulaKey = {"Estacao", "NPedido", "NFormula", "Serie"};
const std::vector<std::string> kItemKey = {"Estacao", "NPedido", "NFormula", "Item"};
const std::string kDone = "Procedimento concluído com sucesso.";

Row Order(const std::string& station, int number) {
  return {{"Estacao", station}, {"NPedido", std::to_string(number)}};
}
Row Formula(const std::string& station, int order, int formula, int serie = 1) {
  return {{"Estacao", station},
          {"NPedido", std::to_string(order)},
          {"NFormula", std::to_string(formula)},
          {"Serie", std::to_string(serie)}};
}
Row Item(const std::string& station, int order, int formula, int item) {
  return {{"Estacao", station},
          {"NPedido", std::to_string(order)},
          {"NFormula", std::to_string(formula)},
          {"Item", std::to_string(item)}};
}

// Orders 1 and 2 of station A exist; formula rows of order 3 (two in a row)
// and of station B have lost their header; order 1 has a formula numbered 0.
void SeedFormulaData(Installation& inst, const std::string& directory, const std::string& orders,
                     const std::string& formulas, const std::string& items) {
  inst.insert(directory, orders, {Order("A", 1), Order("A", 2)});
  inst.insert(directory, formulas,
              {Formula("A", 1, 0), Formula("A", 1, 1), Formula("A", 1, 1, 2), Formula("A", 2, 5),
               Formula("A", 3, 1), Formula("A", 3, 2), Formula("B", 1, 1)});
  inst.insert(directory, items,
              {Item("A", 1, 0, 1), Item("A", 1, 1, 1), Item("A", 1, 1, 2), Item("A", 2, 5, 1),
               Item("A", 3, 1, 1), Item("A", 9, 9, 1), Item("B", 1, 1, 1)});
}

class OrphanFormulas : public ::testing::Test {
 protected:
  void SetUp() override { inst.createAll(); }
  Installation inst;
};

TEST_F(OrphanFormulas, LiveCommandDeletesOrphansInThreePassesAndEnablesTheCommands) {
  SeedFormulaData(inst, kDados, "Pedidos.DB", "PEDIFORM.DB", "COMPEDID.DB");

  const auto transcript = inst.run("click BotFormulaOrfan\nstate\n");

  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0], Message(kDone));
  const std::string state = transcript[1];
  EXPECT_FALSE(PanelVisible(state, "PainelCG"));
  for (const char* gated :
       {"BotFormulaOrfan", "BotCorrecaoComp", "BotAjusta", "BotSair", "BotCorrigeCadMed", "BotAbreviaNomeCli",
        "BotAbreviaNomeMed", "BotAcertaGrupoSinon", "BitBtn5", "BitBtn1", "btn1"})
    EXPECT_TRUE(ButtonEnabled(state, gated)) << gated;
  EXPECT_FALSE(ButtonEnabled(state, "BitBtn2"));
  EXPECT_FALSE(ButtonEnabled(state, "BitBtn6"));
  // Pass 3 walks the 4 remaining formula rows with the counter starting at
  // 1: the gauge stops at its maximum.
  EXPECT_NE(state.find("\"gauge\":{\"min\":0,\"max\":4,\"position\":4}"), std::string::npos) << state;

  // Pass 1 took the rows of order 3 (consecutive) and of station B; pass 3
  // the formula numbered 0.
  EXPECT_EQ(inst.dump(kDados, "PEDIFORM.DB", kFormulaKey),
            (std::vector<std::string>{"A|1|1|1", "A|1|1|2", "A|2|5|1"}));
  // Items of deleted formula rows and of no formula go, the item of
  // formula 0 with its formula row in pass 3: one run leaves no orphan.
  const std::vector<std::string> items = {"A|1|1|1", "A|1|1|2", "A|2|5|1"};
  EXPECT_EQ(inst.dump(kDados, "COMPEDID.DB", kItemKey), items);
  EXPECT_EQ(inst.dump(kDados, "Pedidos.DB", {"Estacao", "NPedido"}),
            (std::vector<std::string>{"A|1", "A|2"}));

  // The next run finds nothing more to delete.
  EXPECT_EQ(inst.run("click BotFormulaOrfan\n"),
            (std::vector<std::string>{Message(kDone), "{\"event\":\"closed\"}"}));
  EXPECT_EQ(inst.dump(kDados, "COMPEDID.DB", kItemKey), items);
  EXPECT_EQ(inst.dump(kDados, "PEDIFORM.DB", kFormulaKey),
            (std::vector<std::string>{"A|1|1|1", "A|1|1|2", "A|2|5|1"}));
}

TEST_F(OrphanFormulas, ArchiveCommandLooksRowsUpInTheArchiveOnlyAndLeavesTheLiveDataAlone) {
  SeedFormulaData(inst, kArquivo, "pedidos.DB", "pediform.DB", "Compedid.DB");
  // The live data holds the header of order 3 and a formula row that the
  // archive's items point to: the archive must not find them.
  inst.insert(kDados, "Pedidos.DB", {Order("A", 3)});
  inst.insert(kDados, "PEDIFORM.DB", {Formula("A", 9, 9), Formula("Z", 1, 0)});

  const auto transcript = inst.run("click BotFormulaOrfanArqQM\n");

  EXPECT_EQ(transcript, (std::vector<std::string>{Message(kDone), "{\"event\":\"closed\"}"}));
  EXPECT_EQ(inst.dump(kArquivo, "pediform.DB", kFormulaKey),
            (std::vector<std::string>{"A|1|1|1", "A|1|1|2", "A|2|5|1"}));
  EXPECT_EQ(inst.dump(kArquivo, "Compedid.DB", kItemKey),
            (std::vector<std::string>{"A|1|1|1", "A|1|1|2", "A|2|5|1"}));
  EXPECT_EQ(inst.dump(kDados, "PEDIFORM.DB", kFormulaKey), (std::vector<std::string>{"A|9|9|1", "Z|1|0|1"}));
}

TEST_F(OrphanFormulas, EmptyTablesEndWithTheSameMessage) {
  const auto transcript = inst.run("click BotFormulaOrfan\nstate\n");
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0], Message(kDone));
  EXPECT_NE(transcript[1].find("\"gauge\":{\"min\":0,\"max\":0,\"position\":0}"), std::string::npos)
      << transcript[1];
}

TEST_F(OrphanFormulas, AFailureStopsTheCommandAndTheNextOneCanBindFonteAgain) {
  SeedFormulaData(inst, kDados, "Pedidos.DB", "PEDIFORM.DB", "COMPEDID.DB");
  std::filesystem::remove(inst.host("C:\\VITRALON\\ARQMORTO\\pedidos.DB"));

  // The archive command stops in pass 1 with Fonte open on the archive; the
  // live command that follows binds Fonte to another database and must
  // still run.
  const auto transcript = inst.run("click BotFormulaOrfanArqQM\nstate\nclick BotFormulaOrfan\n");

  ASSERT_EQ(transcript.size(), 4u);
  EXPECT_EQ(transcript[0].rfind("{\"event\":\"error\",\"class\":\"ETableNotFound\"", 0), 0u) << transcript[0];
  EXPECT_NE(transcript[0].find("pedidos.DB"), std::string::npos) << transcript[0];
  EXPECT_FALSE(PanelVisible(transcript[1], "PainelCG"));
  EXPECT_EQ(transcript[2], Message(kDone));
  EXPECT_EQ(inst.dump(kDados, "PEDIFORM.DB", kFormulaKey),
            (std::vector<std::string>{"A|1|1|1", "A|1|1|2", "A|2|5|1"}));
}

}  // namespace
}  // namespace opslocal
