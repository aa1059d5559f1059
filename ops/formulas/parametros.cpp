// Technical parameter adjustment: a correction factor, dilution factor or
// density of exactly zero (or empty) becomes 1. The repairs are counted per
// parameter and reported in one message.
#include <string>
#include <string_view>

#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/walk_field.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

constexpr std::string_view kNothingFound =
    "Nenhum erro encontrado : Fat. Correção, Fat. Diluição e Densidade."_cp;
constexpr std::string_view kCorrected = "No Cad. Componentes foram corrigidos: "_cp;
constexpr std::string_view kCorrectionFactors = " Fat. Correção, "_cp;
constexpr std::string_view kDilutionFactors = " Fat. Diluição e "_cp;
constexpr std::string_view kDensities = " Densidades que estavam com valor igual a 0 ou em branco."_cp;

// Sets a parameter that reads as 0 (an empty one reads so too) to 1 and
// counts it; every repair is its own post.
void RepairZero(Table& components, WalkField& field, int& repaired) {
  if (field->asFloat() != 0) return;
  ++repaired;
  components.edit();
  field->setFloat(1);
  components.post();
}

}  // namespace

void AdjustTechnicalParameters(RepairContext& f) {
  f.DesabilitaComandos();
  f.MostraPainelCG(layout::kProgressTall);
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);

  int correctionFactors = 0, dilutionFactors = 0, densities = 0;

  // Description order; the index stays selected afterwards.
  f.Componentes.setIndexName("Descricao");
  f.Componentes.open();
  f.Componentes.first();
  f.TermCG.setMaxValue(f.Componentes.recordCount());
  int recordCounter = 0;
  WalkField correctionFactor(f.Componentes, "FatorCorrecao");
  WalkField dilutionFactor(f.Componentes, "FatorDiluicao");
  WalkField density(f.Componentes, "Densidade");

  while (!f.Componentes.eof()) {
    ++recordCounter;
    f.TermCG.setProgress(recordCounter);
    RepairZero(f.Componentes, correctionFactor, correctionFactors);
    RepairZero(f.Componentes, dilutionFactor, dilutionFactors);
    RepairZero(f.Componentes, density, densities);
    f.Componentes.next();
  }
  f.Componentes.close();

  if (correctionFactors == 0 && dilutionFactors == 0 && densities == 0)
    f.ui().showMessage(std::string(kNothingFound));
  else
    f.ui().showMessage(std::string(kCorrected) + std::to_string(correctionFactors) +
                       std::string(kCorrectionFactors) + std::to_string(dilutionFactors) +
                       std::string(kDilutionFactors) + std::to_string(densities) + std::string(kDensities));

  f.PainelCG.visible = false;
  f.HabilitaComandos();
}

}  // namespace cg
