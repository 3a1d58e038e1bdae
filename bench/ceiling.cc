// The ceiling: the work a transfer must do for a booking file, done the fastest way known, with
// nothing of the program around it. The program's time is compared against it.
//
//   zarvelt_bench_ceiling <alias> <terminal> <booking file> <target 1> <target 2> <log directory>
//
// Login and password come from ZARVELT_BENCH_LOGIN and ZARVELT_BENCH_PASSWORD (empty without).
// It is run as the program is, from start to exit, and does what a run must do:
// - one session through the program's database layer, the server time read first; lookups,
//   schema switches and inserts with the program's statements, sent together where the
//   backend can (500 lines read ahead, their keys asked at once; inserts 1000 at a time);
// - each badge on a date, each function code of a schema and each zone key asked once;
// - the inserts' dates converted before binding (the insert takes the date text as it is,
//   instead of converting it in SQL);
// - the exports written to staging files beside their locked targets, synced before the
//   commit and moved over the targets after it;
// - every log line opened, appended and closed on its own (the log's size checked for its
//   rotation), the rejected lines in the reject and reasons files flushed line by line, and
//   the run record appended at the end.
// It writes what the program writes for the same file: the same exports, log lines, reject
// files, rows and summary (the benchmark compares them, or the two did not do the same work).
// Files the generator does not make (over-long fields, unknown schemas) are not its concern.
//
// Prints one line of "name=value" pairs: the four counters, the statements that a run asking
// for everything line by line would run, and the seconds taken from start to exit.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/client_operations.h"
#include "db/session.h"
#include "db/statements.h"
#include "driver/reject_file.h"
#include "driver/run_record.h"
#include "driver/transfer_loop.h"
#include "handlers/access_booking_insert.h"
#include "handlers/booking_moment.h"
#include "handlers/time_booking_export.h"
#include "handlers/zero_fill.h"
#include "input/booking_line.h"
#include "input/line_reader.h"
#include "input/splitter.h"
#include "log/transfer_log.h"
#include "text/text.h"

namespace zarvelt::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The inserts with their dates bound as the date text the column stores; otherwise the
// program's columns and values.
constexpr std::string_view kAccessColumns =
    "(ZpkTrm,ZpkLes,ZpkDtm,ZpkUhr,ZpkAsw,ZpkZus,ZpkFcd,ZpkMld,ZpkDat,ZpkLfd)";
constexpr std::string_view kEventColumns =
    "(BPRTRM,BPRZLS,BPRAWV,BPRDAT,BPRDTE,BPRFCD,BPRERG,BPRVAR)";

struct InsertTexts {
  std::string access;
  std::string access_absorbing;
  std::string event;
  std::string event_absorbing;
};

InsertTexts insert_texts(db::Dialect dialect) {
  InsertTexts texts;
  if (dialect == db::Dialect::kSqlite) {
    texts.access = "insert into main.KVS402ZPK " + std::string(kAccessColumns) +
                   " values (?1,?2,?3,?4,?5,?6,null,null,"
                   "strftime('%Y-%m-%d %H:%M:%S','now','localtime'),?7)";
    texts.event = "insert into main.O2009BUCHPROT " + std::string(kEventColumns) +
                  " values (?1,?2,?3,?4,?5,?6,?7,?8)";
  } else {
    texts.access = "insert into KVSYSTEM.KVS402ZPK " + std::string(kAccessColumns) +
                   " values ($1,$2,$3,$4,$5,$6,null,null,localtimestamp(0),$7)";
    texts.event = "insert into KVSYSTEM.O2009BUCHPROT " + std::string(kEventColumns) +
                  " values ($1,$2,$3,$4,$5,$6,$7,$8)";
    texts.access_absorbing = texts.access + " on conflict do nothing";
    texts.event_absorbing = texts.event + " on conflict do nothing";
  }
  return texts;
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "ceiling: %s\n", what.c_str());
  std::exit(1);
}

