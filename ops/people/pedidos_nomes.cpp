// btn1: the client names stored in the orders on the server, abbreviated in
// the house style. Each order is applied to the server right after its post,
// so the orders done are on the server while the run goes on.
#include "ops/people/pedidos_nomes.h"

#include <functional>

#include "data/sql/dm.h"
#include "ops/desfecho.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/server_messages.h"
#include "platform/cp1252.h"
#include "text/normaliza.h"

namespace cg {

namespace {

// Counts the changes the server refuses while the dataset applies, keeping
// the first message, and hands each on to the data module's own handler.
class RefusalCounter {
 public:
  explicit RefusalCounter(ClientDataSet& ds) : ds_(ds), saved_(ds.onReconcileError) {
    ds_.onReconcileError = [this](ClientDataSet& d, const Exception& e) {
      if (count_++ == 0) first_ = e.message();
      if (saved_) saved_(d, e);
    };
  }
  ~RefusalCounter() { ds_.onReconcileError = saved_; }
  RefusalCounter(const RefusalCounter&) = delete;
  RefusalCounter& operator=(const RefusalCounter&) = delete;
  int count() const { return count_; }
  const std::string& first() const { return first_; }

 private:
  ClientDataSet& ds_;
  std::function<void(ClientDataSet&, const Exception&)> saved_;
  int count_ = 0;
  std::string first_;
};

}  // namespace

std::string SelecaoNomesPedidos() {
  std::string sql = "Select ";
  sql +=
      "ESTACAO, NPEDIDO, NOME, ENDER1, ENDER2, FONE, MEDICO, ESTACAOCLIENTE, CODIGOCLIENTE, DATAPEDIDO, "
      "HORAPEDIDO, RECEBIDOPOR, ENTREGUEPOR, DATAENTREGA, HORAENTREGA, TIPOPEDIDO, ";
  sql +=
      "QDEFORMULAS, PRECOFINAL, PRECOTOTAL, USASUBSTCONTR, CUPOMFISCAL, JANOLIVRO, CRM, OBS1, OBS2, VETF, "
      "CONVENIO, DESCPERC, DESCONTO, SINAL, VALORRESTANTE, VENCIMENTO, PAGO, ";
  sql +=
      "DATAPAGAMENTO, PRONTO, ENTREGUE, IMPORTADO, REFERENCIA, EMPRESA, MATRICULA, FORMAPAGAMENTO, "
      "CODENTREGA, SITENTREGA, CUSTO, VENDEDOR, CAIXA, CAIXAQ, LABORATORIO, ACRESCPERC, ";
  sql +=
      "NPED, NCF, DATA_CONF_ENTREGA, TIPODOCUMENTO, NUMDOCUMENTO, ORGAOEXPEDIDOR, UFEMISSAODOCUMENTO, "
      "CONSELHOPROFISSIONAL, UFCONSELHO, PACIENTE, FONEPACIENTE, CCF, CODLIVRO";
  sql += " from PEDIDOS where NOME is not null";
  return sql;
}

void AbbreviateOrderNames(RepairContext& f) {
  TDM& dm = f.DM();
  // The loop lets window events through after every order: no other command
  // may start meanwhile and take over cdsPedidos.
  f.DesabilitaComandos();
  f.MostraPainelCG(layout::kProgressOrderNames);

  dm.sqldsPedidos.close();
  dm.sqldsPedidos.setCommandText("");
  dm.sqldsPedidos.setCommandText(SelecaoNomesPedidos());
  dm.sqldsPedidos.open();
  ClientDataSet& pedidos = dm.cdsPedidos;
  pedidos.open();

  f.TermCG.setMinValue(0);
  f.TermCG.setMaxValue(pedidos.recordCount());
  f.TermCG.setProgress(0);
  pedidos.first();

  RefusalCounter refused(pedidos);
  Field& nome = pedidos.fieldByName("Nome");
  while (!pedidos.eof() && !f.stopRequested()) {
    pedidos.edit();
    std::string novo = AbreviaNome(nome.asString());
    nome.setString(novo);
    f.SetNomeConsist(novo);
    pedidos.post();
    pedidos.applyUpdates(0);  // a refused order is dropped from the change log
    pedidos.next();
    f.TermCG.setProgress(f.TermCG.progress() + 1);
    f.repaint(f.TermCG);
    f.ui().processMessages();
  }

  f.PainelCG.visible = false;
  dm.sqldsPedidos.close();
  pedidos.close();
  f.HabilitaComandos();
  ReportRefusals(f.ui(), refused.count(), refused.first());
  // Stopped by the user: what was walked is said, so that the run is not
  // taken for a complete one.
  if (f.stopRequested())
    f.ui().showMessage(
        Interrompido(Contagem(f.TermCG.progress(), "pedido percorrido", "pedidos percorridos") +
                     cp(", os nomes abreviados até aqui foram gravados"_cp)));
}

}  // namespace cg
