// Database names, aliases, table files, binding rules, emptying and local SQL.
#include <set>

#include "engine_fixture.h"
#include "sample/layouts.h"

using namespace enginetest;
using cg::operator""_cp;
namespace fs = std::filesystem;

namespace {

class Sessions : public EngineTest {
 protected:
  template <class E>
  std::string messageOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const E& e) {
      return e.message();
    }
    return "(nenhum erro)";
  }
};

std::set<std::string> filesIn(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

}  // namespace

TEST_F(Sessions, AliasesComeFromPlatformIniWithoutRegardToCase) {
  EXPECT_EQ(session_->databaseDirectory("vtrndados"), "C:\\VITRALON\\DADOS");
  EXPECT_EQ(session_->databaseDirectory("VTRNINTER"), "C:\\VITRALON\\INTER");
  EXPECT_EQ(session_->databaseDirectory("C:\\VITRALON\\"), "C:\\VITRALON");
  EXPECT_EQ(cg::Session::find("SESSAO1"), session_.get());
  EXPECT_EQ(cg::Session::find("Sessao2"), nullptr);
}

TEST_F(Sessions, MissingAliasesAndDirectoriesAreNamed) {
  EXPECT_EQ(messageOf<cg::EAliasNotFound>([&] { session_->databaseDirectory("VTRNARQM"); }),
            "Alias não encontrado: VTRNARQM (C:\\platform.ini)"_cp);
  writeIni("[aliases]\nVTRNARQM = C:\\VITRALON\\ARQMORTO\\\n");
  EXPECT_EQ(messageOf<cg::EAliasNotFound>([&] { session_->databaseDirectory("VTRNARQM"); }),
            "Diretório do alias VTRNARQM não encontrado: C:\\VITRALON\\ARQMORTO\\"_cp);
  EXPECT_EQ(messageOf<cg::EAliasNotFound>([&] { session_->databaseDirectory("C:\\NADA"); }),
            "Diretório não encontrado: C:\\NADA"_cp);
  fs::remove(host("platform.ini"));
  session_->reloadConfiguration();
  EXPECT_EQ(messageOf<cg::EAliasNotFound>([&] { session_->databaseDirectory("VTRNDADOS"); }),
            "Alias não encontrado: VTRNDADOS (arquivo de configuração C:\\platform.ini ausente)"_cp);
  cg::Table t("Fonte");
  t.setDatabaseName("VTRNDADOS");
  t.setTableName("Clientes.DB");
  try {
    t.open();
    FAIL() << "opened";
  } catch (const cg::EAliasNotFound& e) {
    EXPECT_STREQ(e.className(), "EAliasNotFound");
  }
}

TEST_F(Sessions, TableNamesFindTheirFileWithoutRegardToCase) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "PEDIFORM.DB", cg::PediformTableDef());
  cg::Session::createTable("C:\\VITRALON\\INTER", "Clientes.DB", cg::ClientesInterimTableDef());
  // The messages name the table as the program spelled it.
  const std::pair<const char*, const char*> names[] = {{"Pediform", "C:\\VITRALON\\DADOS\\Pediform.DB"},
                                                       {"pediform.DB", "C:\\VITRALON\\DADOS\\pediform.DB"},
                                                       {"PEDIFORM.DB", "C:\\VITRALON\\DADOS\\PEDIFORM.DB"}};
  for (const auto& [name, path] : names) {
    auto t = bound(name);
    t->open();
    EXPECT_TRUE(t->active()) << name;
    EXPECT_EQ(t->windowsPath(), path);
  }
  cg::Table i("Destino");
  i.setDatabaseName("VTRNINTER");
  i.setTableName("clientes");
  i.setIndexName("NomeFone");
  i.open();
  EXPECT_EQ(i.windowsPath(), "C:\\VITRALON\\INTER\\clientes.DB");
  EXPECT_EQ(filesIn(host("VITRALON/DADOS")), std::set<std::string>{"PEDIFORM.DB"});
}

