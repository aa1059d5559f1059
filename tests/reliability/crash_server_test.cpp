// The program killed (SIGKILL) in the middle of each repair that writes to
// the server, through the embedded engine and through the test server on
// 127.0.0.1: every server row (and local record) is as it was or as the
// repair writes it, and finishing the repair (two more runs) gives what two
// uninterrupted runs give. After a crash of the book code fill no code is
// handed out twice.
//
// The points are write events (statements and applies committed on the
// server, local posts and commits) chosen through CG_FAULT_KILL_AFTER_WRITES;
// CG_FAULT_SERVER_POINTS sets how many per repair and transport (6 by
// default; scripts/faults.sh runs a longer sweep).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <set>
#include <tuple>

#include "child.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

struct ServerRepair {
  const char* name;
  const char* script;
};

const ServerRepair kServerRepairs[] = {
    {"NomesPedidos", "invoke btn1\n"},
    {"CodLivro", "invoke BitBtn5\n"},
    {"CNPJ", "invoke BitBtn7\n"},
    {"CodigoComponente", "invoke BitBtn2\n"},
    {"NomesComponentes", "invoke BotCorrecaoComp\ncheck RadioButton3\nclick BitBtn3\n"},
    {"Desconto", "invoke BotCorrecaoComp\ncheck RadioButton1\ntype Edit1 7,5\nclick BitBtn3\n"},
};

// Test names and failure output show the case by its name.
void PrintTo(const ServerRepair& c, std::ostream* os) { *os << c.name; }

int pointsPerRepair() {
  const char* v = std::getenv("CG_FAULT_SERVER_POINTS");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 6;
}

struct Image {
  std::map<std::string, std::vector<std::string>> server;
  std::map<std::string, TableImage> local;
};

Image imageOf(const fs::path& driveC) { return Image{ServerImage(driveC), ImageOfTables(driveC)}; }

bool contains(const std::vector<std::string>& sorted, const std::string& row) {
  return std::binary_search(sorted.begin(), sorted.end(), row);
}

// Book codes handed out: none twice.
void expectNoCodeTwice(const fs::path& driveC) {
  const auto codes = ServerQuery(driveC, "select CODLIVRO from PEDIDOS where CODLIVRO is not null");
  const std::set<std::string> distinct(codes.begin(), codes.end());
  EXPECT_EQ(distinct.size(), codes.size()) << "a book code was handed out twice";
}

class QuedaServidor : public ::testing::TestWithParam<std::tuple<ServerRepair, Via>> {};

