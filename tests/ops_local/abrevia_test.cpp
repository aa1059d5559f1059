// Name abbreviation into the interim copies and the review that follows it,
// through the script runner.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "ops_local/installation.h"
#include "sample/layouts.h"

namespace opslocal {
namespace {

const std::string kClosed = "{\"event\":\"closed\"}";
const std::string kQuestion = "Confirma a substituição do formato original pelo novo formato ?";
const std::string kConfirmYes =
    "{\"event\":\"confirm\",\"text\":\"" + kQuestion + "\",\"answer\":\"yes\",\"queued\":true}";
const std::string kConfirmNo =
    "{\"event\":\"confirm\",\"text\":\"" + kQuestion + "\",\"answer\":\"no\",\"queued\":true}";
const std::string kDone = "Procedimento concluido.";

const std::vector<std::string> kClientView = {"Estacao", "Codigo", "Nome", "Fone"};
const std::vector<std::string> kDoctorView = {"CRM", "Especialidade", "Nome"};

const std::string kLongPhone1 = "012345678901234567890123456789-1111";
const std::string kLongPhone2 = "012345678901234567890123456789-2222";

std::vector<Row> Clients() {
  return {
      {{"Estacao", "A"},
       {"Codigo", "1"},
       {"Nome", "MARIA DA SILVA SANTOS PEREIRA"},
       {"Fone", "3333-1111"},
       {"Cidade", "Recife"},
       {"QdeFormulas", "3"},
       {"DataUltimAlteracao", "05/03/2024"},
       {"LimiteCredito", "150,5"},
       {"Obs", "cliente antiga"}},
      // Shortens to the same name with the same phone: merged into A 1.
      {{"Estacao", "A"},
       {"Codigo", "2"},
       {"Nome", "maria  da silva santos pereira"},
       {"Fone", "3333-1111"},
       {"Cidade", "Olinda"}},
      // Phones equal in their first 30 characters: merged as well.
      {{"Estacao", "B"},
       {"Codigo", "1"},
       {"Nome", "JOSE CARLOS DE OLIVEIRA SOUZA"},
       {"Fone", kLongPhone1},
       {"ValorTotal", "12,5"},
       {"DataAniversario", "01/02/1980"}},
      {{"Estacao", "B"}, {"Codigo", "2"}, {"Nome", "jose carlos de oliveira souza"}, {"Fone", kLongPhone2}},
      // Names under two characters are kept as they are.
      {{"Estacao", "B"}, {"Codigo", "3"}, {"Nome", "x"}, {"Fone", "1"}},
      {{"Estacao", "B"}, {"Codigo", "4"}, {"Fone", "2"}},
      {{"Estacao", "C"}, {"Codigo", "1"}, {"Nome", "ANA"}, {"Fone", "3"}},
  };
}

std::vector<Row> Doctors() {
  return {
      {{"CRM", "100"},
       {"Especialidade", "CLINICA"},
       {"Nome", "PAULO ROBERTO DE SOUZA LIMA"},
       {"QdeFormulas", "7"},
       {"Comissao", "2,5"}},
      // Same shortened name and CRM: merged.
      {{"CRM", "100"}, {"Especialidade", "PEDIATRIA"}, {"Nome", "paulo roberto de souza lima"}},
      // Same name, another CRM: kept.
      {{"CRM", "101"}, {"Especialidade", "CLINICA"}, {"Nome", "PAULO ROBERTO DE SOUZA LIMA"}},
      // A doctor's one-character name goes through the abbreviation too.
      {{"CRM", "200"}, {"Nome", "x"}, {"Aniv_Secretaria", "03/04/1970"}},
  };
}

class NameAbbreviation : public ::testing::Test {
 protected:
  void SetUp() override {
    inst.createAll();
    inst.insert(kDados, "Clientes.DB", Clients());
    inst.insert(kDados, "Medicos.DB", Doctors());
  }
  void writeCommandFile(const std::string& winPath) {
    std::ofstream out(inst.host(winPath), std::ios::binary);
    out << "#!/bin/sh\ntouch \"$(dirname \"$0\")/executado\"\n";
  }
  bool commandFileRan(const std::string& winDirectory) {
    for (int i = 0; i < 100; ++i) {
      if (std::filesystem::exists(inst.host(winDirectory) / "executado")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  Installation inst;
};

TEST_F(NameAbbreviation, ClientsAreCopiedShortenedAndMergedIntoTheInterimCopy) {
  // Leftovers of an earlier run are emptied first.
  inst.insert(kInter, "Clientes.DB", {{{"Estacao", "Z"}, {"Codigo", "9"}, {"Nome", "Resto"}}});

  const auto transcript = inst.run("invoke BotAbreviaNomeCli\nstate\n");

  ASSERT_EQ(transcript.size(), 2u);
  const std::string state = transcript[0];
  EXPECT_FALSE(PanelVisible(state, "PainelCG"));
  EXPECT_TRUE(PanelVisible(state, "PainelFormatCliAntigo"));
  EXPECT_TRUE(PanelVisible(state, "PainelFormatCliNovo"));
  EXPECT_FALSE(PanelVisible(state, "PainelFormatMedNovo"));
  EXPECT_FALSE(ButtonEnabled(state, "BotSair"));
  EXPECT_FALSE(ButtonEnabled(state, "BotAbreviaNomeMed"));
  EXPECT_NE(state.find("\"gauge\":{\"min\":0,\"max\":7,\"position\":7}"), std::string::npos) << state;
  EXPECT_NE(state.find("\"current\":{\"Clientes\":{\"Estacao\":\"A\",\"Codigo\":\"1\"},"
                       "\"Clientes_I\":{\"Estacao\":\"A\",\"Codigo\":\"1\"}}"),
            std::string::npos)
      << state;

  EXPECT_EQ(inst.dump(kInter, "Clientes.DB", kClientView),
            (std::vector<std::string>{"A|1|Maria da Silva S. Pereira|3333-1111",
                                      "B|1|Jose Carlos O. Souza|" + kLongPhone1, "B|3|x|1", "B|4||2",
                                      "C|1|Ana|3"}));
  // Texts, dates and numbers pass through; a null number arrives as 0, a
  // null date stays null.
  EXPECT_EQ(inst.dump(kInter, "Clientes.DB",
                      {"Cidade", "QdeFormulas", "ValorTotal", "DataUltimAlteracao", "DataAniversario",
                       "LimiteCredito", "Obs"}),
            (std::vector<std::string>{"Recife|3|0|05/03/2024||150,5|cliente antiga", "|0|12,5||01/02/1980||",
                                      "|0|0||||", "|0|0||||", "|0|0||||"}));
  // The live register is only read.
  EXPECT_EQ(inst.dump(kDados, "Clientes.DB", {"Nome"}),
            (std::vector<std::string>{"MARIA DA SILVA SANTOS PEREIRA", "maria  da silva santos pereira",
                                      "JOSE CARLOS DE OLIVEIRA SOUZA", "jose carlos de oliveira souza", "x",
                                      "", "ANA"}));
}

TEST_F(NameAbbreviation, DoctorsAreMergedOnNameAndCrmAndAOneLetterNameIsCapitalised) {
  const auto transcript = inst.run("invoke BotAbreviaNomeMed\nrow GradeMedNovos 2\nstate\n");

  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_NE(transcript[0].find("\"current\":{\"Medicos\":{\"CRM\":\"101\",\"Especialidade\":\"CLINICA\"},"
                               "\"Medicos_I\":{\"CRM\":\"101\",\"Especialidade\":\"CLINICA\"}}"),
            std::string::npos)
      << transcript[0];
  EXPECT_TRUE(PanelVisible(transcript[0], "PainelFormatMedAntigo"));
  EXPECT_TRUE(PanelVisible(transcript[0], "PainelFormatMedNovo"));
  EXPECT_FALSE(PanelVisible(transcript[0], "PainelFormatCliNovo"));
  EXPECT_EQ(inst.dump(kInter, "Medicos.DB", kDoctorView),
            (std::vector<std::string>{"100|CLINICA|Paulo Roberto S. Lima",
                                      "101|CLINICA|Paulo Roberto S. Lima", "200||X"}));
  EXPECT_EQ(inst.dump(kInter, "Medicos.DB", {"QdeFormulas", "Comissao", "ValorTotal", "Aniv_Secretaria"}),
            (std::vector<std::string>{"7|2,5|0|", "0|0|0|", "0|0|0|03/04/1970"}));
}

TEST_F(NameAbbreviation, FieldsMissingFromEitherTableAreSkippedWithoutAMessage) {
  cg::TableDef live = cg::ClientesTableDef();
  std::erase_if(live.fields, [](const cg::FieldDef& f) { return f.name == "Contato"; });
  cg::TableDef interim = cg::ClientesInterimTableDef();
  std::erase_if(interim.fields, [](const cg::FieldDef& f) { return f.name == "Cidade"; });
  inst.create(kDados, "Clientes.DB", live);
  inst.create(kInter, "Clientes.DB", interim);
  inst.insert(
      kDados, "Clientes.DB",
      {{{"Estacao", "A"}, {"Codigo", "1"}, {"Nome", "ANA LIMA"}, {"Cidade", "Recife"}, {"Rota", "R1"}}});

  const auto transcript = inst.run("invoke BotAbreviaNomeCli\n");

  EXPECT_EQ(transcript, (std::vector<std::string>{kClosed}));
  EXPECT_EQ(inst.dump(kInter, "Clientes.DB", {"Nome", "Rota", "Contato"}),
            (std::vector<std::string>{"Ana Lima|R1|"}));
}

TEST_F(NameAbbreviation, AnEmptyRegisterOpensAnEmptyReview) {
  inst.create(kDados, "Clientes.DB");
  inst.insert(kInter, "Clientes.DB", {{{"Estacao", "Z"}, {"Codigo", "9"}, {"Nome", "Resto"}}});

  const auto transcript = inst.run("invoke BotAbreviaNomeCli\nstate\n");

  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_TRUE(PanelVisible(transcript[0], "PainelFormatCliNovo"));
  EXPECT_NE(transcript[0].find("\"gauge\":{\"min\":0,\"max\":0,\"position\":0}"), std::string::npos)
      << transcript[0];
  EXPECT_NE(transcript[0].find("\"current\":{\"Clientes\":{},\"Clientes_I\":{}}"), std::string::npos)
      << transcript[0];
  EXPECT_TRUE(inst.dump(kInter, "Clientes.DB", kClientView).empty());
}

TEST_F(NameAbbreviation, TheNewFormatGridLeadsTheLiveGrid) {
  const auto transcript = inst.run(
      "invoke BotAbreviaNomeCli\nrow GradeCliNovos 5\nstate\nrow GradeCliNovos 3\nstate\n"
      "row GradeCliAntigos 2\nstate\n");

  ASSERT_EQ(transcript.size(), 4u);
  EXPECT_NE(transcript[0].find("\"current\":{\"Clientes\":{\"Estacao\":\"C\",\"Codigo\":\"1\"},"
                               "\"Clientes_I\":{\"Estacao\":\"C\",\"Codigo\":\"1\"}}"),
            std::string::npos)
      << transcript[0];
  EXPECT_NE(transcript[1].find("\"current\":{\"Clientes\":{\"Estacao\":\"B\",\"Codigo\":\"3\"},"
                               "\"Clientes_I\":{\"Estacao\":\"B\",\"Codigo\":\"3\"}}"),
            std::string::npos)
      << transcript[1];
  // Moving in the live grid leaves the new-format grid where it is.
  EXPECT_NE(transcript[2].find("\"current\":{\"Clientes\":{\"Estacao\":\"A\",\"Codigo\":\"2\"},"
                               "\"Clientes_I\":{\"Estacao\":\"B\",\"Codigo\":\"3\"}}"),
            std::string::npos)
      << transcript[2];
}

TEST_F(NameAbbreviation, KeepingTheOriginalEmptiesTheInterimCopyAndEnablesTheCommands) {
  const auto transcript = inst.run("invoke BotAbreviaNomeCli\nkey Escape\nstate\n");

  ASSERT_EQ(transcript.size(), 2u);
  const std::string state = transcript[0];
  for (const char* panel : {"PainelFormatCliAntigo", "PainelFormatCliNovo", "PainelAguarde", "PainelCG"})
    EXPECT_FALSE(PanelVisible(state, panel)) << panel;
  EXPECT_TRUE(ButtonEnabled(state, "BotSair"));
  EXPECT_TRUE(ButtonEnabled(state, "BotAbreviaNomeCli"));
  EXPECT_NE(state.find("\"current\":{}"), std::string::npos) << state;
  EXPECT_TRUE(inst.dump(kInter, "Clientes.DB", kClientView).empty());
  EXPECT_EQ(inst.dump(kDados, "Clientes.DB", {"Nome"}).size(), 7u);

  EXPECT_EQ(inst.run("invoke BotAbreviaNomeMed\nclick BotCancelFormatMed\n"),
            (std::vector<std::string>{kClosed}));
  EXPECT_TRUE(inst.dump(kInter, "Medicos.DB", kDoctorView).empty());
}

TEST_F(NameAbbreviation, ConfirmingStartsTheCommandFileOfTheMainDirectory) {
  writeCommandFile("C:\\VITRALON\\FormatCli.bat");

  const auto transcript =
      inst.run("invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nstate\n");

  ASSERT_EQ(transcript.size(), 5u);
  EXPECT_EQ(transcript[0], kConfirmYes);
  EXPECT_EQ(transcript[1], "{\"event\":\"exec\",\"command\":\"C:\\\\VITRALON\\\\FormatCli.bat \"}");
  EXPECT_EQ(transcript[2], Message(kDone));
  EXPECT_FALSE(PanelVisible(transcript[3], "PainelFormatCliNovo"));
  EXPECT_TRUE(ButtonEnabled(transcript[3], "BotSair"));
  EXPECT_TRUE(ButtonEnabled(transcript[3], "BotCancelFormatCli"));
  EXPECT_TRUE(ButtonEnabled(transcript[3], "BotConfirmaFormatCli"));
  EXPECT_TRUE(commandFileRan("C:\\VITRALON"));
  // The copy is left for the command file.
  EXPECT_EQ(inst.dump(kInter, "Clientes.DB", kClientView).size(), 5u);
}

TEST_F(NameAbbreviation, AnsweringNoReplacesNothingAndKeepsTheInterimCopy) {
  writeCommandFile("C:\\VITRALON\\FormatCli.bat");
  writeCommandFile("C:\\VITRALON\\FormatMed.bat");

  EXPECT_EQ(inst.run("invoke BotAbreviaNomeCli\nanswer no\nclick BotConfirmaFormatCli\n"),
            (std::vector<std::string>{kConfirmNo, Message(kDone), kClosed}));
  EXPECT_EQ(inst.dump(kInter, "Clientes.DB", kClientView).size(), 5u);

  // The doctor review ends without a message.
  const auto transcript =
      inst.run("invoke BotAbreviaNomeMed\nanswer no\nclick BotConfirmaFormatMed\nstate\n");
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0], kConfirmNo);
  EXPECT_TRUE(ButtonEnabled(transcript[1], "BotSair"));
  EXPECT_EQ(inst.dump(kInter, "Medicos.DB", kDoctorView).size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(inst.host("C:\\VITRALON") / "executado"));
}

TEST_F(NameAbbreviation, AMissingCommandFileIsReportedByNameAndTheInterimCopyIsKept) {
  const auto clients = inst.run("invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nstate\n");
  ASSERT_EQ(clients.size(), 4u);
  EXPECT_EQ(clients[0], kConfirmYes);
  EXPECT_EQ(
      clients[1],
      Message("O arquivo de comandos C:\\VITRALON\\FormatCli.bat não foi encontrado.\rO formato original foi "
              "mantido."));
  EXPECT_TRUE(ButtonEnabled(clients[2], "BotSair"));
  EXPECT_FALSE(PanelVisible(clients[2], "PainelFormatCliNovo"));
  EXPECT_EQ(inst.dump(kInter, "Clientes.DB", kClientView).size(), 5u);

  const auto doctors = inst.run("invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\n");
  EXPECT_EQ(doctors,
            (std::vector<std::string>{kConfirmYes,
                                      Message("O arquivo de comandos C:\\VITRALON\\FormatMed.bat não foi "
                                              "encontrado.\rO formato original foi mantido."),
                                      kClosed}));
}

// A command file that fails says why on its standard error: the message
// shows its first lines under how it ended (its standard output is not
// shown), and the interim copy is kept.
TEST_F(NameAbbreviation, AFailingCommandFileShowsTheStartOfItsErrorOutput) {
  {
    std::ofstream out(inst.host("C:\\VITRALON\\FormatCli.bat"), std::ios::binary);
    out << "#!/bin/sh\n"
           "echo 'copiando' \n"
           "echo 'FormatCli.bat: 7: sqlite3: not found' >&2\n"
           "printf '\\n  \\t\\n' >&2\n"
           "echo 'tabela em uso: Clientes.DB\tação  ' >&2\n"
           "for i in 3 4 5 6 7; do echo \"linha $i\" >&2; done\n"
           "exit 1\n";
  }

  const auto transcript = inst.run("invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\n");

  EXPECT_EQ(
      transcript,
      (std::vector<std::string>{
          kConfirmYes, "{\"event\":\"exec\",\"command\":\"C:\\\\VITRALON\\\\FormatCli.bat \"}",
          Message("A substituição do formato original pelo novo falhou: o arquivo de comandos "
                  "C:\\VITRALON\\FormatCli.bat terminou com o código 1.\rO formato original foi mantido."
                  "\rSaída de erro do arquivo de comandos:\rFormatCli.bat: 7: sqlite3: not found"
                  "\rtabela em uso: Clientes.DB ação\rlinha 3\rlinha 4\rlinha 5"),
          kClosed}));
  EXPECT_EQ(inst.dump(kInter, "Clientes.DB", kClientView).size(), 5u);
}

TEST_F(NameAbbreviation, TheMainDirectoryIsCutToFiftyCharacters) {
  const std::string directory = "C:\\VITRALON\\" + std::string(37, 'S') + "\\";  // 50 characters
  ASSERT_EQ(directory.size(), 50u);
  std::filesystem::create_directories(inst.host(directory));
  writeCommandFile(directory + "FormatMed.bat");
  inst.setMainDirectory(directory + "SOBRA\\");

  const auto transcript = inst.run("invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\n");

  EXPECT_EQ(transcript, (std::vector<std::string>{kConfirmYes,
                                                  "{\"event\":\"exec\",\"command\":\"C:\\\\VITRALON\\\\" +
                                                      std::string(37, 'S') + "\\\\FormatMed.bat \"}",
                                                  kClosed}));
  EXPECT_TRUE(commandFileRan(directory));
}

TEST_F(NameAbbreviation, AnEngineErrorStopsTheCopyAndTheWindowIsPutBackInOrder) {
  // An interim copy without its (Nome, Fone) index.
  inst.create(kInter, "Clientes.DB", cg::ClientesTableDef());

  const auto transcript = inst.run("invoke BotAbreviaNomeCli\nstate\n");

  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0].rfind("{\"event\":\"error\",\"class\":\"EIndexNotFound\"", 0), 0u) << transcript[0];
  EXPECT_NE(transcript[0].find("NomeFone"), std::string::npos) << transcript[0];
  EXPECT_FALSE(PanelVisible(transcript[1], "PainelCG"));
  EXPECT_FALSE(PanelVisible(transcript[1], "PainelFormatCliNovo"));
  EXPECT_TRUE(ButtonEnabled(transcript[1], "BotSair"));
  EXPECT_TRUE(ButtonEnabled(transcript[1], "BotAbreviaNomeCli"));
  EXPECT_EQ(inst.dump(kDados, "Clientes.DB", {"Nome"}).size(), 7u);
}

}  // namespace
}  // namespace opslocal
