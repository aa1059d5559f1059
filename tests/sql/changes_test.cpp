// What the driver reports of the server rows it changes, embedded and
// through the test server: applied dataset changes, execute-direct UPDATEs
// read ahead, the order of the reports around the commit, and the writer
// that puts rows back.
#include "data/sql/changes.h"

#include <algorithm>

#include "server_fixture.h"

using namespace cg;
using sqltest::ServerTest;
using sqltest::Transport;

namespace {

std::string text(const SQLValue& v) { return v ? "'" + *v + "'" : "<null>"; }

// A journal in miniature: every report as one line, and the token each came
// with.
class CollectingSink : public ServerChangeSink {
 public:
  std::vector<std::string> log;
  std::vector<const void*> tokens;
  std::vector<ServerRowChange> changes;
  std::function<bool()> whenCommitting = [] { return true; };
  std::function<void()> whenCommitted = [] {};

  void change(const void* transaction, const ServerRowChange& c) override {
    std::string line = std::string(1, static_cast<char>(c.op)) + " " + c.table + " ";
    for (size_t k = 0; k < c.keyColumns.size(); ++k)
      line += (k ? ";" : "") + c.keyColumns[k] + "=" + (k < c.key.size() ? text(c.key[k]) : "?");
    line += " |";
    for (size_t i = 0; i < c.columns.size(); ++i)
      line += " " + c.columns[i] + ": " + (i < c.before.size() ? text(c.before[i]) : "-") + " -> " +
              (i < c.after.size() ? text(c.after[i]) : "-");
    log.push_back(line);
    tokens.push_back(transaction);
    changes.push_back(c);
  }
  bool committing(const void* transaction) noexcept override {
    log.push_back("committing");
    tokens.push_back(transaction);
    return whenCommitting();
  }
  void committed(const void* transaction) noexcept override {
    log.push_back("committed");
    tokens.push_back(transaction);
    whenCommitted();
  }
  void rolledBack(const void* transaction) noexcept override {
    log.push_back("rolledBack");
    tokens.push_back(transaction);
  }
  bool oneToken() const {
    return !tokens.empty() &&
           std::all_of(tokens.begin(), tokens.end(), [&](const void* t) { return t == tokens[0]; });
  }
};

class Changes : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    createDatabase(dm_.sqlcon1);
    SQLConnection& c = dm_.sqlcon1;
    c.executeDirect(
        "INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, PRECOFINAL, UFCONSELHO) VALUES ('01', 1, 'Ana', 10.5, "
        "'SP')");
    c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, PRECOFINAL) VALUES ('01', 2, 'Bia', 3)");
    c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('02', 1, 'Caio')");
    c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('02', 2, 'Davi')");
    const char* items[] = {"'01', 1, 1, 1, 'OLEO D''AGUA', NULL, 1.25",
                           "'01', 1, 1, 2, 'OLEO D''AGUA', 'X1', 2",
                           "'01', 2, 1, 1, 'OLEO D''AGUA', 'Z9', 0.5", "'01', 2, 1, 2, 'UREIA', 'U1', 3"};
    for (const char* v : items)
      c.executeDirect(
          std::string("INSERT INTO COMPEDID (ESTACAO, NPEDIDO, NFORMULA, ITEM, COMPONENTE, CODIGOCOMP, "
                      "QUANTIDADE) VALUES (") +
          v + ")");
    c.executeDirect("INSERT INTO CONFIG (USARPRECOMOV, CODLIVRO, LOJA) VALUES ('SIM', 7, 3)");
    SetServerChangeSink(&sink_);
  }
  void TearDown() override { SetServerChangeSink(nullptr); }

  // Every column of a table's rows, as a fresh connection reads them.
  std::vector<std::string> dump(const std::string& table, const std::string& order) {
    SQLConnection c("dump");
    c.params() = dm_.sqlcon1.params();
    SQLDataSet q("q", c);
    q.setCommandText("select * from " + table + " order by " + order);
    ClientDataSet ds("ds", q, {});
    ds.open();
    std::vector<std::string> out;
    for (ds.first(); !ds.eof(); ds.next()) {
      std::string row;
      for (int i = 0; i < ds.fieldCount(); ++i)
        row += (ds.field(i).isNull() ? "<null>" : ds.field(i).asString()) + "|";
      out.push_back(row);
    }
    ds.closeDiscarding();
    return out;
  }

  TDM dm_{ui_};
  CollectingSink sink_;
};

