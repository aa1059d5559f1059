#include "app/cli/options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
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
         "  --scale ESCALA       tamanho da instalação de exemplo: small (padrão), quarter,\n"
         "                       large ou huge (dez vezes large)\n"
         "  --force              recria a instalação de exemplo mesmo se já existir; com\n"
         "                       --importar-paradox, importa por cima da instalação\n"
         "                       atual, que é guardada numa cópia antes\n"
         "  --importar-paradox ORIGEM  lê as tabelas Paradox de uma instalação do Windows\n"
         "                       (ORIGEM é a sua unidade C: copiada ou montada) e cria as\n"
         "                       tabelas deste sistema em --drive-c; a origem não muda\n"
         "  --alias-origem NOME=C:\\PASTA  onde fica em ORIGEM a pasta do alias NOME\n"
         "                       (padrão: a pasta que o platform.ini do destino dá)\n"
         "  --screenshot FILE    grava uma imagem PNG da janela e termina\n"
         "  --tecnico            mostra também os comandos dos técnicos (exclusão de\n"
         "                       fórmulas órfãs), como 'tecnico = sim' na seção\n"
         "                       [consistgeral] de C:\\platform.ini\n"
         "  --demo               demonstração sem janela numa instalação de exemplo\n"
         "                       criada numa pasta temporária (não toca em --drive-c)\n"
         "  --historico          lista as execuções dos comandos guardadas no histórico\n"
         "                       (C:\\VITRALON\\CONSISTGERAL\\Historico.db)\n"
         "  --relatorio N [ARQUIVO]  grava as alterações da execução N em CSV (padrão:\n"
         "                       Historico_N.csv na pasta atual) e mostra o caminho;\n"
         "                       um arquivo que já existe só com --substituir (uma\n"
         "                       tabela, uma cópia ou o histórico, nunca)\n"
         "  --substituir         grava o --relatorio sobre um arquivo que já existe\n"
         "  --desfazer N         desfaz a execução N, depois de perguntar (s/n); sem\n"
         "                       terminal, só com --confirmar\n"
         "  --confirmar          confirma o --desfazer sem perguntar\n"
         "  --simular COMANDO    simula o comando (nome do componente, como\n"
         "                       BotFormulaOrfan, ou a legenda do botão): roda-o sem\n"
         "                       janela, responde Sim às perguntas, desfaz tudo no fim e\n"
         "                       mostra o que ele teria alterado; com --script ROTEIRO, o\n"
         "                       roteiro roda dentro da mesma simulação (depois do\n"
         "                       COMANDO, que então é opcional)\n"
         "  --version            mostra a versão\n"
         "  --help               mostra esta ajuda\n"
         "\n"
         "Sem tela (nem DISPLAY nem WAYLAND_DISPLAY), a janela não abre: o programa diz\n"
         "isso e termina com código 1; use --script para rodar sem janela.\n"
         "\n"
         "Códigos de saída: 0 janela fechada normalmente; 1 início falhou (sem tela, ou\n"
         "a ativação da janela deu erro); 2 opções inválidas ou roteiro recusado;\n"
         "3 início recusado (outro módulo do VITRALON em uso). Com --script: os de\n"
         "docs/runner.md (0, ou 2 para um roteiro recusado). Com --historico,\n"
         "--relatorio e --desfazer: 0 feito; 1 falha (histórico, execução ou arquivo);\n"
         "2 opções inválidas (ou --desfazer sem terminal e sem --confirmar); 3 recusado\n"
         "(outro módulo em uso) ou não confirmado. Com --simular: 0 feito; 1 falha;\n"
         "2 opções inválidas ou comando desconhecido; 3 recusado (outro módulo em uso).\n"
         "Com --importar-paradox: 0 importado; 1 recusado (nada muda no destino nem na\n"
         "origem); 2 opções inválidas.\n";
}

const char* VersionText() { return "consistgeral " CG_VERSION "\n"; }

namespace {

// A run's number: a whole number from 1 on.
std::optional<int64_t> runNumber(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || v < 1) return std::nullopt;
  return v;
}

}  // namespace

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
      if (*v != "small" && *v != "quarter" && *v != "large" && *v != "huge") {
        error = "--scale aceita small, quarter, large ou huge";
        return std::nullopt;
      }
      o.scale = *v;
    } else if (a == "--historico") {
      o.history = true;
    } else if (a == "--relatorio" || a == "--desfazer") {
      const std::string opt(a);
      auto v = value(opt.c_str());
      if (!v) return std::nullopt;
      const auto n = runNumber(*v);
      if (!n) {
        error = opt + " precisa do número de uma execução (1, 2, ...): " + *v;
        return std::nullopt;
      }
      if (a == "--relatorio") {
        o.reportRun = *n;
        // The file is optional: the next word, unless it is an option.
        if (i + 1 < argc && std::string_view(argv[i + 1]).rfind("--", 0) != 0) o.reportFile = argv[++i];
      } else {
        o.undoRun = *n;
      }
    } else if (a == "--simular") {
      o.simulate = true;
      // The command is optional with --script: the next word, unless it is an option.
      if (i + 1 < argc && std::string_view(argv[i + 1]).rfind("--", 0) != 0) o.simulateCommand = argv[++i];
    } else if (a == "--confirmar") {
      o.yes = true;
    } else if (a == "--importar-paradox") {
      auto v = value("--importar-paradox");
      if (!v) return std::nullopt;
      o.importParadox = *v;
    } else if (a == "--alias-origem") {
      auto v = value("--alias-origem");
      if (!v) return std::nullopt;
      const auto eq = v->find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == v->size()) {
        error = "--alias-origem espera NOME=C:\\PASTA";
        return std::nullopt;
      }
      std::string name = v->substr(0, eq);
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      o.aliasOrigin.emplace_back(name, v->substr(eq + 1));
    } else if (a == "--sim") {
      // Once the undo's confirmation; read as "simulate" beside --simular.
      error =
          "--sim não existe mais: para confirmar o --desfazer sem perguntar, use --confirmar "
          "(para simular, --simular)";
      return std::nullopt;
    } else if (a == "--substituir") {
      o.replaceReport = true;
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
  if (int(o.history) + int(o.reportRun > 0) + int(o.undoRun > 0) > 1) {
    error = "use só uma de --historico, --relatorio e --desfazer";
    return std::nullopt;
  }
  if (o.simulate && !o.simulateCommand && !o.script) {
    error = "--simular precisa de um comando ou de --script ROTEIRO";
    return std::nullopt;
  }
  if (o.simulate && (o.history || o.reportRun || o.undoRun)) {
    error = "--simular não vale com --historico, --relatorio ou --desfazer";
    return std::nullopt;
  }
  if (!o.aliasOrigin.empty() && !o.importParadox) {
    error = "--alias-origem só vale com --importar-paradox";
    return std::nullopt;
  }
  if (o.importParadox &&
      (o.createSample || o.script || o.simulate || o.history || o.reportRun || o.undoRun)) {
    error = "--importar-paradox não vale com outros comandos";
    return std::nullopt;
  }
  if (o.yes && o.undoRun == 0) {
    error = "--confirmar só vale com --desfazer";
    return std::nullopt;
  }
  if (o.replaceReport && o.reportRun == 0) {
    error = "--substituir só vale com --relatorio";
    return std::nullopt;
  }
  return o;
}

}  // namespace cg
