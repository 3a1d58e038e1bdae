#include "db/statements.h"

#include <vector>

#include "db/client_operations.h"

namespace zarvelt::db {
namespace {

// SQLite has no to_date: its backend's function rearranges the digits, and the column's date_*
// CHECK constraint (strftime round trip) refuses what is no valid date. Spelt out in SQL
// (length, GLOB, six substr and their concatenations) the conversion took half of an insert's
// time.
std::string sqlite_to_date(const std::string& p) {
  return std::string(kSqliteDateFunction) + "(" + p + ")";
}

// A booking date and time is a calendar moment of 8, 10, 12 or 14 digits (yyyymmdd[hh24[mi[ss]]])
// or it is refused, the same on every backend; nothing is stored as another moment.
//
// PostgreSQL: to_timestamp is lenient (month or day 00 gives the first, year 0000 the year 1)
// and the timestamp input takes hour 24, minute 60 and second 60 as the next day, hour or
// minute; so the digits are checked first and then read as an ISO timestamp
// (yyyymmddThhmiss), which refuses what is no day of the calendar. Without a time zone, the
// digits stay the wall-clock time they are, like a DATE of the production database (no shift
// in the hour skipped when daylight saving time begins). What is refused gives SQLSTATE 22007
// or 22008, as SQLite's date CHECK gives its refusal.
std::string postgresql_to_date(const std::string& p) {
  const std::string text = p + "::text";
  const std::string digits = "rpad(" + text + ",14,'0')";
  return "(CASE WHEN " + text +
         " ~ '^[0-9]{8}(([01][0-9]|2[0-3])([0-5][0-9]([0-5][0-9])?)?)?$' THEN left(" + digits +
         ",8)||'T'||right(" + digits + ",6) ELSE 'invalid:'||" + text + " END)::timestamp(0)";
}

// Oracle's to_date refuses what is no calendar moment itself (ORA-01839 to ORA-01858) but takes
// fewer digits than its format, and fails a longer text with ORA-01830: so only 8, 10, 12 or
// 14 digits reach it, padded to 14, and anything else is marked so that it fails as a date.
// NULL stays NULL (Oracle's || would make 'invalid:' of it).
std::string oracle_to_date(const std::string& p) {
  return "to_date(CASE WHEN regexp_like(" + p + ",'^[0-9]{8}([0-9]{2}){0,3}$') THEN rpad(" + p +
         ",14,'0') WHEN " + p + " IS NOT NULL THEN 'invalid:'||" + p + " END,'yyyymmddhh24miss')";
}

// What goes into one column of an insert.
struct InsertValue {
  enum class Kind { kInput, kDate, kNull, kServerTime } kind;
  int input = 0;  // kInput, kDate: the input's number, from 1
};

// An insert into a central table, from which each dialect's text is built.
struct InsertDescription {
  std::string_view table;
  std::string_view key;  // the columns of the table's unique key
  std::string_view columns;
  std::vector<InsertValue> values;
};

std::string placeholder(Dialect dialect, int input) {
  std::string text(1, dialect == Dialect::kOracle ? ':' : dialect == Dialect::kSqlite ? '?' : '$');
  text += std::to_string(input);
  return text;
}

std::string value_text(Dialect dialect, const InsertValue& value) {
  const std::string input = placeholder(dialect, value.input);
  switch (value.kind) {
    case InsertValue::Kind::kInput:
      return input;
    case InsertValue::Kind::kDate:
      if (dialect == Dialect::kSqlite) return sqlite_to_date(input);
      if (dialect == Dialect::kPostgresql) return postgresql_to_date(input);
      return oracle_to_date(input);
    case InsertValue::Kind::kNull:
      return "null";
    case InsertValue::Kind::kServerTime:
      break;
  }
  if (dialect == Dialect::kSqlite) return "strftime('%Y-%m-%d %H:%M:%S','now','localtime')";
  if (dialect == Dialect::kPostgresql) return "localtimestamp(0)";
  return "SYSDATE";
}

std::string insert_text(Dialect dialect, const InsertDescription& insert) {
  // SQLite has the central schema as the connection's main file.
  std::string text = std::string("insert into ") +
                     (dialect == Dialect::kSqlite ? "main." : "KVSYSTEM.") +
                     std::string(insert.table) + " (" + std::string(insert.columns) + ") values (";
  for (std::size_t i = 0; i < insert.values.size(); ++i) {
    if (i > 0) text += ",";
    text += value_text(dialect, insert.values[i]);
  }
  return text + ")";
}

// The insert in a form that stores nothing, and raises no error, where its row's unique key is
// taken, so that a batch runs on past a duplicate. Only the unique key is absorbed: every other
// fault still fails the statement. SQLite runs its inserts one by one and needs none.
std::string absorbing_insert_text(Dialect dialect, const InsertDescription& insert) {
  const std::string text = insert_text(dialect, insert);
  if (dialect == Dialect::kPostgresql) return text + " on conflict do nothing";
  if (dialect == Dialect::kSqlite) return {};
  // Oracle: the hint names the key by its columns, so that it holds whatever name the index has
  // on an installation.
  return "insert /*+ IGNORE_ROW_ON_DUPKEY_INDEX(" + std::string(insert.table) + "(" +
         std::string(insert.key) + ")) */" + text.substr(std::string_view("insert").size());
}

// The texts of an insert, built once and kept for the run.
class InsertTexts {
 public:
  explicit InsertTexts(const InsertDescription& insert)
      : oracle_(insert_text(Dialect::kOracle, insert)),
        sqlite_(insert_text(Dialect::kSqlite, insert)),
        postgresql_(insert_text(Dialect::kPostgresql, insert)),
        absorbing_oracle_(absorbing_insert_text(Dialect::kOracle, insert)),
        absorbing_postgresql_(absorbing_insert_text(Dialect::kPostgresql, insert)) {}
  StatementText text() const { return {oracle_, sqlite_, postgresql_}; }
  StatementText absorbing_text() const { return {absorbing_oracle_, {}, absorbing_postgresql_}; }

