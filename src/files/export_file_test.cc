// Export files: plain and staged, publishing and discarding under every file system fault,
// locks, links and devices.
#include "files/export_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "files/failing_file_system.h"
#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

TEST(ExportFileTest, OpenEmptiesAnExistingFileAndCloseKeepsTheBytes) {
  testing::TempInstallation installation;
  const std::string path = (installation.working_dir() / "export.txt").string();
  testing::write_file(path, "old contents");
  ExportFile out;
  ASSERT_TRUE(out.open(path));
  EXPECT_TRUE(out.write("a\n"));
  EXPECT_TRUE(out.write(""));
  EXPECT_TRUE(out.close());
  EXPECT_EQ(testing::read_file(path), "a\n");
}

TEST(ExportFileTest, WriteThatFailsOnlyAtFlushIsReportedByClose) {
  ExportFile out;
  ASSERT_TRUE(out.open("/dev/full"));
  out.write("buffered, so the failure shows at the flush");
  EXPECT_FALSE(out.close());
  EXPECT_TRUE(out.failed());
  EXPECT_FALSE(out.close());  // closing twice keeps the verdict and touches nothing
}

class StagedExportTest : public ::testing::Test {
 protected:
  StagedExportTest() { file_system.set_temp_directory(temp.string()); }
  ~StagedExportTest() override { fs::remove_all(temp); }

  std::string at(const std::string& name) { return (installation.working_dir() / name).string(); }
  static std::vector<std::string> names_in(const fs::path& directory) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(directory)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  std::vector<std::string> names() { return names_in(installation.working_dir()); }
  std::vector<std::string> temp_names() { return names_in(temp); }
  bool open(ExportFile& out, const std::string& name = "export.txt") {
    return out.open_staged(at(name), "1", file_system, std::chrono::milliseconds(200));
  }

  testing::TempInstallation installation;
  fs::path temp = testing::make_temp_dir();  // the temporary directory of in-place staging
  FailingFileSystem file_system;
};

TEST_F(StagedExportTest, TargetStaysEmptyUntilPublished) {
  testing::write_file(at("export.txt"), "old contents");
  ExportFile out;
  ASSERT_TRUE(open(out));
  EXPECT_FALSE(out.in_place());
  EXPECT_EQ(testing::read_file(at("export.txt")), "");
  // A name of this run's own beside the target: tag, process id, random part.
  EXPECT_THAT(out.staging_path(), MatchesRegex(".*/export\\.txt\\.1\\.[0-9]+-[0-9a-f]{16}\\.tmp"));
  EXPECT_EQ(fs::path(out.staging_path()).parent_path(), installation.working_dir());
  EXPECT_TRUE(out.write("record\n"));
  EXPECT_TRUE(out.finish());
  EXPECT_EQ(testing::read_file(at("export.txt")), "");
  EXPECT_EQ(testing::read_file(out.staging_path()), "record\n");
  EXPECT_TRUE(out.publish());
  EXPECT_EQ(testing::read_file(at("export.txt")), "record\n");
  EXPECT_THAT(names(), ElementsAre("export.txt"));
  // The staging file's sync before the move, the directory's after it.
  EXPECT_EQ(file_system.calls(FileOp::kSync, installation.working_dir().string()), 2);
  out.discard();  // after publishing there is nothing left to discard
  EXPECT_EQ(testing::read_file(at("export.txt")), "record\n");
}

