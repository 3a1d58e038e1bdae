// The self-test's checks, in the order a run meets what they check: the connection, the server
// time, the installation's tables as its catalogue declares them, an existing badge looked up,
// the statuses, the dates, the batched inserts, the open cursors, the client schemas, the
// encoding, the transaction across failed statements, and the rollback of a session ended
// without a commit.
#include "admin/selftest.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_tool.h"
#include "admin/installation_tables.h"
#include "admin/master_data.h"
#include "admin/probes.h"
#include "db/session.h"
#include "db/statements.h"
#include "db/status.h"
#include "driver/connect_step.h"
#include "driver/fixed_paths.h"
#include "driver/program.h"
#include "files/process.h"
#include "handlers/access_booking_insert.h"
#include "handlers/event_insert.h"
#include "handlers/insert_queue.h"
#include "log/reporter.h"

namespace zarvelt::admin {

namespace {

// A badge with a Windows-1252 letter (0xFC, u with diaeresis), as booking files carry it.
constexpr std::string_view kEncodedBadge = "SELFTEST M\xFCller";
// Function codes compared per client table: enough to tell two schemas' tables apart.
constexpr std::size_t kCodesPerTable = 8;

std::string status_text(std::int32_t status) { return "status " + std::to_string(status); }

std::string hex_bytes(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += ' ';
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

bool is_server_time(const std::string& text) {
  // dd.mm.yyyy hh24:mi:ss
  static constexpr std::string_view kShape = "99.99.9999 99:99:99";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '9' ? !digit : text[i] != kShape[i]) return false;
  }
  const auto number = [&](std::size_t at) { return std::stoi(text.substr(at, 2)); };
  return number(0) >= 1 && number(0) <= 31 && number(3) >= 1 && number(3) <= 12 &&
         number(11) <= 23 && number(14) <= 59 && number(17) <= 59;
}

// The local clock's date as a terminal writes it into a booking line (yyyymmdd), and the
// seconds by which a server time dd.mm.yyyy hh24:mi:ss is ahead of the local clock at now.
std::string local_date() {
  const std::tm local = local_time(std::time(nullptr));
  char date[9];
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  return date;
}
long long seconds_ahead(const std::string& server_time, std::time_t now) {
  std::tm moment{};
  moment.tm_mday = std::stoi(server_time.substr(0, 2));
  moment.tm_mon = std::stoi(server_time.substr(3, 2)) - 1;
  moment.tm_year = std::stoi(server_time.substr(6, 4)) - 1900;
  moment.tm_hour = std::stoi(server_time.substr(11, 2));
  moment.tm_min = std::stoi(server_time.substr(14, 2));
  moment.tm_sec = std::stoi(server_time.substr(17, 2));
  moment.tm_isdst = -1;
  return static_cast<long long>(std::difftime(std::mktime(&moment), now));
}

// An access row of the self-test's terminal, as the program's access booking builds it.
db::InsertRow probe_access(std::int32_t reader, std::string_view date_time,
                           std::string_view badge = "SELFTEST") {
  return {&kAccessInsert,
          {std::string(kSelfTestTerminal), reader, std::string(date_time.substr(0, 8)),
           std::string(date_time), std::string(badge), 100, "001"}};
}

// Keeps the status of the insert it waits for.
class StatusOf final : public InsertWaiter {
 public:
  std::optional<std::int32_t> status;

 protected:
  void answered(std::int32_t answer) override { status = answer; }
};

std::string answer_text(const db::TextAnswer& answer) {
  return answer.status == db::kSuccess ? "\"" + answer.text + "\"" : status_text(answer.status);
}

bool same(const db::TextAnswer& a, const db::TextAnswer& b) {
  return a.status == b.status && (a.status != db::kSuccess || a.text == b.text);
}

class SelfTest {
 public:
  explicit SelfTest(std::ostream& out) : out_(out) {}

