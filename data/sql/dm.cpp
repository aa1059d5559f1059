// The data module: the connection sqlcon1 with its fixed parameters, the five
// server dataset chains, their declared field objects and their handlers.
#include "data/sql/dm.h"

#include "platform/cp1252.h"
#include "platform/user_interface.h"

namespace cg {

namespace {

// The columns of PEDIDOS, in the order the orders statement selects them.
constexpr const char* kPedidosColumns[] = {"ESTACAO",
                                           "NPEDIDO",
                                           "NOME",
                                           "ENDER1",
                                           "ENDER2",
                                           "FONE",
                                           "MEDICO",
                                           "ESTACAOCLIENTE",
                                           "CODIGOCLIENTE",
                                           "DATAPEDIDO",
                                           "HORAPEDIDO",
                                           "RECEBIDOPOR",
                                           "ENTREGUEPOR",
                                           "DATAENTREGA",
                                           "HORAENTREGA",
                                           "TIPOPEDIDO",
                                           "QDEFORMULAS",
                                           "PRECOFINAL",
                                           "PRECOTOTAL",
                                           "USASUBSTCONTR",
                                           "CUPOMFISCAL",
                                           "JANOLIVRO",
                                           "CRM",
                                           "OBS1",
                                           "OBS2",
                                           "VETF",
                                           "CONVENIO",
                                           "DESCPERC",
                                           "DESCONTO",
                                           "SINAL",
                                           "VALORRESTANTE",
                                           "VENCIMENTO",
                                           "PAGO",
                                           "DATAPAGAMENTO",
                                           "PRONTO",
                                           "ENTREGUE",
                                           "IMPORTADO",
                                           "REFERENCIA",
                                           "EMPRESA",
                                           "MATRICULA",
                                           "FORMAPAGAMENTO",
                                           "CODENTREGA",
                                           "SITENTREGA",
                                           "CUSTO",
                                           "VENDEDOR",
                                           "CAIXA",
                                           "CAIXAQ",
                                           "LABORATORIO",
                                           "ACRESCPERC",
                                           "NPED",
                                           "NCF",
                                           "DATA_CONF_ENTREGA",
                                           "TIPODOCUMENTO",
                                           "NUMDOCUMENTO",
                                           "ORGAOEXPEDIDOR",
                                           "UFEMISSAODOCUMENTO",
                                           "CONSELHOPROFISSIONAL",
                                           "UFCONSELHO",
                                           "PACIENTE",
                                           "FONEPACIENTE",
                                           "CCF",
                                           "CODLIVRO"};
static_assert(std::size(kPedidosColumns) == 62);

std::string pedidosStatement() {
  std::string sql = "select ";
  bool first = true;
  for (const char* c : kPedidosColumns) {
    if (!first) sql += ", ";
    sql += c;
    first = false;
  }
  return sql + " from PEDIDOS order by Estacao,Npedido";
}

constexpr const char* kConfigStatement =
    "select USARPRECOMOV, CORFUNDO, DIRETORIOPRINCIPAL, ULTIMONPEDIDO, ULTIMOCODCLIENTE, ULTIMONCUPOM, ECF, "
    "PORTASERIAL, ULTIMOCODIGO, ACESSAESTOQUEATUAL, DESCRICAOPM, CODTRIBUTPM, GAVETA, LOJA, FONTE, ESTILO, "
    "TAMANHO, "
    "COR, CAIXA, ULTIMOLOTE, FS_CODPESSOAS, FS_CODPRODUTOS, FS_CODPEDIDOS, FS_CODPEDIDOSIT, CODLIVRO from "
    "CONFIG";

constexpr const char* kFormulasStatement =
    "select CODIGOFORM, FORMULA, USO, PRECO, POSOLOGIA, VOLUMETOTAL, QDECAPSULAS, UNIDADE, VALIDADE, CODIGO, "
    "OBSERVACAO, PROCED_MANIP, PROCED_MANIP2, GRUPO, FORMAFARMA, ROTULO, DATAHORA from FORMULAS order by "
    "FORMULA";

constexpr const char* kComponenStatement = "select CODIGO, COMPONENTE, UNID, DESCONTO from COMPONEN";

constexpr const char* kFornecedStatement =
    "select CODIGO, NOME, NOMEFANTASIA, ENDERECO, COMPLEMENTO, CEP, CIDADE, ESTADO, TEL, FAX, E_MAIL, SITE, "
    "CNPJ, IE, "
    "IM, PRAZO_PAGAMENTO from FORNECED";

}  // namespace

std::vector<std::pair<std::string, std::string>> TDM::connectionParams() {
  return {{"DriverName", "Interbase"},
          {"Database", "127.0.0.1:c:\\vitralon\\dados\\vitralon.bd"},
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
}

TDM::TDM(UserInterface& ui) : ui_(ui) {
  sqlcon1.connectionName = "IBConnection";
  sqlcon1.driverName = "Interbase";
  sqlcon1.libraryName = "dbexpint.dll";
  sqlcon1.getDriverFunc = "getSQLDriverINTERBASE";
  sqlcon1.vendorLib = "gds32.dll";
  sqlcon1.loginPrompt = false;
  sqlcon1.params() = connectionParams();

  sqldsPedidos.setCommandText(pedidosStatement());
  sqlds_ConfigServidor.setCommandText(kConfigStatement);
  SQLDS_Formulas.setCommandText(kFormulasStatement);
  SQLDS_Componen.setCommandText(kComponenStatement);
  SQLDS_Forneced.setCommandText(kFornecedStatement);

  cdsPedidosESTACAO = &cdsPedidos.declareField("ESTACAO", SQLFieldType::String, 2, true);
  cdsPedidosNPEDIDO = &cdsPedidos.declareField("NPEDIDO", SQLFieldType::Integer, 0, true);
  cdsPedidos.declareField("NOME", SQLFieldType::String, 40);
  cdsPedidos.declareField("MEDICO", SQLFieldType::String, 40);
  cdsPedidos.declareField("CODLIVRO", SQLFieldType::Integer);
  cds_ConfigServidor.declareField("USARPRECOMOV", SQLFieldType::FixedChar, 3);
  cds_ConfigServidorCODLIVRO = &cds_ConfigServidor.declareField("CODLIVRO", SQLFieldType::Integer);
  Formulas.declareField("CODIGOFORM", SQLFieldType::Integer, 0, true);
  Formulas.declareField("FORMULA", SQLFieldType::String, 50);
  cds_Componentes.declareField("CODIGO", SQLFieldType::String, 20, true);
  cds_ComponentesCOMPONENTE = &cds_Componentes.declareField("COMPONENTE", SQLFieldType::String, 70);
  cds_Componentes.declareField("UNID", SQLFieldType::String, 4);
  cds_Componentes.declareField("DESCONTO", SQLFieldType::Decimal, 15);
  Forneced.declareField("CODIGO", SQLFieldType::String, 4, true);
  FornecedCNPJ = &Forneced.declareField("CNPJ", SQLFieldType::String, 20);

  cdsPedidos.onPostError = [this](ClientDataSet& ds, const Exception& e) { cdsPedidosPostError(ds, e); };
  cdsPedidos.onReconcileError = [this](ClientDataSet& ds, const Exception& e) {
    cdsPedidosReconcileError(ds, e);
  };
  Formulas.beforeClose = [this](ClientDataSet& ds) { FormulasBeforeClose(ds); };
  Formulas.afterDelete = [this](ClientDataSet& ds) { FormulasAfterDelete(ds); };
  Formulas.beforeInsert = [this](ClientDataSet& ds) { FormulasBeforeInsert(ds); };
  Formulas.afterInsert = [this](ClientDataSet& ds) { FormulasAfterInsert(ds); };
  Formulas.onPostError = [this](ClientDataSet& ds, const Exception& e) { FormulasPostError(ds, e); };
  cds_Componentes.beforeClose = [this](ClientDataSet& ds) { cds_ComponentesBeforeClose(ds); };
  cds_Componentes.afterDelete = [this](ClientDataSet& ds) { cds_ComponentesAfterDelete(ds); };
  cds_Componentes.onPostError = [this](ClientDataSet& ds, const Exception& e) {
    cds_ComponentesPostError(ds, e);
  };
  Forneced.beforeClose = [this](ClientDataSet& ds) { FornecedBeforeClose(ds); };
  Forneced.onPostError = [this](ClientDataSet& ds, const Exception& e) { cds_ComponentesPostError(ds, e); };
  // The three datasets that apply at close keep count of what the server
  // refused, for the operation to report.
  auto noteRefusal = [this](ClientDataSet&, const Exception& e) { noteRefused(1, e.message()); };
  Formulas.onReconcileError = [this](ClientDataSet& ds, const Exception& e) {
    FormulasReconcileError(ds, e);
  };
  cds_Componentes.onReconcileError = noteRefusal;
  Forneced.onReconcileError = noteRefusal;

  DataModuleCreate();
}

TDM::~TDM() = default;

void TDM::DataModuleCreate() {
  sqlcon1.close();
  sqlcon1.setParam("Database", "127.0.0.1:C:\\vitralon\\dados\\vitralon.bd");
}

void TDM::closeAllWithoutApply() {
  for (ClientDataSet* ds : {&cdsPedidos, &cds_ConfigServidor, &Formulas, &cds_Componentes, &Forneced})
    ds->closeDiscarding();
  for (SQLDataSet* ds :
       {&sqldsPedidos, &sqlds_ConfigServidor, &SQLDS_Formulas, &SQLDS_Componen, &SQLDS_Forneced})
    ds->close();
}

TDM::Refusals TDM::takeRefusals() {
  Refusals r = refusals_;
  refusals_ = Refusals();
  return r;
}

void TDM::noteRefused(int count, const std::string& message) {
  if (count <= 0) return;
  if (refusals_.count == 0) refusals_.firstMessage = message;
  refusals_.count += count;
}

// Applies the whole change log before a close that must not stop: each
// apply stops at the first refusal and drops it, so the changes after it
// are sent by the next round. What cannot be sent at all is dropped by the
// close: counted with the refusals, or, when the connection was lost, kept
// apart as the loss for the operation to stop with.
void TDM::applyAtClose(ClientDataSet& ds) {
  try {
    for (int rounds = ds.changeCount() + 1; ds.changeCount() > 0 && rounds > 0; --rounds) ds.applyUpdates(0);
    ds.refresh();
  } catch (const EConnectionError& e) {
    // Lost after everything was sent (in the refresh), nothing is missing.
    if (ds.changeCount() > 0 && refusals_.lostConnection.empty()) refusals_.lostConnection = e.message();
  } catch (const Exception& e) {
    noteRefused(ds.changeCount(), e.message());
  }
}

void TDM::cdsPedidosPostError(ClientDataSet&, const Exception&) {}

void TDM::cdsPedidosReconcileError(ClientDataSet&, const Exception&) {}

// One refused name (two names that become equal under the unique
// constraint) used to stop the close with every later name still pending,
// on every run: the names are applied in rounds, as the components are.
void TDM::FormulasBeforeClose(ClientDataSet& ds) { applyAtClose(ds); }

void TDM::FormulasAfterDelete(ClientDataSet& ds) {
  ds.applyUpdates(0);
  ds.refresh();
}

void TDM::FormulasBeforeInsert(ClientDataSet&) {}

void TDM::FormulasAfterInsert(ClientDataSet& ds) { ds.fieldByName("CODIGOFORM").setInteger(0); }

void TDM::FormulasPostError(ClientDataSet&, const Exception& e) { ui_.showMessage("1) " + e.message()); }

// Each refused name is shown as it is refused, and counted, so that the
// operation also says how many names did not reach the server.
void TDM::FormulasReconcileError(ClientDataSet&, const Exception& e) {
  ui_.showMessage("2) " + e.message());
  noteRefused(1, e.message());
}

void TDM::cds_ComponentesBeforeClose(ClientDataSet& ds) { applyAtClose(ds); }

void TDM::cds_ComponentesAfterDelete(ClientDataSet& ds) {
  ds.applyUpdates(0);
  ds.refresh();
}

void TDM::cds_ComponentesPostError(ClientDataSet&, const Exception& e) { ui_.showMessage(e.message()); }

void TDM::FornecedBeforeClose(ClientDataSet& ds) { applyAtClose(ds); }

}  // namespace cg
