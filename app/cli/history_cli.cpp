#include "app/cli/history_cli.h"

#include <algorithm>
#include <filesystem>
#include <istream>
#include <ostream>

#include "app/form/history.h"
#include "app/form/program.h"
#include "platform/cp1252.h"
#include "platform/process.h"
#include "platform/regional.h"

namespace cg {
namespace {

// CP1252 text of the system to the terminal's UTF-8, '\r' as a line break.
std::string utf8(const std::string& cp1252) {
  std::string t = toUtf8(cp1252);
  for (char& c : t)
    if (c == '\r') c = '\n';
  return t;
}

std::string count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "3 alterações, 1 exclusão" for one table's counts.
std::string tableCounts(const RunInfo& run, const std::string& table) {
  struct Op {
    char letter;
    const char *one, *many;
  };
  const Op ops[] = {{'I', "inclusão", "inclusões"},
                    {'U', "alteração", "alterações"},
                    {'D', "exclusão", "exclusões"},
                    {'R', "substituição", "substituições"}};
  std::string text;
  for (const Op& op : ops) {
    auto it = run.counts.find({table, op.letter});
    if (it == run.counts.end() || it->second == 0) continue;
    text += (text.empty() ? "" : ", ") + count(it->second, op.one, op.many);
  }
  return text;
}

// The window's means of showing, on the terminal: the undo's program has no
// window, and asks nothing through it.
class ConsoleInterface : public UserInterface {
 public:
  explicit ConsoleInterface(std::ostream& errors) : errors_(errors) {}
  void showMessage(const std::string& text) override { errors_ << "consistgeral: " << utf8(text) << "\n"; }
  bool confirm(const std::string& text) override {
    errors_ << "consistgeral: " << utf8(text) << " (respondido: não)\n";
    return false;
  }
  void showError(const Exception& error) override {
    errors_ << "consistgeral: " << utf8(error.message()) << "\n";
  }
  void repaint(const std::string&) override {}
  void processMessages() override {}
  ProcessOutcome startProcess(const std::string& commandLine, std::chrono::milliseconds waitAtMost) override {
    return RunProcess(commandLine, waitAtMost);
  }

