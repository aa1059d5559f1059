// The SQL driver against a real Firebird database, embedded and through the
// test server: connection, fetch, texts in CP1252, edits, apply, errors.
#include <algorithm>

#include "server_fixture.h"

using namespace cg;
using sqltest::ServerTest;
using sqltest::Transport;

namespace {

// Every byte from 128 to 255, in order.
std::string highBytes() {
  std::string s;
  for (int b = 128; b < 256; ++b) s.push_back(static_cast<char>(b));
  return s;
}

class Driver : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    createDatabase(dm_.sqlcon1);
    dm_.sqlcon1.executeDirect(
        "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, TXT VARCHAR(200), N INTEGER, "
        "D DECIMAL(15,8), DT DATE, TS TIMESTAMP, C CHAR(3), MEMO BLOB SUB_TYPE TEXT)");
  }
  TDM dm_{ui_};
};

TEST_P(Driver, TextsTravelAsCp1252BytesBothWaysAndNullsStayNull) {
  const std::string bytes = highBytes();
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT, N, MEMO) VALUES (1, '" + bytes + "', NULL, '" + bytes +
                            "')");
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT, N) VALUES (2, NULL, 7)");

  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, TXT, N, MEMO from T order by ID");
  ClientDataSet ds("ds", q, {"ID"});
  ds.open();
  ASSERT_EQ(ds.recordCount(), 2);
  EXPECT_EQ(ds.fieldByName("txt").asString(), bytes);
  EXPECT_EQ(ds.fieldByName("MEMO").asString(), bytes);
  EXPECT_TRUE(ds.fieldByName("N").isNull());
  EXPECT_EQ(ds.fieldByName("N").asInteger(), 0);
  EXPECT_EQ(ds.fieldByName("N").asString(), "");
  ds.next();
  EXPECT_TRUE(ds.fieldByName("TXT").isNull());
  EXPECT_EQ(ds.fieldByName("N").asInteger(), 7);

  // Back to the server: the reversed bytes through a parameterised UPDATE.
  std::string reversed(bytes.rbegin(), bytes.rend());
  ds.first();
  ds.edit();
  ds.fieldByName("TXT").setString(reversed);
  ds.post();
  ds.next();
  ds.edit();
  ds.fieldByName("N").clear();
  ds.post();
  EXPECT_EQ(ds.changeCount(), 2);
  EXPECT_EQ(ds.applyUpdates(0), 0);
  EXPECT_EQ(ds.changeCount(), 0);
  ds.closeDiscarding();

  EXPECT_EQ(column("select TXT from T order by ID"), (std::vector<std::string>{reversed, "<null>"}));
  EXPECT_EQ(column("select N from T order by ID"), (std::vector<std::string>{"<null>", "<null>"}));
  // The server itself sees single bytes: 128 characters, the first one 0x80.
  EXPECT_EQ(column("select CHAR_LENGTH(TXT) from T where ID = 1"), (std::vector<std::string>{"128"}));
  EXPECT_EQ(column("select ASCII_VAL(TXT) from T where ID = 1"), (std::vector<std::string>{"255"}));
}

TEST_P(Driver, ValuesOfEveryKindReadAsPtBrText) {
  dm_.sqlcon1.executeDirect(
      "INSERT INTO T (ID, D, DT, TS, C) VALUES (1, 12.5, '2024-01-31', '2024-01-31 10:20:30', 'AB')");
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, D, DT, TS, C from T");
  ClientDataSet ds("ds", q, {"ID"});
  ds.open();
  EXPECT_EQ(ds.fieldByName("D").asString(), "12,5");
  EXPECT_DOUBLE_EQ(ds.fieldByName("D").asFloat(), 12.5);
  EXPECT_EQ(ds.fieldByName("DT").asString(), "31/01/2024");
  EXPECT_EQ(ds.fieldByName("TS").asString(), "31/01/2024 10:20:30");
  EXPECT_EQ(ds.fieldByName("C").asString(), "AB ");  // fixed-length text keeps its blanks
  EXPECT_EQ(ds.fieldByName("ID").type(), SQLFieldType::Integer);
  EXPECT_EQ(ds.fieldByName("D").type(), SQLFieldType::Decimal);
  EXPECT_EQ(ds.fieldByName("C").size(), 3);

  ds.edit();
  ds.fieldByName("D").setString("0,125");
  ds.fieldByName("DT").setString("29/02/2020");
  ds.post();
  ds.applyUpdates(0);
  ds.closeDiscarding();
  EXPECT_EQ(column("select CAST(D AS VARCHAR(30)) from T"), (std::vector<std::string>{"0.12500000"}));
  EXPECT_EQ(column("select CAST(DT AS VARCHAR(30)) from T"), (std::vector<std::string>{"2020-02-29"}));
}

