// Orphan formula removal. Three passes over the formula tables, in the live
// data or in the dead-file archive:
//   1. formula rows (PEDIFORM.DB) whose order header is gone;
//   2. formula items (COMPEDID.DB) whose formula row is gone;
//   3. formula rows numbered 0, with their items.
// Rows are deleted one by one as they are found; nothing is written.
#include <string_view>
#include <variant>
#include <vector>

#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/walk_field.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

constexpr std::string_view kCaptionFormulaRows = "Excluindo fórmulas orfãs em PediForm."_cp;
constexpr std::string_view kCaptionFormulaItems = "Excluindo fórmulas orfãs em Compedid."_cp;
constexpr std::string_view kCaptionFormulaRowsArchive =
    "Excluindo fórmulas orfãs em PediForm do Arq. Morto."_cp;
constexpr std::string_view kCaptionFormulaItemsArchive =
    "Excluindo fórmulas orfãs em Compedid do Arq. Morto."_cp;
constexpr std::string_view kCaptionFormulaZero = "Analisando Cad. de Fórmulas"_cp;
constexpr std::string_view kDone = "Procedimento concluído com sucesso."_cp;

// Where one command works: the database given to Fonte for the scans, and
// the catalogue's tables it looks rows up in (bound to that same data).
struct FormulaStore {
  std::string database;
  Table& orders;
  Table& formulas;
  Table& items;
  std::string_view captionFormulaRows;
  std::string_view captionFormulaItems;
};

// The key a scanned row's parent is looked up by: its order (Estacao,
// NPedido), or its formula (the order and NFormula).
class ParentKey {
 public:
  enum Parent { Order, Formula };
  ParentKey(Table& scan, Parent parent)
      : estacao_(scan, "Estacao"), npedido_(scan, "NPedido"), nformula_(scan, "NFormula"), parent_(parent) {}

  std::vector<KeyValue> ofCurrent() {
    if (parent_ == Order) return {estacao_->asString(), int64_t{npedido_->asInteger()}};
    return {estacao_->asString(), int64_t{npedido_->asInteger()}, int64_t{nformula_->asInteger()}};
  }

 private:
  WalkField estacao_, npedido_, nformula_;
  Parent parent_;
};

void SetUpGauge(RepairContext& f, int recordCount, int counterStart) {
  f.TermCG.setMaxValue(recordCount);
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  f.ContadorProgresso = counterStart;
}

void BindFonte(RepairContext& f, const std::string& database, const std::string& table) {
  f.Fonte.setDatabaseName(database);
  f.Fonte.setTableName(table);
  f.Fonte.setIndexName("");
}

void UnbindFonte(RepairContext& f) {
  f.Fonte.setDatabaseName("");
  f.Fonte.setTableName("");
}

// Walks Fonte and deletes every row whose key `parent` lacks. After a
// delete the cursor already stands on the following row, which is examined
// next without moving.
void DeleteRowsWithoutParent(RepairContext& f, Table& parent, ParentKey::Parent kind) {
  Table& scan = f.Fonte;
  ParentKey key(scan, kind);
  while (!scan.eof()) {
    f.AvancaProgresso();
    if (parent.findKey(key.ofCurrent())) {
      scan.next();
    } else {
      scan.edit();
      scan.remove();
    }
  }
}

// Deletes the items (held open on their primary index) of the formula
// whose key leads it.
void DeleteItemsOf(Table& items, const std::vector<KeyValue>& formula) {
  if (!items.findKey(formula)) return;
  WalkField estacao(items, "Estacao"), npedido(items, "NPedido"), nformula(items, "NFormula");
  const std::string& e = std::get<std::string>(formula[0]);
  const int64_t n = std::get<int64_t>(formula[1]), nf = std::get<int64_t>(formula[2]);
  while (!items.eof() && estacao->asString() == e && npedido->asInteger() == n &&
         nformula->asInteger() == nf) {
    items.edit();
    items.remove();
  }
}

void RemoveOrphanFormulas(RepairContext& f, const FormulaStore& store) {
  // What is deleted depends on the lookups: every file passes the engine's
  // check before the first delete.
  store.orders.verify();
  store.formulas.verify();
  store.items.verify();
  f.MostraPainelCG(layout::kProgress);

  // Pass 1: formula rows without their order header.
  f.SetNomeConsist(std::string(store.captionFormulaRows));
  BindFonte(f, store.database, "PEDIFORM.DB");
  f.Fonte.open();
  store.orders.setIndexName("");
  store.orders.open();
  f.Fonte.first();
  SetUpGauge(f, f.Fonte.recordCount(), 0);
  DeleteRowsWithoutParent(f, store.orders, ParentKey::Order);
  store.orders.close();
  f.Fonte.close();

  // Pass 2: formula items without their formula row.
  f.SetNomeConsist(std::string(store.captionFormulaItems));
  store.formulas.setIndexName("");
  store.formulas.open();
  BindFonte(f, store.database, "COMPEDID.DB");
  f.Fonte.open();
  f.Fonte.first();
  SetUpGauge(f, f.Fonte.recordCount(), 0);
  DeleteRowsWithoutParent(f, store.formulas, ParentKey::Formula);
  store.formulas.close();
  f.Fonte.close();
  UnbindFonte(f);

  // Pass 3: formula rows numbered 0. The counter starts at 1 here, so the
  // gauge runs one step ahead and rests on its maximum for the last row.
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  store.items.setIndexName("");
  store.items.open();
  store.formulas.open();
  f.TermCG.setMaxValue(store.formulas.recordCount());
  f.ContadorProgresso = 1;
  store.formulas.first();
  f.SetNomeConsist(std::string(kCaptionFormulaZero));
  f.repaint(f.PainelCG);
  // The items of a formula row deleted here lose their formula as well:
  // they go with it, so that one run leaves no orphan behind.
  WalkField nformula(store.formulas, "NFormula");
  WalkField estacao(store.formulas, "Estacao"), npedido(store.formulas, "NPedido");
  while (!store.formulas.eof()) {
    f.AvancaProgresso();
    if (nformula->asInteger() == 0) {
      const std::vector<KeyValue> key = {estacao->asString(), int64_t{npedido->asInteger()}, int64_t{0}};
      store.formulas.edit();
      store.formulas.remove();
      DeleteItemsOf(store.items, key);
    } else {
      store.formulas.next();
    }
  }
  store.formulas.close();
  store.items.close();
  f.Fonte.close();
  UnbindFonte(f);

  f.ui().showMessage(std::string(kDone));
  f.HabilitaComandos();
  f.PainelCG.visible = false;
}

}  // namespace

void RemoveOrphanFormulasLive(RepairContext& f) {
  RemoveOrphanFormulas(
      f, {"VTRNDADOS", f.Pedidos, f.PediForm, f.Compedid, kCaptionFormulaRows, kCaptionFormulaItems});
}

void RemoveOrphanFormulasArchive(RepairContext& f) {
  RemoveOrphanFormulas(f, {"VTRNARQM", f.Pedidos_d, f.PediForm_d, f.Compedid_d, kCaptionFormulaRowsArchive,
                           kCaptionFormulaItemsArchive});
}

}  // namespace cg
