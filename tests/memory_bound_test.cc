// A run keeps the master data it looked up, but never more than a bounded amount of it: a file
// of a million distinct function codes, or of a million distinct zone keys, runs in the memory
// of an ordinary file. The peak is the child's own (each test runs in a process of its own).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "config_tool/config_writer.h"
#include "db_fixture.h"
#include "test_support.h"

namespace zarvelt {
namespace {

#if defined(ZARVELT_SANITIZED)
constexpr bool kSanitized = true;  // the sanitizers' own memory would be measured
#else
constexpr bool kSanitized = false;
#endif

TEST(MemoryBoundTest, MillionDistinctKeysOfEachKindStayBelow32MiB) {
  if (kSanitized) GTEST_SKIP() << "sanitizer build";
  testing::TempInstallation installation;
  auto db = testing::DbInstallation::create(testing::DbBackend::kSqlite, {"MAND01"},
                                            (installation.root() / "db").string());
  ZARVELT_REQUIRE_DB(db);
  ASSERT_TRUE(db->execute(
      "insert into KVSYSTEM.KVS112MND values (1, 1, 'MAND01');"
      "insert into KVSYSTEM.KVS301ASW values ('B1', 1, 1, 'P1', '2024-01-01 00:00:00', null)"));
  testing::write_installation_config(installation.config_path().string(),
                                     installation.working_dir().string(), *db);
  // Time bookings of distinct function codes (none found: the record is written all the
  // same), then zone access bookings of distinct zone keys.
  std::string source;
  constexpr int kKeys = 1000000;
  source.reserve(std::size_t{kKeys} * 2 * 45);
  for (int i = 0; i < kKeys; ++i) {
    source += "B1,,20240306,0730,,T01,1,C" + std::to_string(i) + ",,,1,,,,,40p\n";
  }
  for (int i = 0; i < kKeys; ++i) {
    source += "B1,,20240306,0730,,T01,1,K1,,,,,1,Z" + std::to_string(i) + ",,62p\n";
  }
  testing::write_file(installation.working_dir() / "bookings.txt", source);
  source.clear();
  source.shrink_to_fit();
  const testing::ProgramRun run = testing::run_zarvelt(
      {"T01", "bookings.txt", "target1.txt", "target2.txt"}, installation.working_dir());
  ASSERT_EQ(run.exit_status, 0) << run.console << run.error_output;
  rusage usage{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 32 * 1024);
  std::printf("peak resident memory: %ld KiB\n", usage.ru_maxrss);
}

}  // namespace
}  // namespace zarvelt
