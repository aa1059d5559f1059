// Program entry: parses the platform options, then runs the sample
// installer, the headless script runner or the window.
#include <cstdio>
#include <string>

#include "app/cli/options.h"
#include "platform/drive.h"

int main(int argc, char** argv) {
  std::string error;
  auto options = cg::ParseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "consistgeral: %s\n\n%s", error.c_str(), cg::UsageText());
    return 2;
  }
  if (options->help) {
    std::fputs(cg::UsageText(), stdout);
    return 0;
  }
  cg::DriveC::setRoot(options->driveC.empty() ? cg::DriveC::defaultRoot() : std::filesystem::path(options->driveC));
  std::fprintf(stderr, "consistgeral: a janela ainda não foi construída; nada a executar.\n");
  return 0;
}
