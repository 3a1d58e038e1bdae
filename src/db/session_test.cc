// The session and the statements against real databases, once per backend: every status is
// produced by the database, not by a stand-in.
#include "db/session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "config_tool/config_writer.h"
#include "db/client_operations.h"
#include "db/statements.h"
#include "db_fixture.h"
#include "driver/connect_step.h"
#include "test_support.h"

namespace zarvelt::db {
namespace {

using testing::access_record;
using testing::DbBackend;
using testing::DbInstallation;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

constexpr const char* kMasterData = R"sql(
insert into KVSYSTEM.KVS112MND values (1, 1, 'MAND01');
insert into KVSYSTEM.KVS112MND values (1, 2, 'MAND02');
insert into KVSYSTEM.KVS112MND values (1, 3, null);
insert into KVSYSTEM.KVS301ASW values ('4711', 1, 1, '4711', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('4712', 1, 2, 'P2', null, '2024-06-30 00:00:00');
insert into KVSYSTEM.KVS301ASW values ('4713', 1, 1, 'P3', '2024-03-01 00:00:00',
                                       '2024-03-31 00:00:00');
insert into KVSYSTEM.KVS301ASW values ('4714', 1, 1, 'P4', null, null);
insert into KVSYSTEM.KVS301ASW values ('4715', 1, 3, 'P5', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('TWICE', 1, 1, 'A', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('TWICE', 1, 2, 'B', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS405ZZS values ('Z1200', 7);
insert into KVSYSTEM.KVS405ZZS values ('Z1200', 7);
insert into KVSYSTEM.KVS405ZZS values ('Z2200', 8);
insert into KVSYSTEM.KVS405ZZS values ('Z2200', 9);
)sql";

// Oracle names what a date lacks (ORA-01830 to ORA-01862), SQLite and PostgreSQL give one
// status for every date they refuse: both the booking's own fault. As the other backends say it.
std::int32_t one_date_refusal(std::int32_t status) {
  return status <= kDatePictureEnds && status >= kNumberLengthInDate ? kDateFormat : status;
}

class SessionTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    db_ = DbInstallation::create(GetParam(), {"MAND01", "MAND02"});
    ZARVELT_REQUIRE_DB(db_);
    ASSERT_TRUE(db_->execute(kMasterData));
    ASSERT_TRUE(
        db_->execute("insert into KVS131FCD values ('K1', 3);"
                     "insert into KVS131FCD values ('KN', null);"
                     "insert into KVS131FCDUEB values ('K1', 'Q12');"
                     "insert into KVS131FCDUEB values ('KN', null);",
                     "MAND01"));
    ASSERT_TRUE(db_->execute("insert into KVS131FCD values ('K1', -5);", "MAND02"));
    ASSERT_EQ(connect(), kSuccess);
  }

  std::int32_t connect() {
    return db::connect(session_, db_->login(), db_->password(), db_->connect_alias(), "KVSYSTEM")
        .status;
  }

  // Rows of a central table as the session sees them, inside its transaction.
  std::int32_t count(const std::string& table) {
    std::int32_t rows = -1;
    Connection& connection = session_->connection();
    const std::string text =
        "select count(*) from " + sql_dialect(connection.dialect()).central_table(table);
    const OutputVariable outputs[] = {int32_output(rows)};
    EXPECT_EQ(select_one_row(connection, text, outputs, {}), kSuccess);
    return rows;
  }

  std::unique_ptr<DbInstallation> db_;
  SessionPtr session_;
};

TEST_P(SessionTest, BadgeLookupFollowsValidityRules) {
  struct Case {
    const char* badge;
    const char* date;
    std::int32_t status;
    const char* personnel_number;
    const char* client_schema;
  };
  const Case cases[] = {
      {"4711", "20240101", kSuccess, "4711", "MAND01"},  // from-date, inclusive
      {"4711", "20231231", kNoRow, "", ""},              // before from-date
      {"4712", "20240630", kSuccess, "P2", "MAND02"},    // to-date, inclusive
      {"4712", "20240701", kNoRow, "", ""},
      {"4713", "20240315", kSuccess, "P3", "MAND01"},
      {"4713", "20240401", kNoRow, "", ""},
      {"4714", "20240315", kNoRow, "", ""},      // no dates never matches
      {"4715", "20240315", kSuccess, "P5", ""},  // NULL schema with indicator
      {"TWICE", "20240315", kTooManyRows, "", ""},
      {"nobody", "20240315", kNoRow, "", ""},
      {"", "20240315", kNoRow, "", ""},  // empty badge binds NULL
  };
  for (const Case& c : cases) {
    std::string personnel = "old";
    std::string schema = "old";
    EXPECT_EQ(lookup_badge(*session_, c.badge, c.date, personnel, schema), c.status)
        << c.badge << " " << c.date;
    EXPECT_EQ(personnel, c.personnel_number) << c.badge << " " << c.date;
    EXPECT_EQ(schema, c.client_schema) << c.badge << " " << c.date;
  }
  // All at once (one round trip where the backend can), with a badge too long for its host
  // variable among them: the same answers.
  std::vector<BadgeKey> keys;
  for (const Case& c : cases) keys.push_back({c.badge, c.date});
  keys.push_back({std::string(60, '9'), "20240315"});
  std::vector<BadgeAnswer> answers;
  lookup_badges(*session_, keys, answers);
  ASSERT_EQ(answers.size(), keys.size());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(answers[i].status, cases[i].status) << cases[i].badge;
    EXPECT_EQ(answers[i].personnel_number, cases[i].personnel_number) << cases[i].badge;
    EXPECT_EQ(answers[i].client_schema, cases[i].client_schema) << cases[i].badge;
  }
  EXPECT_EQ(answers.back().status, kValueTooLarge);
}

TEST_P(SessionTest, SessionSchemaIsCentralAfterConnecting) {
  std::int32_t rows = -1;
  Connection& connection = session_->connection();
  const std::string unprefixed =
      "select count(*) from " + sql_dialect(connection.dialect()).session_table("KVS405ZZS");
  const OutputVariable outputs[] = {int32_output(rows)};
  EXPECT_EQ(select_one_row(connection, unprefixed, outputs, {}), kSuccess);
  EXPECT_EQ(rows, 4);
  std::string type;
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kTableMissing);
}

TEST_P(SessionTest, UnprefixedTablesFollowTheSchemaSwitch) {
  std::string type;
  ASSERT_EQ(switch_schema(*session_, "MAND01"), kSuccess);
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess);
  EXPECT_EQ(type, "3");
  ASSERT_EQ(switch_schema(*session_, "MAND02"), kSuccess);
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess);
  EXPECT_EQ(type, "-5");
  // Unquoted names fold as the production database folds them.
  ASSERT_EQ(switch_schema(*session_, "mand01"), kSuccess);
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess);
  EXPECT_EQ(type, "3");
}

