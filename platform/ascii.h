// Small text helpers on CP1252 bytes shared by every layer. The Ascii case
// changes touch only the 26 ASCII letters (names of fields, tables, aliases,
// keywords); the Cp1252 ones also the accented letters of the code page
// (names of people and products). A "blank" is any byte of value 32 or less.
#pragma once

#include <string>
#include <string_view>

namespace cg {

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
std::string TrimBlanks(std::string_view s);

// Case of a letter of CP1252: a..z, à..þ (but ÷), š, ž, œ and ÿ against
// A..Z, À..Þ (but ×), Š, Ž, Œ and Ÿ. ß has no capital and stays.
char Cp1252UpperChar(char c);
char Cp1252LowerChar(char c);
std::string Cp1252Upper(std::string_view s);
std::string Cp1252Lower(std::string_view s);

}  // namespace cg
