// BitBtn1: formula names on the server rewritten in the standard product-name
// form. The names reach the server when Formulas closes (the data module
// applies the change log before the close, in rounds past each refusal); the
// names the server refused are told before the closing message.
#include "data/sql/dm.h"
#include "ops/desfecho.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/server_messages.h"
#include "platform/cp1252.h"
#include "text/normaliza.h"

namespace cg {

namespace {
constexpr std::string_view kCaption = "Corrigindo padrão de escrita dos nomes das fórmulas"_cp;
constexpr std::string_view kNaoCorrigiu = "Não foi possível corrigir "_cp;
constexpr std::string_view kNaoCorrigiuFim = ". Favor verificar se já existe outra fórmula com este nome."_cp;
constexpr std::string_view kSucesso = "Procedimento Concluído com Sucesso."_cp;
}  // namespace

void CorrectFormulaNames(RepairContext& f) {
  TDM& dm = f.DM();
  dm.takeRefusals();  // what an interrupted earlier run may have left
  f.MostraPainelCG(layout::kProgressTall);
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  f.SetNomeConsist(cp(kCaption));
  f.repaint(f.PainelCG);

  ClientDataSet& formulas = dm.Formulas;
  formulas.open();
  f.TermCG.setMaxValue(formulas.recordCount());
  f.ContadorProgresso = 0;
  Field& nome = formulas.fieldByName("Formula");
  int erros = 0;
  while (!formulas.eof()) {
    f.AvancaProgresso();
    formulas.edit();
    // A formula without a name keeps none: written back as an empty text it
    // would collide with the next one under the unique name constraint.
    if (!nome.isNull()) nome.setString(FormataNomeProduto(nome.asString()));
    try {
      formulas.post();  // the data module shows "1) ..." first
    } catch (const std::exception&) {
      formulas.cancel();
      f.ui().showMessage(cp(kNaoCorrigiu) + "\"" + nome.asString() + "\"" + cp(kNaoCorrigiuFim));
      ++erros;
    }
    formulas.next();
  }
  formulas.close();
  TDM::Refusals refused = dm.takeRefusals();
  ReportApplyAtClose(f.ui(), refused.count, refused.firstMessage, refused.lostConnection);

  f.PainelCG.visible = false;
  f.ui().showMessage(Desfecho(cp(kSucesso), erros + refused.count, false, ""));
}

}  // namespace cg
