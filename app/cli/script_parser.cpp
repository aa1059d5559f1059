#include "app/cli/script_parser.h"

#include <cerrno>
#include <cstdlib>

#include "platform/cp1252.h"

namespace cg::script {
namespace {

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Splits off the first word; `rest` gets what follows the single blank after it.
std::string word(const std::string& s, std::string& rest) {
  std::size_t sp = s.find_first_of(" \t");
  if (sp == std::string::npos) {
    rest.clear();
    return s;
  }
  rest = s.substr(sp + 1);
  return s.substr(0, sp);
}

}  // namespace

ParsedAction ParseLine(int lineNo, const std::string& raw, const KindOf& kindOf) {
  ParsedAction a;
  a.lineNo = lineNo;
  a.line = trim(raw);
  std::string rest;
  const std::string verb = word(a.line, rest);
  auto control = [&](ControlKind kind, const char* what) {
    const std::string name = trim(word(trim(rest), rest));
    const std::optional<ControlKind> k = kindOf(name);
    if (!k) throw ParseError{"componente desconhecido: " + name};
    if (*k != kind) throw ParseError{name + " não é " + what};
    return name;
  };
  auto noMore = [&] {
    if (!trim(rest).empty()) throw ParseError{"texto a mais depois da ação: " + trim(rest)};
  };
  if (verb == "click" || verb == "invoke") {
    a.verb = verb == "click" ? Verb::Click : Verb::Invoke;
    a.controlName = control(ControlKind::Button, "um botão");
    noMore();
  } else if (verb == "key") {
    a.verb = Verb::Key;
    a.text = trim(rest);
    if (a.text != "Escape" && a.text != "Enter") throw ParseError{"tecla desconhecida: " + a.text};
  } else if (verb == "check") {
    a.verb = Verb::Check;
    a.controlName = control(ControlKind::RadioButton, "um botão de opção");
    noMore();
  } else if (verb == "type") {
    a.verb = Verb::Type;
    // The text is the rest of the raw line after the name and one blank; it
    // may be empty and may hold blanks of its own.
    std::string afterVerb;
    const std::size_t first = raw.find_first_not_of(" \t");
    word(first == std::string::npos ? std::string() : raw.substr(first), afterVerb);
    std::string text;
    const std::string name = word(afterVerb, text);
    const std::optional<ControlKind> k = kindOf(name);
    if (!k) throw ParseError{"componente desconhecido: " + name};
    if (*k != ControlKind::Edit) throw ParseError{name + " não é uma caixa de texto"};
    a.controlName = name;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    a.text = fromUtf8(text);
  } else if (verb == "focus") {
    a.verb = Verb::Focus;
    const std::string name = trim(rest);
    if (!kindOf(name)) throw ParseError{"componente desconhecido: " + name};
    a.controlName = name;
  } else if (verb == "row") {
    a.verb = Verb::Row;
    a.controlName = control(ControlKind::Grid, "uma grade");
    const std::string n = trim(rest);
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(n.c_str(), &end, 10);
    if (n.empty() || *end || errno || v < 1 || v > 1000000000) throw ParseError{"linha inválida: " + n};
    a.row = static_cast<int>(v);
  } else if (verb == "answer") {
    a.verb = Verb::Answer;
    const std::string v = trim(rest);
    if (v != "yes" && v != "no") throw ParseError{"resposta deve ser yes ou no: " + v};
    a.yes = v == "yes";
  } else if (verb == "simulate") {
    a.verb = Verb::Simulate;
    const std::string v = trim(rest);
    if (v != "on" && v != "off") throw ParseError{"simulate deve ser on ou off: " + v};
    a.yes = v == "on";
  } else if (verb == "wait") {
    a.verb = Verb::Wait;
    const std::string n = trim(rest);
    char* end = nullptr;
    errno = 0;
    double s = std::strtod(n.c_str(), &end);
    if (n.empty() || *end || errno || !(s >= 0) || s > 1e9) throw ParseError{"segundos inválidos: " + n};
    a.waitMs = static_cast<int64_t>(s * 1000 + 0.5);
  } else if (verb == "during") {
    // during N interrupt | during N close
    a.verb = Verb::During;
    const std::string n = word(trim(rest), rest);
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(n.c_str(), &end, 10);
    if (n.empty() || *end || errno || v < 1 || v > 1000000000) throw ParseError{"pausa inválida: " + n};
    a.pause = static_cast<int>(v);
    const std::string what = trim(rest);
    if (what != "interrupt" && what != "close") throw ParseError{"during aceita interrupt ou close: " + what};
    a.close = what == "close";
  } else if (verb == "select") {
    // select N: the run numbered N in the history panel's list.
    a.verb = Verb::Select;
    const std::string n = trim(rest);
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(n.c_str(), &end, 10);
    if (n.empty() || *end || errno || v < 1 || v > 1000000000000000000LL)
      throw ParseError{"execução inválida: " + n};
    a.run = v;
  } else if (verb == "close" || verb == "state" || verb == "history") {
    a.verb = verb == "close" ? Verb::Close : verb == "state" ? Verb::State : Verb::History;
    noMore();
  } else {
    throw ParseError{"ação desconhecida: " + verb};
  }
  return a;
}

bool IsSkipped(const std::string& raw) {
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  line = trim(line);
  return line.empty() || line[0] == '#';
}

}  // namespace cg::script
