// Bad input: damaged or foreign table files, a field or index missing, text
// where a number belongs, a broken configuration, a strange in-use marker, a
// data folder the program may not write, discounts that are not numbers or
// do not fit, driver settings the program does not know, a server whose
// CONFIG row is missing or whose book codes reach the largest integer, and
// formula names that collide. Each case ends in one clear Portuguese message
// and changes no data (or only what the repair may still do safely); odd
// names (very long, control characters, quotes, every byte 128-255) go
// through the repairs without harm.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iterator>

#include "app/cli/json.h"
#include "child.h"
#include "platform/cp1252.h"
#include "support/temp_dir.h"
#include "text/normaliza.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

class Instalacao : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(drive_);
    CreateSample(drive_);
  }
  fs::path file(const std::string& relative) const { return drive_ / relative; }
  // Runs the script after `spoil` damaged the installation: exactly one
  // error, no message, every table and the marker as `spoil` left them.
  void expectRefused(const std::string& script, const std::string& error, bool gated) {
    const auto before = ImageOfTables(drive_);
    ChildResult r = RunScript(drive_, script);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(EventLines(r.output, "error"), std::vector<std::string>{error}) << r.output;
    EXPECT_TRUE(EventLines(r.output, "message").empty()) << r.output;
    ExpectWindowInOrder(r.output, gated);
    const auto after = ImageOfTables(drive_);
    for (const auto& [name, table] : before) {
      EXPECT_EQ(after.at(name).opens, table.opens) << name;
      EXPECT_TRUE(after.at(name).rows == table.rows) << name << " changed";
    }
  }
  testsupport::TempDir work_;
  fs::path drive_ = work_.path() / "c";
};

// ---------------------------------------------------------------- table files

TEST_F(Instalacao, AFileThatIsNotATableIsRefusedByName) {
  WriteFile(file("VITRALON/DADOS/Sinonimo.DB"), "Lista de sinônimos exportada em 01/02/2024\r\n");
  expectRefused("state\ninvoke BotAcertaGrupoSinon\nstate\n",
                errorEvent("EDBEngineError",
                           "Arquivo de tabela inválido ou danificado: C:\\VITRALON\\DADOS\\Sinonimo.DB"),
                true);
}

TEST_F(Instalacao, ATruncatedOrEmptiedTableFileIsRefusedByName) {
  const std::string expected = errorEvent(
      "EDBEngineError", "Arquivo de tabela inválido ou danificado: C:\\VITRALON\\DADOS\\Componen.DB");
  for (std::uintmax_t size : {std::uintmax_t{20000}, std::uintmax_t{50}, std::uintmax_t{0}}) {
    SCOPED_TRACE("Componen.DB cut to " + std::to_string(size) + " bytes");
    fs::resize_file(file("VITRALON/DADOS/Componen.DB"), size);
    expectRefused("state\ninvoke BotAjusta\nstate\n", expected, true);
  }
}

TEST_F(Instalacao, AMissingFieldIsNamed) {
  execOn(file("VITRALON/DADOS/Componen.DB"),
         "ALTER TABLE Componen DROP COLUMN Densidade; DELETE FROM _fields WHERE name = 'Densidade'");
  expectRefused(
      "state\ninvoke BotAjusta\nstate\n",
      errorEvent("EFieldNotFound", "Campo não encontrado: Densidade (C:\\VITRALON\\DADOS\\Componen.DB)"),
      true);
}

// The first value of a query on a table file, as text ("" when none).
std::string firstValue(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string value;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
      value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return value;
}

// A field that a walk reads is missed where the walk first reads it: on the
// first record, after the progress step and the repairs of that record that
// come before the read; a walk with no record misses nothing.
TEST_F(Instalacao, AMissingFieldStopsTheWalkWhereItIsFirstRead) {
  const fs::path componen = file("VITRALON/DADOS/Componen.DB");
  const std::string first =
      "(SELECT rowid FROM Componen INDEXED BY \"Componen$Descricao\" ORDER BY Descricao, Grupo, Codigo LIMIT "
      "1)";
  execOn(componen,
         "UPDATE Componen SET FatorCorrecao = 0, FatorDiluicao = NULL WHERE rowid = " + first +
             "; ALTER TABLE Componen DROP COLUMN Densidade; DELETE FROM _fields WHERE name = 'Densidade'");
  const auto before = ImageOfTables(drive_);
  ChildResult r = RunScript(drive_, "invoke BotAjusta\nstate\n");
  EXPECT_EQ(EventLines(r.output, "error"),
            std::vector<std::string>{errorEvent(
                "EFieldNotFound", "Campo não encontrado: Densidade (C:\\VITRALON\\DADOS\\Componen.DB)")});
  EXPECT_TRUE(EventLines(r.output, "message").empty()) << r.output;
  const auto states = EventLines(r.output, "state");
  ASSERT_EQ(states.size(), 1u) << r.output;
  EXPECT_NE(states[0].find("\"position\":1}"), std::string::npos) << states[0];
  EXPECT_EQ(firstValue(componen,
                       "SELECT FatorCorrecao || '/' || FatorDiluicao FROM Componen WHERE rowid = " + first),
            "1.0/1.0");
  const auto& was = before.at("DADOS/Componen.DB").rows;
  const auto after = ImageOfTables(drive_);
  const auto& is = after.at("DADOS/Componen.DB").rows;
  ASSERT_EQ(is.size(), was.size());
  std::vector<std::string> changed;
  std::set_difference(is.begin(), is.end(), was.begin(), was.end(), std::back_inserter(changed));
  EXPECT_EQ(changed.size(), 1u);

  execOn(file("VITRALON/DADOS/Sinonimo.DB"),
         "DELETE FROM Sinonimo; ALTER TABLE Sinonimo DROP COLUMN Grupo; DELETE FROM _fields WHERE name = "
         "'Grupo'");
  r = RunScript(drive_, "state\ninvoke BotAcertaGrupoSinon\nstate\n");
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  ExpectWindowInOrder(r.output, true);
}