  int run() {
    if (!connect()) return kAdminFailure;
    check_server_time();
    check_tables();
    check_badge_lookup();
    check_statuses();
    check_dates();
    check_batched_inserts();
    check_absorbing_form();
    check_parameter_arrays();
    check_open_cursors();
    check_client_schemas();
    check_encoding();
    check_failed_statements();
    check_rollback();
    return failed_ ? kAdminFailure : kAdminSuccess;
  }

 private:
  void ok(std::string_view check, const std::string& detail = "") {
    out_ << check << ": ok" << (detail.empty() ? "" : " (" + detail + ")") << "\n";
  }
  void differs(std::string_view check, const std::string& what) {
    out_ << check << ": " << what << "\n";
    failed_ = true;
  }

  // As a run connects: its configuration file, its connection step, its batch size.
  std::int32_t open(db::SessionPtr& session, std::string* backend) {
    std::vector<Reporter::Held> held;
    const Reporter reporter = Reporter().collecting_into(&held);
    const std::int32_t status =
        connect_step(host_path(kConfigFileWindowsPath), reporter, session, backend);
    for (const Reporter::Held& line : held) {
      if (line.to == Reporter::Held::To::kConsole) out_ << line.text;
    }
    return status;
  }

  bool connect() {
    std::string backend;
    const std::int32_t status = open(session_, &backend);
    if (status != db::kSuccess) {
      differs("connection", status_text(status) + " with " + host_path(kConfigFileWindowsPath) +
                                ": every run ends with exit status 75 and transfers nothing");
      return false;
    }
    oracle_ = database_product(*session_) == "Oracle";
    const std::int32_t read = read_character_set(*session_, character_set_);
    if (read != db::kSuccess) character_set_ = "not read (" + status_text(read) + ")";
    ok("connection", backend + ", " + std::string(database_product(*session_)) +
                         ", session schema " + db::session_schema(*session_));
    return true;
  }

  // The server's time, and how far it is from this machine's clock: SYSDATE goes into each
  // access row (ZpkDat) and the run's log header.
  void check_server_time() {
    std::string time;
    const std::int32_t status = db::read_server_time(*session_, time);
    const std::time_t now = std::time(nullptr);
    if (status != db::kSuccess) {
      differs("server time", status_text(status) +
                                 ": the program takes the session for a failed connection "
                                 "(exit status 75, nothing transferred)");
    } else if (!is_server_time(time)) {
      differs("server time", "\"" + time +
                                 "\" is not dd.mm.yyyy hh24:mi:ss: the transfer log's header "
                                 "line carries it as it is");
    } else {
      const long long ahead = seconds_ahead(time, now);
      const long long apart = ahead < 0 ? -ahead : ahead;
      // The server's time has whole seconds: a second either way is the same moment.
      ok("server time", time + (apart <= 1 ? ", as this machine's clock"
                                           : ", " + std::to_string(apart) + " s " +
                                                 (ahead > 0 ? "ahead of" : "behind") +
                                                 " this machine's clock: the access rows' "
                                                 "ZpkDat and the log header carry the server's"));
    }
  }

  // The installation's tables as the database's catalogue declares them, schema by schema,
  // against sql/<backend>/*.sql; then the session back in its home schema, as a run has it.
  void check_tables() {
    const std::string directory(script_directory(*session_));
    std::vector<TableShape> reference[2];  // central, client
    const char* const kScripts[] = {"central.sql", "client.sql"};
    std::string scripts[2];
    for (int i = 0; i < 2; ++i) {
      scripts[i] = "sql/" + directory + "/" + kScripts[i];
      const std::string path = find_sql_directory() + "/" + directory + "/" + kScripts[i];
      std::string text;
      if (!read_text_file(path, text)) {
        return differs("tables", path +
                                     " cannot be read (set ZARVELT_SQL_DIR to the sql "
                                     "directory): the installation's tables are not compared");
      }
      reference[i] = tables_of_script(*session_, text);
    }
    const TableFacts facts[] = {{oracle_, character_set_, scripts[0]},
                                {oracle_, character_set_, scripts[1]}};
    compare_schema(db::home_schema(*session_), true, reference[0], facts[0]);
    std::vector<std::string> schemas;
    if (read_client_schemas(*session_, schemas) != db::kSuccess) return;
    for (const std::string& schema : schemas) {
      // A schema that cannot be switched to is named by its line "client schema".
      if (db::switch_schema(*session_, schema) != db::kSuccess) continue;
      compare_schema(schema, false, reference[1], facts[1]);
    }
    db::switch_schema(*session_, db::home_schema(*session_));
  }