TEST_P(QuedaServidor, KilledAnywhereLeavesWholeRowsAndFinishesAsIfUninterrupted) {
  const auto& [repair, via] = GetParam();
  // Small groups of statements, so that there is a commit between them to
  // kill the program at.
  testsupport::ScopedEnv groups("CG_SQL_GROUP_STATEMENTS", "3");
  if (via == Via::Server) {
    std::string why;
    ASSERT_TRUE(EnsureTestServer(why)) << why;
  }
  testsupport::TempDir work;
  const fs::path pristine = work.path() / "original";
  fs::create_directories(pristine);
  CreateSample(pristine);
  UseTransport(pristine, via);
  const Image before = imageOf(pristine);

  const bool isBookCodes = std::string(repair.name) == "CodLivro";
  const fs::path reference = work.path() / "referencia";
  CopyTree(pristine, reference);
  const fs::path countFile = work.path() / "escritas.txt";
  ChildResult first = RunScript(reference, repair.script, {{"CG_FAULT_COUNT_FILE", countFile.string()}});
  ASSERT_EQ(first.exitCode, 0) << first.output;
  const Image afterOne = imageOf(reference);
  RemoveMarker(reference);
  ASSERT_EQ(RunScript(reference, repair.script).exitCode, 0);
  const Image afterTwo = imageOf(reference);
  const long writes = std::atol(ReadFile(countFile).c_str());
  ASSERT_GT(writes, 0) << "the repair wrote nothing on the sample";

  std::set<long> points;
  const int wanted = pointsPerRepair();
  for (int i = 0; i < wanted; ++i) points.insert(1 + (writes - 1) * i / std::max(1, wanted - 1));
  std::cout << repair.name << (via == Via::Server ? " (servidor)" : " (embarcado)") << ": " << points.size()
            << " kill points over " << writes << " write events\n";

  for (long point : points) {
    SCOPED_TRACE(std::string(repair.name) + ", morto após a escrita " + std::to_string(point) + " de " +
                 std::to_string(writes));
    const fs::path drive = work.path() / ("queda-" + std::to_string(point));
    CopyTree(pristine, drive);
    // The killed program's lock files stay behind in a folder of its own,
    // away from the other tests' engines.
    ChildResult killed = RunScript(drive, repair.script,
                                   {{"CG_FAULT_KILL_AFTER_WRITES", std::to_string(point)},
                                    {"FIREBIRD_LOCK", (drive / "fblock").string()}});
    ASSERT_TRUE(killed.killed) << "not killed at write event " << point << ":\n" << killed.output;

    const Image left = imageOf(drive);
    for (const auto& [table, rows] : left.server) {
      // The book code fill stores the last code handed out in CONFIG after
      // every order, so a killed run leaves it at any code in between.
      if (isBookCodes && table == "CONFIG") {
        ExpectBookCodeConfig(rows, before.server.at(table), afterOne.server.at(table), drive);
        continue;
      }
      for (const std::string& row : rows)
        EXPECT_TRUE(contains(before.server.at(table), row) || contains(afterOne.server.at(table), row))
            << table << ": row neither as before nor as repaired: " << row;
    }
    for (const auto& [file, table] : left.local) {
      ASSERT_TRUE(table.opens) << file;
      EXPECT_EQ(table.integrity, "ok") << file;
      for (const std::string& row : table.rows)
        EXPECT_TRUE(contains(before.local.at(file).rows, row) || contains(afterOne.local.at(file).rows, row))
            << file << ": record neither as before nor as repaired: " << row;
    }
    if (isBookCodes) expectNoCodeTwice(drive);

    // Every row the killed run changed has its record: undoing it puts
    // every server row and table back as it was.
    UndoEveryRun(drive);
    const Image undone = imageOf(drive);
    for (const auto& [table, rows] : before.server)
      EXPECT_TRUE(undone.server.at(table) == rows) << table << ": not as before after undoing the killed run";
    for (const auto& [file, table] : before.local)
      EXPECT_TRUE(undone.local.at(file).rows == table.rows)
          << file << ": not as before after undoing the killed run";

    for (int run = 0; run < 2; ++run) {
      RemoveMarker(drive);
      ChildResult r = RunScript(drive, repair.script);
      ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    const Image finished = imageOf(drive);
    for (const auto& [table, rows] : afterTwo.server)
      EXPECT_TRUE(finished.server.at(table) == rows) << table << " differs from two uninterrupted runs";
    for (const auto& [file, table] : afterTwo.local)
      EXPECT_TRUE(finished.local.at(file).rows == table.rows)
          << file << " differs from two uninterrupted runs";
    if (isBookCodes) expectNoCodeTwice(drive);
    std::error_code ec;
    fs::remove_all(drive, ec);
    if (::testing::Test::HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Reparos, QuedaServidor,
                         ::testing::Combine(::testing::ValuesIn(kServerRepairs),
                                            ::testing::Values(Via::Embedded, Via::Server)),
                         [](const ::testing::TestParamInfo<std::tuple<ServerRepair, Via>>& param) {
                           return std::string(std::get<0>(param.param).name) +
                                  (std::get<1>(param.param) == Via::Server ? "_Servidor" : "_Embarcado");
                         });

}  // namespace
}  // namespace reliability