TEST_P(SessionTest, FunctionCodeStatuses) {
  ASSERT_EQ(switch_schema(*session_, "MAND01"), kSuccess);
  std::string type = "untouched";
  EXPECT_EQ(lookup_booking_type(*session_, "KN", type), kNullFetched);  // no indicator
  EXPECT_EQ(lookup_booking_type(*session_, "XX", type), kNoRow);
  EXPECT_EQ(type, "untouched");

  std::string code = "K1";
  EXPECT_EQ(translate_function_code(*session_, "K1", code), kSuccess);
  EXPECT_EQ(code, "Q12");
  code = "KN";
  EXPECT_EQ(translate_function_code(*session_, "KN", code), kNullFetched);
  EXPECT_EQ(translate_function_code(*session_, "XX", code), kNoRow);
  EXPECT_EQ(code, "KN");
}

TEST_P(SessionTest, FailedSwitchLeavesSessionSchema) {
  ASSERT_EQ(switch_schema(*session_, "MAND02"), kSuccess);
  struct Case {
    const char* name;
    std::int32_t status;
  };
  const Case cases[] = {
      {"NOSUCH", kSchemaMissing},
      {"", kInvalidIdentifier},
      {"MAND01; DROP TABLE KVS131FCD", kInvalidIdentifier},
      {"MAND01\"", kInvalidIdentifier},
      {"../MAND01", kInvalidIdentifier},
      {" MAND01", kInvalidIdentifier},
      {"   ", kInvalidIdentifier},
      {"MAND01'--", kInvalidIdentifier},
      {"ABCDEFGHIJABCDEFGHIJABCDEFGHIJK", kInvalidIdentifier},  // 31 characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(switch_schema(*session_, c.name), c.status) << c.name;
    std::string type;
    EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess) << c.name;
    EXPECT_EQ(type, "-5") << c.name;
  }
  // A name read from a CHAR column, blank-padded: the switch goes to the name without the
  // blanks, as the database reads its statement, and the session keeps the name as asked.
  ASSERT_EQ(switch_schema(*session_, "MAND01              "), kSuccess);
  std::string type;
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess);
  EXPECT_EQ(type, "3");
  EXPECT_EQ(session_schema(*session_), "MAND01              ");
}

TEST_P(SessionTest, ZoneLookup) {
  std::int32_t zone = -1;
  EXPECT_EQ(lookup_zone(*session_, "Z1200", zone), kSuccess);  // distinct: one row
  EXPECT_EQ(zone, 7);
  EXPECT_EQ(lookup_zone(*session_, "Z9", zone), kNoRow);
  EXPECT_EQ(zone, 0);
  zone = -1;
  EXPECT_EQ(lookup_zone(*session_, "Z2200", zone), kTooManyRows);
  EXPECT_EQ(zone, 0);
}