TEST_F(Instalacao, AMissingIndexIsNamed) {
  execOn(file("VITRALON/DADOS/Componen.DB"),
         "DROP INDEX \"Componen$Descricao\"; DELETE FROM _indexes WHERE name = 'Descricao'");
  expectRefused(
      "state\ninvoke BotAjusta\nstate\n",
      errorEvent("EIndexNotFound", "Índice não encontrado: Descricao (C:\\VITRALON\\DADOS\\Componen.DB)"),
      true);
}

TEST_F(Instalacao, TextInANumericFieldIsNamedWithTheField) {
  // On the first component the walk visits, so that nothing is repaired
  // before the bad value is met.
  execOn(file("VITRALON/DADOS/Componen.DB"),
         "UPDATE Componen SET FatorCorrecao = 'doze' WHERE rowid = (SELECT rowid FROM Componen "
         "INDEXED BY \"Componen$Descricao\" ORDER BY Descricao, Grupo, Codigo LIMIT 1)");
  expectRefused(
      "state\ninvoke BotAjusta\nstate\n",
      errorEvent(
          "EConvertError",
          "'doze' não é um valor válido para o campo FatorCorrecao (C:\\VITRALON\\DADOS\\Componen.DB)"),
      true);
}

// ---------------------------------------------------------------- descriptions

std::string invalidFile(const std::string& path, const std::string& what) {
  return errorEvent("EDBEngineError",
                    "Arquivo de tabela inválido ou danificado: " + path + " (" + what + ")");
}

// The description inside a table file (types, widths, indexes) that does
// not agree with the SQLite table made the orphan removal delete every
// formula and the CRM correction cut every CRM, success reported. Now the
// file is refused by name, with what disagrees, before anything is deleted.
TEST_F(Instalacao, ADescriptionThatDisagreesWithTheTableIsRefused) {
  const fs::path pedidos = file("VITRALON/DADOS/Pedidos.DB");
  const std::string path = "C:\\VITRALON\\DADOS\\Pedidos.DB";
  struct Case {
    const char* field;
    const char* type;
    const char* column;
  };
  for (const Case& c :
       {Case{"NPedido", "D", "INTEGER"}, Case{"NPedido", "T", "INTEGER"}, Case{"NPedido", "@", "INTEGER"},
        Case{"Estacao", "I", "TEXT"}, Case{"Estacao", "N", "TEXT"}}) {
    SCOPED_TRACE(std::string(c.field) + " " + c.type);
    execOn(pedidos, std::string("UPDATE _fields SET type = '") + c.type + "' WHERE name = '" + c.field + "'");
    expectRefused("state\ninvoke BotFormulaOrfan\nstate\n",
                  invalidFile(path, std::string("a descrição dá ao campo ") + c.field + " o tipo " + c.type +
                                        ", mas a coluna da tabela é " + c.column),
                  false);
    execOn(pedidos, std::string("UPDATE _fields SET type = '") + (c.column[0] == 'I' ? "I" : "A") +
                        "' WHERE name = '" + c.field + "'");
  }
  // A logical order number: its values are not those of a logical field.
  execOn(pedidos, "UPDATE _fields SET type = 'L' WHERE name = 'NPedido'");
  const std::string first = firstValue(
      pedidos, "SELECT NPedido FROM Pedidos INDEXED BY \"Pedidos$pk\" WHERE NPedido NOT IN (0, 1) LIMIT 1");
  expectRefused("state\ninvoke BotFormulaOrfan\nstate\n",
                errorEvent("EConvertError",
                           "'" + first + "' não é um valor válido para o campo NPedido (" + path + ")"),
                false);
  execOn(pedidos, "UPDATE _fields SET type = 'I' WHERE name = 'NPedido'");

  // An index that misses every record: every order looked up through it
  // would be missing.
  const std::string rows = firstValue(pedidos, "SELECT count(*) FROM Pedidos");
  const std::string sql = firstValue(pedidos, "SELECT sql FROM sqlite_schema WHERE name = 'Pedidos$pk'");
  execOn(pedidos, "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = '" + sql +
                      " WHERE 0' WHERE name = 'Pedidos$pk'");
  execOn(pedidos, "REINDEX \"Pedidos$pk\"");
  execOn(pedidos, "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = '" + sql +
                      "' WHERE name = 'Pedidos$pk'");
  ASSERT_NE(firstValue(pedidos, "PRAGMA integrity_check"), "ok");
  expectRefused("state\ninvoke BotFormulaOrfan\nstate\n",
                invalidFile(path, "o índice Pedidos$pk tem 0 entradas para " + rows + " registros"), false);

  // An index with one entry per record whose entries hold other values (the
  // order numbers negated): the counts agree and the quick check passes, but
  // every order looked up through it would be missing, and every formula row
  // deleted. It is refused before the first delete.
  const std::string negated = sql.substr(0, sql.rfind('"', sql.find("NPedido"))) + "-" +
                              sql.substr(sql.rfind('"', sql.find("NPedido")));
  ASSERT_NE(negated, sql);
  execOn(pedidos, "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = '" + negated +
                      "' WHERE name = 'Pedidos$pk'");
  execOn(pedidos, "REINDEX \"Pedidos$pk\"");
  execOn(pedidos, "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = '" + sql +
                      "' WHERE name = 'Pedidos$pk'");
  ASSERT_EQ(firstValue(pedidos, "PRAGMA quick_check"), "ok");
  ASSERT_EQ(firstValue(pedidos, "SELECT count(*) FROM Pedidos INDEXED BY \"Pedidos$pk\""), rows);
  expectRefused("state\ninvoke BotFormulaOrfan\nstate\n",
                invalidFile(path, "o índice Pedidos$pk não corresponde aos registros da tabela"), false);
  execOn(pedidos, "REINDEX \"Pedidos$pk\"");
  ASSERT_EQ(firstValue(pedidos, "PRAGMA integrity_check"), "ok");

  // A CRM width of 3: every CRM would be cut to 3 digits.
  execOn(file("VITRALON/DADOS/Medicos.DB"), "UPDATE _fields SET size = 3 WHERE name = 'CRM'");
  expectRefused("state\ninvoke BotCorrigeCadMed\nstate\n",
                invalidFile("C:\\VITRALON\\DADOS\\Medicos.DB",
                            "o campo CRM tem largura 3 na descrição, mas a maioria dos valores guardados é "
                            "mais longa"),
                false);
}

