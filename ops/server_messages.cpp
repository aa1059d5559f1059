#include "ops/server_messages.h"

#include "data/sql/sql.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/user_interface.h"

namespace cg {

std::string ErrorClassName(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->className();
  return "Exception";
}

std::string ErrorText(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->message();
  return fromUtf8(e.what());
}

void ReportRefusals(UserInterface& ui, int count, const std::string& firstMessage) {
  if (count <= 0) return;
  std::string text;
  if (count == 1) {
    text = cp("O servidor recusou 1 alteração, que não foi gravada."_cp) + "\r" +
           cp("Mensagem do servidor: "_cp) + firstMessage;
  } else {
    text = cp("O servidor recusou "_cp) + std::to_string(count) +
           cp(" alterações, que não foram gravadas."_cp) + "\r" + cp("Primeira mensagem do servidor: "_cp) +
           firstMessage;
  }
  ui.showMessage(text);
}

void ReportApplyAtClose(UserInterface& ui, int count, const std::string& firstMessage,
                        const std::string& lostConnection) {
  ReportRefusals(ui, count, firstMessage);
  if (!lostConnection.empty()) throw EConnectionError(lostConnection);
}

}  // namespace cg
