#include "app/cli/demo.h"

#include <unistd.h>

#include <cstdlib>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>

#include "app/cli/runner.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/errors.h"

namespace cg {
namespace {

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

// Drive C is the demonstration's folder while it runs.
struct DriveCSwap {
  std::filesystem::path saved;
  explicit DriveCSwap(const std::filesystem::path& root) : saved(DriveC::root()) { DriveC::setRoot(root); }
  ~DriveCSwap() { DriveC::setRoot(saved); }
};

}  // namespace

int RunDemonstration(std::ostream& out, std::ostream& err, const std::function<void()>& createSample,
                     const std::function<bool(const std::filesystem::path&)>& picture) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "consistgeral-demo-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    err << "consistgeral: não foi possível criar a pasta temporária da demonstração\n";
    return 1;
  }
  const fs::path folder = pattern;
  const fs::path root = folder / "drive_c";
  fs::create_directories(root, ec);
  DriveCSwap swap(root);

  out << "Demonstração sem janela numa instalação de exemplo criada para ela em\n  " << root.string()
      << "\n(nenhuma outra unidade C é tocada)\n\n";
  try {
    createSample();
  } catch (const Exception& e) {
    err << "consistgeral: " << toUtf8(e.message()) << "\n";
    return 1;
  }
  const fs::path png = folder / "consistgeral-janela.png";
  if (!picture)
    out << "1. Sem imagem da janela.\n";
  else if (picture(png))
    out << "1. Imagem da janela gravada em " << png.string() << "\n";
  else
    out << "1. Não foi possível gravar a imagem da janela em " << png.string() << "\n";

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
    for (std::string line; std::getline(lines, line);) out << "     " << readable(line) << "\n";
    shown = all.size();
  };
  out << "2. Início sem janela: o marcador é verificado e a cor de fundo lida de Config\n";
  const int code = RunScript(in, transcript, errors, [&](const std::string& action) {
    flush();
    if (action.empty()) return;
    out << next + 3 << ". " << steps[next].what << "\n   > " << action << "\n";
    ++next;
  });
  flush();
  if (code != 0) err << errors.str();
  out << "\nA instalação de exemplo e a imagem ficam em " << folder.string() << "\n";
  return code == 0 ? 0 : 1;
}

}  // namespace cg
