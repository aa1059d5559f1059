// BitBtn5: the orders with a doctor and without a book code receive the next
// book codes, in order of station and order number.
//
// Book codes must never repeat. The orders' statements go to the server in
// groups (one transaction each, of at most kGrupo orders or kGrupoMs of
// work), and every group ends with the update of CONFIG.CODLIVRO to the last
// code it handed out, committed together with its orders: the configuration
// never lags behind the codes on the server, and if the program dies in the
// middle of the run the next run goes on after the last code used. A code
// whose order could not be written counts as handed out as well. The update
// of CONFIG that closes the last group is the run's final statement.
//
// Two guards keep codes from repeating: without the CONFIG row there is
// nowhere to continue from (every run would start again at 1), so nothing is
// numbered; and the fill stops before a code past the largest integer (it
// would wrap to negative codes), with the count of orders left without one.
//
// An order the server refuses is undone alone and reported at once; the
// group goes on. When CONFIG cannot be written, the group is undone and each
// of its orders is reported as not written, with the error of CONFIG.
#include <cstdint>
#include <limits>

#include "data/sql/dm.h"
#include "ops/desfecho.h"
#include "ops/repair.h"
#include "ops/repairs.h"
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
constexpr std::string_view kSemConfig =
    "A tabela \"Config\" do Servidor não tem nenhum registro: não há de onde continuar a numeração dos "
    "códigos de livro. Nenhum pedido foi numerado."_cp;
constexpr std::string_view kEsgotado =
    "O próximo código de livro passaria de 2147483647, o maior número que a coluna CODLIVRO aceita. "_cp;
constexpr std::string_view kSemCodigo = " ficaram sem código."_cp;
constexpr std::string_view kSemCodigoUm = "1 pedido ficou sem código."_cp;

// M1: a dataset could not be opened ("Classe do erro", lower-case e).
std::string naoAbriu(const char* dataset, const std::exception& e) {
  return cp("Não foi possível abrir a tabela"_cp) + " \"" + dataset + "\"." + "\r" +
         "Classe do erro: " + ErrorClassName(e) + "\r" + "Erro: " + ErrorText(e);
}

// M2: an order could not receive its code.
std::string naoGravouPedido(int32_t code, const std::string& estacao, int32_t npedido,
                            const std::exception& e) {
  return cp("Não consegui gravar o codigo "_cp) + std::to_string(code) + cp(" no pedido nº: "_cp) + estacao +
         "." + std::to_string(npedido) + "\r" + "Classe do Erro: " + ErrorClassName(e) + "\r" +
         "Erro: " + ErrorText(e);
}

// M3: the configuration could not be rewritten.
std::string naoGravouConfig(int32_t code, const std::exception& e) {
  return cp("Não consegui gravar o codigo "_cp) + std::to_string(code) + " na tabela \"Config\" do Servidor" +
         "\r" + "Classe do Erro: " + ErrorClassName(e) + "\r" + "Erro: " + ErrorText(e);
}

std::string updateConfig(int32_t code) {
  return "UPDATE CONFIG SET CODLIVRO = '" + std::to_string(code) + "'";
}

std::string updatePedido(int32_t code, const std::string& estacao, int32_t npedido) {
  return "Update Pedidos Set CodLivro = " + std::to_string(code) + " where Estacao = '" + SqlQuoted(estacao) +
         "' and Npedido = " + std::to_string(npedido);
}

// A transaction per order would cost the server a synchronous write per
// order; a group spreads it over many, and holds the rows it changed (CONFIG
// only at its very end) for a short time only.
constexpr int kGrupo = 5000;
constexpr int64_t kGrupoMs = 5000;

// An order written in the open group, with the code it received.
struct Gravado {
  int32_t code;
  std::string estacao;
  int32_t npedido;
};

}  // namespace

