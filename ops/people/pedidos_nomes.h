// The selection of the order name abbreviation on the server.
#pragma once

#include <string>

namespace cg {

// The 62 columns of PEDIDOS, as the data module selects them, for the orders
// whose NOME is not null, in the server's order.
std::string SelecaoNomesPedidos();

}  // namespace cg
