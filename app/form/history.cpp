// The history panel: the runs of the journal, the changes of the chosen
// run, its report and its undo; and the run that every command of the
// window is recorded as.
#include "app/form/history.h"

#include <algorithm>
#include <set>
#include <utility>

#include "app/form/form.h"
#include "data/sql/dm.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/regional.h"

namespace cg {
namespace {

constexpr std::string_view kJournalClosed =
    "O histórico das alterações não está aberto: nenhum comando é executado sem o seu registro."_cp;
constexpr std::string_view kChooseRun = "Escolha uma execução na lista."_cp;
constexpr std::string_view kNoChanges = "Nenhum registro foi alterado nesta execução."_cp;

// A message on one line of a list.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

}  // namespace

std::string OperationText(char op) {
  switch (op) {
    case 'I':
      return cp("inclusão"_cp);
    case 'D':
      return cp("exclusão"_cp);
    case 'R':
      return cp("substituição"_cp);
    case 'C':
      return cp("conflito"_cp);
    default:
      return cp("alteração"_cp);
  }
}

std::string RowsText(int64_t rows) { return IntToStr(rows) + (rows == 1 ? " registro" : " registros"); }

std::string ChangedText(const RunInfo& run) {
  // A register replaced whole is no row count: it is said as what it is.
  int64_t replaced = 0;
  for (const auto& [what, n] : run.counts)
    if (what.second == 'R') replaced += n;
  const int64_t rows = run.total() - replaced;
  if (!replaced) return RowsText(rows);
  const std::string registers =
      replaced == 1 ? cp("cadastro substituído"_cp) : IntToStr(replaced) + cp(" cadastros substituídos"_cp);
  return rows ? RowsText(rows) + " e " + registers : registers;
}

std::string RunLine(const RunInfo& run) {
  std::string line =
      IntToStr(run.number) + " - " + run.started + " - " + run.caption + " - " + OutcomeText(run.outcome);
  if (run.outcome == RunOutcome::Failed && !run.message.empty()) line += ": " + oneLine(run.message);
  line += " - " + ChangedText(run);
  if (run.conflicts)
    line += " (" + IntToStr(run.conflicts) + (run.conflicts == 1 ? " conflito)" : " conflitos)");
  if (run.simulation) line += cp(" (simulação)"_cp);
  if (run.undoneBy) line += cp(" (desfeita pela execução "_cp) + IntToStr(run.undoneBy) + ")";
  return line;
}

std::string ChangeText(const ChangeLine& c) {
  std::string line = c.table + " | ";
  if (!c.key.empty()) line += c.key + " | ";
  line += OperationText(c.op) + " | ";
  // A register replaced whole: the copy it can be put back from.
  if (c.op == 'R') return line + cp("cópia: "_cp) + (c.before.empty() ? c.after : c.before);
  if (!c.field.empty()) line += c.field + ": ";
  return line + oneLine(c.before) + " -> " + oneLine(c.after);
}

std::string UndoForecast(const RunInfo& run, int64_t rows) {
  if (run.undoneBy)
    return cp("Ela já foi desfeita pela execução "_cp) + IntToStr(run.undoneBy) +
           cp(": só o que estiver de novo como ela deixou será restaurado (no máximo "_cp) + RowsText(rows) +
           ").";
  int64_t replaced = 0;
  for (const auto& [what, n] : run.counts)
    if (what.second == 'R') replaced += n;
  rows -= replaced;
  const std::string registers = replaced == 1
                                    ? cp("o cadastro substituído será reposto da sua cópia."_cp)
                                    : cp("os cadastros substituídos serão repostos das suas cópias."_cp);
  const std::string plain =
      RowsText(rows) + (rows == 1 ? cp(" será restaurado"_cp) : cp(" serão restaurados"_cp));
  if (!replaced) return plain + ".";
  if (rows <= 0) return static_cast<char>(registers[0] - 'a' + 'A') + registers.substr(1);
  return plain + " e " + registers;
}

std::string UndoSummary(int64_t undone, const UndoResult& u, size_t conflictLines) {
  std::string text = cp("A execução "_cp) + IntToStr(undone) + " foi desfeita (" + cp("execução "_cp) +
                     IntToStr(u.run) + ").\r" + "Restaurados: " + RowsText(u.restored) + "\r" +
                     cp("Já como antes: "_cp) + RowsText(u.unchanged) + "\r" +
                     cp("Conflitos (alterados depois da execução, mantidos como estão): "_cp) +
                     RowsText(u.conflictRows);
  for (size_t i = 0; i < u.conflicts.size() && i < conflictLines; ++i)
    text += "\r" + ChangeText(u.conflicts[i]);
  if (u.conflicts.size() > conflictLines)
    text += cp("\r... e mais "_cp) + IntToStr(static_cast<int64_t>(u.conflicts.size() - conflictLines)) +
            cp(": o relatório da execução "_cp) + IntToStr(u.run) + " lista todos.";
  return text;
}

// ---- The run of a command ------------------------------------------------------

namespace {

// A caption as a run's name: without its accelerator marks, its blanks single.
std::string RunCaption(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    char c = caption[i];
    if (c == '&') {
      if (i + 1 >= caption.size() || caption[i + 1] != '&') continue;
      ++i;
    }
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

void TFormConsistGeral::beginCommandRun(TButton& button) {
  if (!journal_) {
    if (!journalRequired_) return;
    throw EJournalError(journalError_.empty() ? cp(kJournalClosed) : journalError_);
  }
  // The component options' panel opening, or closed unused, changes
  // nothing: no run. Its OK runs the command with the option chosen.
  if (&button == &BotCorrecaoComp || &button == &BitBtn4) return;
  std::string command = button.name, runCaption = RunCaption(button.caption);
  if (&button == &BitBtn3) {
    command = BotCorrecaoComp.name;
    runCaption = RunCaption(BotCorrecaoComp.caption);
    for (const TRadioButton* option : {&RadioButton3, &RadioButton4, &RadioButton1})
      if (option->checked) runCaption += ": " + RunCaption(option->caption);
  }
  runSimulated_ = simulationMode_;
  runNumber_ = journal_->beginRun(command, runCaption, runSimulated_);
  if (runSimulated_) beginSimulation();
}

void TFormConsistGeral::endCommandRun(bool failed, const std::string& message) {
  const int64_t run = std::exchange(runNumber_, 0);
  const bool simulated = std::exchange(runSimulated_, false);
  // Back at rest, the simulation ends before its run does: its end hands
  // the journal the records of what it changed, then lets go of the files.
  if (simulated && (atRest() || closed_)) endSimulation();
  if (!journal_) return;
  const RunOutcome outcome =
      failed ? RunOutcome::Failed : (stopRequested_ ? RunOutcome::Interrupted : RunOutcome::Completed);
  try {
    journal_->endRun(outcome, failed ? message : std::string());
  } catch (const Exception& e) {
    ui_.showError(e);
  }
  if (!simulated) return;
  lastSimulatedRun_ = run;
  for (const auto& [windowsPath, host] : simulatedFiles_)
    ui_.showMessage(cp("Simulação: o arquivo "_cp) + windowsPath + " foi gravado em " +
                    fromUtf8(host.string()) + ".");
}

// ---- The panel ------------------------------------------------------------------

std::string TFormConsistGeral::reportPath(int64_t number) {
  return "C:\\VITRALON\\CONSISTGERAL\\Historico_" + IntToStr(number) + ".csv";
}

void TFormConsistGeral::BotHistoricoClick() {
  if (!journal_) throw EJournalError(journalError_.empty() ? cp(kJournalClosed) : journalError_);
  loadHistory(0);
  PainelHistorico.visible = true;
  focus(ListaExecucoes);
  repaint(PainelHistorico);
}

void TFormConsistGeral::loadHistory(int64_t select) {
  historyRuns_ = journal_->runs();
  std::sort(historyRuns_.begin(), historyRuns_.end(),
            [](const RunInfo& a, const RunInfo& b) { return a.number > b.number; });
  ListaExecucoes.items.clear();
  ListaExecucoes.itemIndex = historyRuns_.empty() ? -1 : 0;
  for (size_t i = 0; i < historyRuns_.size(); ++i) {
    ListaExecucoes.items.push_back(RunLine(historyRuns_[i]));
    if (historyRuns_[i].number == select) ListaExecucoes.itemIndex = static_cast<int>(i);
  }
  showChanges();
}

void TFormConsistGeral::showChanges() {
  ListaAlteracoes.items.clear();
  ListaAlteracoes.itemIndex = -1;
  const int index = ListaExecucoes.itemIndex;
  const bool chosen = journal_ && index >= 0 && index < static_cast<int>(historyRuns_.size());
  BotDesfazer.enabled = BotRelatorio.enabled = chosen;
  if (!chosen) return;
  const RunInfo& run = historyRuns_[static_cast<size_t>(index)];
  // A run still under way (in another program) is not undone.
  // A simulation wrote nothing: nothing to undo. While a simulation is
  // open, an undo would be written into it: none.
  BotDesfazer.enabled = run.outcome != RunOutcome::Running && (run.total() > 0 || run.unsettled > 0) &&
                        !run.simulation && !simulationOpen_;
  std::vector<ChangeLine> lines = journal_->changes(run.number, kChangeLinesShown + 1);
  const bool more = lines.size() > kChangeLinesShown;
  if (more) lines.resize(kChangeLinesShown);
  std::set<int64_t> rowsShown;
  for (const ChangeLine& l : lines) {
    ListaAlteracoes.items.push_back(ChangeText(l));
    rowsShown.insert(l.sequence);
  }
  const std::string report = "consistgeral --relatorio " + IntToStr(run.number);
  if (more) {
    const int64_t rest = run.total() - static_cast<int64_t>(rowsShown.size());
    ListaAlteracoes.items.push_back(
        cp("... as primeiras "_cp) + IntToStr(static_cast<int64_t>(kChangeLinesShown)) + " linhas; " +
        (rest > 0 ? "mais " + RowsText(rest) + cp(" alterados. "_cp) : std::string()) +
        cp("O relatório ("_cp) + report + ") tem todas as linhas.");
  } else if (lines.empty()) {
    ListaAlteracoes.items.push_back(cp(kNoChanges));
  }
  repaint(PainelHistorico);
}

void TFormConsistGeral::choose(TListBox& list, int index) {
  if (closed_ || commandRunning() || index == list.itemIndex || index < 0 ||
      index >= static_cast<int>(list.items.size()))
    return;
  list.itemIndex = index;
  if (list.onSelect) runHandler(list.onSelect);
}

bool TFormConsistGeral::SelecionaExecucao(int64_t number) {
  if (!PainelHistorico.showing()) return false;
  for (size_t i = 0; i < historyRuns_.size(); ++i) {
    if (historyRuns_[i].number != number) continue;
    ListaExecucoes.itemIndex = static_cast<int>(i);
    showChanges();
    return true;
  }
  return false;
}

void TFormConsistGeral::BotDesfazerClick() {
  const int index = ListaExecucoes.itemIndex;
  if (!journal_ || index < 0 || index >= static_cast<int>(historyRuns_.size())) {
    ui_.showMessage(cp(kChooseRun));
    return;
  }
  const RunInfo run = historyRuns_[static_cast<size_t>(index)];
  if (simulationOpen_) return;
  const std::string question = cp("Desfazer a execução "_cp) + IntToStr(run.number) + " (" + run.caption +
                               ", " + run.started + ")?\r" +
                               UndoForecast(run, journal_->rowsToRestore(run.number) + run.unsettled);
  if (!ui_.confirm(question)) return;
  const UndoResult result = journal_->undo(run.number, dm_ ? &dm_->sqlcon1 : nullptr);
  loadHistory(result.run);
  ui_.showMessage(UndoSummary(run.number, result));
}

void TFormConsistGeral::BotRelatorioClick() {
  const int index = ListaExecucoes.itemIndex;
  if (!journal_ || index < 0 || index >= static_cast<int>(historyRuns_.size())) {
    ui_.showMessage(cp(kChooseRun));
    return;
  }
  const int64_t number = historyRuns_[static_cast<size_t>(index)].number;
  const std::string path = reportPath(number);
  const std::filesystem::path file = DriveC::resolve(path);
  // A report written before is replaced only when the user says so; a
  // database there, never.
  bool replace = false;
  if (std::string refusal = Journal::reportRefusal(file, false, path); !refusal.empty()) {
    if (!Journal::reportRefusal(file, true).empty()) {
      refusal = Journal::reportRefusal(file, true, path);
      ui_.showMessage(refusal);
      return;
    }
    if (!ui_.confirm(cp("O arquivo "_cp) + path + cp(" já existe. Gravar o relatório sobre ele?"_cp))) return;
    replace = true;
  }
  journal_->writeReport(number, file, replace);
  ui_.showMessage(cp("O relatório da execução "_cp) + IntToStr(number) + " foi gravado em " + path + ".");
}

void TFormConsistGeral::BotFecharHistoricoClick() {
  PainelHistorico.visible = false;
  historyRuns_.clear();
  ListaExecucoes.items.clear();
  ListaExecucoes.itemIndex = -1;
  ListaAlteracoes.items.clear();
  BotDesfazer.enabled = BotRelatorio.enabled = false;
  focus(BotHistorico);
  repaint(PainelConsistG);
}

}  // namespace cg