  void compare_schema(const std::string& schema, bool central,
                      const std::vector<TableShape>& reference, const TableFacts& facts) {
    std::vector<std::string> names;
    for (const TableShape& table : reference) names.push_back(table.name);
    std::vector<TableShape> installed;
    const std::string check = "tables " + schema;
    const std::int32_t status = read_table_shapes(*session_, central, names, installed);
    if (status != db::kSuccess) {
      return differs(check, "reading the catalogue gives " + status_text(status) +
                                ": the tables are not compared");
    }
    std::string refusing;
    std::string notes;
    for (const TableFinding& finding : compare_tables(reference, installed, facts)) {
      std::string& list = finding.refuses ? refusing : notes;
      list += (list.empty() ? "" : "; ") + finding.text;
    }
    if (!refusing.empty()) {
      return differs(check, refusing + (notes.empty() ? "" : "; " + notes));
    }
    ok(check, std::to_string(reference.size()) + " tables as " + facts.reference + " has them" +
                  (notes.empty() ? "" : ", but: " + notes));
  }

  // One badge that KVSYSTEM.KVS301ASW holds valid today, found by the program's lookup as a
  // booking line of today would carry it (trailing blanks and tabs removed).
  void check_badge_lookup() {
    const std::string today = local_date();
    std::vector<BadgeSample> badges;
    const std::int32_t read = sample_valid_badges(*session_, today, 1, badges);
    if (read != db::kSuccess) {
      return differs("badge lookup", "reading KVSYSTEM.KVS301ASW gives " + status_text(read) +
                                         ": " + consequence(read));
    }
    if (badges.empty()) {
      return ok("badge lookup", "no badge of KVSYSTEM.KVS301ASW is valid today (" + today +
                                    "): every time booking is refused until one is");
    }
    const BadgeSample& held = badges.front();
    std::string badge = held.badge;
    badge.erase(badge.find_last_not_of(" \t") + 1);
    std::string personnel_number;
    std::string client_schema;
    const std::int32_t status =
        db::lookup_badge(*session_, badge, today, personnel_number, client_schema);
    const std::string which = "badge \"" + badge + "\", valid today (" + today + ")";
    if ((status == db::kSuccess || status == db::kNullFetched) &&
        personnel_number == held.personnel_number && client_schema == held.client_schema) {
      return ok("badge lookup", which + ": personnel number \"" + personnel_number +
                                    "\", client schema \"" + client_schema + "\"");
    }
    if (status == db::kSuccess || status == db::kNullFetched) {
      return differs("badge lookup", which + ", is found with personnel number \"" +
                                         personnel_number + "\" and client schema \"" +
                                         client_schema + "\" where the tables hold \"" +
                                         held.personnel_number + "\" and \"" + held.client_schema +
                                         "\": the program exports its time bookings with those");
    }
    differs("badge lookup",
            which + ", gives " + status_text(status) + " in the program's lookup: " +
                (status == db::kNoRow || db::status_scope(status) == db::StatusScope::kBooking
                     ? "every time booking of it is refused (\"Schema/Personalnr. nicht "
                       "gefunden :\")"
                     : consequence(status)));
  }

