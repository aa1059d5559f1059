// The journal as the window and the runner use it, on the sample
// installation: every command a run with its outcome, the history panel's
// lists, the undo from the panel putting every table back byte for byte,
// and no command at all when the journal cannot be opened.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/cli/runner.h"
#include "platform/clock.h"
#include "platform/drive.h"
#include "sample/sample.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"

namespace cg {
namespace {

namespace fs = std::filesystem;
using testsupport::DumpInstallation;

// A line with every date-time "dd/mm/yyyy hh:nn:ss" written as DATE.
std::string withoutStamps(const std::string& line) {
  const std::string shape = "00/00/0000 00:00:00";
  std::string out;
  for (size_t i = 0; i < line.size();) {
    bool stamp = i + shape.size() <= line.size();
    for (size_t k = 0; stamp && k < shape.size(); ++k)
      stamp = shape[k] == '0' ? std::isdigit(static_cast<unsigned char>(line[i + k])) != 0
                              : line[i + k] == shape[k];
    if (stamp) {
      out += "DATE";
      i += shape.size();
    } else {
      out += line[i++];
    }
  }
  return out;
}

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clock::reset();
    DriveC::setRoot(dir_.path() / "c");
    CreateSample("small", false);
  }
  void TearDown() override { Clock::reset(); }

  // The transcript lines, with every date-time written as DATE.
  std::vector<std::string> run(const std::string& script) {
    std::istringstream in(script);
    std::ostringstream out, err;
    EXPECT_EQ(RunScript(in, out, err), 0) << err.str();
    std::vector<std::string> lines;
    std::istringstream t(out.str());
    for (std::string l; std::getline(t, l);) lines.push_back(withoutStamps(l));
    return lines;
  }

  testsupport::TempDir dir_;
};

// The changes array of a history record. (Without std::regex: its
// recursion overflows the stack on a long line.)
std::string changesOf(const std::string& history) {
  const std::string open = "\"changes\":[", close = "],\"undo\"";
  const size_t from = history.find(open), to = history.rfind(close);
  if (from == std::string::npos || to == std::string::npos || to < from + open.size()) return "<none>";
  return history.substr(from + open.size(), to - from - open.size());
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string rows(int64_t n) { return std::to_string(n) + (n == 1 ? " registro" : " registros"); }

TEST_F(HistoryTest, ARepairIsARunThePanelListsItsChangesAndItsUndoPutsEveryTableBack) {
  const auto before = DumpInstallation(DriveC::root());
  const auto first = run("invoke BotCorrigeCadMed\nclick BotSair\n");
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].rfind("{\"event\":\"message\",\"text\":\"Procedimento conclu", 0), 0u) << first[0];
  const auto repaired = DumpInstallation(DriveC::root());
  const auto diff = testsupport::Difference(before, repaired);
  ASSERT_GT(diff.rowsChanged, 0);
  const int64_t k = diff.rowsChanged;

  const auto t = run(
      "click BotHistorico\nhistory\nselect 7\nanswer yes\nclick BotDesfazer\nhistory\nkey Escape\nhistory\n"
      "select 1\n");
  ASSERT_EQ(t.size(), 8u);
  const std::string runLine = "\"1 - DATE - Corrigir CRM - concluída - " + rows(k);
  // Exit is no command: one run, chosen when the panel opens.
  EXPECT_EQ(
      t[0].rfind("{\"event\":\"history\",\"open\":true,\"runs\":[" + runLine + "\"],\"selected\":1,", 0), 0u)
      << t[0];
  EXPECT_NE(t[0].find(",\"undo\":true}"), std::string::npos) << t[0];
  // One line per changed field, each with its values before and after.
  const std::string changes = changesOf(t[0]);
  EXPECT_EQ(occurrences(changes, " | alteração | "), diff.fields.size()) << changes;
  for (const auto& f : diff.fields) {
    ASSERT_EQ(f.before[0], 'T');
    EXPECT_NE(changes.find(" | alteração | " + f.column + ": " + f.before.substr(1) + " -> " +
                           f.after.substr(1) + "\""),
              std::string::npos)
        << f.file << " " << f.rowid << " " << f.before << " -> " << f.after;
  }
  EXPECT_EQ(t[1], "{\"event\":\"ignored\",\"action\":\"select 7\",\"why\":\"no run 7\"}");
  EXPECT_EQ(t[2], "{\"event\":\"confirm\",\"text\":\"Desfazer a execução 1 (Corrigir CRM, DATE)?\\r" +
                      rows(k) + " serão restaurados.\",\"answer\":\"yes\",\"queued\":true}");
  EXPECT_EQ(
      t[3],
      "{\"event\":\"message\",\"text\":\"A execução 1 foi desfeita (execução 2).\\rRestaurados: " + rows(k) +
          "\\rJá como antes: 0 registros\\rConflitos (alterados depois da execução, mantidos como "
          "estão): 0 registros\"}");
  // The undo is a run of its own, chosen now, with the reverse changes.
  EXPECT_EQ(t[4].rfind("{\"event\":\"history\",\"open\":true,\"runs\":[\"2 - DATE - Desfazer a execução 1 - "
                       "concluída - " +
                           rows(k) + "\"," + runLine + " (desfeita pela execução 2)\"],\"selected\":2,",
                       0),
            0u)
      << t[4];
  const std::string undone = changesOf(t[4]);
  EXPECT_EQ(occurrences(undone, " | alteração | "), diff.fields.size()) << undone;
  for (const auto& f : diff.fields)
    EXPECT_NE(undone.find(f.column + ": " + f.after.substr(1) + " -> " + f.before.substr(1) + "\""),
              std::string::npos)
        << f.rowid;
  // Escape closes the panel; a run cannot be chosen in a closed panel.
  EXPECT_EQ(
      t[5],
      "{\"event\":\"history\",\"open\":false,\"runs\":[],\"selected\":null,\"changes\":[],\"undo\":false}");
  EXPECT_EQ(t[6], "{\"event\":\"ignored\",\"action\":\"select 1\",\"why\":\"history closed\"}");
  EXPECT_EQ(t[7], "{\"event\":\"closed\"}");

  EXPECT_TRUE(DumpInstallation(DriveC::root()) == before);
}

