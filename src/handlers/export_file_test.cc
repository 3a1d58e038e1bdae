#include "handlers/export_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "files/failing_file_system.h"
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

class StagedExportTest : public ::testing::Test {
 protected:
  std::filesystem::path at(const std::string& name) { return installation.working_dir() / name; }
  std::vector<std::string> names() {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(installation.working_dir())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  testing::TempInstallation installation;
};

TEST_F(StagedExportTest, TargetStaysEmptyUntilPublished) {
  testing::write_file(at("export.txt"), "old contents");
  ExportFile out;
  ASSERT_TRUE(export_open_staged(out, at("export.txt").string(), ".1.tmp"));
  EXPECT_EQ(testing::read_file(at("export.txt")), "");
  EXPECT_TRUE(export_write(out, "record\n"));
  EXPECT_TRUE(export_finish(out));
  EXPECT_EQ(testing::read_file(at("export.txt")), "");
  EXPECT_EQ(testing::read_file(at("export.txt.1.tmp")), "record\n");
  EXPECT_TRUE(export_publish(out));
  EXPECT_EQ(testing::read_file(at("export.txt")), "record\n");
  EXPECT_THAT(names(), ::testing::ElementsAre("export.txt"));
  export_discard(out);  // after publishing there is nothing left to discard
  EXPECT_EQ(testing::read_file(at("export.txt")), "record\n");
}

TEST_F(StagedExportTest, DiscardLeavesTheTargetEmptyAndNoStagingFile) {
  for (const bool finished : {false, true}) {
    ExportFile out;
    ASSERT_TRUE(export_open_staged(out, at("export.txt").string(), ".1.tmp"));
    EXPECT_TRUE(export_write(out, "record\n"));
    if (finished) {
      EXPECT_TRUE(export_finish(out));
    }
    export_discard(out);
    EXPECT_EQ(testing::read_file(at("export.txt")), "");
    EXPECT_THAT(names(), ::testing::ElementsAre("export.txt"));
  }
}

TEST_F(StagedExportTest, FailedExportIsNeverPublished) {
  std::filesystem::create_symlink("/dev/full", at("export.txt.1.tmp"));
  ExportFile out;
  ASSERT_TRUE(export_open_staged(out, at("export.txt").string(), ".1.tmp"));
  export_write(out, "record\n");
  EXPECT_FALSE(export_finish(out));
  EXPECT_FALSE(export_publish(out));
  export_discard(out);
  EXPECT_THAT(names(), ::testing::ElementsAre("export.txt"));
}

TEST_F(StagedExportTest, UncreatableTargetOrStagingFileFailsTheOpen) {
  std::filesystem::create_directory(at("a.txt"));
  ExportFile target_is_directory;
  EXPECT_FALSE(export_open_staged(target_is_directory, at("a.txt").string(), ".1.tmp"));
  EXPECT_EQ(target_is_directory.file, nullptr);

  std::filesystem::create_directory(at("b.txt.1.tmp"));
  ExportFile staging_is_directory;
  EXPECT_FALSE(export_open_staged(staging_is_directory, at("b.txt").string(), ".1.tmp"));
  EXPECT_EQ(testing::read_file(at("b.txt")), "");  // the target was still created
  export_discard(staging_is_directory);
  EXPECT_TRUE(std::filesystem::is_directory(at("b.txt.1.tmp")));  // not ours to remove
}

// A staged export under every fault of the file system: a write, flush, sync or close that
// fails makes the export failed, it is never published, and discarding it leaves the target
// empty and no staging file; a move that fails after a good finish keeps the records in the
// staging file.
struct ExportFaultCase {
  const char* name;
  FileFault fault;
  bool opens = true;      // export_open_staged succeeds
  bool finishes = false;  // export_finish succeeds (then the move is what fails)
};

TEST_F(StagedExportTest, FaultsOfTheFileSystemNeverPublishHalfAnExport) {
  const ExportFaultCase kCases[] = {
      {"first write fails", {FileOp::kWrite, "export.txt.1.tmp"}},
      {"short write after two records",
       {FileOp::kWrite, "export.txt.1.tmp", 2, -1, /*short_write=*/true}},
      {"only the second write fails", {FileOp::kWrite, "export.txt.1.tmp", 1, 1}},
      {"flush fails", {FileOp::kFlush, "export.txt.1.tmp"}},
      {"sync fails", {FileOp::kSync, "export.txt.1.tmp"}},
      {"close fails", {FileOp::kClose, "export.txt.1.tmp"}},
      {"staging file cannot be created", {FileOp::kOpen, "export.txt.1.tmp"}, false},
      {"target cannot be created", {FileOp::kOpen, "export.txt"}, false},
      {"move over the target fails", {FileOp::kReplace, "export.txt.1.tmp"}, true, true},
  };
  const std::string records = "record 1\nrecord 2\nrecord 3\n";
  for (const ExportFaultCase& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::write_file(at("export.txt"), "old contents");
    FailingFileSystem file_system;
    file_system.fail(c.fault);
    ExportFile out;
    ASSERT_EQ(export_open_staged(out, at("export.txt").string(), ".1.tmp", file_system), c.opens);
    if (!c.opens) {
      EXPECT_EQ(out.file, nullptr);
      export_discard(out);
      EXPECT_THAT(names(), ::testing::ElementsAre("export.txt"));
      continue;
    }
    for (int i = 1; i <= 3; ++i) export_write(out, "record " + std::to_string(i) + "\n");
    EXPECT_EQ(export_finish(out), c.finishes);
    EXPECT_EQ(out.failed, !c.finishes);
    EXPECT_FALSE(export_publish(out));
    EXPECT_EQ(testing::read_file(at("export.txt")), "");
    if (c.finishes) {
      EXPECT_EQ(testing::read_file(at("export.txt.1.tmp")), records);
    }
    export_discard(out);
    EXPECT_EQ(testing::read_file(at("export.txt")), "");
    EXPECT_THAT(names(), ::testing::ElementsAre("export.txt"));
  }
}

}  // namespace
}  // namespace zarvelt