 private:
  std::ostream& errors_;
};

std::unique_ptr<Journal> openJournal(std::ostream& errors) {
  try {
    return Journal::open(nullptr);
  } catch (const Exception& e) {
    errors << "consistgeral: " << utf8(e.message()) << "\n";
  }
  return nullptr;
}

}  // namespace

void PrintRun(const RunInfo& run, std::ostream& out) {
  out << "Execução " << run.number << ": " << utf8(run.caption) << " (" << run.command << ")\n";
  out << "  início: " << run.started << "  fim: " << (run.ended.empty() ? "-" : run.ended) << "\n";
  out << "  resultado: " << utf8(OutcomeText(run.outcome));
  if (run.outcome == RunOutcome::Failed && !run.message.empty()) {
    std::string message = utf8(run.message);
    for (char& c : message)
      if (c == '\n') c = ' ';
    out << ": " << message;
  }
  if (run.undoes) out << " (desfaz a execução " << run.undoes << ")";
  if (run.undoneBy) out << " (desfeita pela execução " << run.undoneBy << ")";
  if (run.simulation) out << " (simulação: nada foi gravado)";
  out << "\n";
  std::vector<std::string> tables;
  for (const auto& [key, rows] : run.counts)
    if (rows > 0 && (tables.empty() || tables.back() != key.first)) tables.push_back(key.first);
  if (tables.empty() && !run.unsettled) out << "  nenhum registro alterado\n";
  if (run.unsettled)
    out << "  servidor: " << run.unsettled << (run.unsettled == 1 ? " registro" : " registros")
        << " a confirmar (o programa parou antes de saber se foram gravados; verificados na próxima conexão "
           "com o servidor ou ao desfazer)\n";
  for (const std::string& table : tables)
    out << "  " << utf8(table) << ": " << tableCounts(run, table) << "\n";
  if (run.conflicts)
    out << "  conflitos (alterados depois da execução desfeita, mantidos como estão): " << run.conflicts
        << (run.conflicts == 1 ? " registro\n" : " registros\n");
}

int PrintHistory(std::ostream& out, std::ostream& errors) {
  auto journal = openJournal(errors);
  if (!journal) return 1;
  std::vector<RunInfo> runs;
  try {
    runs = journal->runs();
  } catch (const Exception& e) {
    errors << "consistgeral: " << utf8(e.message()) << "\n";
    return 1;
  }
  std::sort(runs.begin(), runs.end(), [](const RunInfo& a, const RunInfo& b) { return a.number < b.number; });
  if (runs.empty()) out << "Nenhuma execução no histórico.\n";
  bool first = true;
  for (const RunInfo& run : runs) {
    if (!first) out << "\n";
    first = false;
    PrintRun(run, out);
  }
  return 0;
}

int WriteRunReport(int64_t number, const std::optional<std::string>& file, bool replace, std::ostream& out,
                   std::ostream& errors) {
  auto journal = openJournal(errors);
  if (!journal) return 1;
  const std::filesystem::path path =
      std::filesystem::absolute(file ? *file : "Historico_" + std::to_string(number) + ".csv");
  try {
    if (!journal->run(number)) {
      errors << "consistgeral: não há execução " << number << " no histórico.\n";
      return 1;
    }
    if (std::string refusal = Journal::reportRefusal(path, replace); !refusal.empty()) {
      errors << "consistgeral: " << utf8(refusal);
      if (Journal::reportRefusal(path, true).empty()) errors << " Para gravar sobre ele: --substituir.";
      errors << "\n";
      return 1;
    }
    journal->writeReport(number, path, replace);
  } catch (const Exception& e) {
    errors << "consistgeral: " << utf8(e.message()) << "\n";
    return 1;
  }
  out << path.string() << "\n";
  return 0;
}

int UndoRun(int64_t number, bool yes, bool terminal, std::istream& answers, std::ostream& out,
            std::ostream& errors) {
  if (!yes && !terminal) {
    errors << "consistgeral: --desfazer sem terminal para a pergunta: confirme com --confirmar.\n";
    return 2;
  }
  // The undo changes the installation's data: it holds the in-use marker as
  // the window does (refused while another module runs), and is recorded in
  // the journal as a run of its own.
  ConsoleInterface ui(errors);
  Program program(ui);
  program.activate();
  if (program.form().markerRefused()) return 3;
  Journal* journal = program.journal();
  if (!journal) return 1;
  TFormConsistGeral& form = program.form();
  std::optional<RunInfo> run;
  int64_t rows = 0;
  if (!form.runReported([&] {
        run = journal->run(number);
        if (run) rows = journal->rowsToRestore(number) + run->unsettled;
      }))
    return 1;
  if (!run) {
    errors << "consistgeral: não há execução " << number << " no histórico.\n";
    return 1;
  }
  // A simulation wrote nothing: the journal refuses it, with its message,
  // before anything is asked.
  if (run->simulation) {
    form.runReported([&] { journal->undo(number, &program.dataModule().sqlcon1); });
    return 1;
  }
  out << "A execução " << number << " (" << utf8(run->caption) << ", " << run->started
      << ") será desfeita: " << utf8(UndoForecast(*run, rows)) << "\n";
  if (!yes) {
    out << "Confirma? (s/n) " << std::flush;
    std::string answer;
    std::getline(answers, answer);
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    if (answer != "s" && answer != "S" && answer != "sim" && answer != "Sim") {
      out << "Nada foi desfeito.\n";
      return 3;
    }
  }
  UndoResult result;
  if (!form.runReported([&] { result = journal->undo(number, &program.dataModule().sqlcon1); })) return 1;
  out << utf8(UndoSummary(number, result, result.conflicts.size())) << "\n";
  return 0;
}

}  // namespace cg
