// The program's statements, written once over the dialect objects (dialect.h): each text is
// built on the first use of a dialect and kept for the run. Lookups go through their forms for
// many keys (one key is a list of one); an insert's text is built from its description.
#include "db/statements.h"

#include <map>
#include <vector>

#include "db/client_operations.h"
#include "db/dialect.h"

namespace zarvelt::db {
namespace {

using Column = InsertColumn::Kind;

std::string value_text(const SqlDialect& sql, Column kind, int input) {
  switch (kind) {
    case Column::kText:
    case Column::kInteger:
      return sql.placeholder(input);
    case Column::kDate:
      return sql.to_date(sql.placeholder(input));
    case Column::kNull:
      return "null";
    case Column::kServerTime:
      break;
  }
  return std::string(sql.server_time());
}

// The inputs are numbered in column order.
std::string insert_text(const SqlDialect& sql, const InsertStatement& insert) {
  std::string columns;
  std::string values;
  int input = 0;
  for (const InsertColumn& column : insert.columns) {
    if (!columns.empty()) {
      columns += ",";
      values += ",";
    }
    columns += column.name;
    const bool bound = column.kind != Column::kNull && column.kind != Column::kServerTime;
    values += value_text(sql, column.kind, bound ? ++input : 0);
  }
  return "insert into " + sql.central_table(insert.table) + " (" + columns + ") values (" + values +
         ")";
}

// The badge's validity: valid-from on or before the booking date without valid-to, valid-to
// on or after it without valid-from, or both around it; dates compared as yyyymmdd texts.
// One text for every dialect, as the production client's precompiler spelt it.
std::string badge_lookup_text(const SqlDialect& sql) {
  const std::string badge = sql.placeholder(1);
  const std::string from = sql.date_digits("ASWGVO") + "<=" + sql.placeholder(2);
  const std::string to = sql.date_digits("ASWGBI") + ">=" + sql.placeholder(2);
  return "select ASWPNR ,MNDSCH from " + sql.central_table("KVS301ASW") + " ," +
         sql.central_table("KVS112MND") + " where (((ASWNUM=" + badge +
         " and ASWLIZ=MNDLIZ) and ASWMND=MNDNUM) and (((" + from + " and ASWGBI is null ) or (" +
         to + " and ASWGVO is null )) or (" + from + " and " + to + ")))";
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
                    " where ZZSTCD=" + sql.placeholder(1)) {}

  std::string badge_lookup;
  std::string booking_type_lookup;
  std::string function_code_translation;
  std::string zone_lookup;
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

// An insert's two texts in one dialect: as it is, and in the form that absorbs a duplicate key.
struct InsertTexts {
  std::string text;
  std::string absorbing;
};

// Built on first use of a statement (a constant of the program) in a dialect.
const InsertTexts& insert_texts(const SqlDialect& sql, const InsertStatement& insert) {
  static std::map<std::pair<Dialect, const InsertStatement*>, InsertTexts> built;
  const auto key = std::make_pair(sql.id(), &insert);
  auto found = built.find(key);
  if (found == built.end()) {
    std::string text = insert_text(sql, insert);
    std::string absorbing = sql.absorbing_insert(text, insert.table, insert.key);
    found = built.emplace(key, InsertTexts{std::move(text), std::move(absorbing)}).first;
  }
  return found->second;
}

// The row's values as the production client binds them, its dates converted where the dialect
// binds them so: kSuccess, or the status that refuses them.
std::int32_t own_row(const SqlDialect& sql, const InsertRow& row, std::vector<OwnedValue>& owned) {
  const auto bound = [](const InsertColumn& column) {
    return column.kind != Column::kNull && column.kind != Column::kServerTime;
  };
  std::vector<InputVariable> inputs;
  inputs.reserve(row.values.size());
  for (const InsertColumn& column : row.statement->columns) {
    if (!bound(column)) continue;
    if (inputs.size() >= row.values.size()) return kInternalError;  // a row of another statement
    const InsertValue& value = row.values[inputs.size()];
    if (column.kind == Column::kInteger) {
      const std::int32_t* integer = std::get_if<std::int32_t>(&value);
      if (integer == nullptr) return kInternalError;
      inputs.push_back(int32_input(*integer));
    } else {
      const std::string* text = std::get_if<std::string>(&value);
      if (text == nullptr) return kInternalError;
      inputs.push_back(text_input(*text, column.capacity));
    }
  }
  if (inputs.size() != row.values.size()) return kInternalError;
  const std::int32_t status = own_inputs(inputs, owned);
  if (status != kSuccess || !sql.binds_dates_converted()) return status;
  std::size_t input = 0;
  for (const InsertColumn& column : row.statement->columns) {
    if (!bound(column)) continue;
    OwnedValue& value = owned[input++];
    // NULL stays NULL.
    if (column.kind == Column::kDate && value.kind == BoundValue::Kind::kText) {
      value.text = sql.bound_date(value.text);
    }
  }
  return kSuccess;
}

}  // namespace

std::int32_t prepare_insert(Session& session, const InsertRow& row, BatchedInsert& insert) {
  const SqlDialect& sql = sql_dialect(session.connection().dialect());
  insert.inputs.clear();
  const std::int32_t status = own_row(sql, row, insert.inputs);
  if (status != kSuccess) return status;
  const InsertTexts& texts = insert_texts(sql, *row.statement);
  insert.text = texts.text;
  insert.absorbing_text = texts.absorbing;
  return kSuccess;
}

std::int32_t run_insert(Session& session, const InsertRow& row) {
  BatchedInsert insert;
  const std::int32_t status = prepare_insert(session, row, insert);
  return status != kSuccess ? status : db::run_insert(session, insert);
}

std::int32_t run_insert_absorbing(Session& session, const InsertRow& row) {
  BatchedInsert insert;
  const std::int32_t status = prepare_insert(session, row, insert);
  if (status != kSuccess) return status;
  if (insert.absorbing_text.empty()) return kFeatureNotEnabled;
  insert.text = insert.absorbing_text;
  return db::run_insert(session, insert);
}

}  // namespace zarvelt::db
