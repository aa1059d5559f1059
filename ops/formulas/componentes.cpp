// BotCorrecaoComp: the option panel of the components registry and its three
// corrections (names on the server and in the local purchases, units,
// default maximum discount).
#include "ops/formulas/componentes.h"

#include "data/sql/dm.h"
#include "ops/desfecho.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/server_messages.h"
#include "ops/walk_field.h"
#include "platform/cp1252.h"
#include "text/normaliza.h"

namespace cg {

namespace {

constexpr std::string_view kSelecione = "Selecione uma Opção ou Clique em Cancelar"_cp;
constexpr std::string_view kCaptionNomes = "Corrigindo o padrão de escrita dos nomes dos componentes"_cp;
constexpr std::string_view kCaptionUnidades = "Corrigindo Unidades"_cp;
constexpr std::string_view kCaptionDesconto = "Registrando desconto máximo padrão"_cp;
constexpr std::string_view kNaoCorrigiu = "Não foi possível corrigir"_cp;
constexpr std::string_view kNaoCorrigiuFim =
    ". Favor verificar se já existe outro componente com este nome."_cp;
constexpr std::string_view kSucesso = "Procedimento Concluído com Sucesso."_cp;
constexpr std::string_view kDescontoInvalido = "O desconto digitado, "_cp;
constexpr std::string_view kDescontoInvalidoFim =
    ", não é um número. Digite o percentual (por exemplo 10 ou 12,5) ou deixe a caixa vazia."_cp;
constexpr std::string_view kDescontoGrandeFim =
    ", está fora do intervalo aceito: no máximo 7 algarismos antes da vírgula (até 9999999,99999999)."_cp;
constexpr std::string_view kDescontoPercentualFim =
    ", não é um percentual: digite um número de 0 a 100 (por exemplo 10 ou 12,5). Nenhum desconto foi "
    "gravado."_cp;
constexpr std::string_view kDescontoCasasFim =
    ", tem casas decimais demais: no máximo 8 depois da vírgula."_cp;

std::string naoCorrigiu(const std::string& stored) {
  return cp(kNaoCorrigiu) + " \"" + stored + "\"" + cp(kNaoCorrigiuFim);
}

bool isBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Option 1: component names, on the server and then in the purchases. A
// failed post is reported and the walk goes on.
void CorrigeNomes(RepairContext& f, TDM& dm) {
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  f.SetNomeConsist(cp(kCaptionNomes));
  f.repaint(f.PainelCG);

  ClientDataSet& comp = dm.cds_Componentes;
  comp.open();
  f.TermCG.setMaxValue(comp.recordCount());
  f.ContadorProgresso = 0;
  Field& nome = *dm.cds_ComponentesCOMPONENTE;
  int erros = 0;
  while (!comp.eof()) {
    f.AvancaProgresso();
    comp.edit();
    // A component without a name keeps none: written back as an empty text
    // it would collide with the next one under the unique name constraint.
    if (!nome.isNull()) nome.setString(FormataNomeProduto(nome.asString()));
    try {
      comp.post();
    } catch (const std::exception&) {
      comp.cancel();
      f.ui().showMessage(naoCorrigiu(nome.asString()));
      ++erros;
    }
    comp.next();
  }
  comp.close();
  TDM::Refusals refused = dm.takeRefusals();
  ReportApplyAtClose(f.ui(), refused.count, refused.firstMessage, refused.lostConnection);
  erros += refused.count;

  Table& compras = f.Compras;
  compras.open();
  // Names rewritten in the order of the purchase numbers would each move in
  // the name index: it is built once at the end instead.
  compras.beginRewrite();
  f.TermCG.setMaxValue(compras.recordCount());
  f.ContadorProgresso = 0;
  WalkField componente(compras, "Componente");
  while (!compras.eof()) {
    f.AvancaProgresso();
    compras.edit();
    if (!componente->isNull()) componente->setString(FormataNomeProduto(componente->asString()));
    try {
      compras.post();
    } catch (const EKeyViolation&) {
      compras.cancel();
      f.ui().showMessage(naoCorrigiu(componente->asString()));
      ++erros;
    } catch (const std::exception&) {
      // Not a name that exists already (no permission, disk full, a lock):
      // the error itself stops the run, as it would the next record.
      compras.cancel();
      throw;
    }
    compras.next();
  }
  compras.close();
  f.ui().showMessage(Desfecho(cp(kSucesso), erros, false, ""));
}

// Options 2 and 3 share their set-up: the counter starts at 1, so the gauge
// reaches its maximum one record early.
ClientDataSet& abreComponentes(RepairContext& f, TDM& dm, std::string_view caption) {
  ClientDataSet& comp = dm.cds_Componentes;
  f.TermCG.setMinValue(0);
  f.TermCG.setProgress(0);
  comp.open();
  f.TermCG.setMaxValue(comp.recordCount());
  f.ContadorProgresso = 1;
  comp.first();
  f.SetNomeConsist(cp(caption));
  f.repaint(f.PainelCG);
  return comp;
}

// Sends the changes (the close applies them) and reports what the server
// refused; the option itself ends without a message.
void fechaComponentes(RepairContext& f, TDM& dm) {
  dm.cds_Componentes.close();
  TDM::Refusals refused = dm.takeRefusals();
  ReportApplyAtClose(f.ui(), refused.count, refused.firstMessage, refused.lostConnection);
}

// Option 2: units in lower case, "gr" as "g" and "lt" as "l".
void CorrigeUnidades(RepairContext& f, TDM& dm) {
  ClientDataSet& comp = abreComponentes(f, dm, kCaptionUnidades);
  Field& unid = comp.fieldByName("Unid");
  while (!comp.eof()) {
    f.AvancaProgresso();
    std::string u = AsciiLower(unid.asString());
    if (u == "gr") {
      comp.edit();
      unid.setString("g");
      comp.post();
    } else {
      if (u == "lt") {
        comp.edit();
        unid.setString("l");
        comp.post();
      }
      comp.edit();
      if (!unid.isNull()) unid.setString(AsciiLower(unid.asString()));  // no unit stays none
      comp.post();
    }
    comp.next();
  }
  fechaComponentes(f, dm);
}

// Option 3: the typed percentage for every zero or empty discount.
void RegistraDesconto(RepairContext& f, TDM& dm, const std::string& percentual) {
  ClientDataSet& comp = abreComponentes(f, dm, kCaptionDesconto);
  Field& desconto = comp.fieldByName("Desconto");
  while (!comp.eof()) {
    f.AvancaProgresso();
    if (desconto.asFloat() == 0) {
      comp.edit();
      desconto.setString(percentual);
      comp.post();
    }
    comp.next();
  }
  fechaComponentes(f, dm);
}

}  // namespace

namespace {

// The trimmed text read as a signed decimal number: its digits before and
// after the separator, with a comma as separator; nullopt when it is no
// number at all.
struct Numero {
  std::string text;
  int before = 0, after = 0;
};
std::optional<Numero> leNumero(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  std::string_view t = text.substr(b, e - b);
  Numero n;
  if (t.empty()) return n;

  size_t i = 0;
  if (t[0] == '-' || t[0] == '+') {
    if (t[0] == '-') n.text += '-';
    ++i;
  }
  bool separator = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      (separator ? n.after : n.before)++;
      n.text += c;
    } else if ((c == ',' || c == '.') && !separator) {
      separator = true;
      n.text += ',';
    } else {
      return std::nullopt;
    }
  }
  if (n.before + n.after == 0) return std::nullopt;
  return n;
}

}  // namespace

