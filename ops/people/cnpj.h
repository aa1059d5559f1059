// Cleaning of supplier tax numbers (CNPJ).
#pragma once

#include <string>
#include <string_view>

namespace cg {

// Exactly the characters '0'..'9' of the input, in their order.
std::string SomenteDigitos(std::string_view s);

// True when `s` is a 14-character alphanumeric CNPJ: 12 characters 0-9 or
// A-Z (upper case), then two check digits, each the modulo-11 check over
// the characters before it, a character counting as its code minus 48
// (weights 2 to 9 from the right, repeating; remainder 0 or 1 gives 0).
bool CNPJAlfanumericoValido(std::string_view s);

// The clean form of a stored tax number. A number that, once its full stops,
// slashes, hyphens and blanks (bytes 0-32 and the no-break space 160) are removed, is a valid alphanumeric
// CNPJ with at least one letter (either case) keeps its letters, in upper case: since July 2026 such numbers
// are issued and stripping the letters would destroy them. Every other number is reduced to its digits.
std::string LimpaCNPJ(std::string_view s);

}  // namespace cg
