// The simulation's state: whether one is active, and the connections it
// keeps alive until its end.
#include "data/engine/simulation.h"

#include <memory>
#include <vector>

#include "data/engine/sqlite.h"
#include "platform/cp1252.h"

namespace cg {
namespace {

bool g_active = false;

std::vector<std::shared_ptr<engine::Connection>>& held() {
  static std::vector<std::shared_ptr<engine::Connection>> h;
  return h;
}

}  // namespace

void BeginLocalSimulation() {
  if (g_active) throw EDBEngineError(std::string("Uma simulação já está em andamento."_cp));
  // What was posted before belongs to the real work: on disk first.
  for (const auto& c : engine::Connection::live()) c->commit(c->windowsPath());
  g_active = true;
}

void EndLocalSimulation() noexcept {
  if (!g_active) return;
  g_active = false;
  std::vector<std::shared_ptr<engine::Connection>> connections;
  connections.swap(held());
  for (const auto& c : connections) c->endSimulation();
  // The last reference to a connection whose tables are closed goes here:
  // it closes, and its file is a single file again.
}

bool LocalSimulationActive() noexcept { return g_active; }

namespace engine {

void holdForSimulation(std::shared_ptr<Connection> c) {
  auto& h = held();
  for (const auto& have : h)
    if (have == c) return;
  h.push_back(std::move(c));
}

}  // namespace engine
}  // namespace cg