namespace {

// Whether the number, within the column's digits, lies from 0 to 100.
bool ePercentual(const Numero& n) {
  if (n.text.empty()) return true;
  if (n.text[0] == '-') return n.text.find_first_not_of("-0,") == std::string::npos;  // -0 is 0
  const std::string inteira = n.text.substr(0, n.text.find(','));
  const std::string fracao = n.text.size() > inteira.size() ? n.text.substr(inteira.size() + 1) : "";
  const long valor = inteira.empty() ? 0 : std::stol(inteira);
  return valor < 100 || (valor == 100 && fracao.find_first_not_of('0') == std::string::npos);
}

}  // namespace

std::optional<std::string> PercentualDesconto(std::string_view text) {
  std::optional<Numero> n = leNumero(text);
  if (!n || n->before > 7 || n->after > 8 || !ePercentual(*n)) return std::nullopt;
  return n->text;
}

DescontoRecusado MotivoDescontoRecusado(std::string_view text) {
  std::optional<Numero> n = leNumero(text);
  if (!n) return DescontoRecusado::NaoNumero;
  if (n->before > 7) return DescontoRecusado::ForaDoIntervalo;
  if (n->after > 8) return DescontoRecusado::CasasDemais;
  return DescontoRecusado::ForaDoPercentual;
}

void OpenComponentOptions(RepairContext& f) {
  f.PainelCorrigComponentes.setBounds(layout::kComponentOptions);
  f.PainelCorrigComponentes.visible = true;
  f.DesabilitaComandos();
}

void CancelComponentOptions(RepairContext& f) {
  f.PainelCorrigComponentes.visible = false;
  f.HabilitaComandos();
}

void ChooseDiscountOption(RepairContext& f) { f.check(f.RadioButton1); }

void RunComponentOption(RepairContext& f) {
  if (!f.RadioButton3.checked && !f.RadioButton4.checked && !f.RadioButton1.checked) {
    f.ui().showMessage(cp(kSelecione));
    return;
  }
  // A percentage the decimal field cannot take would stop the run on the
  // first zero discount, after others were already written: refuse it before
  // anything changes, leaving the panel open as for a missing option.
  std::optional<std::string> percentual;
  if (f.RadioButton1.checked) {
    percentual = PercentualDesconto(f.Edit1.text);
    if (!percentual) {
      const DescontoRecusado motivo = MotivoDescontoRecusado(f.Edit1.text);
      const std::string_view fim = motivo == DescontoRecusado::ForaDoIntervalo    ? kDescontoGrandeFim
                                   : motivo == DescontoRecusado::CasasDemais      ? kDescontoCasasFim
                                   : motivo == DescontoRecusado::ForaDoPercentual ? kDescontoPercentualFim
                                                                                  : kDescontoInvalidoFim;
      f.ui().showMessage(cp(kDescontoInvalido) + "\"" + f.Edit1.text + "\"" + cp(fim));
      return;
    }
  }

  TDM& dm = f.DM();
  dm.takeRefusals();  // what an interrupted earlier run may have left
  f.MostraPainelCG(layout::kProgressTall);
  f.PainelCorrigComponentes.visible = false;

  if (f.RadioButton3.checked)
    CorrigeNomes(f, dm);
  else if (f.RadioButton4.checked)
    CorrigeUnidades(f, dm);
  else
    RegistraDesconto(f, dm, *percentual);

  f.PainelCG.visible = false;
  f.PainelCorrigComponentes.visible = false;
  f.HabilitaComandos();
}

}  // namespace cg