TEST_P(SessionTest, FailedInsertsKeepTheTransaction) {
  ASSERT_EQ(run_insert(*session_, access_record("4711", "20240305143015")), kSuccess);
  EXPECT_EQ(run_insert(*session_, access_record("4711", "20240305143015")), kUniqueConstraint);
  // Without a badge the row is stored with ZpkAsw NULL, and the same booking again is a
  // duplicate: the unique key treats the NULL as the production database does.
  ASSERT_EQ(run_insert(*session_, access_record("", "20240305143015")), kSuccess);
  EXPECT_EQ(run_insert(*session_, access_record("", "20240305143015")), kUniqueConstraint);
  EXPECT_EQ(run_insert(*session_, access_record("4711", "")), kNullIntoNotNull);
  for (const char* moment : {"20241305143015", "20240230143015", "2024AB05143015"}) {
    EXPECT_EQ(one_date_refusal(run_insert(*session_, access_record("4711", moment))), kDateFormat)
        << moment;
  }
  // No calendar moment, or more or fewer digits than the format takes: refused, never stored
  // as another moment.
  for (const char* moment :
       {"20240005143015", "20240300143015", "00000305143015", "20240305243015", "20240305146015",
        "20240305143060", "202403051", "2024030514301", "202403051430150", "2024030514301500000"}) {
    EXPECT_EQ(one_date_refusal(run_insert(*session_, access_record("4711", moment))), kDateFormat)
        << moment;
  }
  // hhmm without seconds, as some booking lines carry it.
  ASSERT_EQ(run_insert(*session_, access_record("4712", "202403051430")), kSuccess);
  EXPECT_EQ(commit(*session_), kSuccess);

  EXPECT_THAT(db_->query("select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkMld,"
                         " ZpkLfd from KVSYSTEM.KVS402ZPK order by ZpkAsw nulls first"),
              ElementsAre("TERM01|2|2024-03-05 00:00:00|2024-03-05 14:30:15|<NULL>|100|<NULL>|"
                          "<NULL>|001",
                          "TERM01|2|2024-03-05 00:00:00|2024-03-05 14:30:15|4711|100|<NULL>|"
                          "<NULL>|001",
                          "TERM01|2|2024-03-05 00:00:00|2024-03-05 14:30:00|4712|100|<NULL>|"
                          "<NULL>|001"));
  EXPECT_THAT(db_->query("select ZpkDat from KVSYSTEM.KVS402ZPK"),
              ElementsAre(MatchesRegex("20[0-9][0-9]-[01][0-9]-[0-3][0-9] [0-9:]{8}"),
                          MatchesRegex("20[0-9][0-9]-.*"), MatchesRegex("20[0-9][0-9]-.*")));
}

// A failed query undoes nothing that went before it: an insert, the schema switch, queries.
TEST_P(SessionTest, FailedQueriesKeepWhatCameBefore) {
  std::vector<FetchedRow> rows;
  const auto failed_query = [&] {
    return session_->connection().run("select x from no_such_table", {}, 1, rows);
  };
  std::string type;
  ASSERT_EQ(run_insert(*session_, access_record("4711", "20240305143015")), kSuccess);
  ASSERT_EQ(switch_schema(*session_, "MAND02"), kSuccess);
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess);
  EXPECT_EQ(failed_query(), kTableMissing);
  EXPECT_EQ(failed_query(), kTableMissing);
  EXPECT_EQ(lookup_booking_type(*session_, "K1", type), kSuccess);
  EXPECT_EQ(type, "-5");
  ASSERT_EQ(run_insert(*session_, access_record("4712", "20240305143015")), kSuccess);
  EXPECT_EQ(failed_query(), kTableMissing);
  EXPECT_EQ(commit(*session_), kSuccess);
  EXPECT_EQ(count("KVS402ZPK"), 2);
}

// Inserts sent in batches get, in order, the statuses each gets alone: duplicates within and
// across batches, failures between them, a value refused before sending; the same rows stay.
TEST_P(SessionTest, BatchedInsertsGetTheStatusesOfOneAtATime) {
  const struct {
    std::string badge;
    std::string moment;
    std::int32_t status;
  } inserts[] = {
      {"4711", "20240305143015", kSuccess},
      {"4711", "20240305143015", kUniqueConstraint},
      {"", "20240305143015", kSuccess},
      {"4711", "20241305143015", kDateFormat},
      {"", "20240305143015", kUniqueConstraint},
      {std::string(20, '9'), "20240305143015", kValueTooLarge},
      {"4711", "", kNullIntoNotNull},
      {"4712", "202403051430", kSuccess},
      {"4712", "202403051430", kUniqueConstraint},
      {"4711", "20240305143015", kUniqueConstraint},
  };
  std::vector<InsertRow> rows;
  for (const auto& insert : inserts) rows.push_back(access_record(insert.badge, insert.moment));
  rows.push_back(testing::event_record());
  rows.push_back(testing::event_record());
  const std::vector<std::int32_t> statuses = testing::insert_in_batches(*session_, rows, 3);
  for (std::size_t i = 0; i < std::size(inserts); ++i) {
    EXPECT_EQ(one_date_refusal(statuses[i]), inserts[i].status) << "insert " << i;
  }
  EXPECT_EQ(statuses[std::size(inserts)], kSuccess);
  EXPECT_EQ(statuses[std::size(inserts) + 1], kUniqueConstraint);
  EXPECT_EQ(commit(*session_), kSuccess);
  EXPECT_EQ(count("KVS402ZPK"), 3);
  EXPECT_EQ(count("O2009BUCHPROT"), 1);
}

