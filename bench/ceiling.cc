// The ceiling: the work a transfer must do for a generated booking file (bench/generate.py), done
// the fastest way known, straight on the client libraries (sqlite3, libpq) and the system's
// calls, with nothing of the program. The program's time is compared against it; its outputs
// (exports, log, reject files, run record counts) must equal the program's, or the two did not do
// the same work (bench/run.py checks). What it leaves out: bench/README.md. Built by
// scripts/bench.sh only.
//
//   zarvelt_bench_ceiling <alias> <terminal> <booking file> <target 1> <target 2> <log directory>
//
// alias: sqlite3:<central file> or postgresql:<conninfo>; login and password come from
// ZARVELT_BENCH_LOGIN and ZARVELT_BENCH_PASSWORD. Prints one line of name=value pairs: the four
// counters, the statements a run asking for everything line by line would run, the lines read
// and rejected, and the seconds taken from start to exit.
#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

constexpr int kNoRow = 1403, kTooManyRows = -1422, kDuplicate = -1, kDateFormat = -1861;
constexpr std::size_t kReadAhead = 500, kBatch = 1000, kMaxHeld = 4096;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "ceiling: %s\n", what.c_str());
  std::exit(1);
}

std::string local_time(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

// The value of count digits from pos; -1 when one is none.
int number(std::string_view text, std::size_t pos, std::size_t count) {
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Why a date and time cannot fill the export's columns; "" when they can.
std::string moment_refusal(std::string_view date, std::string_view time) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int y = number(date, 0, 4), m = number(date, 4, 2), d = number(date, 6, 2);
  const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  if (date.size() != 8 || y < 1 || m < 1 || m > 12 || d < 1 ||
      d > kDays[m - 1] + (m == 2 && leap)) {
    return "Datum ung\xFCltig :";
  }
  const int h = number(time, 0, 2), mi = number(time, 2, 2);
  const int s = time.size() == 6 ? number(time, 4, 2) : 0;
  if ((time.size() != 4 && time.size() != 6) || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
      s > 59) {
    return "Uhrzeit ung\xFCltig :";
  }
  return {};
}

std::string integer(const std::string& text) { return std::to_string(std::atoi(text.c_str())); }

std::string padded(std::string text, std::size_t width, char fill = ' ') {
  if (text.size() < width) text.insert(fill == ' ' ? text.size() : 0, width - text.size(), fill);
  return text;
}

// yyyymmdd[hhmiss] as the text a date column takes: ISO (SQLite) or yyyymmddThhmiss.
std::string moment_text(std::string digits, bool iso) {
  digits.resize(14, '0');
  if (!iso) return digits.insert(8, "T");
  return digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2) + " " +
         digits.substr(8, 2) + ":" + digits.substr(10, 2) + ":" + digits.substr(12, 2);
}

// ---- The database: single-row queries for many keys at once, inserts sent in batches.

enum Query { kBadge, kType, kTranslation, kZone };
struct Answer {
  int status = 0;
  std::string first, second;  // the columns of the row found
};
// An access row (7 values) or an event row (8): texts, empty for NULL; its integers at 1 and
// number(); its two dates (yyyymmdd[hhmiss]) at date() and date() + 1.
struct Row {
  Texts values;
  bool access() const { return values.size() == 7; }
  std::size_t date() const { return access() ? 2 : 3; }
  bool number(std::size_t i) const { return i == 1 || i == (access() ? 5u : 6u); }
};

struct Database {
  explicit Database(bool sends_together) : together(sends_together) {}
  virtual ~Database() = default;
  virtual std::string server_time() = 0;
  // The query once for each key (schema: the client schema of kType and kTranslation).
  virtual std::vector<Answer> ask(Query query, const std::string& schema,
                                  const std::vector<Texts>& keys) = 0;
  // Each row's status: 0, or kDuplicate for a key taken.
  virtual std::vector<int> insert(const std::vector<Row>& rows) = 0;
  virtual void commit() = 0;
  const bool together;  // statements sent together cost one round trip
};

