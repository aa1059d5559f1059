// The import's options: --importar-paradox ORIGEM with any number of
// --alias-origem NOME=C:\PASTA (the alias's name without regard to case),
// and the combinations refused as bad options.
#include "app/cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::optional<cg::Options> Parse(std::vector<std::string> args, std::string& error) {
  args.insert(args.begin(), "consistgeral");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return cg::ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(ParadoxOptions, ImportWithAliasFoldersAndTheCombinationsRefused) {
  std::string error;
  const auto o = Parse({"--drive-c", "/destino", "--importar-paradox", "/mnt/c", "--alias-origem",
                        "vtrnarqm=C:\\ARQUIVO", "--alias-origem", "VTRNINTER=C:\\INTER", "--force"},
                       error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(*o->importParadox, "/mnt/c");
  ASSERT_EQ(o->aliasOrigin.size(), 2u);
  EXPECT_EQ(o->aliasOrigin[0], (std::pair<std::string, std::string>{"VTRNARQM", "C:\\ARQUIVO"}));
  EXPECT_EQ(o->aliasOrigin[1], (std::pair<std::string, std::string>{"VTRNINTER", "C:\\INTER"}));
  EXPECT_TRUE(o->force);

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--alias-origem", "VTRNARQM=C:\\X"}, "--alias-origem só vale com --importar-paradox"},
      {{"--importar-paradox", "/mnt/c", "--alias-origem", "VTRNARQM"},
       "--alias-origem espera NOME=C:\\PASTA"},
      {{"--importar-paradox", "/mnt/c", "--alias-origem", "=C:\\X"}, "--alias-origem espera NOME=C:\\PASTA"},
      {{"--importar-paradox", "/mnt/c", "--create-sample"},
       "--importar-paradox não vale com outros comandos"},
      {{"--importar-paradox", "/mnt/c", "--script", "x"}, "--importar-paradox não vale com outros comandos"},
      {{"--importar-paradox"}, "a opção --importar-paradox precisa de um valor"},
  };
  for (const auto& [args, message] : refused) {
    std::string why;
    EXPECT_FALSE(Parse(args, why)) << args.front();
    EXPECT_EQ(why, message);
  }
}

}  // namespace
