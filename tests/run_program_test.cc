// End-to-end runs of the built zarvelt program: command line, files, exit statuses.
#include <gtest/gtest.h>

#include "test_support.h"

namespace zarvelt {
namespace {

using testing::TempInstallation;

TEST(RunProgramTest, ThreeWordsAreAParameterError) {
  TempInstallation installation;
  testing::ProgramRun run =
      testing::run_zarvelt({"T1", "source.txt", "target1.txt"}, installation.working_dir());
  EXPECT_EQ(run.exit_status, testing::seen_exit_status(-1));
  EXPECT_EQ(run.console, "Parameterfehler");
}

}  // namespace
}  // namespace zarvelt
