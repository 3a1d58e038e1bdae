// End-to-end runs of the built zarvelt program as its caller starts it: four or five words,
// a working directory two levels below the installation root, real files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::read_file;
using testing::seen_exit_status;
using testing::write_file;

class RunProgramTest : public ::testing::Test {
 protected:
  ProgramRun run(const std::vector<std::string>& arguments) {
    return testing::run_zarvelt(arguments, installation.working_dir());
  }
  fs::path in_working_dir(const std::string& name) { return installation.working_dir() / name; }
  bool working_dir_is_empty() { return fs::is_empty(installation.working_dir()); }

  testing::TempInstallation installation;
};

TEST_F(RunProgramTest, ThreeWordsAreAParameterErrorAndTouchNoFile) {
  ProgramRun result = run({"T1", "source.txt", "target1.txt"});
  EXPECT_EQ(result.exit_status, seen_exit_status(-1));
  EXPECT_EQ(result.console, "Parameterfehler");
  EXPECT_TRUE(working_dir_is_empty());
  EXPECT_FALSE(fs::exists(installation.log_path()));
}

TEST_F(RunProgramTest, TerminalNameOf256CharactersIsRefusedInEveryMode) {
  const std::string name(256, 'T');
  for (const std::vector<std::string>& switches :
       std::vector<std::vector<std::string>>{{}, {"/D"}}) {
    std::vector<std::string> arguments = {name, "source.txt", "target1.txt", "target2.txt"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    ProgramRun result = run(arguments);
    EXPECT_EQ(result.exit_status, seen_exit_status(-1));
    EXPECT_EQ(result.console, "Terminalname zu lang");
    EXPECT_TRUE(working_dir_is_empty());
  }
}

TEST_F(RunProgramTest, TerminalNameOf255CharactersIsAccepted) {
  // The missing source shows that the run went past the name check.
  ProgramRun result = run({std::string(255, 'T'), "missing.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(result.exit_status, 94);
  EXPECT_EQ(result.console, "");
}

TEST_F(RunProgramTest, MissingSourceStillCreatesAndEmptiesBothTargets) {
  write_file(in_working_dir("target1.txt"), "old export 1");
  write_file(installation.log_path(), "earlier run\n");
  ProgramRun result = run({"T1", "missing.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(result.exit_status, 94);
  EXPECT_EQ(result.console, "");
  EXPECT_EQ(read_file(in_working_dir("target1.txt")), "");
  EXPECT_EQ(read_file(in_working_dir("target2.txt")), "");
  EXPECT_EQ(read_file(installation.log_path()), "earlier run\n");
}

struct VerboseSwitchCase {
  std::string word;
  bool verbose;
};

class VerboseSwitchTest : public RunProgramTest,
                          public ::testing::WithParamInterface<VerboseSwitchCase> {};

TEST_P(VerboseSwitchTest, OnlySlashDInAnyCaseSwitchesVerboseModeOn) {
  ProgramRun result = run({"T1", "missing.txt", "target1.txt", "target2.txt", GetParam().word});
  EXPECT_EQ(result.exit_status, 94);
  EXPECT_EQ(result.console, GetParam().verbose ? "Quelldatei auf Server nicht gefunden\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Words, VerboseSwitchTest,
                         ::testing::Values(VerboseSwitchCase{"/D", true},
                                           VerboseSwitchCase{"/d", true},
                                           VerboseSwitchCase{"/DX", false},
                                           VerboseSwitchCase{"-D", false},
                                           VerboseSwitchCase{"D", false}),
                         [](const ::testing::TestParamInfo<VerboseSwitchCase>& info) {
                           std::string name;
                           for (const char c : info.param.word) {
                             name += c == '/' ? "Slash" : c == '-' ? "Dash" : std::string(1, c);
                           }
                           return name;
                         });

TEST_F(RunProgramTest, UncreatableTargetsGive94AndOneVerboseMessage) {
  write_file(in_working_dir("source.txt"), "");
  // We may run as root, so a directory in the target's place is what cannot be created.
  fs::create_directory(in_working_dir("target1.txt"));
  fs::create_directory(in_working_dir("target2.txt"));
  ProgramRun quiet = run({"T1", "source.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(quiet.exit_status, 94);
  EXPECT_EQ(quiet.console, "");

  ProgramRun verbose = run({"T1", "source.txt", "target1.txt", "target2.txt", "/D"});
  EXPECT_EQ(verbose.exit_status, 94);
  EXPECT_EQ(verbose.console, "Zieldatei kann nicht erzeugt werden\n");
  EXPECT_FALSE(fs::exists(installation.log_path()));
}

TEST_F(RunProgramTest, OneUncreatableTargetStillCreatesTheOther) {
  fs::create_directory(in_working_dir("target2.txt"));
  ProgramRun result = run({"T1", "missing.txt", "target1.txt", "target2.txt", "/D"});
  EXPECT_EQ(result.exit_status, 94);
  EXPECT_EQ(result.console,
            "Quelldatei auf Server nicht gefunden\n"
            "Zieldatei kann nicht erzeugt werden\n");
  EXPECT_EQ(read_file(in_working_dir("target1.txt")), "");
}

TEST_F(RunProgramTest, FailedConnectionIsLoggedAndEndsWith75) {
  // No configuration file (as when run from the wrong directory): the connection step cannot
  // succeed.
  write_file(in_working_dir("source.txt"), "a,b,c\n");
  write_file(in_working_dir("target2.txt"), "old export 2");
  ProgramRun result = run({"T1", "source.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(result.exit_status, 75);

  const std::string log = read_file(installation.log_path()).value_or("");
  std::smatch logged;
  ASSERT_TRUE(std::regex_match(
      log, logged, std::regex("\n\nDatenbankverbindung fehlgeschlagen, Fehler: (-?[0-9]+)\n")))
      << log;
  EXPECT_NE(logged[1], "0");
  // The console names the file it looked for and where it was run from, in every mode; the
  // connection step prints its own message; the line of the source is never echoed.
  EXPECT_TRUE(result.console.starts_with(
      "Konfigurationsdatei ../../Files/velmarion.ini kann nicht gelesen werden, "
      "Arbeitsverzeichnis: " +
      fs::canonical(installation.working_dir()).string() + "\n"))
      << result.console;
  EXPECT_TRUE(result.console.ends_with(
      "Datenbankverbindung fehlgeschlagen, Fehler: " + logged[1].str() + "\n"))
      << result.console;
  EXPECT_EQ(result.console.find("a,b,c"), std::string::npos);
  EXPECT_EQ(read_file(in_working_dir("target1.txt")), "");
  EXPECT_EQ(read_file(in_working_dir("target2.txt")), "");
}

}  // namespace
}  // namespace zarvelt
