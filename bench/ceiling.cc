// The ceiling for the SQLite benchmark: the statements that the transfer would run for a
// booking file, straight through the sqlite3 C API, with nothing of the program around them.
//
//   zarvelt_bench_ceiling <central file KVSYSTEM.db> <terminal> <booking file>
//
// The booking file is read and split into fields before the clock starts, with the program's
// own line reader and splitter; then, timed: open the central file as the SQLite backend does,
// one write transaction, the dispatch table's statements per line with prepared statements
// (the texts, bindings and per-schema client files the backend had when this ceiling was
// fixed), and the commit. Prints one line of "name=value" pairs: the counters (which must equal
// the program's summary for the same file, or the two did not run the same statements), the
// statements run and the seconds taken.
//
// The statement texts and the dispatch below are a fixed copy on purpose: the ceiling is what
// the transfer's statements cost at best, and the program's time is compared against it. Were
// it to follow the program's statements, a change that made them slower would move the ceiling
// with it and go unseen.
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/booking_line.h"
#include "input/line_reader.h"
#include "input/splitter.h"
#include "text/text.h"

namespace zarvelt::bench {
namespace {

// The SQLite texts of the program's statements (the client schema's "{S}" already replaced by
// "main", as the backend does).
std::string to_date(const std::string& p) {
  const std::string padded = "(" + p + "||'000000')";
  return "CASE WHEN length(" + p + ") IN (8,10,12,14) AND " + p +
         " NOT GLOB '*[^0-9]*' THEN substr(" + p + ",1,4)||'-'||substr(" + p +
         ",5,2)||'-'||substr(" + p + ",7,2)||' '||substr(" + padded + ",9,2)||':'||substr(" +
         padded + ",11,2)||':'||substr(" + padded + ",13,2) ELSE 'invalid:'||" + p + " END";
}

const std::string kBadgeLookup =
    "select ASWPNR, MNDSCH from main.KVS301ASW, main.KVS112MND where ASWNUM=?1 and "
    "ASWLIZ=MNDLIZ and ASWMND=MNDNUM and ((strftime('%Y%m%d',ASWGVO)<=?2 and ASWGBI is null) "
    "or (strftime('%Y%m%d',ASWGBI)>=?2 and ASWGVO is null) or (strftime('%Y%m%d',ASWGVO)<=?2 "
    "and strftime('%Y%m%d',ASWGBI)>=?2))";
const std::string kBookingTypeLookup = "select FCDTYP from main.KVS131FCD where FCDNUM=?1";
const std::string kTranslation = "select FCDNEW from main.KVS131FCDUEB where FCDOLD=?1";
const std::string kZoneLookup = "select distinct ZzsNum from main.KVS405ZZS where ZZSTCD=?1";
const std::string kInsertAccess =
    "insert into main.KVS402ZPK (ZpkTrm,ZpkLes,ZpkDtm,ZpkUhr,ZpkAsw,ZpkZus,ZpkFcd,ZpkMld,"
    "ZpkDat,ZpkLfd) values (?1,?2," +
    to_date("?3") + "," + to_date("?4") +
    ",?5,?6,null,null,strftime('%Y-%m-%d %H:%M:%S','now','localtime'),?7)";
const std::string kInsertEvent =
    "insert into main.O2009BUCHPROT (BPRTRM,BPRZLS,BPRAWV,BPRDAT,BPRDTE,BPRFCD,BPRERG,BPRVAR) "
    "values (?1,?2,?3," +
    to_date("?4") + "," + to_date("?5") + ",?6,?7,?8)";

[[noreturn]] void fail(sqlite3* db, const char* what) {
  std::fprintf(stderr, "ceiling: %s: %s\n", what, db != nullptr ? sqlite3_errmsg(db) : "");
  std::exit(1);
}

// One open file with its statements, opened as the backend opens it.
struct DatabaseFile {
  sqlite3* db = nullptr;
  std::map<const std::string*, sqlite3_stmt*> statements;

