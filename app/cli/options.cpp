#include "app/cli/options.h"

#include <string_view>

namespace cg {

const char* UsageText() {
  return "Uso: consistgeral [opções]\n"
         "\n"
         "  --drive-c DIR        pasta que faz o papel da unidade C: (padrão:\n"
         "                       $HOME/.local/share/consistgeral/drive_c)\n"
         "  --script FILE        executa o roteiro FILE sem janela ('-' lê da entrada\n"
         "                       padrão) e escreve a transcrição em JSON na saída padrão\n"
         "  --create-sample      cria uma instalação de exemplo em --drive-c\n"
         "  --scale small|quarter|large  tamanho da instalação de exemplo (padrão: small)\n"
         "  --force              recria a instalação de exemplo mesmo se já existir\n"
         "  --screenshot FILE    grava uma imagem PNG da janela e termina\n"
         "  --help               mostra esta ajuda\n";
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&](const char* opt) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        error = std::string("a opção ") + opt + " precisa de um valor";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--drive-c") {
      auto v = value("--drive-c");
      if (!v) return std::nullopt;
      o.driveC = *v;
    } else if (a == "--script") {
      auto v = value("--script");
      if (!v) return std::nullopt;
      o.script = *v;
    } else if (a == "--create-sample") {
      o.createSample = true;
    } else if (a == "--scale") {
      auto v = value("--scale");
      if (!v) return std::nullopt;
      if (*v != "small" && *v != "quarter" && *v != "large") {
        error = "--scale aceita small, quarter ou large";
        return std::nullopt;
      }
      o.scale = *v;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--screenshot") {
      auto v = value("--screenshot");
      if (!v) return std::nullopt;
      o.screenshot = *v;
    } else {
      error = "opção desconhecida: " + std::string(a);
      return std::nullopt;
    }
  }
  return o;
}

}  // namespace cg
