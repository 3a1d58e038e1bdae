// The PostgreSQL backend's statement-level rollback, against the test cluster: a failed
// statement's rollback travels with whatever the session sends next, so it must hold however
// the run goes on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "db/session.h"
#include "db/statements.h"
#include "db_fixture.h"

namespace zarvelt::db {
namespace {

using testing::access_record;
using testing::DbBackend;
using testing::DbInstallation;
using ::testing::ElementsAre;

class PostgresRollbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = DbInstallation::create(DbBackend::kPostgresql, {"MAND01"});
    ZARVELT_REQUIRE_DB(db_);
    ASSERT_TRUE(db_->execute("insert into KVS131FCD values ('K1', 3);", "MAND01"));
    ASSERT_EQ(
        connect(session_, db_->login(), db_->password(), db_->connect_alias(), "KVSYSTEM").status,
        kSuccess);
  }

  std::vector<std::string> badges() {
    return db_->query("select ZpkAsw from KVSYSTEM.KVS402ZPK order by ZpkAsw");
  }

  std::unique_ptr<DbInstallation> db_;
  SessionPtr session_;
};

// Failures in a row, each followed by a statement of another kind: a query, a schema switch,
// an insert.
TEST_F(PostgresRollbackTest, EveryStatementAfterAFailureRuns) {
  ASSERT_EQ(run_insert(*session_, access_record("A", "20240305143015")), kSuccess);
  EXPECT_EQ(run_insert(*session_, access_record("A", "20240305143015")), kUniqueConstraint);
  EXPECT_EQ(run_insert(*session_, access_record("A", "20241305143015")), kDateFormat);
  std::int32_t zone = -1;
  EXPECT_EQ(lookup_zone(*session_, "Z1200", zone), kNoRow);
  EXPECT_EQ(run_insert(*session_, access_record("A", "20240305143015")), kUniqueConstraint);
  EXPECT_EQ(switch_schema(*session_, "MAND01"), kSuccess);
  EXPECT_EQ(run_insert(*session_, access_record("A", "20240305143015")), kUniqueConstraint);
  std::string booking_type;
  EXPECT_EQ(lookup_booking_type(*session_, "K1", booking_type), kSuccess);
  EXPECT_EQ(booking_type, "3");
  EXPECT_EQ(run_insert(*session_, access_record("B", "20240305143016")), kSuccess);
  EXPECT_EQ(commit(*session_), kSuccess);
  EXPECT_THAT(badges(), ElementsAre("A", "B"));
}

// The inserts bind their dates checked and rearranged: each input must be stored, or refused,
// as the SQL expression that did this on the server stored or refused it.
TEST_F(PostgresRollbackTest, DatesBoundConvertedAreWhatTheSqlExpressionMadeOfThem) {
  const std::string expression =
      "select ((CASE WHEN $1::text ~ '^[0-9]{8}(([01][0-9]|2[0-3])([0-5][0-9]([0-5][0-9])?)?)?$' "
      "THEN left(rpad($1::text,14,'0'),8)||'T'||right(rpad($1::text,14,'0'),6) ELSE "
      "'invalid:'||$1::text END)::timestamp(0))::text";
  int badge = 0;
  std::vector<std::string> stored;  // badge and moment of each row the expression allowed
  for (const std::string input :
       {"20240305", "2024030514", "202403051430", "20240305143015", "20241305143015",
        "20240230120000", "00000101000000", "20240305240000", "20240305236000", "20240305235960",
        "2024030", "202403051", "2024AB05143015", "2024-03-05", "20240305\xFC\xFC"}) {
    SCOPED_TRACE(input);
    const BoundValue value{BoundValue::Kind::kText, input};
    std::vector<FetchedRow> expected;
    const std::int32_t expected_status =
        session_->connection().run(expression, {&value, 1}, 2, expected);
    // Appended rather than "D" + ...: g++ 12 at -O3 warns falsely (-Wrestrict) on that form.
    std::string name = "D";
    name += std::to_string(++badge);
    InsertRow record = access_record(name, input);
    record.values[testing::kAccessDate] = "20240305";
    EXPECT_EQ(run_insert(*session_, record), expected_status);
    if (expected_status == kSuccess) stored.push_back(name + " " + *expected.at(0).at(0));
  }
  ASSERT_EQ(commit(*session_), kSuccess);
  EXPECT_EQ(db_->query("select ZpkAsw || ' ' || ZpkUhr::text from KVSYSTEM.KVS402ZPK order by "
                       "length(ZpkAsw), ZpkAsw"),
            stored);
}

// The last statement of a run fails: the commit still keeps everything before it.
TEST_F(PostgresRollbackTest, FailureRightBeforeTheCommit) {
  ASSERT_EQ(run_insert(*session_, access_record("A", "20240305143015")), kSuccess);
  EXPECT_EQ(run_insert(*session_, access_record("A", "20240305143015")), kUniqueConstraint);
  EXPECT_EQ(commit(*session_), kSuccess);
  EXPECT_THAT(badges(), ElementsAre("A"));
}

}  // namespace
}  // namespace zarvelt::db
