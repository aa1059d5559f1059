// Prescriber registration number (CRM) correction. Doctors and orders get
// their CRM reduced to digits; what cannot be corrected goes to the report
// C:\VITRALON\CRMERROS.TXT for the user to fix by hand:
//   - a doctor whose digit form another doctor already holds;
//   - an order that cannot be rewritten (locked by another program, ...).
#include <algorithm>
#include <compare>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/walk_field.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {
namespace {

constexpr std::string_view kReportPath = "c:\\vitralon\\CRMERROS.TXT"_cp;
constexpr std::string_view kCaptionDoctors = " Corrigindo CRM no Cad. de Médico."_cp;
constexpr std::string_view kCaptionOrders = " Corrigindo CRM no Cad. de Pedidos."_cp;
constexpr std::string_view kDoctorsHeading = "CRMs INCORRETOS NO CADASTRO DE MEDIDOS"_cp;
constexpr std::string_view kOrdersHeading = "CRMs INCORRETOS NO CADASTRO DE PEDIDOS"_cp;
constexpr std::string_view kUnderline = "======================================"_cp;
constexpr std::string_view kDoneWithErrors =
    "Procedimento concluído. Favor verificar o relatório de erros de consistência "
    "(C:\\VITRALON\\CRMERROS.TXT) para completar a correção manualmente."_cp;
constexpr std::string_view kDone = "Procedimento concluído com sucesso."_cp;

// A CRM is judged on its first 20 characters.
constexpr std::size_t kWorkingWidth = 20;

std::string WorkingCopy(const std::string& crm) { return crm.substr(0, kWorkingWidth); }

std::string DigitForm(const std::string& workingCopy) {
  std::string digits;
  for (char c : workingCopy)
    if (c >= '0' && c <= '9') digits.push_back(c);
  return digits;
}

// The report: CP1252 lines ending in CR LF, created anew by every run.
class CrmReport {
 public:
  explicit CrmReport(RepairContext& f) {
    std::filesystem::path file;
    try {
      // In a simulation the report goes to the simulation's folder.
      file = f.writtenFile(std::string(kReportPath));
    } catch (const EPathError&) {
      throw EInOutError(CannotCreate());
    }
    out_.open(file, std::ios::binary | std::ios::trunc);
    if (!out_) throw EInOutError(CannotCreate());
  }

  void line(std::string_view text) {
    out_ << text << "\r\n";
    if (!out_) throw EInOutError(CannotWrite());
  }

  void close() {
    out_.close();
    if (!out_) throw EInOutError(CannotWrite());
  }

 private:
  static std::string CannotCreate() {
    return cp("Não foi possível criar o arquivo "_cp) + std::string(kReportPath) + ".";
  }
  static std::string CannotWrite() {
    return cp("Erro de gravação no arquivo "_cp) + std::string(kReportPath) + ".";
  }

  std::ofstream out_;
};

// A doctor's primary key. On the Nome index namesakes follow one another in
// the order of this key (text in byte order, blanks first).
struct DoctorKey {
  std::string crm;
  std::string especialidade;
  auto operator<=>(const DoctorKey&) const = default;
};

// The doctors' table (Fonte) and the fields the walk reads, for its opening.
struct Doctors {
  explicit Doctors(Table& t) : table(t), crm(t, "CRM"), especialidade(t, "Especialidade"), nome(t, "Nome") {}
  DoctorKey keyOfCurrent() { return {crm->asString(), especialidade->asString()}; }