// Every byte in every text field of both inserts, sent in batches, and in the keys of the
// badge and zone lookups: the same status and the same stored bytes, read back through the
// session, as on SQLite. The booking files are
// Windows-1252: a letter such as 0xFC is stored as it stands, a byte that is no character in it
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) is one refused booking, and a NUL ends its text.
TEST_P(SessionTest, EveryByteInEveryTextFieldAsOnSqlite) {
  // Each field as text around the byte: dates as digits with the byte last.
  struct Field {
    bool access;        // else the event's
    std::size_t value;  // its place in the row
    const char* before;
    const char* after;
  };
  const Field fields[] = {
      {true, testing::kAccessTerminal, "T", "1"},
      {true, testing::kAccessDate, "2024030", ""},
      {true, testing::kAccessMoment, "2024030514301", ""},
      {true, testing::kAccessBadge, "M", "ller"},
      {true, 6, "0", "1"},  // the running number
      {false, testing::kEventTerminal, "T", "1"},
      {false, testing::kEventBadge, "M", "ller"},
      {false, testing::kEventDate, "2026010", ""},
      {false, testing::kEventMoment, "2026010715300", ""},
      {false, testing::kEventCode, "0", "1"},
      {false, testing::kEventText, "V", "1"},
  };
  // The statuses in order, then every stored row, as the session reads them.
  const auto outcome = [&](Session& session) {
    std::vector<InsertRow> rows;
    for (int byte = 0; byte < 256; ++byte) {
      for (const Field& field : fields) {
        const std::string value =
            field.before + std::string(1, static_cast<char>(byte)) + field.after;
        const int reader = static_cast<int>(rows.size());
        InsertRow row =
            field.access ? access_record("4711", "20240305143015") : testing::event_record();
        row.values[field.access ? std::size_t{testing::kAccessReader}
                                : std::size_t{testing::kEventReader}] = reader;
        row.values[field.value] = value;
        rows.push_back(std::move(row));
      }
    }
    std::vector<std::string> seen;
    for (const std::int32_t status : testing::insert_in_batches(session, rows, 64)) {
      seen.push_back(std::to_string(one_date_refusal(status)));
    }
    // The lookups of the read-ahead, with every byte in their keys.
    std::vector<BadgeKey> badges;
    std::vector<std::string> zones;
    for (int byte = 0; byte < 256; ++byte) {
      badges.push_back({"M" + std::string(1, static_cast<char>(byte)) + "ller", "20240315"});
      zones.push_back("Z" + std::string(1, static_cast<char>(byte)));
    }
    std::vector<BadgeAnswer> badge_answers;
    lookup_badges(session, badges, badge_answers);
    for (const BadgeAnswer& found : badge_answers) seen.push_back(std::to_string(found.status));
    std::vector<ZoneAnswer> zone_answers;
    lookup_zones(session, zones, zone_answers);
    for (const ZoneAnswer& found : zone_answers) seen.push_back(std::to_string(found.status));
    const SqlDialect& sql = sql_dialect(session.connection().dialect());
    for (const std::string& query :
         {"select ZpkLes, ZpkTrm, ZpkDtm, ZpkUhr, ZpkAsw, ZpkLfd from " +
              sql.central_table("KVS402ZPK") + " order by ZpkLes",
          "select BPRZLS, BPRTRM, BPRAWV, BPRDAT, BPRDTE, BPRFCD, BPRVAR from " +
              sql.central_table("O2009BUCHPROT") + " order by BPRZLS"}) {
      std::vector<FetchedRow> rows;
      EXPECT_EQ(session.connection().run(query, {}, 10000, rows), kSuccess) << query;
      for (const FetchedRow& row : rows) {
        std::string line;
        for (const auto& column : row) line += (column ? *column : "<NULL>") + "|";
        seen.push_back(line);
      }
    }
    EXPECT_EQ(commit(session), kSuccess);
    return seen;
  };
  const std::vector<std::string> here = outcome(*session_);
  auto sqlite_db = DbInstallation::create(DbBackend::kSqlite, {});
  SessionPtr sqlite_session;
  ASSERT_EQ(db::connect(sqlite_session, "", "", sqlite_db->connect_alias(), "KVSYSTEM").status,
            kSuccess);
  const std::vector<std::string> expected = outcome(*sqlite_session);
  EXPECT_EQ(here.size(), expected.size());
  for (std::size_t i = 0; i < std::min(here.size(), expected.size()); ++i) {
    EXPECT_EQ(here[i], expected[i]) << "entry " << i;
  }
  // The anchors on SQLite: a badge with 0xFC stored as it stands, one with 0x81 refused.
  const std::size_t fc_badge = 0xFC * std::size(fields) + 3;
  EXPECT_THAT(expected, ::testing::Contains(std::to_string(fc_badge) +
                                            "|TERM01|2024-03-05 00:00:00|2024-03-05 14:30:15|"
                                            "M\xFCller|001|"));
  EXPECT_EQ(expected[0x81 * std::size(fields) + 3], std::to_string(kPartialMultibyte));
}

