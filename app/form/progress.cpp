// The progress panel PainelCG and the gating of the commands. Operations do
// not let window events through while they walk their tables, so whatever
// must show during the walk is repainted at once.
#include <cstdio>

#include "app/form/form.h"
#include "platform/clock.h"

namespace cg {

namespace {

// The elapsed time shows once a panel has been up this long.
constexpr int64_t kTempoVisivelMs = 3000;

std::string minutos(int64_t ms) {
  const int64_t s = ms / 1000;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  return text;
}

}  // namespace

void TFormConsistGeral::repaint(TControl& control) { ui_.repaint(control.name); }

void TFormConsistGeral::MostraPainelCG(int l, int t, int w, int h) {
  PainelCG.setBounds(l, t, w, h);
  PainelCG.visible = true;
  LabelTempo.visible = false;
  LabelTempo.caption.clear();
  panelShownMs_ = stepBaseMs_ = Clock::nowMs();
  stepBasePosition_ = lastPosition_ = TermCG.progress();
  for (TButton* b : stoppableCommands())
    if (b == command_) PermiteInterromper();
  repaint(PainelCG);
}

void TFormConsistGeral::PermiteInterromper() {
  stopRequested_ = false;
  BotInterromper.setBounds(PainelCG.width - 112, 34, 100, 26);
  BotInterromper.visible = true;
  BotInterromper.enabled = true;
}

void TFormConsistGeral::BotInterromperClick() {
  if (!BotInterromper.visible || stopRequested_) return;
  stopRequested_ = true;
  BotInterromper.enabled = false;
  repaint(BotInterromper);
}

void TFormConsistGeral::MostraTempo() {
  if (!PainelCG.visible) return;
  const int64_t now = Clock::nowMs();
  const int position = TermCG.progress();
  // A gauge set back (a new walk, or a new pass) starts a new estimate.
  if (position < lastPosition_) {
    stepBaseMs_ = now;
    stepBasePosition_ = position;
  }
  lastPosition_ = position;
  const int64_t elapsed = now - panelShownMs_;
  if (elapsed < kTempoVisivelMs) return;
  const int64_t done = position - stepBasePosition_;
  const int64_t left = static_cast<int64_t>(TermCG.maxValue()) - position;
  const bool estimate = done > 0 && left > 0;
  // Written again once a second, and when the estimate comes or goes: a walk
  // of millions of records would otherwise spend more on this text than on
  // its records.
  if (LabelTempo.visible && elapsed / 1000 == tempoSecond_ && estimate == tempoEstimate_) return;
  tempoSecond_ = elapsed / 1000;
  tempoEstimate_ = estimate;
  std::string text = "Decorrido: " + minutos(elapsed);
  if (estimate) text += "\rRestante: cerca de " + minutos((now - stepBaseMs_) * left / done);
  LabelTempo.caption = text;
  LabelTempo.visible = true;
  repaint(LabelTempo);
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