  explicit DatabaseFile(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      fail(db, path.c_str());
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  }
  ~DatabaseFile() {
    for (auto& [text, statement] : statements) sqlite3_finalize(statement);
    sqlite3_close_v2(db);
  }
  sqlite3_stmt* statement(const std::string& text) {
    sqlite3_stmt*& statement = statements[&text];
    if (statement == nullptr &&
        sqlite3_prepare_v3(db, text.c_str(), static_cast<int>(text.size()),
                           SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
      fail(db, text.c_str());
    }
    return statement;
  }
};

struct Run {
  std::string directory;
  std::string terminal;
  std::unique_ptr<DatabaseFile> central;
  std::map<std::string, std::unique_ptr<DatabaseFile>> clients;
  DatabaseFile* session_file = nullptr;  // where the function-code tables are read
  std::string current_schema;
  std::int64_t statements = 0;
  std::int32_t time_bookings = 0, access_bookings = 0, cost_centre_bookings = 0, events = 0;
};

// Binds an input as the client layer does: an empty text is NULL; a text that does not fit
// its host variable (capacity with the terminator) keeps the statement from running.
bool bind_text(sqlite3_stmt* statement, int position, std::string_view text, size_t capacity) {
  if (text.size() > capacity - 1) return false;
  if (text.empty()) return sqlite3_bind_null(statement, position) == SQLITE_OK;
  sqlite3_bind_text(statement, position, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return true;
}

// Steps a bound statement to its end (at most two rows, as the client asks), counting it.
// Returns the rows seen and sets the first row's first columns.
int step(Run& run, sqlite3_stmt* statement, int& rc, std::string* first = nullptr,
         std::string* second = nullptr) {
  ++run.statements;
  int rows = 0;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW && rows < 2) {
    if (rows++ == 0) {
      const auto* a = sqlite3_column_text(statement, 0);
      if (first != nullptr) *first = a ? reinterpret_cast<const char*>(a) : "";
      if (second != nullptr) {
        const auto* b = sqlite3_column_text(statement, 1);
        *second = b ? reinterpret_cast<const char*>(b) : "";
      }
    }
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return rows;
}

bool all_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool switch_schema(Run& run, const std::string& schema) {
  ++run.statements;
  if (schema.empty() || schema.size() > 30) return false;
  std::string name = schema;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "KVSYSTEM") {
    run.session_file = run.central.get();
    return true;
  }
  std::unique_ptr<DatabaseFile>& file = run.clients[name];
  if (file == nullptr) {
    const std::string path = run.directory + "/" + name + ".db";
    if (!std::filesystem::exists(path)) {
      run.clients.erase(name);
      return false;
    }
    file = std::make_unique<DatabaseFile>(path);
    // Client files are only read, in one read transaction each until the commit.
    sqlite3_exec(file->db, "BEGIN", nullptr, nullptr, nullptr);
  }
  run.session_file = file.get();
  return true;
}

void export_time_booking(Run& run, const BookingLine& f) {
  const std::string& date = f.date();
  if (date.size() != 8 || !all_digits(date) || f.time().size() < 4) return;
  sqlite3_stmt* badge_lookup = run.central->statement(kBadgeLookup);
  if (!bind_text(badge_lookup, 1, f.badge(), 51) || !bind_text(badge_lookup, 2, date, 20)) return;
  std::string personnel, schema;
  int rc;
  if (step(run, badge_lookup, rc, &personnel, &schema) != 1) return;
  personnel = personnel.substr(0, 8);
  schema = schema.substr(0, 20);
  if (schema != run.current_schema) {
    if (!switch_schema(run, schema)) return;
    run.current_schema = schema;
  }
  DatabaseFile* file = run.session_file != nullptr ? run.session_file : run.central.get();
  sqlite3_stmt* type_lookup = file->statement(kBookingTypeLookup);
  std::string booking_type, function_code = f.function_code();
  if (bind_text(type_lookup, 1, f.function_code(), 20) &&
      step(run, type_lookup, rc, &booking_type) == 1) {
    booking_type = std::to_string(std::atoi(booking_type.c_str()));
    sqlite3_stmt* translation = file->statement(kTranslation);
    std::string new_code;
    if (bind_text(translation, 1, f.function_code(), 20) &&
        step(run, translation, rc, &new_code) == 1) {
      function_code = new_code.substr(0, 3);
    }
  } else {
    booking_type.clear();
  }
  if (booking_type.size() > 5 || function_code.size() > 3) return;
  ++run.time_bookings;
}

void insert_access_booking(Run& run, const BookingLine& f) {
  std::int32_t code = 0;
  const std::string& kind = f.record_kind();
  int rc;
  if (kind == "40p") {
    switch (f.access_result().empty() ? '\0' : f.access_result()[0]) {
      case '1':
        code = 100;
        break;
      case '9':
        code = 204;
        break;
      case 'B':
      case 'Z':
        code = 202;
        break;
      case 'S':
        code = 203;
        break;
      case 'U':
        code = 201;
        break;
      default:
        code = 200;
    }
  } else if (kind == "62p") {
    sqlite3_stmt* zone = run.central->statement(kZoneLookup);
    std::string number;
    if (bind_text(zone, 1, f.zone_prefix() + f.status_number(), 20) &&
        step(run, zone, rc, &number) == 1) {
      code = std::atoi(number.c_str());
    }
  } else if (kind == "dta") {
    code = decimal_integer(f.status_number());
  }
  sqlite3_stmt* insert = run.central->statement(kInsertAccess);
  sqlite3_bind_int(insert, 2, decimal_integer(f.reader_number()));
  sqlite3_bind_int(insert, 6, code);
  if (!bind_text(insert, 1, f.terminal(), 256) || !bind_text(insert, 3, f.date(), 11) ||
      !bind_text(insert, 4, f.date() + f.time(), 20) || !bind_text(insert, 5, f.badge(), 20) ||
      !bind_text(insert, 7, "001", 4)) {
    sqlite3_clear_bindings(insert);
    return;
  }
  step(run, insert, rc);
  if (rc == SQLITE_DONE || rc == SQLITE_CONSTRAINT_UNIQUE) ++run.access_bookings;
}

void insert_event(Run& run, const BookingLine& f) {
  sqlite3_stmt* insert = run.central->statement(kInsertEvent);
  sqlite3_bind_int(insert, 2, decimal_integer(f.reader_number()));
  sqlite3_bind_int(insert, 7, decimal_integer(f.status_number()));
  sqlite3_bind_null(insert, 8);
  if (!bind_text(insert, 1, f.terminal(), 256) || !bind_text(insert, 3, f.badge(), 51) ||
      !bind_text(insert, 4, f.date(), 9) || !bind_text(insert, 5, f.date() + f.time(), 15) ||
      !bind_text(insert, 6, f.function_code(), 6)) {
    sqlite3_clear_bindings(insert);
    return;
  }
  int rc;
  step(run, insert, rc);
  if (rc == SQLITE_DONE) ++run.events;
}

// Rows 1 to 11 of the dispatch table.
void dispatch(Run& run, const BookingLine& f) {
  const std::string& kind = f.record_kind();
  if (kind == "40p") {
    if (!f.time_booking_mark().empty()) export_time_booking(run, f);
    if (!f.access_result().empty()) insert_access_booking(run, f);
  } else if (kind == "dta") {
    if (f.function_code() == "024") {
      insert_access_booking(run, f);
    } else if (f.status_number() == "100") {
      export_time_booking(run, f);
    } else if (f.badge().empty()) {
      insert_access_booking(run, f);
    } else {
      insert_event(run, f);
      insert_access_booking(run, f);
    }
  } else if (kind == "62p") {
    insert_access_booking(run, f);
  } else if (kind == "50p") {
    ++run.cost_centre_bookings;
  }
}

// The lines the transfer loop hands to the dispatch: 16 fields or more, of this terminal,
// the badge trimmed of trailing blanks and tabs.
std::vector<BookingLine> read_bookings(const std::string& path, const std::string& terminal,
                                       std::size_t& line_count) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) fail(nullptr, path.c_str());
  std::vector<BookingLine> bookings;
  std::string text;
  line_count = 0;
  for (LineRead read; (read = read_booking_line(file, text)) != LineRead::kEnd;) {
    ++line_count;
    BookingLine line(split_booking_line(text));
    if (line.field_count() < BookingLine::kDispatchFieldCount || line.terminal() != terminal) {
      continue;
    }
    line.trim_badge();
    bookings.push_back(std::move(line));
  }
  std::fclose(file);
  return bookings;
}

// User and system time of this process so far.
double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int run_ceiling(const std::string& central_path, const std::string& terminal,
                const std::string& booking_path) {
  std::size_t line_count = 0;
  const std::vector<BookingLine> bookings = read_bookings(booking_path, terminal, line_count);

  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_seconds();
  Run run;
  run.directory = std::filesystem::absolute(central_path).parent_path().string();
  run.terminal = terminal;
  run.central = std::make_unique<DatabaseFile>(central_path);
  sqlite3_exec(run.central->db, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
  if (sqlite3_exec(run.central->db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail(run.central->db, "BEGIN");
  }
  for (const BookingLine& fields : bookings) dispatch(run, fields);
  for (auto& [name, file] : run.clients)
    sqlite3_exec(file->db, "COMMIT", nullptr, nullptr, nullptr);
  if (sqlite3_exec(run.central->db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail(run.central->db, "COMMIT");
  }
  run.clients.clear();
  run.central.reset();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpu_seconds() - cpu_start;

  std::printf(
      "lines=%zu time_bookings=%d access_bookings=%d cost_centre_bookings=%d events=%d "
      "statements=%lld seconds=%.6f cpu_seconds=%.6f\n",
      line_count, run.time_bookings, run.access_bookings, run.cost_centre_bookings, run.events,
      static_cast<long long>(run.statements), seconds, cpu);
  return 0;
}

}  // namespace
}  // namespace zarvelt::bench

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: zarvelt_bench_ceiling <KVSYSTEM.db> <terminal> <booking file>\n", stderr);
    return 2;
  }
  return zarvelt::bench::run_ceiling(argv[1], argv[2], argv[3]);
}