class Sqlite final : public Database {
 public:
  explicit Sqlite(const std::string& path)
      : Database(false), directory_(path.substr(0, path.rfind('/') + 1)) {
    central_ = open(path, SQLITE_OPEN_READWRITE);
    exec(central_, "PRAGMA cache_size=-2048");
    exec(central_, "BEGIN IMMEDIATE");
    const std::string validity[2] = {"strftime('%Y%m%d',ASWGVO)<=?2",
                                     "strftime('%Y%m%d',ASWGBI)>=?2"};
    queries_[kBadge] =
        prepare(central_,
                "select ASWPNR, MNDSCH from main.KVS301ASW, main.KVS112MND where ASWNUM=?1 and "
                "ASWLIZ=MNDLIZ and ASWMND=MNDNUM and ((" +
                    validity[0] + " and ASWGBI is null) or (" + validity[1] +
                    " and ASWGVO is null) or (" + validity[0] + " and " + validity[1] + "))");
    queries_[kZone] =
        prepare(central_, "select distinct ZzsNum from main.KVS405ZZS where ZZSTCD=?1");
    access_ =
        prepare(central_,
                "insert into main.KVS402ZPK (ZpkTrm,ZpkLes,ZpkDtm,ZpkUhr,ZpkAsw,ZpkZus,ZpkFcd,"
                "ZpkMld,ZpkDat,ZpkLfd) values (?1,?2,?3,?4,?5,?6,null,null,"
                "strftime('%Y-%m-%d %H:%M:%S','now','localtime'),?7)");
    event_ = prepare(central_,
                     "insert into main.O2009BUCHPROT (BPRTRM,BPRZLS,BPRAWV,BPRDAT,BPRDTE,BPRFCD,"
                     "BPRERG,BPRVAR) values (?1,?2,?3,?4,?5,?6,?7,?8)");
  }
  std::string server_time() override {
    sqlite3_stmt* query =
        prepare(central_, "select strftime('%d.%m.%Y %H:%M:%S','now','localtime')");
    const Answer time = answer(query, {});
    sqlite3_finalize(query);
    return time.first;
  }
  std::vector<Answer> ask(Query query, const std::string& schema,
                          const std::vector<Texts>& keys) override {
    sqlite3_stmt* statement = queries_[query];
    if (query == kType || query == kTranslation) {
      // The client schema's file, read in a transaction of its own.
      auto [client, opened] = clients_.try_emplace(schema);
      if (opened) {
        sqlite3* db = open(directory_ + schema + ".db", SQLITE_OPEN_READONLY);
        exec(db, "BEGIN");
        client->second[0] = prepare(db, "select FCDTYP from KVS131FCD where FCDNUM=?1");
        client->second[1] = prepare(db, "select FCDNEW from KVS131FCDUEB where FCDOLD=?1");
      }
      statement = client->second[query == kType ? 0 : 1];
    }
    std::vector<Answer> answers;
    for (const Texts& key : keys) answers.push_back(answer(statement, key));
    return answers;
  }
  std::vector<int> insert(const std::vector<Row>& rows) override {
    std::vector<int> statuses;
    for (const Row& row : rows) {
      sqlite3_stmt* insert = row.access() ? access_ : event_;
      for (std::size_t i = 0; i < row.values.size(); ++i) {
        const std::string& value = row.values[i];
        const int at = static_cast<int>(i) + 1;
        if (row.number(i)) {
          sqlite3_bind_int(insert, at, std::atoi(value.c_str()));
        } else if (value.empty()) {
          sqlite3_bind_null(insert, at);
        } else {
          const bool date = i == row.date() || i == row.date() + 1;
          const std::string text = date ? moment_text(value, true) : value;
          sqlite3_bind_text(insert, at, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT);
        }
      }
      const int done = sqlite3_step(insert);
      sqlite3_reset(insert);
      if (done != SQLITE_DONE && sqlite3_extended_errcode(central_) != SQLITE_CONSTRAINT_UNIQUE) {
        fail(std::string("insert: ") + sqlite3_errmsg(central_));
      }
      statuses.push_back(done == SQLITE_DONE ? 0 : kDuplicate);
    }
    return statuses;
  }
  void commit() override { exec(central_, "COMMIT"); }

