// Program entry: parses the platform options, then runs the sample
// installer, the headless script runner or the window.
#if CG_WITH_GUI
#include <QApplication>
#endif
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>

#include "app/cli/options.h"
#include "app/cli/runner.h"
#if CG_WITH_GUI
#include "app/qt/main_window.h"
#endif
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/errors.h"
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
#endif

// A state record is long: for the demonstration, the commands that respond,
// the marker and the colour are enough.
std::string readable(const std::string& line) {
  if (line.rfind("{\"event\":\"state\"", 0) != 0) return line;
  std::string usable;
  const std::regex button("\"(\\w+)\":\\{\"enabled\":true,\"visible\":true\\}");
  const std::size_t end = line.find("\"BotCancelFormatCli\"");
  const std::string commands = line.substr(0, end);
  for (std::sregex_iterator it(commands.begin(), commands.end(), button), none; it != none; ++it)
    usable += (usable.empty() ? "" : ", ") + (*it)[1].str();
  std::smatch m;
  std::string marker = "nenhum", colour = "?";
  if (std::regex_search(line, m, std::regex("\"marker\":\"([^\"\\\\]*)"))) marker = m[1];
  if (std::regex_search(line, m, std::regex("\"colour\":(-?\\d+)"))) colour = m[1];
  return "estado: respondem " + usable + "; marcador \"" + marker + "\"; cor de fundo " + colour;
}

// Without a screen (or in a build without the window): a picture of the
// window when there is one, then a short run of the program through its
// script runner, told step by step.
int demonstrate() {
  namespace fs = std::filesystem;
  const fs::path picture = fs::absolute(cg::DriveC::root().parent_path() / "consistgeral-janela.png");
#if CG_WITH_GUI
  std::printf(
      "consistgeral: não há tela (nem DISPLAY nem WAYLAND_DISPLAY definidos), então a janela não pode ser "
      "aberta.\n"
      "Em vez dela: uma imagem da janela e uma demonstração sem janela sobre a instalação de exemplo em\n  "
      "%s\n\n",
      cg::DriveC::root().string().c_str());
  {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "consistgeral";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    cg::qt::WindowProgram program(/*interactive=*/false);
    program.start();
    if (program.screenshot(picture.string()))
      std::printf("1. Imagem da janela gravada em %s\n", picture.string().c_str());
    else
      std::printf("1. Não foi possível gravar a imagem da janela em %s\n", picture.string().c_str());
  }

#else
  (void)picture;
  std::printf(
      "consistgeral: esta versão do programa não tem janela.\n"
      "Em vez dela: uma demonstração sem janela sobre a instalação de exemplo em\n  %s\n\n",
      cg::DriveC::root().string().c_str());
  std::printf("1. Sem imagem da janela.\n");
#endif

  // One run of the script runner; before each action the transcript lines of
  // the previous one are printed under its explanation.
  struct Step {
    const char* action;
    const char* what;
  };
  const Step steps[] = {
      {"state",
       "estado inicial: só \"Retirar caract...\" e \"Sair\" respondem; o marcador Em_Uso.txt foi gravado"},
      {"click BotAjusta",
       "clique em \"Ajusta Param. Técnicos\": desabilitado no início, o clique é ignorado"},
      {"wait 31", "31 segundos (no relógio do programa): o temporizador regrava o marcador"},
      {"state", "estado depois da espera: o marcador tem a hora nova"},
      {"click BitBtn7", "clique em \"Retirar caract. \". . / -\" do CNPJ em Forneced\" (banco no servidor)"},
      {"invoke BotFormulaOrfan", "exclusão de fórmulas órfãs (botão oculto, acionado pelo roteiro)"},
      {"state", "estado depois das correções: os comandos foram habilitados"},
      {"click BotSair", "clique em \"Sair\": a janela fecha e o marcador é apagado"},
  };
  std::string script;
  for (const Step& s : steps) script += std::string(s.action) + "\n";
  std::istringstream in(script);
  std::ostringstream transcript, errors;
  std::size_t shown = 0, next = 0;
  auto flush = [&] {
    const std::string all = transcript.str();
    std::istringstream lines(all.substr(shown));
    for (std::string line; std::getline(lines, line);) std::printf("     %s\n", readable(line).c_str());
    shown = all.size();
  };
  std::printf("2. Início sem janela: o marcador é verificado e a cor de fundo lida de Config\n");
  const int code = cg::RunScript(in, transcript, errors, [&](const std::string& action) {
    flush();
    if (action.empty()) return;
    std::printf("%zu. %s\n   > %s\n", next + 3, steps[next].what, action.c_str());
    ++next;
  });
  flush();
  if (code != 0) std::printf("%s", errors.str().c_str());
#if CG_WITH_GUI
  std::printf("\nPara ver a janela, rode o mesmo comando numa sessão com tela (X11 ou Wayland).\n");
#endif
  return 0;
}

}  // namespace

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
  cg::DriveC::setRoot(options->driveC.empty() ? cg::DriveC::defaultRoot()
                                              : std::filesystem::path(options->driveC));

  if (options->createSample) {
    try {
      cg::CreateSample(options->scale, options->force);
    } catch (const cg::Exception& e) {
      std::fprintf(stderr, "consistgeral: %s\n", cg::toUtf8(e.message()).c_str());
      return 1;
    }
    std::printf("Instalação de exemplo (%s) criada em %s\n", options->scale.c_str(),
                cg::DriveC::root().string().c_str());
    return 0;
  }
  if (options->script) return cg::RunScriptFile(*options->script, std::cout, std::cerr);

#if CG_WITH_GUI
  if (!options->screenshot.empty()) {
    if (!hasDisplay()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    cg::qt::WindowProgram program(/*interactive=*/false);
    program.start();
    if (!program.screenshot(options->screenshot)) {
      std::fprintf(stderr, "consistgeral: não foi possível gravar %s\n", options->screenshot.c_str());
      return 1;
    }
    std::printf("%s\n", options->screenshot.c_str());
    return 0;
  }

  if (!hasDisplay()) return demonstrate();

  QApplication app(argc, argv);
  cg::qt::WindowProgram program;
  program.window().show();
  return app.exec();
#else
  if (!options->screenshot.empty()) {
    std::fprintf(stderr, "consistgeral: esta versão do programa não tem janela (--screenshot).\n");
    return 2;
  }
  return demonstrate();
#endif
}
