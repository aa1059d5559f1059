// The name abbreviation and its review on the sample installation, with the
// mistakes an installation can carry: aliases that make the interim copy and
// the live register one file, an interim copy whose layout differs from the
// live table, a confirmation of a review that was never built, another
// program holding the live table while it is replaced, a main folder with a
// blank. Each ends in one clear message and leaves the live register as it
// was (or, for the folder with a blank, replaces it as asked).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "app/cli/json.h"
#include "child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

std::string sameFile(const std::string& interim, const std::string& live) {
  return "A cópia provisória " + interim + " (VTRNINTER) e o cadastro " + live +
         " (VTRNDADOS) são o mesmo arquivo. Verifique os aliases em C:\\platform.ini. Nada foi apagado.";
}

class Revisao : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(drive_);
    CreateSample(drive_);
  }
  fs::path file(const std::string& relative) const { return drive_ / relative; }
  void writeAliases(const std::string& dados, const std::string& inter) {
    WriteFile(file("platform.ini"),
              "[aliases]\nVTRNDADOS = " + dados + "\nVTRNINTER = " + inter +
                  "\nVTRNARQM = C:\\VITRALON\\ARQMORTO\\\n[sql]\ntransport = embedded\n");
  }
  // Every table but those `changing` as before.
  void expectTablesAsBefore(const std::map<std::string, TableImage>& before,
                            const std::vector<std::string>& changing = {}) {
    const auto after = ImageOfTables(drive_);
    for (const auto& [name, table] : before) {
      if (std::find(changing.begin(), changing.end(), name) != changing.end()) continue;
      EXPECT_EQ(after.at(name).opens, table.opens) << name;
      EXPECT_TRUE(after.at(name).rows == table.rows) << name << " changed";
    }
  }
  // Runs the script: exactly the errors and messages given, no process
  // started, the window in order, every table as before.
  void expectRefused(const std::string& script, const std::vector<std::string>& errors,
                     const std::vector<std::string>& messages = {}) {
    const auto before = ImageOfTables(drive_);
    ChildResult r = RunScript(drive_, script);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(EventLines(r.output, "error"), errors) << r.output;
    EXPECT_EQ(EventLines(r.output, "message"), messages) << r.output;
    EXPECT_TRUE(EventLines(r.output, "exec").empty()) << r.output;
    ExpectWindowInOrder(r.output, true);
    expectTablesAsBefore(before);
  }
  testsupport::TempDir work_;
  fs::path drive_ = work_.path() / "c";
};

// The interim copy under the live register's folder, the live register
// under the interim folder, in other letters, and through a link: the
// abbreviation used to empty the live register (300 clients, 150 doctors)
// before its index error showed, or the confirmation replaced it with the
// interim copy just emptied.
TEST_F(Revisao, AliasesThatMakeTheCopyTheLiveTableEmptyNothing) {
  writeAliases("C:\\VITRALON\\DADOS", "C:\\VITRALON\\DADOS\\");
  expectRefused("state\ninvoke BotAbreviaNomeCli\nstate\n",
                {errorEvent("EDBEngineError", sameFile("C:\\VITRALON\\DADOS\\Clientes.DB",
                                                       "C:\\VITRALON\\DADOS\\Clientes.DB"))});
  expectRefused("state\ninvoke BotAbreviaNomeMed\nstate\n",
                {errorEvent("EDBEngineError",
                            sameFile("C:\\VITRALON\\DADOS\\Medicos.DB", "C:\\VITRALON\\DADOS\\Medicos.DB"))});

  writeAliases("c:\\vitralon\\inter\\", "C:\\VITRALON\\INTER");
  expectRefused("state\ninvoke BotAbreviaNomeCli\nstate\n",
                {errorEvent("EDBEngineError", sameFile("C:\\VITRALON\\INTER\\Clientes.DB",
                                                       "c:\\vitralon\\inter\\Clientes.DB"))});

  fs::create_directory_symlink(file("VITRALON/DADOS"), file("VITRALON/ESPELHO"));
  writeAliases("C:\\VITRALON\\DADOS", "C:\\VITRALON\\ESPELHO");
  expectRefused("state\ninvoke BotAbreviaNomeMed\nstate\n",
                {errorEvent("EDBEngineError", sameFile("C:\\VITRALON\\ESPELHO\\Medicos.DB",
                                                       "C:\\VITRALON\\DADOS\\Medicos.DB"))});
}