 private:
  static sqlite3* open(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) fail("open " + path);
    sqlite3_busy_timeout(db, 5000);
    return db;
  }
  static void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
  }
  static sqlite3_stmt* prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK) {
      fail(std::string("prepare: ") + sqlite3_errmsg(db));
    }
    return statement;
  }
  // The single-row answer of a query: its status and first two columns.
  static Answer answer(sqlite3_stmt* query, const Texts& key) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      sqlite3_bind_text(query, static_cast<int>(i) + 1, key[i].data(),
                        static_cast<int>(key[i].size()), SQLITE_STATIC);
    }
    Answer answer{kNoRow, "", ""};
    if (sqlite3_step(query) == SQLITE_ROW) {
      answer.status = 0;
      for (int i = 0; i < sqlite3_column_count(query) && i < 2; ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query, i));
        (i == 0 ? answer.first : answer.second) = text == nullptr ? "" : text;
      }
      if (sqlite3_step(query) == SQLITE_ROW) answer = {kTooManyRows, "", ""};
    }
    sqlite3_reset(query);
    return answer;
  }

  std::string directory_;
  sqlite3* central_ = nullptr;
  sqlite3_stmt* queries_[4] = {};
  sqlite3_stmt *access_ = nullptr, *event_ = nullptr;
  std::map<std::string, sqlite3_stmt* [2]> clients_;
};

class Postgresql final : public Database {
 public:
  Postgresql(const std::string& conninfo, const char* login, const char* password)
      : Database(true) {
    const char* keys[] = {"dbname", "user", "password", "client_encoding", nullptr};
    const char* values[] = {conninfo.c_str(), login && *login ? login : nullptr,
                            password && *password ? password : nullptr, "WIN1252", nullptr};
    db_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(db_) != CONNECTION_OK) fail(PQerrorMessage(db_));
    done(PQexec(db_, "BEGIN"));
    const std::string from = "to_char(ASWGVO,'yyyymmdd')<=$2",
                      to = "to_char(ASWGBI,'yyyymmdd')>=$2";
    prepare("b",
            "select ASWPNR ,MNDSCH from KVSYSTEM.KVS301ASW ,KVSYSTEM.KVS112MND where (((ASWNUM=$1 "
            "and ASWLIZ=MNDLIZ) and ASWMND=MNDNUM) and (((" +
                from + " and ASWGBI is null ) or (" + to + " and ASWGVO is null )) or (" + from +
                " and " + to + ")))");
    prepare("z", "select distinct ZzsNum from KVSYSTEM.KVS405ZZS where ZZSTCD=$1");
    prepare(
        "a",
        "insert into KVSYSTEM.KVS402ZPK (ZpkTrm,ZpkLes,ZpkDtm,ZpkUhr,ZpkAsw,ZpkZus,ZpkFcd,ZpkMld,"
        "ZpkDat,ZpkLfd) values ($1,$2,$3::text::timestamp(0),$4::text::timestamp(0),$5,$6,null,"
        "null,localtimestamp(0),$7) on conflict do nothing");
    prepare("e",
            "insert into KVSYSTEM.O2009BUCHPROT (BPRTRM,BPRZLS,BPRAWV,BPRDAT,BPRDTE,BPRFCD,BPRERG,"
            "BPRVAR) values ($1,$2,$3,$4::text::timestamp(0),$5::text::timestamp(0),$6,$7,$8) on "
            "conflict do nothing");
  }
  std::string server_time() override {
    PGresult* time = PQexec(db_, "select to_char(localtimestamp,'dd.mm.yyyy hh24:mi:ss')");
    std::string text = PQresultStatus(time) == PGRES_TUPLES_OK ? PQgetvalue(time, 0, 0) : "";
    PQclear(time);
    return text;
  }
  std::vector<Answer> ask(Query query, const std::string& schema,
                          const std::vector<Texts>& keys) override {
    std::string name = query == kBadge ? "b" : query == kZone ? "z" : "";
    if (name.empty()) {
      // A client schema's statement, prepared on its first use (its name unquoted, folded).
      name = (query == kType ? "t" : "u") + schema;
      if (prepared_.insert(name).second) {
        prepare(name, query == kType
                          ? "select FCDTYP from " + schema + ".KVS131FCD where FCDNUM=$1"
                          : "select FCDNEW from " + schema + ".KVS131FCDUEB where FCDOLD=$1");
      }
    }
    std::vector<Answer> answers;
    for (PGresult* result : pipeline(std::vector<std::string>(keys.size(), name), keys)) {
      const int rows = PQresultStatus(result) == PGRES_TUPLES_OK ? PQntuples(result) : -1;
      if (rows < 0) fail(PQresultErrorMessage(result));
      Answer& answer = answers.emplace_back();
      answer.status = rows == 1 ? 0 : rows == 0 ? kNoRow : kTooManyRows;
      if (rows == 1) answer.first = PQgetvalue(result, 0, 0);
      if (rows == 1 && PQnfields(result) > 1) answer.second = PQgetvalue(result, 0, 1);
      PQclear(result);
    }
    return answers;
  }
  std::vector<int> insert(const std::vector<Row>& rows) override {
    std::vector<Texts> inputs;
    std::vector<std::string> names;
    for (const Row& row : rows) {
      Texts& values = inputs.emplace_back(row.values);
      for (const std::size_t date : {row.date(), row.date() + 1}) {
        values[date] = moment_text(values[date], false);
      }
      names.push_back(row.access() ? "a" : "e");
    }
    std::vector<int> statuses;
    for (PGresult* result : pipeline(names, inputs)) {
      if (PQresultStatus(result) != PGRES_COMMAND_OK) fail(PQresultErrorMessage(result));
      statuses.push_back(std::strcmp(PQcmdTuples(result), "0") == 0 ? kDuplicate : 0);
      PQclear(result);
    }
    return statuses;
  }
  void commit() override {
    PGresult* result = PQexec(db_, "COMMIT");
    if (std::strcmp(PQcmdStatus(result), "COMMIT") != 0) fail("commit");
    PQclear(result);
  }

 private:
  static void done(PGresult* result) {
    if (PQresultStatus(result) != PGRES_COMMAND_OK) fail(PQresultErrorMessage(result));
    PQclear(result);
  }
  void prepare(const std::string& name, const std::string& sql) {
    done(PQprepare(db_, name.c_str(), sql.c_str(), 0, nullptr));
  }
  // The prepared statements run once for each inputs[i] in one round trip; their results.
  std::vector<PGresult*> pipeline(const std::vector<std::string>& names,
                                  const std::vector<Texts>& inputs) {
    std::vector<PGresult*> results;
    if (inputs.empty()) return results;
    if (PQenterPipelineMode(db_) != 1) fail("pipeline");
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      std::vector<const char*> values;
      for (const std::string& value : inputs[i])
        values.push_back(value.empty() ? nullptr : value.c_str());
      if (PQsendQueryPrepared(db_, names[i].c_str(), static_cast<int>(values.size()), values.data(),
                              nullptr, nullptr, 0) != 1) {
        fail(PQerrorMessage(db_));
      }
    }
    if (PQpipelineSync(db_) != 1) fail(PQerrorMessage(db_));
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      results.push_back(PQgetResult(db_));
      while (PGresult* rest = PQgetResult(db_)) PQclear(rest);
    }
    PQclear(PQgetResult(db_));  // the sync
    PQexitPipelineMode(db_);
    return results;
  }

  PGconn* db_ = nullptr;
  std::set<std::string> prepared_;
};