// A value of a type its field never holds, in a key or ordering field, made
// the local repairs walk the same records again without end after part of
// their work. Now it is named with its field and table before anything is
// written, and a walk that meets it ends.
TEST_F(Instalacao, AValueOfAForeignTypeInAKeyIsNamedAndNoWalkLoops) {
  const std::string first =
      "(SELECT rowid FROM Pediform INDEXED BY \"Pediform$pk\" ORDER BY Estacao, NPedido, NFormula, Serie "
      "LIMIT "
      "1 OFFSET 7)";
  execOn(file("VITRALON/DADOS/PEDIFORM.DB"),
         "UPDATE Pediform SET Estacao = X'41420043' WHERE rowid = " + first);
  expectRefused("state\ninvoke BotFormulaOrfan\nstate\n",
                errorEvent("EConvertError",
                           "X'41420043' não é um valor válido para o campo Estacao "
                           "(C:\\VITRALON\\DADOS\\Pediform.DB)"),
                false);
  execOn(file("VITRALON/DADOS/Sinonimo.DB"),
         "UPDATE Sinonimo SET Sinonimo = CAST('Xarope' AS BLOB) WHERE rowid = 3");
  expectRefused("state\ninvoke BotAcertaGrupoSinon\nstate\n",
                errorEvent("EConvertError",
                           "X'5861726F7065' não é um valor válido para o campo Sinonimo "
                           "(C:\\VITRALON\\DADOS\\Sinonimo.DB)"),
                true);
  for (const char* value : {"'doze'", "2.5"}) {
    SCOPED_TRACE(value);
    testsupport::TempDir other;
    const fs::path d = other.path() / "c";
    fs::create_directories(d);
    CopyTree(drive_, d);
    execOn(d / "VITRALON/DADOS/Pedidos.DB",
           std::string("UPDATE Pedidos SET NPedido = ") + value + " WHERE rowid = 5");
    const auto before = ImageOfTables(d);
    ChildResult r = RunScript(d, "state\ninvoke BotCorrigeCadMed\nstate\n");
    EXPECT_EQ(EventLines(r.output, "error"),
              std::vector<std::string>{
                  errorEvent("EConvertError", std::string("'") + (value[0] == '\'' ? "doze" : "2,5") +
                                                  "' não é um valor válido para o campo NPedido "
                                                  "(C:\\VITRALON\\DADOS\\Pedidos.DB)")})
        << r.output;
    for (const auto& [name, table] : before)
      EXPECT_TRUE(ImageOfTables(d).at(name).rows == table.rows) << name;
  }
  // A repair that deletes nothing walks past such a value to its end.
  execOn(file("VITRALON/DADOS/Componen.DB"),
         "UPDATE Componen SET Descricao = CAST(Descricao AS BLOB) WHERE rowid IN (2, 9)");
  ChildResult r = RunScript(drive_, "invoke BotAjusta\nstate\n");
  EXPECT_FALSE(r.killed) << "the walk did not end";
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
}

// ---------------------------------------------------------------- platform.ini

TEST_F(Instalacao, AMissingConfigurationIsNamed) {
  fs::remove(file("platform.ini"));
  expectRefused(
      "state\ninvoke BotCorrigeCadMed\nstate\n",
      errorEvent("EAliasNotFound",
                 "Alias não encontrado: VTRNDADOS (arquivo de configuração C:\\platform.ini ausente)"),
      false);
  expectRefused(
      "state\ninvoke BotAbreviaNomeCli\nstate\n",
      errorEvent("EAliasNotFound",
                 "Alias não encontrado: VTRNINTER (arquivo de configuração C:\\platform.ini ausente)"),
      true);
}

