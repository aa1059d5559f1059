// Handlers whose repair is not in this build yet: they say so to the user.
#include "app/form/form.h"
#include "platform/cp1252.h"

namespace cg {
namespace {
[[noreturn]] void notYet() { throw Exception("Operação ainda não disponível nesta versão."_cp.data()); }
}  // namespace

void TFormConsistGeral::BitBtn7Click() { notYet(); }
void TFormConsistGeral::BotCorrecaoCompClick() { notYet(); }
void TFormConsistGeral::BitBtn4Click() { notYet(); }
void TFormConsistGeral::BitBtn3Click() { notYet(); }
void TFormConsistGeral::Edit1Enter() { notYet(); }
void TFormConsistGeral::BitBtn1Click() { notYet(); }
void TFormConsistGeral::btn1Click() { notYet(); }
void TFormConsistGeral::BitBtn5Click() { notYet(); }
void TFormConsistGeral::BitBtn2Click() { notYet(); }

}  // namespace cg
