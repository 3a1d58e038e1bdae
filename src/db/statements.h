// The program's statements: the lookups of the handlers, and the inserts as the booking kinds
// describe them (InsertStatement), written once over the dialects. Each returns the statement
// status. Text host variables have the capacities of the record layouts; an input text that does
// not fit its host variable is refused (kValueTooLarge) without running the statement, never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "db/session.h"

namespace zarvelt::db {

// Badge and booking date (yyyymmdd) to personnel number and client schema, from KVSYSTEM.
// Outputs are set only on status 0; with kNullFetched they stay empty.
std::int32_t lookup_badge(Session& session, std::string_view badge, std::string_view date,
                          std::string& personnel_number, std::string& client_schema);

// The same for many badges at once, sent together where the backend can: answers[i] is what
// lookup_badge gives for keys[i].
struct BadgeKey {
  std::string badge;
  std::string date;
  bool operator==(const BadgeKey&) const = default;
};
struct BadgeAnswer {
  std::int32_t status = kSuccess;
  std::string personnel_number;
  std::string client_schema;
};
void lookup_badges(Session& session, std::span<const BadgeKey> keys,
                   std::vector<BadgeAnswer>& answers);

// Function code to booking type (KVS131FCD of the session schema); on status 0 writes the
// type in decimal into booking_type_text, otherwise leaves it untouched.
std::int32_t lookup_booking_type(Session& session, std::string_view function_code,
                                 std::string& booking_type_text);

// Function code to its replacement (KVS131FCDUEB of the session schema); on status 0 writes
// the new code (at most 3 characters) into new_code, otherwise leaves it untouched.
std::int32_t translate_function_code(Session& session, std::string_view function_code,
                                     std::string& new_code);

// Zone key (zone prefix followed by status number) to zone number; 0 when none is found.
std::int32_t lookup_zone(Session& session, std::string_view zone_key, std::int32_t& zone_number);

// The same three lookups for many keys at once, sent together where the backend can: each
// answer is what the lookup above gives for its key (text: the booking type in decimal, or
// the new code; set only on status 0).
struct TextAnswer {
  std::int32_t status = kSuccess;
  std::string text;
};
struct ZoneAnswer {
  std::int32_t status = kSuccess;
  std::int32_t zone_number = 0;
};
void lookup_booking_types(Session& session, std::span<const std::string> function_codes,
                          std::vector<TextAnswer>& answers);
void translate_function_codes(Session& session, std::span<const std::string> function_codes,
                              std::vector<TextAnswer>& answers);
void lookup_zones(Session& session, std::span<const std::string> zone_keys,
                  std::vector<ZoneAnswer>& answers);

// An insert into a table of the central schema, described once (with the booking kind whose row
// it stores): the table, its unique key and what goes into each column, in the column order of
// the statement. Each dialect's text is built from it on first use and kept for the run.
struct InsertColumn {
  enum class Kind {
    kText,        // a text input of capacity bytes, terminator included; empty binds NULL
    kInteger,     // a 32-bit integer input
    kDate,        // a text input (capacity bytes) of the digits yyyymmdd[hh24[mi[ss]]], stored
                  // as that moment; any other text fails as a date
    kNull,        // NULL
    kServerTime,  // the server's time at the insert
  };
  std::string_view name;
  Kind kind;
  std::size_t capacity = 0;
};
struct InsertStatement {
  std::string_view table;
  std::string_view key;  // the columns of the table's unique key, comma-separated
  std::span<const InsertColumn> columns;
};

// One row of an insert: a value for each kText, kInteger and kDate column, in column order.
using InsertValue = std::variant<std::string, std::int32_t>;
struct InsertRow {
  const InsertStatement* statement = nullptr;
  std::vector<InsertValue> values;
};

// The row's insert in the session's dialect, ready to be sent: kSuccess, or the status that
// refuses its values before anything is sent (a text that does not fit its host variable,
// kValueTooLarge; never cut).
std::int32_t prepare_insert(Session& session, const InsertRow& row, BatchedInsert& insert);

// Runs the row's insert at once; its status.
std::int32_t run_insert(Session& session, const InsertRow& row);
// The same in the duplicate-absorbing form the batches send, run once on its own, for the
// installation self-test: kSuccess when it stored the row or absorbed it as a duplicate; what
// the database gives otherwise (kUniqueConstraint for a duplicate: the form is ignored);
// kFeatureNotEnabled where the dialect has no such form.
std::int32_t run_insert_absorbing(Session& session, const InsertRow& row);

}  // namespace zarvelt::db
