#include "files/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files/failing_file_system.h"
#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  ~FileSystemTest() override { fs::remove_all(dir_); }
  std::string at(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_ = testing::make_temp_dir();
  FileSystem& real_ = real_file_system();
};

TEST_F(FileSystemTest, OpenModes) {
  testing::write_file(at("a"), "old");
  std::unique_ptr<File> emptied = real_.open(at("a"), OpenMode::kWrite);
  ASSERT_NE(emptied, nullptr);
  EXPECT_TRUE(emptied->write("new"));
  EXPECT_TRUE(emptied->close());
  EXPECT_FALSE(emptied->write("x"));  // closed
  EXPECT_EQ(testing::read_file(at("a")), "new");

  // Writing over an existing file from its start, without emptying it first.
  std::unique_ptr<File> existing = real_.open(at("a"), OpenMode::kWriteExisting);
  ASSERT_NE(existing, nullptr);
  EXPECT_EQ(testing::read_file(at("a")), "new");
  EXPECT_TRUE(existing->write("N"));
  EXPECT_TRUE(existing->close());
  EXPECT_EQ(testing::read_file(at("a")), "New");

  // A new file only: neither an existing file nor a link (even a dangling one) is opened.
  EXPECT_EQ(real_.open(at("a"), OpenMode::kCreateNew), nullptr);
  fs::create_symlink(at("elsewhere"), at("link"));
  EXPECT_EQ(real_.open(at("link"), OpenMode::kCreateNew), nullptr);
  EXPECT_FALSE(fs::exists(at("elsewhere")));
  std::unique_ptr<File> fresh = real_.open(at("fresh"), OpenMode::kCreateNew);
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->truncate());
  EXPECT_TRUE(fresh->write("abc"));
  EXPECT_EQ(fresh->size(), 3u);
  EXPECT_TRUE(fresh->truncate());
  EXPECT_TRUE(fresh->write("d"));
  EXPECT_TRUE(fresh->sync());
  EXPECT_TRUE(fresh->close());
  EXPECT_EQ(testing::read_file(at("fresh")), "d");

  std::unique_ptr<File> log = real_.open(at("fresh"), OpenMode::kAppendText);
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(log->write("e\n"));
  EXPECT_EQ(log->size(), 3u);
  EXPECT_TRUE(log->close());

  std::string contents;
  EXPECT_EQ(real_.read_file(at("fresh"), false, contents), ReadResult::kOk);
  EXPECT_EQ(contents, "de\n");
  EXPECT_EQ(real_.read_file(at("missing"), true, contents), ReadResult::kMissing);
  EXPECT_EQ(contents, "");
}

TEST_F(FileSystemTest, IdentityFollowsLinksAndLockExcludesOtherOpens) {
  testing::write_file(at("a"), "x");
  fs::create_symlink(at("a"), at("link"));
  fs::create_hard_link(at("a"), at("hard"));
  const FileInfo a = real_.info(at("a"));
  ASSERT_TRUE(a.exists);
  EXPECT_TRUE(a.regular);
  EXPECT_EQ(a.links, 2u);
  EXPECT_EQ(real_.info(at("link")).id, a.id);
  EXPECT_EQ(real_.info(at("hard")).id, a.id);
  EXPECT_FALSE(real_.info(at("missing")).exists);
  EXPECT_FALSE(real_.info(at("missing")).id == real_.info(at("missing2")).id);
  EXPECT_EQ(real_.real_path(at("link")), fs::canonical(at("a")).string());

  std::unique_ptr<File> first = real_.open(at("a"), OpenMode::kWriteExisting);
  std::unique_ptr<File> second = real_.open(at("link"), OpenMode::kWriteExisting);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->info().id, a.id);
  EXPECT_EQ(first->try_lock(), LockResult::kLocked);
  EXPECT_EQ(second->try_lock(), LockResult::kBusy);
  first.reset();  // closing ends the lock
  EXPECT_EQ(second->try_lock(), LockResult::kLocked);
}

TEST_F(FileSystemTest, FailingFileSystemFailsTheChosenCallsOnly) {
  FailingFileSystem failing;
  failing.fail({FileOp::kWrite, "beta", 1, 1});
  failing.fail(FileOp::kReplace, "gamma");
  failing.fail({FileOp::kLock, "beta", 0, 1});
  std::unique_ptr<File> b = failing.open(at("beta"), OpenMode::kWrite);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->write("1"));
  EXPECT_FALSE(b->write("2"));  // the second write only
  EXPECT_TRUE(b->write("3"));
  EXPECT_EQ(b->try_lock(), LockResult::kBusy);
  EXPECT_EQ(b->try_lock(), LockResult::kLocked);
  EXPECT_TRUE(b->close());
  EXPECT_EQ(testing::read_file(at("beta")), "13");
  EXPECT_EQ(failing.calls(FileOp::kWrite, "beta"), 3);
  EXPECT_TRUE(failing.replace(at("beta"), at("gamma")));  // the source of a move is what matches
  EXPECT_FALSE(failing.replace(at("gamma"), at("delta")));
  EXPECT_TRUE(fs::exists(at("gamma")));
}

}  // namespace
}  // namespace zarvelt