TEST_P(Changes, AppliedChangesReportTheColumnsThatReallyChanged) {
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText(
      "select ESTACAO, NPEDIDO, NOME, PRECOFINAL, UFCONSELHO from PEDIDOS order by ESTACAO, NPEDIDO");
  ClientDataSet ds("ds", q, {"ESTACAO", "NPEDIDO"});
  std::vector<std::string> refused;
  ds.onReconcileError = [&](ClientDataSet&, const Exception& e) { refused.push_back(e.message()); };
  ds.open();
  // 01/1: the name and a fixed-length text change, the price is set to what it was.
  ds.edit();
  ds.fieldByName("NOME").setString("Ana Maria");
  ds.fieldByName("PRECOFINAL").setString("10,5");
  ds.fieldByName("UFCONSELHO").setString("R");
  ds.post();
  // 01/2: set to what it holds: applied, nothing to report.
  ds.next();
  ds.edit();
  ds.fieldByName("NOME").setString("Bia");
  ds.post();
  // 02/1: gone from the server before the apply: refused, nothing reported.
  ds.next();
  ds.edit();
  ds.fieldByName("NOME").setString("Caio Lima");
  ds.post();
  // 02/2: a value set to NULL.
  ds.next();
  ds.edit();
  ds.fieldByName("NOME").clear();
  ds.post();
  SetServerChangeSink(nullptr);
  dm_.sqlcon1.executeDirect("DELETE FROM PEDIDOS WHERE ESTACAO = '02' AND NPEDIDO = 1");
  SetServerChangeSink(&sink_);

  EXPECT_EQ(ds.applyUpdates(-1), 1);
  EXPECT_EQ(refused,
            (std::vector<std::string>{"Registro não encontrado ou alterado por outro usuário."_cp.data()}));
  EXPECT_EQ(sink_.log,
            (std::vector<std::string>{
                "U PEDIDOS ESTACAO='01';NPEDIDO='1' | NOME: 'Ana' -> 'Ana Maria' UFCONSELHO: 'SP' -> 'R '",
                "U PEDIDOS ESTACAO='02';NPEDIDO='2' | NOME: 'Davi' -> <null>",
                "committing",
                "committed",
            }));
  EXPECT_TRUE(sink_.oneToken());
  EXPECT_EQ(dump("PEDIDOS", "ESTACAO, NPEDIDO").size(), 3u);
  EXPECT_EQ(column("select UFCONSELHO || '.' from PEDIDOS where NPEDIDO = 1"),
            (std::vector<std::string>{"R ."}));
}