// ---- The files.

void log_line(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return;
  const std::string line = std::string(text) + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  struct stat st {};
  const bool sized = written && ::fstat(fd, &st) == 0;
  ::close(fd);
  if (sized && st.st_size > 10485760) {  // the log's rotation at 10 MiB
    std::rename(path.c_str(), (path.substr(0, path.size() - 4) + "_bak.txt").c_str());
  }
}

// A target, locked and emptied, and the staging file its records go to until the commit.
struct Target {
  std::string path, staging;
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
    if (fd < 0 || (file = ::fdopen(fd, "wb")) == nullptr) fail("staging file " + staging);
  }
  void write(std::string_view bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) fail("write " + staging);
  }
  void finish() {
    if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0 || std::fclose(file) != 0) {
      fail("sync " + staging);
    }
  }
  void publish() {
    if (std::rename(staging.c_str(), path.c_str()) != 0) fail("publish " + path);
    const std::size_t slash = path.rfind('/');
    const int fd =
        ::open(slash == std::string::npos ? "." : path.substr(0, slash).c_str(), O_RDONLY);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
    ::close(target_fd);
  }
};

// ---- The transfer.

enum Kind { kTime, kAccess, kCostCentre, kEvent };

// A step of a line: its kind, whether it got through, and why not.
struct Step {
  explicit Step(Kind k) : kind(k) {}
  Kind kind;
  bool reached = false, counts = false;
  int status = 0;
  std::string reason;
  std::int64_t insert = -1;  // its insert's number, while it waits for the answer
};