// Which failed inserts end the run: each class the backend has, produced by the database
// itself. A booking's own values fail that booking; a database that cannot take the run's
// writes ends the run.
TEST_P(SessionTest, InsertStatusesSayWhetherTheRunCanGoOn) {
  const bool sqlite = GetParam() == DbBackend::kSqlite;
  // Runs a statement of the backend's own on the session's connection; empty for no statement.
  const auto on_session = [](Session& session, const std::string& sqlite_text,
                             const std::string& postgresql_text) {
    std::vector<FetchedRow> rows;
    const std::string& text =
        session.connection().dialect() == Dialect::kSqlite ? sqlite_text : postgresql_text;
    return text.empty() ? kSuccess : session.connection().run(text, {}, 0, rows);
  };
  enum Where { kBoth, kSqliteOnly, kPostgresqlOnly };
  struct Case {
    const char* name;
    Where where;
    // Run before the session connects, by another connection: SQL of each backend.
    std::string sqlite_before;
    std::string postgresql_before;
    // Run on the session's own connection before its first insert.
    std::string sqlite_on_session;
    std::string postgresql_on_session;
    std::int32_t status;
    StatusScope scope;
  };
  const Case cases[] = {
      {"duplicate", kBoth, "", "", "", "", kUniqueConstraint, StatusScope::kBooking},
      {"read-only", kBoth, "", "alter database {DB} set default_transaction_read_only = on",
       "PRAGMA query_only = 1", "", kReadOnly, StatusScope::kRun},
      {"privilege revoked", kPostgresqlOnly, "", "revoke insert on KVS402ZPK from current_user", "",
       "", kInsufficientPrivileges, StatusScope::kRun},
      {"table dropped", kBoth, "drop table KVS402ZPK", "drop table KVS402ZPK", "", "",
       kTableMissing, StatusScope::kRun},
      {"column dropped", kBoth, "alter table KVS402ZPK drop column ZpkMld",
       "alter table KVS402ZPK drop column ZpkMld", "", "", kInvalidIdentifier, StatusScope::kRun},
      // The other connection keeps the table locked (see below).
      {"lock timeout", kPostgresqlOnly, "", "", "", "set lock_timeout = 200", kResourceBusy,
       StatusScope::kRun},
      {"statement timeout", kPostgresqlOnly, "", "", "", "set statement_timeout = 200", kCancelled,
       StatusScope::kRun},
      {"no space", kSqliteOnly, "", "", "PRAGMA max_page_count = 1", "", kUnableToExtend,
       StatusScope::kRun},
      {"out of memory", kSqliteOnly, "", "", "PRAGMA hard_heap_limit = {USED}", "",
       kOutOfProcessMemory, StatusScope::kRun},
      {"error no backend maps", kPostgresqlOnly, "",
       "create function zt_refuse() returns trigger language plpgsql as "
       "$$begin raise exception using errcode = 'P0001'; end$$;"
       "create trigger zt_refuse before insert on KVS402ZPK execute function zt_refuse()",
       "", "", kInternalError, StatusScope::kRun},
  };
  for (const Case& c : cases) {
    if (c.where == (sqlite ? kPostgresqlOnly : kSqliteOnly)) continue;
    const bool timeout = c.status == kResourceBusy || c.status == kCancelled;
    // PostgreSQL's own timeout settings: Oracle has neither (its waits end at the query timeout).
    if (timeout && GetParam() == DbBackend::kOdbcOracle) continue;
    SCOPED_TRACE(c.name);
    auto db = DbInstallation::create(GetParam(), {});
    ZARVELT_REQUIRE_DB(db);
    std::string before = sqlite ? c.sqlite_before : c.postgresql_before;
    if (const auto at = before.find("{DB}"); at != std::string::npos) {
      before.replace(at, 4, db->query("select current_database()").at(0));
    }
    if (!before.empty()) {
      ASSERT_TRUE(db->execute(before));
    }
    const bool locked = timeout;
    if (locked) {
      ASSERT_TRUE(db->execute("begin; lock table KVS402ZPK"));
    }
    SessionPtr session;
    ASSERT_EQ(
        db::connect(session, db->login(), db->password(), db->connect_alias(), "KVSYSTEM").status,
        kSuccess);
    // Just above what SQLite holds now: the next statement that needs more memory fails.
    std::string on_session_text = c.sqlite_on_session;
    if (const auto at = on_session_text.find("{USED}"); at != std::string::npos) {
      on_session_text.replace(at, 6, std::to_string(sqlite3_memory_used() + 32768));
    }
    ASSERT_EQ(on_session(*session, on_session_text, c.postgresql_on_session), kSuccess);
    InsertRow record = access_record("4711", "20240305143015");
    std::int32_t status = kSuccess;
    // A full database takes some rows before the next one no longer fits.
    for (int row = 0; row < 1000 && status == kSuccess; ++row) {
      record.values[testing::kAccessReader] = c.status == kUniqueConstraint ? 0 : row;
      status = run_insert(*session, record);
    }
    if (locked) db->execute("rollback");
    sqlite3_hard_heap_limit64(0);  // the limit holds for the whole process
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(status_scope(status), c.scope);
  }
}

// Booking times are wall-clock times: one in the hour skipped when daylight saving time begins
// is stored as it stands, whatever time zone the session has.
TEST_P(SessionTest, BookingTimeInTheSkippedHourStaysAsItIs) {
  ::setenv("PGTZ", "Europe/Berlin", 1);
  const std::int32_t status = connect();
  ::unsetenv("PGTZ");
  ASSERT_EQ(status, kSuccess);
  ASSERT_EQ(run_insert(*session_, access_record("4711", "20260329023000")), kSuccess);
  EXPECT_EQ(commit(*session_), kSuccess);
  EXPECT_THAT(db_->query("select ZpkDtm, ZpkUhr from KVSYSTEM.KVS402ZPK"),
              ElementsAre("2026-03-29 00:00:00|2026-03-29 02:30:00"));
}

TEST_P(SessionTest, EventInsert) {
  const InsertRow event = testing::event_record();
  ASSERT_EQ(run_insert(*session_, event), kSuccess);
  EXPECT_EQ(run_insert(*session_, event), kUniqueConstraint);
  EXPECT_EQ(count("O2009BUCHPROT"), 1);
  EXPECT_EQ(commit(*session_), kSuccess);
  EXPECT_THAT(db_->query("select BPRTRM, BPRZLS, BPRAWV, BPRDAT, BPRDTE, BPRFCD, BPRERG, BPRVAR"
                         " from KVSYSTEM.O2009BUCHPROT"),
              ElementsAre("TERM01|3|4711|2026-01-07 00:00:00|2026-01-07 15:30:00|025|200|<NULL>"));
}