TEST_F(Sessions, MissingTablesAndBindingsAreReported) {
  auto t = bound("Clientes.DB");
  EXPECT_EQ(messageOf<cg::ETableNotFound>([&] { t->open(); }),
            "Tabela não encontrada: C:\\VITRALON\\DADOS\\Clientes.DB"_cp);
  cg::Table unbound("Fonte");
  EXPECT_EQ(messageOf<cg::EDBEngineError>([&] { unbound.open(); }),
            "Nome da tabela não definido em Fonte."_cp);
  unbound.setTableName("Clientes.DB");
  EXPECT_EQ(messageOf<cg::EDBEngineError>([&] { unbound.open(); }),
            "Banco de dados não definido em Fonte (Clientes.DB)."_cp);
  // A file that is not a table.
  std::ofstream(host("VITRALON/DADOS/Lixo.DB")) << "isto nao e uma tabela";
  auto junk = bound("Lixo");
  EXPECT_EQ(messageOf<cg::EDBEngineError>([&] { junk->open(); }),
            "Arquivo de tabela inválido ou danificado: C:\\VITRALON\\DADOS\\Lixo.DB"_cp);
}

TEST_F(Sessions, BindingOfAnOpenTableCannotChangeButTheIndexNameStays) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "Medicos.DB", cg::MedicosTableDef());
  cg::Session::createTable("C:\\VITRALON\\DADOS", "Pedidos.DB", cg::PedidosTableDef());
  cg::Table fonte("Fonte");
  fonte.setDatabaseName("VTRNDADOS");
  fonte.setTableName("Medicos.DB");
  fonte.setIndexName("Nome");
  fonte.open();
  fonte.setDatabaseName("VTRNDADOS");  // the same name is no change
  EXPECT_EQ(messageOf<cg::EDBEngineError>([&] { fonte.setTableName("Pedidos.DB"); }),
            "Não é possível alterar o nome de uma tabela aberta: Fonte (C:\\VITRALON\\DADOS\\Medicos.DB)"_cp);
  EXPECT_THROW(fonte.setDatabaseName("VTRNINTER"), cg::EDBEngineError);
  fonte.close();
  fonte.setDatabaseName("");
  fonte.setTableName("");
  EXPECT_EQ(fonte.indexName(), "Nome");
  fonte.setDatabaseName("VTRNDADOS");
  fonte.setTableName("Pedidos.DB");
  EXPECT_THROW(fonte.open(), cg::EIndexNotFound);  // Pedidos has no index Nome
  fonte.setIndexName("");
  fonte.open();
  EXPECT_TRUE(fonte.active());
}

TEST_F(Sessions, EmptyingATableOpenOrClosed) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
  auto t = opened("Pessoas");
  for (int i = 1; i <= 5; ++i) addPerson(*t, "01", i, "P");
  t->emptyTable();
  EXPECT_EQ(t->recordCount(), 0);
  EXPECT_TRUE(t->eof());
  for (int i = 1; i <= 3; ++i) addPerson(*t, "01", i, "P");
  t->close();
  t->emptyTable();
  t->open();
  EXPECT_EQ(t->recordCount(), 0);
  t->close();
  // Closed, the table is its one file again.
  EXPECT_EQ(filesIn(host("VITRALON/DADOS")), std::set<std::string>{"Pessoas.DB"});
}

