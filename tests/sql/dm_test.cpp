// The data module against a real database (embedded and through the test
// server): its parameters, statements, field objects and handlers.
#include "server_fixture.h"

using namespace cg;
using sqltest::ServerTest;
using sqltest::Transport;

namespace {

class DataModule : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    createDatabase(dm_.sqlcon1);
  }
  void exec(const std::string& sql) { dm_.sqlcon1.executeDirect(sql); }

  TDM dm_{ui_};
};

TEST(DataModuleParameters, TheConnectionCarriesItsParametersInOrderWithTheDatabaseReplaced) {
  sqltest::RecordingUI ui;
  TDM dm(ui);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"DriverName", "Interbase"},
      {"Database", "127.0.0.1:C:\\vitralon\\dados\\vitralon.bd"},
      {"RoleName", "RoleName"},
      {"User_Name", "sysdba"},
      {"Password", "corvidane"},
      {"ServerCharSet", "WIN1252"},
      {"SQLDialect", "3"},
      {"ErrorResourceFile", ""},
      {"LocaleCode", "0000"},
      {"BlobSize", "-1"},
      {"CommitRetain", "False"},
      {"WaitOnLocks", "True"},
      {"Interbase TransIsolation", "ReadCommited"},
      {"Trim Char", "False"}};
  EXPECT_EQ(dm.sqlcon1.params(), expected);
  // Creating it again replaces the line once more instead of adding one.
  dm.sqlcon1.setParam("DATABASE", "x");
  dm.DataModuleCreate();
  EXPECT_EQ(dm.sqlcon1.params(), expected);
  EXPECT_FALSE(dm.sqlcon1.connected());
  EXPECT_EQ(dm.sqlcon1.connectionName, "IBConnection");
  EXPECT_EQ(dm.sqlcon1.getDriverFunc, "getSQLDriverINTERBASE");
  EXPECT_FALSE(dm.sqlcon1.loginPrompt);
}

TEST_P(DataModule, TheOrdersStatementSelectsTheSixtyTwoColumnsInOrder) {
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('02', 1, 'B')");
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('01', 9, 'A')");
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('01', 2, 'C')");
  EXPECT_EQ(dm_.sqldsPedidos.commandText().substr(0, 23), "select ESTACAO, NPEDIDO");
  dm_.cdsPedidos.open();
  ASSERT_EQ(dm_.cdsPedidos.fieldCount(), 62);
  EXPECT_EQ(dm_.cdsPedidos.field(2).fieldName(), "NOME");
  EXPECT_EQ(dm_.cdsPedidos.field(61).fieldName(), "CODLIVRO");
  std::vector<std::string> keys;
  for (dm_.cdsPedidos.first(); !dm_.cdsPedidos.eof(); dm_.cdsPedidos.next())
    keys.push_back(dm_.cdsPedidosESTACAO->asString() + "." + dm_.cdsPedidosNPEDIDO->asString());
  EXPECT_EQ(keys, (std::vector<std::string>{"01.2", "01.9", "02.1"}));
}

TEST_P(DataModule, AReplacedOrdersStatementStaysInPlace) {
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME, MEDICO) VALUES ('01', 1, 'JOSE', 'DR')");
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('01', 2, NULL)");
  const std::string replaced =
      "Select * from pedidos where (Medico is not null) and (Codlivro is null) order by Estacao,Npedido";
  dm_.sqldsPedidos.close();
  dm_.sqldsPedidos.setCommandText("");
  dm_.sqldsPedidos.setCommandText(replaced);
  dm_.sqldsPedidos.open();
  EXPECT_THROW(dm_.sqldsPedidos.setCommandText("select 1 from rdb$database"), EDatabaseError);
  dm_.cdsPedidos.open();
  EXPECT_EQ(dm_.cdsPedidos.recordCount(), 1);
  EXPECT_EQ(dm_.cdsPedidos.fieldByName("Nome").asString(), "JOSE");
  dm_.sqldsPedidos.close();
  dm_.cdsPedidos.close();
  EXPECT_EQ(dm_.sqldsPedidos.commandText(), replaced);
  dm_.cdsPedidos.open();  // the next user gets the same selection
  EXPECT_EQ(dm_.cdsPedidos.recordCount(), 1);
}

