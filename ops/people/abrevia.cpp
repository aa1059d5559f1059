// Client and doctor name abbreviation. The live register is copied record by
// record into its interim copy under VTRNINTER with the name in the house
// style; records whose (new name, phone or CRM) already reached the copy are
// left out. The live register is only read. The run ends by opening the
// side-by-side review, with the commands still disabled.
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ops/people/copia_provisoria.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/walk_field.h"
#include "platform/cp1252.h"
#include "text/normaliza.h"

namespace cg {
namespace {

constexpr std::string_view kCaptionClients = "Abreviando nomes de Clientes."_cp;
constexpr std::string_view kCaptionDoctors = "Abreviando nomes de Médicos."_cp;

// How one field goes from the live record to the new one.
enum class Transfer {
  Text,     // as text; a null stays null, dates and numbers pass as their text
  Integer,  // as a number; a null arrives as 0
  Float,    // as a number; a null arrives as 0
  NewName,  // the shortened name
};

struct FieldTransfer {
  const char* name;
  Transfer transfer;
};

constexpr FieldTransfer kClientFields[] = {
    {"Estacao", Transfer::Text},
    {"Codigo", Transfer::Integer},
    {"Nome", Transfer::NewName},
    {"Endereco", Transfer::Text},
    {"Complemento", Transfer::Text},
    {"Cidade", Transfer::Text},
    {"Estado", Transfer::Text},
    {"CEP", Transfer::Text},
    {"Fone", Transfer::Text},
    {"Medico", Transfer::Text},
    {"QdeFormulas", Transfer::Float},
    {"ValorTotal", Transfer::Float},
    {"Status", Transfer::Text},
    {"DataUltimAlteracao", Transfer::Text},
    {"Convenio", Transfer::Text},
    {"Rota", Transfer::Text},
    {"Categoria", Transfer::Text},
    {"Identidade", Transfer::Text},
    {"Contato", Transfer::Text},
    {"DataAniversario", Transfer::Text},
    {"Sexo", Transfer::Text},
    {"DescontoPadrao", Transfer::Text},
    {"Referencia", Transfer::Text},
    {"DataProxContato", Transfer::Text},
    {"Obs", Transfer::Text},
    {"Profissional", Transfer::Text},
    {"E_mail", Transfer::Text},
    {"Atendente", Transfer::Text},
    {"Vendedor", Transfer::Text},
    {"Infor_Med", Transfer::Text},
    {"TipoDocumento", Transfer::Text},
    {"OrgaoExpedidor", Transfer::Text},
    {"UFEmissaoDocumento", Transfer::Text},
    {"Tipo", Transfer::Text},
    {"LimiteCredito", Transfer::Text},
    {"CreditoUtilizado", Transfer::Text},
};
static_assert(std::size(kClientFields) == 36);

constexpr FieldTransfer kDoctorFields[] = {
    {"CRM", Transfer::Text},
    {"Especialidade", Transfer::Text},
    {"Nome", Transfer::NewName},
    {"Endereco", Transfer::Text},
    {"Complemento", Transfer::Text},
    {"CEP", Transfer::Text},
    {"Cidade", Transfer::Text},
    {"Estado", Transfer::Text},
    {"Telefones", Transfer::Text},
    {"QdeFormulas", Transfer::Integer},
    {"ValorTotal", Transfer::Float},
    {"ComissaoPer", Transfer::Float},
    {"Comissao", Transfer::Float},
    {"DataAniversario", Transfer::Text},
    {"Observacao", Transfer::Text},
    {"E_Mail", Transfer::Text},
    {"Nome_Secretaria", Transfer::Text},
    {"Aniv_Secretaria", Transfer::Text},
    {"Atendente", Transfer::Text},
};
static_assert(std::size(kDoctorFields) == 19);

// What tells the two registers apart.
struct Register {
  std::string_view caption;
  const char* tableName;
  const char* interimIndex;  // (Nome, second key field)
  const char* secondKeyField;
  std::size_t secondKeyWidth;  // std::string::npos: whole
  bool shortNamesKept;         // names under 2 characters copied as they are
  std::span<const FieldTransfer> fields;
};

const Register kClients{kCaptionClients, "Clientes.DB", "NomeFone", "Fone", 30, true, kClientFields};
const Register kDoctors{kCaptionDoctors,   "Medicos.DB", "NomeCRM",    "CRM",
                        std::string::npos, false,        kDoctorFields};

std::string ShortenedName(const Register& reg, const std::string& name) {
  if (reg.shortNamesKept && name.size() < 2) return name;
  return AbreviaNome(name);
}

// A field of the copy with its fields in the two open tables.
struct BoundTransfer {
  Transfer transfer;
  std::optional<Table::FieldRef> from;  // none for the new name
  Table::FieldRef to;
};

// The copy's fields as the two open tables have them. A field missing from
// a table it is read from or written to is left out: it stays empty in
// every new record, and the copy goes on.
std::vector<BoundTransfer> BindTransfers(Table& from, Table& to, std::span<const FieldTransfer> fields) {
  std::vector<BoundTransfer> bound;
  for (const FieldTransfer& field : fields) {
    if (!to.fieldExists(field.name)) continue;
    if (field.transfer == Transfer::NewName) {
      bound.push_back({field.transfer, std::nullopt, to.field(field.name)});
    } else if (from.fieldExists(field.name)) {
      bound.push_back({field.transfer, from.field(field.name), to.field(field.name)});
    }
  }
  return bound;
}

// One assignment of the new record. A value the target rejects leaves that
// field empty: the copy goes on.
void TransferField(const BoundTransfer& field, const std::string& newName) {
  try {
    switch (field.transfer) {
      case Transfer::Text:
        if (!field.from->isNull()) field.to.setString(field.from->asString());
        break;
      case Transfer::Integer:
        field.to.setInteger(field.from->asInteger());
        break;
      case Transfer::Float:
        field.to.setFloat(field.from->asFloat());
        break;
      case Transfer::NewName:
        field.to.setString(newName);
        break;
    }
  } catch (const Exception&) {
  }
}

void CopyWithShortenedNames(RepairContext& f, const Register& reg) {
  Table& interim = f.Destino;
  Table& live = f.Fonte;

  f.DesabilitaComandos();
  f.MostraPainelCG(layout::kProgress);
  f.SetNomeConsist(std::string(reg.caption));

  // The interim copy is emptied and refilled; the installation provides it
  // with its (Nome, phone or CRM) index. Nothing is emptied before the copy
  // is known to be another file than the live table, with that index and
  // the live table's fields.
  interim.setDatabaseName("VTRNINTER");
  interim.setTableName(reg.tableName);
  interim.close();
  interim.setIndexName("");
  interim.open();

  live.setDatabaseName("VTRNDADOS");
  live.setTableName(reg.tableName);
  live.setIndexName("");
  live.open();

  VerificaArquivosDistintos(interim, live);
  interim.setIndexName(reg.interimIndex);
  VerificaLeiauteDaCopia(interim, live, UsoDaCopia::Copia);
  // Both files pass the engine's check before anything is emptied.
  interim.verify();
  live.verify();
  interim.emptyTable();
  interim.first();
  // The copy goes in as one transaction, its name indexes built once at the
  // end: inserted record by record in the order of the live table's key,
  // they would cost a page read and write of their own for each record of
  // a large register.
  interim.beginRefill();
  live.first();

  f.TermCG.setMaxValue(live.recordCount());
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  f.ContadorProgresso = 0;

  // A second key value longer than the key takes is stored whole, and the
  // key search compares whole values: the keys of those (few) records are
  // remembered for the run, so that records whose values agree in the part
  // the key takes are merged all the same.
  std::set<std::pair<std::string, std::string>> cutKeys;

  WalkField name(live, "Nome"), second(live, reg.secondKeyField);
  const std::vector<BoundTransfer> transfers = BindTransfers(live, interim, reg.fields);
  while (!live.eof()) {
    f.AvancaProgresso();
    const std::string newName = ShortenedName(reg, name->asString());
    const std::string secondValue = second->asString();
    const std::string secondKey = secondValue.substr(0, reg.secondKeyWidth);
    if (!interim.findKey({newName, secondKey}) && !cutKeys.contains({newName, secondKey})) {
      interim.append();
      for (const BoundTransfer& field : transfers) TransferField(field, newName);
      interim.post();
      if (secondValue.size() > secondKey.size()) cutKeys.emplace(newName, secondKey);
    }
    live.next();
  }

  // Destino keeps its index name: the next user of Destino finds it set.
  live.close();
  interim.close();
  live.setDatabaseName("");
  live.setTableName("");
  interim.setDatabaseName("");
  interim.setTableName("");

  f.PainelCG.visible = false;
}

// Opens the review: both registers in primary-key order at their first
// records, the focus on the new names.
void OpenReview(RepairContext& f, Table& liveTable, Table& interimTable, TControl& originalPanel,
                TControl& newPanel, TGrid& newGrid) {
  originalPanel.setBounds(layout::kReviewOriginal);
  originalPanel.visible = true;
  newPanel.setBounds(layout::kReviewNew);
  newPanel.visible = true;
  liveTable.setIndexName("");
  interimTable.setIndexName("");
  // The live table opens first: every scroll of the new-format table moves it.
  liveTable.open();
  liveTable.first();
  interimTable.open();
  interimTable.first();
  try {
    f.focus(newGrid);
  } catch (const Exception&) {
  }
}

}  // namespace

void AbbreviateClientNames(RepairContext& f) {
  f.RevisaoCliPronta = false;
  CopyWithShortenedNames(f, kClients);
  OpenReview(f, f.Clientes, f.Clientes_I, f.PainelFormatCliAntigo, f.PainelFormatCliNovo, f.GradeCliNovos);
  f.RevisaoCliPronta = true;
}

void AbbreviateDoctorNames(RepairContext& f) {
  f.RevisaoMedPronta = false;
  CopyWithShortenedNames(f, kDoctors);
  OpenReview(f, f.Medicos, f.Medicos_I, f.PainelFormatMedAntigo, f.PainelFormatMedNovo, f.GradeMedNovos);
  f.RevisaoMedPronta = true;
}

}  // namespace cg
