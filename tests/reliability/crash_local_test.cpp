// The program killed (SIGKILL) in the middle of each local repair, at points
// spread over the whole run: after every kill each table file opens and is
// sound, every record is as it was or as the repair writes it, and finishing
// the repair (two more runs) leaves the tables exactly as two uninterrupted
// runs leave an untouched copy.
//
// The points are write events of the table engine (posts, deletes, commits),
// chosen through CG_FAULT_KILL_AFTER_WRITES. CG_FAULT_POINTS sets how many per
// repair (20 by default; scripts/faults.sh runs a longer sweep).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <set>

#include "child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

struct Repair {
  const char* name;
  const char* script;
  // A repair that posts each field of a record on its own (the technical
  // parameters) leaves, between posts, records with some fields repaired:
  // those are matched by their first `keyFields` fields, field by field.
  int keyFields = 0;
};

const Repair kRepairs[] = {
    {"OrfasAtivas", "invoke BotFormulaOrfan\n"},
    {"OrfasArquivoMorto", "invoke BotFormulaOrfanArqQM\n"},
    {"GrupoSinonimos", "invoke BotAcertaGrupoSinon\n"},
    {"ParametrosTecnicos", "invoke BotAjusta\n", 2},
    {"CustoFixo", "invoke BitBtn6\n"},
    {"CRM", "invoke BotCorrigeCadMed\n"},
    {"AbreviaClientes", "invoke BotAbreviaNomeCli\nanswer yes\nclick BotConfirmaFormatCli\n"},
    {"AbreviaMedicos", "invoke BotAbreviaNomeMed\nanswer yes\nclick BotConfirmaFormatMed\n"},
};

// Test names and failure output show the case by its name.
void PrintTo(const Repair& c, std::ostream* os) { *os << c.name; }

int pointsPerRepair() {
  const char* v = std::getenv("CG_FAULT_POINTS");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 20;
}

// The marker of the killed program stays behind; the technician removes it.
void removeMarker(const fs::path& driveC) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(driveC / "VITRALON", ec))
    if (e.path().filename().string() == "Em_Uso.txt") fs::remove(e.path(), ec);
}

void runToEnd(const fs::path& driveC, const std::string& script) {
  removeMarker(driveC);
  ChildResult r = RunScript(driveC, script);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ASSERT_TRUE(EventLines(r.output, "error").empty()) << r.output;
}

std::string describe(const std::map<std::string, TableImage>& image) {
  std::string out;
  for (const auto& [file, t] : image) out += file + ": " + std::to_string(t.rows.size()) + " registros\n";
  return out;
}

std::vector<std::string> fieldsOf(const std::string& row) {
  std::vector<std::string> out(1);
  for (char c : row) {
    if (c == '|')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// Whether a record left by a killed run is one the repair writes: as it
// was, as repaired, or (field by field repairs) each field as it was or as
// repaired.
bool writtenByRepair(const std::string& row, const std::vector<std::string>& was,
                     const std::vector<std::string>& will, int keyFields) {
  if (std::binary_search(was.begin(), was.end(), row) || std::binary_search(will.begin(), will.end(), row))
    return true;
  if (keyFields == 0) return false;
  const auto fields = fieldsOf(row);
  auto sameKey = [&](const std::string& other) {
    const auto f = fieldsOf(other);
    return f.size() == fields.size() && std::equal(f.begin(), f.begin() + keyFields, fields.begin());
  };
  auto a = std::find_if(was.begin(), was.end(), sameKey);
  auto b = std::find_if(will.begin(), will.end(), sameKey);
  if (a == was.end() || b == will.end()) return false;
  const auto before = fieldsOf(*a), after = fieldsOf(*b);
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i] != before[i] && fields[i] != after[i]) return false;
  return true;
}

class QuedaLocal : public ::testing::TestWithParam<Repair> {};

TEST_P(QuedaLocal, KilledAnywhereLeavesSoundTablesAndFinishesAsIfUninterrupted) {
  const Repair& repair = GetParam();
  testsupport::TempDir work;
  const fs::path pristine = work.path() / "original";
  fs::create_directories(pristine);
  CreateSample(pristine);
  const auto before = ImageOfTables(pristine);

  // Two uninterrupted runs on an untouched copy; the first one counts the
  // write events the kills are spread over.
  const fs::path reference = work.path() / "referencia";
  CopyTree(pristine, reference);
  const fs::path countFile = work.path() / "escritas.txt";
  ChildResult first = RunScript(reference, repair.script, {{"CG_FAULT_COUNT_FILE", countFile.string()}});
  ASSERT_EQ(first.exitCode, 0) << first.output;
  ASSERT_TRUE(EventLines(first.output, "error").empty()) << first.output;
  const auto afterOne = ImageOfTables(reference);
  runToEnd(reference, repair.script);
  const auto afterTwo = ImageOfTables(reference);
  const long writes = std::atol(ReadFile(countFile).c_str());
  ASSERT_GT(writes, 0) << "the repair wrote nothing on the sample";

  std::set<long> points;
  const int wanted = pointsPerRepair();
  for (int i = 0; i < wanted; ++i) points.insert(1 + (writes - 1) * i / std::max(1, wanted - 1));
  RecordProperty("pontos", static_cast<int>(points.size()));
  RecordProperty("escritas", static_cast<int>(writes));
  std::cout << repair.name << ": " << points.size() << " kill points over " << writes << " write events\n";

  for (long point : points) {
    SCOPED_TRACE(std::string(repair.name) + ", morto após a escrita " + std::to_string(point) + " de " +
                 std::to_string(writes));
    const fs::path drive = work.path() / ("queda-" + std::to_string(point));
    CopyTree(pristine, drive);
    ChildResult killed =
        RunScript(drive, repair.script, {{"CG_FAULT_KILL_AFTER_WRITES", std::to_string(point)}});
    ASSERT_TRUE(killed.killed) << "the program was not killed at write event " << point << ":\n"
                               << killed.output;

    const auto left = ImageOfTables(drive);
    ASSERT_EQ(left.size(), before.size()) << describe(left);
    for (const auto& [file, table] : left) {
      ASSERT_TRUE(table.opens) << file;
      EXPECT_EQ(table.integrity, "ok") << file;
      // Each record is one the table had or one the repair writes.
      const auto& was = before.at(file).rows;
      const auto& will = afterOne.at(file).rows;
      for (const std::string& row : table.rows)
        EXPECT_TRUE(writtenByRepair(row, was, will, repair.keyFields))
            << file << ": record neither as before nor as repaired: " << row;
    }

    // Every row the killed run changed has its record: undoing it puts
    // every table back as it was.
    UndoEveryRun(drive);
    const auto undone = ImageOfTables(drive);
    for (const auto& [file, table] : before)
      EXPECT_TRUE(undone.at(file).rows == table.rows)
          << file << ": not as before after undoing the killed run";

    runToEnd(drive, repair.script);
    runToEnd(drive, repair.script);
    const auto finished = ImageOfTables(drive);
    for (const auto& [file, table] : afterTwo) {
      ASSERT_TRUE(finished.count(file)) << file;
      EXPECT_EQ(finished.at(file).integrity, "ok") << file;
      EXPECT_TRUE(finished.at(file).rows == table.rows)
          << file << ": " << finished.at(file).rows.size() << " records after the interrupted run, "
          << table.rows.size() << " after two uninterrupted runs";
    }
    std::error_code ec;
    fs::remove_all(drive, ec);
    if (::testing::Test::HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Reparos, QuedaLocal, ::testing::ValuesIn(kRepairs),
                         [](const ::testing::TestParamInfo<Repair>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace reliability