TEST_P(SessionTest, OverLongInputIsRefusedWithoutRunning) {
  // Badge host variable of the access insert: 20 bytes, so 19 characters.
  EXPECT_EQ(run_insert(*session_, access_record(std::string(20, '9'), "20240305143015")),
            kValueTooLarge);
  EXPECT_EQ(run_insert(*session_, access_record(std::string(19, '9'), "20240305143015")), kSuccess);
  std::string personnel;
  std::string schema;
  EXPECT_EQ(lookup_badge(*session_, std::string(51, '1'), "20240101", personnel, schema),
            kValueTooLarge);
  EXPECT_EQ(count("KVS402ZPK"), 1);
}

TEST_P(SessionTest, OutputIsCutToCapacity) {
  std::string text;
  const OutputVariable outputs[] = {text_output(text, 4)};
  EXPECT_EQ(select_one_row(session_->connection(), "select 'ABCDEFGHIJ'", outputs, {}), kSuccess);
  EXPECT_EQ(text, "ABC");
}

TEST_P(SessionTest, CommitWithoutInsertsAndServerTime) {
  std::string server_time;
  EXPECT_EQ(read_server_time(*session_, server_time), kSuccess);
  EXPECT_THAT(
      server_time,
      MatchesRegex("[0-3][0-9]\\.[01][0-9]\\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]"));
  EXPECT_EQ(commit(*session_), kSuccess);
}

TEST_P(SessionTest, NothingStaysWithoutCommit) {
  ASSERT_EQ(run_insert(*session_, access_record("4711", "20240305143015")), kSuccess);
  session_.reset();
  EXPECT_TRUE(db_->query("select * from KVSYSTEM.KVS402ZPK").empty());
}

TEST_P(SessionTest, ConnectFailures) {
  SessionPtr other;
  EXPECT_EQ(
      db::connect(other, db_->login(), db_->password(), db_->connect_alias(), "NOSUCH").status,
      kSchemaMissing);
  EXPECT_EQ(db::connect(other, db_->login(), db_->password(), "ORCL", "KVSYSTEM").status,
            kCannotResolveAlias);
  EXPECT_EQ(db::connect(other, db_->login(), db_->password(), "", "KVSYSTEM").status,
            kCannotResolveAlias);
  EXPECT_EQ(db::connect(other, std::string(60, 'u'), std::string(40, 'p'), db_->connect_alias(),
                        "KVSYSTEM")
                .status,
            kValueTooLarge);
  // The login ends at the first "/", the alias begins after the last "@".
  const std::int32_t odd_password =
      db::connect(other, db_->login(), "p@ss/w@rd", db_->connect_alias(), "KVSYSTEM").status;
  EXPECT_EQ(odd_password, GetParam() == DbBackend::kSqlite ? kSuccess : kInvalidLogin);
  const std::string missing =
      GetParam() == DbBackend::kSqlite ? "sqlite3:/nonexistent/KVSYSTEM.db"
      : GetParam() == DbBackend::kPostgresql
          ? "postgresql:dbname=zt_nosuch"
          : "odbc:DSN=" + testing::odbc_test_data_source() + ";Database=zt_nosuch";
  EXPECT_EQ(db::connect(other, db_->login(), db_->password(), missing, "KVSYSTEM").status,
            kCannotResolveAlias);
  EXPECT_EQ(other, nullptr);
}

// Runs the connection step with LOGIN, PASS and NET8 in a configuration file; returns the
// console output.
std::string run_connect_step(const std::string& login, const std::string& password,
                             const std::string& alias, std::int32_t& status) {
  char directory[] = "/tmp/zcfgXXXXXX";
  EXPECT_NE(::mkdtemp(directory), nullptr);
  const std::string config = std::string(directory) + "/velmarion.ini";
  EXPECT_TRUE(
      write_config_values(config, {{"LOGIN", login}, {"PASS", password}, {"NET8", alias}}).ok);
  std::FILE* console = std::tmpfile();
  SessionPtr session;
  status = connect_step(config, Reporter("", console, false), session);
  if (status == kSuccess) {
    EXPECT_NE(session, nullptr);
    std::int32_t zone = 0;
    EXPECT_EQ(lookup_zone(*session, "Z1200", zone), kSuccess);  // the session works
    EXPECT_EQ(zone, 7);
  }
  std::rewind(console);
  char buffer[512] = {};
  const std::size_t size = std::fread(buffer, 1, sizeof buffer - 1, console);
  std::fclose(console);
  std::filesystem::remove_all(directory);
  return std::string(buffer, size);
}

TEST_P(SessionTest, ConnectStepReadsConfiguration) {
  std::int32_t status = 0;
  EXPECT_EQ(run_connect_step(db_->login(), db_->password(), db_->connect_alias(), status), "");
  EXPECT_EQ(status, kSuccess);
  // The password never reaches the console, also when the connection fails.
  const std::string output =
      run_connect_step(db_->login(), "geheim-4711", db_->connect_alias(), status);
  EXPECT_EQ(output.find("geheim"), std::string::npos);
  if (GetParam() != DbBackend::kSqlite) {
    EXPECT_EQ(status, kInvalidLogin);
    EXPECT_EQ(output, "Datenbankverbindung fehlgeschlagen, Fehler: -1017\n");
  }
}

