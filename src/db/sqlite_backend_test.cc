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

}  // namespace
}  // namespace zarvelt::db
