// The fixed Windows paths of the system ("C:\VITRALON\DADOS") live under a
// host folder that stands for drive C. Resolution is case-insensitive, one
// component at a time, against what exists; a component that does not exist
// yet keeps the spelling given. Paths of another drive, or relative paths,
// raise EPathError.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cg {

class DriveC {
 public:
  static void setRoot(const std::filesystem::path& root);
  static const std::filesystem::path& root();
  // The default root: $HOME/.local/share/consistgeral/drive_c.
  static std::filesystem::path defaultRoot();

  // True for "C:\..." and "c:/..." (either separator).
  static bool isWindowsPath(std::string_view winPath);
  // Maps a Windows path (CP1252) to the host path.
  static std::filesystem::path resolve(std::string_view winPath);
  // Resolves and creates the missing folders of a directory path.
  static std::filesystem::path resolveDir(std::string_view winPath);
  // The entry of `dir` whose name equals `name` without regard to ASCII case,
  // or dir/name when there is none.
  static std::filesystem::path findEntry(const std::filesystem::path& dir, std::string_view nameUtf8);
};

}  // namespace cg
