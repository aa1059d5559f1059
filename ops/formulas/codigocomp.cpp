// BitBtn2: the component code of every order item line rewritten from the
// components registry, matched by the component's name: one UPDATE of
// COMPEDID per registered component.
//
// The statements go to the server in groups (one transaction each, of at
// most kGrupo statements or kGrupoMs of work) instead of one transaction
// each: every commit costs the server synchronous writes of the pages it
// changed, and the lines of one component lie all over the table. A
// statement the server refuses is undone alone and reported; the group goes
// on. Every statement sets a value, so a group lost with the connection is
// made good by running the command again.
#include "data/sql/dm.h"
#include "ops/desfecho.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/sql_text.h"
#include "platform/cp1252.h"

namespace cg {

namespace {
constexpr std::string_view kNaoExecutou = "Não foi possível executar o comando"_cp;
constexpr size_t kTamanhoCodigo = 20;
constexpr int kGrupo = 5000;
constexpr int64_t kGrupoMs = 5000;
}  // namespace

void CorrectItemComponentCodes(RepairContext& f) {
  TDM& dm = f.DM();
  ClientDataSet& comp = dm.cds_Componentes;
  comp.open();

  f.MostraPainelCG(layout::kProgressComponentCodes);
  f.TermCG.setMaxValue(comp.recordCount());
  int counter = 0;
  int erros = 0;

  StatementGroup grupo(dm.sqlcon1, kGrupo, kGrupoMs);
  Field& codigoField = comp.fieldByName("CODIGO");
  Field& nomeField = *dm.cds_ComponentesCOMPONENTE;
  while (!comp.eof()) {
    std::string codigo = codigoField.asString().substr(0, kTamanhoCodigo);
    std::string nome = nomeField.asString();
    f.SetNomeConsist(nome);
    ++counter;
    f.TermCG.setProgress(counter);

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
      f.ui().showMessage(cp(kNaoExecutou) + " \r" + sql);
      ++erros;
    }
    if (grupo.due()) grupo.commit();
    comp.next();
  }
  grupo.end();
  comp.close();  // nothing was changed in it, so nothing is sent
  f.PainelCG.visible = false;
  // The run has no closing message of its own; one that refused statements
  // says so at its end, so that it is not taken for a clean run.
  if (erros > 0) f.ui().showMessage(ConcluidoComErros(erros));
}

}  // namespace cg