TEST_P(Driver, ApplySendsOnlyTheAssignedColumnsOfEveryChangedRow) {
  for (int id = 1; id <= 4; ++id)
    dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT, N) VALUES (" + std::to_string(id) + ", 'T" +
                              std::to_string(id) + "', " + std::to_string(id * 10) + ")");
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, TXT, N from T order by ID");
  ClientDataSet ds("ds", q, {"ID"});
  ds.open();
  for (ds.first(); !ds.eof(); ds.next()) {
    if (ds.fieldByName("ID").asInteger() == 3) continue;
    ds.edit();
    ds.fieldByName("TXT").setString("novo " + ds.fieldByName("TXT").asString());
    ds.post();
  }
  EXPECT_EQ(ds.changeCount(), 3);
  // Another user changes N meanwhile: the apply must not put the old N back.
  dm_.sqlcon1.executeDirect("UPDATE T SET N = N + 1");
  EXPECT_EQ(ds.applyUpdates(0), 0);
  ds.closeDiscarding();
  EXPECT_EQ(column("select TXT from T order by ID"),
            (std::vector<std::string>{"novo T1", "novo T2", "T3", "novo T4"}));
  EXPECT_EQ(column("select N from T order by ID"), (std::vector<std::string>{"11", "21", "31", "41"}));
}

TEST_P(Driver, ARowGoneFromTheServerIsARefusal) {
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT) VALUES (1, 'A')");
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, TXT from T");
  ClientDataSet ds("ds", q, {"ID"});
  std::vector<std::string> refused;
  ds.onReconcileError = [&](ClientDataSet&, const Exception& e) { refused.push_back(e.message()); };
  ds.open();
  ds.edit();
  ds.fieldByName("TXT").setString("B");
  ds.post();
  EXPECT_EQ(dm_.sqlcon1.executeDirect("DELETE FROM T"), 1);
  EXPECT_EQ(ds.applyUpdates(0), 1);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0], "Registro não encontrado ou alterado por outro usuário."_cp);
  EXPECT_EQ(ds.changeCount(), 0);
  EXPECT_EQ(ds.fieldByName("TXT").asString(), "A");  // the refused change is undone on the client
}

TEST_P(Driver, ExecuteDirectCountsRowsAndCarriesTheServersText) {
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID) VALUES (1)");
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID) VALUES (2)");
  EXPECT_EQ(dm_.sqlcon1.executeDirect("UPDATE T SET N = 5"), 2);
  EXPECT_EQ(dm_.sqlcon1.executeDirect("UPDATE T SET N = 6 WHERE ID = 99"), 0);
  try {
    dm_.sqlcon1.executeDirect("UPDATE NAOEXISTE SET N = 1");
    FAIL() << "no error";
  } catch (const ESQLError& e) {
    EXPECT_STREQ(e.className(), "ESQLError");
    EXPECT_NE(e.message().find("Table unknown"), std::string::npos) << e.message();
    EXPECT_NE(e.message().find("NAOEXISTE"), std::string::npos) << e.message();
  }
  try {
    dm_.sqlcon1.executeDirect("INSERT INTO T (ID) VALUES (1)");
    FAIL() << "no error";
  } catch (const ESQLError& e) {
    EXPECT_NE(e.message().find("violation of PRIMARY or UNIQUE KEY constraint"), std::string::npos)
        << e.message();
  }
  // The connection is still usable after the refusals.
  EXPECT_EQ(dm_.sqlcon1.executeDirect("DELETE FROM T"), 2);
}