 private:
  std::string oracle_;
  std::string sqlite_;
  std::string postgresql_;
  std::string absorbing_oracle_;
  std::string absorbing_postgresql_;
};

using Kind = InsertValue::Kind;

const InsertTexts& access_insert() {
  static const InsertTexts texts({
      "KVS402ZPK",
      "ZpkTrm,ZpkLes,ZpkUhr,ZpkAsw,ZpkLfd",
      "ZpkTrm,ZpkLes,ZpkDtm,ZpkUhr,ZpkAsw,ZpkZus,ZpkFcd,ZpkMld,ZpkDat,ZpkLfd",
      {{Kind::kInput, 1},
       {Kind::kInput, 2},
       {Kind::kDate, 3},
       {Kind::kDate, 4},
       {Kind::kInput, 5},
       {Kind::kInput, 6},
       {Kind::kNull},
       {Kind::kNull},
       {Kind::kServerTime},
       {Kind::kInput, 7}},
  });
  return texts;
}

const InsertTexts& event_insert() {
  static const InsertTexts texts({
      "O2009BUCHPROT",
      "BPRTRM,BPRZLS,BPRAWV,BPRDTE,BPRFCD",
      "BPRTRM,BPRZLS,BPRAWV,BPRDAT,BPRDTE,BPRFCD,BPRERG,BPRVAR",
      {{Kind::kInput, 1},
       {Kind::kInput, 2},
       {Kind::kInput, 3},
       {Kind::kDate, 4},
       {Kind::kDate, 5},
       {Kind::kInput, 6},
       {Kind::kInput, 7},
       {Kind::kInput, 8}},
  });
  return texts;
}

// The badge's validity: valid-from on or before the booking date without valid-to, valid-to
// on or after it without valid-from, or both around it; dates compared as yyyymmdd texts.
constexpr StatementText kBadgeLookup = {
    "select ASWPNR ,MNDSCH from KVSYSTEM.KVS301ASW ,KVSYSTEM.KVS112MND where (((ASWNUM=:1 and "
    "ASWLIZ=MNDLIZ) and ASWMND=MNDNUM) and (((to_char(ASWGVO,'yyyymmdd')<=:2 and ASWGBI is null ) "
    "or (to_char(ASWGBI,'yyyymmdd')>=:2 and ASWGVO is null )) or (to_char(ASWGVO,'yyyymmdd')<=:2 "
    "and to_char(ASWGBI,'yyyymmdd')>=:2)))",
    "select ASWPNR, MNDSCH from main.KVS301ASW, main.KVS112MND where ASWNUM=?1 and "
    "ASWLIZ=MNDLIZ and ASWMND=MNDNUM and ((strftime('%Y%m%d',ASWGVO)<=?2 and ASWGBI is null) "
    "or (strftime('%Y%m%d',ASWGBI)>=?2 and ASWGVO is null) or (strftime('%Y%m%d',ASWGVO)<=?2 "
    "and strftime('%Y%m%d',ASWGBI)>=?2))",
    "select ASWPNR, MNDSCH from KVSYSTEM.KVS301ASW, KVSYSTEM.KVS112MND where ASWNUM=$1 and "
    "ASWLIZ=MNDLIZ and ASWMND=MNDNUM and ((to_char(ASWGVO,'yyyymmdd')<=$2 and ASWGBI is null) "
    "or (to_char(ASWGBI,'yyyymmdd')>=$2 and ASWGVO is null) or (to_char(ASWGVO,'yyyymmdd')<=$2 "
    "and to_char(ASWGBI,'yyyymmdd')>=$2))",
};

// The function-code tables carry no schema: they resolve in the session schema.
constexpr StatementText kBookingTypeLookup = {
    "select FCDTYP from KVS131FCD where FCDNUM=:1",
    "select FCDTYP from {S}.KVS131FCD where FCDNUM=?1",
    "select FCDTYP from KVS131FCD where FCDNUM=$1",
};

constexpr StatementText kFunctionCodeTranslation = {
    "select FCDNEW from KVS131FCDUEB where FCDOLD=:1",
    "select FCDNEW from {S}.KVS131FCDUEB where FCDOLD=?1",
    "select FCDNEW from KVS131FCDUEB where FCDOLD=$1",
};

constexpr StatementText kZoneLookup = {
    "select distinct ZzsNum from KVSYSTEM.KVS405ZZS where ZZSTCD=:1",
    "select distinct ZzsNum from main.KVS405ZZS where ZZSTCD=?1",
    "select distinct ZzsNum from KVSYSTEM.KVS405ZZS where ZZSTCD=$1",
};

}  // namespace

// Each lookup has one form, for many keys; one key is a list of one.
std::int32_t lookup_badge(Session& session, std::string_view badge, std::string_view date,
                          std::string& personnel_number, std::string& client_schema) {
  const BadgeKey key[] = {{std::string(badge), std::string(date)}};
  std::vector<BadgeAnswer> answers;
  lookup_badges(session, key, answers);
  personnel_number = std::move(answers[0].personnel_number);
  client_schema = std::move(answers[0].client_schema);
  return answers[0].status;
}

void lookup_badges(Session& session, std::span<const BadgeKey> keys,
                   std::vector<BadgeAnswer>& answers) {
  answers.assign(keys.size(), {});
  std::vector<std::vector<OwnedValue>> inputs;
  std::vector<std::size_t> asked;  // the keys whose inputs could be bound
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const InputVariable key[] = {text_input(keys[i].badge, 51), text_input(keys[i].date, 20)};
    std::vector<OwnedValue> owned;
    answers[i].status = own_inputs(key, owned);
    if (answers[i].status != kSuccess) continue;
    inputs.push_back(std::move(owned));
    asked.push_back(i);
  }
  std::vector<std::int32_t> statuses;
  std::vector<std::vector<FetchedRow>> rows;
  session.connection->run_queries(text_for(kBadgeLookup, session.connection->dialect()), inputs, 2,
                                  statuses, rows);
  for (std::size_t j = 0; j < asked.size(); ++j) {
    BadgeAnswer& answer = answers[asked[j]];
    std::string personnel;
    std::string schema;
    std::int16_t indicator = 0;  // shared by both outputs and never read
    const OutputVariable outputs[] = {text_output(personnel, 9), text_output(schema, 21)};
    answer.status =
        j < statuses.size() ? one_row(statuses[j], rows[j], outputs, &indicator) : kInternalError;
    if (answer.status == kSuccess) {
      answer.personnel_number = personnel;
      answer.client_schema = schema;
    }
  }
}

