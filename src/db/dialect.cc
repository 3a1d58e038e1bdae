// The three dialects' objects: Oracle (the production database, through ODBC), SQLite (the
// embedded backend) and PostgreSQL (libpq, or through ODBC).
#include "db/dialect.h"

#include <algorithm>

namespace zarvelt::db {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A booking date and time is a calendar moment of 8, 10, 12 or 14 digits (yyyymmdd[hh24[mi[ss]]])
// or it is refused, the same on every dialect; nothing is stored as another moment.
class OracleDialect : public SqlDialect {
 public:
  Dialect id() const override { return Dialect::kOracle; }
  char placeholder_mark() const override { return ':'; }

  // Oracle's to_date refuses what is no calendar moment itself (ORA-01839 to ORA-01858) but
  // takes fewer digits than its format, and fails a longer text with ORA-01830: so only 8, 10,
  // 12 or 14 digits reach it, padded to 14, and anything else is marked so that it fails as a
  // date. NULL stays NULL (Oracle's || would make 'invalid:' of it).
  std::string to_date(const std::string& p) const override {
    return "to_date(CASE WHEN regexp_like(" + p + ",'^[0-9]{8}([0-9]{2}){0,3}$') THEN rpad(" + p +
           ",14,'0') WHEN " + p + " IS NOT NULL THEN 'invalid:'||" + p + " END,'yyyymmddhh24miss')";
  }
  std::string_view server_time() const override { return "SYSDATE"; }
  std::string_view server_time_query() const override {
    return "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') from dual";
  }

  // The hint names the key by its columns, so that it holds whatever name the index has on an
  // installation.
  std::string absorbing_insert(const std::string& insert, std::string_view table,
                               std::string_view key) const override {
    return "insert /*+ IGNORE_ROW_ON_DUPKEY_INDEX(" + std::string(table) + "(" + std::string(key) +
           ")) */" + insert.substr(std::string_view("insert").size());
  }

  std::string_view odbc_product() const override { return "Oracle"; }
};

class SqliteDialect : public SqlDialect {
 public:
  Dialect id() const override { return Dialect::kSqlite; }
  char placeholder_mark() const override { return '?'; }

  // The central schema is the connection's main file.
  std::string central_table(std::string_view table) const override {
    return "main." + std::string(table);
  }
  std::string session_table(std::string_view table) const override {
    return std::string(kSqliteSessionSchema) + "." + std::string(table);
  }

  // SQLite has no to_date: the digits are rearranged before binding (what the backend's
  // function kSqliteDateFunction makes of them), and the column's date_* CHECK constraint
  // (strftime round trip) refuses what is no valid date. Spelt out in SQL (length, GLOB, six
  // substr and their concatenations) the conversion took half of an insert's time, and as a
  // function of ours called by the SQL a tenth.
  bool binds_dates_converted() const override { return true; }
  std::string bound_date(std::string_view text) const override { return sqlite_date_text(text); }
  std::string to_date(const std::string& p) const override { return p; }
  std::string date_digits(std::string_view column) const override {
    return "strftime('%Y%m%d'," + std::string(column) + ")";
  }
  std::string_view server_time() const override {
    return "strftime('%Y-%m-%d %H:%M:%S','now','localtime')";
  }
  std::string_view server_time_query() const override {
    return "select strftime('%d.%m.%Y %H:%M:%S','now','localtime')";
  }

  // SQLite runs its inserts one by one and needs none.
  std::string absorbing_insert(const std::string&, std::string_view,
                               std::string_view) const override {
    return {};
  }
};

class PostgresqlDialect : public SqlDialect {
 public:
  Dialect id() const override { return Dialect::kPostgresql; }
  char placeholder_mark() const override { return '$'; }

