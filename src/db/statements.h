// The program's statements: the lookups and inserts of the handlers, one text per backend where the
// dialects differ. Each returns the statement status. Text host variables have the capacities of
// the record layouts; an input text that does not fit its host variable is refused (kValueTooLarge)
// without running the statement, never cut.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

// One row of KVSYSTEM.KVS402ZPK; ZpkFcd and ZpkMld NULL, ZpkDat the server's time.
struct AccessRecord {
  std::string terminal;  // 256 bytes
  std::int32_t reader_number = 0;
  std::string booking_date;       // 11 bytes, yyyymmdd
  std::string booking_date_time;  // 20 bytes, yyyymmddhhmiss
  std::string badge;              // 20 bytes
  std::int32_t access_status_code = 0;
  std::string running_number;  // 4 bytes, "001"
};
std::int32_t insert_access_record(Session& session, const AccessRecord& record);
// The same in the duplicate-absorbing form the batches send, run once on its own, for the
// installation self-test: kSuccess when it stored the row or absorbed it as a duplicate; what
// the database gives otherwise (kUniqueConstraint for a duplicate: the form is ignored);
// kFeatureNotEnabled where the dialect has no such form.
std::int32_t insert_access_record_absorbing(Session& session, const AccessRecord& record);

// One row of KVSYSTEM.O2009BUCHPROT; an empty variable text is stored as NULL.
struct EventRecord {
  std::string terminal;  // 256 bytes
  std::int32_t reader_number = 0;
  std::string badge;            // 51 bytes
  std::string event_date;       // 9 bytes, yyyymmdd
  std::string event_date_time;  // 15 bytes, yyyymmddhhmiss
  std::string function_code;    // 6 bytes
  std::int32_t result_number = 0;
  std::string variable_text;  // 2001 bytes
};
std::int32_t insert_event_record(Session& session, const EventRecord& record);

// The same inserts queued in the session (see queue_insert); their statuses are those the
// inserts above would give at that point of the run.
Ticket queue_access_record(Session& session, const AccessRecord& record);
Ticket queue_event_record(Session& session, const EventRecord& record);

}  // namespace zarvelt::db
