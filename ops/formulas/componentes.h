// The percentage typed for the default maximum discount of components.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cg {

// The text of the percentage box as the decimal field takes it: empty (or
// blanks only) stays empty, meaning "no discount"; a decimal number with a
// comma or a full stop as separator, at most 7 digits before it and 8 after
// (what the column holds) and from 0 to 100 (a percentage), comes back
// trimmed with a comma. Anything else has no value (nullopt).
std::optional<std::string> PercentualDesconto(std::string_view text);

// Why the decimal field cannot take a text PercentualDesconto refused: not a
// number at all, a number with more than 7 digits before the separator (out
// of the column's range), one with more than 8 after it, or a number below
// 0 or above 100, which no percentage is.
enum class DescontoRecusado { NaoNumero, ForaDoIntervalo, CasasDemais, ForaDoPercentual };
DescontoRecusado MotivoDescontoRecusado(std::string_view text);

}  // namespace cg