TEST_P(Changes, ExecuteDirectReportsEveryRowItChangesWithItsKey) {
  SQLConnection& c = dm_.sqlcon1;
  // One order by its key, as the book codes write it.
  EXPECT_EQ(c.executeDirect("Update Pedidos Set CodLivro = 12 where Estacao = '01' and Npedido = 2"), 1);
  EXPECT_EQ(c.executeDirect("Update Pedidos Set CodLivro = 13 where Estacao = '01' and Npedido = 99"), 0);
  // Every line of a component, quotes doubled; a line that has the code already is left out.
  EXPECT_EQ(c.executeDirect("UPDATE COMPEDID set CODIGOCOMP = 'X1' WHERE COMPONENTE = 'OLEO D''AGUA'"), 3);
  // No key: every column is the key.
  EXPECT_EQ(c.executeDirect("UPDATE CONFIG SET CODLIVRO = '42'"), 1);
  // An expression: the values are read again after the statement.
  EXPECT_EQ(c.executeDirect("update COMPEDID set QUANTIDADE = QUANTIDADE * 2, UNIDADE = 'g' where ITEM = 1"),
            2);
  std::string configKey;
  for (std::string col : {"USARPRECOMOV",
                          "CORFUNDO",
                          "DIRETORIOPRINCIPAL",
                          "ULTIMONPEDIDO",
                          "ULTIMOCODCLIENTE",
                          "ULTIMONCUPOM",
                          "ECF",
                          "PORTASERIAL",
                          "ULTIMOCODIGO",
                          "ACESSAESTOQUEATUAL",
                          "DESCRICAOPM",
                          "CODTRIBUTPM",
                          "GAVETA",
                          "LOJA",
                          "FONTE",
                          "ESTILO",
                          "TAMANHO",
                          "COR",
                          "CAIXA",
                          "ULTIMOLOTE",
                          "FS_CODPESSOAS",
                          "FS_CODPRODUTOS",
                          "FS_CODPEDIDOS",
                          "FS_CODPEDIDOSIT",
                          "CODLIVRO"})
    configKey += (configKey.empty() ? "" : ";") + col + "=" +
                 (col == "USARPRECOMOV" ? "'SIM'"
                  : col == "LOJA"       ? "'3'"
                  : col == "CODLIVRO"   ? "'7'"
                                        : "<null>");
  const std::string k1 = "ESTACAO='01';NPEDIDO='1';NFORMULA='1';ITEM='1'";
  const std::string k3 = "ESTACAO='01';NPEDIDO='2';NFORMULA='1';ITEM='1'";
  EXPECT_EQ(sink_.log, (std::vector<std::string>{
                           "U PEDIDOS ESTACAO='01';NPEDIDO='2' | CODLIVRO: <null> -> '12'", "committing",
                           "committed", "U COMPEDID " + k1 + " | CODIGOCOMP: <null> -> 'X1'",
                           "U COMPEDID " + k3 + " | CODIGOCOMP: 'Z9' -> 'X1'", "committing", "committed",
                           "U CONFIG " + configKey + " | CODLIVRO: '7' -> '42'", "committing", "committed",
                           "U COMPEDID " + k1 + " | QUANTIDADE: '1.2500' -> '2.5000' UNIDADE: <null> -> 'g'",
                           "U COMPEDID " + k3 + " | QUANTIDADE: '0.5000' -> '1.0000' UNIDADE: <null> -> 'g'",
                           "committing", "committed"}));
  EXPECT_EQ(column("select CODIGOCOMP from COMPEDID order by NPEDIDO, ITEM"),
            (std::vector<std::string>{"X1", "X1", "X1", "U1"}));

  // A grouped statement reports under the group's transaction; a group rolled back says so.
  sink_.log.clear();
  sink_.tokens.clear();
  {
    StatementGroup group(c, 100, 60000);
    c.executeDirect("UPDATE PEDIDOS SET NOME = 'Zeca' WHERE NPEDIDO = 1");
    c.executeDirect("UPDATE PEDIDOS SET NOME = 'Zeca' WHERE NPEDIDO = 1");
    group.rollback();
    group.end();
  }
  EXPECT_EQ(sink_.log, (std::vector<std::string>{
                           "U PEDIDOS ESTACAO='01';NPEDIDO='1' | NOME: 'Ana' -> 'Zeca'",
                           "U PEDIDOS ESTACAO='02';NPEDIDO='1' | NOME: 'Caio' -> 'Zeca'", "rolledBack"}));
  EXPECT_TRUE(sink_.oneToken());
  EXPECT_EQ(column("select NOME from PEDIDOS where NPEDIDO = 1 order by ESTACAO"),
            (std::vector<std::string>{"Ana", "Caio"}));
}

// A statement of literal values writes only the rows they change: the others
// keep their record version (no lock on them, nothing for the server to
// clean up), and it still counts every row it matched. Written in parts, it
// is undone whole when a part fails, inside a group that goes on.
TEST_P(Changes, AStatementOfValuesWritesOnlyTheRowsItChangesAndIsUndoneWhole) {
  SQLConnection& c = dm_.sqlcon1;
  const std::string versions = "select RDB$RECORD_VERSION from COMPEDID order by NPEDIDO, ITEM";
  const std::vector<std::string> before = column(versions);
  EXPECT_EQ(c.executeDirect("UPDATE COMPEDID set CODIGOCOMP = 'X1' WHERE COMPONENTE = 'OLEO D''AGUA'"), 3);
  const std::vector<std::string> after = column(versions);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_NE(after[0], before[0]);  // NULL -> X1
  EXPECT_EQ(after[1], before[1]);  // X1 already
  EXPECT_NE(after[2], before[2]);  // Z9 -> X1
  EXPECT_EQ(after[3], before[3]);  // another component
  EXPECT_EQ(column("select coalesce(CODIGOCOMP, '-') from COMPEDID order by NPEDIDO, ITEM"),
            (std::vector<std::string>{"X1", "X1", "X1", "U1"}));
  // Nothing to change: nothing written, every row counted.
  EXPECT_EQ(c.executeDirect("UPDATE COMPEDID set CODIGOCOMP = 'X1' WHERE COMPONENTE = 'OLEO D''AGUA'"), 3);
  EXPECT_EQ(column(versions), after);

  // 1,200 lines of one component: three parts. A check the line of item
  // 1,100 fails makes the statement fail whole; the group keeps the
  // statement before it.
  SetServerChangeSink(nullptr);
  c.executeDirect(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 1200) DO BEGIN "
      "INSERT INTO COMPEDID (ESTACAO, NPEDIDO, NFORMULA, ITEM, COMPONENTE, CODIGOCOMP) "
      "VALUES ('03', 1, 1, :I, 'MUITOS', IIF(MOD(:I, 3) = 0, 'M1', 'M0')); I = I + 1; END END");
  c.executeDirect(
      "ALTER TABLE COMPEDID ADD CONSTRAINT CK_TESTE CHECK (CODIGOCOMP <> 'RUIM' OR ITEM <> 1100)");
  SetServerChangeSink(&sink_);
  EXPECT_EQ(c.executeDirect("UPDATE COMPEDID set CODIGOCOMP = 'M1' WHERE COMPONENTE = 'MUITOS'"), 1200);
  EXPECT_EQ(column("select count(*) from COMPEDID where CODIGOCOMP = 'M1'"),
            (std::vector<std::string>{"1200"}));
  sink_.log.clear();
  {
    StatementGroup group(c, 100, 60000);
    c.executeDirect("UPDATE COMPEDID set CODIGOCOMP = 'U2' WHERE COMPONENTE = 'UREIA'");
    EXPECT_THROW(c.executeDirect("UPDATE COMPEDID set CODIGOCOMP = 'RUIM' WHERE COMPONENTE = 'MUITOS'"),
                 ESQLError);
    group.end();
  }
  EXPECT_EQ(column("select CODIGOCOMP || ':' || count(*) from COMPEDID where NPEDIDO = 1 or ESTACAO = '03' "
                   "or COMPONENTE = 'UREIA' group by CODIGOCOMP order by 1"),
            (std::vector<std::string>{"M1:1200", "U2:1", "X1:2"}));
  ASSERT_FALSE(sink_.log.empty());
  EXPECT_EQ(sink_.log[0],
            "U COMPEDID ESTACAO='01';NPEDIDO='2';NFORMULA='1';ITEM='2' | CODIGOCOMP: 'U1' -> 'U2'");
  EXPECT_EQ(std::count(sink_.log.begin(), sink_.log.end(), "committed"), 1);
}

