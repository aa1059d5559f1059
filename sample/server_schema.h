// The tables of the suite's server database as this system knows them: the
// columns its statements read, with the types and sizes of the declared
// field objects. Used to build the sample database and by the tests.
#pragma once

#include <string>
#include <vector>

namespace cg {

// CREATE TABLE statements, without keys, unique constraints or indexes (so a
// bulk load runs before them).
std::vector<std::string> ServerTablesDDL();
// The primary keys, unique constraints and indexes of those tables.
std::vector<std::string> ServerConstraintsDDL();

}  // namespace cg