TEST_F(Instalacao, AMalformedConfigurationFindsNoAlias) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 37) & 0xFF);
  WriteFile(file("platform.ini"), garbage);
  expectRefused("state\ninvoke BotFormulaOrfanArqQM\nstate\n",
                errorEvent("EAliasNotFound", "Alias não encontrado: VTRNARQM (C:\\platform.ini)"), false);
  WriteFile(file("platform.ini"), "[aliases\nVTRNDADOS C:\\VITRALON\\DADOS\n=\n[[sql]]\n");
  expectRefused("state\ninvoke BotCorrigeCadMed\nstate\n",
                errorEvent("EAliasNotFound", "Alias não encontrado: VTRNDADOS (C:\\platform.ini)"), false);
}

TEST_F(Instalacao, AnAliasNamingAMissingFolderIsNamed) {
  WriteFile(file("platform.ini"),
            "[aliases]\nVTRNDADOS = C:\\VITRALON\\DADOS\nVTRNINTER = C:\\NADA\\INTER\nVTRNARQM = "
            "C:\\VITRALON\\ARQMORTO\n"
            "[sql]\ntransport = embedded\n");
  expectRefused("state\ninvoke BotAbreviaNomeMed\nstate\n",
                errorEvent("EAliasNotFound", "Diretório do alias VTRNINTER não encontrado: C:\\NADA\\INTER"),
                true);
}

// A folder in the file's place: the file is there but cannot be read, which
// is not the same as missing.
TEST_F(Instalacao, AnUnreadableConfigurationIsNotCalledMissing) {
  const auto server = ServerImage(drive_);
  const std::string ini = ReadFile(file("platform.ini"));
  fs::remove(file("platform.ini"));
  fs::create_directory(file("platform.ini"));
  expectRefused(
      "state\ninvoke BotCorrigeCadMed\nstate\n",
      errorEvent("EAliasNotFound",
                 "Alias não encontrado: VTRNDADOS (arquivo de configuração C:\\platform.ini ilegível: "
                 "há uma pasta com esse nome)"),
      false);
  expectRefused(
      "state\nclick BitBtn7\nstate\n",
      errorEvent("EDatabaseError",
                 "Não foi possível ler a seção [sql] de C:\\platform.ini (há uma pasta com esse nome)."),
      false);
  fs::remove(file("platform.ini"));
  WriteFile(file("platform.ini"), ini);
  EXPECT_TRUE(ServerImage(drive_) == server) << "the server rows changed";
}

// The driver's own settings: a comment after the value is the comment the
// documented example carries; a value the program does not know is named
// with its key, before anything reaches the server. The transport used to
// fall back to the server silently, which then failed with a network error.
TEST_F(Instalacao, DriverSettingsTheProgramDoesNotKnowAreNamed) {
  const std::string ini = ReadFile(file("platform.ini"));
  const std::string::size_type at = ini.find("transport = embedded");
  ASSERT_NE(at, std::string::npos) << ini;
  auto withSql = [&](const std::string& lines) {
    WriteFile(file("platform.ini"), ini.substr(0, at) + lines + ini.substr(ini.find('\n', at) + 1));
  };
  const auto server = ServerImage(drive_);
  struct Case {
    const char* lines;
    const char* shown;  // key = value, as named in the message
    const char* accepted;
  };
  const char* const kTransport = "Use embedded ou server.";
  const char* const kPort = "A porta é um número de 1 a 65535.";
  const Case cases[] = {
      {"transport = embeded\n", "transport = embeded", kTransport},
      {"transport =\n", "transport = ", kTransport},
      {"transport = embedded ; or server\nport = abc\n", "port = abc", kPort},
      {"transport = server\nport = -1\n", "port = -1", kPort},
      {"transport = server\nport = 99999\n", "port = 99999", kPort},
      {"transport = server\nport = 0\n", "port = 0", kPort},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    withSql(c.lines);
    expectRefused(
        "state\nclick BitBtn7\nstate\n",
        errorEvent("EDatabaseError", std::string("Valor inválido em C:\\platform.ini, seção [sql]: ") +
                                         c.shown + ". " + c.accepted),
        false);
  }
  // The documented form, comments and all, reaches the embedded engine.
  withSql(
      "transport=embedded    ; or server (the default)\nport=3057             ; server only; the default "
      "is the client's (3050)\n");
  ChildResult r = RunScript(drive_, "click BitBtn7\n");
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  const auto messages = EventLines(r.output, "message");
  ASSERT_EQ(messages.size(), 1u) << r.output;
  EXPECT_NE(messages[0].find("CNPJs foram corrigidos."), std::string::npos) << messages[0];
  const auto after = ServerImage(drive_);
  for (const char* table : {"PEDIDOS", "CONFIG", "FORMULAS", "COMPONEN", "COMPEDID"})
    EXPECT_TRUE(after.at(table) == server.at(table)) << table;
  EXPECT_FALSE(after.at("FORNECED") == server.at("FORNECED")) << "nothing was cleaned";
}

// ---------------------------------------------------------------- marker file

