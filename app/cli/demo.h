// The demonstration without a window: a sample installation created for it
// in a temporary folder, a picture of the window when the caller can take
// one, then a short run of the script runner on that sample, told step by
// step. It never touches the drive C the program was given.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>

namespace cg {

// Runs the demonstration; `createSample` creates the sample installation
// under the current drive C (raising cg::Exception on failure); `picture`, when given, writes a picture of
// the window to the file named and says whether it could. Drive C is the temporary folder meanwhile and is
// put back afterwards; the folder is kept (its path is printed) so that the picture and the tables can be
// looked at. Returns 0, or 1 when the sample could not be created.
int RunDemonstration(std::ostream& out, std::ostream& err, const std::function<void()>& createSample,
                     const std::function<bool(const std::filesystem::path&)>& picture = {});

}  // namespace cg