// A narrower CEP, and two fields whose names were swapped: every live CEP
// and every city used to be cut to the interim copy's widths, without a
// message, once the confirmation put the copy in place.
TEST_F(Revisao, AnInterimCopyWithAnotherLayoutIsNamedAndNothingIsCopied) {
  // A leftover of an earlier run shows that the copy is not emptied either.
  execOn(file("VITRALON/INTER/Clientes.DB"),
         "UPDATE _fields SET size = 2 WHERE name = 'CEP';"
         "INSERT INTO Clientes (Estacao, Codigo, Nome) VALUES ('Z', 9, 'Resto')");
  expectRefused(
      "state\ninvoke BotAbreviaNomeCli\nstate\n",
      {errorEvent(
          "EDBEngineError",
          "O leiaute da cópia provisória C:\\VITRALON\\INTER\\Clientes.DB difere do cadastro "
          "C:\\VITRALON\\DADOS\\Clientes.DB:\rCEP: A(2) na cópia, A(9) no cadastro\rNada foi copiado.")});

  execOn(file("VITRALON/INTER/Medicos.DB"),
         "ALTER TABLE Medicos RENAME COLUMN CEP TO Troca; ALTER TABLE Medicos RENAME COLUMN Cidade TO CEP;"
         "ALTER TABLE Medicos RENAME COLUMN Troca TO Cidade;"
         "UPDATE _fields SET name = CASE name WHEN 'CEP' THEN 'Cidade' ELSE 'CEP' END "
         "WHERE name IN ('CEP', 'Cidade')");
  expectRefused(
      "state\ninvoke BotAbreviaNomeMed\nstate\n",
      {errorEvent("EDBEngineError",
                  "O leiaute da cópia provisória C:\\VITRALON\\INTER\\Medicos.DB difere do cadastro "
                  "C:\\VITRALON\\DADOS\\Medicos.DB:\rCEP: A(30) na cópia, A(9) no cadastro\rCidade: "
                  "A(9) na cópia, A(30) no cadastro\rNada foi copiado.")});
}

// The interim copy loses a field (renamed) between the review and the confirmation
// (another program at work while the review is on screen): the confirmation
// checks the layout again and replaces nothing.
TEST_F(Revisao, AnInterimCopyChangedDuringTheReviewIsNotPutInPlace) {
  const std::string script =
      "state\ninvoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nstate\n";
  testsupport::TempDir counting;
  const fs::path reference = counting.path() / "c";
  CopyTree(drive_, reference);
  const fs::path countFile = counting.path() / "count";
  RunScript(reference, "invoke BotAbreviaNomeCli\n", {{"CG_FAULT_COUNT_FILE", countFile.string()}});
  const long events = std::atol(ReadFile(countFile).c_str());
  ASSERT_GT(events, 0);

  const auto before = ImageOfTables(drive_);
  bool halted = false;
  // Right after the copy's last write, before the review shows.
  ChildResult r = RunScriptHaltingAt(
      drive_, script, events,
      [&] {
        execOn(file("VITRALON/INTER/Clientes.DB"),
               "ALTER TABLE Clientes RENAME COLUMN Obs TO Observacoes;"
               "UPDATE _fields SET name = 'Observacoes' WHERE name = 'Obs'");
      },
      halted);
  ASSERT_TRUE(halted) << r.output;
  EXPECT_EQ(EventLines(r.output, "error"),
            std::vector<std::string>{errorEvent(
                "EDBEngineError",
                "O leiaute da cópia provisória C:\\VITRALON\\INTER\\Clientes.DB difere do cadastro "
                "C:\\VITRALON\\DADOS\\Clientes.DB:\rObs: falta na cópia\rNada foi substituído.")})
      << r.output;
  EXPECT_TRUE(EventLines(r.output, "exec").empty()) << r.output;
  ExpectWindowInOrder(r.output, true);
  expectTablesAsBefore(before, {"INTER/Clientes.DB"});
}

// After the abbreviation stopped (the interim copy lacks its index and
// holds a foreign record), a scripted click on the hidden confirm button
// used to run the command file, which put the foreign copy in place of the
// live register. The click is now ignored, and a deliberate call replaces
// nothing either.
TEST_F(Revisao, AReviewThatWasNeverBuiltIsNotConfirmed) {
  execOn(file("VITRALON/INTER/Clientes.DB"),
         "DROP INDEX \"Clientes$NomeFone\"; DELETE FROM _indexes WHERE name = 'NomeFone';"
         "INSERT INTO Clientes (Estacao, Codigo, Nome) VALUES ('Z', 9, 'Outro cadastro')");
  const auto before = ImageOfTables(drive_);
  ChildResult r = RunScript(drive_,
                            "state\ninvoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\n"
                            "answer yes\ninvoke BotConfirmaFormatCli\nstate\n");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(EventLines(r.output, "error"),
            std::vector<std::string>{errorEvent(
                "EIndexNotFound", "Índice não encontrado: NomeFone (C:\\VITRALON\\INTER\\Clientes.DB)")})
      << r.output;
  EXPECT_EQ(EventLines(r.output, "ignored"),
            std::vector<std::string>{
                "{\"event\":\"ignored\",\"action\":\"click BotConfirmaFormatCli\",\"why\":\"hidden\"}"})
      << r.output;
  EXPECT_EQ(EventLines(r.output, "message"),
            std::vector<std::string>{messageEvent(
                "Não há revisão do novo formato concluída para confirmar. O cadastro não foi substituído.")})
      << r.output;
  EXPECT_TRUE(EventLines(r.output, "confirm").empty()) << r.output;
  EXPECT_TRUE(EventLines(r.output, "exec").empty()) << r.output;
  ExpectWindowInOrder(r.output, true);
  expectTablesAsBefore(before);
}

