// Helpers for the statements the repairs send to the server. Statements are
// built by joining fixed texts and values; a text value stands between single
// quotes, so a quote inside it must be doubled to stay part of the value.
#pragma once

#include <string>
#include <string_view>

namespace cg {

// The value with every single quote doubled, ready to stand between the
// quotes of a statement ("OLEO D'AGUA" -> "OLEO D''AGUA"). The surrounding
// quotes are not added.
std::string SqlQuoted(std::string_view value);

}  // namespace cg
