// The Oracle texts of every statement the program and its self-test run, where no Oracle server
// runs: parsed by a real Oracle SQL grammar and checked against the Oracle tables in sql/oracle/
// (tests/oracle_grammar.py), and executed on the PostgreSQL test database through a compatibility
// schema (tests/oracle_compat.sql), with the same master data and inputs as the PostgreSQL texts
// and the same answers and rows expected of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "admin/probes.h"
#include "db/session.h"
#include "db/statements.h"
#include "db_fixture.h"
#include "handlers/access_booking_insert.h"
#include "handlers/event_insert.h"
#include "test_support.h"

namespace zarvelt::db {
namespace {

// The self-test's own reads (tools/admin/probes.h) are checked here with the program's texts.
using namespace zarvelt::admin;

std::string kinds_of(std::span<const BoundValue> inputs) {
  std::string kinds;
  for (const BoundValue& input : inputs) {
    kinds += input.kind == BoundValue::Kind::kText      ? " text"
             : input.kind == BoundValue::Kind::kInteger ? " number"
                                                        : " null";
  }
  return kinds;
}

// Answers every statement with success and, for a query, one row of small numbers; keeps the
// texts it was given, each with the kinds of its inputs.
class RecordingOracleConnection : public Connection {
 public:
  explicit RecordingOracleConnection(std::vector<std::string>& texts) : texts_(texts) {}
  Dialect dialect() const override { return Dialect::kOracle; }
  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    texts_.push_back("-- inputs:" + kinds_of(inputs) + "\n" + std::string(text));
    rows.clear();
    if (max_rows > 0) rows.push_back(FetchedRow(8, std::string("1")));
    return kSuccess;
  }
  std::int32_t set_session_schema(std::string_view) override { return kSuccess; }
  std::int32_t commit() override { return kSuccess; }
  bool sends_together() const override { return true; }
  void run_batch(std::span<const BatchedInsert> batch,
                 std::vector<std::int32_t>& statuses) override {
    for (const BatchedInsert& insert : batch) {
      std::vector<BoundValue> inputs;
      for (const OwnedValue& value : insert.inputs) inputs.push_back(value.bound());
      texts_.push_back("-- inputs:" + kinds_of(inputs) + "\n" + std::string(insert.absorbing_text));
    }
    statuses.resize(statuses.size() + batch.size(), kSuccess);
  }

 private:
  std::vector<std::string>& texts_;
};

// The checker's exit status on the statement files, checked against the Oracle tables; its
// report into report.
int check_oracle_texts(const std::vector<std::string>& files, std::string& report) {
  const std::string source(ZARVELT_SOURCE_DIR);
  std::string command = "/usr/bin/python3 " + source + "/tests/oracle_grammar.py --central " +
                        source + "/sql/oracle/central.sql --client " + source +
                        "/sql/oracle/client.sql";
  for (const std::string& file : files) command += " '" + file + "'";
  std::FILE* checker = ::popen((command + " 2>&1").c_str(), "r");
  if (checker == nullptr) return -1;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, checker)) > 0;) {
    report.append(buffer, n);
  }
  return ::pclose(checker);
}

