// The program's statements, written once over the dialect objects (dialect.h): each text is
// built on the first use of a dialect and kept for the run. Lookups go through their forms for
// many keys (one key is a list of one); inserts run at once or are queued in the session.
#include "db/statements.h"

#include <map>
#include <vector>

#include "db/client_operations.h"
#include "db/dialect.h"

namespace zarvelt::db {
namespace {

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

std::string value_text(const SqlDialect& sql, const InsertValue& value) {
  switch (value.kind) {
    case InsertValue::Kind::kInput:
      return sql.placeholder(value.input);
    case InsertValue::Kind::kDate:
      return sql.to_date(sql.placeholder(value.input));
    case InsertValue::Kind::kNull:
      return "null";
    case InsertValue::Kind::kServerTime:
      break;
  }
  return std::string(sql.server_time());
}

std::string insert_text(const SqlDialect& sql, const InsertDescription& insert) {
  std::string text = "insert into " + sql.central_table(insert.table) + " (" +
                     std::string(insert.columns) + ") values (";
  for (std::size_t i = 0; i < insert.values.size(); ++i) {
    if (i > 0) text += ",";
    text += value_text(sql, insert.values[i]);
  }
  return text + ")";
}

using Kind = InsertValue::Kind;

const InsertDescription kAccessInsert = {
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
};

const InsertDescription kEventInsert = {
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
};

// The badge's validity: valid-from on or before the booking date without valid-to, valid-to
// on or after it without valid-from, or both around it; dates compared as yyyymmdd texts.
std::string badge_lookup_text(const SqlDialect& sql) {
  const std::string badge = sql.placeholder(1);
  const std::string from = sql.date_digits("ASWGVO") + "<=" + sql.placeholder(2);
  const std::string to = sql.date_digits("ASWGBI") + ">=" + sql.placeholder(2);
  const std::string badges = sql.central_table("KVS301ASW");
  const std::string clients = sql.central_table("KVS112MND");
  if (sql.id() == Dialect::kOracle) {
    // The production client's own text, as its precompiler spelt it.
    return "select ASWPNR ,MNDSCH from " + badges + " ," + clients + " where (((ASWNUM=" + badge +
           " and ASWLIZ=MNDLIZ) and ASWMND=MNDNUM) and (((" + from + " and ASWGBI is null ) or (" +
           to + " and ASWGVO is null )) or (" + from + " and " + to + ")))";
  }
  return "select ASWPNR, MNDSCH from " + badges + ", " + clients + " where ASWNUM=" + badge +
         " and ASWLIZ=MNDLIZ and ASWMND=MNDNUM and ((" + from + " and ASWGBI is null) or (" + to +
         " and ASWGVO is null) or (" + from + " and " + to + "))";
}

// The texts of the program's statements in one dialect, built once and kept for the run. The
// function-code tables carry no schema: they resolve in the session schema.
struct DialectTexts {
  explicit DialectTexts(const SqlDialect& sql)
      : badge_lookup(badge_lookup_text(sql)),
        booking_type_lookup("select FCDTYP from " + sql.session_table("KVS131FCD") +
                            " where FCDNUM=" + sql.placeholder(1)),
        function_code_translation("select FCDNEW from " + sql.session_table("KVS131FCDUEB") +
                                  " where FCDOLD=" + sql.placeholder(1)),
        zone_lookup("select distinct ZzsNum from " + sql.central_table("KVS405ZZS") +
                    " where ZZSTCD=" + sql.placeholder(1)),
        access_insert(insert_text(sql, kAccessInsert)),
        absorbing_access_insert(
            sql.absorbing_insert(access_insert, kAccessInsert.table, kAccessInsert.key)),
        event_insert(insert_text(sql, kEventInsert)),
        absorbing_event_insert(
            sql.absorbing_insert(event_insert, kEventInsert.table, kEventInsert.key)) {}

