#include "platform/ini.h"

#include <fstream>

#include "platform/ascii.h"
#include "platform/drive.h"

namespace cg {

std::optional<IniEntries> ReadPlatformIniSection(std::string_view section) {
  std::ifstream in(DriveC::resolve(kPlatformIni), std::ios::binary);
  if (!in) return std::nullopt;
  IniEntries entries;
  bool inSection = false;
  for (std::string raw; std::getline(in, raw);) {
    std::string line = TrimBlanks(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      inSection = EqualsNoCase(TrimBlanks(std::string_view(line).substr(1, line.size() - 2)), section);
      continue;
    }
    std::size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    entries.emplace_back(TrimBlanks(std::string_view(line).substr(0, eq)),
                         TrimBlanks(std::string_view(line).substr(eq + 1)));
  }
  return entries;
}

}  // namespace cg
