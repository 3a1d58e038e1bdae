// Publishing the export files, through the real program: runs on the same targets never mix
// their records, a target that is the other target or the source is refused before anything is
// touched, a link stays a link, and targets that must not be replaced (a device, hard links, a
// directory that takes no new file) are written through and stay what they are.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "fault_support.h"
#include "files/file_system.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::DbBackend;
using ::testing::ElementsAre;
using testing::FaultInstallation;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::ProgramRun;

const std::string kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

// The booking file of run r: time bookings (with access bookings) and cost-centre bookings at
// times of its own, so that every record tells which run wrote it.
std::string booking_file(int r) {
  std::string file;
  for (int i = 0; i < 5; ++i) {
    const int number = r * 3000 + i * 60;
    file += testing::time_and_access_line(number) + testing::cost_centre_line(number + 1);
  }
  return file;
}

struct Exports {
  std::string target1;
  std::string target2;
  bool operator==(const Exports&) const = default;
};

// The exports of booking_file(r) as a run alone on its own installation gives them.
const Exports& exports_of(int r) {
  static std::vector<Exports> cache;
  while (static_cast<int>(cache.size()) <= r) {
    FaultInstallation installation;
    installation.write_source(booking_file(static_cast<int>(cache.size())));
    const ProgramRun run = installation.run();
    EXPECT_EQ(run.exit_status, 0) << run.console;
    cache.push_back({installation.target1(), installation.target2()});
    EXPECT_FALSE(cache.back().target1.empty());
    EXPECT_FALSE(cache.back().target2.empty());
  }
  return cache[r];
}

std::vector<std::string> names_in(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PublishBackendTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    installation_ = std::make_unique<FaultInstallation>(GetParam());
    if (!installation_->available()) {
      if (testing::postgresql_required()) FAIL() << installation_->db().reason();
      GTEST_SKIP() << installation_->db().reason();
    }
  }
  FaultInstallation& installation() { return *installation_; }
  std::unique_ptr<FaultInstallation> installation_;
};

// 2 and 4 runs at once on the same targets, each with its own booking file: each run waits
// for the one before it, so every run ends with 0 and its rows; the targets hold the exports of
// one run, both of the same run, whole, and no staging file is left.
TEST_P(PublishBackendTest, ConcurrentRunsOnTheSameTargetsNeverMixTheirRecords) {
  for (const int runs : {2, 4}) {
    SCOPED_TRACE(std::to_string(runs) + " runs");
    FaultInstallation fresh(GetParam());
    for (int r = 0; r < runs; ++r) {
      exports_of(r);
      testing::write_file(fresh.in_working_dir("source" + std::to_string(r) + ".txt"),
                          booking_file(r));
    }
    std::vector<std::future<ProgramRun>> started;
    for (int r = 0; r < runs; ++r) {
      started.push_back(std::async(std::launch::async, [&fresh, r] {
        return testing::run_zarvelt({testing::kFaultTerminal, "source" + std::to_string(r) + ".txt",
                                     "target1.txt", "target2.txt"},
                                    fresh.tree().working_dir());
      }));
    }
    for (auto& run : started) {
      const ProgramRun finished = run.get();
      EXPECT_EQ(finished.exit_status, 0) << finished.console;
    }
    const Exports published{fresh.target1(), fresh.target2()};
    int matching = 0;
    for (int r = 0; r < runs; ++r) matching += published == exports_of(r) ? 1 : 0;
    EXPECT_EQ(matching, 1) << published.target1 << "\n" << published.target2;
    // The runs did not overlap: in the log each run's header is followed by its summary before
    // the next run's header. (On SQLite the database's write lock orders them as well; on
    // PostgreSQL only the target locks do.)
    std::string order;
    const std::string log = fresh.log();
    for (std::size_t at = 0; at < log.size();) {
      const std::size_t header = log.find(
          ">>>>>>>>>> \xDC"
          "bergabe am",
          at);
      const std::size_t summary = log.find(
          "\xFC"
          "bergeben:",
          at);
      const std::size_t next = std::min(header, summary);
      if (next == std::string::npos) break;
      order += next == header ? 'H' : 'S';
      at = next + 1;
    }
    std::string alternating;
    for (int r = 0; r < runs; ++r) alternating += "HS";
    EXPECT_EQ(order, alternating);
    // 5 access rows of each run.
    EXPECT_EQ(fresh.stored_rows().size(), 5u * runs);
    std::vector<std::string> stray;
    for (const std::string& name : names_in(fresh.tree().working_dir())) {
      if (name.rfind("source", 0) != 0 && name != "target1.txt" && name != "target2.txt") {
        stray.push_back(name);
      }
    }
    EXPECT_THAT(stray, IsEmpty());
  }
}

