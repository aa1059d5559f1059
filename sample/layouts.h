// The layouts of the suite's local tables, as the installation creates them:
// fields with their types and widths, primary keys and secondary indexes.
// The system itself never creates a table; these layouts serve the sample
// installation and the tests, which build real table files from them.
#pragma once

#include <string>
#include <vector>

#include "data/engine/engine.h"

namespace cg {

// C:\VITRALON\Config.DB: one row with the background colour `CorFundo` and
// the suite's main directory `DiretorioPrincipal`. Primary key `Codigo`.
TableDef ConfigTableDef();

// C:\VITRALON\DADOS\Clientes.DB: the 36 fields of the client register.
// Primary key Estacao;Codigo; secondary index `Nome`.
TableDef ClientesTableDef();
// The interim copy under VTRNINTER: the live layout plus `NomeFone`
// (Nome;Fone).
TableDef ClientesInterimTableDef();

// C:\VITRALON\DADOS\Medicos.DB: the 19 fields of the doctor register.
// Primary key CRM;Especialidade; secondary indexes `Nome` and `CRM`.
TableDef MedicosTableDef();
// The interim copy: the live layout plus `NomeCRM` (Nome;CRM).
TableDef MedicosInterimTableDef();

// Orders: primary key Estacao;NPedido.
TableDef PedidosTableDef();
// Formula rows: primary key Estacao;NPedido;NFormula;Serie.
TableDef PediformTableDef();
// Formula items: primary key Estacao;NPedido;NFormula;Item.
TableDef CompedidTableDef();
// Components: primary key Grupo;Codigo; secondary indexes `CodUnic`
// (Codigo, unique) and `Descricao`.
TableDef ComponenTableDef();
// Synonyms: primary key Sinonimo; secondary index `Codigo`.
TableDef SinonimoTableDef();
// Purchases: primary key NCompra;Item; secondary index `Componente`.
TableDef ComprasTableDef();
// Standard formulas: primary key Codigo; secondary index `Descricao`.
TableDef FormulasTableDef();

// Every local table of an installation: where it lives (directory in
// Windows form), its file name and its layout.
struct LocalTableSpec {
  std::string directory;  // e.g. "C:\\VITRALON\\DADOS"
  std::string fileName;   // e.g. "Clientes.DB"
  TableDef def;
};
std::vector<LocalTableSpec> LocalTables();

}  // namespace cg
