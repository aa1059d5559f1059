// A simulated run of the local tables: the very same work on the very same
// files, with nothing written.
//
// While a simulation is active, every connection on a table file that
// writes keeps one write transaction (BEGIN IMMEDIATE) until the simulation
// ends: the file's write lock is held for the run, so other programs wait
// to write, but they read as usual (write-ahead log). Where a real run
// would commit (a full or old group of posts, the save-changes call, a
// close, the session's flush, the commit before an emptying or a local SQL
// statement) the simulation releases its savepoint and opens the next;
// where a real run would roll back its group, it rolls back to the open
// savepoint. Reads through the table objects, and a table opened again, see
// the simulated writes. A local SQL statement runs on its file's own
// connection; a statement over several table files cannot be simulated and
// raises EDBEngineError. No table file is created during a simulation.
//
// The end rolls every transaction back and lets go of every lock: each
// table file is as it was. A program killed during a simulation leaves the
// files as they were too (the log frames of an uncommitted transaction are
// never copied back).
//
// The change sink (changes.h) hears each simulated change; nothing commits,
// so it never hears committing() or committed(); a savepoint rolled back is
// rolledBack(), and at the end it hears simulated() for the rest.
#pragma once

namespace cg {

// Starts the simulation. What the program posted before is committed first
// (raises EDBEngineError when that fails); raises EDBEngineError when a
// simulation is already active.
void BeginLocalSimulation();
// Ends it: every simulated change is rolled back and every lock released.
// Tables should be closed before (an open table object keeps the values it
// had read). Does nothing when no simulation is active.
void EndLocalSimulation() noexcept;
bool LocalSimulationActive() noexcept;

// A simulation for the length of a scope.
class LocalSimulation {
 public:
  LocalSimulation() { BeginLocalSimulation(); }
  ~LocalSimulation() { EndLocalSimulation(); }
  LocalSimulation(const LocalSimulation&) = delete;
  LocalSimulation& operator=(const LocalSimulation&) = delete;
};

}  // namespace cg
