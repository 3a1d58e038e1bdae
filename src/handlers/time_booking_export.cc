#include "handlers/time_booking_export.h"

#include <cstdio>

#include "db/sql_hlp.h"
#include "db/zarvelt_sql.h"
#include "handlers/export_file.h"
#include "handlers/zero_fill.h"
#include "log/transfer_log.h"

namespace zarvelt {

namespace {

constexpr std::size_t kSchemaWidth = 20;
constexpr std::size_t kPersonnelNumberWidth = 8;
constexpr std::size_t kBookingTypeWidth = 5;
constexpr std::size_t kFunctionCodeWidth = 3;
constexpr std::size_t kTextWidth = 30;

constexpr std::string_view kBadgeNotFound = "Schema/Personalnr. nicht gefunden :";
constexpr std::string_view kDateInvalid = "Datum ung\xFCltig :";
constexpr std::string_view kTimeInvalid = "Uhrzeit ung\xFCltig :";
constexpr std::string_view kFunctionCodeTooLong = "Buchungsart zu lang :";
constexpr std::string_view kBookingTypeOutOfRange =
    "Buchungstyp au\xDF"
    "erhalb des Bereichs :";

void append_left_aligned(std::string& line, std::string_view text, std::size_t width) {
  line.append(text);
  if (text.size() < width) line.append(width - text.size(), ' ');
}

// count characters from position pos, or as many as there are.
std::string_view characters(std::string_view text, std::size_t pos, std::size_t count) {
  return pos < text.size() ? text.substr(pos, count) : std::string_view();
}

bool all_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A refused booking: the log line names badge and date; the console block, in verbose mode
// only, adds time and terminal.
void report_refused_booking(const TransferState& state, const FieldList& fields,
                            std::string_view message) {
  const std::string& badge = fields.field(0);
  const std::string& date = fields.field(2);
  std::string line = badge;
  line.append(", ").append(date).append(", ").append(message);
  write_log(state.log_path, line);
  if (state.verbose) {
    std::fprintf(state.console,
                 "%s\n  Ausweis   : %s\n   Datum    : %s\n   Uhrzeit  : %s\n   Terminal : %s\n\n",
                 std::string(message).c_str(), badge.c_str(), date.c_str(), fields.field(3).c_str(),
                 state.terminal_name.c_str());
  }
}

void report_missing_booking_type(const TransferState& state, const FieldList& fields,
                                 const std::string& client_schema,
                                 const std::string& personnel_number) {
  const std::string message =
      "Buchungstyp zur Buchungsart " + fields.field(7) + " nicht gefunden :";
  write_log(state.log_path,
            client_schema + ", " + personnel_number + ", " + fields.field(2) + ", " + message);
  if (state.verbose) {
    std::fprintf(state.console,
                 "%s\n   Schema   : %s\n   PersNr   : %s\n   Datum    : %s\n   Uhrzeit  : "
                 "%s\n   Terminal : %s\n\n",
                 message.c_str(), client_schema.c_str(), personnel_number.c_str(),
                 fields.field(2).c_str(), fields.field(3).c_str(), state.terminal_name.c_str());
  }
}

}  // namespace

std::string format_time_export_record(const TimeExportColumns& columns) {
  std::string line;
  line.reserve(82);
  append_left_aligned(line, columns.client_schema, kSchemaWidth);
  append_left_aligned(line, columns.personnel_number, kPersonnelNumberWidth);
  line.append(characters(columns.date, 6, 2)).append(".");
  line.append(characters(columns.date, 4, 2)).append(".");
  line.append(characters(columns.date, 0, 4));
  line.append(characters(columns.time, 0, 2)).append(":");
  line.append(characters(columns.time, 2, 2));
  line.append(zero_fill_left(columns.booking_type_text, kBookingTypeWidth));
  append_left_aligned(line, columns.function_code, kFunctionCodeWidth);
  append_left_aligned(line, columns.text.substr(0, kTextWidth), kTextWidth);
  line.push_back('\n');
  return line;
}

std::string_view booking_moment_refusal(std::string_view date, std::string_view time) {
  if (date.size() != 8 || !all_digits(date)) return kDateInvalid;
  if (time.size() < 4) return kTimeInvalid;
  return {};
}

std::string_view time_record_refusal(const TimeExportColumns& columns) {
  std::string_view refusal = booking_moment_refusal(columns.date, columns.time);
  if (!refusal.empty()) return refusal;
  if (columns.booking_type_text.size() > kBookingTypeWidth) return kBookingTypeOutOfRange;
  if (columns.function_code.size() > kFunctionCodeWidth) return kFunctionCodeTooLong;
  return {};
}

int export_time_booking(TransferState& state, const FieldList& fields) {
  const std::string& badge = fields.field(0);
  const std::string& date = fields.field(2);
  const std::string& time = fields.field(3);
  const std::string& function_code = fields.field(7);

  // A date or time that cannot fill its columns refuses the booking before any lookup.
  std::string_view refusal = booking_moment_refusal(date, time);
  if (!refusal.empty()) {
    report_refused_booking(state, fields, refusal);
    return -1;
  }

  std::string personnel_number;
  std::string client_schema;
  state.last_status =
      db::lookup_badge(*state.session, badge, date, personnel_number, client_schema);
  if (state.last_status != db::kSuccess && state.last_status != db::kNullFetched) {
    report_refused_booking(state, fields, kBadgeNotFound);
    return -1;
  }

  if (client_schema != state.current_schema) {
    state.last_status = db::switch_schema(*state.session, client_schema);
    if (state.last_status != db::kSuccess) {
      const std::string message =
          "!!! Schema konnte nicht gewechselt werden: " + client_schema + " !!!\n";
      write_log(state.log_path, message);
      std::fputs(message.c_str(), state.console);
      return -1;
    }
    state.current_schema = client_schema;
  }

  std::string column_function_code = function_code;
  std::string booking_type_text;
  state.last_status = db::lookup_booking_type(*state.session, function_code, booking_type_text);
  if (state.last_status != db::kSuccess) {
    report_missing_booking_type(state, fields, client_schema, personnel_number);
  }
  // The function code is translated only for a booking type that exists.
  if (!booking_type_text.empty()) {
    std::string new_code;
    state.last_status = db::translate_function_code(*state.session, function_code, new_code);
    if (state.last_status == db::kSuccess) column_function_code = new_code;
  }

  const TimeExportColumns columns{client_schema,     personnel_number,     date,           time,
                                  booking_type_text, column_function_code, fields.field(8)};
  refusal = time_record_refusal(columns);
  if (!refusal.empty()) {
    report_refused_booking(state, fields, refusal);
    return -1;
  }
  export_write(state.target1, format_time_export_record(columns));
  ++state.counters.time_bookings;
  return 0;
}

}  // namespace zarvelt
