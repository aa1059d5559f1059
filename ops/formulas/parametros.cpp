// Technical parameter adjustment: a correction factor, dilution factor or
// density of exactly zero (or empty) becomes 1. The repairs are counted per
// parameter and reported in one message.
#include <string>
#include <string_view>

#include "app/form/form.h"
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
void RepairZero(Table& components, const char* field, int& repaired) {
  if (components.asFloat(field) != 0) return;
  ++repaired;
  components.edit();
  components.setFloat(field, 1);
  components.post();
}

}  // namespace

void TFormConsistGeral::BotAjustaClick() {
  DesabilitaComandos();
  MostraPainelCG(85, 126, 464, 185);
  TermCG.setMinValue(0);
  TermCG.setProgress(0);

  int correctionFactors = 0, dilutionFactors = 0, densities = 0;

  // Description order; the index stays selected afterwards.
  Componentes.setIndexName("Descricao");
  Componentes.open();
  Componentes.first();
  TermCG.setMaxValue(Componentes.recordCount());
  int recordCounter = 0;

  while (!Componentes.eof()) {
    ++recordCounter;
    TermCG.setProgress(recordCounter);
    RepairZero(Componentes, "FatorCorrecao", correctionFactors);
    RepairZero(Componentes, "FatorDiluicao", dilutionFactors);
    RepairZero(Componentes, "Densidade", densities);
    Componentes.next();
  }
  Componentes.close();

  if (correctionFactors == 0 && dilutionFactors == 0 && densities == 0)
    ui().showMessage(std::string(kNothingFound));
  else
    ui().showMessage(std::string(kCorrected) + std::to_string(correctionFactors) +
                     std::string(kCorrectionFactors) + std::to_string(dilutionFactors) +
                     std::string(kDilutionFactors) + std::to_string(densities) + std::string(kDensities));

  PainelCG.visible = false;
  HabilitaComandos();
}

}  // namespace cg
