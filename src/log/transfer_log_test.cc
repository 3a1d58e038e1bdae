#include "log/transfer_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "driver/fixed_paths.h"
#include "files/failing_file_system.h"
#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::write_file;

class TransferLogTest : public ::testing::Test {
 protected:
  testing::TempInstallation installation;
  std::string log = installation.log_path().string();
  std::string backup = installation.log_backup_path().string();
};

TEST_F(TransferLogTest, BackupSitsBesideTheLogWithBakInItsName) {
  EXPECT_EQ(log_backup_path(log), backup);
  EXPECT_EQ(log_backup_path(host_path(kTransferLogWindowsPath)),
            host_path("..\\..\\Velmarion_php\\log\\ZarveltLog_bak.txt"));
}

TEST_F(TransferLogTest, AppendsEachTextAsOneLine) {
  write_log(log, "\n\nfirst");
  write_log(log, "");
  write_log(log,
            "\xFC"
            "bergeben\n");
  EXPECT_EQ(read_file(log),
            "\n\nfirst\n\n\xFC"
            "bergeben\n\n");
}

TEST_F(TransferLogTest, ExactlyTheLimitStaysOneByteMoreRotates) {
  write_file(log, std::string(kTransferLogLimit - 2, 'x'));
  write_file(backup, "previous backup");
  write_log(log, "y");  // brings the log to exactly the limit
  EXPECT_EQ(fs::file_size(log), kTransferLogLimit);
  EXPECT_EQ(read_file(backup), "previous backup");

  write_log(log, "");  // one line end more: rotates
  EXPECT_FALSE(fs::exists(log));
  ASSERT_TRUE(fs::exists(backup));
  EXPECT_EQ(fs::file_size(backup), kTransferLogLimit + 1);
  EXPECT_TRUE(read_file(backup)->ends_with("xy\n\n"));  // the line that crossed the limit

  write_log(log, "next");  // the next line starts a new log
  EXPECT_EQ(read_file(log), "next\n");
  EXPECT_EQ(fs::file_size(backup), kTransferLogLimit + 1);
}

TEST_F(TransferLogTest, RotationWorksWithoutAPreviousBackup) {
  write_file(log, std::string(kTransferLogLimit, 'x'));
  write_log(log, "over");
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(fs::file_size(backup), kTransferLogLimit + 5);
}

TEST_F(TransferLogTest, MissingDirectoryIsSilent) {
  const fs::path missing = installation.root() / "no-such-dir" / "ZarveltLog.txt";
  write_log(missing.string(), "lost");
  EXPECT_FALSE(fs::exists(missing.parent_path()));
}

// The log goes through a FileSystem: whatever of it fails, write_log stays silent and loses at
// most the line; a failed rotation keeps the full log and the previous backup and is tried
// again with the next line.
TEST_F(TransferLogTest, FaultsLoseTheLineAtMostAndNeverTheBackup) {
  const struct {
    const char* name;
    FileFault fault;
    const char* log_after;  // the log's content after write_log(log, "line")
  } kCases[] = {
      {"log cannot be opened", {FileOp::kOpen, "ZarveltLog.txt"}, "before\n"},
      {"write fails", {FileOp::kWrite, "ZarveltLog.txt"}, "before\n"},
      {"short write", {FileOp::kWrite, "ZarveltLog.txt", 0, -1, true}, "before\nli"},
      {"close fails", {FileOp::kClose, "ZarveltLog.txt"}, "before\nline\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    write_file(log, "before\n");
    FailingFileSystem file_system;
    file_system.fail(c.fault);
    write_log(file_system, log, "line");
    EXPECT_EQ(read_file(log), c.log_after);
  }
}

TEST_F(TransferLogTest, FailedRotationKeepsTheLogAndThePreviousBackup) {
  const std::string full_log(kTransferLogLimit, 'x');
  write_file(log, full_log);
  write_file(backup, "previous backup");
  FailingFileSystem file_system;
  file_system.fail(FileOp::kReplace, "ZarveltLog.txt");
  write_log(file_system, log, "over");
  EXPECT_EQ(file_system.calls(FileOp::kReplace), 1);
  EXPECT_EQ(read_file(backup), "previous backup");
  EXPECT_EQ(fs::file_size(log), kTransferLogLimit + 5);

  file_system.clear();
  write_log(file_system, log, "next");  // the move works again: the log becomes the backup
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(fs::file_size(backup), kTransferLogLimit + 10);
}

}  // namespace
}  // namespace zarvelt