// Digits yyyymmdd[hh24[mi[ss]]] as 'YYYY-MM-DD HH:MM:SS'; what is no such moment (year 0000
// included) marked so that the column refuses it as it refuses the program's conversion.
std::string date_text(std::string_view digits) {
  const std::size_t n = digits.size();
  bool valid = n == 8 || n == 10 || n == 12 || n == 14;
  for (char c : digits) valid = valid && c >= '0' && c <= '9';
  const auto two = [&](std::size_t at) {
    return at < n ? (digits[at] - '0') * 10 + (digits[at + 1] - '0') : 0;
  };
  if (!valid || digits.starts_with("0000") || two(8) > 23 || two(10) > 59 || two(12) > 59) {
    return "invalid:" + std::string(digits);
  }
  std::string text = "0000-00-00 00:00:00";
  for (std::size_t from = 0, to = 0; from < n; ++from, ++to) {
    if (to == 4 || to == 7 || to == 10 || to == 13 || to == 16) ++to;
    text[to] = digits[from];
  }
  return text;
}

// The inputs bound as the client binds them (db::own_inputs: an empty text is NULL, a text that
// does not fit its host variable or holds a byte that is no Windows-1252 character is refused),
// the dates converted. False when they are refused.
bool own(std::span<const db::InputVariable> inputs, std::initializer_list<std::size_t> dates,
         std::vector<db::OwnedValue>& owned) {
  if (db::own_inputs(inputs, owned) != db::kSuccess) return false;
  for (const std::size_t date : dates) {
    if (owned[date].kind == db::BoundValue::Kind::kText)
      owned[date].text = date_text(owned[date].text);
  }
  return true;
}

// Appends one line to the log: opened, written, its size checked for the rotation, closed.
void log_line(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return;
  std::string line(text);
  line += '\n';
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  struct stat st {};
  const bool sized = written && ::fstat(fd, &st) == 0;
  ::close(fd);
  if (sized && static_cast<std::uint64_t>(st.st_size) > kTransferLogLimit) {
    std::rename(path.c_str(), log_backup_path(path).c_str());
  }
}

// A target, locked and emptied, and the staging file its records go to until the commit.
struct Target {
  std::string path;
  std::string staging;
  int target_fd = -1;
  std::FILE* file = nullptr;

  void open(const std::string& target_path, const char* tag) {
    path = target_path;
    target_fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (target_fd < 0 || ::flock(target_fd, LOCK_EX) != 0 || ::ftruncate(target_fd, 0) != 0) {
      fail("target " + path);
    }
    staging = path + "." + tag + "." + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (file == nullptr) fail("staging file " + staging);
  }
  void write(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) fail("write " + staging);
  }
  void finish() {
    if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0 || std::fclose(file) != 0) {
      fail("sync " + staging);
    }
    file = nullptr;
  }
  void publish() {
    if (std::rename(staging.c_str(), path.c_str()) != 0) fail("publish " + path);
    const std::string directory = std::filesystem::path(path).parent_path().string();
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
    ::close(target_fd);
  }
};

enum class Kind { kTime, kAccess, kCostCentre, kEvent };

// One step of a line: its kind and what became of it.
struct Step {
  Kind kind = Kind::kTime;
  enum class State { kDone, kDuplicate, kNotThrough, kWaiting } state = State::kDone;
  std::int32_t status = db::kSuccess;
  std::string reason;
  db::Ticket ticket = -1;
};

Step make_step(Kind kind, Step::State state) {
  Step step;
  step.kind = kind;
  step.state = state;
  return step;
}

// A line whose rejection and count wait for its inserts' answers and the lines before it.
struct HeldLine {
  std::int64_t number = 0;
  std::string bytes;
  BookingLine booking;
  bool dispatched = false;
  bool time_and_access = false;
  std::string faulty;  // the reason a faulty line is rejected with
  Step steps[2];
  int count = 0;
};

struct Badge {
  std::int32_t status = db::kSuccess;
  std::string personnel_number;
  std::string client_schema;
};
struct Code {
  std::int32_t type_status = db::kSuccess;
  std::string booking_type;
  std::int32_t translation_status = db::kNoRow;
  std::string new_code;
};
struct Zone {
  std::int32_t status = db::kSuccess;
  std::int32_t number = 0;
};

std::string key_of(std::string_view a, std::string_view b) {
  std::string key(a);
  key += '\0';
  key.append(b);
  return key;
}

// A status that is not about the booking's data ends a run; the ceiling has no such run.
std::int32_t checked(std::int32_t status, const char* what) {
  if (db::status_scope(status) != db::StatusScope::kBooking) {
    fail(std::string(what) + ": status " + std::to_string(status));
  }
  return status;
}

