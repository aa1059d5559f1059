#include "ops/registry.h"

#include <array>
#include <string_view>
#include <utility>

#include "ops/repairs.h"

namespace cg {

namespace {

constexpr std::array kRepairs = {
    std::pair<std::string_view, Repair>{"BotFormulaOrfanClick", &RemoveOrphanFormulasLive},
    std::pair<std::string_view, Repair>{"BotFormulaOrfanArqQMClick", &RemoveOrphanFormulasArchive},
    std::pair<std::string_view, Repair>{"BitBtn1Click", &CorrectFormulaNames},
    std::pair<std::string_view, Repair>{"BotAcertaGrupoSinonClick", &CorrectSynonymGroups},
    std::pair<std::string_view, Repair>{"BotCorrecaoCompClick", &OpenComponentOptions},
    std::pair<std::string_view, Repair>{"BitBtn4Click", &CancelComponentOptions},
    std::pair<std::string_view, Repair>{"BitBtn3Click", &RunComponentOption},
    std::pair<std::string_view, Repair>{"Edit1Enter", &ChooseDiscountOption},
    std::pair<std::string_view, Repair>{"BotAjustaClick", &AdjustTechnicalParameters},
    std::pair<std::string_view, Repair>{"BitBtn2Click", &CorrectItemComponentCodes},
    std::pair<std::string_view, Repair>{"BitBtn6Click", &ResetFixedCost},
    std::pair<std::string_view, Repair>{"BotAbreviaNomeCliClick", &AbbreviateClientNames},
    std::pair<std::string_view, Repair>{"BotAbreviaNomeMedClick", &AbbreviateDoctorNames},
    std::pair<std::string_view, Repair>{"BotCancelFormatCliClick", &KeepClientFormat},
    std::pair<std::string_view, Repair>{"BotCancelFormatMedClick", &KeepDoctorFormat},
    std::pair<std::string_view, Repair>{"BotConfirmaFormatCliClick", &ConfirmClientFormat},
    std::pair<std::string_view, Repair>{"BotConfirmaFormatMedClick", &ConfirmDoctorFormat},
    std::pair<std::string_view, Repair>{"btn1Click", &AbbreviateOrderNames},
    std::pair<std::string_view, Repair>{"BotCorrigeCadMedClick", &CorrectCrm},
    std::pair<std::string_view, Repair>{"BitBtn5Click", &FillBookCodes},
    std::pair<std::string_view, Repair>{"BitBtn7Click", &CleanSupplierCnpj},
};

constexpr std::array kTableEvents = {
    std::pair<std::string_view, TableEvent>{"Clientes_IAfterScroll", &KeepClientsInStep},
    std::pair<std::string_view, TableEvent>{"Medicos_IAfterScroll", &KeepDoctorsInStep},
};

template <typename Entries>
auto find(const Entries& entries, std::string_view handler) {
  using Run = typename Entries::value_type::second_type;
  for (const auto& [name, run] : entries)
    if (name == handler) return run;
  return Run{nullptr};
}

}  // namespace

Repair FindRepair(std::string_view handler) { return find(kRepairs, handler); }

TableEvent FindTableEvent(std::string_view handler) { return find(kTableEvents, handler); }

}  // namespace cg
