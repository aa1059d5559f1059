// How a repair ends. Its success text is shown only when nothing failed, was
// refused or was stopped on the way; otherwise the closing message says what
// happened, after the messages of each failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cg {

// A count with its noun, digits grouped as in Brazil: "1 erro",
// "1.234 pedidos".
std::string Contagem(int64_t n, std::string_view singular, std::string_view plural);

// "Procedimento concluído com 1 erro." / "... com 3 erros."
std::string ConcluidoComErros(int64_t erros);

// "Procedimento interrompido: " then what was done, then "." ; with errors
// on the way, " Houve 3 erros." after it.
std::string Interrompido(std::string_view feito, int64_t erros = 0);

// The closing message of a run that ended: the success text, or what went
// wrong instead.
std::string Desfecho(std::string_view sucesso, int64_t erros, bool interrompido, std::string_view feito);

}  // namespace cg
