// Time booking export records: columns, refusals, lookups on each backend and what they cost.
#include "handlers/time_booking_export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/session.h"
#include "db_fixture.h"
#include "files/export_file.h"
#include "test_support.h"

namespace zarvelt {
namespace {

TimeExportColumns worked_columns() {
  return {"MAND01", "4711", "20240305", "143015", "3", "K1", ""};
}

TEST(TimeExportRecordTest, WorkedRecordByteForByte) {
  const std::string expected = "MAND01" + std::string(14, ' ') + "4711" + std::string(4, ' ') +
                               "05.03.2024" + "14:30" + "00003" + "K1 " + std::string(30, ' ') +
                               "\n";
  const std::string record = format_time_export_record(worked_columns());
  EXPECT_EQ(record, expected);
  EXPECT_EQ(record.size(), 82u);
}

TEST(TimeExportRecordTest, ColumnsStayInPlace) {
  struct Case {
    const char* name;
    TimeExportColumns columns;
    std::size_t position;  // 0-based start of the column in the record
    std::string column;
  };
  const std::string full_text(30, 'x');
  const std::string long_text = full_text + "CUT";
  const Case cases[] = {
      {"empty schema and personnel number",
       {"", "", "20240305", "143015", "3", "K1", ""},
       0,
       std::string(28, ' ') + "05.03.2024"},
      {"hhmm time", {"M", "1", "20240305", "0705", "3", "K1", ""}, 38, "07:05"},
      {"seconds never shown", {"M", "1", "20240305", "070500", "3", "K1", ""}, 38, "07:0500003"},
      {"missing booking type", {"M", "1", "20240305", "1430", "", "K1", ""}, 43, "00000"},
      {"three-character code", {"M", "1", "20240305", "1430", "3", "K12", ""}, 48, "K12"},
      {"empty code", {"M", "1", "20240305", "1430", "3", "", "T"}, 48, "   T"},
      {"full text", {"M", "1", "20240305", "1430", "3", "K1", full_text}, 51, full_text + "\n"},
      {"text cut to 30",
       {"M", "1", "20240305", "1430", "3", "K1", long_text},
       51,
       full_text + "\n"},
      {"full schema and number",
       {"ABCDEFGHIJKLMNOPQRST", "12345678", "20240305", "1430", "3", "K1", ""},
       0,
       "ABCDEFGHIJKLMNOPQRST1234567805.03.2024"},
  };
  for (const Case& c : cases) {
    const std::string record = format_time_export_record(c.columns);
    EXPECT_EQ(record.size(), 82u) << c.name;
    EXPECT_EQ(record.substr(c.position, c.column.size()), c.column) << c.name;
  }
}

TEST(TimeExportRecordTest, RefusesValuesThatWouldShiftColumns) {
  struct Case {
    TimeExportColumns columns;
    std::string_view refusal;
  };
  const Case cases[] = {
      {worked_columns(), ""},
      {{"M", "1", "20240305", "1430", "-9999", "K12", ""}, ""},
      {{"M", "1", "20240305", "1430", "-10000", "K1", ""},
       "Buchungstyp au\xDF"
       "erhalb des Bereichs :"},
      {{"M", "1", "20240305", "1430", "-32768", "K1", ""},
       "Buchungstyp au\xDF"
       "erhalb des Bereichs :"},
      {{"M", "1", "20240305", "1430", "3", "K123", ""}, "Buchungsart zu lang :"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(time_record_refusal(c.columns), c.refusal)
        << c.columns.booking_type_text << " " << c.columns.function_code;
  }
}

// Master data that must not be asked.
class NoMasterData final : public MasterData {
 public:
  bool reads_ahead() const override { return false; }
  std::vector<Badge> badges(std::span<const db::BadgeKey> keys) override {
    ADD_FAILURE() << "a badge asked for";
    return std::vector<Badge>(keys.size());
  }
  std::vector<Zone> zones(std::span<const std::string> keys) override {
    ADD_FAILURE() << "a zone asked for";
    return std::vector<Zone>(keys.size());
  }
  FunctionCode function_code(const std::string&, const std::string&) override {
    ADD_FAILURE() << "a function code asked for";
    return {};
  }
  void read_ahead_function_codes(std::span<const CodeKey>) override {}
};

// A date or time that cannot fill its columns is refused before any lookup.
TEST(TimeBookingRefusalTest, BadDateOrTimeRefusedBeforeTheDatabase) {
  struct Case {
    std::string date;
    std::string time;
    std::string log_line;
    std::string console;
  };
  const Case cases[] = {
      {"2024035", "1430", "4711, 2024035, Datum ung\xFCltig :\n",
       "Datum ung\xFCltig :\n  Ausweis   : 4711\n   Datum    : 2024035\n   Uhrzeit  : 1430\n"
       "   Terminal : T01\n\n"},
      {"20240305", "143", "4711, 20240305, Uhrzeit ung\xFCltig :\n",
       "Uhrzeit ung\xFCltig :\n  Ausweis   : 4711\n   Datum    : 20240305\n   Uhrzeit  : 143\n"
       "   Terminal : T01\n\n"},
      // Eight and six digits that are no date and no time of day.
      {"20241340", "1430", "4711, 20241340, Datum ung\xFCltig :\n",
       "Datum ung\xFCltig :\n  Ausweis   : 4711\n   Datum    : 20241340\n   Uhrzeit  : 1430\n"
       "   Terminal : T01\n\n"},
      {"20240305", "999999", "4711, 20240305, Uhrzeit ung\xFCltig :\n",
       "Uhrzeit ung\xFCltig :\n  Ausweis   : 4711\n   Datum    : 20240305\n   Uhrzeit  : 999999\n"
       "   Terminal : T01\n\n"},
  };
  for (bool verbose : {false, true}) {
    for (const Case& c : cases) {
      const std::filesystem::path dir = testing::make_temp_dir();
      testing::CapturedConsole console;
      const Reporter reporter((dir / "log.txt").string(), console.file(), verbose);
      const BookingLine line(
          {"4711", "", c.date, c.time, "", "T01", "1", "K1", "", "", "1", "", "", "", "", "40p"});
      // Refused before any database step.
      NoMasterData master_data;
      ExportFile target1;
      const HandlerResult result = export_time_booking(master_data, target1, reporter, line);
      EXPECT_EQ(result.outcome, Outcome::kRefused);
      EXPECT_EQ(testing::read_file(dir / "log.txt").value_or(""), c.log_line);
      EXPECT_EQ(console.text(), verbose ? c.console : "");
      std::filesystem::remove_all(dir);
    }
  }
}

using testing::DbBackend;
using testing::DbInstallation;

// Clients 1 and 2 have their own function codes with different booking types, so a record
// shows in which schema its lookups ran. Client 3 has no schema name (a NULL column, as is
// badge 4715's personnel number), client 4 the name of client 1 in other letter case, client
// 5 a schema that does not exist.
constexpr const char* kCentralData = R"sql(
insert into KVSYSTEM.KVS112MND values (1, 1, 'MAND01');
insert into KVSYSTEM.KVS112MND values (1, 2, 'MAND02');
insert into KVSYSTEM.KVS112MND values (1, 3, null);
insert into KVSYSTEM.KVS112MND values (1, 4, 'mand01');
insert into KVSYSTEM.KVS112MND values (1, 5, 'NOSUCH');
insert into KVSYSTEM.KVS301ASW values ('4711', 1, 1, '4711', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('4712', 1, 2, 'P2', null, '2024-06-30 00:00:00');
insert into KVSYSTEM.KVS301ASW values ('4713', 1, 1, 'P3', '2024-03-01 00:00:00',
                                       '2024-03-31 00:00:00');
insert into KVSYSTEM.KVS301ASW values ('4714', 1, 1, 'P4', null, null);
insert into KVSYSTEM.KVS301ASW values ('4715', 1, 3, null, '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('4716', 1, 4, 'P6', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('4717', 1, 5, 'P7', '2024-01-01 00:00:00', null);
)sql";

constexpr const char* kMand01Data = R"sql(
insert into KVS131FCD values ('K1', 3);
insert into KVS131FCD values ('K2', 7);
insert into KVS131FCD values ('KN', -12);
insert into KVS131FCD values ('KB', -10000);
insert into KVS131FCD values ('K1234', 5);
insert into KVS131FCD values ('K5678', 6);
insert into KVS131FCDUEB values ('K2', 'Q12');
insert into KVS131FCDUEB values ('Q12', 'XXX');
insert into KVS131FCDUEB values ('K5678', 'K9');
)sql";

constexpr const char* kMand02Data = "insert into KVS131FCD values ('K1', -5);";

class TimeBookingExportTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    db_ = DbInstallation::create(GetParam(), {"MAND01", "MAND02"});
    ZARVELT_REQUIRE_DB(db_);
    ASSERT_TRUE(db_->execute(kCentralData));
    ASSERT_TRUE(db_->execute(kMand01Data, "MAND01"));
    ASSERT_TRUE(db_->execute(kMand02Data, "MAND02"));
    ASSERT_EQ(db::connect(session_, db_->login(), db_->password(), db_->connect_alias(), "KVSYSTEM")
                  .status,
              0);
    dir_ = testing::make_temp_dir();
    ASSERT_TRUE(target1_.open((dir_ / "target1").string()));
  }

