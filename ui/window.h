// The main window's components and table objects as plain state, from the
// component table: what a repair works with (ops/repair.h), what the form
// arranges and gates (app/form/form.h), what the views draw.
#pragma once

#include "data/engine/engine.h"
#include "ui/controls.h"

// clang-format off

// Every component of the main window, once, in component order: the order of
// controls(), in which the views build their widgets and the script runner
// writes its state record. One row per component:
//   X(name, kind, parent, handler[, caption, left, top, width, height, enabled, visible])
// `kind` names the component's class (Panel: TPanel, Button: TButton, ...);
// `parent` is empty for the main panel, which fills the window; `handler`,
// empty for none, names what a click on the button (or the focus entering
// the edit box) runs: the key of the repair in the registry of ops/
// (ops/registry.h), or the form's own handler for BotSair. The command buttons of the
// main panel also give their caption, place and start state here. A parent
// comes before its children.
#define CG_FORM_COMPONENTS(X)                                                                                \
  X(PainelConsistG, Panel, , )                                                                               \
  X(BotSair, Button, PainelConsistG, BotSairClick, "Sair"_cp, 658, 21, 109, 45, true, true)                 \
  X(BotCorrecaoComp, Button, PainelConsistG, BotCorrecaoCompClick, "Corrigir  Cad.  Componentes"_cp,        \
    28, 87, 339, 45, false, true)                                                                            \
  X(BitBtn6, Button, PainelConsistG, BitBtn6Click, "Zerar Custo Fixo para Capsulas e Embagens"_cp,          \
    368, 87, 399, 45, false, true)                                                                           \
  X(BitBtn1, Button, PainelConsistG, BitBtn1Click, "Corrigir Nomes das Fórmulas"_cp,                        \
    28, 133, 339, 45, false, true)                                                                           \
  X(BotCorrigeCadMed, Button, PainelConsistG, BotCorrigeCadMedClick, "Corrigir CRM"_cp,                     \
    368, 133, 399, 45, false, true)                                                                          \
  X(BotAjusta, Button, PainelConsistG, BotAjustaClick, "Ajusta Param. Técnicos"_cp,                         \
    28, 179, 339, 45, false, true)                                                                           \
  X(BotAbreviaNomeCli, Button, PainelConsistG, BotAbreviaNomeCliClick, "Abreviar Nomes Clientes"_cp,        \
    368, 179, 399, 45, false, true)                                                                          \
  X(BotAcertaGrupoSinon, Button, PainelConsistG, BotAcertaGrupoSinonClick, "Acertar grupos de sinônimo"_cp, \
    28, 225, 339, 45, false, true)                                                                           \
  X(BotAbreviaNomeMed, Button, PainelConsistG, BotAbreviaNomeMedClick, "Abreviar Nomes Médicos"_cp,         \
    368, 225, 399, 45, false, true)                                                                          \
  X(BitBtn5, Button, PainelConsistG, BitBtn5Click, "Preencher o campo CodLivro  na tabela Pedidos"_cp,      \
    28, 271, 339, 45, false, true)                                                                           \
  X(btn1, Button, PainelConsistG, btn1Click, "Abreviar Nomes nos Pedidos"_cp,                               \
    368, 271, 399, 45, false, true)                                                                          \
  X(BitBtn7, Button, PainelConsistG, BitBtn7Click, "Retirar caract. \". . / -\" do CNPJ em Forneced"_cp,    \
    28, 317, 339, 45, true, true)                                                                            \
  X(BitBtn2, Button, PainelConsistG, BitBtn2Click, "Corrigir CODIGOCOMP em Compedid"_cp,                    \
    368, 317, 399, 45, false, true)                                                                          \
  X(BotFormulaOrfan, Button, PainelConsistG, BotFormulaOrfanClick, "Excluir Fórmulas Orfãs"_cp,             \
    859, 267, 230, 45, true, false)                                                                          \
  X(BotFormulaOrfanArqQM, Button, PainelConsistG, BotFormulaOrfanArqQMClick, "Arq. Morto"_cp,               \
    1090, 267, 127, 45, true, false)                                                                         \
  /* Progress panel. */                                                                                      \
  X(PainelCG, Panel, PainelConsistG, )                                                                       \
  X(Panel36, Panel, PainelCG, )                                                                              \
  X(Label111, Label, PainelCG, )                                                                             \
  X(NomeConsist, Label, PainelCG, )                                                                          \
  X(TermCG, Gauge, PainelCG, )                                                                               \
  /* Wait panel. */                                                                                          \
  X(PainelAguarde, Panel, PainelConsistG, )                                                                  \
  /* Client review. */                                                                                       \
  X(PainelFormatCliAntigo, Panel, PainelConsistG, )                                                          \
  X(Panel24, Panel, PainelFormatCliAntigo, )                                                                 \
  X(GradeCliAntigos, Grid, PainelFormatCliAntigo, )                                                          \
  X(BotCancelFormatCli, Button, PainelFormatCliAntigo, BotCancelFormatCliClick)                              \
  X(Label2, Label, PainelFormatCliAntigo, )                                                                  \
  X(PainelFormatCliNovo, Panel, PainelConsistG, )                                                            \
  X(Panel76, Panel, PainelFormatCliNovo, )                                                                   \
  X(GradeCliNovos, Grid, PainelFormatCliNovo, )                                                              \
  X(BotConfirmaFormatCli, Button, PainelFormatCliNovo, BotConfirmaFormatCliClick)                            \
  X(Label361, Label, PainelFormatCliNovo, )                                                                  \
  /* Doctor review. */                                                                                       \
  X(PainelFormatMedAntigo, Panel, PainelConsistG, )                                                          \
  X(Panel2, Panel, PainelFormatMedAntigo, )                                                                  \
  X(GradeMedAntigos, Grid, PainelFormatMedAntigo, )                                                          \
  X(BotCancelFormatMed, Button, PainelFormatMedAntigo, BotCancelFormatMedClick)                              \
  X(Label1, Label, PainelFormatMedAntigo, )                                                                  \
  X(PainelFormatMedNovo, Panel, PainelConsistG, )                                                            \
  X(Panel5, Panel, PainelFormatMedNovo, )                                                                    \
  X(GradeMedNovos, Grid, PainelFormatMedNovo, )                                                              \
  X(BotConfirmaFormatMed, Button, PainelFormatMedNovo, BotConfirmaFormatMedClick)                            \
  X(Label3, Label, PainelFormatMedNovo, )                                                                    \
  /* Component correction options. */                                                                        \
  X(PainelCorrigComponentes, Panel, PainelConsistG, )                                                        \
  X(Panel3, Panel, PainelCorrigComponentes, )                                                                \
  X(GroupBox2, GroupBox, PainelCorrigComponentes, )                                                          \
  X(RadioButton3, RadioButton, GroupBox2, )                                                                  \
  X(RadioButton4, RadioButton, GroupBox2, )                                                                  \
  X(RadioButton1, RadioButton, GroupBox2, )                                                                  \
  X(Edit1, Edit, GroupBox2, Edit1Enter)                                                                      \
  X(Label4, Label, GroupBox2, )                                                                              \
  X(BitBtn4, Button, PainelCorrigComponentes, BitBtn4Click)                                                  \
  X(BitBtn3, Button, PainelCorrigComponentes, BitBtn3Click)

