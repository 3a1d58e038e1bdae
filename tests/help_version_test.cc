// "zarvelt --help" (-h, /?) and "zarvelt --version" as the built program answers them, and the
// command lines near them that must still be parameter errors or runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::seen_exit_status;

class HelpVersionTest : public ::testing::Test {
 protected:
  ProgramRun run(const std::vector<std::string>& arguments) {
    return testing::run_zarvelt(arguments, installation_.working_dir());
  }
  // Neither answer nor a parameter error may create a file or log a line.
  void expect_nothing_touched() {
    EXPECT_TRUE(fs::is_empty(installation_.working_dir()));
    EXPECT_FALSE(fs::exists(installation_.log_path()));
  }

  testing::TempInstallation installation_;
};

TEST_F(HelpVersionTest, HelpPrintsTheUsageAndEndsWithZero) {
  const ProgramRun help = run({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.console.rfind(
                "usage: zarvelt <terminal> <source file> <target file 1> <target file 2> [/D]\n"
                "       zarvelt --check <terminal>",
                0),
            0u)
      << help.console;
  EXPECT_NE(help.console.find("../../Files/velmarion.ini"), std::string::npos);
  EXPECT_NE(help.console.find("Exit status: 0"), std::string::npos);
  for (const char c : help.console) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
  for (const char* other : {"-h", "/?"}) {
    const ProgramRun result = run({other});
    EXPECT_EQ(result.exit_status, 0) << other;
    EXPECT_EQ(result.console, help.console) << other;
  }
  expect_nothing_touched();
}

TEST_F(HelpVersionTest, VersionPrintsTheProjectVersionAndEndsWithZero) {
  const ProgramRun result = run({"--version"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.console, "zarvelt " ZARVELT_VERSION "\n");
  expect_nothing_touched();
}

TEST_F(HelpVersionTest, OtherShortCommandLinesAreStillParameterErrors) {
  const std::vector<std::vector<std::string>> command_lines = {{},
                                                               {"--HELP"},
                                                               {"-H"},
                                                               {"--Version"},
                                                               {"help"},
                                                               {"--help", "--version"},
                                                               {"--version", "T1"},
                                                               {"--help", "a", "b"}};
  for (const std::vector<std::string>& arguments : command_lines) {
    const ProgramRun result = run(arguments);
    const std::string shown = arguments.empty() ? "(none)" : arguments[0];
    EXPECT_EQ(result.exit_status, seen_exit_status(-1)) << shown << " of " << arguments.size();
    EXPECT_EQ(result.console, "Parameterfehler") << shown << " of " << arguments.size();
  }
  expect_nothing_touched();
}

TEST_F(HelpVersionTest, HelpAsTerminalNameOfAFullCommandLineStartsARun) {
  // The missing source file shows that the run went on as any other.
  const ProgramRun result = run({"--help", "missing.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(result.exit_status, 94);
  EXPECT_EQ(result.console, "");
  EXPECT_TRUE(fs::exists(installation_.working_dir() / "target1.txt"));
}

}  // namespace
}  // namespace zarvelt
