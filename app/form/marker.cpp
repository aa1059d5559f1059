// The in-use marker C:\VITRALON\Em_Uso.txt, shared with the suite's other
// modules: one line with the date-time of the last stamp. A module that finds
// a stamp younger than about 40 seconds refuses to run; the running module
// rewrites it every 30 seconds and deletes it when its window closes.
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

}  // namespace

void TFormConsistGeral::GravaEmUso() {
  const std::filesystem::path path = markerPath();
  std::string text = DateTimeToStr(Clock::now());
  if (text.size() > kMarkerTextMax) text.resize(kMarkerTextMax);

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
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    GravaEmUso();
    Timer1.setEnabled(true);
    return false;
  }

  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) ioError("abrir");
  std::string line;
  std::getline(in, line);
  if (in.bad()) ioError("ler");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMarkerTextMax) line.resize(kMarkerTextMax);
  in.close();
  markerText_ = line;

  const TDateTime stored = StrToDateTime(line);  // EConvertError on anything else
  const double age = (Clock::now() - stored) * kAgeFactor;
  if (age > kFreshLimit) {
    GravaEmUso();
    Timer1.setEnabled(true);
    return false;
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
  // no marker of ours.
  std::error_code ec;
  const std::filesystem::path path = markerPath();
  if (!std::filesystem::is_directory(path, ec)) std::filesystem::remove(path, ec);
}

}  // namespace cg
