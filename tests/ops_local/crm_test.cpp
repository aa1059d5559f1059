// CRM correction of doctors and orders and its report, through the script
// runner.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "ops_local/installation.h"
#include "platform/cp1252.h"

namespace opslocal {
namespace {

const std::string kClosed = "{\"event\":\"closed\"}";
const std::string kReport = "c:\\vitralon\\CRMERROS.TXT";
const std::string kDone = "Procedimento concluído com sucesso.";
const std::string kDoneWithErrors =
    "Procedimento concluído. Favor verificar o relatório de erros de consistência "
    "(C:\\VITRALON\\CRMERROS.TXT) para "
    "completar a correção manualmente.";

Row Doctor(const std::string& crm, const std::string& name, const std::string& specialty = "") {
  return {{"CRM", crm}, {"Especialidade", specialty}, {"Nome", name}};
}
Row Order(const std::string& station, int number, const std::string& crm) {
  return {{"Estacao", station}, {"NPedido", std::to_string(number)}, {"CRM", crm}};
}

// The report as it must read: both headings always, the reported lines
// under each, CR LF after every line and nothing after the last one.
std::string ExpectedReport(const std::vector<std::string>& doctorLines,
                           const std::vector<std::string>& orderLines) {
  std::string r = "CRMs INCORRETOS NO CADASTRO DE MEDIDOS\r\n======================================\r\n \r\n";
  for (const std::string& l : doctorLines) r += l + "\r\n";
  r += " \r\n \r\nCRMs INCORRETOS NO CADASTRO DE PEDIDOS\r\n======================================\r\n \r\n";
  for (const std::string& l : orderLines) r += l + "\r\n";
  return r;
}

class CrmCorrection : public ::testing::Test {
 protected:
  void SetUp() override { inst.createAll(); }
  std::vector<std::string> doctorsByName() {
    return inst.dump(kDados, "Medicos.DB", {"Nome", "CRM"}, "Nome");
  }
  Installation inst;
};

TEST_F(CrmCorrection, DoctorsAndOrdersAreReducedToDigitsAndWhatCannotBeIsReported) {
  inst.insert(kDados, "Medicos.DB",
              {Doctor("12.345-SP", "ANA"), Doctor("1.111", "BRUNO"), Doctor("1111", "CARLOS"),
               Doctor("SP", "DANIEL"), Doctor("77-7", "EVA"), Doctor("7.77", "FABIO"), Doctor("", "GIL", "X"),
               Doctor("1234567890123456789012345", "HUGO")});
  inst.insert(
      kDados, "Pedidos.DB",
      {Order("A", 1, "12.345"), Order("A", 2, ""), Order("A", 3, "999"), Order("B", 10, "CRM 55/RJ")});

  const auto transcript = inst.run("invoke BotCorrigeCadMed\nstate\n");

  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0], Message(kDoneWithErrors));
  EXPECT_FALSE(PanelVisible(transcript[1], "PainelCG"));
  // One gauge step per scanned row over both passes.
  EXPECT_NE(transcript[1].find("\"gauge\":{\"min\":0,\"max\":12,\"position\":12}"), std::string::npos)
      << transcript[1];
  // The command gates nothing.
  EXPECT_TRUE(ButtonEnabled(transcript[1], "BotSair"));

  // BRUNO's digit form belongs to CARLOS; DANIEL's empty one to GIL; of EVA
  // and FABIO, who share a digit form, the first by name takes it.
  EXPECT_EQ(doctorsByName(),
            (std::vector<std::string>{"ANA|12345", "BRUNO|1.111", "CARLOS|1111", "DANIEL|SP", "EVA|777",
                                      "FABIO|7.77", "GIL|", "HUGO|12345678901234567890"}));
  EXPECT_EQ(inst.dump(kDados, "Pedidos.DB", {"Estacao", "NPedido", "CRM"}),
            (std::vector<std::string>{"A|1|12345", "A|2|", "A|3|999", "B|10|55"}));
  EXPECT_EQ(inst.readFile(kReport), ExpectedReport({"  1.111", "  SP", "  7.77"}, {}));
}

TEST_F(CrmCorrection, WithNothingReportedTheReportHoldsTheHeadingsOnly) {
  inst.insert(kDados, "Medicos.DB", {Doctor("SP", "ANA"), Doctor("500", "BIA")});
  inst.insert(kDados, "Pedidos.DB", {Order("A", 1, "SP"), Order("A", 2, "")});
  // A report of an earlier run is emptied.
  std::filesystem::path report = inst.host(kReport);
  { std::ofstream(report, std::ios::binary) << "  velho\r\n"; }

  EXPECT_EQ(inst.run("invoke BotCorrigeCadMed\n"), (std::vector<std::string>{Message(kDone), kClosed}));

  // With no doctor holding an empty CRM, "SP" becomes empty.
  EXPECT_EQ(doctorsByName(), (std::vector<std::string>{"ANA|", "BIA|500"}));
  EXPECT_EQ(inst.dump(kDados, "Pedidos.DB", {"NPedido", "CRM"}), (std::vector<std::string>{"1|", "2|"}));
  EXPECT_EQ(inst.readFile(kReport), ExpectedReport({}, {}));
}