  // 0 and -1 by the access insert, 1403 by the badge lookup, -1405 by a NULL column.
  void check_statuses() {
    const db::InsertRow record = probe_access(1, "20260301123456");
    const std::int32_t inserted = db::run_insert(*session_, record);
    if (inserted == db::kSuccess) {
      ok("status 0", "an access row inserted");
      ++rows_;
    } else {
      differs("status 0",
              "an access row gives " + status_text(inserted) + ": " + consequence(inserted));
    }
    const std::int32_t duplicate = db::run_insert(*session_, record);
    if (duplicate == db::kUniqueConstraint) {
      ok("status -1", "the same row again: a duplicate, which the program counts as stored");
    } else {
      differs("status -1", "the same row again gives " + status_text(duplicate) +
                               " instead of -1: " +
                               (duplicate == db::kSuccess ? "the program stores a booking twice"
                                                          : consequence(duplicate)));
    }
    std::string personnel_number;
    std::string client_schema;
    const std::int32_t missing =
        db::lookup_badge(*session_, kSelfTestTerminal, "20260301", personnel_number, client_schema);
    if (missing == db::kNoRow) {
      ok("status 1403", std::string("badge ") + kSelfTestTerminal + " not found");
    } else {
      differs("status 1403",
              std::string("badge ") + kSelfTestTerminal + " gives " + status_text(missing) +
                  " instead of 1403: " +
                  (missing == db::kSuccess ? "it is in KVSYSTEM.KVS301ASW" : consequence(missing)));
    }
    const std::int32_t null_fetched = read_back_access_null_column(*session_, kSelfTestTerminal, 1);
    if (null_fetched == db::kNullFetched) {
      ok("status -1405", "a NULL column without an indicator");
    } else {
      differs("status -1405",
              "a NULL column without an indicator gives " + status_text(null_fetched) +
                  " instead of -1405: a booking type or translation that is NULL would not be "
                  "taken for a missing one");
    }
  }

  // The access and event inserts' conversions of 8 and 14 digits, read back, and dates that
  // are none refused as one booking's fault.
  void check_dates() {
    std::string problems;
    AccessReadBack access;
    const std::int32_t read = read_back_access(*session_, kSelfTestTerminal, 1, access);
    if (read != db::kSuccess) {
      problems += "; the access row reads back with " + status_text(read);
    } else if (access.date != "20260301000000" || access.date_time != "20260301123456") {
      problems += "; 20260301 and 20260301123456 were stored as " + access.date + " and " +
                  access.date_time;
    }
    const db::InsertRow event = {&kEventInsert,
                                 {std::string(kSelfTestTerminal), 1, "SELFTEST", "20260302",
                                  "20260302071500", "K1", 0, std::string()}};
    const std::int32_t inserted = db::run_insert(*session_, event);
    std::string date;
    std::string date_time;
    if (inserted != db::kSuccess) {
      problems +=
          "; an event row gives " + status_text(inserted) + " (" + consequence(inserted) + ")";
    } else {
      ++rows_;
      const std::int32_t read_event =
          read_back_event(*session_, kSelfTestTerminal, 1, date, date_time);
      if (read_event != db::kSuccess) {
        problems += "; the event row reads back with " + status_text(read_event);
      } else if (date != "20260302000000" || date_time != "20260302071500") {
        problems += "; the event's 20260302 and 20260302071500 were stored as " + date + " and " +
                    date_time;
      }
    }
    // Moments that are none, as a terminal may send them.
    struct Impossible {
      std::string_view date_time;
      std::string_view name;
    };
    std::string refusals;
    std::int32_t reader = 2;
    for (const Impossible& impossible :
         {Impossible{"20230229120000", "February 29 of 2023"},
          Impossible{"20240001120000", "month 00"}, Impossible{"20240101240000", "hour 24"}}) {
      const std::string name(impossible.name);
      const std::int32_t status =
          db::run_insert(*session_, probe_access(reader++, impossible.date_time));
      if (status == db::kSuccess) {
        ++rows_;
        problems += "; " + name + " was stored as another moment";
      } else if (db::status_scope(status) != db::StatusScope::kBooking) {
        problems +=
            "; " + name + " gives " + status_text(status) + " (" + consequence(status) + ")";
      } else {
        refusals += (refusals.empty() ? "" : ", ") + name + " " + std::to_string(status);
      }
    }
    if (problems.empty()) {
      ok("dates", "8 and 14 digits stored as given; refused as one booking's fault: " + refusals);
    } else {
      differs("dates", problems.substr(2));
    }
  }