// A run that another run keeps waiting past the bounded wait ends with 75 and touches nothing;
// a run on other targets does not wait at all.
TEST_P(PublishBackendTest, RunThatWaitsTooLongTouchesNothing) {
  installation().write_source(booking_file(0));
  testing::write_file(installation().in_working_dir("target1.txt"), "the other run's export");
  testing::write_file(installation().in_working_dir("target2.txt"), "the other run's records");
  std::unique_ptr<File> other_run = real_file_system().open(
      installation().in_working_dir("target2.txt").string(), OpenMode::kWriteExisting);
  ASSERT_NE(other_run, nullptr);
  ASSERT_EQ(other_run->try_lock(), LockResult::kLocked);

  const auto start = std::chrono::steady_clock::now();
  const ProgramRun waited = installation().run();
  const auto waited_for = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(waited.exit_status, 75) << waited.console;
  EXPECT_GE(waited_for, std::chrono::seconds(9));
  const std::string message =
      "Zieldatei target2.txt wird von einem anderen Lauf benutzt" + kNothingTakenOver;
  EXPECT_EQ(waited.console, message + "\n");
  EXPECT_THAT(installation().log(), HasSubstr("\n\n" + message + "\n"));
  EXPECT_EQ(installation().target1(), "the other run's export");
  EXPECT_EQ(installation().target2(), "the other run's records");
  EXPECT_THAT(installation().stored_rows(), IsEmpty());
  EXPECT_THAT(installation().stray_files(), IsEmpty());

  // Still held: a run that waited for it would end with 75.
  const ProgramRun elsewhere =
      testing::run_zarvelt({testing::kFaultTerminal, "source.txt", "other1.txt", "other2.txt"},
                           installation().tree().working_dir());
  EXPECT_EQ(elsewhere.exit_status, 0) << elsewhere.console;
  EXPECT_EQ(testing::read_file(installation().in_working_dir("other1.txt")), exports_of(0).target1);
}

INSTANTIATE_TEST_SUITE_P(Backends, PublishBackendTest,
                         ::testing::Values(DbBackend::kSqlite, DbBackend::kPostgresql),
                         [](const auto& info) { return testing::backend_name(info.param); });

class PublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(installation.available());
    installation.write_source(booking_file(0));
    exports_of(0);
  }
  fs::path at(const std::string& name) const { return installation.in_working_dir(name); }
  ProgramRun run(const std::string& target1, const std::string& target2,
                 const testing::Environment& environment = {}) {
    return testing::run_zarvelt({testing::kFaultTerminal, "source.txt", target1, target2},
                                installation.tree().working_dir(), environment);
  }
  FaultInstallation installation;
};

