// The local sample installation: the tree, the tables with their keys and
// indexes, the aliases, the command files, and data that gives every repair
// work to do.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "data/engine/engine.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "sample/layouts.h"
#include "sample/sample.h"
#include "support/temp_dir.h"

using namespace cg;
namespace fs = std::filesystem;

namespace {

class LocalSample : public ::testing::Test {
 protected:
  void SetUp() override {
    DriveC::setRoot(tmp_.path());
    CreateLocalSample(SampleSizeFor("small"), 20261207);
    session_ = std::make_unique<Session>("Sessao1");
  }
  std::unique_ptr<Table> open(const std::string& db, const std::string& table,
                              const std::string& index = "") {
    auto t = std::make_unique<Table>("T");
    t->setDatabaseName(db);
    t->setTableName(table);
    t->setIndexName(index);
    t->open();
    return t;
  }
  // Every row of a table as text, one line per row, in primary-key order.
  std::string dump(const std::string& db, const std::string& table) {
    auto t = open(db, table);
    TableDef d = t->tableDef();
    std::ostringstream out;
    for (t->first(); !t->eof(); t->next()) {
      for (const auto& f : d.fields) out << t->asString(f.name) << '|';
      out << '\n';
    }
    return out.str();
  }
  static std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testsupport::TempDir tmp_;
  std::unique_ptr<Session> session_;
};

}  // namespace

TEST_F(LocalSample, BuildsTheTreeAndTheAliases) {
  for (const char* p :
       {"VITRALON/Config.DB", "VITRALON/FormatCli.bat", "VITRALON/FormatMed.bat",
        "VITRALON/DADOS/Clientes.DB", "VITRALON/DADOS/Medicos.DB", "VITRALON/DADOS/Pedidos.DB",
        "VITRALON/DADOS/PEDIFORM.DB", "VITRALON/DADOS/COMPEDID.DB", "VITRALON/DADOS/Componen.DB",
        "VITRALON/DADOS/Sinonimo.DB", "VITRALON/DADOS/COMPRAS.DB", "VITRALON/DADOS/formulas.DB",
        "VITRALON/INTER/Clientes.DB", "VITRALON/INTER/Medicos.DB", "VITRALON/ARQMORTO/pedidos.DB",
        "VITRALON/ARQMORTO/pediform.DB", "VITRALON/ARQMORTO/Compedid.DB"})
    EXPECT_TRUE(fs::is_regular_file(tmp_.path() / p)) << p;
  std::string ini = readFile(tmp_.path() / "platform.ini");
  EXPECT_NE(ini.find("[aliases]"), std::string::npos);
  EXPECT_NE(ini.find("[sql]\r\ntransport = embedded"), std::string::npos);
  EXPECT_EQ(session_->databaseDirectory("VTRNDADOS"), "C:\\VITRALON\\DADOS");
  EXPECT_EQ(session_->databaseDirectory("VTRNINTER"), "C:\\VITRALON\\INTER");
  EXPECT_EQ(session_->databaseDirectory("VTRNARQM"), "C:\\VITRALON\\ARQMORTO");
  // Nothing but table files and the command files: no journals left over.
  for (const auto& e : fs::recursive_directory_iterator(tmp_.path() / "VITRALON"))
    if (e.is_regular_file()) {
      std::string ext = e.path().extension().string();
      EXPECT_TRUE(ext == ".DB" || ext == ".bat") << e.path();
    }
}

