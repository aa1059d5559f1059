// Small text helpers on CP1252 bytes shared by every layer. Case changes
// touch only the 26 ASCII letters; a "blank" is any byte of value 32 or less.
#pragma once

#include <string>
#include <string_view>

namespace cg {

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
std::string TrimBlanks(std::string_view s);

}  // namespace cg
