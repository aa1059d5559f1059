// The platform's configuration file, C:\platform.ini at the root of drive C:
// sections in brackets, then "key = value" lines; lines that start with ';'
// or '#' are comments, and so is the rest of a line from a ';' that starts
// the value or follows a blank ("transport = embedded   ; or server").
// Section and key names compare without regard to ASCII case; keys, values
// and section names are trimmed of blanks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cg {

inline constexpr const char* kPlatformIni = "C:\\platform.ini";

using IniEntries = std::vector<std::pair<std::string, std::string>>;

// The entries of one section of C:\platform.ini, in file order; nullopt when
// the file cannot be read (an absent section gives an empty list).
std::optional<IniEntries> ReadPlatformIniSection(std::string_view section);

// After ReadPlatformIniSection gave nullopt: nullopt when there is no such
// file, else why the file that is there cannot be read ("acesso negado",
// "há uma pasta com esse nome", ...), in CP1252.
std::optional<std::string> PlatformIniUnreadable();

}  // namespace cg