  void TearDown() override {
    target1_.close();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  int book(const std::string& badge, const std::string& date, const std::string& function_code,
           const std::string& text = "") {
    const BookingLine line({badge, "", date, "143015", "", "T01", "1", function_code, text, "", "1",
                            "", "", "", "", "40p"});
    const Reporter reporter((dir_ / "log.txt").string(), console_.file(), verbose_);
    if (master_data_ == nullptr) {
      master_data_ = std::make_unique<SessionMasterData>(*session_, false);
    }
    last_ = export_time_booking(*master_data_, target1_, reporter, line);
    if (last_.outcome == Outcome::kDone) ++time_bookings_;
    return last_.outcome == Outcome::kDone ? 0 : -1;
  }

  std::string target1() {
    target1_.flush();
    return testing::read_file(dir_ / "target1").value_or("<none>");
  }
  // Columns 5 and 6 (booking type and function code) of every record, one string per record.
  std::vector<std::string> type_and_code_columns() {
    std::vector<std::string> columns;
    const std::string records = target1();
    for (std::size_t at = 0; at + 82 <= records.size(); at += 82) {
      columns.push_back(records.substr(at + 43, 8));
    }
    return columns;
  }
  std::string log() { return testing::read_file(dir_ / "log.txt").value_or(""); }

  std::unique_ptr<DbInstallation> db_;
  db::SessionPtr session_;
  std::filesystem::path dir_;
  testing::CapturedConsole console_;
  bool verbose_ = false;
  ExportFile target1_;
  std::unique_ptr<MasterData> master_data_;
  HandlerResult last_;
  int time_bookings_ = 0;
};

using ::testing::ElementsAre;

TEST_P(TimeBookingExportTest, WorkedRecord) {
  EXPECT_EQ(book("4711", "20240305", "K1"), 0);
  EXPECT_EQ(target1(), "MAND01" + std::string(14, ' ') + "4711" + std::string(4, ' ') +
                           "05.03.2024" + "14:30" + "00003" + "K1 " + std::string(30, ' ') + "\n");
  EXPECT_EQ(time_bookings_, 1);
  EXPECT_EQ(last_.status, db::kNoRow);  // the translation found none
  EXPECT_EQ(log(), "");
  EXPECT_EQ(console_.text(), "");
}

TEST_P(TimeBookingExportTest, BookingTypeAndTranslation) {
  verbose_ = true;
  // K2 is translated to Q12, but its booking type is looked up (and translated) as K2: Q12
  // has no booking type and a translation of its own that must not be used.
  EXPECT_EQ(book("4711", "20240305", "K2"), 0);
  EXPECT_EQ(last_.status, db::kSuccess);
  EXPECT_EQ(book("4711", "20240305", "KN"), 0);
  // No booking type: 00000 and the untranslated code, whatever the booking before had.
  EXPECT_EQ(book("4711", "20240305", "Q12"), 0);
  EXPECT_EQ(last_.status, db::kNoRow);
  EXPECT_EQ(book("4711", "20240305", "K1", std::string(30, 'x') + "CUT"), 0);
  // A function code too long for its column is written when its translation fits.
  EXPECT_EQ(book("4711", "20240305", "K5678"), 0);
  EXPECT_THAT(type_and_code_columns(),
              ElementsAre("00007Q12", "00-12KN ", "00000Q12", "00003K1 ", "00006K9 "));
  EXPECT_EQ(target1().substr(3 * 82 + 51, 31), std::string(30, 'x') + "\n");
  EXPECT_EQ(time_bookings_, 5);
  EXPECT_EQ(log(), "MAND01, 4711, 20240305, Buchungstyp zur Buchungsart Q12 nicht gefunden :\n");
  EXPECT_EQ(console_.text(),
            "Buchungstyp zur Buchungsart Q12 nicht gefunden :\n   Schema   : MAND01\n   PersNr   "
            ": 4711\n   Datum    : 20240305\n   Uhrzeit  : 143015\n   Terminal : T01\n\n");
}

TEST_P(TimeBookingExportTest, ValuesThatWouldShiftColumnsAreRefused) {
  EXPECT_EQ(book("4711", "20240305", "KB"), -1);
  EXPECT_EQ(book("4711", "20240305", "K1234"), -1);
  EXPECT_EQ(target1(), "");
  EXPECT_EQ(time_bookings_, 0);
  EXPECT_EQ(log(),
            "4711, 20240305, Buchungstyp au\xDF"
            "erhalb des Bereichs :\n"
            "4711, 20240305, Buchungsart zu lang :\n");
  EXPECT_EQ(console_.text(), "");
}

TEST_P(TimeBookingExportTest, AsksTheDatabaseOncePerKeyAndSwitchesOnlyToAsk) {
  // Behind the handler's back the session goes to MAND02 after each booking. A booking whose
  // function code the run has not met in its client schema switches and reads its own
  // client's booking type; one met before asks nothing, so the session's schema does not
  // matter; a switch is made only when the run's last switch went elsewhere.
  auto book_and_leave_mand02 = [&](const std::string& badge) {
    EXPECT_EQ(book(badge, "20240305", "K1"), 0) << badge;
    ASSERT_EQ(db::switch_schema(*session_, "MAND02"), 0);
  };
  book_and_leave_mand02("4711");  // MAND01: switch and ask
  book_and_leave_mand02("4711");  // MAND01 again: known
  book_and_leave_mand02("4712");  // MAND02: switch and ask
  book_and_leave_mand02("4711");  // MAND01: known, no switch
  book_and_leave_mand02("4716");  // mand01: another name, so a switch and a question
  EXPECT_THAT(type_and_code_columns(),
              ElementsAre("00003K1 ", "00003K1 ", "000-5K1 ", "00003K1 ", "00003K1 "));
}

TEST_P(TimeBookingExportTest, FailedSwitchIsReportedAndRetried) {
  const std::string message = "!!! Schema konnte nicht gewechselt werden: NOSUCH !!!\n";
  EXPECT_EQ(book("4711", "20240305", "K1"), 0);
  EXPECT_EQ(book("4717", "20240305", "K1"), -1);
  EXPECT_NE(last_.status, db::kSuccess);
  EXPECT_EQ(book("4717", "20240305", "K1"), -1);
  EXPECT_EQ(book("4711", "20240305", "K1"), 0);
  EXPECT_EQ(time_bookings_, 2);
  EXPECT_THAT(type_and_code_columns(), ElementsAre("00003K1 ", "00003K1 "));
  // Printed in every mode; the log shows an empty line after each.
  EXPECT_EQ(console_.text(), message + message);
  EXPECT_EQ(log(), message + "\n" + message + "\n");
}

TEST_P(TimeBookingExportTest, NullSchemaGoesOnWithEmptyColumns) {
  // No switch yet: none to the empty name either; the lookups run in KVSYSTEM and find
  // nothing.
  EXPECT_EQ(book("4715", "20240305", "K1"), 0);
  EXPECT_EQ(target1(), std::string(28, ' ') + "05.03.2024" + "14:30" + "00000" + "K1 " +
                           std::string(30, ' ') + "\n");
  EXPECT_EQ(log(), ", , 20240305, Buchungstyp zur Buchungsart K1 nicht gefunden :\n");
  // With a current schema the empty name is switched to, which the database refuses.
  EXPECT_EQ(book("4711", "20240305", "K1"), 0);
  EXPECT_EQ(book("4715", "20240305", "K1"), -1);
  EXPECT_EQ(console_.text(), "!!! Schema konnte nicht gewechselt werden:  !!!\n");
  EXPECT_EQ(time_bookings_, 2);
}

TEST_P(TimeBookingExportTest, BadgeMustBeValidOnTheBookingDate) {
  struct Case {
    std::string badge;
    std::string date;
    bool found;
  };
  const Case cases[] = {
      {"4711", "20231231", false}, {"4711", "20240101", true},
      {"4712", "20240630", true},  {"4712", "20240701", false},
      {"4713", "20240229", false}, {"4713", "20240301", true},
      {"4713", "20240331", true},  {"4713", "20240401", false},
      {"4714", "20240305", false}, {"9999", "20240305", false},
      {"", "20240305", false},     {std::string(51, '4'), "20240305", false},
  };
  std::string expected_log;
  int written = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(book(c.badge, c.date, "K1"), c.found ? 0 : -1) << c.badge << " " << c.date;
    if (c.found) {
      ++written;
    } else {
      expected_log += c.badge + ", " + c.date + ", Schema/Personalnr. nicht gefunden :\n";
    }
  }
  EXPECT_EQ(time_bookings_, written);
  EXPECT_EQ(target1().size(), 82u * written);
  EXPECT_EQ(log(), expected_log);
  EXPECT_EQ(console_.text(), "");

  verbose_ = true;
  EXPECT_EQ(book("4714", "20240305", "K1"), -1);
  EXPECT_EQ(console_.text(),
            "Schema/Personalnr. nicht gefunden :\n  Ausweis   : 4714\n   Datum    : 20240305\n"
            "   Uhrzeit  : 143015\n   Terminal : T01\n\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, TimeBookingExportTest,
                         ::testing::ValuesIn(testing::database_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace zarvelt
