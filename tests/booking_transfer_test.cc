// End-to-end runs of the built program over a booking file that walks through every row of
// the dispatch cases, on each database backend: the export files, the protocol rows, the
// transfer log and the console, byte for byte. The Windows build runs the same under wine64
// (ZARVELT_WINDOWS_BINARY, WINEPREFIX), with PostgreSQL reached through the host's ODBC.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "config_tool/config_writer.h"
#include "db_fixture.h"
#include "driver/dispatch.h"
#include "test_support.h"

namespace zarvelt {
namespace {

using testing::DbBackend;
using testing::DbInstallation;
using ::testing::ElementsAre;
using testing::ProgramRun;
using testing::read_file;
using testing::seen_exit_status;

constexpr const char* kWine = "/usr/lib/wine/wine64";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A text as a Windows program writes it in text mode: every LF preceded by a CR.
std::string with_crlf(const std::string& text) {
  std::string converted;
  for (const char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

constexpr const char* kCentralData = R"sql(
insert into KVSYSTEM.KVS112MND values (1, 1, 'MAND01');
insert into KVSYSTEM.KVS112MND values (1, 2, 'MAND02');
insert into KVSYSTEM.KVS301ASW values ('4711', 1, 1, '4711', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS301ASW values ('4712', 1, 2, 'P2', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS405ZZS values ('Z1200', 7);
)sql";

constexpr const char* kMand01Data = R"sql(
insert into KVS131FCD values ('K1', 3);
insert into KVS131FCD values ('K2', 7);
insert into KVS131FCDUEB values ('K2', 'Q12');
)sql";

constexpr const char* kMand02Data = "insert into KVS131FCD values ('K1', -5);";

// The fields of one booking line; unnamed ones stay empty.
struct Booking {
  std::string kind{};  // field 15
  std::string badge = "4711";
  std::string date = "20240305";
  std::string time{};
  std::string reader_number = "1";
  std::string function_code{};  // field 7
  std::string text{};           // field 8
  std::string time_mark{};      // field 10
  std::string access_result{};  // field 11
  std::string status_number{};  // field 12
  std::string zone_prefix{};    // field 13
  std::string terminal = "T01";
};

std::string booking_line(const Booking& b) {
  const std::vector<std::string> fields = {b.badge,
                                           "",
                                           b.date,
                                           b.time,
                                           "",
                                           b.terminal,
                                           b.reader_number,
                                           b.function_code,
                                           b.text,
                                           "",
                                           b.time_mark,
                                           b.access_result,
                                           b.status_number,
                                           b.zone_prefix,
                                           "",
                                           b.kind};
  std::string line = fields[0];
  for (std::size_t i = 1; i < fields.size(); ++i) line += "," + fields[i];
  return line + "\r\n";
}

// One line of the booking file and what a verbose run prints after echoing it.
struct SourceLine {
  std::string line;
  std::string console_after;
};

const std::string kBadgeNotFoundBlock =
    "Schema/Personalnr. nicht gefunden :\n  Ausweis   : \n   Datum    : 20240305\n"
    "   Uhrzeit  : 143500\n   Terminal : T01\n\n";
const std::string kLongBadgeInsertFailed = " Insert in Kvs402Zpk fehlgeschlagen, Fehler -12899\n";

std::vector<SourceLine> source_lines() {
  return {
      // A time booking (the worked record), then its access booking.
      {booking_line({.kind = "40p",
                     .time = "143015",
                     .function_code = "K1",
                     .time_mark = "1",
                     .access_result = "1"}),
       ""},
      // A time booking only, of another client.
      {booking_line({.kind = "40p",
                     .badge = "4712  \t",
                     .time = "143100",
                     .function_code = "K1",
                     .text = "Spaetdienst",
                     .time_mark = "1"}),
       ""},
      // An access booking only.
      {booking_line({.kind = "40p", .badge = "4713", .time = "143200", .access_result = "B"}), ""},
      // Neither.
      {booking_line({.kind = "40p", .badge = "4714", .time = "143230"}), ""},
      // A door access booking with the status number as code.
      {booking_line({.kind = "dta",
                     .badge = "4715",
                     .time = "143300",
                     .function_code = "024",
                     .status_number = "100"}),
       ""},
      // A door time booking with a translated function code, and one without a badge.
      {booking_line(
           {.kind = "dta", .time = "143400", .function_code = "K2", .status_number = "100"}),
       ""},
      {booking_line({.kind = "dta",
                     .badge = "",
                     .time = "143500",
                     .function_code = "025",
                     .status_number = "100"}),
       kBadgeNotFoundBlock},
      // A door access booking without a badge.
      {booking_line({.kind = "dta",
                     .badge = " \t",
                     .time = "143600",
                     .function_code = "025",
                     .status_number = "200"}),
       ""},
      // An access booking again, with a badge too long for the access protocol: refused, never cut.
      {booking_line(
           {.kind = "40p", .badge = std::string(20, '7'), .time = "143650", .access_result = "1"}),
       kLongBadgeInsertFailed},
      // An event, then its access booking.
      {booking_line({.kind = "dta",
                     .date = "20260107",
                     .time = "153000",
                     .reader_number = "2",
                     .function_code = "025",
                     .status_number = "200"}),
       ""},
      // A zone access booking with and without a zone.
      {booking_line({.kind = "62p", .time = "143700", .status_number = "200", .zone_prefix = "Z1"}),
       ""},
      {booking_line({.kind = "62p", .time = "143800", .status_number = "200", .zone_prefix = "Z9"}),
       ""},
      // A cost-centre booking.
      {booking_line({.kind = "50p", .badge = "12345", .time = "143015", .text = "4711"}), ""},
      // Unknown record kinds, and lines of another terminal: nothing.
      {booking_line({.kind = "70p", .time = "143900", .time_mark = "1", .access_result = "1"}), ""},
      {booking_line({.kind = "40P", .time = "144000", .time_mark = "1", .access_result = "1"}), ""},
      {booking_line({.kind = "40p",
                     .time = "144100",
                     .time_mark = "1",
                     .access_result = "1",
                     .terminal = "t01"}),
       ""},
  };
}

std::string blanks(std::size_t count) { return std::string(count, ' '); }

const std::string kTarget1 = "MAND01" + blanks(14) + "4711" + blanks(4) + "05.03.2024" + "14:30" +
                             "00003" + "K1 " + blanks(30) + "\n" +  //
                             "MAND02" + blanks(14) + "P2" + blanks(6) + "05.03.2024" + "14:31" +
                             "000-5" + "K1 " + "Spaetdienst" + blanks(19) + "\n" +  //
                             "MAND01" + blanks(14) + "4711" + blanks(4) + "05.03.2024" + "14:34" +
                             "00007" + "Q12" + blanks(30) + "\n";
const std::string kTarget2 = "050324143015" + std::string("12345") + blanks(8) + "0004711";

// The log's summary of these counts (in the order of the kinds table), with its line end.
std::string summary(const Counters& counted) { return summary_text(counted) + "\n"; }

// The run record's counts of what was transferred, by the kinds' record labels.
std::string transferred(const Counters& counted) {
  std::string text = "\"transferred\":{";
  for (std::size_t kind = 0; kind < kBookingKinds.size(); ++kind) {
    text += (kind == 0 ? "\"" : ",\"") + std::string(kBookingKinds[kind].record_label) +
            "\":" + std::to_string(counted[kind]);
  }
  return text + "}";
}

// The files a run leaves in the log directory besides the log, by name.
std::vector<std::filesystem::path> files_named(const std::filesystem::path& directory,
                                               const std::string& prefix) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

class BookingTransferTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    db_ = set_up_database(installation_);
    ZARVELT_REQUIRE_DB(db_);
    std::string source;
    for (const SourceLine& line : source_lines()) source += line.line;
    testing::write_file(in_working_dir("bookings.txt"), source);
  }

  // A database of the test's backend with the master data, and the installation's
  // configuration pointing at it.
  std::unique_ptr<DbInstallation> set_up_database(const testing::TempInstallation& installation) {
    auto db = DbInstallation::create(GetParam(), {"MAND01", "MAND02"},
                                     (installation.root() / "db").string());
    if (!db->available()) return db;
    EXPECT_TRUE(db->execute(kCentralData));
    EXPECT_TRUE(db->execute(kMand01Data, "MAND01"));
    EXPECT_TRUE(db->execute(kMand02Data, "MAND02"));
    testing::write_installation_config(installation.config_path().string(),
                                       installation.working_dir().string(), *db);
    return db;
  }

  ProgramRun run(bool verbose) {
    std::vector<std::string> arguments = {"T01", "bookings.txt", "target1.txt", "target2.txt"};
    if (verbose) arguments.push_back("/D");
    return run_program(arguments);
  }

  ProgramRun run_program(std::vector<std::string> arguments) {
    if (windows_binary_.empty())
      return testing::run_zarvelt(arguments, installation_.working_dir());
    arguments.insert(arguments.begin(), windows_binary_);
    return testing::run_binary(kWine, arguments, installation_.working_dir(),
                               {{"WINEDEBUG", "-all"}});
  }

  // The console and the log as this build writes text: with CR LF on Windows.
  std::string as_text(const std::string& text) const {
    return windows_binary_.empty() ? text : with_crlf(text);
  }

  // The transfer log with the line ends taken back to LF; on Windows every LF must follow a CR.
  std::string log_lines() {
    const std::string log = read_file(installation_.log_path()).value_or("");
    if (windows_binary_.empty()) return log;
    std::string lines;
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n') {
        ++i;
      } else if (log[i] == '\n') {
        ADD_FAILURE() << "LF without CR at byte " << i << " of the log";
      }
      lines += log[i];
    }
    return lines;
  }

