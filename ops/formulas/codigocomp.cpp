// BitBtn2: the component code of every order item line rewritten from the
// components registry, matched by the component's name: one UPDATE of
// COMPEDID per registered component.
#include "app/form/form.h"
#include "data/dm.h"
#include "ops/sql_text.h"
#include "platform/cp1252.h"

namespace cg {

namespace {
constexpr std::string_view kNaoExecutou = "Não foi possível executar o comando"_cp;
constexpr size_t kTamanhoCodigo = 20;
}  // namespace

void TFormConsistGeral::BitBtn2Click() {
  TDM& dm = DM();
  ClientDataSet& comp = dm.cds_Componentes;
  comp.open();

  MostraPainelCG(135, 140, 465, 152);
  TermCG.setMaxValue(comp.recordCount());
  int counter = 0;

  Field& codigoField = comp.fieldByName("CODIGO");
  Field& nomeField = dm.cds_ComponentesCOMPONENTE ? *dm.cds_ComponentesCOMPONENTE : comp.fieldByName("COMPONENTE");
  while (!comp.eof()) {
    std::string codigo = codigoField.asString().substr(0, kTamanhoCodigo);
    std::string nome = nomeField.asString();
    SetNomeConsist(nome);
    ++counter;
    TermCG.setProgress(counter);

    // Quotes inside the values are doubled, so that a name like
    // "OLEO D'AGUA" is matched and the statement means nothing else.
    std::string sql = "UPDATE COMPEDID set CODIGOCOMP = '" + SqlQuoted(codigo) + "' WHERE COMPONENTE = '" +
                      SqlQuoted(nome) + "'";
    try {
      dm.sqlcon1.executeDirect(sql);
    } catch (const EConnectionError&) {
      // The server is gone: every further statement would fail the same way,
      // one message box per component. The run stops with the error itself.
      throw;
    } catch (const std::exception&) {
      ui().showMessage(cp(kNaoExecutou) + " \r" + sql);
    }
    comp.next();
  }
  comp.close();  // nothing was changed in it, so nothing is sent
  PainelCG.visible = false;
}

}  // namespace cg