TEST_P(Driver, DeclaredFieldsCutTextsAndConvertDecimals) {
  dm_.sqlcon1.executeDirect(
      "INSERT INTO COMPONEN (CODIGO, COMPONENTE, UNID, DESCONTO) VALUES ('1', 'A', 'GR', 5)");
  dm_.sqlcon1.executeDirect(
      "INSERT INTO COMPONEN (CODIGO, COMPONENTE, UNID, DESCONTO) VALUES ('2', 'B', 'gr ', NULL)");
  ClientDataSet& ds = dm_.cds_Componentes;
  ds.open();
  EXPECT_EQ(ds.fieldByName("Desconto").asString(), "5");
  EXPECT_DOUBLE_EQ(ds.fieldByName("Desconto").asFloat(), 5.0);
  ds.edit();
  ds.fieldByName("Unid").setString("LITROS");
  ds.fieldByName("Desconto").setString("12,34567891");  // rounded to 8 places
  EXPECT_EQ(ds.fieldByName("Unid").asString(), "LITR");
  EXPECT_THROW(ds.fieldByName("Desconto").setString("doze"), EConvertError);
  dm_.cds_ComponentesCOMPONENTE->setString(std::string(80, 'X'));
  EXPECT_EQ(dm_.cds_ComponentesCOMPONENTE->asString(), std::string(70, 'X'));
  ds.post();
  ds.next();
  EXPECT_TRUE(ds.fieldByName("Desconto").isNull());
  EXPECT_EQ(ds.fieldByName("Desconto").asFloat(), 0.0);
  EXPECT_EQ(ds.fieldByName("Unid").asString(), "gr ");
  ds.edit();
  ds.fieldByName("Desconto").setString("");  // empty text makes the decimal NULL
  ds.post();
  ds.close();
  EXPECT_EQ(column("select UNID from COMPONEN order by CODIGO"), (std::vector<std::string>{"LITR", "gr "}));
  EXPECT_EQ(column("select CAST(DESCONTO AS VARCHAR(30)) from COMPONEN order by CODIGO"),
            (std::vector<std::string>{"12.34567891", "<null>"}));
  EXPECT_EQ(column("select CHAR_LENGTH(COMPONENTE) from COMPONEN order by CODIGO"),
            (std::vector<std::string>{"70", "1"}));
}

TEST_P(Driver, FieldsNeedAnOpenDatasetAndEditMode) {
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT) VALUES (1, 'A')");
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, TXT from T");
  ClientDataSet ds("ds", q, {"ID"});
  EXPECT_THROW(ds.first(), EDatabaseError);
  ds.open();
  EXPECT_THROW(ds.fieldByName("TXT").setString("B"), EDatabaseError);
  EXPECT_THROW(ds.fieldByName("NADA"), EDatabaseError);
  ds.edit();
  ds.fieldByName("TXT").setString("B");
  ds.cancel();
  EXPECT_EQ(ds.fieldByName("TXT").asString(), "A");
  EXPECT_EQ(ds.changeCount(), 0);
  // Moving on posts a pending edit.
  ds.edit();
  ds.fieldByName("TXT").setString("C");
  ds.next();
  EXPECT_TRUE(ds.eof());
  EXPECT_EQ(ds.changeCount(), 1);
  EXPECT_THROW(ds.refresh(), EDatabaseError);  // changes must be applied first
  ds.applyUpdates(0);
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT) VALUES (2, 'D')");
  ds.refresh();
  EXPECT_EQ(ds.recordCount(), 2);
}

TEST_P(Driver, AnInvalidStatementFailsAtOpenWithTheServersText) {
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select NADA from T");
  try {
    q.open();
    FAIL() << "no error";
  } catch (const ESQLError& e) {
    EXPECT_NE(e.message().find("Column unknown"), std::string::npos) << e.message();
  }
  EXPECT_FALSE(q.active());
  ClientDataSet ds("ds", q, {});
  EXPECT_THROW(ds.open(), ESQLError);
  EXPECT_FALSE(ds.active());
}

TEST_P(Driver, AFailedRefreshLeavesTheRowsAndAReconnectKeepsApplying) {
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT) VALUES (1, 'A')");
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, TXT from T");
  ClientDataSet ds("ds", q, {"ID"});
  ds.open();
  Field& txt = ds.fieldByName("TXT");
  dm_.sqlcon1.executeDirect("ALTER TABLE T DROP TXT");
  EXPECT_THROW(ds.refresh(), ESQLError);
  EXPECT_TRUE(ds.active());
  EXPECT_EQ(txt.asString(), "A");
  dm_.sqlcon1.executeDirect("ALTER TABLE T ADD TXT VARCHAR(200)");
  ds.refresh();
  EXPECT_TRUE(txt.isNull());  // the same field object, bound to the new rows

  // Prepared updates belong to their attachment: after a reconnect the
  // next apply prepares again.
  ds.edit();
  txt.setString("B");
  ds.post();
  ds.applyUpdates(0);
  dm_.sqlcon1.close();
  ds.edit();
  txt.setString("C");
  ds.post();
  EXPECT_EQ(ds.applyUpdates(0), 0);
  EXPECT_TRUE(dm_.sqlcon1.connected());
  ds.closeDiscarding();
  EXPECT_EQ(column("select TXT from T"), (std::vector<std::string>{"C"}));
}