  std::filesystem::path in_working_dir(const std::string& name) {
    return installation_.working_dir() / name;
  }

  // The log split into runs: each run's server time and the lines after its header.
  struct LoggedRun {
    std::string server_time;
    std::string lines;
  };
  std::vector<LoggedRun> logged_runs() {
    const std::string log = log_lines();
    const std::string header =
        "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
        "bergabe am ";
    std::vector<LoggedRun> runs;
    std::size_t at = log.find(header);
    EXPECT_EQ(at, 0u) << log;
    while (at != std::string::npos) {
      const std::size_t time_at = at + header.size();
      const std::size_t next = log.find(header, time_at);
      const std::string rest =
          log.substr(time_at, next == std::string::npos ? next : next - time_at);
      // dd.mm.yyyy hh:mm:ss, a colon and the line end.
      if (rest.size() < 21 || rest.substr(19, 2) != ":\n") {
        ADD_FAILURE() << "header without server time: " << rest;
        break;
      }
      runs.push_back({rest.substr(0, 19), rest.substr(21)});
      at = next;
    }
    return runs;
  }

  std::vector<std::string> access_rows() {
    return db_->query(
        "select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkMld, ZpkLfd "
        "from KVSYSTEM.KVS402ZPK order by ZpkUhr");
  }
  std::vector<std::string> event_rows() {
    return db_->query(
        "select BPRTRM, BPRZLS, BPRAWV, BPRDAT, BPRDTE, BPRFCD, BPRERG, BPRVAR "
        "from KVSYSTEM.O2009BUCHPROT");
  }

