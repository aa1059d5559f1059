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
         "  --tecnico            mostra também os comandos dos técnicos (exclusão de\n"
         "                       fórmulas órfãs), como 'tecnico = sim' na seção\n"
         "                       [consistgeral] de C:\\platform.ini\n"
         "  --demo               demonstração sem janela numa instalação de exemplo\n"
         "                       criada numa pasta temporária (não toca em --drive-c)\n"
         "  --version            mostra a versão\n"
         "  --help               mostra esta ajuda\n"
         "\n"
         "Sem tela (nem DISPLAY nem WAYLAND_DISPLAY), a janela não abre: o programa diz\n"
         "isso e termina com código 1; use --script para rodar sem janela.\n"
         "\n"
         "Códigos de saída: 0 janela fechada normalmente; 1 início falhou (sem tela, ou\n"
         "a ativação da janela deu erro); 2 opções inválidas ou roteiro recusado;\n"
         "3 início recusado (outro módulo do VITRALON em uso). Com --script: os de\n"
         "docs/runner.md (0, ou 2 para um roteiro recusado).\n";
}

const char* VersionText() { return "consistgeral " CG_VERSION "\n"; }

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
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--tecnico") {
      o.technician = true;
    } else if (a == "--demo") {
      o.demo = true;
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