struct Run {
  db::SessionPtr session;
  InsertTexts texts;
  std::string terminal;
  std::string log_path;
  std::string reject_path;
  Target target1;
  Target target2;
  std::FILE* rejects = nullptr;
  std::FILE* reasons = nullptr;
  std::int64_t lines_read = 0;
  std::int64_t lines_rejected = 0;
  std::int64_t statements = 0;  // as a line-by-line run without kept master data runs them
  std::int32_t time_bookings = 0, access_bookings = 0, cost_centre_bookings = 0, events = 0;
  std::unordered_map<std::string, Badge> badges;
  std::unordered_map<std::string, Code> codes;  // by schema and code
  std::unordered_map<std::string, Zone> zones;
  std::string current_schema;  // of the time bookings, in line order
  std::deque<HeldLine> held;

  bool together() const { return db::sends_together(*session); }

  void stand_in(const std::string& schema) {
    if (db::session_schema(*session) == schema) return;
    if (db::switch_schema(*session, schema) != db::kSuccess) fail("schema " + schema);
  }

  const Badge& badge(const std::string& badge, const std::string& date) {
    std::string key = key_of(badge, date);
    if (const auto found = badges.find(key); found != badges.end()) return found->second;
    Badge entry;
    entry.status = checked(
        db::lookup_badge(*session, badge, date, entry.personnel_number, entry.client_schema),
        "badge");
    return badges.emplace(std::move(key), std::move(entry)).first->second;
  }

  const Code& code(const std::string& schema, const std::string& function_code) {
    std::string key = key_of(schema, function_code);
    if (const auto found = codes.find(key); found != codes.end()) return found->second;
    stand_in(schema);
    Code entry;
    entry.type_status = checked(
        db::lookup_booking_type(*session, function_code, entry.booking_type), "booking type");
    if (!entry.booking_type.empty()) {
      entry.translation_status = checked(
          db::translate_function_code(*session, function_code, entry.new_code), "translation");
    }
    return codes.emplace(std::move(key), std::move(entry)).first->second;
  }

  const Zone& zone(const std::string& key) {
    if (const auto found = zones.find(key); found != zones.end()) return found->second;
    Zone entry;
    entry.status = checked(db::lookup_zone(*session, key, entry.number), "zone");
    return zones.emplace(key, entry).first->second;
  }

  // The keys of lines read ahead that are not known yet, asked at once.
  void prefetch(const std::vector<HeldLine*>& lines) {
    std::vector<db::BadgeKey> badge_keys;
    std::unordered_set<std::string> asked;
    std::vector<std::string> zone_keys;
    for (const HeldLine* line : lines) {
      const BookingLine& b = line->booking;
      if (runs_time(b) && !badges.contains(key_of(b.badge(), b.date())) &&
          asked.insert(key_of(b.badge(), b.date())).second) {
        badge_keys.push_back({b.badge(), b.date()});
      }
      if (b.record_kind() == "62p" && runs_access(b) && !zones.contains(b.zone_key()) &&
          asked.insert(b.zone_key()).second) {
        zone_keys.push_back(b.zone_key());
      }
    }
    std::vector<db::BadgeAnswer> badge_answers;
    if (!badge_keys.empty()) db::lookup_badges(*session, badge_keys, badge_answers);
    for (std::size_t i = 0; i < badge_keys.size(); ++i) {
      badges.emplace(key_of(badge_keys[i].badge, badge_keys[i].date),
                     Badge{checked(badge_answers[i].status, "badge"),
                           std::move(badge_answers[i].personnel_number),
                           std::move(badge_answers[i].client_schema)});
    }
    std::vector<db::ZoneAnswer> zone_answers;
    if (!zone_keys.empty()) db::lookup_zones(*session, zone_keys, zone_answers);
    for (std::size_t i = 0; i < zone_keys.size(); ++i) {
      zones.emplace(zone_keys[i],
                    Zone{checked(zone_answers[i].status, "zone"), zone_answers[i].zone_number});
    }
    // The function codes by the schema they are read in.
    std::unordered_map<std::string, std::vector<std::string>> missing;
    for (const HeldLine* line : lines) {
      const BookingLine& b = line->booking;
      if (!runs_time(b)) continue;
      const Badge& known = badges.at(key_of(b.badge(), b.date()));
      if (known.status != db::kSuccess && known.status != db::kNullFetched) continue;
      if (!codes.contains(key_of(known.client_schema, b.function_code())) &&
          asked.insert(key_of(known.client_schema, b.function_code())).second) {
        missing[known.client_schema].push_back(b.function_code());
      }
    }
    for (auto& [schema, function_codes] : missing) {
      stand_in(schema);
      std::vector<db::TextAnswer> types;
      db::lookup_booking_types(*session, function_codes, types);
      std::vector<std::string> typed;
      for (std::size_t i = 0; i < function_codes.size(); ++i) {
        if (checked(types[i].status, "booking type") == db::kSuccess) {
          typed.push_back(function_codes[i]);
        }
      }
      std::vector<db::TextAnswer> translations;
      db::translate_function_codes(*session, typed, translations);
      for (std::size_t i = 0, t = 0; i < function_codes.size(); ++i) {
        Code entry;
        entry.type_status = types[i].status;
        if (entry.type_status == db::kSuccess) {
          entry.booking_type = types[i].text;
          entry.translation_status = checked(translations[t].status, "translation");
          entry.new_code = translations[t].text;
          ++t;
        }
        codes.emplace(key_of(schema, function_codes[i]), std::move(entry));
      }
    }
  }