  void expect_exports() {
    EXPECT_EQ(read_file(in_working_dir("target1.txt")), kTarget1);
    EXPECT_EQ(read_file(in_working_dir("target2.txt")), kTarget2);
  }

  void expect_protocol_rows() {
    const std::string booked = "T01|1|2024-03-05 00:00:00|2024-03-05 ";
    const std::string no_message = "|<NULL>|<NULL>|001";
    EXPECT_THAT(
        access_rows(),
        ElementsAre(
            booked + "14:30:15|4711|100" + no_message, booked + "14:32:00|4713|202" + no_message,
            booked + "14:33:00|4715|100" + no_message, booked + "14:36:00|<NULL>|200" + no_message,
            booked + "14:37:00|4711|7" + no_message, booked + "14:38:00|4711|0" + no_message,
            "T01|2|2026-01-07 00:00:00|2026-01-07 15:30:00|4711|200" + no_message));
    EXPECT_THAT(event_rows(),
                ElementsAre("T01|2|4711|2026-01-07 00:00:00|2026-01-07 15:30:00|025|200|<NULL>"));
  }

  void every_booking_reaches_its_destination();

  testing::TempInstallation installation_;
  std::unique_ptr<DbInstallation> db_;
  std::string windows_binary_;  // empty: the program of this build
};

