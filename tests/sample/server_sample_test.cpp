// The sample server database: built by the embedded engine under drive C,
// with the sizes asked for, the keys that make refusals possible, and the
// messy values the repairs exist for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "data/sql/sql.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/sample.h"
#include "support/temp_dir.h"

using namespace cg;

namespace {

SampleSize smallServer() {
  SampleSize s{};
  s.serverOrders = 400;
  s.serverFormulas = 120;
  s.serverComponents = 90;
  s.suppliers = 300;
  s.serverOrderItems = 1000;
  return s;
}

class ServerSample : public ::testing::Test {
 protected:
  void SetUp() override {
    DriveC::setRoot(tmp_.path());
    std::ofstream(tmp_.path() / "platform.ini") << "[sql]\ntransport=embedded\n";
  }

  static void connect(SQLConnection& c) {
    c.params() = {{"Database", "127.0.0.1:C:\\vitralon\\dados\\vitralon.bd"},
                  {"User_Name", "sysdba"},
                  {"Password", "x"},
                  {"ServerCharSet", "WIN1252"},
                  {"SQLDialect", "3"}};
  }

  // Every row of a statement, its values joined by '|' ("~" for NULL).
  static std::vector<std::string> rows(SQLConnection& c, const std::string& sql) {
    SQLDataSet q("q", c);
    q.setCommandText(sql);
    ClientDataSet ds("ds", q, {});
    ds.open();
    std::vector<std::string> out;
    for (ds.first(); !ds.eof(); ds.next()) {
      std::string line;
      for (int i = 0; i < ds.fieldCount(); ++i) {
        if (i) line += '|';
        line += ds.field(i).isNull() ? std::string("~") : ds.field(i).asString();
      }
      out.push_back(line);
    }
    return out;
  }