TEST_P(DataModule, OrdersAppliedRowByRowWithALongNameCutToForty) {
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('01', 1, 'A')");
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO, NOME) VALUES ('01', 2, '')");
  ClientDataSet& ds = dm_.cdsPedidos;
  ds.open();
  for (ds.first(); !ds.eof(); ds.next()) {
    ds.edit();
    ds.fieldByName("Nome").setString(ds.fieldByName("Nome").asString() + std::string(45, 'x'));
    ds.post();
    EXPECT_EQ(ds.applyUpdates(0), 0);
    EXPECT_EQ(ds.changeCount(), 0);
  }
  ds.close();
  EXPECT_EQ(column("select NOME from PEDIDOS order by NPEDIDO"),
            (std::vector<std::string>{"A" + std::string(39, 'x'), std::string(40, 'x')}));
}

TEST_P(DataModule, AFormulaPostWithoutItsKeyShowsOneAndTheErrorStands) {
  exec("INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (1, 'ALFA')");
  dm_.Formulas.open();
  dm_.Formulas.edit();
  dm_.Formulas.fieldByName("CodigoForm").clear();
  try {
    dm_.Formulas.post();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.message(), "O campo 'CODIGOFORM' precisa ter um valor."_cp);
  }
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{"1) O campo 'CODIGOFORM' precisa ter um valor."_cp.data()}));
  EXPECT_TRUE(dm_.Formulas.editing());
  dm_.Formulas.cancel();
  EXPECT_EQ(dm_.Formulas.fieldByName("CODIGOFORM").asInteger(), 1);
  dm_.Formulas.close();
  EXPECT_EQ(dm_.Formulas.changeCount(), 0);
}

TEST_P(DataModule, ComponentAndSupplierPostErrorsShowTheMessageAloneOrdersShowNothing) {
  exec("INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('1', 'A')");
  exec("INSERT INTO FORNECED (CODIGO, CNPJ) VALUES ('1', '1')");
  exec("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO) VALUES ('01', 1)");
  for (ClientDataSet* ds : {&dm_.cds_Componentes, &dm_.Forneced}) {
    ds->open();
    ds->edit();
    ds->fieldByName("CODIGO").clear();
    EXPECT_THROW(ds->post(), EDatabaseError);
    ds->cancel();
    ds->close();
  }
  dm_.cdsPedidos.open();
  dm_.cdsPedidos.edit();
  dm_.cdsPedidosNPEDIDO->clear();
  EXPECT_THROW(dm_.cdsPedidos.post(), EDatabaseError);
  dm_.cdsPedidos.cancel();
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"O campo 'CODIGO' precisa ter um valor."_cp.data(),
                                                    "O campo 'CODIGO' precisa ter um valor."_cp.data()}));
}

TEST_P(DataModule, AFormulaNameRefusedAtCloseIsCountedNeverSentAgainAndTheRestIsSent) {
  exec("INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (1, 'ALFA')");
  exec("INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (2, 'BETA')");
  exec("INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (3, 'GAMA')");
  ClientDataSet& ds = dm_.Formulas;
  ds.open();
  const char* renamed[] = {"Alfa", "GAMA", "Gama"};  // BETA would take GAMA's name
  int i = 0;
  for (ds.first(); !ds.eof(); ds.next()) {
    ds.edit();
    ds.fieldByName("Formula").setString(renamed[i++]);
    ds.post();
  }
  // The close applies in rounds: each round stops at a refusal and drops
  // it, the next sends what follows. The refused name is counted with the
  // server's message, for the operation to report, after the data module's
  // own "2) " message; it used to stop the close with the name after it
  // still pending, on every run.
  ds.close();
  EXPECT_FALSE(ds.active());
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].substr(0, 3), "2) ");
  EXPECT_NE(ui_.messages[0].find("violation of PRIMARY or UNIQUE KEY constraint \"UQ_FORMULAS_FORMULA\""),
            std::string::npos)
      << ui_.messages[0];
  EXPECT_EQ(column("select FORMULA from FORMULAS order by CODIGOFORM"),
            (std::vector<std::string>{"Alfa", "BETA", "Gama"}));
  TDM::Refusals r = dm_.takeRefusals();
  EXPECT_EQ(r.count, 1);
  EXPECT_NE(r.firstMessage.find("violation of PRIMARY or UNIQUE KEY constraint \"UQ_FORMULAS_FORMULA\""),
            std::string::npos)
      << r.firstMessage;
  EXPECT_TRUE(r.lostConnection.empty());

  // The refused name is never sent again.
  ds.open();
  ds.close();
  EXPECT_EQ(dm_.takeRefusals().count, 0);
  EXPECT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(column("select FORMULA from FORMULAS order by CODIGOFORM"),
            (std::vector<std::string>{"Alfa", "BETA", "Gama"}));
}

