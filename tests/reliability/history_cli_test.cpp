// The journal's command-line options as the technician runs them, the
// program as a child process on a sample installation: the list of runs,
// the report of a run, and its undo (refused while another module holds
// the marker, refused without a terminal unless --confirmar, then every table
// back byte for byte, a row changed since kept and listed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <set>

#include "reliability/child.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;
using testsupport::DumpInstallation;

std::string dated(const std::string& text) {
  return std::regex_replace(text, std::regex("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d"), "DATE");
}

// `text` matched literally inside a regular expression.
std::string literal(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// The Windows path of a table file of the installation ("DADOS/Medicos.DB").
std::string windowsPath(const std::string& file) {
  std::string path = "C:\\VITRALON\\" + file;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string rows(int64_t n) { return std::to_string(n) + (n == 1 ? " registro" : " registros"); }

class HistoryOptions : public ::testing::Test {
 protected:
  void SetUp() override { CreateSample(drive_); }
  ChildResult program(const std::vector<std::string>& args) { return RunProgram(drive_, args); }

  testsupport::TempDir work_;
  fs::path drive_ = work_.path() / "c";
};

TEST_F(HistoryOptions, ListReportAndUndoOfARepair) {
  const auto before = DumpInstallation(drive_);
  ChildResult r = program({"--historico"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, "Nenhuma execução no histórico.\n");

  r = RunScript(drive_, "invoke BotCorrigeCadMed\n");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const auto repaired = DumpInstallation(drive_);
  const auto diff = testsupport::Difference(before, repaired);
  ASSERT_GE(diff.fields.size(), 2u);
  // Rows changed per table file, as the list names them.
  std::map<std::string, std::set<int64_t>> perFile;
  for (const auto& f : diff.fields) perFile[f.file].insert(f.rowid);
  // The table files as the program names them (the letter case of a file
  // name is the host's).
  std::string tables;
  for (const auto& [file, changed] : perFile) {
    const size_t n = changed.size();
    tables += "  " + literal(windowsPath(file)) + ": " + std::to_string(n) +
              (n == 1 ? " alteração\n" : " alterações\n");
  }
  r = program({"--historico"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(std::regex_match(
      dated(r.output),
      std::regex("Execução 1: Corrigir CRM \\(BotCorrigeCadMed\\)\n  início: DATE  fim: DATE\n"
                 "  resultado: concluída\n" +
                     tables,
                 std::regex::icase)))
      << r.output;

  // The report: to a file named, and by default in the current folder.
  const fs::path named = work_.path() / "crm.csv";
  r = program({"--relatorio", "1", named.string()});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, named.string() + "\n");
  const std::string csv = ReadFile(named);
  const std::string header = "\xEF\xBB\xBFTabela;Chave;Operação;Campo;Antes;Depois\r\n";
  EXPECT_EQ(csv.substr(0, header.size()), header);
  size_t lines = 0;
  for (char c : csv) lines += c == '\n';
  EXPECT_EQ(lines, diff.fields.size() + 1);  // one line per changed field
  {
    const fs::path cwd = fs::current_path();
    fs::current_path(work_.path());
    r = program({"--relatorio", "1"});
    fs::current_path(cwd);
  }
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, (work_.path() / "Historico_1.csv").string() + "\n");
  EXPECT_EQ(ReadFile(work_.path() / "Historico_1.csv"), csv);
  // An existing file only with --substituir; a table file or the journal,
  // never (the CSV would destroy them).
  r = program({"--relatorio", "1", named.string()});
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_EQ(r.output, "consistgeral: O arquivo " + named.string() +
                          " já existe: o relatório não foi gravado. Para gravar sobre ele: --substituir.\n");
  WriteFile(named, "x");
  r = program({"--relatorio", "1", named.string(), "--substituir"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadFile(named), csv);
  for (const fs::path& precious :
       {drive_ / "VITRALON" / "DADOS" / "Clientes.DB", drive_ / "VITRALON" / "CONSISTGERAL" / "Historico.db",
        drive_ / "VITRALON" / "CONSISTGERAL" / "Historico.db-wal"}) {
    const bool exists = fs::exists(precious);
    const std::string bytes = exists ? ReadFile(precious) : "";
    for (bool replace : {false, true}) {
      std::vector<std::string> args = {"--relatorio", "1", precious.string()};
      if (replace) args.push_back("--substituir");
      r = program(args);
      EXPECT_EQ(r.exitCode, 1) << r.output;
      if (exists) {
        EXPECT_EQ(r.output, "consistgeral: O arquivo " + precious.string() +
                                " é uma tabela, uma cópia ou o histórico: o relatório nunca é gravado sobre "
                                "ele.\n");
      }
      EXPECT_EQ(exists ? ReadFile(precious) : "", bytes) << precious;
    }
  }
  EXPECT_TRUE(DumpInstallation(drive_) == repaired);
  r = program({"--relatorio", "9"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "consistgeral: não há execução 9 no histórico.\n");
  for (const char* bad : {"0", "x", "-1"}) {
    r = program({"--relatorio", bad});
    EXPECT_EQ(r.exitCode, 2) << bad;
  }

  // Undo: without a terminal only with --confirmar; never while another module
  // holds the marker.
  r = program({"--desfazer", "1"});
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_EQ(r.output, "consistgeral: --desfazer sem terminal para a pergunta: confirme com --confirmar.\n");
  // The confirmation is no word that reads as "simulate" beside --simular.
  r = program({"--desfazer", "1", "--sim"});
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_EQ(r.output.substr(0, r.output.find('\n') + 1),
            "consistgeral: --sim não existe mais: para confirmar o --desfazer sem perguntar, use --confirmar "
            "(para simular, --simular)\n");
  EXPECT_TRUE(DumpInstallation(drive_) == repaired);
  const fs::path marker = drive_ / "VITRALON" / "Em_Uso.txt";
  {
    WriteFile(marker, "01/01/2020 00:00:00\r\n");
    const int fd = ::open(marker.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    r = program({"--desfazer", "1", "--confirmar"});
    ::close(fd);
  }
  EXPECT_EQ(r.exitCode, 3) << r.output;
  EXPECT_EQ(r.output,
            "consistgeral: Você tentou executar mais de um módulo do VITRALON ao mesmo tempo.\n"
            "Este sistema foi projetado para executar somente um módulo de cada \n"
            "vez no mesmo computador. Este módulo será finalizado.\n");
  EXPECT_EQ(ReadFile(marker), "01/01/2020 00:00:00\r\n");  // the other module's marker stays
  fs::remove(marker);
  EXPECT_TRUE(DumpInstallation(drive_) == repaired);

  // A row changed since the run is kept as it is and listed; the rest back.
  // An order's field if the run changed one (no key field), else the first.
  auto pick = std::find_if(diff.fields.begin(), diff.fields.end(), [](const testsupport::FieldChange& f) {
    return f.file.find("edidos") != std::string::npos;
  });
  const auto& kept = pick != diff.fields.end() ? *pick : diff.fields.front();
  ASSERT_EQ(kept.before[0], 'T');
  execOn(drive_ / "VITRALON" / kept.file, "UPDATE \"" + kept.table + "\" SET \"" + kept.column +
                                              "\" = 'OUTRO' WHERE rowid = " + std::to_string(kept.rowid));
  r = program({"--desfazer", "1", "--confirmar"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const int64_t k = diff.rowsChanged;
  const std::regex expected(
      "A execução 1 \\(Corrigir CRM, DATE\\) será desfeita: " + rows(k) +
          " serão restaurados\\.\n"
          "A execução 1 foi desfeita \\(execução 2\\)\\.\n"
          "Restaurados: " +
          rows(k - 1) +
          "\n"
          "Já como antes: 0 registros\n"
          "Conflitos \\(alterados depois da execução, mantidos como estão\\): 1 registro\n" +
          literal(windowsPath(kept.file)) + " \\| .* \\| alteração \\| " + literal(kept.column) + ": " +
          literal(kept.before.substr(1)) + " -> " + literal(kept.after.substr(1)) + "\n",
      std::regex::icase);
  EXPECT_TRUE(std::regex_match(dated(r.output), expected)) << r.output;
  EXPECT_FALSE(fs::exists(marker));  // taken for the undo, and given back
  auto now = DumpInstallation(drive_);
  // Put the conflicting field back as it was before the run: everything
  // else is as before the run already.
  auto& row = now.at(kept.file).at(kept.table).rows.at(kept.rowid);
  const auto& columns = now.at(kept.file).at(kept.table).columns;
  const size_t at = std::find(columns.begin(), columns.end(), kept.column) - columns.begin();
  ASSERT_LT(at, row.size());
  EXPECT_EQ(row[at], "TOUTRO");
  row[at] = kept.before;
  EXPECT_TRUE(now == before);

  r = program({"--historico"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string out = dated(r.output);
  EXPECT_NE(out.find("  resultado: concluída (desfeita pela execução 2)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nExecução 2: Desfazer a execução 1 (Desfazer)\n  início: DATE  fim: DATE\n"
                     "  resultado: concluída (desfaz a execução 1)\n"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace reliability