  // The batch form of the inserts: a duplicate in a batch absorbed, with the exact statuses.
  void check_batched_inserts() {
    // As a run sends them: its batch size, where the backend sends statements together.
    const std::size_t batch_size = insert_batch_size();
    const bool together = batch_size > 1 && db::sends_together(*session_);
    InsertQueue queue(*session_, together ? batch_size : 1);
    const db::InsertRow first = probe_access(10, "20260303080000");
    const db::InsertRow second = probe_access(11, "20260303080000");
    StatusOf answers[3];
    queue.queue(first, answers[0]);
    queue.queue(first, answers[1]);
    queue.queue(second, answers[2]);
    queue.flush();
    std::string statuses;
    for (const StatusOf& answer : answers) {
      statuses += (statuses.empty() ? "" : ", ") +
                  (answer.status ? std::to_string(*answer.status) : std::string("no answer"));
      if (answer.status == db::kSuccess) ++rows_;
    }
    route_ = last_batch_route(*session_, batch_size);
    const std::string batches = " in batches of up to " + std::to_string(batch_size);
    std::string how = route_.way == db::BatchRoute::Way::kArrays ? "as parameter arrays" + batches
                      : route_.way == db::BatchRoute::Way::kTogether ? "sent together" + batches
                                                                     : "each insert on its own";
    if (route_.way != db::BatchRoute::Way::kOneByOne) {
      how += route_.absorbing ? ", in the duplicate-absorbing form" : ", in the plain form";
    }
    if (!route_.why.empty()) {
      how += (route_.way == db::BatchRoute::Way::kOneByOne ? ", as " : "; ") + route_.why;
    }
    // A refusal of the form itself is the next line's.
    if (statuses != "0, -1, 0") {
      differs("duplicate-absorbing insert", "a row, its duplicate and another row give " +
                                                statuses + " instead of 0, -1, 0 (" + how +
                                                "): the bookings of a batch get others' "
                                                "statuses");
    } else {
      ok("duplicate-absorbing insert", "0, -1, 0, " + how);
    }
  }

  // The duplicate-absorbing form alone on the row "status 0" stored: a database that honours
  // it stores nothing and raises no error.
  void check_absorbing_form() {
    const db::InsertRow stored = probe_access(1, "20260301123456");
    AccessReadBack row;
    // Without that row the line "status 0" has said why.
    if (read_back_access(*session_, kSelfTestTerminal, 1, row) != db::kSuccess) return;
    std::int32_t before = 0;
    std::int32_t after = 0;
    count_rows_of_terminal(*session_, kSelfTestTerminal, before);
    const std::int32_t status = db::run_insert_absorbing(*session_, stored);
    if (status == db::kFeatureNotEnabled) return;  // no such form: each insert on its own
    count_rows_of_terminal(*session_, kSelfTestTerminal, after);
    rows_ += after - before;
    // Why the program's batches go in the plain form here, if they do.
    std::string not_sent;
    if (!route_.absorbing) {
      not_sent = parameter_arrays(*session_) == db::ParameterArrays::kTotal
                     ? "the driver gives one count per array, which tells no absorbed duplicate"
                 : route_.way == db::BatchRoute::Way::kOneByOne ? "each insert goes on its own"
                                                                : route_.why;
    }
    const AbsorbingFormVerdict verdict =
        judge_absorbing_form(status, after - before, oracle_, not_sent);
    if (verdict.holds) {
      ok("duplicate-absorbing form", verdict.text);
    } else {
      differs("duplicate-absorbing form", verdict.text);
    }
  }

