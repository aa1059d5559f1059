// The data module DM: the engine session Sessao1, the server connection
// sqlcon1 and the five server dataset chains with their event handlers.
// Created once at start-up, right after the main window; creating it does
// not connect.
#pragma once

#include <memory>
#include <string>

#include "data/engine/engine.h"
#include "data/sql/sql.h"

namespace cg {

class UserInterface;

class TDM {
 public:
  // `ui` shows the handlers' messages; it must outlive the module.
  explicit TDM(UserInterface& ui);
  // The parameters of sqlcon1, in their order (others connect as it does).
  static std::vector<std::pair<std::string, std::string>> connectionParams();
  ~TDM();
  TDM(const TDM&) = delete;
  TDM& operator=(const TDM&) = delete;

  void DataModuleCreate();

  // Session1, the engine session named Sessao1.
  Session Sessao1{"Sessao1"};

  SQLConnection sqlcon1{"sqlcon1"};

  SQLDataSet sqldsPedidos{"sqldsPedidos", sqlcon1};
  ClientDataSet cdsPedidos{"cdsPedidos", sqldsPedidos, {"ESTACAO", "NPEDIDO"}};
  SQLDataSet sqlds_ConfigServidor{"sqlds_ConfigServidor", sqlcon1};
  ClientDataSet cds_ConfigServidor{"cds_ConfigServidor", sqlds_ConfigServidor, {"USARPRECOMOV"}};
  SQLDataSet SQLDS_Formulas{"SQLDS_Formulas", sqlcon1};
  ClientDataSet Formulas{"Formulas", SQLDS_Formulas, {"CODIGOFORM"}};
  SQLDataSet SQLDS_Componen{"SQLDS_Componen", sqlcon1};
  ClientDataSet cds_Componentes{"cds_Componentes", SQLDS_Componen, {"CODIGO", "COMPONENTE"}};
  SQLDataSet SQLDS_Forneced{"SQLDS_Forneced", sqlcon1};
  ClientDataSet Forneced{"Forneced", SQLDS_Forneced, {"CODIGO"}};

  // Declared field objects.
  // The field objects, declared when the data module is created: never null.
  Field* cdsPedidosESTACAO = nullptr;
  Field* cdsPedidosNPEDIDO = nullptr;
  Field* cds_ConfigServidorCODLIVRO = nullptr;
  Field* cds_ComponentesCOMPONENTE = nullptr;
  Field* FornecedCNPJ = nullptr;

  // Closes every open dataset without applying its change log (used to put
  // the window back in order after an operation stopped with an error).
  // The SQL datasets are closed too; their statements stay.
  void closeAllWithoutApply();

  // Changes that did not reach the server while Formulas, cds_Componentes or
  // Forneced applied at close (refused by the server, or left unsent because the
  // apply failed), counted since the last call, with the server's first
  // message; the operation reports them before its own closing message.
  // When the connection was lost in the apply, `lostConnection` holds the
  // driver's message and the changes not yet sent are not counted: the
  // operation stops with that error instead of its closing message.
  struct Refusals {
    int count = 0;
    std::string firstMessage;
    std::string lostConnection;
  };
  Refusals takeRefusals();

  // Handlers.
  void cdsPedidosPostError(ClientDataSet& ds, const Exception& e);
  void cdsPedidosReconcileError(ClientDataSet& ds, const Exception& e);
  void FormulasBeforeClose(ClientDataSet& ds);
  void FormulasAfterDelete(ClientDataSet& ds);
  void FormulasBeforeInsert(ClientDataSet& ds);
  void FormulasAfterInsert(ClientDataSet& ds);
  void FormulasPostError(ClientDataSet& ds, const Exception& e);
  void FormulasReconcileError(ClientDataSet& ds, const Exception& e);
  void cds_ComponentesBeforeClose(ClientDataSet& ds);
  void cds_ComponentesAfterDelete(ClientDataSet& ds);
  void cds_ComponentesPostError(ClientDataSet& ds, const Exception& e);
  void FornecedBeforeClose(ClientDataSet& ds);

 private:
  void noteRefused(int count, const std::string& message);
  void applyAtClose(ClientDataSet& ds);
  UserInterface& ui_;
  Refusals refusals_;
};

}  // namespace cg
