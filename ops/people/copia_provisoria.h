// The interim copy of a register (under VTRNINTER) against its live table
// (under VTRNDADOS): the checks made before the copy is emptied and filled,
// and again before it is put in place of the live table.
#pragma once

#include "data/engine/engine.h"

namespace cg {

// What the interim copy is about to be used for.
enum class UsoDaCopia {
  Copia,         // emptied and filled from the live table
  Substituicao,  // put in place of the live table
};

// Raises EDBEngineError, naming both paths, when the two bound tables are
// one file (after aliases, letter case and links).
void VerificaArquivosDistintos(Table& interim, Table& live);

// Raises EDBEngineError, naming each difference, when a field the two
// tables share differs in type or width, or their keys differ; before the
// replacement also when a field of the live table is missing from the copy
// (its values would be lost).
void VerificaLeiauteDaCopia(Table& interim, Table& live, UsoDaCopia uso);

}  // namespace cg