  void check_parameter_arrays() {
    switch (parameter_arrays(*session_)) {
      case db::ParameterArrays::kNoDriver:
        return;  // no driver between the program and its database
      case db::ParameterArrays::kPerRow:
        return ok("parameter arrays", "the driver counts each row: a duplicate is told by its row");
      case db::ParameterArrays::kTotal:
        return ok("parameter arrays",
                  "the driver gives one count per array: the batches go without the "
                  "duplicate-absorbing hint, a duplicate or failed row is told by its own "
                  "error or the array runs again one insert at a time");
      case db::ParameterArrays::kNone:
        break;
    }
    ok("parameter arrays",
       "the driver takes none: every insert and lookup is a round trip of its own");
  }

  // Oracle's limit of open cursors against the statements the program keeps open: past it every
  // new statement fails with ORA-01000.
  void check_open_cursors() {
    if (!oracle_) return;
    const std::size_t bound = open_statement_bound(*session_);
    const std::string kept = std::to_string(bound) + " (2 x " + std::to_string((bound - 1) / 2) +
                             " prepared statements and one for control statements)";
    std::int32_t limit = 0;
    const std::int32_t status = read_open_cursor_limit(*session_, limit);
    if (status != db::kSuccess) {
      // Reading V$PARAMETER takes a right the program does not need.
      out_ << "open cursors: not read (" << status_text(status)
           << " from SYS.V_$PARAMETER): Oracle's default OPEN_CURSORS of 50 holds the program's "
           << kept << "; ask the database administrator whether it was lowered\n";
      return;
    }
    if (static_cast<std::size_t>(limit) < bound) {
      return differs("open cursors",
                     "OPEN_CURSORS is " + std::to_string(limit) + ", below the program's " + kept +
                         ": a run that keeps more statements open fails with status -1000 (" +
                         consequence(-1000) + ")");
    }
    ok("open cursors", "OPEN_CURSORS " + std::to_string(limit) + ", the program keeps at most " +
                           kept + " open; a statement cache of the data source adds its size");
  }