TEST_P(Driver, GroupedStatementsReachTheServerTogetherAndARefusedOneIsUndoneAlone) {
  SQLConnection& c = dm_.sqlcon1;
  {
    StatementGroup group(c, 100, 60000);
    c.executeDirect("INSERT INTO T (ID, TXT) VALUES (1, 'A')");
    c.executeDirect("INSERT INTO T (ID, TXT) VALUES (2, 'B')");
    EXPECT_THROW(c.executeDirect("INSERT INTO T (ID, TXT) VALUES (1, 'DUPLICADO')"), ESQLError);
    c.executeDirect("UPDATE T SET TXT = 'A2' WHERE ID = 1");
    EXPECT_EQ(c.groupStatements(), 4);
    EXPECT_FALSE(group.due());
    // Another connection sees nothing of an open group.
    EXPECT_TRUE(column("select ID from T").empty());
    group.commit();
    EXPECT_EQ(c.groupStatements(), 0);
    EXPECT_EQ(column("select TXT from T order by ID"), (std::vector<std::string>{"A2", "B"}));

    c.executeDirect("INSERT INTO T (ID) VALUES (3)");
    group.rollback();
    c.executeDirect("INSERT INTO T (ID) VALUES (4)");
    // Closing the connection drops what the group held; the next statement
    // attaches again and opens the next group.
    c.close();
    c.executeDirect("INSERT INTO T (ID) VALUES (5)");
    group.end();
  }
  EXPECT_EQ(column("select ID from T order by ID"), (std::vector<std::string>{"1", "2", "5"}));

  // A scope left without end() undoes its group; afterwards every statement
  // is committed by itself again.
  {
    StatementGroup group(c, 2, 60000);
    c.executeDirect("INSERT INTO T (ID) VALUES (6)");
    EXPECT_FALSE(group.due());
    c.executeDirect("INSERT INTO T (ID) VALUES (7)");
    EXPECT_TRUE(group.due());
  }
  EXPECT_FALSE(c.grouping());
  c.executeDirect("INSERT INTO T (ID) VALUES (8)");
  EXPECT_EQ(column("select ID from T order by ID"), (std::vector<std::string>{"1", "2", "5", "8"}));
}

// A walk over many packets: the count and the rows are the server's as at
// the open, in its order; changes not yet applied survive their packet and
// show again when the statement is read anew; refresh finds its row again.
TEST_P(Driver, RowsAreReadAPacketAtATimeAsIfAllHadBeenReadAtTheOpen) {
  dm_.sqlcon1.executeDirect(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 100) DO BEGIN "
      "INSERT INTO T (ID, TXT) VALUES (:I, 'T' || :I); I = I + 1; END END");
  SQLDataSet q("q", dm_.sqlcon1);
  q.setCommandText("select ID, TXT from T where ID > 2 order by ID desc");
  ClientDataSet ds("ds", q, {"ID"});
  ds.setPacketRecords(7);
  ds.open();
  EXPECT_EQ(ds.recordCount(), 98);
  // Others change the table after the open: this walk does not see it.
  dm_.sqlcon1.executeDirect("INSERT INTO T (ID, TXT) VALUES (500, 'novo')");
  dm_.sqlcon1.executeDirect("DELETE FROM T WHERE ID = 50");
  std::vector<int> ids;
  for (ds.first(); !ds.eof(); ds.next()) {
    ids.push_back(ds.fieldByName("ID").asInteger());
    EXPECT_EQ(ds.recNo(), static_cast<int>(ids.size()));
    if (ids.back() % 10 == 0 && ids.back() != 50) {
      ds.edit();
      ds.fieldByName("TXT").setString("mudado");
      ds.post();
    }
  }
  std::vector<int> expected;
  for (int id = 100; id > 2; --id) expected.push_back(id);
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(ds.recNo(), 98);
  EXPECT_EQ(ds.fieldByName("ID").asInteger(), 3);  // eof stays on the last row
  EXPECT_EQ(ds.changeCount(), 9);

  // Read again from the start: the same rows, the changes still in the log
  // at their rows.
  ds.first();
  EXPECT_EQ(ds.recordCount(), 98);
  std::vector<std::string> texts;
  ids.clear();
  for (; !ds.eof(); ds.next()) {
    ids.push_back(ds.fieldByName("ID").asInteger());
    if (ds.fieldByName("TXT").asString() == "mudado") texts.push_back(ds.fieldByName("ID").asString());
  }
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(texts, (std::vector<std::string>{"100", "90", "80", "70", "60", "40", "30", "20", "10"}));
  EXPECT_EQ(ds.applyUpdates(-1), 0);
  EXPECT_EQ(column("select ID from T where TXT = 'mudado' order by ID"),
            (std::vector<std::string>{"10", "20", "30", "40", "60", "70", "80", "90", "100"}));

  // Refresh reads the table as it is now and comes back to the same place
  // in a later packet.
  ds.first();
  for (int i = 1; i < 40; ++i) ds.next();
  EXPECT_EQ(ds.fieldByName("ID").asInteger(), 61);
  ds.refresh();
  EXPECT_EQ(ds.recordCount(), 98);
  EXPECT_EQ(ds.recNo(), 40);
  EXPECT_EQ(ds.fieldByName("ID").asInteger(), 62);  // 500 now comes first
  EXPECT_FALSE(ds.eof());
  ds.closeDiscarding();
}