  std::string badge_lookup;
  std::string booking_type_lookup;
  std::string function_code_translation;
  std::string zone_lookup;
  std::string access_insert;
  std::string absorbing_access_insert;
  std::string event_insert;
  std::string absorbing_event_insert;
};

// Built on first use of a dialect (the statements run on the program's one thread).
const DialectTexts& texts(Session& session) {
  static std::map<Dialect, DialectTexts> built;
  const Dialect dialect = session.connection().dialect();
  auto found = built.find(dialect);
  if (found == built.end()) found = built.emplace(dialect, sql_dialect(dialect)).first;
  return found->second;
}

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
  session.connection().run_queries(texts(session).badge_lookup, inputs, 2, statuses, rows);
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
void select_for_each(Session& session, std::string_view text, std::span<const std::string> keys,
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
  session.connection().run_queries(text, inputs, 2, statuses, rows);
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
  select_for_each(session, texts(session).booking_type_lookup, function_codes, 20,
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
  select_for_each(session, texts(session).function_code_translation, function_codes, 20,
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
  select_for_each(session, texts(session).zone_lookup, zone_keys, 20,
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

// The inputs of insert as bound in the session's dialect, its dates converted where the
// dialect binds them so: kSuccess, or the status that refuses them.
std::int32_t own_insert_inputs(Session& session, const InsertDescription& insert,
                               std::span<const InputVariable> inputs,
                               std::vector<OwnedValue>& owned) {
  const std::int32_t status = own_inputs(inputs, owned);
  const SqlDialect& sql = sql_dialect(session.connection().dialect());
  if (status != kSuccess || !sql.binds_dates_converted()) return status;
  for (const InsertValue& value : insert.values) {
    if (value.kind != Kind::kDate) continue;
    OwnedValue& date = owned[static_cast<std::size_t>(value.input - 1)];
    if (date.kind == BoundValue::Kind::kText) date.text = sql.bound_date(date.text);  // NULL stays
  }
  return kSuccess;
}

Ticket queue(Session& session, const InsertDescription& description, std::string_view text,
             std::string_view absorbing_text, std::span<const InputVariable> inputs) {
  BatchedInsert insert;
  const std::int32_t status = own_insert_inputs(session, description, inputs, insert.inputs);
  if (status != kSuccess) return answer_at_once(session, status);
  insert.text = text;
  insert.absorbing_text = absorbing_text;
  return queue_insert(session, std::move(insert));
}

// Runs an insert at once.
std::int32_t run_insert(Session& session, const InsertDescription& description,
                        std::string_view text, std::span<const InputVariable> inputs) {
  std::vector<OwnedValue> owned;
  const std::int32_t status = own_insert_inputs(session, description, inputs, owned);
  if (status != kSuccess) return status;
  std::vector<BoundValue> bound;
  bound.reserve(owned.size());
  for (const OwnedValue& value : owned) bound.push_back(value.bound());
  std::vector<FetchedRow> rows;
  return session.connection().run(text, bound, 0, rows);
}

}  // namespace

Ticket queue_access_record(Session& session, const AccessRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),     int32_input(record.reader_number),
      text_input(record.booking_date, 11),  text_input(record.booking_date_time, 20),
      text_input(record.badge, 20),         int32_input(record.access_status_code),
      text_input(record.running_number, 4),
  };
  const DialectTexts& dialect = texts(session);
  return queue(session, kAccessInsert, dialect.access_insert, dialect.absorbing_access_insert,
               inputs);
}

Ticket queue_event_record(Session& session, const EventRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),       int32_input(record.reader_number),
      text_input(record.badge, 51),           text_input(record.event_date, 9),
      text_input(record.event_date_time, 15), text_input(record.function_code, 6),
      int32_input(record.result_number),      text_input(record.variable_text, 2001),
  };
  const DialectTexts& dialect = texts(session);
  return queue(session, kEventInsert, dialect.event_insert, dialect.absorbing_event_insert, inputs);
}

std::int32_t insert_access_record(Session& session, const AccessRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),     int32_input(record.reader_number),
      text_input(record.booking_date, 11),  text_input(record.booking_date_time, 20),
      text_input(record.badge, 20),         int32_input(record.access_status_code),
      text_input(record.running_number, 4),
  };
  return run_insert(session, kAccessInsert, texts(session).access_insert, inputs);
}

std::int32_t insert_access_record_absorbing(Session& session, const AccessRecord& record) {
  const std::string& text = texts(session).absorbing_access_insert;
  if (text.empty()) return kFeatureNotEnabled;
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),     int32_input(record.reader_number),
      text_input(record.booking_date, 11),  text_input(record.booking_date_time, 20),
      text_input(record.badge, 20),         int32_input(record.access_status_code),
      text_input(record.running_number, 4),
  };
  return run_insert(session, kAccessInsert, text, inputs);
}

std::int32_t insert_event_record(Session& session, const EventRecord& record) {
  const InputVariable inputs[] = {
      text_input(record.terminal, 256),       int32_input(record.reader_number),
      text_input(record.badge, 51),           text_input(record.event_date, 9),
      text_input(record.event_date_time, 15), text_input(record.function_code, 6),
      int32_input(record.result_number),      text_input(record.variable_text, 2001),
  };
  return run_insert(session, kEventInsert, texts(session).event_insert, inputs);
}

}  // namespace zarvelt::db
