// The platform layer: CP1252 texts, pt-BR date-time and decimal text, the
// drive C mapping, the clock and process start.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/drive.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/regional.h"
#include "platform/test_hooks.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

using namespace cg;
namespace fs = std::filesystem;

TEST(Cp1252, LiteralsAreConvertedAtCompileTime) {
  constexpr std::string_view s = "Ação €"_cp;
  static_assert(s.size() == 6);
  EXPECT_EQ(s, std::string("A\xE7\xE3o \x80"));
  EXPECT_EQ("Médicos"_cp, std::string("M\xE9"
                                      "dicos"));
}

TEST(Cp1252, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(fromUtf8(toUtf8(all)), all);
  EXPECT_EQ(toUtf8("\x80\x93\x94\xE9"), "€“”é");
  EXPECT_EQ(fromUtf8("日本"), "??");
}

TEST(Regional, DateTimeTextLeavesOutAZeroTime) {
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2026, 12, 7, 8, 5, 9})), "07/12/2026 08:05:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 1, 2)), "02/01/2026");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime({2026, 1, 2, 0, 0, 1})), "02/01/2026 00:00:01");
}

TEST(Regional, DateTimeTextRoundTrips) {
  for (const char* text : {"07/12/2026 08:05:09", "07/12/0622 08:05:09", "29/12/1899 06:00:00",
                           "29/02/2024 23:59:59", "01/01/1900", "31/12/9999 12:00:00"})
    EXPECT_EQ(DateTimeToStr(StrToDateTime(text)), text);
  EXPECT_EQ(DateTimeToStr(StrToDateTime(" 7/1/2026 8:05 ")), "07/01/2026 08:05:00");
  EXPECT_EQ(DateTimeToStr(StrToDateTime("07/01/26")), "07/01/2026");
  // TDateTime is days since 30/12/1899.
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 29, 6, 0, 0}), -1.25);
}