// The start-up check refuses a marker it cannot read as a date and time;
// the window stays open and the marker stays as it was.
TEST_F(Instalacao, AStrangeMarkerIsReportedAndLeftAlone) {
  const fs::path marker = file("VITRALON/Em_Uso.txt");
  std::string binary;
  for (int b = 0x80; b <= 0xFF; ++b) binary += static_cast<char>(b);
  struct Case {
    const char* name;
    std::string content;
    std::string shown;  // the text in the message, CP1252
  };
  const Case cases[] = {
      {"vazio", "", ""},
      {"binario", binary + binary, binary.substr(0, 60)},
      {"enorme", std::string(20'000'000, '7'), std::string(60, '7')},
      {"quebras", "\r\n\r\n01/01/2024 10:00:00\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(marker, c.content);
    const auto before = ImageOfTables(drive_);
    ChildResult r = RunScript(drive_, "state\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(EventLines(r.output, "error"),
              std::vector<std::string>{
                  "{\"event\":\"error\",\"class\":\"EConvertError\",\"text\":" +
                  cg::json::text("'" + c.shown + cg::fromUtf8("' não é uma data e hora válida.")) + "}"});
    const auto states = EventLines(r.output, "state");
    ASSERT_EQ(states.size(), 1u) << r.output;
    EXPECT_NE(states[0].find("\"BotSair\":{\"enabled\":true"), std::string::npos) << "the window closed";
    // Closing the window deletes the marker, whatever it held.
    EXPECT_FALSE(fs::exists(marker));
    const auto after = ImageOfTables(drive_);
    for (const auto& [name, table] : before) EXPECT_TRUE(after.at(name).rows == table.rows) << name;
  }
  fs::remove(marker);
  fs::create_directory(marker);
  ChildResult r = RunScript(drive_, "state\n");
  EXPECT_EQ(EventLines(r.output, "error"),
            std::vector<std::string>{errorEvent(
                "EInOutError",
                "Erro de entrada/saída ao ler C:\\VITRALON\\Em_Uso.txt (há uma pasta com esse nome).")});
  EXPECT_TRUE(fs::is_directory(marker));
}

// ---------------------------------------------------------------- read-only

// The data folder belongs to another user and is not writable by the one
// who runs the program (as root the program runs as `nobody` for this).
TEST_F(Instalacao, AReadOnlyDataFolderIsReportedAndNothingChanges) {
  std::vector<std::pair<std::string, std::string>> env = {{"HOME", "/tmp"}};
  std::vector<std::string> wrapper;
  if (geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv (util-linux) is needed to drop root";
    wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    fs::permissions(work_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  } else {
    for (const auto& e : fs::recursive_directory_iterator(drive_))
      fs::permissions(e.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
  }
  const auto before = ImageOfTables(drive_);
  ChildResult r = RunScriptAs(wrapper, drive_, "state\ninvoke BotAjusta\nstate\n", env);
  EXPECT_EQ(
      EventLines(r.output, "error"),
      (std::vector<std::string>{
          errorEvent("EInOutError",
                     "Erro de entrada/saída ao criar C:\\VITRALON\\Em_Uso.txt (acesso negado)."),
          // Without the marker the journal is not opened, and no
          // command runs unrecorded: the repair does not start.
          errorEvent("EJournalError",
                     "O histórico das alterações não foi aberto, pois o arquivo de uso "
                     "C:\\VITRALON\\Em_Uso.txt não pôde ser criado: nenhum comando é executado sem o seu "
                     "registro.")}))
      << r.output;
  ExpectWindowInOrder(r.output, false);  // the repair never started: nothing was switched off
  if (geteuid() != 0)
    for (const auto& e : fs::recursive_directory_iterator(drive_))
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
  const auto after = ImageOfTables(drive_);
  for (const auto& [name, table] : before) EXPECT_TRUE(after.at(name).rows == table.rows) << name;
  EXPECT_FALSE(fs::exists(file("VITRALON/Em_Uso.txt")));
}

// The program run as `nobody` on this installation, the server reached
// through the test server (which opens the database as its own user);
// `lock` then takes rights away from what it names.
ChildResult RunAsNobody(const fs::path& work, const fs::path& drive, const std::string& script) {
  const char* port = std::getenv("CG_FB_PORT");
  std::string ini = ReadFile(drive / "platform.ini");
  ini = ini.substr(0, ini.find("[sql]")) +
        "[sql]\ntransport = server\nport = " + (port && *port ? port : "3057") + "\n";
  WriteFile(drive / "platform.ini", ini);
  fs::permissions(work, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  for (const auto& e : fs::recursive_directory_iterator(drive))
    if (::chown(e.path().c_str(), 65534, 65534) != 0) ADD_FAILURE() << e.path();
  if (::chown(drive.c_str(), 65534, 65534) != 0) ADD_FAILURE() << drive;
  return RunScriptAs({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"}, drive,
                     script, {{"HOME", "/tmp"}});
}

// A purchases table the user may not write: every record was told as a
// name that exists already ("Favor verificar se já existe outro
// componente"), then "Procedimento Concluído com Sucesso.". Now the first
// refused write stops the run with its own cause.
TEST_F(Instalacao, AReadOnlyPurchasesTableIsNotCalledADuplicateNorASuccess) {
  if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  std::string why;
  ASSERT_TRUE(EnsureTestServer(why)) << why;
  const fs::path compras = file("VITRALON/DADOS/COMPRAS.DB");
  const auto before = ImageOfTables(drive_);
  ChildResult r = RunAsNobody(work_.path(), drive_, "");
  ASSERT_EQ(::chown(compras.c_str(), 0, 0), 0);
  fs::permissions(compras, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
  r = RunScriptAs({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"}, drive_,
                  "state\ninvoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\nstate\n",
                  {{"HOME", "/tmp"}});
  EXPECT_EQ(EventLines(r.output, "error"),
            std::vector<std::string>{errorEvent(
                "EDBEngineError", "Sem permissão para gravar a tabela C:\\VITRALON\\DADOS\\COMPRAS.DB")})
      << r.output;
  for (const std::string& m : EventLines(r.output, "message")) {
    EXPECT_EQ(m.find("outro componente"), std::string::npos) << m;
    EXPECT_EQ(m.find("Sucesso"), std::string::npos) << m;
  }
  ExpectWindowInOrder(r.output, true);
  EXPECT_TRUE(ImageOfTables(drive_).at("DADOS/COMPRAS.DB").rows == before.at("DADOS/COMPRAS.DB").rows);
}

// A data folder the user may not read is there: not "Tabela não encontrada".
TEST_F(Instalacao, AnUnreadableDataFolderIsNotCalledMissing) {
  if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  std::string why;
  ASSERT_TRUE(EnsureTestServer(why)) << why;
  const auto before = ImageOfTables(drive_);
  RunAsNobody(work_.path(), drive_, "");
  const fs::path dados = file("VITRALON/DADOS");
  ASSERT_EQ(::chown(dados.c_str(), 0, 0), 0);
  fs::permissions(dados, fs::perms::owner_all);
  ChildResult r = RunScriptAs({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"},
                              drive_, "state\ninvoke BotAjusta\nstate\n", {{"HOME", "/tmp"}});
  EXPECT_EQ(EventLines(r.output, "error"),
            std::vector<std::string>{errorEvent(
                "EDBEngineError",
                "Sem permissão para ler a tabela ou a sua pasta: C:\\VITRALON\\DADOS\\Componen.DB")})
      << r.output;
  ExpectWindowInOrder(r.output, true);
  const auto after = ImageOfTables(drive_);
  for (const auto& [name, table] : before) EXPECT_TRUE(after.at(name).rows == table.rows) << name;
}

// ---------------------------------------------------------------- odd names

std::string oddText(int which) {
  std::string s;
  switch (which) {
    case 0:
      for (int b = 0x80; b <= 0xFF; ++b) s += static_cast<char>(b);
      return s;
    case 1:
      for (int b = 1; b < 0x20; ++b) s += static_cast<char>(b);
      return s + "\"'\\%;--";
    case 2:
      return std::string(10'000, 'M');
    default:
      return "O'Brien \"Doc\" D'Ávila";
  }
}

void putOddValues(const fs::path& file, const std::string& table, const std::string& field) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  for (int i = 0; i < 4; ++i) {
    sqlite3_stmt* st = nullptr;
    const std::string sql =
        "UPDATE \"" + table + "\" SET \"" + field + "\" = ?1 WHERE rowid = " + std::to_string(i + 1);
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    const std::string v = oddText(i);
    sqlite3_bind_text(st, 1, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
}

int longestText(const fs::path& file, const std::string& table, const std::string& field) {
  sqlite3* db = nullptr;
  int longest = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT max(length(CAST(\"" + field + "\" AS BLOB))) FROM \"" + table + "\"";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      longest = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return longest;
}

int fieldWidth(const fs::path& file, const std::string& field) {
  sqlite3* db = nullptr;
  int width = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT size FROM _fields WHERE name = ?1", -1, &st, nullptr) == SQLITE_OK) {
      sqlite3_bind_text(st, 1, field.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(st) == SQLITE_ROW) width = sqlite3_column_int(st, 0);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return width;
}

TEST_F(Instalacao, OddNamesGoThroughTheAbbreviationWithinTheFieldWidth) {
  putOddValues(file("VITRALON/DADOS/Clientes.DB"), "Clientes", "Nome");
  putOddValues(file("VITRALON/DADOS/Medicos.DB"), "Medicos", "Nome");
  for (const char* script : {"invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\nstate\n",
                             "invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\nstate\n"}) {
    ChildResult r = RunScript(drive_, script);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  }
  for (const auto& [name, table] : ImageOfTables(drive_)) {
    EXPECT_TRUE(table.opens) << name;
    EXPECT_EQ(table.integrity, "ok") << name;
  }
  // The live tables are now the abbreviated copies: names within Nome's width.
  for (const char* table : {"Clientes", "Medicos"}) {
    const fs::path f = file(std::string("VITRALON/DADOS/") + table + ".DB");
    const int width = fieldWidth(f, "Nome");
    EXPECT_GT(width, 0);
    EXPECT_LE(longestText(f, table, "Nome"), width) << table;
  }
}

TEST_F(Instalacao, OddRegistrationNumbersAreCorrectedOrReported) {
  putOddValues(file("VITRALON/DADOS/Medicos.DB"), "Medicos", "CRM");
  putOddValues(file("VITRALON/DADOS/Pedidos.DB"), "Pedidos", "CRM");
  ChildResult r = RunScript(drive_, "invoke BotCorrigeCadMed\nstate\n");
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  EXPECT_EQ(EventLines(r.output, "message").size(), 1u) << r.output;
  for (const auto& [name, table] : ImageOfTables(drive_)) EXPECT_EQ(table.integrity, "ok") << name;
  // None of the four CRMs holds a digit and no doctor had an empty one: the
  // first of them takes the empty CRM, the other three are reported as
  // stored. Orders get at most 20 digits.
  EXPECT_LE(longestText(file("VITRALON/DADOS/Pedidos.DB"), "Pedidos", "CRM"), 20);
  const std::string report = ReadFile(file("VITRALON/CRMERROS.TXT"));
  int reported = 0;
  for (int i = 0; i < 4; ++i)
    if (report.find("  " + oddText(i) + "\r\n") != std::string::npos) ++reported;
  EXPECT_EQ(reported, 3) << report.substr(0, 400);
  EXPECT_EQ(longestText(file("VITRALON/DADOS/Medicos.DB"), "Medicos", "CRM"), 10'000)
      << "a reported CRM changed";
}

// ---------------------------------------------------------------- Edit1

TEST_F(Instalacao, ADiscountThatIsNotANumberIsRefusedBeforeTheServerIsTouched) {
  const auto server = ServerImage(drive_);
  for (const char* typed : {"abc", "1e400", "12,5,0", "--5", "1.5e2", "0x10"}) {
    SCOPED_TRACE(typed);
    ChildResult r = RunScript(drive_, std::string("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 ") +
                                          typed + "\nclick BitBtn3\nstate\n");
    EXPECT_EQ(EventLines(r.output, "message"),
              std::vector<std::string>{
                  "{\"event\":\"message\",\"text\":" +
                  cg::json::quote(std::string("O desconto digitado, \"") + typed +
                                  "\", não é um número. Digite o percentual (por exemplo 10 ou "
                                  "12,5) ou deixe a caixa vazia.") +
                  "}"})
        << r.output;
    EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  }
  EXPECT_TRUE(ServerImage(drive_) == server) << "the server rows changed";
}

TEST_F(Instalacao, ADiscountWithCommaDotOrMinusZeroIsTakenAsTyped) {
  struct Case {
    const char* typed;
    const char* stored;  // DESCONTO of a component that had none, as the driver reads it
  };
  for (const Case& c : {Case{"12,5", "12,5"}, Case{"12.5", "12,5"}, Case{"-0", "0"}}) {
    SCOPED_TRACE(c.typed);
    testsupport::TempDir other;
    const fs::path d = other.path() / "c";
    fs::create_directories(d);
    CreateSample(d);
    const std::string sql = "select CODIGO, DESCONTO from COMPONEN order by CODIGO";
    const auto before = ServerImage(d);
    const auto discounts = ServerQuery(d, sql);
    ChildResult r = RunScript(d, std::string("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 ") +
                                     c.typed + "\nclick BitBtn3\nstate\n");
    EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
    EXPECT_TRUE(EventLines(r.output, "message").empty()) << r.output;
    const auto after = ServerImage(d);
    for (const char* table : {"PEDIDOS", "CONFIG", "FORMULAS", "FORNECED", "COMPEDID"})
      EXPECT_TRUE(after.at(table) == before.at(table)) << table;
    const auto now = ServerQuery(d, sql);
    ASSERT_EQ(now.size(), discounts.size());
    int changed = 0;
    for (size_t i = 0; i < now.size(); ++i) {
      const std::string code = discounts[i].substr(0, discounts[i].find('|'));
      const std::string was = discounts[i].substr(code.size() + 1);
      if (was == "NULL" || was == "0") {
        EXPECT_EQ(now[i], code + "|" + c.stored);
        ++changed;
      } else {
        EXPECT_EQ(now[i], discounts[i]);
      }
    }
    EXPECT_GT(changed, 0) << "the sample has no component without a discount";
  }
}

TEST_F(Instalacao, ADiscountThatDoesNotFitTheColumnSaysWhy) {
  const auto server = ServerImage(drive_);
  struct Case {
    const char* typed;
    const char* why;
  };
  const char* const kGrande =
      "\", está fora do intervalo aceito: no máximo 7 algarismos antes da vírgula (até 9999999,99999999).";
  const char* const kCasas = "\", tem casas decimais demais: no máximo 8 depois da vírgula.";
  for (const Case& c : {Case{"10000000", kGrande}, Case{"-99999999,5", kGrande}, Case{"0,000000001", kCasas},
                        Case{"12.123456789", kCasas}}) {
    SCOPED_TRACE(c.typed);
    ChildResult r = RunScript(drive_, std::string("invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 ") +
                                          c.typed + "\nclick BitBtn3\nstate\n");
    EXPECT_EQ(EventLines(r.output, "message"),
              std::vector<std::string>{
                  "{\"event\":\"message\",\"text\":" +
                  cg::json::quote(std::string("O desconto digitado, \"") + c.typed + c.why) + "}"})
        << r.output;
    EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  }
  EXPECT_TRUE(ServerImage(drive_) == server) << "the server rows changed";
}

// ---------------------------------------------------------------- book codes

std::string semCodigo(const fs::path& driveC) {
  const auto n =
      ServerQuery(driveC, "select count(*) from PEDIDOS where MEDICO is not null and CODLIVRO is null");
  return n.empty() ? "" : n[0];
}

// Without the CONFIG row every run numbered from 1 again: the same codes
// twice, and success reported.
TEST_F(Instalacao, BookCodesWithoutTheConfigurationRowNumberNothing) {
  ServerExec(drive_, {"DELETE FROM CONFIG"});
  const auto server = ServerImage(drive_);
  expectRefused(
      "state\ninvoke BitBtn5\nstate\n",
      errorEvent("EDatabaseError",
                 "A tabela \"Config\" do Servidor não tem nenhum registro: não há de onde continuar a "
                 "numeração dos códigos de livro. Nenhum pedido foi numerado."),
      true);
  EXPECT_TRUE(ServerImage(drive_) == server) << "the server rows changed";
}

// A stored code near the largest integer wrapped to negative codes, success
// reported. The fill now stops before the code that would not fit.
TEST_F(Instalacao, BookCodesStopBeforeTheLargestInteger) {
  const std::string waiting = semCodigo(drive_);
  ASSERT_GT(std::atoi(waiting.c_str()), 2);
  auto esgotado = [](int left) {
    return errorEvent(
        "EDatabaseError",
        "O próximo código de livro passaria de 2147483647, o maior número que a coluna CODLIVRO "
        "aceita. " +
            std::to_string(left) + " pedidos ficaram sem código.");
  };
  ServerExec(drive_, {"UPDATE CONFIG SET CODLIVRO = 2147483647"});
  const auto server = ServerImage(drive_);
  expectRefused("state\ninvoke BitBtn5\nstate\n", esgotado(std::atoi(waiting.c_str())), true);
  EXPECT_TRUE(ServerImage(drive_) == server) << "the server rows changed";

  // Two codes left: the first two orders take them, the others keep none.
  ServerExec(drive_, {"UPDATE CONFIG SET CODLIVRO = 2147483645"});
  ChildResult r = RunScript(drive_, "state\ninvoke BitBtn5\nstate\n");
  EXPECT_EQ(EventLines(r.output, "error"), std::vector<std::string>{esgotado(std::atoi(waiting.c_str()) - 2)})
      << r.output;
  EXPECT_TRUE(EventLines(r.output, "message").empty()) << r.output;
  ExpectWindowInOrder(r.output, true);
  EXPECT_EQ(ServerQuery(drive_,
                        "select CODLIVRO from PEDIDOS where CODLIVRO > 1000 or CODLIVRO < 0 order by "
                        "CODLIVRO"),
            (std::vector<std::string>{"2147483646", "2147483647"}));
  EXPECT_EQ(ServerQuery(drive_, "select CODLIVRO from CONFIG"), std::vector<std::string>{"2147483647"});
  EXPECT_EQ(semCodigo(drive_), std::to_string(std::atoi(waiting.c_str()) - 2));
}

// ---------------------------------------------------------------- formula names

// Three corrected names of the sample collide with names already there
// under the unique constraint. The refused ones used to stop the close, so
// that no correction after the first refusal ever reached the server, on
// every run. Now the refusals are counted and the rest is sent.
TEST_F(Instalacao, CollidingFormulaNamesAreCountedAndTheOtherCorrectionsReachTheServer) {
  const auto server = ServerImage(drive_);
  const std::string sql = "select CODIGOFORM, FORMULA from FORMULAS order by CODIGOFORM";
  const auto before = ServerQuery(drive_, sql);
  const std::string refusedPrefix =
      "{\"event\":\"message\",\"text\":\"O servidor recusou 3 alterações, que não foram "
      "gravadas.\\rPrimeira mensagem do servidor: violation of PRIMARY or UNIQUE KEY constraint "
      "\\\"UQ_FORMULAS_FORMULA\\\"";
  // Not a success: the run ends saying how many names failed.
  const std::string closing = "{\"event\":\"message\",\"text\":\"Procedimento concluído com 3 erros.\"}";
  ChildResult r = RunScript(drive_, "state\ninvoke BitBtn1\nstate\n");
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  auto messages = EventLines(r.output, "message");
  // Each refusal as the data module shows it, then the count, then the
  // closing message with the count of errors.
  const std::string refusal = "{\"event\":\"message\",\"text\":\"2) violation of PRIMARY or UNIQUE KEY";
  ASSERT_EQ(messages.size(), 5u) << r.output;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(messages[i].rfind(refusal, 0), 0u) << messages[i];
  EXPECT_EQ(messages[3].rfind(refusedPrefix, 0), 0u) << messages[3];
  EXPECT_EQ(messages[4], closing);
  ExpectWindowInOrder(r.output, false);

  const auto after = ServerQuery(drive_, sql);
  ASSERT_EQ(after.size(), before.size());
  int corrected = 0, refused = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    const std::string code = before[i].substr(0, before[i].find('|') + 1);
    const std::string was = before[i].substr(code.size());
    const std::string sound = cg::FormataNomeProduto(was);
    if (sound == was || was == "NULL") {  // a formula without a name keeps none
      EXPECT_EQ(after[i], before[i]);
    } else if (after[i] == code + sound) {
      ++corrected;
    } else {
      EXPECT_EQ(after[i], before[i]) << "neither corrected nor kept";
      ++refused;
    }
  }
  // Only the three refused names stay as they were; every other correction,
  // before and after them, is on the server.
  EXPECT_EQ(refused, 3);
  EXPECT_GT(corrected, 100);
  const auto now = ServerImage(drive_);
  for (const char* table : {"PEDIDOS", "CONFIG", "COMPONEN", "FORNECED", "COMPEDID"})
    EXPECT_TRUE(now.at(table) == server.at(table)) << table;

  // The next run meets the same collisions and ends the same way.
  r = RunScript(drive_, "invoke BitBtn1\n");
  EXPECT_TRUE(EventLines(r.output, "error").empty()) << r.output;
  messages = EventLines(r.output, "message");
  ASSERT_EQ(messages.size(), 5u) << r.output;
  EXPECT_EQ(messages[3].rfind(refusedPrefix, 0), 0u) << messages[3];
  EXPECT_EQ(messages[4], closing);
}

}  // namespace
}  // namespace reliability