TEST(OracleTextsTest, EveryOracleTextParsesAndNamesTheOracleTables) {
  if (std::system("/usr/bin/python3 -c 'import sqlglot' 2>/dev/null") != 0) {
    if (std::getenv("CI") != nullptr) FAIL() << "python3-sqlglot is not installed";
    GTEST_SKIP() << "python3-sqlglot is not installed";
  }
  std::vector<std::string> texts;
  Session session{std::make_unique<RecordingOracleConnection>(texts)};
  std::string text;
  std::int32_t number = 0;
  read_server_time(session, text);
  std::string personnel_number, client_schema;
  lookup_badge(session, "4711", "20240305", personnel_number, client_schema);
  lookup_booking_type(session, "K1", text);
  translate_function_code(session, "K1", text);
  lookup_zone(session, "Z1200", number);
  const InsertRow access_row = {&kAccessInsert,
                                {"T01", 1, "20240305", "20240305143015", "4711", 100, "001"}};
  const InsertRow event_row = {
      &kEventInsert, {"T01", 1, "4711", "20240305", "20240305143015", "025", 200, "text"}};
  run_insert(session, access_row);
  run_insert(session, event_row);
  testing::insert_in_batches(session, {access_row, event_row}, 2);  // the inserts' batch forms
  // The installation self-test's own reads (probes.h), in a client schema.
  switch_schema(session, "MAND01");
  std::vector<std::string> schemas;
  read_client_schemas(session, schemas);
  sample_function_codes(session, CodeTable::kBookingTypes, 8, schemas);
  const std::string codes[] = {"K1"};
  std::vector<TextAnswer> answers;
  read_function_codes_by_name(session, CodeTable::kTranslations, codes, answers);
  AccessReadBack access;
  read_back_access(session, "T01", 1, access);
  read_back_access_null_column(session, "T01", 1);
  read_back_event(session, "T01", 1, text, text);
  count_rows_of_terminal(session, "T01", number);
  std::vector<BadgeSample> badges;
  sample_valid_badges(session, "20240305", 1, badges);
  // The catalogue: Oracle's data dictionary.
  std::vector<TableShape> tables;
  const std::string names[] = {"KVS402ZPK"};
  read_table_shapes(session, true, names, tables);
  read_character_set(session, text);
  read_open_cursor_limit(session, number);
  ASSERT_EQ(texts.size(), 21u);

  const std::filesystem::path directory = testing::make_temp_dir();
  const auto write = [&directory](const std::string& name, const std::vector<std::string>& all) {
    const std::string path = (directory / name).string();
    std::ofstream out(path);
    for (const std::string& statement : all) out << statement << "\n--\n";
    return path;
  };
  std::string report;
  EXPECT_EQ(check_oracle_texts({write("statements.sql", texts)}, report), 0) << report;
  // The checker itself refuses each of these faults in one text.
  const struct {
    std::size_t text;
    std::string from, to;
  } kFaults[] = {
      {8, "values", "valus"},                        // no SQL
      {1, "ASWPNR ", "ASWPRN "},                     // no such column
      {4, "KVS405ZZS", "KVS405ZZ"},                  // no such table
      {3, "KVS131FCDUEB", "KVSYSTEM.KVS131FCDUEB"},  // a client table in the central schema
      {5, ":7)", ":8)"},                             // an input left out, one that is not there
      {5, ":1,:2,", ":2,:1,"},                       // a number into a text column
      {6, "hh24miss'", "hh24mis'"},                  // no Oracle date format mask
      {1, "to_char(ASWGVO", "to_char(ASWNUM"},       // a date function given a text
      {7, "ZpkLes,ZpkUhr", "ZpkLes,ZpkDtm"},         // the hint's columns no unique key
      {8, "IGNORE_ROW_ON_DUPKEY", "IGNORE_ROWS_ON_DUPKEY"},  // a misspelled hint
      {17, "CHAR_USED", "CHAR_USE"},                         // no such dictionary column
      {18, "SYS.ALL_INDEXES", "SYS.ALL_INDEX"},              // no such dictionary view
  };
  std::vector<std::string> faulty;
  for (const auto& fault : kFaults) {
    std::string text = texts[fault.text];
    const std::size_t at = text.find(fault.from);
    if (at == std::string::npos) {
      ADD_FAILURE() << "the faults above no longer fit text " << fault.text << ": " << text;
      continue;
    }
    faulty.push_back(write("faulty" + std::to_string(faulty.size()) + ".sql",
                           {text.replace(at, fault.from.size(), fault.to)}));
  }
  report.clear();
  EXPECT_NE(check_oracle_texts(faulty, report), 0);
  for (const std::string& file : faulty) {
    EXPECT_NE(report.find(file + ": "), std::string::npos) << "not refused: " << file << "\n"
                                                           << report;
  }
  std::filesystem::remove_all(directory);
}