TEST_F(LocalSample, EveryTableOpensWithItsKeysAndIndexes) {
  for (const auto& table : LocalTables()) {
    auto t = open(table.directory, table.fileName);
    TableDef d = t->tableDef();
    EXPECT_EQ(d.primaryKey, table.def.primaryKey) << table.fileName;
    EXPECT_EQ(d.fields.size(), table.def.fields.size()) << table.fileName;
    for (const auto& ix : table.def.indexes) {
      t->setIndexName(ix.name);
      t->first();
    }
  }
  EXPECT_EQ(ClientesTableDef().fields.size(), 36u);
  EXPECT_EQ(MedicosTableDef().fields.size(), 19u);
  // The bindings of the window's tables and of the repairs.
  open("VTRNINTER", "Clientes.DB", "NomeFone");
  open("VTRNINTER", "Clientes.DB", "Nome");
  open("VTRNINTER", "Medicos.DB", "NomeCRM");
  open("VTRNDADOS", "Medicos.DB", "CRM");
  open("C:\\VITRALON\\DADOS", "Componen.DB", "CodUnic");
  open("C:\\VITRALON\\DADOS", "Componen", "Descricao");
  open("C:\\VITRALON", "Config");
  auto sin = std::make_unique<Table>("Destino");
  sin->setDatabaseName("C:\\VITRALON\\DADOS");
  sin->setTableName("Sinonimo.DB");
  sin->setIndexName("NomeFone");
  EXPECT_THROW(sin->open(), EIndexNotFound);
}

TEST_F(LocalSample, SizesFollowTheScale) {
  SampleSize s = SampleSizeFor("small");
  EXPECT_EQ(open("VTRNDADOS", "Clientes.DB")->recordCount(), s.clients);
  EXPECT_EQ(open("VTRNDADOS", "Medicos.DB")->recordCount(), s.doctors);
  EXPECT_EQ(open("VTRNDADOS", "Pedidos.DB")->recordCount(), s.orders);
  EXPECT_EQ(open("VTRNDADOS", "PEDIFORM.DB")->recordCount(), s.formulaRows);
  EXPECT_EQ(open("VTRNDADOS", "COMPEDID.DB")->recordCount(), s.formulaItems);
  EXPECT_EQ(open("VTRNDADOS", "Componen.DB")->recordCount(), s.components);
  EXPECT_EQ(open("VTRNDADOS", "Sinonimo.DB")->recordCount(), s.synonyms);
  EXPECT_EQ(open("VTRNDADOS", "COMPRAS.DB")->recordCount(), s.purchases);
  EXPECT_EQ(open("VTRNARQM", "pedidos.DB")->recordCount(), s.archiveOrders);
  EXPECT_EQ(open("VTRNARQM", "pediform.DB")->recordCount(), s.archiveFormulaRows);
  EXPECT_EQ(open("VTRNARQM", "Compedid.DB")->recordCount(), s.archiveFormulaItems);
  EXPECT_EQ(open("VTRNINTER", "Clientes.DB")->recordCount(), 0);
  EXPECT_EQ(open("VTRNINTER", "Medicos.DB")->recordCount(), 0);
  SampleSize l = SampleSizeFor("large");
  EXPECT_GE(l.clients, 200000);
  EXPECT_GE(l.formulaItems, 1500000);
  EXPECT_THROW(SampleSizeFor("enorme"), Exception);
}

TEST_F(LocalSample, ConfigGivesTheColourAndTheMainDirectory) {
  auto c = open("C:\\VITRALON", "Config");
  EXPECT_EQ(c->asString("DiretorioPrincipal"), "C:\\VITRALON\\");
  EXPECT_EQ(c->asInteger("CorFundo"), 0xE1F0F5);
}

TEST_F(LocalSample, OrdersFormulasAndItemsHaveOrphansAndFormulaZero) {
  for (const std::string db : {"VTRNDADOS", "VTRNARQM"}) {
    auto orders = open(db, "Pedidos");
    auto rows = open(db, "Pediform");
    auto items = open(db, "Compedid");
    int orphanRows = 0, zeroRows = 0, orphanItems = 0, itemsOfZero = 0;
    for (rows->first(); !rows->eof(); rows->next()) {
      if (!orders->findKey({rows->asString("Estacao"), int64_t{rows->asInteger("NPedido")}})) ++orphanRows;
      if (rows->asInteger("NFormula") == 0) ++zeroRows;
    }
    for (items->first(); !items->eof(); items->next()) {
      std::vector<KeyValue> key{items->asString("Estacao"), int64_t{items->asInteger("NPedido")},
                                int64_t{items->asInteger("NFormula")}};
      if (!rows->findKey(key)) ++orphanItems;
      if (items->asInteger("NFormula") == 0) ++itemsOfZero;
    }
    EXPECT_GE(orphanRows, 3) << db;
    EXPECT_GE(zeroRows, 1) << db;
    EXPECT_GE(orphanItems, 3) << db;
    EXPECT_GE(itemsOfZero, 1) << db;
  }
}

