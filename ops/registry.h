// The repairs by the name of the handler that runs them (the component
// table's handler column, ui/window.h): the form wires each command to the
// repair registered under its handler's name.
#pragma once

#include <string_view>

namespace cg {

class RepairContext;
class Table;

using Repair = void (*)(RepairContext&);
using TableEvent = void (*)(RepairContext&, Table&);

// The repair registered under a handler's name, or nullptr.
Repair FindRepair(std::string_view handler);
// The after-scroll event of a table object of the reviews, or nullptr.
TableEvent FindTableEvent(std::string_view handler);

}  // namespace cg
