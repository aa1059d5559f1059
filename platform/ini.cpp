#include "platform/ini.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {

namespace {

// The value without its trailing comment.
std::string_view withoutComment(std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i)
    if (value[i] == ';' && (i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t')) return value.substr(0, i);
  return value;
}

}  // namespace

std::optional<IniEntries> ReadPlatformIniSection(std::string_view section) {
  const std::filesystem::path path = DriveC::resolve(kPlatformIni);
  std::error_code ec;
  // A folder opens as a stream that reads nothing: it would pass for an
  // empty file.
  if (std::filesystem::is_directory(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
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
                         TrimBlanks(withoutComment(std::string_view(line).substr(eq + 1))));
  }
  if (in.bad()) return std::nullopt;
  return entries;
}

std::optional<std::string> PlatformIniUnreadable() {
  const std::filesystem::path path = DriveC::resolve(kPlatformIni);
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
  if (status.type() == std::filesystem::file_type::directory)
    return std::string("há uma pasta com esse nome"_cp);
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  const int code = errno;
  if (code == EACCES || code == EPERM) return std::string("acesso negado");
  if (!in && code != 0) return fromUtf8(std::strerror(code));
  return std::string("erro de leitura");
}

}  // namespace cg