// A run's two exports: both moved, then their directory synced once; a move that fails keeps
// its staging file and does not hold back the other.
TEST_F(StagedExportTest, BothExportsMovedThenTheirDirectorySyncedOnce) {
  for (const bool first_move_fails : {false, true}) {
    SCOPED_TRACE(first_move_fails ? "the first move fails" : "both moves succeed");
    file_system.clear();
    const int syncs_before = file_system.calls(FileOp::kSync, installation.working_dir().string());
    if (first_move_fails) file_system.fail(FileOp::kReplace, "one.txt.1.");
    ExportFile one;
    ExportFile two;
    ASSERT_TRUE(open(one, "one.txt"));
    ASSERT_TRUE(two.open_staged(at("two.txt"), "2", file_system));
    EXPECT_TRUE(one.write("1\n"));
    EXPECT_TRUE(two.write("2\n"));
    ASSERT_TRUE(one.finish());
    ASSERT_TRUE(two.finish());
    const std::string staging_one = one.staging_path();
    EXPECT_EQ(publish_exports(one, two), (std::array<bool, 2>{!first_move_fails, true}));
    EXPECT_EQ(testing::read_file(at("one.txt")), first_move_fails ? "" : "1\n");
    EXPECT_EQ(testing::read_file(at("two.txt")), "2\n");
    // The staging files' syncs before the moves, the directory's once after both.
    EXPECT_EQ(file_system.calls(FileOp::kSync, installation.working_dir().string()),
              syncs_before + 3);
    if (first_move_fails) {
      EXPECT_EQ(testing::read_file(staging_one), "1\n");
    }
    one.discard();
    one.release();
    two.release();
    fs::remove(at("one.txt"));
    fs::remove(at("two.txt"));
  }
}

TEST_F(StagedExportTest, DiscardLeavesTheTargetEmptyAndNoStagingFile) {
  for (const bool finished : {false, true}) {
    ExportFile out;
    ASSERT_TRUE(open(out));
    EXPECT_TRUE(out.write("record\n"));
    if (finished) {
      EXPECT_TRUE(out.finish());
    }
    out.discard();
    out.release();
    EXPECT_EQ(testing::read_file(at("export.txt")), "");
    EXPECT_THAT(names(), ElementsAre("export.txt"));
  }
}

TEST_F(StagedExportTest, UncreatableTargetFailsTheOpen) {
  fs::create_directory(at("a.txt"));
  ExportFile target_is_directory;
  EXPECT_FALSE(open(target_is_directory, "a.txt"));
  EXPECT_FALSE(target_is_directory.is_open());
  EXPECT_TRUE(fs::is_directory(at("a.txt")));
}

// A staged export under every fault of the file system: a write, flush, sync or close that
// fails makes the export failed, it is never published, and discarding it leaves the target
// empty and no staging file; a move or a write-through that fails after a good finish keeps
// the records in the staging file.
struct ExportFaultCase {
  const char* name;
  FileFault fault;
  bool opens = true;      // open_staged succeeds
  bool finishes = false;  // finish succeeds (then publishing is what fails)
  bool in_place = false;  // the target is written through (its directory takes no new file)
};

TEST_F(StagedExportTest, FaultsOfTheFileSystemNeverPublishHalfAnExport) {
  const std::string beside = at("export.txt.1.");  // a staging file beside the target
  const FileFault no_new_file_beside = {FileOp::kOpen, beside};
  const ExportFaultCase kCases[] = {
      {"first write fails", {FileOp::kWrite, "export.txt.1."}},
      {"short write after two records", {FileOp::kWrite, "export.txt.1.", 2, -1, true}},
      {"only the second write fails", {FileOp::kWrite, "export.txt.1.", 1, 1}},
      {"flush fails", {FileOp::kFlush, "export.txt.1."}},
      {"sync fails", {FileOp::kSync, "export.txt.1."}},
      {"close fails", {FileOp::kClose, "export.txt.1."}},
      {"no staging file anywhere", {FileOp::kOpen, "export.txt.1."}, false},
      {"target cannot be created", {FileOp::kOpen, "export.txt"}, false},
      {"target cannot be locked",
       {FileOp::kLock, "export.txt", 0, -1, false, LockResult::kError},
       false},
      {"another run holds the target", {FileOp::kLock, "export.txt"}, false},
      {"move over the target fails", {FileOp::kReplace, "export.txt.1."}, true, true},
      // The target's own path: its emptying at the start is a write too.
      {"write-through fails", {FileOp::kWrite, at("export.txt"), 1}, true, true, true},
      {"write-through sync fails", {FileOp::kSync, at("export.txt")}, true, true, true},
  };
  const std::string records = "record 1\nrecord 2\nrecord 3\n";
  for (const ExportFaultCase& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::write_file(at("export.txt"), "old contents");
    file_system.clear();
    if (c.in_place) file_system.fail(no_new_file_beside);
    file_system.fail(c.fault);
    ExportFile out;
    ASSERT_EQ(open(out), c.opens);
    if (!c.opens) {
      EXPECT_FALSE(out.is_open());
      out.discard();
      out.release();
      EXPECT_THAT(names(), ElementsAre("export.txt"));
      EXPECT_THAT(temp_names(), ElementsAre());
      continue;
    }
    EXPECT_EQ(out.in_place(), c.in_place);
    for (int i = 1; i <= 3; ++i) out.write("record " + std::to_string(i) + "\n");
    EXPECT_EQ(out.finish(), c.finishes);
    EXPECT_EQ(out.failed(), !c.finishes);
    EXPECT_FALSE(out.publish());
    if (c.finishes) {
      // The log names the staging file: it exists and holds every record.
      EXPECT_EQ(testing::read_file(out.staging_path()), records);
    } else {
      EXPECT_EQ(testing::read_file(at("export.txt")), "");
    }
    out.discard();
    out.release();
    EXPECT_THAT(names(), ElementsAre("export.txt"));
    EXPECT_THAT(temp_names(), ElementsAre());
  }
}