// One file named twice, or the source named as a target: refused before anything is created,
// emptied or committed, with a line in the log and on the console that names both paths.
TEST_F(PublishTest, TargetThatIsTheOtherTargetOrTheSourceIsRefused) {
  testing::write_file(at("a.txt"), "a's export");
  fs::create_symlink("a.txt", at("link-to-a.txt"));
  fs::create_symlink("source.txt", at("link-to-source.txt"));
  fs::create_hard_link(at("source.txt"), at("hard-link-to-source.txt"));
  const std::string same = " sind dieselbe Datei" + kNothingTakenOver;
  const std::string is_source = " ist die Quelldatei source.txt" + kNothingTakenOver;
  const struct {
    std::string target1, target2, message;
  } kCases[] = {
      {"same.txt", "same.txt", "Zieldatei same.txt und Zieldatei same.txt" + same},
      {"a.txt", "link-to-a.txt", "Zieldatei a.txt und Zieldatei link-to-a.txt" + same},
      {"source.txt", "b.txt", "Zieldatei source.txt" + is_source},
      {"b.txt", "link-to-source.txt", "Zieldatei link-to-source.txt" + is_source},
      {"hard-link-to-source.txt", "b.txt", "Zieldatei hard-link-to-source.txt" + is_source},
  };
  const std::vector<std::string> files_before = names_in(installation.tree().working_dir());
  for (const auto& c : kCases) {
    for (const bool verbose : {false, true}) {
      SCOPED_TRACE(c.target1 + " " + c.target2 + (verbose ? " /D" : ""));
      const ProgramRun refused = testing::run_zarvelt(
          verbose ? std::vector<std::string>{testing::kFaultTerminal, "source.txt", c.target1,
                                             c.target2, "/D"}
                  : std::vector<std::string>{testing::kFaultTerminal, "source.txt", c.target1,
                                             c.target2},
          installation.tree().working_dir());
      EXPECT_EQ(refused.exit_status, 94);
      EXPECT_THAT(refused.console, HasSubstr(c.message + "\n"));
      EXPECT_THAT(installation.log(), HasSubstr("\n\n" + c.message + "\n"));
      EXPECT_EQ(testing::read_file(at("source.txt")), booking_file(0));
      EXPECT_EQ(testing::read_file(at("a.txt")), "a's export");
      EXPECT_EQ(names_in(installation.tree().working_dir()), files_before);
      EXPECT_THAT(installation.stored_rows(), IsEmpty());
    }
  }
}

// A link at a target stays a link: its file is emptied at the start and gets the export;
// after a failed run it is empty. Links at names that a staging file might plausibly have are
// never followed.
TEST_F(PublishTest, LinkAtATargetStaysALinkAndStagingNamesAreNeverFollowed) {
  fs::create_directory(installation.tree().root() / "exports");
  const fs::path real1 = installation.tree().root() / "exports" / "time.txt";
  testing::write_file(real1, "previous export");
  fs::create_symlink(real1, at("target1.txt"));
  const fs::path victim = installation.tree().root() / "victim.txt";
  testing::write_file(victim, "not to be touched");
  for (const char* name : {"target1.txt.1.tmp", "target2.txt.2.tmp", "time.txt.1.tmp"}) {
    fs::create_symlink(victim, at(name));
    if (std::string(name) == "time.txt.1.tmp") {
      fs::create_symlink(victim, installation.tree().root() / "exports" / name);
    }
  }

  const ProgramRun published = run("target1.txt", "target2.txt");
  EXPECT_EQ(published.exit_status, 0) << published.console;
  EXPECT_TRUE(fs::is_symlink(at("target1.txt")));
  EXPECT_EQ(testing::read_file(real1), exports_of(0).target1);
  EXPECT_EQ(installation.target2(), exports_of(0).target2);
  EXPECT_EQ(testing::read_file(victim), "not to be touched");
  EXPECT_THAT(names_in(installation.tree().root() / "exports"),
              ElementsAre("time.txt", "time.txt.1.tmp"));

  // A failed run (target 2 cannot be synced) leaves the link's file empty.
  const ProgramRun failed =
      run("target1.txt", "target2.txt", testing::fault_environment("target2.txt.2.", "fsync"));
  EXPECT_EQ(failed.exit_status, 74) << failed.console;
  EXPECT_TRUE(fs::is_symlink(at("target1.txt")));
  EXPECT_EQ(testing::read_file(real1), "");
  EXPECT_EQ(testing::read_file(victim), "not to be touched");
  EXPECT_THAT(names_in(installation.tree().root() / "exports"),
              ElementsAre("time.txt", "time.txt.1.tmp"));
}

