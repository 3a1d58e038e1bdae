// Hostile values from the database: a client schema name that holds quotes, blanks, ";" or
// SQL must never become part of a statement. The booking is refused with the schema-switch
// message, and nothing else happens: no table touched, no file created, the other bookings
// of the file go through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fault_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::DbBackend;
using testing::FaultInstallation;
using ::testing::HasSubstr;

const std::vector<std::string> kHostileSchemaNames = {
    "MAND01\";DROP TABLE X", "MAND 01",   "MAND01;--", "M' OR '1'='1",
    "KVSYSTEM.KVS402ZPK",    "mand01)--",
};

std::string time_booking_line(const std::string& badge, int second) {
  return badge + ",,20240301,0600" + (second < 10 ? "0" : "") + std::to_string(second) +
         ",,T1,1,K1,,,1,,,,,40p\r\n";
}

// The files of an SQLite installation; none for PostgreSQL, which keeps no directory.
std::vector<std::string> names_in(const fs::path& directory) {
  std::vector<std::string> names;
  if (!fs::exists(directory)) return names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class HostileSchemaTest : public ::testing::TestWithParam<DbBackend> {};

TEST_P(HostileSchemaTest, NameNeverReachesAStatement) {
  FaultInstallation installation(GetParam());
  ZARVELT_REQUIRE_DB(&installation.db());
  std::string source = time_booking_line("4711", 0);
  for (std::size_t i = 0; i < kHostileSchemaNames.size(); ++i) {
    const std::string client = std::to_string(i + 10);
    std::string quoted_name;
    for (const char c : kHostileSchemaNames[i]) {
      quoted_name += c;
      if (c == '\'') quoted_name += '\'';
    }
    ASSERT_TRUE(installation.db().execute("insert into KVSYSTEM.KVS112MND values (1, " + client +
                                          ", '" + quoted_name + "')"));
    ASSERT_TRUE(installation.db().execute("insert into KVSYSTEM.KVS301ASW values ('B" + client +
                                          "', 1, " + client +
                                          ", 'P1', '2024-01-01 00:00:00', null)"));
    source += time_booking_line("B" + client, static_cast<int>(i) + 1);
  }
  source += time_booking_line("4711", 59);
  installation.write_source(source);
  const fs::path db_directory = installation.tree().root() / "db";
  const std::vector<std::string> db_files = names_in(db_directory);

  const testing::ProgramRun run = installation.run();
  EXPECT_EQ(run.exit_status, 0) << run.console;
  std::string expected_console;
  for (const std::string& name : kHostileSchemaNames) {
    expected_console += "!!! Schema konnte nicht gewechselt werden: " + name + " !!!\n";
    EXPECT_THAT(installation.log(),
                HasSubstr("!!! Schema konnte nicht gewechselt werden: " + name + " !!!"));
  }
  EXPECT_EQ(run.console, expected_console);
  // Only the two bookings of the well-named client reach the export.
  const std::string export1 = installation.target1();
  ASSERT_EQ(export1.size(), 2 * 82u);
  EXPECT_TRUE(export1.starts_with("MAND01"));
  EXPECT_EQ(export1.substr(82, 6), "MAND01");
  // Every table is still there and untouched; no file appeared beside the database.
  EXPECT_THAT(installation.stored_rows(), ::testing::IsEmpty());
  EXPECT_EQ(installation.db().query("select count(*) from KVSYSTEM.KVS112MND"),
            std::vector<std::string>{std::to_string(1 + kHostileSchemaNames.size())});
  EXPECT_EQ(names_in(db_directory), db_files);
}

INSTANTIATE_TEST_SUITE_P(Backends, HostileSchemaTest,
                         ::testing::Values(DbBackend::kSqlite, DbBackend::kPostgresql,
                                           DbBackend::kOdbcOracle),
                         [](const ::testing::TestParamInfo<DbBackend>& info) {
                           return std::string(testing::backend_name(info.param));
                         });

}  // namespace
}  // namespace zarvelt