#ifdef ZARVELT_WITH_ODBC
const std::string kNoClientNotice;
#else
const std::string kNoClientNotice = "Kein Oracle-Client eingebaut: Alias \n";
#endif

TEST(SessionConnectStepTest, AliasOfAtMost41Characters) {
  // "sqlite3:" + 21-character directory + "/KVSYSTEM.db" = 41 characters.
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%012d", static_cast<int>(::getpid()));
  const std::string directory = std::string("/tmp/z41_") + suffix;
  auto db = DbInstallation::create(DbBackend::kSqlite, {}, directory);
  ASSERT_TRUE(db->available());
  ASSERT_TRUE(db->execute(kMasterData));
  const std::string alias = db->connect_alias();
  ASSERT_EQ(alias.size(), 41u);
  std::int32_t status = 0;
  EXPECT_EQ(run_connect_step("", "", alias, status), "");
  EXPECT_EQ(status, kSuccess);
  // One more character: the alias is dropped, which names no data source (or, without ODBC,
  // leaves no backend to carry it).
  const std::string longer = "sqlite3:/" + alias.substr(8);
  EXPECT_EQ(run_connect_step("", "", longer, status),
            kNoClientNotice + "Datenbankverbindung fehlgeschlagen, Fehler: -12154\n");
  EXPECT_EQ(status, kCannotResolveAlias);
  std::filesystem::remove_all(directory);
}

// More client schemas than SQLite can attach (10) or this backend keeps open (2 x 24 statements),
// visited twice in turn with a lookup and inserts into the central schema, alone and batched.
// Through the driver with Oracle's personality both statement caches fill, within its
// OPEN_CURSORS of 50; and once more with the driver's own statement cache, keyed by text alone:
// a statement let go of comes back for the same text, still parsed in the schema of then.
TEST_P(SessionTest, ManyClientSchemasInOneRun) {
  constexpr int kSchemas = 34;
  std::vector<std::string> names;
  for (int i = 1; i <= kSchemas; ++i) {
    names.push_back((i < 10 ? "C0" : "C") + std::to_string(i));
  }
  auto many = DbInstallation::create(GetParam(), names);
  ZARVELT_REQUIRE_DB(many);
  for (int i = 0; i < kSchemas; ++i) {
    ASSERT_TRUE(many->execute("insert into KVS131FCD values ('K1', " + std::to_string(i + 1) + ")",
                              names[i]));
  }
  const auto run = [&](bool batched) {
    ASSERT_TRUE(many->execute("delete from KVSYSTEM.KVS402ZPK"));
    SessionPtr session;
    ASSERT_EQ(
        db::connect(session, many->login(), many->password(), many->connect_alias(), "KVSYSTEM")
            .status,
        kSuccess);
    InsertRow record = access_record("4711", "20240305143015");
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < kSchemas; ++i) {
        ASSERT_EQ(switch_schema(*session, names[i]), kSuccess) << names[i];
        std::string type;
        ASSERT_EQ(lookup_booking_type(*session, "K1", type), kSuccess) << names[i];
        EXPECT_EQ(type, std::to_string(i + 1));
        record.values[testing::kAccessReader] = round * 100 + i;
        ASSERT_EQ(run_insert(*session, record), kSuccess);
        if (!batched) continue;
        std::vector<InsertRow> rows;
        for (const int reader : {1000, 2000}) {
          record.values[testing::kAccessReader] = round * 100 + i + reader;
          rows.push_back(record);
        }
        for (const std::int32_t status : testing::insert_in_batches(*session, rows, 2)) {
          EXPECT_EQ(status, kSuccess);
        }
      }
    }
    EXPECT_EQ(commit(*session), kSuccess);
    EXPECT_THAT(many->query("select count(*) from KVSYSTEM.KVS402ZPK"),
                ElementsAre(std::to_string((batched ? 6 : 2) * kSchemas)));
  };
  const std::string trace = (testing::make_temp_dir() / "driver.trace").string();
  {
    const testing::ScopedEnvironment traced("ZARVELT_ORA_TRACE", trace.c_str());
    run(true);
  }
  if (GetParam() != DbBackend::kOdbcOracle) return;
  // The most cursors the session had open at once: the program's budget of 2 x 24 statements
  // and the control handle, reached and kept.
  const std::string traced = testing::read_file(trace).value_or("");
  std::smatch most;
  ASSERT_TRUE(std::regex_search(traced, most, std::regex("cursors ([0-9]+)"))) << traced;
  EXPECT_EQ(std::stoi(most[1]), 49);
  const testing::ScopedEnvironment cache("ZARVELT_ORA_STATEMENT_CACHE", "20");
  run(false);
}

INSTANTIATE_TEST_SUITE_P(Backends, SessionTest, ::testing::ValuesIn(testing::database_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });

