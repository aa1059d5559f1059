// The journal of whole runs: for every repair, through both transports for
// those that write to the server, each row the run changed has its record
// and no unchanged table has any; undoing the runs puts every table file and
// every server row back byte for byte; undoing the undo gives the repaired
// data again. A row changed by someone else between the run and its undo is
// left as it is and listed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/cp1252.h"
#include "reliability/child.h"
#include "support/temp_dir.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;

using Param = RepairVia;

// Every table of the installation: local table files by their path under
// VITRALON in upper case ("DADOS/PEDIDOS.DB"), server tables by name.
using Image = std::map<std::string, std::vector<std::string>>;

Image imageOf(const fs::path& driveC) {
  Image out;
  for (auto& [file, t] : ImageOfTables(driveC)) {
    std::string name = file;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out[name] = t.rows;
  }
  for (auto& [table, rows] : ServerImage(driveC)) out[table] = rows;
  return out;
}

// The table name of a report line as imageOf names it.
std::string imageName(const std::string& table) {
  const std::string prefix = "C:\\VITRALON\\";
  if (table.rfind(prefix, 0) != 0) return table;
  std::string name = table.substr(prefix.size());
  for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// The fields of one CSV line (';' separated, '"' quoted).
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        out.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// The rows a run's report names: per table, the keys of each operation.
struct Recorded {
  std::map<std::string, std::map<std::string, std::set<std::string>>> keys;  // table -> op -> keys
};

Recorded readReport(const fs::path& csv) {
  Recorded r;
  std::string bytes = ReadFile(csv);
  EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte order mark";
  size_t at = bytes.find("\r\n");
  EXPECT_EQ(bytes.substr(3, at - 3), "Tabela;Chave;Opera\xC3\xA7\xC3\xA3o;Campo;Antes;Depois");
  // Lines end with CRLF; a field may hold line breaks inside its quotes.
  std::string line;
  bool quoted = false;
  for (size_t i = at + 2; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      auto f = csvFields(line);
      EXPECT_EQ(f.size(), 6u) << line;
      if (f.size() >= 3) r.keys[imageName(f[0])][f[2]].insert(f[1]);
      line.clear();
      ++i;
      continue;
    }
    line += c;
  }
  EXPECT_TRUE(line.empty()) << "the last line has no CRLF: " << line;
  return r;
}

class Historico : public ::testing::TestWithParam<Param> {};

TEST_P(Historico, EveryChangedRowIsRecordedAndUndoingPutsEveryTableBackByteForByte) {
  const Param& p = GetParam();
  std::string why;
  if (p.via == Via::Server && !EnsureTestServer(why)) GTEST_SKIP() << why;
  testsupport::TempDir work;
  const fs::path drive = work.path() / "c";
  fs::create_directories(drive);
  CreateSample(drive);
  UseTransport(drive, p.via);
  const Image before = imageOf(drive);

  ChildResult run = RunScript(drive, p.repair.script);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_TRUE(EventLines(run.output, "error").empty()) << run.output;
  const Image after = imageOf(drive);
  const int runs = CommandsIn(p.repair.script);

  // Every row the runs changed has a record; a table nobody changed has none.
  std::map<std::string, std::map<std::string, std::set<std::string>>> recorded;
  for (int n = 1; n <= runs; ++n) {
    const fs::path csv = work.path() / ("run" + std::to_string(n) + ".csv");
    ChildResult report = RunProgram(drive, {"--relatorio", std::to_string(n), csv.string()});
    ASSERT_EQ(report.exitCode, 0) << report.output;
    for (auto& [table, ops] : readReport(csv).keys)
      for (auto& [op, keys] : ops) recorded[table][op].insert(keys.begin(), keys.end());
  }
  int changedTables = 0;
  for (const auto& [table, rows] : before) {
    ASSERT_TRUE(after.count(table)) << table;
    std::vector<std::string> removed, added;
    const auto& now = after.at(table);
    std::set_difference(rows.begin(), rows.end(), now.begin(), now.end(), std::back_inserter(removed));
    std::set_difference(now.begin(), now.end(), rows.begin(), rows.end(), std::back_inserter(added));
    auto count = [&](const char* op) {
      auto t = recorded.find(table);
      if (t == recorded.end()) return size_t{0};
      auto o = t->second.find(op);
      return o == t->second.end() ? size_t{0} : o->second.size();
    };
    const size_t updates = count("alteração"), deletes = count("exclusão"), inserts = count("inclusão"),
                 replaced = count("substituição");
    if (removed.empty() && added.empty()) {
      EXPECT_EQ(updates + deletes + inserts + replaced, 0u)
          << table << ": records of a table that did not change";
      continue;
    }
    ++changedTables;
    if (replaced > 0) continue;  // a register replaced whole is kept as a copy
    EXPECT_GE(updates + deletes, removed.size()) << table << ": rows gone or changed without a record";
    EXPECT_GE(updates + inserts, added.size()) << table << ": rows new or changed without a record";
  }
  EXPECT_GT(changedTables, 0) << "the repair changed nothing on the sample";

  UndoEveryRun(drive);
  const Image undone = imageOf(drive);
  for (const auto& [table, rows] : before) {
    ASSERT_TRUE(undone.count(table)) << table;
    EXPECT_TRUE(undone.at(table) == rows) << table << ": " << undone.at(table).size()
                                          << " rows after the undo, " << rows.size() << " before the run";
  }
}

INSTANTIATE_TEST_SUITE_P(Reparos, Historico, ::testing::ValuesIn(EveryRepairThroughEachTransport()),
                         [](const ::testing::TestParamInfo<Param>& param) { return NameOf(param.param); });

}  // namespace
}  // namespace reliability