TEST_F(Sessions, LocalSqlResolvesTableNamesWithoutRegardToCase) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "Componen.DB", cg::ComponenTableDef());
  auto t = opened("Componen");
  const char* groups[] = {"CAP", "EMB", "EXC", "MP", "", "cap"};
  for (int i = 0; i < 6; ++i) {
    t->append();
    t->setString("Grupo", groups[i]);
    t->setString("Codigo", "C" + std::to_string(i));
    t->setString("CustoFixo", i == 1 ? "" : "2,5");
    t->post();
  }
  // The posts above are still grouped in the open table's transaction.
  cg::Query q("Query1");
  q.setDatabaseName("C:\\VITRALON\\DADOS");
  q.setSQL("update componen set CustoFixo = 0 where GRUPO = 'CAP' or GRUPO = 'EMB' or GRUPO = 'EXC'");
  EXPECT_EQ(q.execSQL(), 3);
  std::vector<std::string> costs;
  t->setIndexName("CodUnic");
  for (t->first(); !t->eof(); t->next())
    costs.push_back(t->asString("Grupo") + "=" + t->asString("CustoFixo"));
  EXPECT_EQ(costs, (std::vector<std::string>{"CAP=0", "EMB=0", "EXC=0", "MP=2,5", "=2,5", "cap=2,5"}));
  q.setSQL("DELETE FROM \"COMPONEN.DB\" WHERE Grupo IS NULL");
  EXPECT_EQ(q.execSQL(), 1);
  EXPECT_EQ(t->recordCount(), 5);
  q.setSQL("update componen.db set CustoFixo = 1 where Grupo = 'MP'");
  EXPECT_EQ(q.execSQL(), 1);
  q.setSQL("update Compras set Quantidade = 0");
  EXPECT_EQ(
      messageOf<cg::ETableNotFound>([&] { q.execSQL(); }),
      "Nenhuma tabela da instrução SQL foi encontrada em C:\\VITRALON\\DADOS: update Compras set Quantidade = 0"_cp);
  q.setSQL("update componen set Inexistente = 0");
  EXPECT_NE(messageOf<cg::EDBEngineError>([&] {
              q.execSQL();
            }).find("Erro na instrução SQL (C:\\VITRALON\\DADOS)"_cp),
            std::string::npos);
}

TEST_F(Sessions, CloseAllClosesEveryTableOfTheSession) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
  auto a = opened("Pessoas");
  auto b = opened("Pessoas", "Nome");
  addPerson(*a, "01", 1, "A");
  b->append();
  b->setString("Estacao", "09");
  session_->closeAll();
  EXPECT_FALSE(a->active());
  EXPECT_FALSE(b->active());
  a->open();
  EXPECT_EQ(a->recordCount(), 1);  // the pending append was cancelled
}

TEST_F(Sessions, LocalSqlReachesSeveralTablesOfTheDirectory) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "PEDIFORM.DB", cg::PediformTableDef());
  cg::Session::createTable("C:\\VITRALON\\DADOS", "COMPEDID.DB", cg::CompedidTableDef());
  auto rows = opened("Pediform");
  rows->append();
  rows->setString("Estacao", "01");
  rows->setInteger("NPedido", 1);
  rows->setInteger("NFormula", 1);
  rows->setInteger("Serie", 1);
  rows->post();
  auto items = opened("Compedid");
  for (int f = 1; f <= 3; ++f) {
    items->append();
    items->setString("Estacao", "01");
    items->setInteger("NPedido", 1);
    items->setInteger("NFormula", f);
    items->setInteger("Item", 1);
    items->post();
  }
  items->first();  // a walk in progress holds its read lock
  cg::Query q("Query1");
  q.setDatabaseName("VTRNDADOS");
  q.setSQL(
      "delete from compedid where not exists (select 1 from PEDIFORM p where p.Estacao = compedid.Estacao "
      "and p.NPedido = compedid.NPedido and p.NFormula = compedid.NFormula)");
  EXPECT_EQ(q.execSQL(), 2);
  EXPECT_EQ(items->recordCount(), 1);
  EXPECT_EQ(walk(*items, "NFormula"), std::vector<std::string>{"1"});
  q.setSQL("update componen set CustoFixo = 0; update compedid set Item = 2");
  EXPECT_THROW(q.execSQL(), cg::EDBEngineError);
}

TEST_F(Sessions, ASessionThatEndsClosesItsTables) {
  cg::Session::createTable("C:\\VITRALON\\DADOS", "Pessoas.DB", peopleDef());
  auto t = opened("Pessoas");
  addPerson(*t, "01", 1, "A");
  session_.reset();
  EXPECT_FALSE(t->active());
  EXPECT_THROW(t->open(), cg::EDBEngineError);  // no session Sessao1 any more
  session_ = std::make_unique<cg::Session>("Sessao1");
  t->open();
  EXPECT_EQ(t->recordCount(), 1);
}