TEST_P(Changes, TheSinkHearsOfTheCommitBeforeAndAfterItAndCanRefuseIt) {
  std::vector<std::string> seenCommitting, seenCommitted;
  sink_.whenCommitting = [&] {
    seenCommitting = column("select NOME from PEDIDOS where ESTACAO = '02' and NPEDIDO = 2");
    return true;
  };
  sink_.whenCommitted = [&] {
    seenCommitted = column("select NOME from PEDIDOS where ESTACAO = '02' and NPEDIDO = 2");
  };
  dm_.sqlcon1.executeDirect("UPDATE PEDIDOS SET NOME = 'Davi Reis' WHERE ESTACAO = '02' AND NPEDIDO = 2");
  EXPECT_EQ(seenCommitting, (std::vector<std::string>{"Davi"}));
  EXPECT_EQ(seenCommitted, (std::vector<std::string>{"Davi Reis"}));

  // Refused: rolled back, and the caller hears why.
  sink_.log.clear();
  sink_.whenCommitting = [] { return false; };
  try {
    dm_.sqlcon1.executeDirect("UPDATE PEDIDOS SET NOME = 'Outro' WHERE ESTACAO = '02' AND NPEDIDO = 2");
    ADD_FAILURE() << "the commit went on";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(),
              "O histórico de alterações não pôde ser gravado; nada foi alterado no servidor."_cp);
  }
  EXPECT_EQ(sink_.log,
            (std::vector<std::string>{"U PEDIDOS ESTACAO='02';NPEDIDO='2' | NOME: 'Davi Reis' -> 'Outro'",
                                      "committing", "rolledBack"}));
  EXPECT_EQ(column("select NOME from PEDIDOS where ESTACAO = '02' and NPEDIDO = 2"),
            (std::vector<std::string>{"Davi Reis"}));
}

TEST_P(Changes, OnlyAnUpdateIsSentWhileTheSinkListens) {
  const std::string insert = "INSERT INTO PEDIDOS (ESTACAO, NPEDIDO) VALUES ('09', 9)";
  const std::vector<std::string> refusedTexts = {
      insert, "UPDATE PEDIDOS SET NOME = 'x' -- comentário"_cp.data(), "UPDATE PEDIDOS SET NOME = 'x' ROWS 1",
      "DELETE FROM PEDIDOS"};
  for (const std::string& sql : refusedTexts) {
    try {
      dm_.sqlcon1.executeDirect(sql);
      ADD_FAILURE() << sql;
    } catch (const ESQLError& e) {
      EXPECT_EQ(e.message(), "Instrução não registrável no histórico: "_cp.data() + sql);
    }
  }
  EXPECT_TRUE(sink_.log.empty());
  EXPECT_EQ(dump("PEDIDOS", "ESTACAO, NPEDIDO").size(), 4u);
  // A statement the server refuses keeps the server's text.
  EXPECT_THROW(dm_.sqlcon1.executeDirect("UPDATE PEDIDOS SET NAOEXISTE = 1"), ESQLError);
  SetServerChangeSink(nullptr);
  EXPECT_EQ(dm_.sqlcon1.executeDirect(insert), 1);
}