  // to_timestamp is lenient (month or day 00 gives the first, year 0000 the year 1) and the
  // timestamp input takes hour 24, minute 60 and second 60 as the next day, hour or minute; so
  // the digits are checked first and then read as an ISO timestamp (yyyymmddThhmiss), which
  // refuses what is no day of the calendar. Without a time zone, the digits stay the
  // wall-clock time they are, like a DATE of the production database (no shift in the hour
  // skipped when daylight saving time begins). What is refused gives SQLSTATE 22007 or 22008,
  // as SQLite's date CHECK gives its refusal.
  //
  // The check and the rearranging happen before binding; the server only reads the text as a
  // timestamp. In SQL (a regular expression, rpad, left and right for two dates per insert)
  // they were the largest part of the server's time for an insert. bound_date makes of a text
  // t what "CASE WHEN t ~ '^[0-9]{8}(([01][0-9]|2[0-3])([0-5][0-9]([0-5][0-9])?)?)?$' THEN
  // left(rpad(t,14,'0'),8)||'T'||right(rpad(t,14,'0'),6) ELSE 'invalid:'||t END" made of it,
  // t being what the server receives of a text parameter: the bytes before a NUL.
  bool binds_dates_converted() const override { return true; }
  std::string bound_date(std::string_view text) const override {
    text = text.substr(0, text.find('\0'));
    const std::size_t n = text.size();
    bool moment = (n == 8 || n == 10 || n == 12 || n == 14) &&
                  std::all_of(text.begin(), text.end(), is_digit);
    if (moment && n >= 10) moment = text[8] < '2' || (text[8] == '2' && text[9] <= '3');
    if (moment && n >= 12) moment = text[10] <= '5';
    if (moment && n >= 14) moment = text[12] <= '5';
    if (!moment) return "invalid:" + std::string(text);
    std::string padded(text);
    padded.resize(14, '0');
    return padded.substr(0, 8) + "T" + padded.substr(8);
  }
  std::string to_date(const std::string& p) const override { return p + "::text::timestamp(0)"; }
  std::string_view server_time() const override { return "localtimestamp(0)"; }
  std::string_view server_time_query() const override {
    return "select to_char(localtimestamp,'dd.mm.yyyy hh24:mi:ss')";
  }

  std::string absorbing_insert(const std::string& insert, std::string_view,
                               std::string_view) const override {
    return insert + " on conflict do nothing";
  }

  bool aborts_transaction_on_failure() const override { return true; }
  std::string_view odbc_product() const override { return "PostgreSQL"; }
};

const OracleDialect kOracle;
const SqliteDialect kSqlite;
const PostgresqlDialect kPostgresql;
// In the order of the Dialect enumerators.
const SqlDialect* const kDialects[] = {&kOracle, &kSqlite, &kPostgresql};

}  // namespace

// Byte for byte the text of the SQL expression "CASE WHEN length(p) IN (8,10,12,14) AND p NOT
// GLOB '*[^0-9]*' THEN substr(p,1,4)||'-'||... (the time from p||'000000') ELSE 'invalid:'||p
// END", and year 0000 marked too. The column's CHECK then refuses month or day 00, February 30,
// hour 24 and minute or second 60 (strftime normalises them into another moment or gives NULL).
// Like SQLite's length, GLOB and substr it reads the text up to its first NUL byte, and the
// zeros pad nothing after one; "invalid:" keeps the whole text.
std::string sqlite_date_text(std::string_view text) {
  const std::string_view digits = text.substr(0, text.find('\0'));
  // Year 0000 is no year of the calendar (SQLite's date functions would take it).
  const bool convertible =
      (digits.size() == 8 || digits.size() == 10 || digits.size() == 12 || digits.size() == 14) &&
      std::all_of(digits.begin(), digits.end(), is_digit) && !digits.starts_with("0000");
  if (!convertible) return "invalid:" + std::string(text);
  std::string padded(digits);
  if (digits.size() == text.size()) padded.append(6, '0');
  const auto pair = [&](std::size_t from) {
    return from < padded.size() ? std::string_view(padded).substr(from, 2) : std::string_view();
  };
  std::string date;
  date.reserve(19);
  date.append(pair(0)).append(pair(2)).append("-").append(pair(4)).append("-").append(pair(6));
  date.append(" ").append(pair(8)).append(":").append(pair(10)).append(":").append(pair(12));
  return date;
}

const SqlDialect& sql_dialect(Dialect dialect) {
  return *kDialects[static_cast<std::size_t>(dialect)];
}

std::span<const SqlDialect* const> sql_dialects() { return kDialects; }

std::string savepoint_text() { return "SAVEPOINT " + std::string(kStatementSavepoint); }
std::string release_savepoint_text() {
  return "RELEASE SAVEPOINT " + std::string(kStatementSavepoint);
}
std::string rollback_to_savepoint_text() {
  return "ROLLBACK TO SAVEPOINT " + std::string(kStatementSavepoint);
}

}  // namespace zarvelt::db
