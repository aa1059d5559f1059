// While the window waits for the user, tables it left open (the review grids)
// must not keep the suite's other programs from writing to them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>

#include "app/cli/runner.h"
#include "ops_local/installation.h"

namespace opslocal {
namespace {

// Writes one client's phone through a separate SQLite connection, as another
// program of the suite would; returns SQLite's result code.
int WriteFromAnotherProgram(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 0);  // no waiting: the lock must already be free
    rc = sqlite3_exec(db, "UPDATE Clientes SET Fone = '9999' WHERE Codigo = 1", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  return rc;
}

TEST(IdleWindow, AnOpenReviewLeavesTheLiveTableWritableByOtherPrograms) {
  Installation inst;
  inst.createAll();
  inst.insert(kDados, "Clientes.DB",
              {{{"Estacao", "A"}, {"Codigo", "1"}, {"Nome", "MARIA DA SILVA"}, {"Fone", "1"}},
               {{"Estacao", "A"}, {"Codigo", "2"}, {"Nome", "JOSE DE SOUZA"}, {"Fone", "2"}}});

  std::istringstream script("invoke BotAbreviaNomeCli\nrow GradeCliNovos 2\nstate\nkey Escape\n");
  std::ostringstream transcript, errors;
  std::vector<int> results;
  const int rc = cg::RunScript(script, transcript, errors, [&](const std::string& action) {
    // Between actions the review is open, with Clientes and Clientes_I open.
    if (action == "state")
      results.push_back(WriteFromAnotherProgram(inst.host("C:\\VITRALON\\DADOS\\Clientes.DB")));
  });
  ASSERT_EQ(rc, 0) << errors.str();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], SQLITE_OK) << sqlite3_errstr(results[0]);
  EXPECT_NE(transcript.str().find("\"PainelFormatCliNovo\":true"), std::string::npos) << transcript.str();
  EXPECT_EQ(inst.dump(kDados, "Clientes.DB", {"Codigo", "Fone"}),
            (std::vector<std::string>{"1|9999", "2|2"}));
}

}  // namespace
}  // namespace opslocal