TEST(SessionConnectStepTest, AliasWithoutBuiltInClientIsReportedOnConsole) {
  std::FILE* console = std::tmpfile();
  ASSERT_NE(console, nullptr);
  SessionPtr session;
  // No configuration file: every value is empty, the connect string is "/@".
  EXPECT_EQ(connect_step("/nonexistent/velmarion.ini", Reporter("", console, false), session),
            kCannotResolveAlias);
  std::rewind(console);
  char buffer[256] = {};
  const std::size_t size = std::fread(buffer, 1, sizeof buffer - 1, console);
  std::fclose(console);
  EXPECT_EQ(std::string(buffer, size),
            "Konfigurationsdatei /nonexistent/velmarion.ini kann nicht gelesen werden, "
            "Arbeitsverzeichnis: " +
                std::filesystem::current_path().string() + "\n" + kNoClientNotice +
                "Datenbankverbindung fehlgeschlagen, Fehler: -12154\n");
}

}  // namespace
}  // namespace zarvelt::db

namespace zarvelt::db {
namespace {

// The server ends the session mid-run: the failed statement, every later one and the commit
// report the session as lost, and nothing of the run stays.
class PostgresSessionTest : public ::testing::TestWithParam<DbBackend> {};

std::vector<DbBackend> postgresql_backends() {
  std::vector<DbBackend> backends;
  for (const DbBackend backend : testing::database_backends()) {
    if (backend != DbBackend::kSqlite) backends.push_back(backend);
  }
  return backends;
}

TEST_P(PostgresSessionTest, LostConnectionIsReportedToTheEnd) {
  auto db = DbInstallation::create(GetParam(), {});
  ZARVELT_REQUIRE_DB(db);
  SessionPtr session;
  ASSERT_EQ(
      db::connect(session, db->login(), db->password(), db->connect_alias(), "KVSYSTEM").status,
      kSuccess);
  InsertRow event = testing::event_record();
  ASSERT_EQ(run_insert(*session, event), kSuccess);
  EXPECT_THAT(db->query("select pg_terminate_backend(pid) from pg_stat_activity"
                        " where pid <> pg_backend_pid() and datname = current_database()"),
              ElementsAre("t"));
  event.values[testing::kEventCode] = "026";
  EXPECT_EQ(run_insert(*session, event), kConnectionLost);
  std::string server_time = "old";
  EXPECT_EQ(read_server_time(*session, server_time), kConnectionLost);
  EXPECT_EQ(server_time, "");
  EXPECT_NE(commit(*session), kSuccess);
  EXPECT_TRUE(db->query("select * from KVSYSTEM.O2009BUCHPROT").empty());
}

// A batch stops at a status that ends the run (here a statement cancelled, as by its timeout):
// the inserts after the failing one are never sent and get its status. The session has the
// documented timeouts in force.
TEST_P(PostgresSessionTest, RunEndingStatusEndsTheBatchAtOnce) {
  auto db = DbInstallation::create(GetParam(), {});
  ZARVELT_REQUIRE_DB(db);
  ASSERT_TRUE(db->execute(
      "create sequence zt_failing; create sequence zt_after;"
      "create function zt_count() returns trigger language plpgsql as $$begin "
      "if new.ZpkAsw = 'FAIL' then perform nextval('kvsystem.zt_failing');"
      " raise exception using errcode = '57014'; end if;"
      "if new.ZpkLes > 2 then perform nextval('kvsystem.zt_after'); end if; return new; end$$;"
      "create trigger zt_count before insert on KVS402ZPK for each row execute function "
      "zt_count()"));
  SessionPtr session;
  ASSERT_EQ(
      db::connect(session, db->login(), db->password(), db->connect_alias(), "KVSYSTEM").status,
      kSuccess);
  std::vector<FetchedRow> rows;
  // Oracle has neither setting; the client's deadline bounds its waits.
  const bool oracle = GetParam() == DbBackend::kOdbcOracle;
  for (const auto& [setting, value] :
       {std::pair{"statement_timeout", "30s"}, std::pair{"lock_timeout", "25s"}}) {
    if (oracle) break;
    ASSERT_EQ(session->connection().run(std::string("show ") + setting, {}, 1, rows), kSuccess);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].value_or(""), value) << setting;
  }
  std::vector<InsertRow> inserts;
  for (int reader = 0; reader < 6; ++reader) {
    inserts.push_back(access_record(reader == 2 ? "FAIL" : "4711", "20240305143015"));
    inserts.back().values[testing::kAccessReader] = reader;
  }
  const std::vector<std::int32_t> statuses = testing::insert_in_batches(*session, inserts, 6);
  EXPECT_THAT(statuses,
              ElementsAre(kSuccess, kSuccess, kCancelled, kCancelled, kCancelled, kCancelled));
  const auto calls = [&](const std::string& sequence) {
    return db->query("select case when is_called then last_value else 0 end from kvsystem." +
                     sequence);
  };
  // psqlODBC marks every row of a failed array as failed, so the rows run once more one by one
  // up to the failing one for their own statuses. Oracle's driver names the failed row with its
  // error, so the program sends nothing again; the test driver tries an array whole first and
  // then row by row (running the failing row twice), and in batch-error mode it has run the rows
  // after the failed one within the array: rolled back.
  EXPECT_THAT(calls("zt_failing"), ElementsAre(GetParam() == DbBackend::kPostgresql ? "1" : "2"));
  EXPECT_THAT(calls("zt_after"), ElementsAre(oracle ? "3" : "0"));
}

INSTANTIATE_TEST_SUITE_P(Backends, PostgresSessionTest, ::testing::ValuesIn(postgresql_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace zarvelt::db