// The local table objects, in the order of tables().
#define CG_FORM_TABLES(X)                                                                                    \
  X(Fonte) X(Destino) X(Pedidos) X(PediForm) X(Compedid) X(Componentes) X(Compras) X(Config) X(Clientes)    \
  X(Clientes_I) X(Medicos) X(Medicos_I) X(Pedidos_d) X(PediForm_d) X(Compedid_d)

// `&parent`, or nothing for the main panel; `what(name, handler)` for a row
// with a handler, nothing for one without.
#define CG_FORM_ADDRESS(...) __VA_OPT__(&__VA_ARGS__)
#define CG_FORM_WITH_HANDLER(what, name, ...) __VA_OPT__(what(name, __VA_ARGS__))

// clang-format on

namespace cg {

// The places the window and the repairs give the panels that come and go:
// the progress panel as each repair places it, the two halves of a review,
// the wait panel and the component options.
namespace layout {
inline constexpr Bounds kProgress{80, 85, 465, 152};  // also where the window starts it
inline constexpr Bounds kProgressTall{85, 126, 464, 185};
inline constexpr Bounds kProgressComponentCodes{135, 140, 465, 152};
inline constexpr Bounds kProgressOrderNames{168, 141, 465, 152};
inline constexpr Bounds kProgressBookCodes{157, 206, 464, 130};
inline constexpr Bounds kReviewOriginal{25, 68, 289, 361};
inline constexpr Bounds kReviewNew{314, 68, 292, 361};
inline constexpr Bounds kWaitPanel{142, 216, 505, 81};
inline constexpr Bounds kComponentOptions{115, 64, 393, 199};
}  // namespace layout

// Every component of the component table, declared from it.
class WindowComponents {
 public:
#define CG_FORM_DECLARE(name, kind, parent, ...) T##kind name{#name, formParent(CG_FORM_ADDRESS(parent))};
  CG_FORM_COMPONENTS(CG_FORM_DECLARE)
#undef CG_FORM_DECLARE

 protected:
  WindowComponents() = default;
  ~WindowComponents() = default;
  WindowComponents(const WindowComponents&) = delete;
  WindowComponents& operator=(const WindowComponents&) = delete;
  static TControl* formParent() { return nullptr; }
  static TControl* formParent(TControl* parent) { return parent; }
};

// The local table objects (all under the session Sessao1) and the local
// statement object.
class WindowTables {
 public:
#define CG_FORM_DECLARE(name) Table name{#name};
  CG_FORM_TABLES(CG_FORM_DECLARE)
#undef CG_FORM_DECLARE
  Query Query1{"Query1"};

 protected:
  WindowTables() = default;
  ~WindowTables() = default;
  WindowTables(const WindowTables&) = delete;
  WindowTables& operator=(const WindowTables&) = delete;
};

}  // namespace cg