TEST_F(HistoryTest, AFailedRunKeepsItsErrorAndARunThatChangesNothingHasNoRows) {
  fs::remove(DriveC::resolve("C:\\VITRALON\\DADOS\\Medicos.DB"));
  const auto t = run("invoke BotCorrigeCadMed\ninvoke BotCancelFormatCli\nclick BotHistorico\nhistory\n");
  ASSERT_EQ(t.size(), 3u);
  const std::string head = "{\"event\":\"error\",\"class\":\"", textAt = "\",\"text\":\"";
  ASSERT_EQ(t[0].rfind(head, 0), 0u) << t[0];
  const size_t text = t[0].find(textAt);
  ASSERT_NE(text, std::string::npos) << t[0];
  ASSERT_EQ(t[0].substr(t[0].size() - 2), "\"}") << t[0];
  const std::string error = t[0].substr(text + textAt.size(), t[0].size() - 2 - text - textAt.size());
  EXPECT_EQ(t[1].rfind("{\"event\":\"history\",\"open\":true,\"runs\":["
                       "\"2 - DATE - Manter Formato Original - concluída - 0 registros\","
                       "\"1 - DATE - Corrigir CRM - parada por erro: " +
                           error +
                           " - 0 registros\"],\"selected\":2,"
                           "\"changes\":[\"Nenhum registro foi alterado nesta execução.\"],\"undo\":false}",
                       0),
            0u)
      << t[1];
  EXPECT_EQ(t[2], "{\"event\":\"closed\"}");
}

TEST_F(HistoryTest, WithoutAJournalNoCommandRuns) {
  // A file where the journal's folder goes: the journal cannot be made.
  { std::ofstream(DriveC::resolve("C:\\VITRALON") / "CONSISTGERAL") << "x"; }
  const auto before = DumpInstallation(DriveC::root());
  const auto t = run("invoke BotCorrigeCadMed\nclick BotHistorico\nstate\n");
  ASSERT_EQ(t.size(), 5u);
  const std::string opening =
      "{\"event\":\"error\",\"class\":\"EJournalError\",\"text\":\"O histórico das "
      "alterações (C:\\\\VITRALON\\\\CONSISTGERAL\\\\Historico.db) não pôde ser aberto: ";
  const std::string closing = "\\rNenhum comando é executado sem o seu registro.\"}";
  EXPECT_EQ(t[0].rfind(opening, 0), 0u) << t[0];
  EXPECT_EQ(t[0].substr(t[0].size() - closing.size()), closing) << t[0];
  // The command and the panel stop with the same error; nothing changed.
  EXPECT_EQ(t[1], t[0]);
  EXPECT_EQ(t[2], t[0]);
  EXPECT_EQ(t[3].rfind("{\"event\":\"state\"", 0), 0u);
  EXPECT_EQ(t[4], "{\"event\":\"closed\"}");
  EXPECT_TRUE(DumpInstallation(DriveC::root()) == before);
}

