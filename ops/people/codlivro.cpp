// BitBtn5: the orders with a doctor and without a book code receive the next
// book codes, in order of station and order number.
//
// Book codes must never repeat. Each order's code is written together with
// CONFIG.CODLIVRO in one server transaction (one EXECUTE BLOCK), so that the
// configuration never lags behind the codes handed out: if the program dies
// in the middle of the run, the next run goes on after the last code used.
// A code whose order could not be written counts as handed out as well. The
// final update of CONFIG still runs, as it always did.
#include "app/form/form.h"
#include "data/dm.h"
#include "ops/server_messages.h"
#include "ops/sql_text.h"
#include "platform/cp1252.h"

namespace cg {

namespace {

constexpr std::string_view kSelecao =
    "Select * from pedidos where (Medico is not null) and (Codlivro is null) order by Estacao,Npedido";
constexpr std::string_view kSelecionando = "Selecionando registros."_cp;
constexpr std::string_view kAlterando = "Alterando registros."_cp;
constexpr std::string_view kSucesso = "Procedimento concluído com sucesso."_cp;

// M1: a dataset could not be opened ("Classe do erro", lower-case e).
std::string naoAbriu(const char* dataset, const std::exception& e) {
  return cp("Não foi possível abrir a tabela"_cp) + " \"" + dataset + "\"." + "\r" + "Classe do erro: " +
         ErrorClassName(e) + "\r" + "Erro: " + ErrorText(e);
}

// M2: an order could not receive its code.
std::string naoGravouPedido(int32_t code, const std::string& estacao, int32_t npedido, const std::exception& e) {
  return cp("Não consegui gravar o codigo "_cp) + std::to_string(code) + cp(" no pedido nº: "_cp) + estacao + "." +
         std::to_string(npedido) + "\r" + "Classe do Erro: " + ErrorClassName(e) + "\r" + "Erro: " + ErrorText(e);
}

// M3: the configuration could not be rewritten.
std::string naoGravouConfig(int32_t code, const std::exception& e) {
  return cp("Não consegui gravar o codigo "_cp) + std::to_string(code) + " na tabela \"Config\" do Servidor" + "\r" +
         "Classe do Erro: " + ErrorClassName(e) + "\r" + "Erro: " + ErrorText(e);
}

std::string updateConfig(int32_t code) { return "UPDATE CONFIG SET CODLIVRO = '" + std::to_string(code) + "'"; }

std::string updatePedido(int32_t code, const std::string& estacao, int32_t npedido) {
  return "Update Pedidos Set CodLivro = " + std::to_string(code) + " where Estacao = '" + SqlQuoted(estacao) +
         "' and Npedido = " + std::to_string(npedido);
}

// The configuration first, then the order, in one transaction.
std::string reservaEGrava(int32_t code, const std::string& estacao, int32_t npedido) {
  return "EXECUTE BLOCK AS BEGIN " + updateConfig(code) + "; " + updatePedido(code, estacao, npedido) + "; END";
}

}  // namespace

void TFormConsistGeral::BitBtn5Click() {
  TDM& dm = DM();
  DesabilitaComandos();
  MostraPainelCG(157, 206, 464, 130);
  ui().processMessages();

  bool opened = false;
  dm.sqldsPedidos.close();
  dm.cdsPedidos.close();
  dm.sqldsPedidos.setCommandText("");
  dm.sqldsPedidos.setCommandText(std::string(kSelecao));

  SetNomeConsist(cp(kSelecionando));
  ui().processMessages();

  try {
    dm.sqldsPedidos.open();
  } catch (const std::exception& e) {
    ui().showMessage(naoAbriu("sqldspedidos", e));
  }
  try {
    dm.cdsPedidos.open();
    opened = true;
  } catch (const std::exception& e) {
    ui().showMessage(naoAbriu("cdspedidos", e));
  }

  SetNomeConsist(cp(kAlterando));
  // Without an open selection there is nothing to count or walk; the
  // configuration is still rewritten below with its own value.
  if (opened) {
    TermCG.setMinValue(0);
    TermCG.setMaxValue(dm.cdsPedidos.recordCount());
    TermCG.setProgress(0);
    dm.cdsPedidos.first();
  }
  dm.cds_ConfigServidor.open();
  Field& codLivro =
      dm.cds_ConfigServidorCODLIVRO ? *dm.cds_ConfigServidorCODLIVRO : dm.cds_ConfigServidor.fieldByName("CODLIVRO");
  int32_t code = dm.cds_ConfigServidor.eof() ? 0 : codLivro.asInteger();
  ui().processMessages();

  if (opened) {
    Field& estacaoField = dm.cdsPedidosESTACAO ? *dm.cdsPedidosESTACAO : dm.cdsPedidos.fieldByName("ESTACAO");
    Field& npedidoField = dm.cdsPedidosNPEDIDO ? *dm.cdsPedidosNPEDIDO : dm.cdsPedidos.fieldByName("NPEDIDO");
    while (!dm.cdsPedidos.eof()) {
      ++code;
      std::string estacao = estacaoField.asString();
      int32_t npedido = npedidoField.asInteger();
      try {
        dm.sqlcon1.executeDirect(reservaEGrava(code, estacao, npedido));
      } catch (const EConnectionError& e) {
        // The server is gone: every further order would fail the same way,
        // one message box each. The fill stops here. Whether this order's
        // transaction reached the server before the connection broke is not
        // known, so its code counts as used up, as for any failed order; the
        // final update below reports whether the configuration can still be
        // reached.
        ui().showMessage(naoGravouPedido(code, estacao, npedido, e));
        break;
      } catch (const std::exception& e) {
        ui().showMessage(naoGravouPedido(code, estacao, npedido, e));
        // The code is used up all the same: the configuration moves past it.
        // Should that fail too, the final update below reports it.
        try {
          dm.sqlcon1.executeDirect(updateConfig(code));
        } catch (const std::exception&) {
        }
      }
      TermCG.setProgress(TermCG.progress() + 1);
      dm.cdsPedidos.next();
      ui().processMessages();
    }
  }

  try {
    dm.sqlcon1.executeDirect(updateConfig(code));
  } catch (const std::exception& e) {
    ui().showMessage(naoGravouConfig(code, e));
  }

  ui().processMessages();
  dm.sqldsPedidos.close();
  dm.cdsPedidos.close();
  dm.cds_ConfigServidor.close();
  HabilitaComandos();

  ui().showMessage(cp(kSucesso));
  PainelCG.visible = false;
}

}  // namespace cg