struct Line {
  std::int64_t number = 0;
  std::string bytes;
  Texts fields;
  enum { kNothing, kFaulty, kBooking } is = kNothing;
  std::vector<Step> steps;
};

struct Run {
  std::unique_ptr<Database> db;
  std::string terminal, log_path, reject_path;
  Target target1, target2;
  int rejects = -1, reasons = -1;
  std::int64_t lines_read = 0, lines_rejected = 0, statements = 0;
  int counted[4] = {};
  std::unordered_map<std::string, Answer> known[4];  // by query, then schema and key
  std::string current_schema;                        // of the time bookings, in line order
  std::deque<Line> held;
  std::vector<Row> queued;
  std::deque<int> answers;  // of the inserts from answered_from on
  std::int64_t answered_from = 0, inserts = 0;

  static bool time_of(const Texts& f) {
    return f[15] == "40p" ? !f[10].empty() : f[15] == "dta" && f[7] != "024" && f[12] == "100";
  }
  static bool access_of(const Texts& f) {
    if (f[15] == "40p") return !f[11].empty();
    return f[15] == "62p" || (f[15] == "dta" && (f[7] == "024" || f[12] != "100"));
  }
  static std::string key_of(const std::string& schema, const Texts& key) {
    std::string text = schema;
    for (const std::string& part : key) text += '\0' + part;
    return text;
  }

  // Asks at once for the keys not known yet.
  void ask(Query query, const std::string& schema, const std::vector<Texts>& keys) {
    std::vector<Texts> missing;
    for (const Texts& key : keys) {
      if (known[query].try_emplace(key_of(schema, key)).second) missing.push_back(key);
    }
    const std::vector<Answer> found = db->ask(query, schema, missing);
    for (std::size_t i = 0; i < missing.size(); ++i)
      known[query][key_of(schema, missing[i])] = found[i];
  }
  const Answer& answer(Query query, const std::string& schema, const Texts& key) {
    ask(query, schema, {key});
    return known[query][key_of(schema, key)];
  }

  // The keys of the lines read ahead, asked at once: badges and zones, then the function codes
  // of the badges' client schemas, then the translations of those with a booking type.
  void read_ahead(std::deque<Line>::iterator from) {
    std::vector<Texts> badges, zones;
    for (auto line = from; line != held.end(); ++line) {
      const Texts& f = line->fields;
      if (line->is == Line::kBooking && time_of(f)) badges.push_back({f[0], f[2]});
      if (line->is == Line::kBooking && f[15] == "62p") zones.push_back({f[13] + f[12]});
    }
    ask(kBadge, "", badges);
    ask(kZone, "", zones);
    for (const Query query : {kType, kTranslation}) {
      std::map<std::string, std::vector<Texts>> codes;  // by schema
      for (auto line = from; line != held.end(); ++line) {
        const Texts& f = line->fields;
        if (line->is != Line::kBooking || !time_of(f)) continue;
        const Answer& badge = known[kBadge][key_of("", {f[0], f[2]})];
        if (badge.status != 0) continue;
        if (query == kType || known[kType][key_of(badge.second, {f[7]})].status == 0) {
          codes[badge.second].push_back({f[7]});
        }
      }
      for (const auto& [schema, keys] : codes) ask(query, schema, keys);
    }
  }

  void refuse(Step& step, const Texts& f, std::string_view message, int status) {
    log_line(log_path, f[0] + ", " + f[2] + ", " + std::string(message));
    step.reason = message;
    step.status = status;
  }

