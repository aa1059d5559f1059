// Supplier tax numbers: cleaned on the server, counted in the closing message.
#include <gtest/gtest.h>

#include "installation.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

using testsupport::Installation;
using testsupport::Row;

std::string fornecedor(const std::string& codigo, const std::optional<std::string>& cnpj) {
  return "INSERT INTO FORNECED (CODIGO, NOME, CNPJ) VALUES ('" + codigo + "', 'F" + codigo + "', " +
         (cnpj ? "'" + *cnpj + "'" : std::string("NULL")) + ")";
}

std::vector<Row> cnpjs(Installation& inst) {
  return inst.query("select CODIGO, CNPJ from FORNECED order by CODIGO", {"CODIGO", "CNPJ"});
}

class LimpezaCNPJTransportes : public testsupport::BothTransports {};
CG_BOTH_TRANSPORTS(LimpezaCNPJTransportes);

TEST_P(LimpezaCNPJTransportes, StripsPunctuationCountsChangesAndLeavesCleanNumbersAlone) {
  Installation inst(GetParam());
  inst.exec({fornecedor("0001", "12345678000195"),        // digits only: untouched
             fornecedor("0002", ""),                      // empty: untouched
             fornecedor("0003", "11.222.333/0001-81"),    // grouped form
             fornecedor("0004", "11 222 333 ab 0001"),    // blanks and letters go
             fornecedor("0005", "./-"),                   // nothing but punctuation
             fornecedor("0006", std::nullopt),            // null reads as empty
             fornecedor("0007", "12.ABC.345/01DE-35"),    // alphanumeric, valid
             fornecedor("0008", "12.abc.345/01de-35"),    // the same in lower case
             fornecedor("0009", "12.ABC.345/01DE-36")});  // look-alike, wrong check digit

  auto t = inst.run("click BitBtn7\n");
  EXPECT_EQ(t.messages(),
            std::vector<std::string>{cp("Procedimento concluído. 6 CNPJs foram corrigidos."_cp)})
      << t.dump();
  EXPECT_TRUE(t.errorReports().empty()) << t.dump();

  std::vector<Row> expected = {{"0001", "12345678000195"},
                               {"0002", ""},
                               {"0003", "11222333000181"},
                               {"0004", "112223330001"},
                               {"0005", ""},
                               {"0006", std::nullopt},
                               {"0007", "12ABC34501DE35"},
                               {"0008", "12ABC34501DE35"},
                               {"0009", "123450136"}};
  EXPECT_EQ(cnpjs(inst), expected);

  // A second run finds nothing left to do.
  auto again = inst.run("click BitBtn7\n");
  EXPECT_EQ(again.messages(),
            std::vector<std::string>{cp("Procedimento concluído. Nenhum CNPJ precisou ser corrigido."_cp)});
  EXPECT_EQ(cnpjs(inst), expected);
}

TEST(LimpezaCNPJ, OneChangeNamesTheNumberAsItWas) {
  Installation inst;
  inst.exec({fornecedor("0001", "12345678000195"), fornecedor("0002", "12.345.678/0001-95")});
  auto t = inst.run("click BitBtn7\nstate\n");
  EXPECT_EQ(t.messages(), std::vector<std::string>{cp(
                              "Procedimento concluído. Somente o CNPJ \"12.345.678/0001-95\" precisou ser "
                              "corrigido."_cp)})
      << t.dump();
  EXPECT_EQ(inst.scalar("select CNPJ as V from FORNECED where CODIGO = '0002'"), "12345678000195");
  // No panel, no gating: the other commands stay as the window starts.
  const auto& s = t.state(0);
  EXPECT_FALSE(PanelVisible(s, "PainelCG"));
  EXPECT_TRUE(ButtonEnabled(s, "BitBtn7"));
  EXPECT_FALSE(ButtonEnabled(s, "BitBtn5"));
}

TEST(LimpezaCNPJ, EmptyRegisterReportsNothingToCorrect) {
  Installation inst;
  auto t = inst.run("click BitBtn7\n");
  EXPECT_EQ(t.messages(),
            std::vector<std::string>{cp("Procedimento concluído. Nenhum CNPJ precisou ser corrigido."_cp)})
      << t.dump();
}

TEST(LimpezaCNPJ, ChangesTheServerRefusesAreReportedBeforeTheClosingMessage) {
  Installation inst;
  inst.exec({fornecedor("0001", "11.222.333/0001-81"), fornecedor("0002", "12.345.678/0001-95"),
             fornecedor("0003", "99.999.999/0001-91"),
             "CREATE EXCEPTION E_CNPJ_TRAVADO 'fornecedor travado pela auditoria'",
             "CREATE TRIGGER T_FORNECED_TRAVA FOR FORNECED BEFORE UPDATE AS BEGIN "
             "IF (OLD.CODIGO = '0002') THEN EXCEPTION E_CNPJ_TRAVADO; END"});
  auto t = inst.run("click BitBtn7\n");
  auto m = t.messages();
  ASSERT_EQ(m.size(), 2u) << t.dump();
  const std::string prefix =
      cp("O servidor recusou 1 alteração, que não foi gravada.\rMensagem do servidor: "_cp);
  EXPECT_EQ(m[0].substr(0, prefix.size()), prefix);
  EXPECT_NE(m[0].find("fornecedor travado pela auditoria"), std::string::npos) << m[0];
  // The refused one is neither counted as corrected nor passed off as done.
  EXPECT_EQ(m[1], cp("Procedimento concluído com 1 erro. 2 CNPJs foram corrigidos."_cp));
  std::vector<Row> expected = {
      {"0001", "11222333000181"}, {"0002", "12.345.678/0001-95"}, {"0003", "99999999000191"}};
  EXPECT_EQ(cnpjs(inst), expected);
}

}  // namespace
}  // namespace cg