TEST_F(LocalSample, PeopleAndComponentsAreMessyWhereTheRepairsLook) {
  auto med = open("VTRNDADOS", "Medicos.DB", "CRM");
  std::set<std::string> crms;
  for (med->first(); !med->eof(); med->next()) crms.insert(med->asString("CRM"));
  for (const char* c : {"12.345-SP", "12345", "1234/RJ", "SP", "", "777-SP", "7.77/MG"})
    EXPECT_EQ(crms.count(c), 1u) << c;
  auto cli = open("VTRNDADOS", "Clientes.DB", "Nome");
  EXPECT_TRUE(cli->findKey({std::string("X")}));
  EXPECT_TRUE(cli->findKey({std::string("")}));
  EXPECT_TRUE(cli->findKey({std::string("JOSE CARLOS ORLANDO SOUZA")}));
  std::map<std::string, int> groups;
  int zeroFactors = 0, blankFactors = 0;
  auto comp = open("VTRNDADOS", "Componen.DB");
  for (comp->first(); !comp->eof(); comp->next()) {
    ++groups[comp->asString("Grupo")];
    for (const char* f : {"FatorCorrecao", "FatorDiluicao", "Densidade"}) {
      if (comp->isNull(f))
        ++blankFactors;
      else if (comp->asFloat(f) == 0)
        ++zeroFactors;
    }
  }
  for (const char* g : {"CAP", "EMB", "EXC", "MP", ""}) EXPECT_GT(groups[g], 0) << g;
  EXPECT_GT(zeroFactors, 0);
  EXPECT_GT(blankFactors, 0);
  // Some synonyms carry a group other than their component's.
  auto sin = open("VTRNDADOS", "Sinonimo.DB");
  auto byCode = open("VTRNDADOS", "Componen.DB", "CodUnic");
  int stale = 0, unmatched = 0;
  for (sin->first(); !sin->eof(); sin->next()) {
    if (!byCode->findKey({sin->asString("Codigo")}))
      ++unmatched;
    else if (byCode->asString("Grupo") != sin->asString("Grupo"))
      ++stale;
  }
  EXPECT_GT(stale, 0);
  EXPECT_GT(unmatched, 0);
}

TEST_F(LocalSample, TheSameSeedGivesTheSameTables) {
  std::string first = dump("VTRNDADOS", "Medicos.DB") + dump("VTRNDADOS", "COMPEDID.DB");
  session_.reset();
  DriveC::setRoot(tmp_.path() / "again");
  CreateLocalSample(SampleSizeFor("small"), 20261207);
  session_ = std::make_unique<Session>("Sessao1");
  EXPECT_EQ(dump("VTRNDADOS", "Medicos.DB") + dump("VTRNDADOS", "COMPEDID.DB"), first);
}

TEST_F(LocalSample, CommandFilesPutTheInterimCopyInPlaceEvenWhenMoved) {
  {
    auto inter = open("VTRNINTER", "Clientes.DB");
    inter->append();
    inter->setString("Estacao", "01");
    inter->setInteger("Codigo", 1);
    inter->setString("Nome", "Jose C. Souza");
    inter->post();
  }
  // Move the whole installation elsewhere and run the command file there.
  fs::path moved = tmp_.path() / "outra" / "VITRALON";
  fs::create_directories(moved.parent_path());
  fs::rename(tmp_.path() / "VITRALON", moved);
  std::string cmd = "sh '" + (moved / "FormatCli.bat").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  DriveC::setRoot(tmp_.path() / "outra");
  fs::copy_file(tmp_.path() / "platform.ini", tmp_.path() / "outra" / "platform.ini");
  session_->reloadConfiguration();
  auto live = open("VTRNDADOS", "Clientes.DB");
  EXPECT_EQ(live->recordCount(), 1);
  EXPECT_EQ(live->asString("Nome"), "Jose C. Souza");
  live->setIndexName("NomeFone");  // the live table now carries the interim indexes
  EXPECT_EQ(open("VTRNDADOS", "Medicos.DB")->recordCount(), SampleSizeFor("small").doctors);
}

