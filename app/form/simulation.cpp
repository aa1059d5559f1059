// Commands run as simulations: the same handlers on the same data, with every
// write rolled back at the end (data/engine/simulation.h,
// data/sql/simulation.h), each click a journal run marked as a simulation.
#include "data/engine/simulation.h"

#include <stdlib.h>

#include <cstdlib>
#include <system_error>

#include "app/form/form.h"
#include "data/sql/dm.h"
#include "data/sql/simulation.h"
#include "platform/cp1252.h"
#include "platform/drive.h"

namespace cg {

std::string TFormConsistGeral::SimulationCaption(const std::string& caption) {
  return caption + cp(" - SIMULAÇÃO"_cp);
}

std::string TFormConsistGeral::SimulationWarning() {
  return cp(
      "Simulação: cada comando roda como de costume, mas nada do que ele altera é gravado; "
      "no fim tudo é desfeito e o histórico guarda o que ele teria alterado.\r"
      "Enquanto a simulação roda, ela mantém o bloqueio de gravação das tabelas em que grava: "
      "os outros programas podem ler essas tabelas, mas não gravar nelas."_cp);
}

bool TFormConsistGeral::setSimulation(bool on) {
  // Not under an open panel either: a real review turned into a simulation
  // at its confirmation would tell of a replacement that never happens.
  if (closed_ || commandRunning() || simulationOpen_ || covered(CheckSimular)) return false;
  simulationMode_ = on;
  CheckSimular.checked = on;
  return true;
}

bool TFormConsistGeral::atRest() const {
  for (const TControl* p : {&PainelFormatCliAntigo, &PainelFormatCliNovo, &PainelFormatMedAntigo,
                            &PainelFormatMedNovo, &PainelCorrigComponentes})
    if (p->visible) return false;
  return true;
}

void TFormConsistGeral::beginSimulation() {
  simulatedFiles_.clear();
  if (simulationOpen_) return;
  BeginLocalSimulation();
  if (dm_) {
    // A server that cannot be reached now: the simulation goes on without
    // it (the local repairs need none), and the connection names no database
    // until the end, so that a server which comes back meanwhile is not
    // written for real: a command that needs it stops as without a server.
    try {
      BeginServerSimulation(dm_->sqlcon1);
    } catch (const EConnectionError&) {
      serverDatabase_ = dm_->sqlcon1.param("Database");
      serverWithheld_ = true;
      dm_->sqlcon1.setParam("Database", "");
    } catch (...) {
      EndLocalSimulation();
      throw;
    }
  }
  simulationOpen_ = true;
  CheckSimular.enabled = false;
  captionAtRest_ = caption;
  caption = SimulationCaption(caption);
  repaint(PainelConsistG);
}

void TFormConsistGeral::endSimulation() noexcept {
  if (!simulationOpen_) return;
  // Every table object and dataset closed first: an open one keeps what it
  // read of the simulated rows.
  closeTablesAndDatasets();
  EndLocalSimulation();
  if (dm_) {
    EndServerSimulation(dm_->sqlcon1);
    if (serverWithheld_) dm_->sqlcon1.setParam("Database", serverDatabase_);
  }
  serverWithheld_ = false;
  simulationOpen_ = false;
  caption = captionAtRest_;
  if (!commandRunning()) CheckSimular.enabled = true;
}

std::filesystem::path TFormConsistGeral::writtenFile(const std::string& windowsPath) {
  if (!simulationOpen_) return DriveC::resolve(windowsPath);
  if (simulationFolder_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/consistgeral-simulacao-XXXXXX";
    if (!mkdtemp(pattern.data())) throw EInOutError(cp("Não foi possível criar a pasta da simulação."_cp));
    simulationFolder_ = pattern;
  }
  const size_t slash = windowsPath.find_last_of("\\/");
  std::string name = slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
  const std::filesystem::path host = simulationFolder_ / toUtf8(name);
  for (const auto& f : simulatedFiles_)
    if (f.second == host) return host;
  simulatedFiles_.emplace_back(windowsPath, host);
  return host;
}

void TFormConsistGeral::commandFileNotStarted(const std::string& commandFile) {
  ui_.showMessage(cp("Simulação: o arquivo de comandos "_cp) + commandFile + cp(" não foi executado."_cp));
}

}  // namespace cg
