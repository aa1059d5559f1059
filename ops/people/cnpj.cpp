// BitBtn7: supplier tax numbers (CNPJ) on the server reduced to their clean
// form. The changes travel to the server when Forneced closes.
#include "ops/people/cnpj.h"

#include <cstdint>

#include "data/sql/dm.h"
#include "ops/desfecho.h"
#include "ops/repair.h"
#include "ops/repairs.h"
#include "ops/server_messages.h"
#include "platform/cp1252.h"

namespace cg {

namespace {

constexpr std::string_view kNenhum = "Procedimento concluído. Nenhum CNPJ precisou ser corrigido."_cp;
constexpr std::string_view kSomenteUm = "Procedimento concluído. Somente o CNPJ"_cp;
constexpr std::string_view kSomenteUmFim = " precisou ser corrigido."_cp;
constexpr std::string_view kVarios = "Procedimento concluído. "_cp;
constexpr std::string_view kVariosFim = " CNPJs foram corrigidos."_cp;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
// A blank: the control characters, the space and the no-break space (160),
// any of which a number copied from elsewhere may carry.
bool isBlank(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b <= 32 || b == 160;
}

// Check digit over the characters of `base` (values = code - 48).
int checkDigit(std::string_view base) {
  int sum = 0, weight = 2;
  for (auto it = base.rbegin(); it != base.rend(); ++it) {
    sum += (static_cast<unsigned char>(*it) - 48) * weight;
    weight = weight == 9 ? 2 : weight + 1;
  }
  int rest = sum % 11;
  return rest < 2 ? 0 : 11 - rest;
}

}  // namespace

std::string SomenteDigitos(std::string_view s) {
  std::string out;
  for (char c : s)
    if (isDigit(c)) out += c;
  return out;
}

bool CNPJAlfanumericoValido(std::string_view s) {
  if (s.size() != 14) return false;
  for (size_t i = 0; i < 12; ++i)
    if (!isDigit(s[i]) && !isUpper(s[i])) return false;
  if (!isDigit(s[12]) || !isDigit(s[13])) return false;
  return checkDigit(s.substr(0, 12)) == s[12] - '0' && checkDigit(s.substr(0, 13)) == s[13] - '0';
}

std::string LimpaCNPJ(std::string_view s) {
  std::string compact;
  bool letter = false;
  for (char c : s) {
    if (c == '.' || c == '/' || c == '-' || isBlank(c)) continue;
    if (isLower(c)) c = static_cast<char>(c - 'a' + 'A');
    if (isUpper(c)) letter = true;
    compact += c;
  }
  if (letter && CNPJAlfanumericoValido(compact)) return compact;
  return SomenteDigitos(s);
}

void CleanSupplierCnpj(RepairContext& f) {
  TDM& dm = f.DM();
  dm.takeRefusals();  // what an interrupted earlier run may have left
  int32_t changed = 0;
  std::string lastChanged;

  dm.Forneced.open();
  Field& cnpj = *dm.FornecedCNPJ;
  while (!dm.Forneced.eof()) {
    std::string stored = cnpj.asString();
    std::string clean = LimpaCNPJ(stored);
    if (clean != stored) {
      ++changed;
      lastChanged = stored;
      dm.Forneced.edit();
      cnpj.setString(clean);
      dm.Forneced.post();
    }
    dm.Forneced.next();
  }
  dm.Forneced.close();

  TDM::Refusals refused = dm.takeRefusals();
  ReportApplyAtClose(f.ui(), refused.count, refused.firstMessage, refused.lostConnection);

  // Changes the server refused were not made: the run says so, and counts
  // only what was.
  if (refused.count > 0)
    f.ui().showMessage(ConcluidoComErros(refused.count) + " " +
                       Contagem(changed - refused.count, "CNPJ foi corrigido", "CNPJs foram corrigidos") +
                       ".");
  else if (changed == 0)
    f.ui().showMessage(cp(kNenhum));
  else if (changed == 1)
    f.ui().showMessage(cp(kSomenteUm) + " \"" + lastChanged + "\"" + cp(kSomenteUmFim));
  else
    f.ui().showMessage(cp(kVarios) + std::to_string(changed) + cp(kVariosFim));
}

}  // namespace cg