void BookingTransferTest::every_booking_reaches_its_destination() {
  const ProgramRun quiet = run(false);
  EXPECT_EQ(quiet.exit_status, 0) << quiet.console << quiet.error_output;
  // Only the failed insert is printed without /D.
  EXPECT_EQ(quiet.console, as_text(kLongBadgeInsertFailed));
  expect_exports();
  expect_protocol_rows();

  // ZpkDat is the server's time of the insert, the day of the run's header line.
  std::vector<LoggedRun> runs = logged_runs();
  ASSERT_EQ(runs.size(), 1u);
  const std::string& t = runs[0].server_time;
  ASSERT_TRUE(std::regex_match(t, std::regex("[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9:]{8}"))) << t;
  const std::string run_day = t.substr(6, 4) + "-" + t.substr(3, 2) + "-" + t.substr(0, 2);
  EXPECT_THAT(db_->query("select distinct substr(cast(ZpkDat as text), 1, 10) from "
                         "KVSYSTEM.KVS402ZPK"),
              ElementsAre(run_day));
  EXPECT_EQ(runs[0].lines,
            ", 20240305, Schema/Personalnr. nicht gefunden :\n" + summary({3, 7, 1, 1}));

  // A second run of the same file, verbose: the exports again, every row once; duplicate
  // access bookings count as transferred, duplicate events do not.
  const ProgramRun verbose = run(true);
  EXPECT_EQ(verbose.exit_status, 0) << verbose.console << verbose.error_output;
  std::string expected_console;
  for (const SourceLine& line : source_lines()) expected_console += line.line + line.console_after;
  EXPECT_EQ(verbose.console, as_text(expected_console + "11 Buchungen uebergeben"));
  expect_exports();
  expect_protocol_rows();
  runs = logged_runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].lines,
            ", 20240305, Schema/Personalnr. nicht gefunden :\n" + summary({3, 7, 1, 0}));
}

TEST_P(BookingTransferTest, EveryBookingReachesItsDestination) {
  every_booking_reaches_its_destination();
}

// A database that takes reads but no writes (SQLite: a central file the system will not let
// anyone write; PostgreSQL: read-only transactions) cannot take the run: exit 75, nothing
// published, a line that names the status, however many bookings came before.
TEST_P(BookingTransferTest, DatabaseThatCannotBeWrittenEndsTheRun) {
  const std::filesystem::path central = installation_.root() / "db" / "KVSYSTEM.db";
  if (GetParam() == DbBackend::kSqlite) {
    if (std::system(("chattr +i " + central.string() + " 2>/dev/null").c_str()) != 0) {
      GTEST_SKIP() << "no immutable files here";
    }
  } else {
    ASSERT_TRUE(
        db_->execute("DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET "
                     "default_transaction_read_only = on', current_database()); END $$"));
  }
  // Inserts in batches or one at a time: the output stops at the same line.
  const auto transfer = [&](const char* batch_size) {
    return testing::run_zarvelt({"T01", "bookings.txt", "target1.txt", "target2.txt", "/D"},
                                installation_.working_dir(), {{"ZARVELT_BATCH_SIZE", batch_size}});
  };
  const ProgramRun failed = transfer("1000");
  const ProgramRun one_at_a_time = transfer("1");
  if (GetParam() == DbBackend::kSqlite) {
    std::system(("chattr -i " + central.string()).c_str());
  } else {
    ASSERT_TRUE(
        db_->execute("DO $$ BEGIN EXECUTE format('ALTER DATABASE %I RESET "
                     "default_transaction_read_only', current_database()); END $$"));
  }
  EXPECT_EQ(failed.exit_status, 75) << failed.console;
  EXPECT_THAT(failed.console, ::testing::HasSubstr(", keine \xDC"
                                                   "bernahme\n"));
  EXPECT_EQ(failed.console, one_at_a_time.console);
  const std::vector<LoggedRun> logged = logged_runs();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].lines, logged[1].lines);
  EXPECT_EQ(read_file(in_working_dir("target1.txt")), "");
  EXPECT_EQ(read_file(in_working_dir("target2.txt")), "");
  EXPECT_THAT(access_rows(), ::testing::IsEmpty());
}