// A target whose directory takes no new file, one with several hard links, and a device are
// written through after the commit: the target stays the file it was.
TEST_F(StagedExportTest, InPlaceTargetsStayTheFileTheyAre) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::string path;
  };
  const Case kCases[] = {
      {"directory takes no new file", [&] { file_system.fail(FileOp::kOpen, at("export.txt.2.")); },
       at("export.txt")},
      {"hard link", [&] { fs::create_hard_link(at("export.txt"), at("other-name.txt")); },
       at("export.txt")},
      {"character device", [] {}, "/dev/null"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    file_system.clear();
    fs::remove(at("other-name.txt"));
    testing::write_file(at("export.txt"), "old contents");
    c.prepare();
    const FileInfo before = file_system.info(c.path);
    ExportFile out;
    ASSERT_TRUE(out.open_staged(c.path, "2", file_system));
    EXPECT_TRUE(out.in_place());
    EXPECT_EQ(fs::path(out.staging_path()).parent_path(), temp);
    EXPECT_TRUE(out.write("record\n"));
    EXPECT_TRUE(out.finish());
    EXPECT_TRUE(out.publish());  // a device refuses the sync: no failure
    out.release();
    EXPECT_EQ(file_system.info(c.path).id, before.id);
    if (before.regular) {
      EXPECT_EQ(testing::read_file(c.path), "record\n");
    }
    EXPECT_THAT(temp_names(), ElementsAre());
    if (fs::exists(at("other-name.txt"))) {
      EXPECT_EQ(testing::read_file(at("other-name.txt")), "record\n");
    }
  }
}

// The published file keeps the target's permission bits (and owner, as far as allowed).
TEST_F(StagedExportTest, PublishedFileKeepsTheTargetsMode) {
  testing::write_file(at("export.txt"), "old");
  fs::permissions(at("export.txt"), fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read | fs::perms::others_read);
  const FileInfo before = file_system.info(at("export.txt"));
  ExportFile out;
  ASSERT_TRUE(open(out));
  out.write("new\n");
  ASSERT_TRUE(out.finish());
  ASSERT_TRUE(out.publish());
  const FileInfo after = file_system.info(at("export.txt"));
  EXPECT_NE(after.id, before.id);  // replaced
  EXPECT_EQ(after.mode, 0644u);
  EXPECT_EQ(after.owner, before.owner);
  EXPECT_EQ(after.group, before.group);
}

