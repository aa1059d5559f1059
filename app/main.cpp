// Program entry: parses the platform options, then runs the sample
// installer, the headless script runner, the demonstration or the window.
#if CG_WITH_GUI
#include <QApplication>
#endif
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/cli/demo.h"
#include "app/cli/history_cli.h"
#include "app/cli/options.h"
#include "app/cli/runner.h"
#include "app/cli/simulate_cli.h"
#if CG_WITH_GUI
#include "app/qt/main_window.h"
#endif
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/errors.h"
#include "sample/paradox_import.h"
#include "sample/sample.h"

namespace {

#if CG_WITH_GUI
bool hasDisplay() {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(v);
    if (value && *value) return true;
  }
  return false;
}

// A picture of the window on the offscreen platform, for the demonstration.
bool windowPicture(const std::filesystem::path& png) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "consistgeral";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  cg::qt::WindowProgram program(/*interactive=*/false);
  program.start();
  return program.screenshot(png.string());
}
#endif

// Without a window nothing runs on the installation: the window is the only
// way a technician asks for a repair.
int noWindow(const char* why) {
  std::fprintf(stderr,
               "consistgeral: %s, então a janela não pode ser aberta e nada foi feito em\n  %s\n"
               "Rode o programa numa sessão com tela (X11 ou Wayland), ou sem janela com\n"
               "  consistgeral --drive-c DIR --script ROTEIRO   (docs/runner.md)\n"
               "ou veja uma demonstração numa instalação de exemplo temporária com\n"
               "  consistgeral --demo\n",
               why, cg::DriveC::root().string().c_str());
  return cg::kExitStartFailed;
}

void createSample() { cg::CreateSample("small", false); }

// --importar-paradox: the report on standard output, a failure on standard
// error with exit code 1.
int ImportParadox(const cg::Options& options) {
  cg::ParadoxImportOptions o;
  o.origin = *options.importParadox;
  o.force = options.force;
  for (const auto& [alias, folder] : options.aliasOrigin) o.aliasFolders[alias] = cg::fromUtf8(folder);
  try {
    const cg::ParadoxImportReport r = cg::ImportParadox(o);
    for (const auto& line : r.lines) std::printf("%s\n", cg::toUtf8(line).c_str());
    std::printf(
        "Importadas %d tabelas, %lld registros, %d campos, %d índices secundários em %.1f s para %s\n",
        r.tables, static_cast<long long>(r.records), r.fields, r.indexes, r.seconds,
        cg::DriveC::root().string().c_str());
    return cg::kExitOk;
  } catch (const cg::Exception& e) {
    std::fprintf(stderr, "consistgeral: %s\n", cg::toUtf8(e.message()).c_str());
    return cg::kExitStartFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = cg::ParseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "consistgeral: %s\n\n%s", error.c_str(), cg::UsageText());
    return cg::kExitUsage;
  }
  if (options->help) {
    std::fputs(cg::UsageText(), stdout);
    return cg::kExitOk;
  }
  if (options->version) {
    std::fputs(cg::VersionText(), stdout);
    return cg::kExitOk;
  }
  cg::DriveC::setRoot(options->driveC.empty() ? cg::DriveC::defaultRoot()
                                              : std::filesystem::path(options->driveC));

  if (options->createSample) {
    try {
      cg::CreateSample(options->scale, options->force);
    } catch (const cg::Exception& e) {
      std::fprintf(stderr, "consistgeral: %s\n", cg::toUtf8(e.message()).c_str());
      return cg::kExitStartFailed;
    }
    std::printf("Instalação de exemplo (%s) criada em %s\n", options->scale.c_str(),
                cg::DriveC::root().string().c_str());
    return cg::kExitOk;
  }
  if (options->importParadox) return ImportParadox(*options);
  if (options->simulate)
    return cg::SimulateCommand(options->simulateCommand, options->script, std::cout, std::cerr);
  if (options->script) {
    cg::ScriptOptions scriptOptions;
    scriptOptions.technician = options->technician;
    return cg::RunScriptFile(*options->script, std::cout, std::cerr, scriptOptions);
  }
  if (options->history) return cg::PrintHistory(std::cout, std::cerr);
  if (options->reportRun)
    return cg::WriteRunReport(options->reportRun, options->reportFile, options->replaceReport, std::cout,
                              std::cerr);
  if (options->undoRun)
    return cg::UndoRun(options->undoRun, options->yes, ::isatty(STDIN_FILENO) != 0, std::cin, std::cout,
                       std::cerr);

#if CG_WITH_GUI
  if (options->demo) return cg::RunDemonstration(std::cout, std::cerr, createSample, windowPicture);

  if (!options->screenshot.empty()) {
    if (!hasDisplay()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    cg::qt::WindowProgram program(/*interactive=*/false, options->technician);
    program.start();
    if (!program.screenshot(options->screenshot)) {
      std::fprintf(stderr, "consistgeral: não foi possível gravar %s\n", options->screenshot.c_str());
      return cg::kExitStartFailed;
    }
    std::printf("%s\n", options->screenshot.c_str());
    return cg::kExitOk;
  }

  if (!hasDisplay()) return noWindow("não há tela (nem DISPLAY nem WAYLAND_DISPLAY definidos)");

  QApplication app(argc, argv);
  QApplication::setApplicationName("consistgeral");
  QApplication::setDesktopFileName("consistgeral");
  cg::qt::WindowProgram program(/*interactive=*/true, options->technician);
  program.window().show();
  const int loop = app.exec();
  if (program.form().markerRefused()) return cg::kExitRefused;
  if (program.program().startFailed()) return cg::kExitStartFailed;
  return loop == 0 ? cg::kExitOk : cg::kExitStartFailed;
#else
  if (options->demo) return cg::RunDemonstration(std::cout, std::cerr, createSample);
  if (!options->screenshot.empty()) {
    std::fprintf(stderr, "consistgeral: esta versão do programa não tem janela (--screenshot).\n");
    return cg::kExitUsage;
  }
  return noWindow("esta versão do programa não tem janela");
#endif
}