  // Each client schema of the client table switched to, and the program's lookups after each
  // switch compared with what that schema's tables hold, read by texts that name the schema:
  // a statement prepared in the schema before would answer from the wrong tables.
  void check_client_schemas() {
    std::vector<std::string> schemas;
    const std::int32_t status = read_client_schemas(*session_, schemas);
    if (status != db::kSuccess) {
      return differs("client schemas", "reading KVSYSTEM.KVS112MND gives " + status_text(status) +
                                           ": " + consequence(status));
    }
    if (schemas.empty()) {
      return ok("client schemas",
                "KVSYSTEM.KVS112MND names none yet: every time booking is refused until it does");
    }
    constexpr CodeTable kTables[] = {CodeTable::kBookingTypes, CodeTable::kTranslations};
    std::vector<std::string> codes[2];  // of every schema, per table
    std::vector<std::string> switchable;
    for (const std::string& schema : schemas) {
      const std::int32_t switched = db::switch_schema(*session_, schema);
      if (switched != db::kSuccess) {
        const bool refused = switched == db::kSchemaMissing || switched == db::kInvalidIdentifier;
        differs("client schema " + schema,
                "the switch gives " + status_text(switched) + ": " +
                    (refused ? "the program refuses every time booking of this client's badges "
                               "(\"!!! Schema konnte nicht gewechselt werden: " +
                                   schema + " !!!\") and goes on"
                             : "a time booking of this client ends the run (exit status 75, "
                               "nothing committed)"));
        continue;
      }
      switchable.push_back(schema);
      for (std::size_t t = 0; t < 2; ++t) {
        std::vector<std::string> sample;
        // A table that is missing gives nothing to compare; its lookups say so alike.
        sample_function_codes(*session_, kTables[t], kCodesPerTable, sample);
        for (std::string& code : sample) {
          if (std::find(codes[t].begin(), codes[t].end(), code) == codes[t].end()) {
            codes[t].push_back(std::move(code));
          }
        }
      }
    }
    // Once more the first: back to a schema whose statements were prepared before.
    std::vector<std::string> order = switchable;
    if (order.size() > 1) order.push_back(order.front());
    std::vector<db::TextAnswer> before[2];
    std::string previous;
    for (std::size_t s = 0; s < order.size(); ++s) {
      const std::string& schema = order[s];
      const std::string check =
          "client schema " + schema + (s > 0 && s + 1 == order.size() ? " again" : "");
      const std::int32_t switched = db::switch_schema(*session_, schema);
      if (switched != db::kSuccess) {
        differs(check,
                "the second switch gives " + status_text(switched) + ": " + consequence(switched));
        continue;
      }
      std::string wrong;
      std::size_t compared = 0;
      std::size_t other = 0;
      for (std::size_t t = 0; t < 2 && wrong.empty(); ++t) {
        std::vector<db::TextAnswer> held;
        read_function_codes_by_name(*session_, kTables[t], codes[t], held);
        std::vector<db::TextAnswer> together;  // as a run reading ahead asks
        if (kTables[t] == CodeTable::kBookingTypes) {
          db::lookup_booking_types(*session_, codes[t], together);
        } else {
          db::translate_function_codes(*session_, codes[t], together);
        }
        for (std::size_t c = 0; c < codes[t].size() && wrong.empty(); ++c) {
          db::TextAnswer alone;  // as a run one line at a time asks
          alone.status = kTables[t] == CodeTable::kBookingTypes
                             ? db::lookup_booking_type(*session_, codes[t][c], alone.text)
                             : db::translate_function_code(*session_, codes[t][c], alone.text);
          if (alone.status != db::kSuccess) alone.text.clear();
          for (const db::TextAnswer* answer : {&alone, &together[c]}) {
            if (!same(*answer, held[c])) {
              wrong = "function code " + codes[t][c] + " reads as " + answer_text(*answer) +
                      " where " + schema +
                      (kTables[t] == CodeTable::kBookingTypes ? ".KVS131FCD" : ".KVS131FCDUEB") +
                      " holds " + answer_text(held[c]);
            }
          }
          ++compared;
          if (!before[t].empty() && !same(held[c], before[t][c])) ++other;
        }
        before[t] = std::move(held);
      }
      if (!wrong.empty()) {
        differs(check, wrong +
                           ": the program would export this client's time bookings with another "
                           "schema's booking types or translations, without an error");
      } else if (compared == 0) {
        ok(check, "switched; its tables hold no function code to compare");
      } else if (previous.empty()) {
        ok(check, "its own rows for " + std::to_string(compared) + " function codes");
      } else if (other == 0) {
        ok(check, "its own rows for " + std::to_string(compared) +
                      " function codes, none other "
                      "than " +
                      previous + "'s: reading " + previous + "'s tables would not show");
      } else {
        ok(check, "its own rows for " + std::to_string(compared) + " function codes, " +
                      std::to_string(other) + " of them other than " + previous + "'s");
      }
      previous = schema;
    }
  }

  // A badge with 0xFC stored and read back as the same bytes.
  void check_encoding() {
    std::string detail =
        "0xFC stored and read back as the same byte; database character set " + character_set_;
    std::string advice;
    if (oracle_) {
      const char* nls_lang = std::getenv("NLS_LANG");
      detail += nls_lang != nullptr && *nls_lang != '\0'
                    ? std::string(", NLS_LANG=") + nls_lang
                    : ", NLS_LANG not set here (the Oracle client's default or registry applies)";
      advice = "; set NLS_LANG=GERMAN_GERMANY.WE8MSWIN1252 for the program";
    }
    const std::int32_t inserted =
        db::run_insert(*session_, probe_access(20, "20260304090000", kEncodedBadge));
    if (inserted != db::kSuccess) {
      return differs("encoding", "a badge with 0xFC gives " + status_text(inserted) + ": " +
                                     consequence(inserted) + advice);
    }
    ++rows_;
    AccessReadBack row;
    const std::int32_t read = read_back_access(*session_, kSelfTestTerminal, 20, row);
    if (read != db::kSuccess) {
      differs("encoding", "the badge with 0xFC reads back with " + status_text(read));
    } else if (row.badge != kEncodedBadge) {
      differs("encoding",
              "the badge " + hex_bytes(kEncodedBadge) + " reads back as " + hex_bytes(row.badge) +
                  ": letters such as \xFC in booking lines are stored as others" + advice);
    } else {
      ok("encoding", detail);
    }
  }

