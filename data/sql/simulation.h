// A simulated run on the server: the very same work through the very same
// connection, with nothing written.
//
// While a simulation is active on a connection, every transaction the driver
// uses on it (an execute-direct statement's own, a group's, an apply of a
// client-side dataset's changes, a fetch, a statement check, a row writer's)
// is a part of one transaction held for the run, so that reads see the
// simulated writes. Each part starts at a savepoint: where a real run would
// commit, the savepoint is released; where it would roll back, the part goes
// back to its savepoint. The end rolls the whole transaction back. The rows
// the simulation changes stay locked until then (other writers wait on them,
// as on a real run's uncommitted rows; readers are not held back).
//
// A connection lost during a simulation loses the transaction with it:
// nothing was written, and every later use raises EConnectionError until
// the simulation ends (no new attachment is made in its place).
//
// The change sink (changes.h) hears each simulated change, never
// committing() or committed(); at the end it hears simulated() for the
// parts a real run would have committed.
#pragma once

#include "data/sql/sql.h"

namespace cg {

// Starts a simulation on `c` (connecting if needed). What an open group of
// statements holds is committed first. Raises EDatabaseError when one is
// already active on it, EConnectionError when the server cannot be reached.
void BeginServerSimulation(SQLConnection& c);
// Rolls everything the simulation did back. Does nothing without one.
void EndServerSimulation(SQLConnection& c) noexcept;

// A server simulation for the length of a scope.
class ServerSimulation {
 public:
  explicit ServerSimulation(SQLConnection& c) : c_(c) { BeginServerSimulation(c_); }
  ~ServerSimulation() { EndServerSimulation(c_); }
  ServerSimulation(const ServerSimulation&) = delete;
  ServerSimulation& operator=(const ServerSimulation&) = delete;

 private:
  SQLConnection& c_;
};

}  // namespace cg