// Runs the Oracle texts on a PostgreSQL connection, changed only where no function can stand in
// for what Oracle says: the placeholders :n become $n and SYSDATE localtimestamp(0). Whatever
// else the texts need comes from the compatibility schema, which it puts first in the search
// path after each schema switch.
class OracleTextsOnPostgresql : public Connection {
 public:
  explicit OracleTextsOnPostgresql(std::unique_ptr<Connection> postgresql)
      : postgresql_(std::move(postgresql)) {}

  // The Oracle texts run, and those that failed with a status no booking's values can cause (a
  // wrong name, a wrong function: the text's own fault), each with that status.
  std::set<std::string> executed;
  std::map<std::string, std::int32_t> faults;  // the first such status of each text

  Dialect dialect() const override { return Dialect::kOracle; }
  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    return judged(text, postgresql_->run(renamed(text), inputs, max_rows, rows));
  }
  std::int32_t set_session_schema(std::string_view schema) override {
    const std::int32_t status = postgresql_->set_session_schema(schema);
    if (status != kSuccess) return status;
    static constexpr std::string_view kCompatibilityFirst =
        "select set_config('search_path', 'oracle_compat, pg_catalog, ' || "
        "current_setting('search_path'), false)";
    std::vector<FetchedRow> rows;
    return postgresql_->run(kCompatibilityFirst, {}, 1, rows);
  }
  std::int32_t commit() override { return postgresql_->commit(); }
  bool sends_together() const override { return postgresql_->sends_together(); }
  std::int32_t duplicate_hint_refusal() const override {
    return postgresql_->duplicate_hint_refusal();
  }
  void run_batch(std::span<const BatchedInsert> batch,
                 std::vector<std::int32_t>& statuses) override {
    std::vector<BatchedInsert> renamed_batch;
    for (const BatchedInsert& insert : batch) {
      renamed_batch.push_back(
          {renamed(insert.text), renamed(insert.absorbing_text), insert.inputs});
    }
    const std::size_t first = statuses.size();
    postgresql_->run_batch(renamed_batch, statuses);
    for (std::size_t i = 0; i < batch.size() && first + i < statuses.size(); ++i) {
      judged(batch[i].absorbing_text, statuses[first + i]);
    }
  }
  void run_queries(std::string_view text, std::span<const std::vector<OwnedValue>> inputs,
                   std::size_t max_rows, std::vector<std::int32_t>& statuses,
                   std::vector<std::vector<FetchedRow>>& rows) override {
    const std::size_t first = statuses.size();
    postgresql_->run_queries(renamed(text), inputs, max_rows, statuses, rows);
    for (std::size_t i = first; i < statuses.size(); ++i) judged(text, statuses[i]);
  }

 private:
  // No literal of the texts holds a colon before a digit (one would fail the test, not pass).
  std::string_view renamed(std::string_view oracle) {
    executed.emplace(oracle);
    auto [at, added] = renamed_.try_emplace(std::string(oracle));
    if (added) {
      at->second =
          std::regex_replace(std::regex_replace(at->first, std::regex(":([0-9]+)"), "$$$1"),
                             std::regex("\\bSYSDATE\\b"), "localtimestamp(0)");
    }
    return at->second;
  }

  std::int32_t judged(std::string_view text, std::int32_t status) {
    if (status_scope(status) != StatusScope::kBooking) {
      faults.try_emplace(std::string(text), status);
    }
    return status;
  }

  std::unique_ptr<Connection> postgresql_;
  std::map<std::string, std::string> renamed_;  // Oracle text -> the text sent
};

constexpr const char* kMasterData = R"sql(
insert into KVSYSTEM.KVS112MND values (1, 1, 'MAND01'), (1, 2, 'MAND02'), (1, 3, null);
insert into KVSYSTEM.KVS301ASW values ('4711', 1, 1, '4711', '2024-02-10 00:00:00', null),
  ('4712', 1, 2, 'P2', null, '2024-06-30 00:00:00'),
  ('4713', 1, 1, 'P3', '2024-03-01 08:00:00', '2024-03-31 17:00:00'),
  ('4714', 1, 1, 'P4', null, null), ('4715', 1, 3, 'P5', '2024-01-15 00:00:00', null),
  ('4716', 1, 1, null, '2024-02-01 00:00:00', null),
  ('TWICE', 1, 1, 'A', '2024-01-20 00:00:00', null),
  ('TWICE', 1, 2, 'B', '2024-01-20 00:00:00', null);
