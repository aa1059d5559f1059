// The repairs of the components table and of the synonyms: group copy onto
// synonyms, technical parameters, fixed cost reset. Through the script runner.
#include <gtest/gtest.h>

#include "ops_local/installation.h"

namespace opslocal {
namespace {

const std::string kClosed = "{\"event\":\"closed\"}";
const std::string kNothingFound = "Nenhum erro encontrado : Fat. Correção, Fat. Diluição e Densidade.";

Row Component(const std::string& group, const std::string& code, Row more = {}) {
  Row r{{"Grupo", group}, {"Codigo", code}};
  r.insert(r.end(), more.begin(), more.end());
  return r;
}
Row Synonym(const std::string& name, const std::string& code, const std::string& group) {
  return {{"Sinonimo", name}, {"Codigo", code}, {"Grupo", group}};
}

class ComponentRepairs : public ::testing::Test {
 protected:
  void SetUp() override { inst.createAll(); }
  Installation inst;
};

TEST_F(ComponentRepairs, SynonymsTakeTheGroupOfTheirComponent) {
  inst.insert(kDados, "Componen.DB", {Component("CAP", "C1"), Component("MP", "M1"), Component("", "E1")});
  inst.insert(kDados, "Sinonimo.DB",
              {Synonym("S1", "M1", "XX"), Synonym("S2", "M1", ""), Synonym("S3", "ZZ", "KEP"),
               Synonym("S4", "E1", "OLD"), Synonym("S5", "C1", "CAP")});

  const auto transcript = inst.run("invoke BotAcertaGrupoSinon\nstate\n");

  // No message ends the command: the panel goes and the commands come back.
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_FALSE(PanelVisible(transcript[0], "PainelCG"));
  EXPECT_TRUE(ButtonEnabled(transcript[0], "BotSair"));
  EXPECT_NE(transcript[0].find("\"gauge\":{\"min\":0,\"max\":5,\"position\":5}"), std::string::npos)
      << transcript[0];
  // Both synonyms of M1 get its group; S3 has no component and keeps its
  // group; E1's empty group empties S4's.
  EXPECT_EQ(inst.dump(kDados, "Sinonimo.DB", {"Sinonimo", "Grupo"}),
            (std::vector<std::string>{"S1|MP", "S2|MP", "S3|KEP", "S4|", "S5|CAP"}));
}

TEST_F(ComponentRepairs, AnEmptySynonymTableEndsQuietly) {
  inst.insert(kDados, "Componen.DB", {Component("MP", "M1")});
  const auto transcript = inst.run("invoke BotAcertaGrupoSinon\nstate\n");
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_NE(transcript[0].find("\"gauge\":{\"min\":0,\"max\":0,\"position\":0}"), std::string::npos)
      << transcript[0];
  EXPECT_TRUE(ButtonEnabled(transcript[0], "BotAcertaGrupoSinon"));
}

TEST_F(ComponentRepairs, SynonymGroupsAfterANameAbbreviationRunInTheSameSession) {
  // The name abbreviation leaves the index name NomeFone on Destino; the
  // synonyms table has no such index.
  inst.insert(kDados, "Clientes.DB", {{{"Estacao", "A"}, {"Codigo", "1"}, {"Nome", "ANA"}}});
  inst.insert(kDados, "Componen.DB", {Component("MP", "M1")});
  inst.insert(kDados, "Sinonimo.DB", {Synonym("S1", "M1", "")});

  const auto transcript = inst.run("invoke BotAbreviaNomeCli\nkey Escape\nclick BotAcertaGrupoSinon\n");

  EXPECT_EQ(transcript, (std::vector<std::string>{kClosed}));
  EXPECT_EQ(inst.dump(kDados, "Sinonimo.DB", {"Sinonimo", "Grupo"}), (std::vector<std::string>{"S1|MP"}));
}

TEST_F(ComponentRepairs, ZeroOrEmptyParametersBecomeOneAndAreCountedPerParameter) {
  inst.insert(kDados, "Componen.DB",
              {Component("MP", "1", {{"Descricao", "B"}, {"FatorDiluicao", "0"}, {"Densidade", "0,8"}})});

  const auto first = inst.run("invoke BotAjusta\nstate\n");
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0], Message("No Cad. Componentes foram corrigidos: 1 Fat. Correção, 1 Fat. Diluição e 0 "
                              "Densidades que estavam com valor igual a 0 ou em branco."));
  EXPECT_FALSE(PanelVisible(first[1], "PainelCG"));
  EXPECT_TRUE(ButtonEnabled(first[1], "BotSair"));
  EXPECT_EQ(inst.dump(kDados, "Componen.DB", {"FatorCorrecao", "FatorDiluicao", "Densidade"}),
            (std::vector<std::string>{"1|1|0,8"}));

