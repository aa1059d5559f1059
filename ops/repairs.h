// Every repair, named by what it does, with the handler it runs for
// (ops/registry.cpp maps the names). Each is defined in its own file.
#pragma once

namespace cg {

class RepairContext;
class Table;

// BotFormulaOrfanClick: orphan formula rows and items of the live data
void RemoveOrphanFormulasLive(RepairContext& f);
// BotFormulaOrfanArqQMClick: the same in the dead-file archive
void RemoveOrphanFormulasArchive(RepairContext& f);
// BitBtn1Click: formula names on the server in the product-name form
void CorrectFormulaNames(RepairContext& f);
// BotAcertaGrupoSinonClick: component groups copied onto their synonyms
void CorrectSynonymGroups(RepairContext& f);
// BotCorrecaoCompClick: the option panel of the components registry
void OpenComponentOptions(RepairContext& f);
// BitBtn4Click: closes it
void CancelComponentOptions(RepairContext& f);
// BitBtn3Click: runs the option chosen (names, units, discount)
void RunComponentOption(RepairContext& f);
// Edit1Enter: the discount box entered: its option chosen
void ChooseDiscountOption(RepairContext& f);
// BotAjustaClick: zero technical parameters of components
void AdjustTechnicalParameters(RepairContext& f);
// BitBtn2Click: component codes of order items from the registry
void CorrectItemComponentCodes(RepairContext& f);
// BitBtn6Click: fixed cost of capsules and packaging
void ResetFixedCost(RepairContext& f);
// BotAbreviaNomeCliClick: client names abbreviated into the
void AbbreviateClientNames(RepairContext& f);
// interim copy, review shown
// BotAbreviaNomeMedClick: the same for doctors
void AbbreviateDoctorNames(RepairContext& f);
// BotCancelFormatCliClick: the client review closed, the register kept
void KeepClientFormat(RepairContext& f);
// BotCancelFormatMedClick: the same for doctors
void KeepDoctorFormat(RepairContext& f);
// BotConfirmaFormatCliClick: the client review put in place by its command file
void ConfirmClientFormat(RepairContext& f);
// BotConfirmaFormatMedClick: the same for doctors
void ConfirmDoctorFormat(RepairContext& f);
// btn1Click: client names of the orders on the server
void AbbreviateOrderNames(RepairContext& f);
// BotCorrigeCadMedClick: doctors' and orders' CRMs to digits, with the error report
void CorrectCrm(RepairContext& f);
// BitBtn5Click: book codes for the orders that lack one
void FillBookCodes(RepairContext& f);
// BitBtn7Click: punctuation out of the suppliers' CNPJ
void CleanSupplierCnpj(RepairContext& f);

// The reviews' new-format tables keep the live register on the same record.
void KeepClientsInStep(RepairContext& f, Table& t);  // Clientes_IAfterScroll
void KeepDoctorsInStep(RepairContext& f, Table& t);  // Medicos_IAfterScroll

}  // namespace cg