  static bool runs_time(const BookingLine& b) {
    const std::string& kind = b.record_kind();
    if (kind == "40p") return !b.time_booking_mark().empty();
    return kind == "dta" && b.function_code() != "024" && b.status_number() == "100";
  }
  static bool runs_access(const BookingLine& b) {
    const std::string& kind = b.record_kind();
    if (kind == "40p") return !b.access_result().empty();
    if (kind == "dta") return b.function_code() == "024" || b.status_number() != "100";
    return kind == "62p";
  }

  void log_refused(const BookingLine& b, std::string_view message) {
    std::string text = b.badge();
    text.append(", ").append(b.date()).append(", ").append(message);
    log_line(log_path, text);
  }

  Step time_booking(const BookingLine& b) {
    Step step = make_step(Kind::kTime, Step::State::kNotThrough);
    std::string_view refusal = booking_moment_refusal(b.date(), b.time());
    if (!refusal.empty()) {
      log_refused(b, refusal);
      step.reason = refusal;
      return step;
    }
    statements += 1;
    const Badge& found = badge(b.badge(), b.date());
    if (found.status != db::kSuccess && found.status != db::kNullFetched) {
      constexpr std::string_view kBadgeNotFound = "Schema/Personalnr. nicht gefunden :";
      log_refused(b, kBadgeNotFound);
      step.status = found.status;
      step.reason = kBadgeNotFound;
      return step;
    }
    if (found.client_schema != current_schema) {
      ++statements;
      current_schema = found.client_schema;
    }
    const Code& code = this->code(found.client_schema, b.function_code());
    statements += code.booking_type.empty() ? 1 : 2;
    if (code.type_status != db::kSuccess) {
      log_line(log_path, found.client_schema + ", " + found.personnel_number + ", " + b.date() +
                             ", Buchungstyp zur Buchungsart " + b.function_code() +
                             " nicht gefunden :");
    }
    step.status = code.type_status;
    std::string_view function_code = b.function_code();
    if (!code.booking_type.empty()) {
      step.status = code.translation_status;
      if (step.status == db::kSuccess) function_code = code.new_code;
    }
    const TimeExportColumns columns{found.client_schema, found.personnel_number, b.date(), b.time(),
                                    code.booking_type,   function_code,          b.text()};
    refusal = time_record_refusal(columns);
    if (!refusal.empty()) {
      log_refused(b, refusal);
      step.reason = refusal;
      return step;
    }
    target1.write(format_time_export_record(columns));
    step.state = Step::State::kDone;
    return step;
  }

  Step access_booking(const BookingLine& b) {
    Step step = make_step(Kind::kAccess, Step::State::kWaiting);
    std::int32_t code = 0;
    if (b.record_kind() == "40p") {
      code = access_status_code_for_result(b.access_result());
    } else if (b.record_kind() == "62p") {
      ++statements;
      const Zone& z = zone(b.zone_key());
      code = z.status == db::kSuccess ? z.number : 0;
    } else {
      code = decimal_integer(b.status_number());
    }
    ++statements;
    db::BatchedInsert insert{texts.access, texts.access_absorbing, {}};
    const std::string date_time = b.date() + b.time();
    const db::InputVariable inputs[] = {
        db::text_input(b.terminal(), 256), db::int32_input(decimal_integer(b.reader_number())),
        db::text_input(b.date(), 11),      db::text_input(date_time, 20),
        db::text_input(b.badge(), 20),     db::int32_input(code),
        db::text_input("001", 4)};
    const bool fits = own(inputs, {2, 3}, insert.inputs);
    step.ticket = fits ? db::queue_insert(*session, std::move(insert))
                       : db::answer_at_once(*session, db::own_inputs(inputs, insert.inputs));
    return step;
  }

