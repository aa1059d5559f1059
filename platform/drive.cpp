#include "platform/drive.h"

#include <cstdlib>

#include "platform/ascii.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace cg {
namespace fs = std::filesystem;
namespace {
fs::path g_root;

}  // namespace

fs::path DriveC::defaultRoot() {
  const char* home = std::getenv("HOME");
  fs::path base = (home && *home) ? fs::path(home) : fs::temp_directory_path();
  return base / ".local" / "share" / "consistgeral" / "drive_c";
}

void DriveC::setRoot(const fs::path& root) {
  std::error_code ec;
  fs::path abs = fs::absolute(root, ec);
  g_root = ec ? root : abs.lexically_normal();
}

const fs::path& DriveC::root() {
  if (g_root.empty()) g_root = defaultRoot();
  return g_root;
}

bool DriveC::isWindowsPath(std::string_view p) {
  return p.size() >= 3 && (p[0] == 'C' || p[0] == 'c') && p[1] == ':' && (p[2] == '\\' || p[2] == '/');
}

fs::path DriveC::findEntry(const fs::path& dir, std::string_view name) {
  std::error_code ec;
  fs::path exact = dir / fs::path(std::string(name));
  if (fs::exists(exact, ec)) return exact;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (EqualsNoCase(it->path().filename().string(), name)) return it->path();
  }
  return exact;
}

fs::path DriveC::resolve(std::string_view winPath) {
  if (!isWindowsPath(winPath)) {
    if (winPath.size() >= 2 && winPath[1] == ':')
      throw EPathError("Caminho inválido: \""_cp.data() + std::string(winPath) +
                       "\". Somente a unidade C: existe nesta estação."_cp.data());
    throw EPathError("Caminho inválido: \""_cp.data() + std::string(winPath) +
                     "\". Esperava-se um caminho completo da unidade C:."_cp.data());
  }
  fs::path cur = root();
  std::string_view rest = winPath.substr(3);
  std::size_t i = 0;
  while (i <= rest.size()) {
    std::size_t j = rest.find_first_of("\\/", i);
    if (j == std::string_view::npos) j = rest.size();
    std::string_view comp = rest.substr(i, j - i);
    if (!comp.empty() && comp != ".") {
      if (comp == "..") {
        if (cur != root()) cur = cur.parent_path();
      } else {
        cur = findEntry(cur, toUtf8(comp));
      }
    }
    i = j + 1;
  }
  return cur;
}

fs::path DriveC::resolveDir(std::string_view winPath) {
  fs::path p = resolve(winPath);
  std::error_code ec;
  fs::create_directories(p, ec);
  return p;
}

}  // namespace cg