namespace {

// Runs text once for each key (one text input of capacity bytes), sent together where the
// backend can; take(i, status, rows) makes of each what select_one_row would.
template <typename Take>
void select_for_each(Session& session, const StatementText& text, std::span<const std::string> keys,
                     std::size_t capacity, Take take) {
  std::vector<std::vector<OwnedValue>> inputs;
  std::vector<std::size_t> asked;
  const std::vector<FetchedRow> no_rows;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const InputVariable key[] = {text_input(keys[i], capacity)};
    std::vector<OwnedValue> owned;
    const std::int32_t status = own_inputs(key, owned);
    if (status != kSuccess) {
      take(i, status, no_rows);
      continue;
    }
    inputs.push_back(std::move(owned));
    asked.push_back(i);
  }
  std::vector<std::int32_t> statuses;
  std::vector<std::vector<FetchedRow>> rows;
  session.connection->run_queries(text_for(text, session.connection->dialect()), inputs, 2,
                                  statuses, rows);
  for (std::size_t j = 0; j < asked.size(); ++j) {
    if (j < statuses.size()) {
      take(asked[j], statuses[j], rows[j]);
    } else {
      take(asked[j], kInternalError, no_rows);
    }
  }
}

}  // namespace

void lookup_booking_types(Session& session, std::span<const std::string> function_codes,
                          std::vector<TextAnswer>& answers) {
  answers.assign(function_codes.size(), {});
  select_for_each(session, kBookingTypeLookup, function_codes, 20,
                  [&](std::size_t i, std::int32_t status, const std::vector<FetchedRow>& rows) {
                    std::int16_t booking_type = 0;
                    const OutputVariable outputs[] = {int16_output(booking_type)};
                    answers[i].status = one_row(status, rows, outputs);
                    if (answers[i].status == kSuccess) {
                      answers[i].text = std::to_string(booking_type);
                    }
                  });
}

