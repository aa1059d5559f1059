// Every repair, named by what it does, with the handler it runs for
// (ops/registry.cpp maps the names). Each is defined in its own file.
#pragma once

namespace cg {

class RepairContext;
class Table;

void RemoveOrphanFormulasLive(RepairContext& f);  // BotFormulaOrfanClick: orphan formula rows and items of the live data
void RemoveOrphanFormulasArchive(RepairContext& f);  // BotFormulaOrfanArqQMClick: the same in the dead-file archive
void CorrectFormulaNames(RepairContext& f);  // BitBtn1Click: formula names on the server in the product-name form
void CorrectSynonymGroups(RepairContext& f);  // BotAcertaGrupoSinonClick: component groups copied onto their synonyms
void OpenComponentOptions(RepairContext& f);  // BotCorrecaoCompClick: the option panel of the components registry
void CancelComponentOptions(RepairContext& f);  // BitBtn4Click: closes it
void RunComponentOption(RepairContext& f);  // BitBtn3Click: runs the option chosen (names, units, discount)
void ChooseDiscountOption(RepairContext& f);  // Edit1Enter: the discount box entered: its option chosen
void AdjustTechnicalParameters(RepairContext& f);  // BotAjustaClick: zero technical parameters of components
void CorrectItemComponentCodes(RepairContext& f);  // BitBtn2Click: component codes of order items from the registry
void ResetFixedCost(RepairContext& f);  // BitBtn6Click: fixed cost of capsules and packaging
void AbbreviateClientNames(RepairContext& f);  // BotAbreviaNomeCliClick: client names abbreviated into the interim copy, review shown
void AbbreviateDoctorNames(RepairContext& f);  // BotAbreviaNomeMedClick: the same for doctors
void KeepClientFormat(RepairContext& f);  // BotCancelFormatCliClick: the client review closed, the register kept
void KeepDoctorFormat(RepairContext& f);  // BotCancelFormatMedClick: the same for doctors
void ConfirmClientFormat(RepairContext& f);  // BotConfirmaFormatCliClick: the client review put in place by its command file
void ConfirmDoctorFormat(RepairContext& f);  // BotConfirmaFormatMedClick: the same for doctors
void AbbreviateOrderNames(RepairContext& f);  // btn1Click: client names of the orders on the server
void CorrectCrm(RepairContext& f);  // BotCorrigeCadMedClick: doctors' and orders' CRMs to digits, with the error report
void FillBookCodes(RepairContext& f);  // BitBtn5Click: book codes for the orders that lack one
void CleanSupplierCnpj(RepairContext& f);  // BitBtn7Click: punctuation out of the suppliers' CNPJ

// The reviews' new-format tables keep the live register on the same record.
void KeepClientsInStep(RepairContext& f, Table& t);  // Clientes_IAfterScroll
void KeepDoctorsInStep(RepairContext& f, Table& t);  // Medicos_IAfterScroll

}  // namespace cg
