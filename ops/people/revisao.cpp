// The review of a name abbreviation run: the live register beside its
// interim copy. Moving in the new names moves the live grid to the same
// person; "Manter Formato Original" empties the interim copy, "Confirmar
// novo Formato" starts the installation's command file that puts the copy
// in place of the live table.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "data/journal/journal.h"
#include "ops/people/copia_provisoria.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {
namespace {

constexpr std::string_view kConfirmQuestion =
    "Confirma a substituição do formato original pelo novo formato ?"_cp;
constexpr std::string_view kDone = "Procedimento concluido."_cp;
constexpr std::size_t kDirectoryWidth = 50;
constexpr std::string_view kNoReview =
    "Não há revisão do novo formato concluída para confirmar. O cadastro não foi substituído."_cp;
constexpr std::string_view kKept = "\rO formato original foi mantido."_cp;
// How long the confirmation waits for the command file: it copies one table
// under the live table's write lock.
constexpr std::chrono::seconds kReplacementWait{60};
constexpr std::string_view kErrorOutputLead = "Saída de erro do arquivo de comandos:"_cp;
constexpr int kErrorOutputLines = 5;

// The command file is started without waiting, so a missing one would go
// unnoticed while the live table stays as it was.
std::string CommandFileNotFound(const std::string& path) {
  return cp("O arquivo de comandos "_cp) + path + cp(" não foi encontrado."_cp) + cp(kKept);
}

// How the command file ended without putting the copy in place.
std::string HowTheCommandFileEnded(const std::string& path, const ProcessOutcome& outcome) {
  using End = ProcessOutcome::End;
  switch (outcome.end) {
    case End::NotStarted:
      return cp("O arquivo de comandos "_cp) + path + cp(" não pôde ser iniciado."_cp) + cp(kKept);
    case End::Exited:
      return cp("A substituição do formato original pelo novo falhou: o arquivo de comandos "_cp) + path +
             cp(" terminou com o código "_cp) + std::to_string(outcome.code) + "." + cp(kKept);
    case End::Signalled:
      return cp("A substituição do formato original pelo novo falhou: o arquivo de comandos "_cp) + path +
             cp(" foi interrompido pelo sinal "_cp) + std::to_string(outcome.code) + "." + cp(kKept);
    case End::TimedOut:
      break;
  }
  return cp("A substituição do formato original pelo novo não terminou em "_cp) +
         std::to_string(kReplacementWait.count()) + cp(" segundos: o arquivo de comandos "_cp) + path +
         " foi interrompido." + cp(kKept);
}

// What the command file wrote to its standard error, shown under the
// failure: why it failed is there (a program it calls that is missing, a
// table another program holds). Its first lines that are not blank, in the
// messages' code page and line break.
std::string ErrorOutputLines(const std::string& errorOutput) {
  std::string lines;
  int count = 0;
  std::size_t start = 0;
  while (start < errorOutput.size() && count < kErrorOutputLines) {
    std::size_t end = errorOutput.find('\n', start);
    if (end == std::string::npos) end = errorOutput.size();
    std::string line = fromUtf8(std::string_view(errorOutput).substr(start, end - start));
    start = end + 1;
    for (char& c : line)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    const std::size_t last = line.find_last_not_of(' ');
    if (last == std::string::npos) continue;
    lines += '\r';
    lines.append(line, 0, last + 1);
    ++count;
  }
  return lines;
}

// The command file started but did not put the copy in place: how it ended,
// then the start of its error output.
std::string ReplacementFailed(const std::string& path, const ProcessOutcome& outcome) {
  std::string message = HowTheCommandFileEnded(path, outcome);
  const std::string errorLines = ErrorOutputLines(outcome.errorOutput);
  if (!errorLines.empty()) message += "\r" + cp(kErrorOutputLead) + errorLines;
  return message;
}

// The journal could not keep a copy of the live register (another program
// holds it, say): the command file is not started, as the replacement could
// not be undone.
std::string CopyNotKept(const std::string& liveTable, const std::string& why) {
  return cp("A substituição do formato original pelo novo não foi feita: não foi possível guardar "
            "antes uma cópia de "_cp) +
         liveTable + ".\r" + why + cp(kKept);
}

// One review: its tables, key fields, components and command file.
struct Review {
  Table& live;
  Table& interim;
  TControl& originalPanel;
  TControl& newPanel;
  TButton& cancelButton;
  TButton& confirmButton;
  const char* commandFile;
  bool closingMessage;  // "Procedimento concluido." after the confirmation
  bool& ready;          // shown after a complete copy in this run
};

Review ClientReview(RepairContext& f) {
  return {f.Clientes,           f.Clientes_I,           f.PainelFormatCliAntigo, f.PainelFormatCliNovo,
          f.BotCancelFormatCli, f.BotConfirmaFormatCli, "FormatCli.bat",         true,
          f.RevisaoCliPronta};
}

Review DoctorReview(RepairContext& f) {
  return {f.Medicos,
          f.Medicos_I,
          f.PainelFormatMedAntigo,
          f.PainelFormatMedNovo,
          f.BotCancelFormatMed,
          f.BotConfirmaFormatMed,
          "FormatMed.bat",
          false,
          f.RevisaoMedPronta};
}

// Moves the live table to the record with the interim record's key; the
// live table stays where it is when it lacks the key.
void KeepInStep(Table& interim, Table& live, const char* field1, const char* field2) {
  // The live table opens before the interim copy; until then there is
  // nothing to keep in step.
  if (!live.active()) return;
  live.findKey({interim.asString(field1), interim.asString(field2)});
}

void KeepOriginal(RepairContext& f, const Review& review) {
  review.ready = false;
  f.PainelAguarde.setBounds(layout::kWaitPanel);
  f.PainelAguarde.visible = true;
  f.repaint(f.PainelAguarde);
  review.live.close();
  review.interim.close();
  review.interim.emptyTable();
  f.PainelAguarde.visible = false;
  review.originalPanel.visible = false;
  review.newPanel.visible = false;
  f.HabilitaComandos();
}

bool CommandFileExists(const std::string& path) {
  if (!DriveC::isWindowsPath(path)) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(DriveC::resolve(path), ec);
}

// Runs the command file of the suite's main directory and waits for it.
// Returns the message of a failure: the file missing (nothing is started
// then), not started, or ended without putting the copy in place.
std::optional<std::string> RunReplacement(RepairContext& f, const Review& review) {
  // The copy replaces the live table whole: it must be another file, with
  // every field of the live table as the live table has it.
  VerificaArquivosDistintos(review.interim, review.live);
  VerificaLeiauteDaCopia(review.interim, review.live, UsoDaCopia::Substituicao);
  f.Config.open();
  std::string directory = f.Config.asString("DiretorioPrincipal");
  f.Config.close();
  directory = directory.substr(0, kDirectoryWidth);
  // The stored directory ends with its separator: none is added.
  const std::string commandFile = directory + review.commandFile;
  if (!CommandFileExists(commandFile)) return CommandFileNotFound(commandFile);
  // A path with blanks is one word of the command line only when quoted.
  const bool blanks = commandFile.find(' ') != std::string::npos;
  const std::string commandLine = blanks ? "\"" + commandFile + "\" " : commandFile + " ";
  // A simulation starts no command file (the register is not replaced):
  // the user is told which one a real run would start.
  if (f.simulationOpen()) {
    f.commandFileNotStarted(commandFile);
    return std::nullopt;
  }
  // The journal keeps a copy of the live register before the command file
  // replaces it, and notes what the replacement left, so that the run can
  // be undone; without the copy the register is not replaced.
  Journal* journal = f.journal();
  const std::string liveTable = review.live.windowsPath();
  if (journal) {
    try {
      journal->beforeReplace(liveTable, review.interim.windowsPath());
    } catch (const Exception& e) {
      return CopyNotKept(liveTable, e.message());
    }
  }
  const ProcessOutcome outcome = f.ui().startProcess(commandLine, kReplacementWait);
  // Whatever the command file did, even when it failed half-way.
  if (journal) journal->afterReplace(liveTable);
  if (!outcome.succeeded()) {
    // The run failed, though its handler ends normally: so it is kept.
    std::string failure = ReplacementFailed(commandFile, outcome);
    if (journal) journal->failRun(failure);
    return failure;
  }
  return std::nullopt;
}

void ConfirmNewFormat(RepairContext& f, const Review& review) {
  // Only a review built completely in this run is put in place.
  if (!review.ready) {
    f.ui().showMessage(std::string(kNoReview));
    return;
  }
  review.ready = false;
  review.cancelButton.enabled = false;
  review.confirmButton.enabled = false;
  const bool consent = f.ui().confirm(std::string(kConfirmQuestion));
  // The command file replaces the table files: both must be closed first.
  review.live.close();
  review.interim.close();
  std::optional<std::string> failure;
  if (consent) failure = RunReplacement(f, review);
  review.cancelButton.enabled = true;
  review.confirmButton.enabled = true;
  review.originalPanel.visible = false;
  review.newPanel.visible = false;
  if (failure)
    f.ui().showMessage(*failure);
  else if (review.closingMessage)
    f.ui().showMessage(std::string(kDone));
  f.HabilitaComandos();
}

}  // namespace

void KeepClientsInStep(RepairContext& f, Table& t) { KeepInStep(t, f.Clientes, "Estacao", "Codigo"); }

void KeepDoctorsInStep(RepairContext& f, Table& t) { KeepInStep(t, f.Medicos, "CRM", "Especialidade"); }

void KeepClientFormat(RepairContext& f) { KeepOriginal(f, ClientReview(f)); }

void KeepDoctorFormat(RepairContext& f) { KeepOriginal(f, DoctorReview(f)); }

void ConfirmClientFormat(RepairContext& f) { ConfirmNewFormat(f, ClientReview(f)); }

void ConfirmDoctorFormat(RepairContext& f) { ConfirmNewFormat(f, DoctorReview(f)); }

}  // namespace cg