  Step event(const BookingLine& b) {
    Step step = make_step(Kind::kEvent, Step::State::kWaiting);
    ++statements;
    db::BatchedInsert insert{texts.event, texts.event_absorbing, {}};
    const std::string date_time = b.date() + b.time();
    const db::InputVariable inputs[] = {db::text_input(b.terminal(), 256),
                                        db::int32_input(decimal_integer(b.reader_number())),
                                        db::text_input(b.badge(), 51),
                                        db::text_input(b.date(), 9),
                                        db::text_input(date_time, 15),
                                        db::text_input(b.function_code(), 6),
                                        db::int32_input(decimal_integer(b.status_number())),
                                        db::text_input("", 2001)};
    const bool fits = own(inputs, {3, 4}, insert.inputs);
    step.ticket = fits ? db::queue_insert(*session, std::move(insert))
                       : db::answer_at_once(*session, db::own_inputs(inputs, insert.inputs));
    return step;
  }

  Step cost_centre_booking(const BookingLine& b) {
    Step step = make_step(Kind::kCostCentre, Step::State::kNotThrough);
    const std::string_view refusal = booking_moment_refusal(b.date(), b.time());
    if (!refusal.empty()) {
      log_refused(b, refusal);
      step.reason = refusal;
      return step;
    }
    std::string record;
    record.reserve(32);
    record.append(b.date(), 6, 2).append(b.date(), 4, 2).append(b.date(), 2, 2).append(b.time());
    std::string_view badge = b.badge();
    std::string_view cost_centre = b.cost_centre();
    if (badge.size() > 13) {
      const std::string text = "----> Ausweis-ID zu lang :" + b.badge();
      log_line(log_path, text);
      std::fputs(text.c_str(), stdout);
      badge = {};
    }
    if (cost_centre.size() > 7) {
      const std::string text = "----> Kostenstelle zu lang :" + b.cost_centre();
      log_line(log_path, text);
      std::fputs(text.c_str(), stdout);
      cost_centre = {};
    }
    record.append(badge).append(13 - badge.size(), ' ').append(zero_fill_left(cost_centre, 7));
    target2.write(record);
    step.state = Step::State::kDone;
    return step;
  }

  void handle(HeldLine& line) {
    BookingLine& b = line.booking;
    if (b.empty()) return;
    const bool faulty = b.field_count() < BookingLine::kFewestFields;
    if (!faulty && b.terminal() != terminal) return;
    if (faulty || b.field_count() < BookingLine::kDispatchFieldCount) {
      std::fputs("FEHLERHAFTER BUCHUNGSSATZ !!\n", stdout);
      line.faulty = "FEHLERHAFTER BUCHUNGSSATZ !!";
      return;
    }
    line.dispatched = true;
    const std::string& kind = b.record_kind();
    if (kind == "40p") {
      line.time_and_access = !b.time_booking_mark().empty() && !b.access_result().empty();
      if (!b.time_booking_mark().empty()) line.steps[line.count++] = time_booking(b);
      if (!b.access_result().empty()) line.steps[line.count++] = access_booking(b);
    } else if (kind == "dta") {
      if (b.function_code() != "024" && b.status_number() == "100") {
        line.steps[line.count++] = time_booking(b);
      } else {
        if (b.function_code() != "024" && !b.badge().empty()) line.steps[line.count++] = event(b);
        line.steps[line.count++] = access_booking(b);
      }
    } else if (kind == "62p") {
      line.steps[line.count++] = access_booking(b);
    } else if (kind == "50p") {
      line.steps[line.count++] = cost_centre_booking(b);
    }
  }

  bool waits(const HeldLine& line) const {
    for (int i = 0; i < line.count; ++i) {
      if (line.steps[i].state == Step::State::kWaiting &&
          !db::answer(*session, line.steps[i].ticket))
        return true;
    }
    return false;
  }

