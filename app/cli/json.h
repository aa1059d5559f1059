// Minimal JSON text for the runner's transcript: strings and objects written
// in order, one record per line. Strings go out as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace cg::json {

// A JSON string literal of UTF-8 text: quotes, backslash and the control
// characters escaped ('\r' as \r, '\n' as \n, others as \u00XX).
std::string quote(std::string_view utf8);
// The same for a CP1252 text of the system.
std::string text(std::string_view cp1252);
inline const char* boolean(bool b) { return b ? "true" : "false"; }

}  // namespace cg::json