// Another program writes the live register and keeps its write lock past
// the bounded wait: the command file replaces nothing, and the confirmation
// says so instead of "Procedimento concluido.". The command file used to
// move the interim file over the live one, whatever the other program did.
TEST_F(Revisao, AReplacementThatCannotTakeTheLiveTableIsReportedAndReplacesNothing) {
  const auto before = ImageOfTables(drive_);
  ChildResult r;
  {
    WriteLock other(file("VITRALON/DADOS/Clientes.DB"));
    r = RunScript(drive_, "state\ninvoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nstate\n");
  }
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  // The copy of the live register, taken under its write lock before the
  // command file may replace it, cannot be taken: the command file is not
  // started at all.
  EXPECT_TRUE(EventLines(r.output, "exec").empty()) << r.output;
  EXPECT_EQ(EventLines(r.output, "message"),
            std::vector<std::string>{messageEvent(
                "A substituição do formato original pelo novo não foi feita: não foi possível guardar antes "
                "uma cópia de C:\\VITRALON\\DADOS\\Clientes.DB.\rRegistro bloqueado por outro usuário.\r"
                "Tabela: C:\\VITRALON\\DADOS\\Clientes.DB\rO formato original foi mantido.")})
      << r.output;
  ExpectWindowInOrder(r.output, true);
  // The interim copy holds the abbreviated names; the live register is as
  // it was, and sound.
  expectTablesAsBefore(before, {"INTER/Clientes.DB"});
  EXPECT_EQ(ImageOfTables(drive_).at("DADOS/Clientes.DB").integrity, "ok");

  // Without the other program the same confirmation replaces the register
  // with the reviewed copy.
  r = RunScript(drive_, "invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\n");
  EXPECT_EQ(EventLines(r.output, "message"),
            std::vector<std::string>{messageEvent("Procedimento concluido.")})
      << r.output;
  const auto after = ImageOfTables(drive_);
  EXPECT_TRUE(after.at("DADOS/Clientes.DB").rows == after.at("INTER/Clientes.DB").rows);
  EXPECT_FALSE(after.at("DADOS/Clientes.DB").rows == before.at("DADOS/Clientes.DB").rows);
}

// The main folder with a blank: the command line used to be cut at the
// blank, so the command file never started, and the confirmation said
// "Procedimento concluido." all the same. The path is now quoted.
TEST_F(Revisao, AMainFolderWithABlankStartsTheCommandFile) {
  const fs::path folder = file("VITRAL ON");
  fs::create_directories(folder);
  fs::copy_file(file("VITRALON/FormatMed.bat"), folder / "FormatMed.bat");
  fs::create_directory_symlink(file("VITRALON/DADOS"), folder / "DADOS");
  fs::create_directory_symlink(file("VITRALON/INTER"), folder / "INTER");
  execOn(file("VITRALON/Config.DB"), "UPDATE Config SET DiretorioPrincipal = 'C:\\VITRAL ON\\'");
  const auto before = ImageOfTables(drive_);

  ChildResult r =
      RunScript(drive_, "invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\nstate\n");

  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  EXPECT_TRUE(EventLines(r.output, "message").empty()) << r.output;
  EXPECT_EQ(EventLines(r.output, "exec"),
            std::vector<std::string>{
                "{\"event\":\"exec\",\"command\":\"\\\"C:\\\\VITRAL ON\\\\FormatMed.bat\\\" \"}"})
      << r.output;
  const auto after = ImageOfTables(drive_);
  EXPECT_TRUE(after.at("DADOS/Medicos.DB").rows == after.at("INTER/Medicos.DB").rows);
  EXPECT_FALSE(after.at("DADOS/Medicos.DB").rows == before.at("DADOS/Medicos.DB").rows);
}

}  // namespace
}  // namespace reliability