// Targets that must not be replaced are written through after the commit and stay what they
// are: a character device stays a device, a hard-linked file keeps its links. A FIFO without a
// reader is refused like a target that cannot be created, at once.
TEST_F(PublishTest, DevicesAndHardLinkedTargetsAreWrittenThrough) {
  const fs::path temp = installation.tree().root() / "tmp";
  fs::create_directory(temp);
  const testing::Environment environment = {{"TMPDIR", temp.string()}};
  const bool can_mknod = ::mknod(at("null-device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  testing::write_file(at("target1.txt"), "previous export");
  fs::create_hard_link(at("target1.txt"), at("other-name.txt"));
  const FileInfo before = real_file_system().info(at("target1.txt").string());

  const ProgramRun run1 = run("target1.txt", can_mknod ? "null-device" : "/dev/null", environment);
  EXPECT_EQ(run1.exit_status, 0) << run1.console;
  EXPECT_EQ(real_file_system().info(at("target1.txt").string()).id, before.id);
  EXPECT_EQ(testing::read_file(at("other-name.txt")), exports_of(0).target1);
  if (can_mknod) {
    EXPECT_TRUE(fs::is_character_file(at("null-device")));
  }
  EXPECT_THAT(names_in(temp), IsEmpty());

  // No reader ever comes: a run that waited for one would never end.
  ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0666), 0);
  const ProgramRun refused = run("fifo", "target2.txt", environment);
  EXPECT_EQ(refused.exit_status, 94);
  EXPECT_TRUE(fs::is_fifo(at("fifo")));
  EXPECT_THAT(names_in(temp), IsEmpty());
}

// The published file keeps the owner and the permission bits of the target it replaces.
TEST_F(PublishTest, PublishedTargetKeepsOwnerAndMode) {
  testing::write_file(at("target1.txt"), "previous export");
  ::chmod(at("target1.txt").c_str(), 0640);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(at("target1.txt").c_str(), 1234, 5678), 0);
  }
  const FileInfo before = real_file_system().info(at("target1.txt").string());
  const ProgramRun published = run("target1.txt", "target2.txt");
  EXPECT_EQ(published.exit_status, 0) << published.console;
  const FileInfo after = real_file_system().info(at("target1.txt").string());
  EXPECT_EQ(installation.target1(), exports_of(0).target1);
  EXPECT_EQ(after.mode, 0640u);
  EXPECT_EQ(after.owner, before.owner);
  EXPECT_EQ(after.group, before.group);
  if (root) {
    EXPECT_EQ(after.owner, 1234u);
  }
}