TEST_F(LocalSample, CommandFilesTakeTheInterimLogAlongAndDropTheLiveOne) {
  // A program killed right after saving a record in each copy leaves both
  // records in the write-ahead logs beside the files.
  pid_t pid = fork();
  if (pid == 0) {
    try {
      auto inter = open("VTRNINTER", "Clientes.DB");
      inter->append();
      inter->setString("Estacao", "01");
      inter->setInteger("Codigo", 1);
      inter->setString("Nome", "Jose C. Souza");
      inter->post();
      inter->flushBuffers();
      auto live = open("VTRNDADOS", "Clientes.DB");
      live->first();
      live->edit();
      live->setString("Nome", "DO ARQUIVO SUBSTITUIDO");
      live->post();
      live->flushBuffers();
      raise(SIGKILL);  // with both tables still open
    } catch (...) {
      _exit(3);
    }
    _exit(4);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  const fs::path dados = tmp_.path() / "VITRALON" / "DADOS";
  ASSERT_TRUE(fs::exists(dados / "Clientes.DB-wal"));
  ASSERT_TRUE(fs::exists(tmp_.path() / "VITRALON" / "INTER" / "Clientes.DB-wal"));

  std::string cmd = "sh '" + (tmp_.path() / "VITRALON" / "FormatCli.bat").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_FALSE(fs::exists(dados / "Clientes.DB-shm"));
  {
    auto live = open("VTRNDADOS", "Clientes.DB");
    EXPECT_EQ(live->recordCount(), 1);
    EXPECT_EQ(live->asString("Nome"), "Jose C. Souza");
  }
  for (const char* side : {"Clientes.DB-journal", "Clientes.DB-wal", "Clientes.DB-shm"})
    EXPECT_FALSE(fs::exists(dados / side)) << side;
}

TEST_F(LocalSample, CreateSampleRefusesAnExistingInstallation) {
  try {
    CreateSample("small", false);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(e.message().find("já contém VITRALON; use --force"_cp), std::string::npos) << e.message();
  }
  EXPECT_TRUE(fs::exists(tmp_.path() / "VITRALON" / "DADOS" / "Clientes.DB"));
}

TEST(SampleSizes, TheQuarterAndHugeScalesAreAQuarterAndTenTimesTheLargeOneAndUnknownScalesAreRefused) {
  const SampleSize large = SampleSizeFor("large"), quarter = SampleSizeFor("quarter"),
                   huge = SampleSizeFor("huge");
  auto counts = [](const SampleSize& s) {
    return std::vector<int>{s.clients,
                            s.doctors,
                            s.orders,
                            s.formulaRows,
                            s.formulaItems,
                            s.components,
                            s.synonyms,
                            s.purchases,
                            s.archiveOrders,
                            s.archiveFormulaRows,
                            s.archiveFormulaItems,
                            s.serverOrders,
                            s.serverFormulas,
                            s.serverComponents,
                            s.suppliers,
                            s.serverOrderItems};
  };
  const std::vector<int> l = counts(large), q = counts(quarter), h = counts(huge);
  for (size_t i = 0; i < l.size(); ++i) {
    EXPECT_EQ(q[i] * 4, l[i]) << i;
    if (i != 14) {
      EXPECT_EQ(l[i] * 10, h[i]) << i;
    }
  }
  EXPECT_EQ(quarter.formulaItems, 375000);
  EXPECT_EQ(huge.serverOrders, 3000000);
  EXPECT_EQ(huge.suppliers, 9999);  // supplier codes have four digits
  try {
    SampleSizeFor("enorme");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), "Escala desconhecida: enorme (use small, quarter, large ou huge).");
  }
}