// A lookup that fails for the database's sake (here a column the statement names is gone, as a
// lock or a statement timeout would fail it) is no "not found": the run ends as after such an
// insert, with nothing exported or stored, rather than export booking type 00000, the code
// untranslated or zone 0 and report success.
TEST_P(BookingTransferTest, LookupThatFailsForTheDatabaseEndsTheRun) {
  const struct {
    const char* schema;
    const char* table;
    const char* column;
  } broken[] = {{"KVSYSTEM", "KVS301ASW", "ASWPNR"},
                {"MAND01", "KVS131FCD", "FCDTYP"},
                {"MAND01", "KVS131FCDUEB", "FCDNEW"},
                {"KVSYSTEM", "KVS405ZZS", "ZZSNUM"}};
  for (const auto& b : broken) {
    const std::string rename = std::string("ALTER TABLE ") + b.table + " RENAME COLUMN ";
    ASSERT_TRUE(db_->execute(rename + b.column + " TO gone", b.schema));
    const ProgramRun ended = run(false);
    ASSERT_TRUE(db_->execute(rename + "gone TO " + b.column, b.schema));
    EXPECT_EQ(ended.exit_status, 75) << b.table << ": " << ended.console;
    EXPECT_THAT(ended.console, ::testing::HasSubstr("Datenbank nimmt die Buchungen nicht an"))
        << b.table;
    EXPECT_EQ(read_file(in_working_dir("target1.txt")), "") << b.table;
    EXPECT_THAT(access_rows(), ::testing::IsEmpty()) << b.table;
  }
}

// The records of a time export (82 bytes each) or a cost-centre export (32 bytes), sorted.
std::vector<std::string> records(const std::string& bytes, std::size_t size) {
  std::vector<std::string> list;
  for (std::size_t at = 0; at + size <= bytes.size(); at += size)
    list.push_back(bytes.substr(at, size));
  std::sort(list.begin(), list.end());
  return list;
}

// The counters of each run in the log, summed.
std::vector<int> counted(const std::string& log) {
  std::vector<int> sums(kBookingKindCount, 0);
  const std::regex number(": ([0-9]+)\n");
  int i = 0;
  const std::size_t summary = log.find(
      "\xFC"
      "bergeben:");
  for (std::size_t at = summary; at != std::string::npos; at = log.find("\xFC"
                                                                        "bergeben:",
                                                                        at + 1)) {
    std::smatch m;
    std::string rest = log.substr(at, 200);
    for (i = 0; i < static_cast<int>(kBookingKindCount) && std::regex_search(rest, m, number);
         ++i) {
      sums[i] += std::stoi(m[1]);
      rest = m.suffix();
    }
  }
  return sums;
}