void translate_function_codes(Session& session, std::span<const std::string> function_codes,
                              std::vector<TextAnswer>& answers) {
  answers.assign(function_codes.size(), {});
  select_for_each(session, kFunctionCodeTranslation, function_codes, 20,
                  [&](std::size_t i, std::int32_t status, const std::vector<FetchedRow>& rows) {
                    std::string code;
                    const OutputVariable outputs[] = {text_output(code, 4)};
                    answers[i].status = one_row(status, rows, outputs);
                    if (answers[i].status == kSuccess) answers[i].text = code;
                  });
}

void lookup_zones(Session& session, std::span<const std::string> zone_keys,
                  std::vector<ZoneAnswer>& answers) {
  answers.assign(zone_keys.size(), {});
  select_for_each(session, kZoneLookup, zone_keys, 20,
                  [&](std::size_t i, std::int32_t status, const std::vector<FetchedRow>& rows) {
                    std::int32_t zone = 0;
                    const OutputVariable outputs[] = {int32_output(zone)};
                    answers[i].status = one_row(status, rows, outputs);
                    answers[i].zone_number = answers[i].status == kSuccess ? zone : 0;
                  });
}

std::int32_t lookup_booking_type(Session& session, std::string_view function_code,
                                 std::string& booking_type_text) {
  const std::string key[] = {std::string(function_code)};
  std::vector<TextAnswer> answers;
  lookup_booking_types(session, key, answers);
  if (answers[0].status == kSuccess) booking_type_text = answers[0].text;
  return answers[0].status;
}

std::int32_t translate_function_code(Session& session, std::string_view function_code,
                                     std::string& new_code) {
  const std::string key[] = {std::string(function_code)};
  std::vector<TextAnswer> answers;
  translate_function_codes(session, key, answers);
  if (answers[0].status == kSuccess) new_code = answers[0].text;
  return answers[0].status;
}

std::int32_t lookup_zone(Session& session, std::string_view zone_key, std::int32_t& zone_number) {
  const std::string key[] = {std::string(zone_key)};
  std::vector<ZoneAnswer> answers;
  lookup_zones(session, key, answers);
  // Several zones for one key (-1422) deliver none either.
  zone_number = answers[0].zone_number;
  return answers[0].status;
}

namespace {

Ticket queue(Session& session, const InsertTexts& texts, std::span<const InputVariable> inputs) {
  BatchedInsert insert;
  const std::int32_t status = own_inputs(inputs, insert.inputs);
  if (status != kSuccess) return answer_at_once(session, status);
  const Dialect dialect = session.connection->dialect();
  insert.text = text_for(texts.text(), dialect);
  insert.absorbing_text = text_for(texts.absorbing_text(), dialect);
  return queue_insert(session, std::move(insert));
}

}  // namespace

Ticket queue_access_record(Session& session, const AccessRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),     int32_input(record.reader_number),
      text_input(record.booking_date, 11),  text_input(record.booking_date_time, 20),
      text_input(record.badge, 20),         int32_input(record.access_status_code),
      text_input(record.running_number, 4),
  };
  return queue(session, access_insert(), inputs);
}

Ticket queue_event_record(Session& session, const EventRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),       int32_input(record.reader_number),
      text_input(record.badge, 51),           text_input(record.event_date, 9),
      text_input(record.event_date_time, 15), text_input(record.function_code, 6),
      int32_input(record.result_number),      text_input(record.variable_text, 2001),
  };
  return queue(session, event_insert(), inputs);
}

std::int32_t insert_access_record(Session& session, const AccessRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),     int32_input(record.reader_number),
      text_input(record.booking_date, 11),  text_input(record.booking_date_time, 20),
      text_input(record.badge, 20),         int32_input(record.access_status_code),
      text_input(record.running_number, 4),
  };
  return execute(*session.connection, access_insert().text(), inputs);
}

std::int32_t insert_event_record(Session& session, const EventRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),       int32_input(record.reader_number),
      text_input(record.badge, 51),           text_input(record.event_date, 9),
      text_input(record.event_date_time, 15), text_input(record.function_code, 6),
      int32_input(record.result_number),      text_input(record.variable_text, 2001),
  };
  return execute(*session.connection, event_insert().text(), inputs);
}

}  // namespace zarvelt::db