// A second open of the same target waits for the first: it gets the lock only once the first
// has published and released, and then it holds the file that now stands at the path, not
// the one that publishing replaced.
TEST_F(StagedExportTest, SecondRunWaitsAndLocksTheFileThatIsThereAfterPublishing) {
  ExportFile first;
  ASSERT_TRUE(first.open_staged(at("export.txt"), "1"));
  ExportFile busy;
  EXPECT_FALSE(
      busy.open_staged(at("export.txt"), "1", real_file_system(), std::chrono::milliseconds(100)));
  first.write("first\n");

  std::future<bool> second_opened = std::async(std::launch::async, [&] {
    ExportFile second;
    if (!second.open_staged(at("export.txt"), "1")) return false;
    const bool same = second.target_id() == real_file_system().info(at("export.txt")).id;
    second.write("second\n");
    return same && second.finish() && second.publish();
  });
  EXPECT_EQ(second_opened.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  EXPECT_EQ(testing::read_file(at("export.txt")), "");
  ASSERT_TRUE(first.finish());
  ASSERT_TRUE(first.publish());
  EXPECT_EQ(testing::read_file(at("export.txt")), "first\n");
  first.release();
  EXPECT_TRUE(second_opened.get());
  EXPECT_EQ(testing::read_file(at("export.txt")), "second\n");
  EXPECT_THAT(names(), ElementsAre("export.txt"));
}

TEST_F(StagedExportTest, SameFileOrSourceIsRefusedBeforeAnythingIsTouched) {
  testing::write_file(at("source.txt"), "bookings");
  testing::write_file(at("a.txt"), "a");
  fs::create_symlink(at("a.txt"), at("link-to-a.txt"));
  fs::create_symlink(at("source.txt"), at("link-to-source.txt"));
  const std::string same =
      " sind dieselbe Datei, keine \xDC"
      "bernahme";
  const std::string source = " ist die Quelldatei " + at("source.txt") +
                             ", keine \xDC"
                             "bernahme";
  const struct {
    std::string path1, path2;
    std::string message;
  } kCases[] = {
      {at("a.txt"), at("a.txt"),
       "Zieldatei " + at("a.txt") + " und Zieldatei " + at("a.txt") + same},
      {at("a.txt"), at("link-to-a.txt"),
       "Zieldatei " + at("a.txt") + " und Zieldatei " + at("link-to-a.txt") + same},
      {at("new.txt"), at("new.txt"),
       "Zieldatei " + at("new.txt") + " und Zieldatei " + at("new.txt") + same},
      {at("source.txt"), at("b.txt"), "Zieldatei " + at("source.txt") + source},
      {at("b.txt"), at("link-to-source.txt"), "Zieldatei " + at("link-to-source.txt") + source},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path1 + " " + c.path2);
    ExportFile target1;
    ExportFile target2;
    const TargetsOpenResult result =
        export_open_targets(target1, c.path1, target2, c.path2, at("source.txt"), file_system);
    EXPECT_EQ(result.status, TargetsOpen::kSameFile);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(testing::read_file(at("source.txt")), "bookings");
    EXPECT_EQ(testing::read_file(at("a.txt")), "a");
    EXPECT_THAT(names(), ElementsAre("a.txt", "link-to-a.txt", "link-to-source.txt", "source.txt"));
  }
}

TEST_F(StagedExportTest, BusyTargetsAreLeftAsTheyWere) {
  testing::write_file(at("held.txt"), "another run's export");
  std::unique_ptr<File> other_run =
      real_file_system().open(at("held.txt"), OpenMode::kWriteExisting);
  ASSERT_EQ(other_run->try_lock(), LockResult::kLocked);
  ExportFile target1;
  ExportFile target2;
  // new.txt is created when both targets are opened, before held.txt is waited for; it goes
  // again.
  const TargetsOpenResult result =
      export_open_targets(target1, at("new.txt"), target2, at("held.txt"), at("source.txt"),
                          file_system, std::chrono::milliseconds(200));
  EXPECT_EQ(result.status, TargetsOpen::kBusy);
  EXPECT_THAT(result.message, ::testing::HasSubstr("held.txt wird von einem anderen Lauf benutzt"));
  EXPECT_EQ(testing::read_file(at("held.txt")), "another run's export");
  EXPECT_THAT(names(), ElementsAre("held.txt"));
}

}  // namespace
}  // namespace zarvelt
