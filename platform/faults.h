// Fault injection for the crash tests: the process kills itself with SIGKILL
// right after a chosen write, the way a crash or a power cut would stop it,
// or halts there while the test takes the server away.
//
//   CG_FAULT_KILL_AFTER_WRITES=N   SIGKILL right after the N-th write event
//   CG_FAULT_STOP_AFTER_WRITES=N   SIGSTOP right after the N-th write event
//                                  (the test does something meanwhile, such
//                                  as stopping the server, and sends SIGCONT)
//   CG_FAULT_COUNT_FILE=PATH       at a normal exit, write the number of
//                                  write events of the run into PATH
//   CG_FAULT_STOP_BEFORE_SERVER_WRITES=N
//                                  SIGSTOP right before the N-th write is
//                                  sent to the server (an apply with changes
//                                  or a statement executed directly), so that
//                                  the server can go before anything of it
//
// A write event is a post or delete on a local table, an emptying, a local SQL
// statement, a commit of a local table file, a committed statement or
// apply on the server, and the removal from a table file of the records
// the journal collected from it. The variables are read once, with the other test
// hooks (platform/test_hooks.h), at the first event if not before; without
// them the hook costs a few branches.
#pragma once

namespace cg::faults {

// Counts one write event; kills or halts the process when it is the chosen
// one.
void wrote() noexcept;

// Counts one write about to be sent to the server; halts the process when
// it is the chosen one.
void serverWriting() noexcept;

}  // namespace cg::faults
