// The connection step leaves no plain password in memory and names a driver of the other width;
// the program cannot dump core.
#include "driver/connect_step.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config_tool/config_writer.h"
#include "db/statements.h"
#include "db_fixture.h"
#include "files/process.h"
#include "test_support.h"

namespace zarvelt {
namespace {

// The memory scan means nothing under AddressSanitizer: its quarantine and its own stack frames
// keep bytes the program no longer has.
#ifndef ZARVELT_SANITIZED
constexpr unsigned char kMask = 0x5A;

// Counts the places in the process's readable memory that hold the masked text unmasked. The
// needle is kept masked, so that the search itself adds no copy.
int count_in_memory(const std::string& masked) {
  std::ifstream maps("/proc/self/maps");
  std::FILE* memory = std::fopen("/proc/self/mem", "rb");
  if (memory == nullptr) return -1;
  int found = 0;
  std::string buffer;
  for (std::string line; std::getline(maps, line);) {
    std::istringstream fields(line);
    std::string range, permissions;
    fields >> range >> permissions;
    if (permissions[0] != 'r' || line.find("[vvar]") != std::string::npos ||
        line.find("[vsyscall]") != std::string::npos) {
      continue;
    }
    const std::uint64_t begin = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    const std::uint64_t end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    // The sanitizers' shadow memory is reserved in terabytes: nothing of the program there.
    if (end - begin > (std::uint64_t{1} << 30)) continue;
    buffer.resize(end - begin);
    if (pread(fileno(memory), buffer.data(), buffer.size(), static_cast<off_t>(begin)) !=
        static_cast<ssize_t>(buffer.size())) {
      continue;
    }
    for (std::size_t at = 0; at + masked.size() <= buffer.size(); ++at) {
      std::size_t i = 0;
      while (i < masked.size() && static_cast<unsigned char>(buffer[at + i]) ==
                                      (static_cast<unsigned char>(masked[i]) ^ kMask)) {
        ++i;
      }
      if (i == masked.size()) ++found;
    }
  }
  std::fclose(memory);
  return found;
}

// After the connection step no readable page of the process holds the deciphered password,
// whether the connection was made or failed. The configuration is written by a child process,
// so that only the program's own reading brings the password into this one.
TEST(ConnectStepTest, LeavesNoPlainPasswordInMemory) {
  auto db = testing::DbInstallation::create(testing::DbBackend::kSqlite, {});
  ZARVELT_REQUIRE_DB(db);
  const std::filesystem::path directory = testing::make_temp_dir();
  const std::string config = (directory / "velmarion.ini").string();
  std::string masked(40, '\0');
  std::mt19937 random(std::random_device{}());
  for (char& c : masked) c = static_cast<char>(('a' + random() % 26) ^ kMask);
  for (const std::string& alias : {db->connect_alias(), std::string("sqlite3:/nonexistent/x.db")}) {
    const pid_t child = fork();
    if (child == 0) {
      std::string password;
      for (char c : masked) password.push_back(static_cast<char>(c ^ kMask));
      _exit(write_config_values(config, {{"LOGIN", "u"}, {"PASS", password}, {"NET8", alias}}).ok
                ? 0
                : 1);
    }
    int child_status = 0;
    ASSERT_EQ(waitpid(child, &child_status, 0), child);
    ASSERT_EQ(child_status, 0);
    testing::CapturedConsole console;
    db::SessionPtr session;
    connect_step(config, Reporter("", console.file(), false), session);
    // The tail only: a freed block's first bytes are taken by the allocator's own pointers.
    EXPECT_EQ(count_in_memory(masked.substr(20)), 0) << alias;
  }
  std::filesystem::remove_all(directory);
}
#endif

// A connect refused for a driver of the other width says so, in every mode and in the log,
// beside the status line that every other failure gets alone.
db::ConnectResult fake_connect_result;
db::ConnectResult fake_connect(db::SessionPtr&, std::string_view, std::string_view,
                               std::string_view, std::string_view) {
  return fake_connect_result;
}

TEST(ConnectStepTest, DriverOfTheOtherWidthIsNamedAsSuch) {
  const std::filesystem::path directory = testing::make_temp_dir();
  const std::string config = (directory / "velmarion.ini").string();
  ASSERT_TRUE(
      write_config_values(config, {{"LOGIN", "u"}, {"PASS", "p"}, {"NET8", "VELMARION"}}).ok);
  const std::string width = sizeof(void*) == 8 ? "64" : "32";
  const std::string other = sizeof(void*) == 8 ? "32" : "64";
  const std::string explanation =
      "Treiber und Programm verschiedener Bitbreite (IM014): dieses Programm ist " + width +
      "-Bit, der Treiber der ODBC-Datenquelle und der Oracle-Client m\xFCssen ebenfalls " + width +
      "-Bit sein; die " + other + "-Bit-Programme liegen im Ordner win" + other +
      " des Windows-Pakets";
  EXPECT_EQ(architecture_mismatch_text(), explanation);
  struct Case {
    std::int32_t status;
    std::string console;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {db::kArchitectureMismatch,
       "Datenbankverbindung fehlgeschlagen, Fehler: -12557\n" + explanation + "\n",
       {"\n\nDatenbankverbindung fehlgeschlagen, Fehler: -12557", explanation}},
      {db::kCannotResolveAlias,
       "Datenbankverbindung fehlgeschlagen, Fehler: -12154\n",
       {"\n\nDatenbankverbindung fehlgeschlagen, Fehler: -12154"}},
  };
  for (const Case& c : cases) {
    fake_connect_result = {c.status, "odbc", ""};
    std::vector<Reporter::Held> held;
    db::SessionPtr session;
    EXPECT_EQ(
        connect_step(config, Reporter().collecting_into(&held), session, nullptr, &fake_connect),
        c.status);
    std::string console;
    std::vector<std::string> log;
    for (const Reporter::Held& line : held) {
      if (line.to == Reporter::Held::To::kConsole) {
        console += line.text;
      } else {
        log.push_back(line.text);
      }
    }
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(log, c.log);
  }
  std::filesystem::remove_all(directory);
}

TEST(CoreDumpTest, TheProgramCannotDumpCore) {
  EXPECT_EXIT(
      {
        forbid_core_dumps();
        rlimit core{};
        getrlimit(RLIMIT_CORE, &core);
        std::exit(prctl(PR_GET_DUMPABLE) == 0 && core.rlim_cur == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zarvelt