TEST_F(HistoryTest, TheConfirmedReviewKeepsACopyOfTheRegisterThatItsUndoPutsBack) {
  const auto before = DumpInstallation(DriveC::root());
  const auto t =
      run("invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nclick BotHistorico\nhistory\n"
          "answer yes\nclick BotDesfazer\n");
  ASSERT_EQ(t.size(), 7u);
  // The confirmation reads as ever.
  EXPECT_EQ(t[0],
            "{\"event\":\"confirm\",\"text\":\"Confirma a substituição do formato original pelo novo formato "
            "?\",\"answer\":\"yes\",\"queued\":true}");
  EXPECT_EQ(t[1], "{\"event\":\"exec\",\"command\":\"C:\\\\VITRALON\\\\FormatCli.bat \"}");
  EXPECT_EQ(t[2], "{\"event\":\"message\",\"text\":\"Procedimento concluido.\"}");
  EXPECT_EQ(
      t[3].rfind("{\"event\":\"history\",\"open\":true,\"runs\":[\"2 - DATE - Confirmar novo Formato - "
                 "concluída - cadastro substituído\",\"1 - DATE - Abreviar Nomes Clientes - concluída - ",
                 0),
      0u)
      << t[3];
  EXPECT_NE(t[3].find("\"selected\":2,\"changes\":[\"C:\\\\VITRALON\\\\DADOS\\\\Clientes.DB | substituição | "
                      "cópia: C:\\\\VITRALON\\\\CONSISTGERAL\\\\"),
            std::string::npos)
      << t[3];
  // The register was replaced by the reviewed copy ...
  EXPECT_EQ(t[4],
            "{\"event\":\"confirm\",\"text\":\"Desfazer a execução 2 (Confirmar novo Formato, DATE)?\\rO "
            "cadastro substituído será reposto da sua cópia.\",\"answer\":\"yes\",\"queued\":true}");
  EXPECT_EQ(t[5],
            "{\"event\":\"message\",\"text\":\"A execução 2 foi desfeita (execução 3).\\rRestaurados: 1 "
            "registro\\rJá como antes: 0 registros\\rConflitos (alterados depois da execução, mantidos como "
            "estão): 0 registros\"}");
  // ... and is back as it was, byte for byte.
  const auto now = DumpInstallation(DriveC::root());
  EXPECT_TRUE(now.at("DADOS/Clientes.DB") == before.at("DADOS/Clientes.DB"));
  EXPECT_FALSE(now.at("INTER/Clientes.DB") == before.at("INTER/Clientes.DB"));  // the reviewed copy stays
}

TEST_F(HistoryTest, ThePanelsReportAsksBeforeWritingOverAFileAndNeverWritesOverADatabase) {
  run("invoke BotCorrigeCadMed\n");
  const fs::path report = DriveC::resolve("C:\\VITRALON\\CONSISTGERAL\\Historico_1.csv");
  const auto t = run("click BotHistorico\nclick BotRelatorio\nclick BotRelatorio\n");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0],
            "{\"event\":\"message\",\"text\":\"O relatório da execução 1 foi gravado em "
            "C:\\\\VITRALON\\\\CONSISTGERAL\\\\Historico_1.csv.\"}");
  // Written before: asked, and kept on No.
  EXPECT_EQ(t[1],
            "{\"event\":\"confirm\",\"text\":\"O arquivo C:\\\\VITRALON\\\\CONSISTGERAL\\\\Historico_1.csv "
            "já existe. Gravar o relatório sobre ele?\",\"answer\":\"no\",\"queued\":false}");
  { std::ofstream(report, std::ios::binary | std::ios::trunc) << "meu arquivo"; }
  const auto again = run("click BotHistorico\nanswer yes\nclick BotRelatorio\n");
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[1].rfind("{\"event\":\"message\",\"text\":\"O relatório da execução 1 foi gravado", 0), 0u)
      << again[1];
  std::ifstream in(report, std::ios::binary);
  std::string head(3, '\0');
  in.read(head.data(), 3);
  EXPECT_EQ(head, "\xEF\xBB\xBF");
  // A table file in the report's place is never written over.
  fs::remove(report);
  fs::copy_file(DriveC::resolve("C:\\VITRALON\\DADOS\\Medicos.DB"), report);
  const auto before = DumpInstallation(DriveC::root());
  const auto refused = run("click BotHistorico\nanswer yes\nclick BotRelatorio\n");
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_NE(refused[0].find("é uma tabela, uma cópia ou o histórico: o relatório nunca é gravado sobre ele."),
            std::string::npos)
      << refused[0];
  EXPECT_TRUE(DumpInstallation(DriveC::root()) == before);
}