// A file with bookings that fail until the master data knows badge 4799: fed again after the
// fix, the reject file transfers what failed and nothing that got through, so both runs
// together give what one run of the file gives after the fix.
TEST_P(BookingTransferTest, RejectFileFedAgainAfterTheFixDoublesNothing) {
  if (!windows_binary_.empty()) GTEST_SKIP();
  const std::string time_only = booking_line(
      {.kind = "40p", .badge = "4799", .time = "080100", .function_code = "K1", .time_mark = "1"});
  // Both parts fail (an unknown badge too long for the access protocol): the whole line.
  const std::string both_fail = booking_line({.kind = "40p",
                                              .badge = std::string(20, '7'),
                                              .time = "080300",
                                              .function_code = "K1",
                                              .time_mark = "1",
                                              .access_result = "1"});
  const std::string source =
      // The time booking fails, the access booking gets through.
      booking_line({.kind = "40p",
                    .badge = "4799",
                    .time = "080000",
                    .function_code = "K1",
                    .time_mark = "1",
                    .access_result = "1"}) +
      time_only +
      booking_line({.kind = "40p",
                    .badge = "4711",
                    .time = "080200",
                    .function_code = "K1",
                    .time_mark = "1",
                    .access_result = "1"}) +
      both_fail + booking_line({.kind = "50p", .badge = "4799", .time = "0804", .text = "KST"}) +
      "kaputt,1,2\n" + booking_line({.kind = "62p", .time = "080500", .terminal = "T02"});
  testing::write_file(in_working_dir("bookings.txt"), source);
  const std::string fix =
      "insert into KVSYSTEM.KVS301ASW values ('4799', 1, 1, '4799', '2024-01-01 00:00:00', "
      "null)";

  const ProgramRun first = run(false);
  ASSERT_EQ(first.exit_status, 0) << first.console;
  const auto rejects = files_named(installation_.log_dir(), "ZarveltReject_T01_");
  ASSERT_EQ(rejects.size(), 2u);  // the lines and their reasons
  const std::string rejected = read_file(rejects[0]).value_or("");
  EXPECT_EQ(read_file(rejects[1]).value_or(""),
            "Zeile 1: Schema/Personalnr. nicht gefunden, Fehler 1403\n"
            "Zeile 2: Schema/Personalnr. nicht gefunden, Fehler 1403\n"
            "Zeile 4: Schema/Personalnr. nicht gefunden, Fehler 1403; Insert in Kvs402Zpk "
            "fehlgeschlagen, Fehler -12899\n"
            "Zeile 6: FEHLERHAFTER BUCHUNGSSATZ !!\n");
  // The first line comes back without its access result, the others as read.
  EXPECT_EQ(rejected, "4799,,20240305,080000,,T01,1,K1,,,1,,,,,40p\r\n" + time_only + both_fail +
                          "kaputt,1,2\n");
  const std::string first_target1 = read_file(in_working_dir("target1.txt")).value_or("");
  const std::string first_target2 = read_file(in_working_dir("target2.txt")).value_or("");

  ASSERT_TRUE(db_->execute(fix));
  testing::write_file(in_working_dir("again.txt"), rejected);
  const ProgramRun second = run_program({"T01", "again.txt", "target1.txt", "target2.txt"});
  ASSERT_EQ(second.exit_status, 0) << second.console;

  testing::TempInstallation clean_installation;
  auto clean_db = set_up_database(clean_installation);
  ASSERT_TRUE(clean_db->execute(fix));
  testing::write_file(clean_installation.working_dir() / "bookings.txt", source);
  const ProgramRun clean = testing::run_zarvelt(
      {"T01", "bookings.txt", "target1.txt", "target2.txt"}, clean_installation.working_dir());
  ASSERT_EQ(clean.exit_status, 0) << clean.console;

  auto target = [](const std::filesystem::path& dir, const char* name) {
    return read_file(dir / name).value_or("");
  };
  EXPECT_EQ(records(first_target1 + target(installation_.working_dir(), "target1.txt"), 82),
            records(target(clean_installation.working_dir(), "target1.txt"), 82));
  EXPECT_EQ(records(first_target2 + target(installation_.working_dir(), "target2.txt"), 32),
            records(target(clean_installation.working_dir(), "target2.txt"), 32));
  const std::string rows =
      "select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus from KVSYSTEM.KVS402ZPK order by "
      "ZpkUhr";
  EXPECT_EQ(db_->query(rows), clean_db->query(rows));
  EXPECT_EQ(counted(read_file(installation_.log_path()).value_or("")),
            counted(read_file(clean_installation.log_path()).value_or("")));
  EXPECT_EQ(files_named(clean_installation.log_dir(), "ZarveltReject_").size(), 2u);
}