void FillBookCodes(RepairContext& f) {
  TDM& dm = f.DM();
  f.DesabilitaComandos();
  f.MostraPainelCG(layout::kProgressBookCodes);
  f.ui().processMessages();

  bool opened = false;
  int erros = 0;      // every failure told on the way
  int numerados = 0;  // orders whose code reached the server
  bool configGravado = false;
  dm.sqldsPedidos.close();
  dm.cdsPedidos.close();
  dm.sqldsPedidos.setCommandText("");
  dm.sqldsPedidos.setCommandText(std::string(kSelecao));

  f.SetNomeConsist(cp(kSelecionando));
  f.ui().processMessages();

  try {
    dm.sqldsPedidos.open();
  } catch (const std::exception& e) {
    f.ui().showMessage(naoAbriu("sqldspedidos", e));
    ++erros;
  }
  try {
    dm.cdsPedidos.open();
    opened = true;
  } catch (const std::exception& e) {
    f.ui().showMessage(naoAbriu("cdspedidos", e));
    ++erros;
  }

  f.SetNomeConsist(cp(kAlterando));
  // Without an open selection there is nothing to count or walk; the
  // configuration is still rewritten below with its own value.
  if (opened) {
    f.TermCG.setMinValue(0);
    f.TermCG.setMaxValue(dm.cdsPedidos.recordCount());
    f.TermCG.setProgress(0);
    dm.cdsPedidos.first();
  }
  dm.cds_ConfigServidor.open();
  Field& codLivro = *dm.cds_ConfigServidorCODLIVRO;
  if (dm.cds_ConfigServidor.eof()) throw EDatabaseError(cp(kSemConfig));
  int32_t code = codLivro.asInteger();
  f.ui().processMessages();

  // Closes the open group: CONFIG receives the last code handed out, and
  // the group is committed with it. When CONFIG cannot be written, the
  // group's orders are undone and reported; a lost connection took the
  // orders and CONFIG alike, and ends the fill (returns false).
  StatementGroup grupo(dm.sqlcon1, kGrupo, kGrupoMs);
  std::vector<Gravado> gravados;
  auto fechaGrupo = [&](bool last) {
    bool connected = true;
    try {
      dm.sqlcon1.executeDirect(updateConfig(code));
      grupo.commit();
      numerados += static_cast<int>(gravados.size());
      configGravado = true;
    } catch (const EConnectionError& e) {
      grupo.rollback();
      f.ui().showMessage(naoGravouConfig(code, e));
      ++erros;
      configGravado = false;
      connected = false;
    } catch (const std::exception& e) {
      grupo.rollback();
      for (const Gravado& g : gravados) f.ui().showMessage(naoGravouPedido(g.code, g.estacao, g.npedido, e));
      erros += static_cast<int>(gravados.size());
      if (last) {
        f.ui().showMessage(naoGravouConfig(code, e));
        ++erros;
      }
      configGravado = false;
    }
    gravados.clear();
    return connected;
  };

  int semCodigo = 0;  // orders left without a code when the codes ran out
  int visitados = 0;
  if (opened) {
    Field& estacaoField = *dm.cdsPedidosESTACAO;
    Field& npedidoField = *dm.cdsPedidosNPEDIDO;
    while (!dm.cdsPedidos.eof() && !f.stopRequested()) {
      if (code == std::numeric_limits<int32_t>::max()) {
        semCodigo = dm.cdsPedidos.recordCount() - visitados;
        break;
      }
      ++code;
      std::string estacao = estacaoField.asString();
      int32_t npedido = npedidoField.asInteger();
      try {
        dm.sqlcon1.executeDirect(updatePedido(code, estacao, npedido));
        gravados.push_back({code, estacao, npedido});
      } catch (const EConnectionError& e) {
        // The server is gone: every further order would fail the same way,
        // one message box each. The fill stops here; the orders of the open
        // group went with the connection and keep their empty code, and the
        // final update below reports whether the configuration can still be
        // reached. Their codes count as used up, as for any failed order.
        f.ui().showMessage(naoGravouPedido(code, estacao, npedido, e));
        ++erros;
        grupo.rollback();
        gravados.clear();
        break;
      } catch (const std::exception& e) {
        // The code is used up all the same: CONFIG moves past it when the
        // group closes.
        f.ui().showMessage(naoGravouPedido(code, estacao, npedido, e));
        ++erros;
      }
      if (grupo.due() && !fechaGrupo(false)) break;
      ++visitados;
      f.TermCG.setProgress(f.TermCG.progress() + 1);
      dm.cdsPedidos.next();
      f.ui().processMessages();
    }
  }

  // The final statement: CONFIG with the last code handed out (its own
  // value when no order was selected), closing the last group. After a loss
  // reported at a group's close, it is tried once more all the same.
  fechaGrupo(true);
  grupo.end();

  f.ui().processMessages();
  dm.sqldsPedidos.close();
  dm.cdsPedidos.close();
  dm.cds_ConfigServidor.close();
  f.HabilitaComandos();

  if (semCodigo > 0)
    throw EDatabaseError(cp(kEsgotado) + (semCodigo == 1
                                              ? cp(kSemCodigoUm)
                                              : std::to_string(semCodigo) + " pedidos" + cp(kSemCodigo)));
  // Success only when every order selected got its code and the
  // configuration its last one; otherwise what happened instead.
  f.ui().showMessage(Desfecho(cp(kSucesso), erros, f.stopRequested(),
                              Contagem(numerados, "pedido numerado", "pedidos numerados") +
                                  (configGravado ? cp(", o último código foi gravado"_cp)
                                                 : cp(", o último código não foi gravado"_cp))));
  f.PainelCG.visible = false;
}

}  // namespace cg
