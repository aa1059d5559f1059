// The progress panel PainelCG and the gating of the commands. Operations do
// not let window events through while they walk their tables, so whatever
// must show during the walk is repainted at once.
#include "app/form/form.h"

namespace cg {

void TFormConsistGeral::repaint(TControl& control) { ui_.repaint(control.name); }

void TFormConsistGeral::MostraPainelCG(int l, int t, int w, int h) {
  PainelCG.setBounds(l, t, w, h);
  PainelCG.visible = true;
  repaint(PainelCG);
}

void TFormConsistGeral::SetNomeConsist(const std::string& text) {
  NomeConsist.caption = text;
  repaint(NomeConsist);
}

void TFormConsistGeral::AvancaProgresso() {
  ++ContadorProgresso;
  TermCG.setProgress(ContadorProgresso);
}

std::vector<TButton*> TFormConsistGeral::gatedCommands() {
  return {&BotFormulaOrfan,
          &BotCorrecaoComp,
          &BotAjusta,
          &BotSair,
          &BotCorrigeCadMed,
          &BotAbreviaNomeCli,
          &BotAbreviaNomeMed,
          &BotAcertaGrupoSinon,
          &BitBtn5,
          &BitBtn1,
          &btn1};
}

void TFormConsistGeral::DesabilitaComandos() {
  for (TButton* b : gatedCommands()) b->enabled = false;
  gatedByOperation_ = true;
}

void TFormConsistGeral::HabilitaComandos() {
  for (TButton* b : gatedCommands()) b->enabled = true;
  gatedByOperation_ = false;
}

}  // namespace cg