TEST_F(HistoryTest, ACommandFileThatFailedIsAFailedRunWithNothingToUndo) {
  {
    std::ofstream bat(DriveC::resolve("C:\\VITRALON\\FormatCli.bat"), std::ios::trunc);
    bat << "#!/bin/sh\nexit 1\n";
  }
  const auto before = DumpInstallation(DriveC::root());
  const auto t =
      run("invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nclick BotHistorico\nhistory\n");
  ASSERT_EQ(t.size(), 5u);
  const std::string failure =
      "A substituição do formato original pelo novo falhou: o arquivo de comandos "
      "C:\\\\VITRALON\\\\FormatCli.bat "
      "terminou com o código 1.";
  EXPECT_EQ(t[2].rfind("{\"event\":\"message\",\"text\":\"" + failure, 0), 0u) << t[2];
  EXPECT_EQ(t[3].rfind("{\"event\":\"history\",\"open\":true,\"runs\":[\"2 - DATE - Confirmar novo Formato - "
                       "parada por erro: " +
                           failure,
                       0),
            0u)
      << t[3];
  EXPECT_NE(t[3].find(" - 0 registros\",\"1 - DATE - Abreviar Nomes Clientes - concluída - "),
            std::string::npos)
      << t[3];
  EXPECT_NE(
      t[3].find(
          "\"selected\":2,\"changes\":[\"Nenhum registro foi alterado nesta execução.\"],\"undo\":false}"),
      std::string::npos)
      << t[3];
  EXPECT_FALSE(fs::exists(DriveC::resolve("C:\\VITRALON\\CONSISTGERAL\\Copias\\R2-1.DB")));
  const auto now = DumpInstallation(DriveC::root());
  EXPECT_TRUE(now.at("DADOS/Clientes.DB") == before.at("DADOS/Clientes.DB"));
}

TEST_F(HistoryTest, ARunIsNamedByItsCommandAndOptionAndOpeningOrClosingThePanelIsNoRun) {
  const auto t =
      run("invoke BotCorrecaoComp\nclick BitBtn4\ninvoke BotCorrecaoComp\ncheck RadioButton4\nclick BitBtn3\n"
          "click BotHistorico\nhistory\n");
  ASSERT_EQ(t.size(), 2u);
  std::string history;
  for (const std::string& line : t)
    if (line.rfind("{\"event\":\"history\"", 0) == 0) history = line;
  // One run: the correction with its option, by its command's caption.
  EXPECT_EQ(
      history.rfind("{\"event\":\"history\",\"open\":true,\"runs\":[\"1 - DATE - Corrigir Cad. Componentes: "
                    "Corrigir Unidades do Cad. Componentes - concluída - ",
                    0),
      0u)
      << history;
  EXPECT_EQ(history.find("\"2 - "), std::string::npos) << history;
  EXPECT_EQ(history.find("&"), std::string::npos) << history;
}

TEST_F(HistoryTest, TheUndoQuestionSaysWhatWillHappenToARunUndoneBefore) {
  run("invoke BotCorrigeCadMed\n");
  const auto t =
      run("click BotHistorico\nanswer yes\nclick BotDesfazer\nselect 1\nanswer no\nclick BotDesfazer\n");
  ASSERT_EQ(t.size(), 4u);  // question, summary, question, closed
  EXPECT_EQ(
      t[2].rfind("{\"event\":\"confirm\",\"text\":\"Desfazer a execução 1 (Corrigir CRM, DATE)?\\rEla já foi "
                 "desfeita pela execução 2: só o que estiver de novo como ela deixou será restaurado (no "
                 "máximo ",
                 0),
      0u)
      << t[2];
}

}  // namespace
}  // namespace cg