  testsupport::TempDir tmp_;
};

TEST_F(ServerSample, HoldsTheSizesAskedForAndKeysThatRefuseDuplicates) {
  CreateServerSample(smallServer(), 7);
  EXPECT_TRUE(std::filesystem::exists(tmp_.path() / "VITRALON" / "DADOS" / "vitralon.bd"));
  SQLConnection c("c");
  connect(c);
  for (auto [table, count] : std::map<std::string, int>{{"PEDIDOS", 400},
                                                        {"FORMULAS", 120},
                                                        {"COMPONEN", 90},
                                                        {"FORNECED", 300},
                                                        {"COMPEDID", 1000},
                                                        {"CONFIG", 1}})
    EXPECT_EQ(rows(c, "select count(*) from " + table), (std::vector<std::string>{std::to_string(count)}))
        << table;
  std::string name = rows(c, "select FORMULA from FORMULAS where CODIGOFORM = 3")[0];
  EXPECT_THROW(c.executeDirect("UPDATE FORMULAS SET FORMULA = '" + name + "' WHERE CODIGOFORM = 4"),
               ESQLError);
  EXPECT_THROW(c.executeDirect("INSERT INTO PEDIDOS (ESTACAO, NPEDIDO) SELECT ESTACAO, NPEDIDO FROM PEDIDOS "
                               "ROWS 1"),
               ESQLError);
  EXPECT_EQ(rows(c, "select RDB$CHARACTER_SET_NAME from RDB$DATABASE")[0].substr(0, 7), "WIN1252");
  // Loaded without synchronous writes, handed over with them.
  EXPECT_EQ(rows(c, "select MON$FORCED_WRITES from MON$DATABASE"), (std::vector<std::string>{"1"}));
}

TEST_F(ServerSample, CarriesTheMessThatTheRepairsExistFor) {
  CreateServerSample(smallServer(), 7);
  SQLConnection c("c");
  connect(c);
  // Names in upper case with accents, null and empty names.
  auto names = rows(c, "select NOME from PEDIDOS");
  EXPECT_TRUE(std::any_of(names.begin(), names.end(),
                          [](const std::string& n) { return n.find('\xC9') != std::string::npos; }));
  EXPECT_FALSE(rows(c, "select NPEDIDO from PEDIDOS where NOME is null").empty());
  EXPECT_FALSE(rows(c, "select NPEDIDO from PEDIDOS where NOME = ''").empty());
  // Orders with a doctor and no book code, others with one; the
  // configuration holds the last code handed out.
  EXPECT_FALSE(rows(c, "select NPEDIDO from PEDIDOS where MEDICO is not null and CODLIVRO is null").empty());
  EXPECT_EQ(rows(c, "select max(CODLIVRO) from PEDIDOS"), rows(c, "select CODLIVRO from CONFIG"));
  // Units in every case, with a trailing blank; zero and null discounts.
  auto units = rows(c, "select distinct UNID from COMPONEN");
  for (const char* u : {"GR", "Lt", "ML", "gr "})
    EXPECT_NE(std::find(units.begin(), units.end(), u), units.end()) << u;
  EXPECT_FALSE(rows(c, "select CODIGO from COMPONEN where DESCONTO = 0").empty());
  EXPECT_FALSE(rows(c, "select CODIGO from COMPONEN where DESCONTO is null").empty());
  // Tax numbers: grouped, bare, alphanumeric with valid check digits.
  auto numbers = rows(c, "select CNPJ from FORNECED where CNPJ is not null");
  std::regex groupedDigits(R"(\d\d\.\d\d\d\.\d\d\d/\d\d\d\d-\d\d)");
  std::regex alphanumeric(R"(\d\d\.[A-Z]{3}\.\d\d\d/\d\d[A-Z]{2}-\d\d)");
  auto valid = [](std::string cnpj) {
    cnpj.erase(
        std::remove_if(cnpj.begin(), cnpj.end(), [](char ch) { return ch == '.' || ch == '/' || ch == '-'; }),
        cnpj.end());
    auto dv = [&](int n, int w) {
      int sum = 0;
      for (int i = 0; i < n; ++i, w = w == 2 ? 9 : w - 1) sum += (cnpj[i] - '0') * w;
      return sum % 11 < 2 ? 0 : 11 - sum % 11;
    };
    return dv(12, 5) == cnpj[12] - '0' && dv(13, 6) == cnpj[13] - '0';
  };
  int groupedCount = 0, alphaCount = 0;
  for (const std::string& n : numbers) {
    if (std::regex_match(n, groupedDigits)) ++groupedCount;
    if (std::regex_match(n, alphanumeric)) {
      ++alphaCount;
      EXPECT_TRUE(valid(n)) << n;
    }
  }
  EXPECT_GT(groupedCount, 0);
  EXPECT_GT(alphaCount, 0);
  // Order items whose code no longer matches the registry.
  EXPECT_FALSE(
      rows(c,
           "select first 1 i.CODIGOCOMP from COMPEDID i join COMPONEN k on k.COMPONENTE = i.COMPONENTE "
           "where k.CODIGO <> i.CODIGOCOMP")
          .empty());
  // Two formulas whose names differ only in case.
  EXPECT_EQ(rows(c, "select count(*) from FORMULAS where upper(FORMULA) = 'CREME BASE 0'"),
            (std::vector<std::string>{"2"}));
}

TEST_F(ServerSample, TheSameSeedGivesTheSameDatabase) {
  // Two installations side by side, each built from seed 11 by the same
  // process, compared row by row.
  std::vector<std::string> built[2];
  for (int i = 0; i < 2; ++i) {
    std::filesystem::path drive = tmp_.path() / ("drive" + std::to_string(i));
    std::filesystem::create_directories(drive);
    DriveC::setRoot(drive);
    std::ofstream(drive / "platform.ini") << "[sql]\ntransport=embedded\n";
    CreateServerSample(smallServer(), 11);
    SQLConnection c("c");
    connect(c);
    std::vector<std::string>& rowsOf = built[i];
    rowsOf = rows(c, "select * from FORNECED order by CODIGO");
    auto more = rows(c, "select * from COMPEDID order by ESTACAO, NPEDIDO, NFORMULA, ITEM");
    rowsOf.insert(rowsOf.end(), more.begin(), more.end());
  }
  const std::vector<std::string>& first = built[0];
  const std::vector<std::string>& second = built[1];
  EXPECT_EQ(first.size(), 1300u);
  ASSERT_EQ(first.size(), second.size());
  auto differs = std::mismatch(first.begin(), first.end(), second.begin());
  EXPECT_TRUE(differs.first == first.end())
      << "row " << (differs.first - first.begin()) << ": " << *differs.first << " / " << *differs.second;
}

}  // namespace
