// The SQLite backend's own choices, against real files: client files are read in one read
// transaction that ends with the commit.
#include <gtest/gtest.h>

#include <string>

#include "db/session.h"
#include "db/statements.h"
#include "db_fixture.h"

namespace zarvelt::db {
namespace {

using testing::DbBackend;
using testing::DbInstallation;

// A program that edits a client's function codes between two runs on one session (or after
// a run) must not find the file locked by the finished run, and the next lookups must see
// the edit.
TEST(SqliteBackendTest, ClientFileIsFreeAndFreshAfterTheCommit) {
  std::unique_ptr<DbInstallation> db = DbInstallation::create(DbBackend::kSqlite, {"MAND01"});
  ZARVELT_REQUIRE_DB(db);
  ASSERT_TRUE(db->execute("insert into KVS131FCD values ('K1', 3);", "MAND01"));
  SessionPtr session;
  ASSERT_EQ(connect(session, db->login(), db->password(), db->connect_alias(), "KVSYSTEM").status,
            kSuccess);
  ASSERT_EQ(switch_schema(*session, "MAND01"), kSuccess);
  std::string booking_type;
  ASSERT_EQ(lookup_booking_type(*session, "K1", booking_type), kSuccess);
  EXPECT_EQ(booking_type, "3");
  ASSERT_EQ(lookup_booking_type(*session, "K1", booking_type), kSuccess);
  ASSERT_EQ(commit(*session), kSuccess);

  ASSERT_TRUE(db->execute("update KVS131FCD set FCDTYP = 4 where FCDNUM = 'K1';", "MAND01"));
  ASSERT_EQ(lookup_booking_type(*session, "K1", booking_type), kSuccess);
  EXPECT_EQ(booking_type, "4");
  EXPECT_EQ(commit(*session), kSuccess);
}

// The inserts convert their dates with the backend's function instead of an SQL expression; the
// date CHECKs then decide on the same text, so each input must give what the expression gave.
TEST(SqliteBackendTest, DateFunctionGivesWhatTheSqlExpressionGave) {
  std::unique_ptr<DbInstallation> db = DbInstallation::create(DbBackend::kSqlite, {});
  ZARVELT_REQUIRE_DB(db);
  SessionPtr session;
  ASSERT_EQ(connect(session, db->login(), db->password(), db->connect_alias(), "KVSYSTEM").status,
            kSuccess);
  const std::string expression =
      "select CASE WHEN length(?1) IN (8,10,12,14) AND ?1 NOT GLOB '*[^0-9]*' THEN "
      "substr(?1,1,4)||'-'||substr(?1,5,2)||'-'||substr(?1,7,2)||' '||substr((?1||'000000'),9,2)"
      "||':'||substr((?1||'000000'),11,2)||':'||substr((?1||'000000'),13,2) "
      "ELSE 'invalid:'||?1 END";
  const std::string function = "select " + std::string(kSqliteDateFunction) + "(?1)";
  using namespace std::string_literals;
  for (const std::string& input :
       {"20240305"s, "2024030514"s, "202403051430"s, "20240305143015"s, "20241305143015"s, ""s,
        "2024030"s, "202403051"s, "202403051430159"s, "2024AB05143015"s, "2024-03-05"s,
        "20240305\xFC\xFC"s, "20240305\0"s, "20240305143015\0x"s,
        "2024030514\0"
        "1234"s}) {
    SCOPED_TRACE(::testing::PrintToString(input));
    const BoundValue value{BoundValue::Kind::kText, input};
    std::vector<FetchedRow> expected, converted;
    ASSERT_EQ(session->connection().run(expression, {&value, 1}, 2, expected), kSuccess);
    ASSERT_EQ(session->connection().run(function, {&value, 1}, 2, converted), kSuccess);
    EXPECT_EQ(converted, expected);
  }
  const BoundValue null_value;
  std::vector<FetchedRow> converted;
  ASSERT_EQ(session->connection().run(function, {&null_value, 1}, 2, converted), kSuccess);
  EXPECT_EQ(converted, std::vector<FetchedRow>{{std::nullopt}});
}

}  // namespace
}  // namespace zarvelt::db