  Table& table;
  WalkField crm, especialidade, nome;
};

struct Run {
  RepairContext& f;
  CrmReport report;
  int errors = 0;
};

// The search on the CRM index may leave the cursor on another doctor; the
// examined one is found again among its namesakes by its key (its name alone
// would land on the first of them).
void ReturnToExamined(Doctors& doctors, const std::string& name, const DoctorKey& examined) {
  doctors.table.setIndexName("Nome");
  doctors.table.findKey({name});
  while (!doctors.table.eof() && doctors.nome->asString() == name && doctors.keyOfCurrent() < examined)
    doctors.table.next();
}

// A corrected doctor may have moved among its namesakes, forwards or
// backwards: the walk goes on with the doctor that followed it before the
// change. Returns true when the corrected doctor now stands ahead of the
// walk, to be passed over when the walk reaches it.
bool GoPastCorrected(Doctors& doctors, const std::string& name, const DoctorKey& before,
                     const DoctorKey& after) {
  doctors.table.findKey({name});
  while (!doctors.table.eof() && doctors.nome->asString() == name) {
    const DoctorKey key = doctors.keyOfCurrent();
    if (before < key && key != after) return after > key;
    doctors.table.next();
  }
  return false;
}

// Doctors, in name order. A malformed CRM becomes its digit form unless
// another doctor already holds it; then the doctor is reported.
void CorrectDoctors(Run& run) {
  Doctors doctors(run.f.Fonte);
  Table& table = doctors.table;
  std::vector<DoctorKey> aheadOfWalk;  // corrected doctors already examined
  while (!table.eof()) {
    if (!aheadOfWalk.empty()) {
      auto seen = std::find(aheadOfWalk.begin(), aheadOfWalk.end(), doctors.keyOfCurrent());
      if (seen != aheadOfWalk.end()) {
        aheadOfWalk.erase(seen);
        table.next();
        continue;
      }
    }
    run.f.AvancaProgresso();
    const std::string crm = doctors.crm->asString();
    const std::string working = WorkingCopy(crm);
    const std::string digits = DigitForm(working);
    if (working.empty() || crm == digits) {
      table.next();
      continue;
    }
    const std::string name = doctors.nome->asString();
    const DoctorKey examined{crm, doctors.especialidade->asString()};
    table.setIndexName("CRM");
    if (table.findKey({digits})) {
      ReturnToExamined(doctors, name, examined);
      ++run.errors;
      run.report.line("  " + doctors.crm->asString());
      table.next();
    } else {
      // No doctor holds the digit form, and the cursor stayed on the
      // examined doctor.
      table.setIndexName("Nome");
      table.edit();
      doctors.crm->setString(digits);
      table.post();
      const DoctorKey corrected{digits, examined.especialidade};
      if (GoPastCorrected(doctors, name, examined, corrected)) aheadOfWalk.push_back(corrected);
    }
  }
}

// Orders, in primary-key order. Every non-empty CRM is rewritten; an order
// that cannot be is reported with the values it holds and the scan goes on.
void CorrectOrders(Run& run) {
  Table& orders = run.f.Fonte;
  WalkField crm(orders, "CRM"), estacao(orders, "Estacao"), npedido(orders, "NPedido");
  while (!orders.eof()) {
    run.f.AvancaProgresso();
    const std::string working = WorkingCopy(crm->asString());
    if (!working.empty()) {
      const std::string digits = DigitForm(working);
      try {
        orders.edit();
        crm->setString(digits);
        orders.post();
      } catch (const Exception&) {
        if (orders.editing()) orders.cancel();
        ++run.errors;
        run.report.line("  " + estacao->asString() + "." + npedido->asString() + "  CRM: " + crm->asString());
      }
    }
    orders.next();
  }
}

}  // namespace

void CorrectCrm(RepairContext& f) {
  // Both registers pass the engine's check before the report or any CRM is
  // written.
  f.Medicos.verify();
  f.Pedidos.verify();
  Run run{f, CrmReport{f}};

  f.MostraPainelCG(layout::kProgress);
  f.SetNomeConsist(std::string(kCaptionDoctors));

  f.Fonte.setDatabaseName("VTRNDADOS");
  f.Fonte.setTableName("Medicos.DB");
  f.Fonte.setIndexName("Nome");
  f.Fonte.open();
  f.Fonte.first();
  f.Pedidos.open();
  f.TermCG.setMaxValue(f.Fonte.recordCount() + f.Pedidos.recordCount());
  f.Pedidos.close();
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  f.ContadorProgresso = 0;

  run.report.line(kDoctorsHeading);
  run.report.line(kUnderline);
  run.report.line(" ");
  CorrectDoctors(run);
  f.Fonte.close();

  f.MostraPainelCG(layout::kProgress);
  f.SetNomeConsist(std::string(kCaptionOrders));
  f.Fonte.setTableName("Pedidos.DB");
  f.Fonte.setIndexName("");
  f.Fonte.open();
  f.Fonte.first();
  run.report.line(" ");
  run.report.line(" ");
  run.report.line(kOrdersHeading);
  run.report.line(kUnderline);
  run.report.line(" ");
  CorrectOrders(run);

  // Fonte stays bound to the orders table.
  f.Fonte.close();
  f.PainelCG.visible = false;
  run.report.close();

  f.ui().showMessage(std::string(run.errors > 0 ? kDoneWithErrors : kDone));
}

}  // namespace cg