TEST_P(DataModule, RefusalsAtTheCloseOfComponentsAndSuppliersAreCountedAndTheRestIsSent) {
  exec("INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('1', 'ACIDO')");
  exec("INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('2', 'BASE')");
  exec("INSERT INTO COMPONEN (CODIGO, COMPONENTE) VALUES ('3', 'CERA')");
  ClientDataSet& ds = dm_.cds_Componentes;
  ds.open();
  const char* renamed[] = {"Acido", "CERA", "Cera"};
  int i = 0;
  for (; !ds.eof(); ds.next()) {
    ds.edit();
    dm_.cds_ComponentesCOMPONENTE->setString(renamed[i++]);
    ds.post();
  }
  ds.close();  // quietly
  EXPECT_FALSE(ds.active());
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(column("select COMPONENTE from COMPONEN order by CODIGO"),
            (std::vector<std::string>{"Acido", "BASE", "Cera"}));
  TDM::Refusals r = dm_.takeRefusals();
  EXPECT_EQ(r.count, 1);
  EXPECT_NE(r.firstMessage.find("UQ_COMPONEN_COMPONENTE"), std::string::npos) << r.firstMessage;
  EXPECT_EQ(dm_.takeRefusals().count, 0);

  // A supplier deleted by another user after the open.
  exec("INSERT INTO FORNECED (CODIGO, CNPJ) VALUES ('1', '11.222.333/0001-81')");
  exec("INSERT INTO FORNECED (CODIGO, CNPJ) VALUES ('2', '12.ABC.345/01DE-35')");
  dm_.Forneced.open();
  exec("DELETE FROM FORNECED WHERE CODIGO = '1'");
  for (; !dm_.Forneced.eof(); dm_.Forneced.next()) {
    dm_.Forneced.edit();
    dm_.FornecedCNPJ->setString("0");
    dm_.Forneced.post();
  }
  dm_.Forneced.close();
  EXPECT_FALSE(dm_.Forneced.active());
  r = dm_.takeRefusals();
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.firstMessage, "Registro não encontrado ou alterado por outro usuário."_cp);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(column("select CNPJ from FORNECED"), (std::vector<std::string>{"0"}));
}

TEST_P(DataModule, TheConfigurationBookCodeReadsAsZeroWhenEmpty) {
  exec("INSERT INTO CONFIG (USARPRECOMOV, CODLIVRO) VALUES ('SIM', NULL)");
  dm_.cds_ConfigServidor.open();
  EXPECT_EQ(dm_.cds_ConfigServidor.fieldCount(), 25);
  EXPECT_EQ(dm_.cds_ConfigServidorCODLIVRO->asInteger(), 0);
  EXPECT_TRUE(dm_.cds_ConfigServidorCODLIVRO->isNull());
  dm_.cds_ConfigServidor.close();
  EXPECT_EQ(dm_.sqlcon1.executeDirect("UPDATE CONFIG SET CODLIVRO = '44'"), 1);
  dm_.cds_ConfigServidor.open();
  EXPECT_EQ(dm_.cds_ConfigServidorCODLIVRO->asInteger(), 44);
}

TEST_P(DataModule, ClosingAllWithoutApplyDropsPendingChanges) {
  exec("INSERT INTO FORNECED (CODIGO, CNPJ) VALUES ('1', '1.2')");
  exec("INSERT INTO FORMULAS (CODIGOFORM, FORMULA) VALUES (1, 'ALFA')");
  dm_.Forneced.open();
  dm_.Forneced.edit();
  dm_.FornecedCNPJ->setString("12");
  dm_.Forneced.post();
  dm_.Formulas.open();
  dm_.Formulas.edit();
  dm_.Formulas.fieldByName("FORMULA").setString("Alfa");
  dm_.Formulas.post();
  dm_.closeAllWithoutApply();
  EXPECT_FALSE(dm_.Forneced.active());
  EXPECT_FALSE(dm_.Formulas.active());
  EXPECT_EQ(column("select CNPJ from FORNECED"), (std::vector<std::string>{"1.2"}));
  EXPECT_EQ(column("select FORMULA from FORMULAS"), (std::vector<std::string>{"ALFA"}));
  EXPECT_EQ(dm_.takeRefusals().count, 0);
}

INSTANTIATE_TEST_SUITE_P(Transports, DataModule, ::testing::Values(Transport::Embedded, Transport::Server),
                         sqltest::transportName);

}  // namespace