TEST(Regional, DateTimeParsingRefusesAnythingElse) {
  const char* errors[] = {"",
                          "abc",
                          "2026-12-07",
                          "12/07",
                          "32/01/2026",
                          "29/02/2025",
                          "01/13/2026",
                          "07/12/2026 25:00:00",
                          "07/12/2026 10:60",
                          "07/12/2026x",
                          "07/12/2026 10:00:00 PM",
                          "\xFF\xFE"};
  for (const char* e : errors) {
    EXPECT_THROW(StrToDateTime(e), EConvertError) << e;
  }
  try {
    StrToDateTime("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.message(), "'abc' não é uma data e hora válida."_cp);
    EXPECT_STREQ(e.className(), "EConvertError");
  }
}

TEST(Regional, DecimalTextUsesAComma) {
  EXPECT_EQ(FloatToStr(1.5), "1,5");
  EXPECT_EQ(FloatToStr(0.8), "0,8");
  EXPECT_EQ(FloatToStr(12), "12");
  EXPECT_EQ(FloatToStr(-0.0001), "-0,0001");
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_DOUBLE_EQ(StrToFloat("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5);
  EXPECT_DOUBLE_EQ(StrToFloat(" -0 "), 0.0);
  EXPECT_DOUBLE_EQ(StrToFloat("1E3"), 1000.0);
  for (const char* e : {"", "abc", "1e400", "1,2,3", "12,5%", "--1", ",", "1e"})
    EXPECT_THROW(StrToFloat(e), EConvertError) << e;
}

TEST(Regional, IntegerText) {
  EXPECT_EQ(StrToInt(" 42 "), 42);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_THROW(StrToInt("4,2"), EConvertError);
  EXPECT_THROW(StrToInt(""), EConvertError);
}

TEST(Clock, MovesForwardWithoutSleeping) {
  Clock::reset();
  TDateTime before = Clock::now();
  Clock::advanceMs(30000);
  TDateTime after = Clock::now();
  EXPECT_NEAR((after - before) * 86400.0, 30.0, 1.0);
  Clock::reset();
}

// Scripts and tests set these variables by name; the program reads them
// once, so that a change of the environment later on does not change a run
// halfway.
TEST(TestHooks, ReadOnceFromTheVariablesScriptsSet) {
  using testsupport::ScopedEnv;
  {
    ScopedEnv kill("CG_FAULT_KILL_AFTER_WRITES", "12"), stop("CG_FAULT_STOP_AFTER_WRITES", "3"),
        server("CG_FAULT_STOP_BEFORE_SERVER_WRITES", "2"), count("CG_FAULT_COUNT_FILE", "/tmp/cg-contagem"),
        groups("CG_SQL_GROUP_STATEMENTS", "7");
    TestHooks::reload();
  }
  const TestHooks& h = TestHooks::get();
  EXPECT_EQ(h.killAfterWrites, 12);
  EXPECT_EQ(h.stopAfterWrites, 3);
  EXPECT_EQ(h.stopBeforeServerWrites, 2);
  EXPECT_EQ(h.countFile, "/tmp/cg-contagem");
  EXPECT_EQ(h.groupStatements, 7);

  // What is not a number above 0 leaves the hook off.
  {
    ScopedEnv kill("CG_FAULT_KILL_AFTER_WRITES", "abc"), stop("CG_FAULT_STOP_AFTER_WRITES", "-1"),
        groups("CG_SQL_GROUP_STATEMENTS", "0");
    TestHooks::reload();
  }
  EXPECT_EQ(h.killAfterWrites, 0);
  EXPECT_EQ(h.stopAfterWrites, 0);
  EXPECT_EQ(h.stopBeforeServerWrites, 0);
  EXPECT_EQ(h.countFile, "");
  EXPECT_EQ(h.groupStatements, 0);
}

class DriveCTest : public ::testing::Test {
 protected:
  void SetUp() override { DriveC::setRoot(dir_.path()); }
  testsupport::TempDir dir_;
};

TEST_F(DriveCTest, ResolvesWithoutRegardToCase) {
  fs::create_directories(dir_.path() / "VITRALON" / "DADOS");
  std::ofstream(dir_.path() / "VITRALON" / "Em_Uso.txt") << "x";
  EXPECT_EQ(DriveC::resolve("C:\\vitralon\\dados"), dir_.path() / "VITRALON" / "DADOS");
  EXPECT_EQ(DriveC::resolve("C:\\VITRALON\\DADOS\\"), dir_.path() / "VITRALON" / "DADOS");
  EXPECT_EQ(DriveC::resolve("c:\\vitralon\\Em_Uso.Txt"), dir_.path() / "VITRALON" / "Em_Uso.txt");
  EXPECT_EQ(DriveC::resolve("C:/VITRALON/Em_Uso.txt"), dir_.path() / "VITRALON" / "Em_Uso.txt");
}

TEST_F(DriveCTest, MissingComponentsKeepTheirSpelling) {
  fs::create_directories(dir_.path() / "VITRALON");
  EXPECT_EQ(DriveC::resolve("C:\\vitralon\\Novo\\Arq.TXT"), dir_.path() / "VITRALON" / "Novo" / "Arq.TXT");
  fs::path made = DriveC::resolveDir("C:\\vitralon\\Inter");
  EXPECT_TRUE(fs::is_directory(dir_.path() / "VITRALON" / "Inter"));
  EXPECT_EQ(made, dir_.path() / "VITRALON" / "Inter");
}

TEST_F(DriveCTest, AccentedNamesMapToUtf8HostNames) {
  EXPECT_EQ(DriveC::resolve("C:\\Médicos"_cp.data()), dir_.path() / "Médicos");
}

TEST_F(DriveCTest, OtherDrivesAndRelativePathsAreErrors) {
  EXPECT_THROW(DriveC::resolve("D:\\VITRALON"), EPathError);
  EXPECT_THROW(DriveC::resolve("VITRALON\\DADOS"), EPathError);
  EXPECT_THROW(DriveC::resolve(""), EPathError);
  try {
    DriveC::resolve("D:\\x");
  } catch (const EPathError& e) {
    EXPECT_NE(e.message().find("D:\\x"), std::string::npos);
  }
}

TEST(Process, SplitsCommandLines) {
  auto parts = SplitCommandLine("C:\\VITRALON\\FormatCli.bat ");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0], "C:\\VITRALON\\FormatCli.bat");
  parts = SplitCommandLine("\"C:\\Program Files\\x.exe\" a  b");
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0], "C:\\Program Files\\x.exe");
}