insert into KVSYSTEM.KVS405ZZS values ('Z1200', 7), ('Z1200', 7), ('Z2200', 8), ('Z2200', 9);
)sql";

// The booking moments the inserts get: each length the texts take, each way a date or time
// can be no moment of the calendar, other lengths, a letter, none.
const std::string kMoments[] = {
    "20240305143015",
    "20240305",
    "2024030514",
    "202403051430",
    "20240005143015",
    "20240300143015",
    "00000305143015",
    "20240230143015",
    "20240229235959",
    "20240305240000",
    "20240305146015",
    "20240305143060",
    "202403051",
    "2024030514301",
    "202403051430151",
    "2024O305143015",
    "",
};

// The same calls in the same order on either session, each answer a line "what: status ...".
std::vector<std::string> run_statements(Session& session) {
  std::vector<std::string> answers;
  const auto say = [&answers](const std::string& what, std::int32_t status,
                              const std::string& output = "") {
    answers.push_back(what + ": " + std::to_string(status) + " " + output);
  };
  std::string server_time;
  const std::int32_t status = read_server_time(session, server_time);
  const std::regex moment(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)");
  say("server time", status, std::regex_match(server_time, moment) ? "dd.mm.yyyy hh24:mi:ss" : "");

  const std::vector<std::string> codes = {"K1", "KN", "K9", std::string(19, 'K')};
  for (const std::string schema : {"MAND01", "MAND02", "NOSUCH"}) {
    say("switch to " + schema, switch_schema(session, schema));
    std::vector<TextAnswer> types, translations;
    lookup_booking_types(session, codes, types);
    translate_function_codes(session, codes, translations);
    for (std::size_t i = 0; i < codes.size(); ++i) {
      say(schema + " booking type " + codes[i], types[i].status, types[i].text);
      say(schema + " translation " + codes[i], translations[i].status, translations[i].text);
    }
  }
  std::vector<BadgeKey> badges;
  for (const char* badge : {"4711", "4712", "4713", "4714", "4715", "4716", "TWICE", "NONE"}) {
    for (const char* date : {"20231231", "20240301", "20240331", "20240630", "20240701"}) {
      badges.push_back({badge, date});
    }
  }
  std::vector<BadgeAnswer> badge_answers;
  lookup_badges(session, badges, badge_answers);
  for (std::size_t i = 0; i < badges.size(); ++i) {
    say("badge " + badges[i].badge + " on " + badges[i].date, badge_answers[i].status,
        badge_answers[i].personnel_number + " " + badge_answers[i].client_schema);
  }
  const std::vector<std::string> zones = {"Z1200", "Z2200", "Z3300"};
  std::vector<ZoneAnswer> zone_answers;
  lookup_zones(session, zones, zone_answers);
  for (std::size_t i = 0; i < zones.size(); ++i) {
    say("zone " + zones[i], zone_answers[i].status, std::to_string(zone_answers[i].zone_number));
  }

  // One at a time, then sent together (the duplicate-absorbing texts), each with duplicates.
  for (const std::size_t batch_size : {1, 8}) {
    const std::string terminal = batch_size == 1 ? "ONE" : "BATCH";
    std::vector<std::string> what;
    std::vector<InsertRow> rows;
    for (std::size_t i = 0; i <= std::size(kMoments); ++i) {
      const std::string& at = kMoments[i % std::size(kMoments)];  // the first twice
      const std::string date = at.substr(0, 8);
      const auto reader = static_cast<std::int32_t>(i % std::size(kMoments));
      const std::string badge = reader % 3 == 2 ? "" : "4711";
      what.push_back("access " + terminal + " " + at);
      rows.push_back({&kAccessInsert, {terminal, reader, date, at, badge, 100 + reader, "001"}});
      if (at.size() > 14) continue;  // beyond the event's host variable
      what.push_back("event " + terminal + " " + at);
      rows.push_back({&kEventInsert,
                      {terminal, reader, badge, date, at, "K1", reader,
                       std::string(reader % 2 == 0 ? "Text" : "")}});
    }
    const std::vector<std::int32_t> statuses =
        testing::insert_in_batches(session, rows, batch_size);
    for (std::size_t i = 0; i < rows.size(); ++i) say(what[i], statuses[i]);
  }
  say("duplicate hint refused", duplicate_hint_refusal(session));
  say("commit", commit(session));
  return answers;
}