INSTANTIATE_TEST_SUITE_P(Transports, Driver, ::testing::Values(Transport::Embedded, Transport::Server),
                         sqltest::transportName);

// ---------------------------------------------------------------------------

class Connection : public ServerTest {};

TEST_P(Connection, CreatingTheModuleDoesNotConnectAndTheFirstUseFailsWithTheServersText) {
  // Nothing answers: for the server, a port nobody listens on; embedded, a
  // database file that does not exist.
  if (GetParam() == Transport::Server) writeIni("[sql]\ntransport=server\nport=1\n");
  TDM dm(ui_);
  EXPECT_FALSE(dm.sqlcon1.connected());
  EXPECT_EQ(dm.sqlcon1.param("DATABASE"), "127.0.0.1:C:\\vitralon\\dados\\vitralon.bd");
  try {
    dm.Forneced.open();
    FAIL() << "no error";
  } catch (const EConnectionError& e) {
    EXPECT_STREQ(e.className(), "EConnectionError");
    if (GetParam() == Transport::Server)
      EXPECT_NE(e.message().find("Unable to complete network request to host"), std::string::npos)
          << e.message();
    else
      EXPECT_NE(e.message().find("vitralon.bd"), std::string::npos) << e.message();
  }
  EXPECT_FALSE(dm.Forneced.active());
  EXPECT_THROW(dm.sqlcon1.executeDirect("DELETE FROM FORNECED"), EConnectionError);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_P(Connection, OpensOnFirstUseAndStaysOpen) {
  TDM dm(ui_);
  createDatabase(dm.sqlcon1);
  dm.sqlcon1.close();
  EXPECT_FALSE(dm.sqlcon1.connected());
  dm.Forneced.open();
  EXPECT_TRUE(dm.sqlcon1.connected());
  dm.Forneced.close();
  EXPECT_TRUE(dm.sqlcon1.connected());
}

TEST_P(Connection, AWrongPasswordIsRefusedByTheServerOnly) {
  TDM dm(ui_);
  createDatabase(dm.sqlcon1);
  dm.sqlcon1.close();
  dm.sqlcon1.setParam("password", "errada");
  if (GetParam() == Transport::Server) {
    try {
      dm.sqlcon1.open();
      FAIL() << "no error";
    } catch (const EConnectionError& e) {
      EXPECT_NE(e.message().find("password"), std::string::npos) << e.message();
    }
  } else {
    dm.sqlcon1.open();  // the embedded engine checks no password
    EXPECT_TRUE(dm.sqlcon1.connected());
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, Connection, ::testing::Values(Transport::Embedded, Transport::Server),
                         sqltest::transportName);

}  // namespace

// ---------------------------------------------------------------------------

namespace {

// Runs scripts/fbserver.sh for a server of the test's own, on another port
// and in another folder than the shared test server.
int fbserver(const std::filesystem::path& dir, const std::string& port, const std::string& command) {
  // A lock folder of its own: the server is killed in the middle of its
  // work, and its lock files stay away from the other tests' engines.
  std::string line = "CG_FB_DIR='" + dir.string() + "' FIREBIRD_LOCK='" + (dir / "lock").string() +
                     "' CG_FB_PORT=" + port + " bash '" CG_SOURCE_DIR "/scripts/fbserver.sh' " + command +
                     " >/dev/null 2>&1";
  return std::system(line.c_str());
}

class OwnServer : public ::testing::Test {
 protected:
  // Each test's server has a port of its own: CTest runs them side by side.
  virtual int portOffset() const { return 7; }
  void SetUp() override {
    port_ = std::to_string(std::stoi(sqltest::serverPort()) + portOffset());
    DriveC::setRoot(tmp_.path() / "c");
    std::filesystem::create_directories(tmp_.path() / "c");
    std::ofstream(tmp_.path() / "c" / "platform.ini") << "[sql]\ntransport=server\nport=" << port_ << "\n";
    ASSERT_EQ(fbserver(tmp_.path() / "fb", port_, "start"), 0);
  }
  // A server restarted after a kill takes long to stop by SIGTERM; this one
  // is thrown away with its folder.
  void TearDown() override { fbserver(tmp_.path() / "fb", port_, "kill"); }

  testsupport::TempDir tmp_;
  std::string port_;
  sqltest::RecordingUI ui_;
};

// A walk whose next packet cannot be read stops there with the loss told,
// on the row it had reached. (The client library reads a few rows ahead: the
// rows are wide, so that it cannot hold them all.)
class OwnServerWalk : public OwnServer {
 protected:
  int portOffset() const override { return 8; }
};

TEST_F(OwnServerWalk, AServerThatGoesAwayInTheMiddleOfAWalkStopsItWhereItWas) {
  TDM dm(ui_);
  dm.sqlcon1.createDatabase();
  dm.sqlcon1.executeDirect("CREATE TABLE T (ID INTEGER, C CHAR(1000))");
  dm.sqlcon1.executeDirect(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 2000) DO BEGIN "
      "INSERT INTO T (ID, C) VALUES (:I, 'x'); I = I + 1; END END");
  SQLDataSet q("q", dm.sqlcon1);
  q.setCommandText("select ID, C from T order by ID");
  ClientDataSet ds("ds", q, {"ID"});
  ds.setPacketRecords(4);
  ds.open();
  ASSERT_EQ(fbserver(tmp_.path() / "fb", port_, "kill"), 0);
  int read = 1;
  try {
    for (; read <= 2000; ++read) {
      ASSERT_EQ(ds.fieldByName("ID").asInteger(), read);
      ds.next();
    }
    FAIL() << "no error";
  } catch (const EConnectionError& e) {
    EXPECT_EQ(e.message().rfind("Conexão com o servidor de banco de dados perdida: "_cp, 0), 0u)
        << e.message();
  }
  EXPECT_LT(read, 2000);
  EXPECT_EQ(ds.recNo(), read);
  EXPECT_EQ(ds.fieldByName("ID").asInteger(), read);
  EXPECT_FALSE(ds.eof());
  ds.closeDiscarding();
}

TEST_F(OwnServer, AServerThatGoesAwayFailsTheNextCallAndIsReachedAgainWhenBack) {
  TDM dm(ui_);
  dm.sqlcon1.createDatabase();
  dm.sqlcon1.executeDirect("CREATE TABLE T (ID INTEGER)");
  dm.sqlcon1.executeDirect("INSERT INTO T VALUES (1)");
  ASSERT_EQ(fbserver(tmp_.path() / "fb", port_, "kill"), 0);
  try {
    dm.sqlcon1.executeDirect("UPDATE T SET ID = 2");
    FAIL() << "no error";
  } catch (const EConnectionError& e) {
    EXPECT_FALSE(e.message().empty());
  }
  EXPECT_FALSE(dm.sqlcon1.connected());
  ASSERT_EQ(fbserver(tmp_.path() / "fb", port_, "start"), 0);
  EXPECT_EQ(dm.sqlcon1.executeDirect("UPDATE T SET ID = 2"), 1);
  EXPECT_TRUE(dm.sqlcon1.connected());
}

}  // namespace