  // The rows before and after the refused statements are all still there.
  void check_failed_statements() {
    std::int32_t count = -1;
    const std::int32_t status = count_rows_of_terminal(*session_, kSelfTestTerminal, count);
    if (status == db::kSuccess && count == rows_) {
      ok("failed statements",
         "the transaction kept all " + std::to_string(rows_) + " rows inserted around them");
    } else {
      differs("failed statements",
              status != db::kSuccess
                  ? "counting the self-test's rows gives " + status_text(status)
                  : std::to_string(count) + " of the " + std::to_string(rows_) +
                        " rows inserted are there: a refused booking undoes others, and the "
                        "program would commit a run without them");
    }
  }

  // The session ended without a commit, as a failed run's; a new one finds nothing of it.
  void check_rollback() {
    session_.reset();
    db::SessionPtr again;
    const std::int32_t connected = open(again, nullptr);
    std::int32_t count = -1;
    const std::int32_t status = connected == db::kSuccess
                                    ? count_rows_of_terminal(*again, kSelfTestTerminal, count)
                                    : connected;
    again.reset();
    if (status != db::kSuccess) {
      differs("rollback", "a new session to look gives " + status_text(status));
    } else if (count != 0) {
      differs("rollback", "a new session finds " + std::to_string(count) + " rows of terminal " +
                              kSelfTestTerminal +
                              ": a session that ends without a commit keeps its work, so a "
                              "failed run would keep part of its bookings (delete these rows)");
    } else {
      ok("rollback", "a new session finds none of the self-test's rows");
    }
  }

  std::ostream& out_;
  db::SessionPtr session_;
  std::int32_t rows_ = 0;  // the self-test's rows the transaction holds
  bool oracle_ = false;
  std::string character_set_ = "not read";
  db::BatchRoute route_;  // how the batch of check_batched_inserts went
  bool failed_ = false;
};

}  // namespace

int run_self_test(std::ostream& out) { return SelfTest(out).run(); }

AbsorbingFormVerdict judge_absorbing_form(std::int32_t status, std::int32_t stored, bool oracle,
                                          const std::string& not_sent_because) {
  const std::string form =
      oracle ? "the hint IGNORE_ROW_ON_DUPKEY_INDEX" : "ON CONFLICT DO NOTHING";
  const std::string sent =
      not_sent_because.empty() ? "" : "; the program does not send it here: " + not_sent_because;
  if (status == db::kSuccess && stored == 0) {
    return {true,
            form + " honoured: the stored row again stores nothing and raises no error" + sent};
  }
  if (status == db::kSuccess) {
    return {false,
            "the stored row again was stored a second time: no unique key holds it, so "
            "a booking transferred twice is stored twice"};
  }
  if (status == db::kUniqueConstraint && oracle) {
    return {true, form +
                      " ignored silently: the stored row again gives status -1 (ORA-00001) "
                      "instead of storing nothing, as where Oracle knows no such hint (before "
                      "11.2) or finds it malformed; a batch with a duplicate fails in that row "
                      "and goes again without it: statuses exact, one round trip more" +
                      sent};
  }
  if (db::is_duplicate_hint_refused(status)) {
    return {false, form + " refused with status " + std::to_string(status) +
                       ": a run turns it off at its first batch (the run record says "
                       "duplicate_hint_refused) and sends the plain form: statuses exact, one "
                       "round trip more for each batch with a duplicate"};
  }
  return {false, "the stored row again gives status " + std::to_string(status) + ": " +
                     consequence(status)};
}

}  // namespace zarvelt::admin