// Inserts sent in batches change nothing anybody sees: a file of many batches, with
// duplicates within and across batches, dates that are no dates, a value too long for its
// column and a badge without schema, gives the same console, log, exports, rows and reject
// files with batches of 4 and of the default size as with each insert answered at once.
TEST_P(BookingTransferTest, BatchedRunEqualsOneAtATime) {
  if (!windows_binary_.empty()) GTEST_SKIP();
  const std::vector<SourceLine> lines = source_lines();
  std::string source;
  const char* dates[] = {"20240305", "20240306", "20240305", "20241305", "20240306", "20240231"};
  for (int round = 0; round < 12; ++round) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string line = lines[i].line;
      if (const std::size_t at = line.find(",20240305,"); at != std::string::npos) {
        line.replace(at + 1, 8, dates[round % 6]);
      }
      source += line;
      if ((round + i) % 5 == 0) source += line;
    }
  }
  struct Seen {
    ProgramRun run;
    std::string log, target1, target2, rejects;
    std::vector<std::string> access, events;
  };
  auto transfer = [&](const char* batch_size) {
    testing::TempInstallation installation;
    auto db = set_up_database(installation);
    testing::write_file(installation.working_dir() / "bookings.txt", source);
    Seen seen;
    seen.run =
        testing::run_zarvelt({"T01", "bookings.txt", "target1.txt", "target2.txt", "/D"},
                             installation.working_dir(), {{"ZARVELT_BATCH_SIZE", batch_size}});
    const std::regex server_time("[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9:]{8}");
    seen.log = std::regex_replace(read_file(installation.log_path()).value_or(""), server_time, "");
    seen.target1 = read_file(installation.working_dir() / "target1.txt").value_or("");
    seen.target2 = read_file(installation.working_dir() / "target2.txt").value_or("");
    for (const auto& file : files_named(installation.log_dir(), "ZarveltReject_T01_")) {
      seen.rejects += read_file(file).value_or("") + "\n--\n";
    }
    seen.access = db->query(
        "select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkMld, ZpkLfd "
        "from KVSYSTEM.KVS402ZPK order by ZpkUhr, ZpkAsw");
    seen.events = db->query(
        "select BPRTRM, BPRZLS, BPRAWV, BPRDAT, BPRDTE, BPRFCD, BPRERG, BPRVAR "
        "from KVSYSTEM.O2009BUCHPROT order by BPRDTE");
    return seen;
  };
  const Seen one = transfer("1");
  ASSERT_EQ(one.run.exit_status, 0) << one.run.console;
  // Dates that are none: Oracle names what each lacks (ORA-01830 to ORA-01862).
  EXPECT_TRUE(std::regex_search(one.run.console, std::regex("Fehler -18[3-6][0-9]")))
      << one.run.console;
  EXPECT_NE(one.rejects, "");
  for (const char* batch_size : {"4", "1000"}) {
    const Seen batched = transfer(batch_size);
    EXPECT_EQ(batched.run.exit_status, 0) << batch_size;
    EXPECT_EQ(batched.run.console, one.run.console) << batch_size;
    EXPECT_EQ(batched.log, one.log) << batch_size;
    EXPECT_EQ(batched.target1, one.target1) << batch_size;
    EXPECT_EQ(batched.target2, one.target2) << batch_size;
    EXPECT_EQ(batched.rejects, one.rejects) << batch_size;
    EXPECT_EQ(batched.access, one.access) << batch_size;
    EXPECT_EQ(batched.events, one.events) << batch_size;
  }
}