  Step time_booking(const Texts& f) {
    Step step(kTime);
    if (const std::string refusal = moment_refusal(f[2], f[3]); !refusal.empty()) {
      refuse(step, f, refusal, 0);
      return step;
    }
    ++statements;
    const Answer& badge = answer(kBadge, "", {f[0], f[2]});
    if (badge.status != 0) {
      refuse(step, f, "Schema/Personalnr. nicht gefunden :", badge.status);
      return step;
    }
    const std::string& schema = badge.second;
    statements += schema != current_schema;  // the switch
    current_schema = schema;
    const Answer& type = answer(kType, schema, {f[7]});
    std::string code = f[7];
    step.status = type.status;
    if (type.status != 0) {
      ++statements;
      log_line(log_path, schema + ", " + badge.first + ", " + f[2] +
                             ", Buchungstyp zur Buchungsart " + f[7] + " nicht gefunden :");
    } else {
      statements += 2;
      const Answer& translation = answer(kTranslation, schema, {f[7]});
      step.status = translation.status;
      if (translation.status == 0) code = translation.first;
    }
    target1.write(padded(schema, 20) + padded(badge.first, 8) + f[2].substr(6, 2) + "." +
                  f[2].substr(4, 2) + "." + f[2].substr(0, 4) + f[3].substr(0, 2) + ":" +
                  f[3].substr(2, 2) + padded(type.status == 0 ? type.first : "", 5, '0') +
                  padded(code, 3) + padded(f[8].substr(0, 30), 30) + "\n");
    step.reached = step.counts = true;
    return step;
  }

  // Queues the row, or refuses it as the database would where its date and time are no moment.
  Step insert(Kind kind, Row row) {
    ++statements;
    Step step(kind);
    const std::string& moment = row.values[row.date() + 1];
    if (!moment_refusal(moment.substr(0, 8), moment.substr(8)).empty()) {
      step.status = kDateFormat;
      step.reason = kind == kAccess ? "Insert in Kvs402Zpk fehlgeschlagen"
                                    : "Insert in O2009BuchProt fehlgeschlagen";
      std::printf(" %s, Fehler %d\n", step.reason.c_str(), step.status);
      return step;
    }
    queued.push_back(std::move(row));
    answers.push_back(0);
    step.insert = inserts++;
    if (queued.size() >= kBatch || !db->together) send();
    return step;
  }

  Step access_booking(const Texts& f) {
    std::string code = integer(f[12]);  // dta
    if (f[15] == "40p") {
      static const std::map<char, const char*> kCodes = {{'1', "100"}, {'9', "204"}, {'B', "202"},
                                                         {'Z', "202"}, {'S', "203"}, {'U', "201"}};
      const auto found = kCodes.find(f[11][0]);
      code = found == kCodes.end() ? "200" : found->second;
    } else if (f[15] == "62p") {
      ++statements;
      const Answer& zone = answer(kZone, "", {f[13] + f[12]});
      code = zone.status == 0 ? zone.first : "0";
    }
    return insert(kAccess, {{f[5], integer(f[6]), f[2], f[2] + f[3], f[0], code, "001"}});
  }

  Step cost_centre_booking(const Texts& f) {
    Step step(kCostCentre);
    if (const std::string refusal = moment_refusal(f[2], f[3]); !refusal.empty()) {
      refuse(step, f, refusal, 0);
      return step;
    }
    target2.write(f[2].substr(6, 2) + f[2].substr(4, 2) + f[2].substr(2, 2) + f[3] +
                  padded(f[0], 13) + padded(f[8], 7, '0'));
    step.reached = step.counts = true;
    return step;
  }

  void handle(Line& line) {
    const Texts& f = line.fields;
    if (time_of(f)) line.steps.push_back(time_booking(f));
    if (f[15] == "dta" && f[7] != "024" && f[12] != "100" && !f[0].empty()) {
      line.steps.push_back(insert(
          kEvent, {{f[5], integer(f[6]), f[0], f[2], f[2] + f[3], f[7], integer(f[12]), ""}}));
    }
    if (access_of(f)) line.steps.push_back(access_booking(f));
    if (f[15] == "50p") line.steps.push_back(cost_centre_booking(f));
  }

  void send() {
    const std::vector<int> statuses = db->insert(queued);
    std::copy(statuses.begin(), statuses.end(),
              answers.end() - static_cast<std::ptrdiff_t>(queued.size()));
    queued.clear();
  }

