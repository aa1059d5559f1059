// Synonym group correction: every synonym takes the group of the component
// whose code it refers to. A synonym without its component keeps its group.
#include <string>
#include <string_view>

#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/walk_field.h"
#include "platform/cp1252.h"

namespace cg {
namespace {
constexpr std::string_view kCaption = "Acertanto grupo do Sinônimo."_cp;
constexpr const char* kDataDirectory = "C:\\VITRALON\\DADOS";
}  // namespace

void CorrectSynonymGroups(RepairContext& f) {
  f.DesabilitaComandos();
  f.MostraPainelCG(layout::kProgress);
  f.SetNomeConsist(std::string(kCaption));

  Table& components = f.Fonte;
  components.setDatabaseName(kDataDirectory);
  components.setTableName("Componen.DB");
  components.setIndexName("CodUnic");
  components.verify();
  components.open();

  // The synonyms are walked on their primary index: an index name left on
  // Destino by an earlier operation (NomeFone, NomeCRM) belongs to another
  // table.
  Table& synonyms = f.Destino;
  synonyms.setDatabaseName(kDataDirectory);
  synonyms.setTableName("Sinonimo.DB");
  synonyms.setIndexName("");
  synonyms.verify();
  synonyms.open();
  synonyms.first();

  f.TermCG.setMaxValue(synonyms.recordCount());
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  f.ContadorProgresso = 0;

  WalkField code(synonyms, "Codigo"), group(synonyms, "Grupo"), componentGroup(components, "Grupo");
  while (!synonyms.eof()) {
    f.AvancaProgresso();
    if (components.findKey({code->asString()})) {
      synonyms.edit();
      const std::string newGroup = componentGroup->asString();
      group->setString(newGroup);
      synonyms.post();
    }
    synonyms.next();
  }

  components.close();
  synonyms.close();
  components.setDatabaseName("");
  components.setTableName("");
  synonyms.setDatabaseName("");
  synonyms.setTableName("");

  f.PainelCG.visible = false;
  f.HabilitaComandos();
}

}  // namespace cg