// The PostgreSQL texts and the Oracle texts, each on an installation of its own, through libpq:
// psqlODBC sends each "?" untyped, and PostgreSQL cannot type one that stands alone
// ("? IS NOT NULL"), as Oracle does from the client's bind.
TEST(OracleTextsTest, OracleTextsRunOnPostgresqlAsThePostgresqlTexts) {
  using testing::DbBackend;
  using testing::DbInstallation;
  std::unique_ptr<DbInstallation> installations[2];
  std::vector<std::string> answers[2];
  std::set<std::string> executed;
  for (const int oracle : {0, 1}) {
    std::unique_ptr<DbInstallation>& db = installations[oracle];
    db = DbInstallation::create(DbBackend::kPostgresql, {"MAND01", "MAND02"});
    ZARVELT_REQUIRE_DB(db);
    ASSERT_TRUE(db->execute(kMasterData));
    ASSERT_TRUE(
        db->execute("insert into KVS131FCD values ('K1', 3), ('KN', null);"
                    "insert into KVS131FCDUEB values ('K1', 'Q12'), ('KN', null);",
                    "MAND01"));
    ASSERT_TRUE(db->execute("insert into KVS131FCD values ('K1', -5);", "MAND02"));
    SessionPtr session;
    ASSERT_EQ(
        db::connect(session, db->login(), db->password(), db->connect_alias(), "KVSYSTEM").status,
        kSuccess);
    OracleTextsOnPostgresql* adapter = nullptr;
    if (oracle) {
      const std::optional<std::string> compatibility =
          testing::read_file(std::string(ZARVELT_SOURCE_DIR) + "/tests/oracle_compat.sql");
      ASSERT_TRUE(compatibility.has_value());
      ASSERT_TRUE(db->execute(*compatibility));
      session->wrap_connection([&adapter](std::unique_ptr<Connection> postgresql) {
        auto wrapped = std::make_unique<OracleTextsOnPostgresql>(std::move(postgresql));
        adapter = wrapped.get();
        return wrapped;
      });
      ASSERT_EQ(switch_schema(*session, "KVSYSTEM"), kSuccess);
    }
    answers[oracle] = run_statements(*session);
    if (adapter != nullptr) {
      executed = adapter->executed;
      for (const auto& [text, status] : adapter->faults) {
        ADD_FAILURE() << "status " << status << " from the Oracle text " << text;
      }
    }
  }
  // Every statement, in each of its forms: no answer below comes from a PostgreSQL text.
  EXPECT_EQ(executed.size(), 9u);
  ASSERT_EQ(answers[1].size(), answers[0].size());
  std::string differing;
  for (std::size_t i = 0; i < answers[0].size(); ++i) {
    if (answers[1][i] != answers[0][i]) {
      differing +=
          "  Oracle texts:     " + answers[1][i] + "\n  PostgreSQL texts: " + answers[0][i] + "\n";
    }
  }
  EXPECT_TRUE(differing.empty()) << "the Oracle texts answer otherwise:\n" << differing;
  for (const char* rows :
       {"select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkMld, ZpkLfd, "
        "abs(extract(epoch from localtimestamp(0) - ZpkDat)) < 3600 from KVS402ZPK "
        "order by ZpkTrm, ZpkLes, ZpkUhr",
        "select * from O2009BUCHPROT order by BPRTRM, BPRZLS, BPRDTE"}) {
    const std::vector<std::string> stored = installations[0]->query(rows);
    EXPECT_FALSE(stored.empty()) << rows;
    EXPECT_EQ(installations[1]->query(rows), stored) << "the Oracle texts store otherwise";
  }
}

}  // namespace
}  // namespace zarvelt::db
