// Fixed cost reset: capsules, packaging and excipients (groups CAP, EMB and
// EXC) carry no fixed cost. One statement on the data directory.
#include <string>
#include <string_view>

#include "ops/repair.h"
#include "ops/repairs.h"
#include "platform/cp1252.h"

namespace cg {
namespace {
constexpr std::string_view kResetFixedCost =
    "update componen set CustoFixo = 0 where GRUPO = 'CAP' or GRUPO = 'EMB' or GRUPO = 'EXC'";
constexpr std::string_view kDone = "Procedimento Concluído"_cp;
}  // namespace

void ResetFixedCost(RepairContext& f) {
  f.Query1.close();
  f.Query1.setSQL(std::string(kResetFixedCost));
  f.Query1.execSQL();
  f.ui().showMessage(std::string(kDone));
}

}  // namespace cg