// A check run does everything against the database and keeps nothing: no rows, the targets as
// they were, no reject file; the console names what a real run would reject and gives the
// summary, and the log and the run record say it was a check.
TEST_P(BookingTransferTest, CheckRunKeepsNothing) {
  if (!windows_binary_.empty()) GTEST_SKIP();
  testing::write_file(in_working_dir("target1.txt"), "earlier export 1");
  const ProgramRun check =
      run_program({"--check", "T01", "bookings.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(check.exit_status, 0) << check.console;
  EXPECT_EQ(read_file(in_working_dir("target1.txt")), "earlier export 1");
  EXPECT_FALSE(std::filesystem::exists(in_working_dir("target2.txt")));
  EXPECT_THAT(access_rows(), ::testing::IsEmpty());
  EXPECT_THAT(event_rows(), ::testing::IsEmpty());
  EXPECT_THAT(check.console,
              ::testing::HasSubstr("Zeile 7: Schema/Personalnr. nicht gefunden, Fehler 1403\n"));
  // The summary, without /D too: what the real run would take over.
  EXPECT_THAT(check.console, ::testing::EndsWith(summary_text({3, 7, 1, 1}) + "Pr\xFC"
                                                                              "flauf: nichts \xFC"
                                                                              "bernommen\n"));
  EXPECT_THAT(files_named(installation_.log_dir(), "ZarveltReject_"), ::testing::IsEmpty());
  const std::string log = read_file(installation_.log_path()).value_or("");
  EXPECT_THAT(log, ::testing::HasSubstr(": Pr\xFC"
                                        "flauf\n"));
  EXPECT_THAT(log, ::testing::HasSubstr("\n\nPr\xFC"
                                        "flauf: nichts \xFC"
                                        "bernommen\n"));

  // One run record line for each run, also for one that ends at once.
  EXPECT_EQ(run(false).exit_status, 0);
  expect_exports();
  run_program({"T01"});
  run_program({"T01", "missing.txt", "target1.txt", "target2.txt"});
  const std::string runs = read_file(installation_.log_dir() / "ZarveltRuns.jsonl").value_or("");
  const std::regex record(
      "\\{\"start\":\"[0-9T:-]{19}\",\"end\":\"[0-9T:-]{19}\",\"duration_ms\":[0-9]+,"
      "\"check\":(true|false),.*\"exit_status\":(-?[0-9]+),\"reason\":\"[^\"]*\"\\}\n");
  std::vector<std::string> statuses;
  for (std::sregex_iterator it(runs.begin(), runs.end(), record), end; it != end; ++it) {
    statuses.push_back(std::string((*it)[1]) + " " + std::string((*it)[2]));
  }
  EXPECT_THAT(statuses, ElementsAre("true 0", "false 0", "false -1", "false 94")) << runs;
  EXPECT_THAT(runs, ::testing::HasSubstr("\"lines_read\":16," + transferred({3, 7, 1, 1})));
}

// A person watching a run on a terminal sees its progress on standard error; a caller that
// reads standard error through a pipe gets nothing there (the other tests check that). The
// progress line does not depend on the backend: SQLite only.
class ProgressTest : public BookingTransferTest {};

TEST_P(ProgressTest, ProgressOnlyOnATerminal) {
  int terminal = -1;
  int terminal_side = -1;
  ASSERT_EQ(openpty(&terminal, &terminal_side, nullptr, nullptr, nullptr), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(terminal_side, STDERR_FILENO);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (chdir(installation_.working_dir().c_str()) != 0) _exit(127);
    execl(ZARVELT_BINARY, ZARVELT_BINARY, "T01", "bookings.txt", "target1.txt", "target2.txt",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(terminal_side);
  std::string shown;
  char buffer[256];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  close(terminal);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_THAT(shown, ::testing::MatchesRegex("\r16 Zeilen gelesen, 100 %, [0-9]+ Zeilen/s +\r?\n"));
}

INSTANTIATE_TEST_SUITE_P(Backends, BookingTransferTest,
                         ::testing::ValuesIn(testing::database_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });
INSTANTIATE_TEST_SUITE_P(Backends, ProgressTest, ::testing::Values(DbBackend::kSqlite),
                         [](const auto& info) { return testing::backend_name(info.param); });

// The Windows build: exports byte for byte (binary files), the console and the log in text
// mode (CR LF), exit statuses as a parent process sees them.
class WindowsBookingTransferTest : public BookingTransferTest {
 protected:
  void SetUp() override {
    windows_binary_ = environment("ZARVELT_WINDOWS_BINARY");
    if (windows_binary_.empty()) {
      if (!environment("ZARVELT_TEST_WINDOWS").empty()) FAIL() << "ZARVELT_WINDOWS_BINARY not set";
      GTEST_SKIP() << "no Windows build to run (ZARVELT_WINDOWS_BINARY)";
    }
    BookingTransferTest::SetUp();
  }
};

TEST_P(WindowsBookingTransferTest, EveryBookingReachesItsDestination) {
  every_booking_reaches_its_destination();
  // The operators' files as on Linux: per run a reject file with its reasons beside it, and
  // one run record line.
  EXPECT_EQ(files_named(installation_.log_dir(), "ZarveltReject_T01_").size(), 4u);
  const std::string runs = read_file(installation_.log_dir() / "ZarveltRuns.jsonl").value_or("");
  EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 2) << runs;
}

TEST_P(WindowsBookingTransferTest, ExitStatuses) {
  const ProgramRun parameter_error = run_program({"T01", "bookings.txt", "target1.txt"});
  EXPECT_EQ(parameter_error.exit_status, seen_exit_status(-1));
  EXPECT_EQ(parameter_error.console, "Parameterfehler");
  EXPECT_EQ(run_program({"T01", "missing.txt", "target1.txt", "target2.txt"}).exit_status, 94);
  const ConfigWriteResult written = write_config_values(
      installation_.config_path().string(),
      {{"LOGIN", db_->login()}, {"PASS", "falsch"}, {"NET8", db_->connect_alias()}});
  ASSERT_TRUE(written.ok) << written.error;
  const ProgramRun refused = run_program({"T01", "bookings.txt", "target1.txt", "target2.txt"});
  EXPECT_EQ(refused.exit_status, 75);
  EXPECT_EQ(refused.console, "Datenbankverbindung fehlgeschlagen, Fehler: -1017\r\n");
  EXPECT_EQ(read_file(installation_.log_path()),
            "\r\n\r\nDatenbankverbindung fehlgeschlagen, Fehler: -1017\r\n");
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowsBookingTransferTest,
                         ::testing::Values(DbBackend::kOdbcPostgresql, DbBackend::kOdbcOracle),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace zarvelt
