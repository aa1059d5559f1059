// The in-use marker C:\VITRALON\Em_Uso.txt, shared with the suite's other
// modules: one line with the date-time of the last stamp. A module that finds
// a stamp younger than about 40 seconds refuses to run; the running module
// rewrites it every 30 seconds and deletes it when its window closes.
//
// Two programs started at the same instant must not both pass the check:
// the marker appears whole and already locked (written under a temporary
// name, locked, then linked in under its own name, which fails when one is
// there), and the program that owns it holds an advisory lock (flock) on it
// until its window closes. A program that finds the marker locked refuses at
// once; the stamp and its 40-second rule decide only for a marker nobody
// holds (left by a program that died, or by a module that takes no lock).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/form/form.h"
#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/regional.h"

namespace cg {
namespace {

constexpr std::size_t kMarkerTextMax = 60;
// The age test multiplies days by this factor, not by 86400: modules of the
// suite compare stamps the same way, so the effective limit of about 40.85
// real seconds is what they all agree on.
constexpr double kAgeFactor = 84600;
constexpr double kFreshLimit = 40;
constexpr int64_t kHeartbeatMs = 30000;

constexpr std::string_view kRefusal =
    "Você tentou executar mais de um módulo do VITRALON ao mesmo tempo.\r"
    "Este sistema foi projetado para executar somente um módulo de cada \r"
    "vez no mesmo computador. Este módulo será finalizado."_cp;

std::filesystem::path markerPath() { return DriveC::resolve(TFormConsistGeral::kMarkerPath); }

// The reason of a failed file step, in the user's language where known.
std::string reason(int code) {
  switch (code) {
    case ENOENT:
      return "pasta ou arquivo inexistente"_cp.data();
    case EACCES:
    case EPERM:
      return "acesso negado";
    case EISDIR:
      return "há uma pasta com esse nome"_cp.data();
    case ENOSPC:
      return "disco cheio";
    case EROFS:
      return "disco somente para leitura";
    default:
      return fromUtf8(std::strerror(code));
  }
}

[[noreturn]] void ioError(const char* what) {
  const std::string why = reason(errno);
  throw EInOutError(std::string("Erro de entrada/saída ao "_cp) + what + " " +
                    TFormConsistGeral::kMarkerPath + " (" + why + ").");
}

std::string stampText() {
  std::string text = DateTimeToStr(Clock::now());
  if (text.size() > kMarkerTextMax) text.resize(kMarkerTextMax);
  return text;
}

// Writes `text` into a temporary file of this program next to the marker,
// locks it and links it in under the marker's name. Returns the locked
// descriptor of the new marker, or -1 when a marker is there already.
int createMarker(const std::filesystem::path& path, const std::string& text) {
  static int serial = 0;
  std::string name = path.filename().string();
  name.insert(name.begin(), '.');
  name.append(".").append(std::to_string(::getpid())).append(".").append(std::to_string(++serial));
  const std::filesystem::path temp = path.parent_path() / name;
  errno = 0;
  const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ioError("criar");
  const std::string line = text + "\r\n";
  bool written = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  for (std::size_t done = 0; written && done < line.size();) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      written = false;
    else
      done += static_cast<std::size_t>(n);
  }
  if (!written) {
    const int code = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = code;
    ioError("gravar");
  }
  const int linked = ::link(temp.c_str(), path.c_str());
  const int code = errno;
  ::unlink(temp.c_str());
  if (linked == 0) return fd;
  ::close(fd);
  if (code == EEXIST) return -1;
  errno = code;
  ioError("criar");
}

// Opens the marker that is there and takes its lock. Returns the descriptor,
// -1 when another program holds the lock, -2 when the marker went away or
// was replaced meanwhile (the check starts again).
int lockExistingMarker(const std::filesystem::path& path) {
  errno = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return -2;
    ioError("abrir");
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK) return -1;
    errno = code;
    ioError("abrir");
  }
  // The owner may have deleted it between our open and our lock.
  struct stat held {
  }, named{};
  if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
      held.st_dev != named.st_dev) {
    ::close(fd);
    return -2;
  }
  return fd;
}

// The first line of the marker, at most kMarkerTextMax characters, without
// its CR LF.
std::string readFirstLine(int fd) {
  std::string line;
  std::size_t length = 0;
  char buffer[4096];
  for (bool end = false; !end;) {
    errno = 0;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ioError("ler");
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        end = true;
        break;
      }
      if (line.size() <= kMarkerTextMax) line += buffer[i];
      ++length;
    }
  }
  if (length == line.size() && !line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMarkerTextMax) line.resize(kMarkerTextMax);
  return line;
}

}  // namespace

void TFormConsistGeral::GravaEmUso() {
  const std::filesystem::path path = markerPath();
  const std::string text = stampText();

  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) ioError("criar");
  out << text << "\r\n";
  out.flush();
  if (!out) ioError("gravar");
  out.close();
  if (out.fail()) ioError("fechar");

  markerText_ = text;
  lastMarkerWriteMs_ = Clock::nowMs();
}

bool TFormConsistGeral::VerificaEmUso() {
  const std::filesystem::path path = markerPath();
  int fd = -2;
  for (int attempt = 0; fd == -2 && attempt < 100; ++attempt) {
    const std::string text = stampText();
    const int created = createMarker(path, text);
    if (created >= 0) {
      markerLock_.reset(created);
      markerText_ = text;
      lastMarkerWriteMs_ = Clock::nowMs();
      Timer1.setEnabled(true);
      return false;
    }
    fd = lockExistingMarker(path);
  }
  if (fd == -2) {
    errno = EAGAIN;
    ioError("abrir");
  }
  if (fd >= 0) {
    // Nobody holds it: the stamp decides. The lock stays with this window
    // until it closes, whatever the check finds.
    markerLock_.reset(fd);
    const std::string line = readFirstLine(fd);
    markerText_ = line;

    const TDateTime stored = StrToDateTime(line);  // EConvertError on anything else
    const double age = (Clock::now() - stored) * kAgeFactor;
    if (age > kFreshLimit) {
      GravaEmUso();
      Timer1.setEnabled(true);
      return false;
    }
    markerLock_.reset();
  }

  // Another module holds the marker (or the clock went back): refuse.
  refused_ = true;
  ui_.showMessage(std::string(kRefusal));
  Close();
  return true;
}

void TFormConsistGeral::Timer1Timer() {
  // Disabled first: a failed write stops the heartbeat for the rest of the run.
  Timer1.setEnabled(false);
  GravaEmUso();
  Timer1.setEnabled(true);
}

void TFormConsistGeral::heartbeatIfDue() {
  if (closed_ || !Timer1.enabled() || Clock::nowMs() - lastMarkerWriteMs_ < kHeartbeatMs) return;
  // The operation walking records must go on: a failed write is reported the
  // way a failed tick is, and stops the heartbeat as a failed tick does.
  try {
    Timer1Timer();
  } catch (const Exception& e) {
    ui_.showError(e);
  }
}

void TFormConsistGeral::FormClose() {
  // A refused start leaves the other module's marker in place: deleting it
  // would let a third module start while the owner still runs.
  if (refused_) return;
  // Only a file is deleted: a folder that stands in the marker's place is
  // no marker of ours. The lock goes after the file, so that a program
  // starting meanwhile finds either a locked marker or none.
  std::error_code ec;
  const std::filesystem::path path = markerPath();
  if (!std::filesystem::is_directory(path, ec)) std::filesystem::remove(path, ec);
  markerLock_.reset();
}

}  // namespace cg