  void reject(const HeldLine& line, std::string_view bytes, const std::string& reason) {
    ++lines_rejected;
    if (rejects == nullptr) {
      const int lines_fd =
          ::open(reject_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
      const int reasons_fd = ::open(reasons_file_path(reject_path).c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
      rejects = lines_fd < 0 ? nullptr : ::fdopen(lines_fd, "wb");
      reasons = reasons_fd < 0 ? nullptr : ::fdopen(reasons_fd, "wb");
      if (rejects == nullptr || reasons == nullptr) fail("reject file " + reject_path);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), rejects);
    const std::string text = "Zeile " + std::to_string(line.number) + ": " + reason + "\n";
    std::fwrite(text.data(), 1, text.size(), reasons);
    if (std::fflush(rejects) != 0 || std::fflush(reasons) != 0) fail("reject file");
  }

  void complete(HeldLine& line) {
    db::Ticket last = -1;
    for (int i = 0; i < line.count; ++i) {
      Step& step = line.steps[i];
      if (step.state != Step::State::kWaiting) continue;
      last = step.ticket;
      step.status =
          checked(db::answer(*session, step.ticket).value_or(db::kInternalError), "insert");
      if (step.status == db::kSuccess ||
          (step.status == db::kUniqueConstraint && step.kind == Kind::kAccess)) {
        step.state = Step::State::kDone;
      } else if (step.status == db::kUniqueConstraint) {
        step.state = Step::State::kDuplicate;
      } else {
        step.state = Step::State::kNotThrough;
        step.reason = step.kind == Kind::kEvent ? "Insert in O2009BuchProt fehlgeschlagen"
                                                : "Insert in Kvs402Zpk fehlgeschlagen";
        std::fputs((" " + step.reason + ", Fehler " + std::to_string(step.status) + "\n").c_str(),
                   stdout);
      }
    }
    if (last >= 0) db::forget_answers_before(*session, last + 1);
    if (!line.faulty.empty()) {
      reject(line, line.bytes, line.faulty);
      return;
    }
    if (!line.dispatched) return;
    int reached = 0;
    std::string reasons_text;
    for (int i = 0; i < line.count; ++i) {
      const Step& step = line.steps[i];
      if (step.state == Step::State::kDone) {
        switch (step.kind) {
          case Kind::kTime:
            ++time_bookings;
            break;
          case Kind::kAccess:
            ++access_bookings;
            break;
          case Kind::kCostCentre:
            ++cost_centre_bookings;
            break;
          case Kind::kEvent:
            ++events;
            break;
        }
      }
      if (step.state == Step::State::kDone || step.state == Step::State::kDuplicate) {
        ++reached;
        continue;
      }
      if (!reasons_text.empty()) reasons_text += "; ";
      std::string_view reason = step.reason;
      if (reason.ends_with(" :")) reason.remove_suffix(2);
      reasons_text += reason.empty() ? std::string_view(
                                           "nicht \xFC"
                                           "bertragen")
                                     : reason;
      if (step.status != db::kSuccess) reasons_text += ", Fehler " + std::to_string(step.status);
    }
    if (reached == line.count) return;
    if (line.time_and_access && reached == 1) {
      // Fed again, the line must do only the step that did not get through.
      std::vector<std::string> fields = line.booking.fields();
      fields[line.steps[0].state == Step::State::kDone ? 10 : 11].clear();
      std::string rebuilt;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) rebuilt += ',';
        if (fields[i].find_first_of(",\"") != std::string::npos || fields[i].starts_with(' ')) {
          fail("line " + std::to_string(line.number) + ": a field to quote");
        }
        rebuilt += fields[i];
      }
      const std::string_view bytes = line.bytes;
      rebuilt += bytes.ends_with("\r\n") ? "\r\n" : bytes.ends_with("\n") ? "\n" : "";
      reject(line, rebuilt, reasons_text);
      return;
    }
    reject(line, line.bytes, reasons_text);
  }

  void complete_answered() {
    while (!held.empty() && !waits(held.front())) {
      complete(held.front());
      held.pop_front();
    }
  }

  void transfer(std::FILE* source) {
    constexpr std::size_t kReadAhead = 500;
    constexpr std::size_t kMaxHeld = 4096;
    std::vector<HeldLine> ahead;
    std::vector<HeldLine*> this_terminal;
    for (bool end = false; !end;) {
      ahead.clear();
      this_terminal.clear();
      std::string text;
      while (ahead.size() < kReadAhead) {
        const LineRead read = read_booking_line(source, text);
        if (read == LineRead::kEnd) {
          end = true;
          break;
        }
        HeldLine& line = ahead.emplace_back();
        line.number = ++lines_read;
        if (read == LineRead::kTooLong) {
          std::fputs("FEHLERHAFTER BUCHUNGSSATZ !!\n", stdout);
          line.faulty = "FEHLERHAFTER BUCHUNGSSATZ !!, l\xE4nger als " +
                        std::to_string(kMaxLineLength) + " Bytes";
          continue;
        }
        line.booking = BookingLine(split_booking_line(text));
        line.bytes = std::move(text);
        text.clear();
      }
      for (HeldLine& line : ahead) {
        BookingLine& b = line.booking;
        if (b.field_count() >= BookingLine::kDispatchFieldCount && b.terminal() == terminal) {
          b.trim_badge();
          this_terminal.push_back(&line);
        }
      }
      if (together()) prefetch(this_terminal);
      for (HeldLine& line : ahead) {
        handle(line);
        held.push_back(std::move(line));
        if (held.size() > kMaxHeld) db::send_queued(*session);
        complete_answered();
      }
    }
    db::send_queued(*session);
    complete_answered();
  }
};

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int run_ceiling(char** argv) {
  const auto start = Clock::now();
  const std::string alias = argv[1];
  Run run;
  run.terminal = argv[2];
  const std::string source_path = argv[3];
  const std::string log_directory = argv[6];
  run.log_path = log_directory + "/ZarveltLog.txt";
  run.reject_path =
      log_directory + "/" + reject_file_name(run.terminal, local_time_text(false), ::getpid());
  RunRecord record;
  record.start = local_time_text(true);

  std::FILE* source = std::fopen(source_path.c_str(), "rb");
  if (source == nullptr) fail("source " + source_path);
  run.target1.open(argv[4], "1");
  run.target2.open(argv[5], "2");

  const char* login = std::getenv("ZARVELT_BENCH_LOGIN");
  const char* password = std::getenv("ZARVELT_BENCH_PASSWORD");
  const db::ConnectResult connected =
      db::connect(run.session, login ? login : "", password ? password : "", alias, "KVSYSTEM");
  if (connected.status != db::kSuccess) fail("connect: status " + std::to_string(connected.status));
  run.session->set_batch_size(1000);
  run.texts = insert_texts(run.session->connection().dialect());
  std::string server_time;
  if (db::read_server_time(*run.session, server_time) != db::kSuccess) fail("server time");
  log_line(run.log_path,
           "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
           "bergabe am " +
               server_time + ":");

  run.transfer(source);
  // In the order of the program's kinds table.
  const Counters counters = {run.time_bookings, run.access_bookings, run.cost_centre_bookings,
                             run.events};
  log_line(run.log_path, summary_text(counters));

  if (std::ferror(source) != 0) fail("read " + source_path);
  run.target1.finish();
  run.target2.finish();
  if (db::commit(*run.session) != db::kSuccess) fail("commit");
  run.target1.publish();
  run.target2.publish();
  std::fclose(source);
  if (run.rejects != nullptr) {
    std::fclose(run.rejects);
    std::fclose(run.reasons);
  }
  run.session.reset();

  record.end = local_time_text(true);
  record.duration_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  record.terminal = run.terminal;
  record.source = source_path;
  record.target1 = argv[4];
  record.target2 = argv[5];
  record.lines_read = run.lines_read;
  record.lines_rejected = run.lines_rejected;
  record.transferred = counters;
  record.reason =
      "\xDC"
      "bergabe abgeschlossen";
  record.backend = connected.backend;
  record.reject_file = run.rejects != nullptr ? run.reject_path : "";
  append_run_record(log_directory + "/ZarveltRuns.jsonl", record);

  std::printf(
      "lines=%lld time_bookings=%d access_bookings=%d cost_centre_bookings=%d events=%d "
      "statements=%lld rejected=%lld seconds=%.6f cpu_seconds=%.6f\n",
      static_cast<long long>(run.lines_read), run.time_bookings, run.access_bookings,
      run.cost_centre_bookings, run.events, static_cast<long long>(run.statements),
      static_cast<long long>(run.lines_rejected),
      std::chrono::duration<double>(Clock::now() - start).count(), cpu_seconds());
  return 0;
}

}  // namespace
}  // namespace zarvelt::bench

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fputs(
        "usage: zarvelt_bench_ceiling <alias> <terminal> <booking file> <target 1> <target 2> "
        "<log directory>\n",
        stderr);
    return 2;
  }
  return zarvelt::bench::run_ceiling(argv);
}