TEST_P(Changes, TheWriterPutsARowBackExactlyUnderItsLock) {
  const std::vector<std::string> before = dump("PEDIDOS", "ESTACAO, NPEDIDO");
  dm_.sqlcon1.executeDirect(
      "UPDATE PEDIDOS SET NOME = 'Ana B', PRECOFINAL = PRECOFINAL + 1, UFCONSELHO = NULL "
      "WHERE ESTACAO = '01' AND NPEDIDO = 1");
  ASSERT_EQ(sink_.changes.size(), 1u);
  const ServerRowChange made = sink_.changes[0];
  EXPECT_EQ(made.before, (std::vector<SQLValue>{"Ana", "10.50", "SP"}));
  EXPECT_NE(dump("PEDIDOS", "ESTACAO, NPEDIDO"), before);
  sink_.log.clear();
  {
    ServerRowWriter w(dm_.sqlcon1);
    EXPECT_EQ(w.primaryKey("PEDIDOS"), (std::vector<std::string>{"ESTACAO", "NPEDIDO"}));
    EXPECT_TRUE(w.primaryKey("CONFIG").empty());
    auto now = w.read("PEDIDOS", made.keyColumns, made.key, made.columns);
    ASSERT_TRUE(now);
    EXPECT_EQ(*now, made.after);
    // Locked for the writer: another connection that does not wait is refused.
    SQLConnection other("other");
    other.params() = dm_.sqlcon1.params();
    other.setParam("WaitOnLocks", "False");
    EXPECT_THROW(other.executeDirect("UPDATE PEDIDOS SET NOME = 'x' WHERE ESTACAO = '01' AND NPEDIDO = 1"),
                 ESQLError);
    EXPECT_EQ(w.update("PEDIDOS", made.keyColumns, made.key, made.columns, made.before), 1);
    EXPECT_THROW(w.read("COMPEDID", {"COMPONENTE"}, {"OLEO D'AGUA"}, {"ITEM"}), ESQLError);  // three rows
    EXPECT_FALSE(w.read("PEDIDOS", {"ESTACAO", "NPEDIDO"}, {"07", "1"}, {"NOME"}));
    w.commit();
  }
  EXPECT_EQ(dump("PEDIDOS", "ESTACAO, NPEDIDO"), before);
  EXPECT_EQ(sink_.log,
            (std::vector<std::string>{"U PEDIDOS ESTACAO='01';NPEDIDO='1' | NOME: 'Ana B' -> 'Ana' "
                                      "PRECOFINAL: '11.50' -> '10.50' UFCONSELHO: <null> -> 'SP'",
                                      "committing", "committed"}));

  // Inserted and removed rows are reported whole; a writer left uncommitted rolls back.
  sink_.log.clear();
  {
    ServerRowWriter w(dm_.sqlcon1);
    w.insert("CONFIG", {"CODLIVRO"}, {"8"});
    EXPECT_EQ(w.remove("PEDIDOS", {"ESTACAO", "NPEDIDO"}, {"02", "2"}), 1);
  }
  ASSERT_EQ(sink_.changes.size(), 4u);  // after the change and its undo
  const ServerRowChange& added = sink_.changes[2];
  EXPECT_EQ(added.op, ServerRowChange::Op::Insert);
  EXPECT_EQ(added.columns.size(), 25u);
  EXPECT_EQ(added.after.back(), SQLValue("8"));
  const ServerRowChange& removed = sink_.changes[3];
  EXPECT_EQ(removed.op, ServerRowChange::Op::Delete);
  EXPECT_EQ(removed.key, (std::vector<SQLValue>{"02", "2"}));
  EXPECT_EQ(removed.before.size(), 62u);
  EXPECT_EQ(removed.before[2], SQLValue("Davi"));
  EXPECT_EQ(sink_.log.back(), "rolledBack");
  EXPECT_EQ(dump("PEDIDOS", "ESTACAO, NPEDIDO"), before);
  EXPECT_EQ(column("select count(*) from CONFIG"), (std::vector<std::string>{"1"}));
}

INSTANTIATE_TEST_SUITE_P(Transports, Changes, ::testing::Values(Transport::Embedded, Transport::Server),
                         sqltest::transportName);

}  // namespace
