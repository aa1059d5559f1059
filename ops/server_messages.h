// Messages the repairs on the server share: how a caught error is named to
// the user, and the report of changes the server refused.
#pragma once

#include <exception>
#include <string>

namespace cg {

class UserInterface;

// The stable class name of a caught error ("ESQLError"); "Exception" for an
// error that does not come from the system.
std::string ErrorClassName(const std::exception& e);
// The error's message in CP1252.
std::string ErrorText(const std::exception& e);

// Tells the user that the server refused `count` changes, with the server's
// first message; shows nothing when count is 0. Repairs call it before their
// own closing message, so that a refused change is never passed off as done.
//   1:  "O servidor recusou 1 alteração, que não foi gravada.\rMensagem do servidor: ..."
//   n:  "O servidor recusou n alterações, que não foram gravadas.\rPrimeira mensagem do servidor: ..."
void ReportRefusals(UserInterface& ui, int count, const std::string& firstMessage);
// After a close that applied the changes: the refused ones as above, then,
// when the connection was lost on the way (`lostConnection` not empty), the
// loss itself, raised as EConnectionError: the operation stops there rather
// than tell of changes that never reached the server.
void ReportApplyAtClose(UserInterface& ui, int count, const std::string& firstMessage,
                        const std::string& lostConnection);

}  // namespace cg
