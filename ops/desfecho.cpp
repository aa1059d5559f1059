#include "ops/desfecho.h"

#include "platform/cp1252.h"

namespace cg {

std::string Contagem(int64_t n, std::string_view singular, std::string_view plural) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string grouped;
  if (n < 0) grouped += '-';
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += '.';
    grouped += digits[i];
  }
  grouped += ' ';
  grouped += n == 1 || n == -1 ? singular : plural;
  return grouped;
}

std::string ConcluidoComErros(int64_t erros) {
  return cp("Procedimento concluído com "_cp) + Contagem(erros, "erro", "erros") + ".";
}

std::string Interrompido(std::string_view feito, int64_t erros) {
  std::string s = "Procedimento interrompido: " + std::string(feito) + ".";
  if (erros > 0) s += " Houve " + Contagem(erros, "erro", "erros") + ".";
  return s;
}

std::string Desfecho(std::string_view sucesso, int64_t erros, bool interrompido, std::string_view feito) {
  if (interrompido) return Interrompido(feito, erros);
  if (erros > 0) return ConcluidoComErros(erros);
  return std::string(sucesso);
}

}  // namespace cg