TEST_F(DriveCTest, StartsABatFileUnderShellWithoutWaiting) {
  fs::create_directories(dir_.path() / "VITRALON");
  fs::path out = dir_.path() / "done.txt";
  {
    std::ofstream bat(dir_.path() / "VITRALON" / "FormatCli.bat");
    bat << "sleep 1\necho ran > '" << out.string() << "'\n";
  }
  auto argv = HostArgv("C:\\vitralon\\formatcli.bat ");
  ASSERT_EQ(argv.size(), 2u);
  EXPECT_EQ(argv[0], "/bin/sh");
  EXPECT_EQ(argv[1], (dir_.path() / "VITRALON" / "FormatCli.bat").string());

  auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(StartProcess("C:\\vitralon\\formatcli.bat "));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(800));  // did not wait
  for (int i = 0; i < 100 && !fs::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(fs::exists(out));
  EXPECT_FALSE(StartProcess("C:\\VITRALON\\Missing.bat"));
}

// Waited for within a bound: how the command ended, a program that cannot
// run (not executable), and one that outlives the bound, stopped with what
// it started.
TEST_F(DriveCTest, RunsACommandWithinABoundAndTellsHowItEnded) {
  const fs::path folder = dir_.path() / "VITRAL ON";
  fs::create_directories(folder);
  std::ofstream(folder / "Sai.bat") << "exit 3\n";
  std::ofstream(folder / "Demora.bat") << "sleep 30 &\necho $! > \"$(dirname \"$0\")/filho\"\nsleep 30\n";
  std::ofstream(folder / "texto.txt") << "nada\n";
  using End = ProcessOutcome::End;
  const auto bound = std::chrono::seconds(5);

  ProcessOutcome o = RunProcess("\"C:\\VITRAL ON\\Sai.bat\" ", bound);
  EXPECT_EQ(o.end, End::Exited);
  EXPECT_EQ(o.code, 3);
  EXPECT_FALSE(o.succeeded());
  EXPECT_EQ(RunProcess("C:\\VITRAL ON\\Sai.bat ", bound).end, End::NotStarted);  // "C:\VITRAL" alone
  EXPECT_EQ(RunProcess("\"C:\\VITRAL ON\\texto.txt\"", bound).end, End::NotStarted);

  // The start of its standard error comes back, not its standard output;
  // a process that writes more than the pipe holds is not held up, and
  // what it started, keeping the pipe open, does not hold up the wait.
  std::ofstream(folder / "Erro.bat") << "echo saida\necho 'sqlite3: not found' >&2\necho fim >&2\nexit 1\n";
  std::ofstream(folder / "Muito.bat")
      << "echo inicio >&2\nhead -c 300000 /dev/zero | tr '\\0' x >&2\nexit 4\n";
  std::ofstream(folder / "Filho.bat") << "sleep 3 &\necho 'deixou um filho' >&2\nexit 2\n";
  o = RunProcess("\"C:\\VITRAL ON\\Erro.bat\"", bound);
  EXPECT_EQ(o.end, End::Exited);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.errorOutput, "sqlite3: not found\nfim\n");
  o = RunProcess("\"C:\\VITRAL ON\\Muito.bat\"", bound);
  EXPECT_EQ(o.end, End::Exited);
  EXPECT_EQ(o.code, 4);
  EXPECT_EQ(o.errorOutput, "inicio\n" + std::string(kErrorOutputLimit - 7, 'x'));
  auto t1 = std::chrono::steady_clock::now();
  o = RunProcess("\"C:\\VITRAL ON\\Filho.bat\"", bound);
  EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::seconds(2));
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.errorOutput, "deixou um filho\n");
  EXPECT_EQ(RunProcess("\"C:\\VITRAL ON\\Erro.bat\"", std::chrono::milliseconds(0)).errorOutput, "");

  const auto t0 = std::chrono::steady_clock::now();
  o = RunProcess("\"C:\\VITRAL ON\\Demora.bat\"", std::chrono::milliseconds(500));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(o.end, End::TimedOut);
  std::ifstream in(folder / "filho");
  pid_t child = 0;
  ASSERT_TRUE(in >> child);
  for (int i = 0; i < 100 && kill(child, 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(kill(child, 0), 0) << "what the command started still runs";
}
