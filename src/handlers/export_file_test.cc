#include "handlers/export_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace zarvelt {
namespace {

TEST(ExportFileTest, OpenEmptiesAnExistingFileAndCloseKeepsTheBytes) {
  testing::TempInstallation installation;
  const std::string path = (installation.working_dir() / "export.txt").string();
  testing::write_file(path, "old contents");
  ExportFile out;
  ASSERT_TRUE(export_open(out, path));
  EXPECT_TRUE(export_write(out, "a\n"));
  EXPECT_TRUE(export_write(out, ""));
  EXPECT_TRUE(export_close(out));
  EXPECT_EQ(testing::read_file(path), "a\n");
}

TEST(ExportFileTest, WriteThatFailsOnlyAtFlushIsReportedByClose) {
  ExportFile out;
  ASSERT_TRUE(export_open(out, "/dev/full"));
  export_write(out, "buffered, so the failure shows at the flush");
  EXPECT_FALSE(export_close(out));
  EXPECT_TRUE(out.failed);
  EXPECT_FALSE(export_close(out));  // closing twice keeps the verdict and touches nothing
}

}  // namespace
}  // namespace zarvelt
