// The test and tuning hooks that scripts and tests set in the environment,
// read into one object on first use and kept for the life of the process:
// no library code reads these variables itself. A user never sets them.
//
//   CG_FAULT_KILL_AFTER_WRITES=N          SIGKILL right after the N-th write
//                                         event (platform/faults.h)
//   CG_FAULT_STOP_AFTER_WRITES=N          SIGSTOP right after the N-th write
//                                         event
//   CG_FAULT_STOP_BEFORE_SERVER_WRITES=N  SIGSTOP right before the N-th write
//                                         sent to the server
//   CG_FAULT_COUNT_FILE=PATH              at a normal exit, the number of
//                                         write events of the run into PATH
//   CG_SQL_GROUP_STATEMENTS=N             statements per group for every
//                                         statement group (data/sql/sql.h)
//
// A number that is missing, not a number or not above 0 leaves its hook off.
#pragma once

#include <string>

namespace cg {

struct TestHooks {
  long killAfterWrites = 0;         // CG_FAULT_KILL_AFTER_WRITES; 0: never
  long stopAfterWrites = 0;         // CG_FAULT_STOP_AFTER_WRITES; 0: never
  long stopBeforeServerWrites = 0;  // CG_FAULT_STOP_BEFORE_SERVER_WRITES; 0: never
  std::string countFile;            // CG_FAULT_COUNT_FILE; empty: none
  int groupStatements = 0;          // CG_SQL_GROUP_STATEMENTS; 0: each group's own number

  // The hooks of this process, read from the environment at the first call.
  // The object lives until the very end of the process (exit handlers
  // included).
  static const TestHooks& get();
  // Reads the environment again: for a test that sets a hook in its own
  // process after the hooks were first read.
  static void reload();
  // What the environment says now.
  static TestHooks fromEnvironment();
};

}  // namespace cg