  void reject(const Line& line, std::string_view bytes, const std::string& reason) {
    ++lines_rejected;
    if (rejects < 0) {
      const std::string reasons_path =
          reject_path.substr(0, reject_path.size() - 4) + "_Gruende.txt";
      rejects = ::open(reject_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
      reasons = ::open(reasons_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
      if (rejects < 0 || reasons < 0) fail("reject file " + reject_path);
    }
    const std::string text = "Zeile " + std::to_string(line.number) + ": " + reason + "\n";
    if (::write(rejects, bytes.data(), bytes.size()) < 0 ||
        ::write(reasons, text.data(), text.size()) < 0) {
      fail("reject file");
    }
  }

  // The line's count and rejection, once its inserts are answered.
  void complete(Line& line) {
    if (line.is == Line::kFaulty) return reject(line, line.bytes, "FEHLERHAFTER BUCHUNGSSATZ !!");
    std::string reasons_text;
    std::size_t reached = 0;
    for (Step& step : line.steps) {
      if (step.insert >= 0) {
        step.status = answers[static_cast<std::size_t>(step.insert - answered_from)];
        step.reached = true;
        step.counts = step.status == 0 || step.kind == kAccess;  // a duplicate event: not again
      }
      counted[step.kind] += step.counts;
      reached += step.reached;
      if (step.reached) continue;
      std::string_view reason = step.reason;
      if (reason.ends_with(" :")) reason.remove_suffix(2);  // the log's refusals end so
      reasons_text += (reasons_text.empty() ? "" : "; ") + std::string(reason) +
                      (step.status != 0 ? ", Fehler " + std::to_string(step.status) : "");
    }
    if (reached == line.steps.size()) return;
    if (reached == 0) return reject(line, line.bytes, reasons_text);
    // A time booking with its access booking, one through: fed again, the line does the other.
    Texts f = line.fields;
    f[line.steps[0].reached ? 10 : 11].clear();
    std::string again;
    for (const std::string& field : f) again += (again.empty() ? "" : ",") + field;
    const std::string_view bytes = line.bytes;
    reject(line,
           again + (bytes.ends_with("\r\n") ? "\r\n"
                    : bytes.ends_with("\n") ? "\n"
                                            : ""),
           reasons_text);
  }

  // Completes the lines whose inserts are answered, in order.
  void complete_answered() {
    const std::int64_t unanswered = inserts - static_cast<std::int64_t>(queued.size());
    for (; !held.empty(); held.pop_front()) {
      for (const Step& step : held.front().steps) {
        if (step.insert >= unanswered) return;
      }
      complete(held.front());
    }
    // Every line is through: the answers taken are let go of.
    answers.erase(answers.begin(), answers.end() - static_cast<std::ptrdiff_t>(queued.size()));
    answered_from = unanswered;
  }

  void transfer(std::FILE* source) {
    std::string text;
    for (bool end = false; !end;) {
      const std::size_t first = held.size();
      for (std::size_t read = 0; read < kReadAhead && !end; ++read) {
        text.clear();
        for (int c;
             (c = std::getc(source)) != EOF && (text.push_back(static_cast<char>(c)), c != '\n');) {
        }
        if ((end = text.empty())) break;
        Line& line = held.emplace_back();
        line.number = ++lines_read;
        line.bytes = text;
        // Generated lines quote nothing and hold no comma in a field; the line end ends the last.
        std::string_view rest = std::string_view(text).substr(0, text.find_last_not_of("\r\n") + 1);
        for (std::size_t comma = 0; comma != std::string_view::npos;
             rest.remove_prefix(comma + 1)) {
          comma = rest.find(',');
          line.fields.emplace_back(rest.substr(0, comma));
          if (comma == std::string_view::npos) break;
        }
        Texts& f = line.fields;
        if (f.size() == 1 && f[0].find_first_not_of(' ') == std::string::npos) continue;  // empty
        if (f.size() < 8 || (f[5] == terminal && f.size() < 16)) {
          line.is = Line::kFaulty;
        } else if (f[5] == terminal) {
          line.is = Line::kBooking;
          f[0].erase(f[0].find_last_not_of(" \t") + 1);
        }
      }
      const auto ahead = held.begin() + static_cast<std::ptrdiff_t>(first);
      if (db->together) read_ahead(ahead);
      for (auto line = ahead; line != held.end(); ++line) {
        if (line->is == Line::kBooking) handle(*line);
        if (line->is == Line::kFaulty) std::fputs("FEHLERHAFTER BUCHUNGSSATZ !!\n", stdout);
      }
      if (held.size() > kMaxHeld) send();
      complete_answered();
    }
    send();
    complete_answered();
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fputs(
        "usage: zarvelt_bench_ceiling <alias> <terminal> <booking file> <target 1> "
        "<target 2> <log directory>\n",
        stderr);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string start_time = local_time("%Y-%m-%dT%H:%M:%S");
  const std::string alias = argv[1], source_path = argv[3], log_directory = argv[6];
  Run run;
  run.terminal = argv[2];
  run.log_path = log_directory + "/ZarveltLog.txt";
  std::string name = run.terminal;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
  run.reject_path = log_directory + "/ZarveltReject_" + name + "_" + local_time("%Y%m%d-%H%M%S") +
                    "_" + std::to_string(::getpid()) + ".txt";

  std::FILE* source = std::fopen(source_path.c_str(), "rb");
  if (source == nullptr) fail("source " + source_path);
  run.target1.open(argv[4], "1");
  run.target2.open(argv[5], "2");
  const bool sqlite = alias.starts_with("sqlite3:");
  if (sqlite) {
    run.db = std::make_unique<Sqlite>(alias.substr(8));
  } else if (alias.starts_with("postgresql:")) {
    run.db = std::make_unique<Postgresql>(alias.substr(11), std::getenv("ZARVELT_BENCH_LOGIN"),
                                          std::getenv("ZARVELT_BENCH_PASSWORD"));
  } else {
    fail("alias " + alias);
  }
  log_line(run.log_path,
           "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
           "bergabe am " +
               run.db->server_time() + ":");
  run.transfer(source);
  const int* n = run.counted;
  const std::string labels[4][2] = {{"Zeitbuchungen         :", "time_bookings"},
                                    {"Zutrittsbuchungen:    :", "access_bookings"},
                                    {"Kostenstellenbuchungen:", "cost_centre_bookings"},
                                    {"Ereignisse:           :", "events"}};
  std::string summary =
                  "\n\xFC"
                  "bergeben:\n",
              transferred;
  for (int kind = 0; kind < 4; ++kind) {
    summary += "   " + labels[kind][0] + " " + std::to_string(n[kind]) + "\n";
    transferred += (kind ? ",\"" : "\"") + labels[kind][1] + "\":" + std::to_string(n[kind]);
  }
  log_line(run.log_path, summary);
  if (std::ferror(source) != 0) fail("read " + source_path);
  run.target1.finish();
  run.target2.finish();
  run.db->commit();
  run.target1.publish();
  run.target2.publish();
  std::fclose(source);
  run.db.reset();

  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::string record =
      "{\"start\":\"" + start_time + "\",\"end\":\"" + local_time("%Y-%m-%dT%H:%M:%S") +
      "\",\"duration_ms\":" +
      std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
      ",\"check\":false,\"terminal\":\"" + run.terminal + "\",\"source\":\"" + source_path +
      "\",\"target1\":\"" + argv[4] + "\",\"target2\":\"" + argv[5] + "\",\"backend\":\"" +
      (sqlite ? "sqlite" : "postgresql") + "\",\"lines_read\":" + std::to_string(run.lines_read) +
      ",\"transferred\":{" + transferred +
      "},\"lines_rejected\":" + std::to_string(run.lines_rejected) +
      ",\"reject_file\":" + (run.rejects >= 0 ? "\"" + run.reject_path + "\"" : "null") +
      ",\"exit_status\":0,\"reason\":\"\xC3\x9C"
      "bergabe abgeschlossen\"}\n";
  const int runs =
      ::open((log_directory + "/ZarveltRuns.jsonl").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (runs < 0 || ::write(runs, record.data(), record.size()) < 0) fail("run record");
  ::close(runs);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "lines=%lld time_bookings=%d access_bookings=%d cost_centre_bookings=%d events=%d "
      "statements=%lld rejected=%lld seconds=%.6f cpu_seconds=%.6f\n",
      static_cast<long long>(run.lines_read), n[kTime], n[kAccess], n[kCostCentre], n[kEvent],
      static_cast<long long>(run.statements), static_cast<long long>(run.lines_rejected),
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
  return 0;
}
