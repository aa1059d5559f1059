// Handlers whose repair is not in this build yet: they say so to the user.
#include "app/form/form.h"
#include "platform/cp1252.h"

namespace cg {
namespace {
[[noreturn]] void notYet() { throw Exception("Operação ainda não disponível nesta versão."_cp.data()); }
}  // namespace

void TFormConsistGeral::BotFormulaOrfanClick() { notYet(); }
void TFormConsistGeral::BotFormulaOrfanArqQMClick() { notYet(); }
void TFormConsistGeral::BotAbreviaNomeCliClick() { notYet(); }
void TFormConsistGeral::BotAbreviaNomeMedClick() { notYet(); }
void TFormConsistGeral::BotCancelFormatCliClick() { notYet(); }
void TFormConsistGeral::BotCancelFormatMedClick() { notYet(); }
void TFormConsistGeral::BotConfirmaFormatCliClick() { notYet(); }
void TFormConsistGeral::BotConfirmaFormatMedClick() { notYet(); }
void TFormConsistGeral::BotCorrigeCadMedClick() { notYet(); }
void TFormConsistGeral::BotAcertaGrupoSinonClick() { notYet(); }
void TFormConsistGeral::BotAjustaClick() { notYet(); }
void TFormConsistGeral::BitBtn6Click() { notYet(); }
void TFormConsistGeral::Clientes_IAfterScroll(Table&) {}
void TFormConsistGeral::Medicos_IAfterScroll(Table&) {}

}  // namespace cg
