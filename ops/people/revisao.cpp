// The review of a name abbreviation run: the live register beside its
// interim copy. Moving in the new names moves the live grid to the same
// person; "Manter Formato Original" empties the interim copy, "Confirmar
// novo Formato" starts the installation's command file that puts the copy
// in place of the live table.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "app/form/form.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {
namespace {

constexpr std::string_view kConfirmQuestion =
    "Confirma a substituição do formato original pelo novo formato ?"_cp;
constexpr std::string_view kDone = "Procedimento concluido."_cp;
constexpr std::size_t kDirectoryWidth = 50;

// The command file is started without waiting, so a missing one would go
// unnoticed while the live table stays as it was.
std::string CommandFileNotFound(const std::string& path) {
  return cp("O arquivo de comandos "_cp) + path +
         cp(" não foi encontrado.\rO formato original foi mantido."_cp);
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
};

Review ClientReview(TFormConsistGeral& f) {
  return {f.Clientes,           f.Clientes_I,           f.PainelFormatCliAntigo, f.PainelFormatCliNovo,
          f.BotCancelFormatCli, f.BotConfirmaFormatCli, "FormatCli.bat",         true};
}

Review DoctorReview(TFormConsistGeral& f) {
  return {f.Medicos,
          f.Medicos_I,
          f.PainelFormatMedAntigo,
          f.PainelFormatMedNovo,
          f.BotCancelFormatMed,
          f.BotConfirmaFormatMed,
          "FormatMed.bat",
          false};
}

// Moves the live table to the record with the interim record's key; the
// live table stays where it is when it lacks the key.
void KeepInStep(Table& interim, Table& live, const char* field1, const char* field2) {
  // The live table opens before the interim copy; until then there is
  // nothing to keep in step.
  if (!live.active()) return;
  live.findKey({interim.asString(field1), interim.asString(field2)});
}

void KeepOriginal(TFormConsistGeral& f, const Review& review) {
  f.PainelAguarde.setBounds(142, 216, 505, 81);
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

// Starts the command file from the suite's main directory. Returns the
// file's name when it does not exist (nothing is started then).
std::optional<std::string> StartReplacement(TFormConsistGeral& f, const Review& review) {
  f.Config.open();
  std::string directory = f.Config.asString("DiretorioPrincipal");
  f.Config.close();
  directory = directory.substr(0, kDirectoryWidth);
  // The stored directory ends with its separator: none is added.
  const std::string commandFile = directory + review.commandFile;
  if (!CommandFileExists(commandFile)) return commandFile;
  f.ui().startProcess(commandFile + " ");
  return std::nullopt;
}

void ConfirmNewFormat(TFormConsistGeral& f, const Review& review) {
  review.cancelButton.enabled = false;
  review.confirmButton.enabled = false;
  const bool consent = f.ui().confirm(std::string(kConfirmQuestion));
  // The command file replaces the table files: both must be closed first.
  review.live.close();
  review.interim.close();
  std::optional<std::string> missingFile;
  if (consent) missingFile = StartReplacement(f, review);
  review.cancelButton.enabled = true;
  review.confirmButton.enabled = true;
  review.originalPanel.visible = false;
  review.newPanel.visible = false;
  if (missingFile)
    f.ui().showMessage(CommandFileNotFound(*missingFile));
  else if (review.closingMessage)
    f.ui().showMessage(std::string(kDone));
  f.HabilitaComandos();
}

}  // namespace

void TFormConsistGeral::Clientes_IAfterScroll(Table& t) { KeepInStep(t, Clientes, "Estacao", "Codigo"); }

void TFormConsistGeral::Medicos_IAfterScroll(Table& t) { KeepInStep(t, Medicos, "CRM", "Especialidade"); }

void TFormConsistGeral::BotCancelFormatCliClick() { KeepOriginal(*this, ClientReview(*this)); }

void TFormConsistGeral::BotCancelFormatMedClick() { KeepOriginal(*this, DoctorReview(*this)); }

void TFormConsistGeral::BotConfirmaFormatCliClick() { ConfirmNewFormat(*this, ClientReview(*this)); }

void TFormConsistGeral::BotConfirmaFormatMedClick() { ConfirmNewFormat(*this, DoctorReview(*this)); }

}  // namespace cg