TEST_F(CrmCorrection, OnlyTheExaminedDoctorIsChangedOrReportedAmongNamesakesAndLongNames) {
  const std::string longName = "ALEXANDRE AUGUSTO DE ALBUQUERQUE CAVALCANTI NETO";
  const std::string longNameReported = "ALEXANDRE AUGUSTO DE ALBUQUERQUE CAVALCANTI FILHO";
  ASSERT_GT(longName.size(), 40u);
  inst.insert(kDados, "Medicos.DB",
              {// The malformed namesake stands after a correct one.
               Doctor("5", "ANA"), Doctor("7-7", "ANA"),
               // The malformed namesake's digit form is taken by ZECA.
               Doctor("3", "BIA"), Doctor("8.8", "BIA"), Doctor("88", "ZECA"),
               // Names longer than the name search takes.
               Doctor("4.4", longName), Doctor("6.6", longNameReported), Doctor("66", "ZULU"),
               // Corrections that move a doctor forwards among its namesakes...
               Doctor("9-1", "CAIO"), Doctor("9-5", "CAIO"), Doctor("90", "CAIO"),
               // ... and backwards.
               Doctor("5.5", "DUDA"), Doctor("A12", "DUDA"), Doctor("B-7", "DUDA")});

  EXPECT_EQ(inst.run("invoke BotCorrigeCadMed\n"),
            (std::vector<std::string>{Message(kDoneWithErrors), kClosed}));

  EXPECT_EQ(inst.dump(kDados, "Medicos.DB", {"Nome", "CRM"}),
            (std::vector<std::string>{"DUDA|12", "BIA|3", longName + "|44", "ANA|5", "DUDA|55",
                                      longNameReported + "|6.6", "ZULU|66", "DUDA|7", "ANA|77", "BIA|8.8",
                                      "ZECA|88", "CAIO|90", "CAIO|91", "CAIO|95"}));
  EXPECT_EQ(inst.readFile(kReport), ExpectedReport({"  6.6", "  8.8"}, {}));
}

TEST_F(CrmCorrection, AnOrderLockedByAnotherProgramIsReportedAndTheScanGoesOn) {
  inst.insert(kDados, "Medicos.DB", {Doctor("1-2", "ANA")});
  inst.insert(kDados, "Pedidos.DB", {Order("A", 7, "12.345"), Order("A", 8, "")});

  // Another program holds the orders table's write lock for the whole run.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(inst.host("C:\\VITRALON\\DADOS\\Pedidos.DB").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(other);

  const auto transcript = inst.run("invoke BotCorrigeCadMed\n");

  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  EXPECT_EQ(transcript, (std::vector<std::string>{Message(kDoneWithErrors), kClosed}));
  EXPECT_EQ(doctorsByName(), (std::vector<std::string>{"ANA|12"}));
  EXPECT_EQ(inst.dump(kDados, "Pedidos.DB", {"NPedido", "CRM"}),
            (std::vector<std::string>{"7|12.345", "8|"}));
  EXPECT_EQ(inst.readFile(kReport), ExpectedReport({}, {"  A.7  CRM: 12.345"}));
}

TEST_F(CrmCorrection, AReportThatCannotBeCreatedStopsTheCommandBeforeAnyChange) {
  inst.insert(kDados, "Medicos.DB", {Doctor("1-2", "ANA")});
  std::filesystem::create_directory(inst.host(kReport));

  const auto transcript = inst.run("invoke BotCorrigeCadMed\n");

  EXPECT_EQ(transcript,
            (std::vector<std::string>{
                ErrorEvent("EInOutError", "Não foi possível criar o arquivo c:\\vitralon\\CRMERROS.TXT."),
                kClosed}));
  EXPECT_EQ(doctorsByName(), (std::vector<std::string>{"ANA|1-2"}));
}

TEST_F(CrmCorrection, AReportThatCannotBeWrittenStopsTheCommandWithoutTheClosingMessage) {
  inst.insert(kDados, "Medicos.DB", {Doctor("1-2", "ANA")});
  std::filesystem::create_symlink("/dev/full", inst.host("C:\\VITRALON") / "CRMERROS.TXT");

  const auto transcript = inst.run("invoke BotCorrigeCadMed\n");

  EXPECT_EQ(
      transcript,
      (std::vector<std::string>{
          ErrorEvent("EInOutError", "Erro de gravação no arquivo c:\\vitralon\\CRMERROS.TXT."), kClosed}));
}

}  // namespace
}  // namespace opslocal