  // A second run finds nothing more.
  EXPECT_EQ(inst.run("invoke BotAjusta\n"), (std::vector<std::string>{Message(kNothingFound), kClosed}));
}

TEST_F(ComponentRepairs, OnlyExactZeroIsRepairedAndEveryParameterIsTestedOnItsOwn) {
  inst.insert(
      kDados, "Componen.DB",
      {Component(
           "MP", "1",
           {{"Descricao", "B"}, {"FatorCorrecao", "-1"}, {"FatorDiluicao", "0,0001"}, {"Densidade", "0"}}),
       Component("MP", "2", {{"Descricao", "A"}}),
       Component(
           "MP", "3",
           {{"Descricao", "C"}, {"FatorCorrecao", "2"}, {"FatorDiluicao", "3"}, {"Densidade", "1,5"}})});

  EXPECT_EQ(inst.run("invoke BotAjusta\n"),
            (std::vector<std::string>{Message("No Cad. Componentes foram corrigidos: 1 Fat. Correção, 1 Fat. "
                                              "Diluição e 2 Densidades que estavam com valor igual a 0 ou em "
                                              "branco."),
                                      kClosed}));
  EXPECT_EQ(inst.dump(kDados, "Componen.DB", {"Codigo", "FatorCorrecao", "FatorDiluicao", "Densidade"}),
            (std::vector<std::string>{"1|-1|0,0001|1", "2|1|1|1", "3|2|3|1,5"}));
}

TEST_F(ComponentRepairs, TheParameterAdjustmentOnAnEmptyOrMissingTable) {
  EXPECT_EQ(inst.run("invoke BotAjusta\n"), (std::vector<std::string>{Message(kNothingFound), kClosed}));

  std::filesystem::remove(inst.host("C:\\VITRALON\\DADOS\\Componen.DB"));
  const auto transcript = inst.run("invoke BotAjusta\nstate\n");
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0].rfind("{\"event\":\"error\",\"class\":\"ETableNotFound\"", 0), 0u) << transcript[0];
  EXPECT_FALSE(PanelVisible(transcript[1], "PainelCG"));
  EXPECT_TRUE(ButtonEnabled(transcript[1], "BotSair"));
  EXPECT_TRUE(ButtonEnabled(transcript[1], "BotAjusta"));
}

TEST_F(ComponentRepairs, FixedCostIsResetForCapsulesPackagingAndExcipientsOnly) {
  inst.insert(kDados, "Componen.DB",
              {Component("CAP", "1", {{"CustoFixo", "2,5"}}), Component("CAP", "2"),
               Component("EMB", "3", {{"CustoFixo", "1"}}), Component("EXC", "4", {{"CustoFixo", "3"}}),
               Component("MP", "5", {{"CustoFixo", "4"}}), Component("", "6", {{"CustoFixo", "5"}}),
               Component("cap", "7", {{"CustoFixo", "6"}})});

  EXPECT_EQ(inst.run("invoke BitBtn6\n"),
            (std::vector<std::string>{Message("Procedimento Concluído"), kClosed}));
  EXPECT_EQ(inst.dump(kDados, "Componen.DB", {"Codigo", "CustoFixo"}, "CodUnic"),
            (std::vector<std::string>{"1|0", "2|0", "3|0", "4|0", "5|4", "6|5", "7|6"}));

  // Nothing of the three groups: nothing changes, the message is the same.
  std::filesystem::remove(inst.host("C:\\VITRALON\\DADOS\\Componen.DB"));
  inst.create(kDados, "Componen.DB");
  inst.insert(kDados, "Componen.DB", {Component("MP", "5", {{"CustoFixo", "4"}})});
  EXPECT_EQ(inst.run("invoke BitBtn6\n"),
            (std::vector<std::string>{Message("Procedimento Concluído"), kClosed}));
  EXPECT_EQ(inst.dump(kDados, "Componen.DB", {"Codigo", "CustoFixo"}), (std::vector<std::string>{"5|4"}));
}

TEST_F(ComponentRepairs, AFailingFixedCostStatementShowsTheErrorInsteadOfTheMessage) {
  std::filesystem::remove(inst.host("C:\\VITRALON\\DADOS\\Componen.DB"));
  const auto transcript = inst.run("invoke BitBtn6\n");
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_EQ(transcript[0].rfind("{\"event\":\"error\"", 0), 0u) << transcript[0];
  EXPECT_EQ(Events(transcript, "message").size(), 0u);
}

}  // namespace
}  // namespace opslocal
