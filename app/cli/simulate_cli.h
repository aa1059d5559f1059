// A command run as a simulation from the command line (--simular): the
// same handlers on the same data, nothing written; what it would have
// changed is printed and kept in the journal (README.md, "Simulation").
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace cg {

// Runs `command` (a command button's component name or caption, UTF-8), or
// the script `scriptFile` ("-": standard input), or the command then the
// script, inside one simulation, on the installation under the current
// drive C root. Questions are answered Yes unless the script queues
// another answer. Writes the runner's transcript, then each simulated run
// as --historico prints it, then where the files the repair wrote went.
// 0 every simulated run ended normally; 1 a run stopped by an error, no
// run at all, or the journal cannot be read; 2 an unknown command or a
// refused script; 3 refused (another module runs).
int SimulateCommand(const std::optional<std::string>& command, const std::optional<std::string>& scriptFile,
                    std::ostream& out, std::ostream& errors);

}  // namespace cg