// A directory that takes no new file, with a target file in it that may be written: the run
// writes the target through instead of replacing it. Root may write anywhere, so as root the
// program runs as nobody on an installation given to nobody.
TEST_F(PublishTest, ReadOnlyDirectoryWithAWritableTarget) {
  const fs::path temp = installation.tree().root() / "tmp";
  fs::create_directory(temp);
  testing::write_file(at("target1.txt"), "previous export");
  testing::write_file(at("target2.txt"), "previous records");
  std::vector<std::string> command;
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing";
    for (const auto& entry : fs::recursive_directory_iterator(installation.tree().root())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chown(installation.tree().root().c_str(), 65534, 65534), 0);
    command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
               ZARVELT_BINARY};
  } else {
    command = {ZARVELT_BINARY};
  }
  fs::permissions(installation.tree().working_dir(),
                  fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const FileInfo before = real_file_system().info(at("target1.txt").string());
  for (const char* word : {testing::kFaultTerminal, "source.txt", "target1.txt", "target2.txt"}) {
    command.push_back(word);
  }
  const ProgramRun written =
      testing::run_binary(command[0], std::vector<std::string>(command.begin() + 1, command.end()),
                          installation.tree().working_dir(), {{"TMPDIR", temp.string()}});
  fs::permissions(installation.tree().working_dir(), fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(written.exit_status, 0) << written.console << written.error_output;
  EXPECT_EQ(real_file_system().info(at("target1.txt").string()).id, before.id);
  EXPECT_EQ(installation.target1(), exports_of(0).target1);
  EXPECT_EQ(installation.target2(), exports_of(0).target2);
  EXPECT_THAT(installation.stray_files(), IsEmpty());
  EXPECT_THAT(names_in(temp), IsEmpty());
}

// The Windows build under wine64: the same rules with Windows' own file locks, a target that
// replaces a file the run holds open, and the device NUL.
class WindowsPublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* binary = std::getenv("ZARVELT_WINDOWS_BINARY");
    if (binary == nullptr || *binary == '\0') {
      if (std::getenv("ZARVELT_TEST_WINDOWS") != nullptr)
        FAIL() << "ZARVELT_WINDOWS_BINARY not set";
      GTEST_SKIP() << "no Windows build to run (ZARVELT_WINDOWS_BINARY)";
    }
    binary_ = binary;
    installation_ = std::make_unique<FaultInstallation>(DbBackend::kOdbcPostgresql);
    if (!installation_->available()) {
      if (testing::postgresql_required()) FAIL() << installation_->db().reason();
      GTEST_SKIP() << installation_->db().reason();
    }
    for (int r = 0; r < 2; ++r) {
      exports_of(r);
      testing::write_file(at("source" + std::to_string(r) + ".txt"), booking_file(r));
    }
  }
  fs::path at(const std::string& name) const { return installation_->in_working_dir(name); }
  ProgramRun run(const std::string& source, const std::string& target1,
                 const std::string& target2) const {
    return testing::run_binary("/usr/lib/wine/wine64",
                               {binary_, testing::kFaultTerminal, source, target1, target2},
                               installation_->tree().working_dir(), {{"WINEDEBUG", "-all"}});
  }
  std::string binary_;
  std::unique_ptr<FaultInstallation> installation_;
};

TEST_F(WindowsPublishTest, LocksReplacingAndNul) {
  // Two runs at once on the same targets: both complete, the targets hold one run's exports,
  // each replaced while the run held it open and locked.
  testing::write_file(at("target1.txt"), "previous export");
  std::future<ProgramRun> first = std::async(
      std::launch::async, [&] { return run("source0.txt", "target1.txt", "target2.txt"); });
  const ProgramRun second = run("source1.txt", "target1.txt", "target2.txt");
  EXPECT_EQ(first.get().exit_status, 0);
  EXPECT_EQ(second.exit_status, 0) << second.console;
  const Exports published{installation_->target1(), installation_->target2()};
  EXPECT_TRUE(published == exports_of(0) || published == exports_of(1)) << published.target1 << "\n"
                                                                        << published.target2;

  // NUL stays the device: the export goes nowhere, nothing is created in its name.
  const ProgramRun to_nul = run("source0.txt", "target1.txt", "NUL");
  EXPECT_EQ(to_nul.exit_status, 0) << to_nul.console << installation_->log();
  EXPECT_EQ(installation_->target1(), exports_of(0).target1);

  // One file twice, or the source as a target: refused, nothing touched.
  const ProgramRun same = run("source0.txt", "target1.txt", "target1.txt");
  EXPECT_EQ(same.exit_status, 94);
  EXPECT_EQ(same.console, "Zieldatei target1.txt und Zieldatei target1.txt sind dieselbe Datei" +
                              kNothingTakenOver + "\r\n");
  EXPECT_EQ(installation_->target1(), exports_of(0).target1);
  const ProgramRun source = run("source0.txt", "source0.txt", "target2.txt");
  EXPECT_EQ(source.exit_status, 94);
  EXPECT_EQ(testing::read_file(at("source0.txt")), booking_file(0));

  std::vector<std::string> names = names_in(installation_->tree().working_dir());
  EXPECT_THAT(names, ElementsAre("source0.txt", "source1.txt", "target1.txt", "target2.txt"));
}

}  // namespace
}  // namespace zarvelt
