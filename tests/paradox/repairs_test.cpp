// Every repair that works on the local tables, run by the program on an
// installation brought over from Paradox files, does exactly what it does on
// the installation those files were exported from: the same messages and the
// same tables afterwards. The server database comes over as the README says
// (a restored backup); here it is copied.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "paradox/paradox_writer.h"
#include "paradox/rows.h"
#include "reliability/child.h"
#include "sample/layouts.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using reliability::ChildResult;
using reliability::RunProgram;

fs::path Relative(const std::string& win) {
  std::string s = win.substr(3);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

// Every table file under VITRALON (the journal's folder left out), each
// table by its rows (paradox/rows.h).
std::map<std::string, std::vector<std::string>> Tables(const fs::path& driveC) {
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& e : fs::recursive_directory_iterator(driveC / "VITRALON")) {
    const std::string rel = fs::relative(e.path(), driveC / "VITRALON").string();
    if (!e.is_regular_file() || e.path().extension() != ".DB" || rel.rfind("CONSISTGERAL", 0) == 0) continue;
    out[rel] = paradoxtest::Rows(e.path(), e.path().stem().string());
    EXPECT_TRUE(out[rel].empty() || out[rel][0][0] != '(') << rel << ": " << out[rel][0];
  }
  return out;
}

class ImportedRepairs : public ::testing::TestWithParam<reliability::RepairScript> {};

TEST_P(ImportedRepairs, RunAsOnTheSample) {
  testsupport::TempDir sample, origin, imported, work;
  reliability::CreateSample(sample.path());
  paradoxtest::ParadoxWriter writer(850);
  for (const auto& t : cg::LocalTables()) {
    const fs::path dir = origin.path() / Relative(t.directory);
    fs::create_directories(dir);
    writer.Export(sample.path() / Relative(t.directory) / t.fileName, dir,
                  fs::path(t.fileName).stem().string());
  }
  const ChildResult import = RunProgram(imported.path(), {"--importar-paradox", origin.path().string()});
  ASSERT_EQ(import.exitCode, 0) << import.output;
  EXPECT_NE(import.output.find("Importadas 15 tabelas"), std::string::npos) << import.output;
  fs::copy_file(sample.path() / "VITRALON/DADOS/vitralon.bd", imported.path() / "VITRALON/DADOS/vitralon.bd");
  ASSERT_EQ(Tables(sample.path()), Tables(imported.path()));

  const fs::path script = work.path() / "roteiro.txt";
  std::ofstream(script) << GetParam().script;
  const ChildResult onSample = RunProgram(sample.path(), {"--script", script.string()});
  const ChildResult onImported = RunProgram(imported.path(), {"--script", script.string()});
  ASSERT_EQ(onSample.exitCode, 0) << onSample.output;
  ASSERT_EQ(onImported.exitCode, 0) << onImported.output;
  EXPECT_TRUE(reliability::EventLines(onImported.output, "error").empty()) << onImported.output;
  EXPECT_EQ(reliability::EventLines(onSample.output, "message"),
            reliability::EventLines(onImported.output, "message"));
  EXPECT_EQ(Tables(sample.path()), Tables(imported.path()));
}

std::vector<reliability::RepairScript> LocalRepairs() {
  std::vector<reliability::RepairScript> out;
  for (const auto& r : reliability::kEveryRepair)
    if (!r.server) out.push_back(r);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Paradox, ImportedRepairs, ::testing::ValuesIn(LocalRepairs()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
