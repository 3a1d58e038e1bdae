// Time booking export: the lookups in their order, the record's columns and its refusals.
#include "handlers/time_booking_export.h"

#include <cstdio>

#include "files/export_file.h"
#include "handlers/booking_moment.h"
#include "handlers/zero_fill.h"

namespace zarvelt {

namespace {

constexpr std::size_t kSchemaWidth = 20;
constexpr std::size_t kPersonnelNumberWidth = 8;
constexpr std::size_t kBookingTypeWidth = 5;
constexpr std::size_t kFunctionCodeWidth = 3;
constexpr std::size_t kTextWidth = 30;

constexpr std::string_view kBadgeNotFound = "Schema/Personalnr. nicht gefunden :";
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

void report_missing_booking_type(const Reporter& reporter, const BookingLine& line,
                                 const std::string& client_schema,
                                 const std::string& personnel_number) {
  const std::string message =
      "Buchungstyp zur Buchungsart " + line.function_code() + " nicht gefunden :";
  reporter.log(client_schema + ", " + personnel_number + ", " + line.date() + ", " + message);
  if (reporter.verbose()) {
    reporter.console(message + "\n   Schema   : " + client_schema +
                     "\n   PersNr   : " + personnel_number + "\n   Datum    : " + line.date() +
                     "\n   Uhrzeit  : " + line.time() + "\n   Terminal : " + line.terminal() +
                     "\n\n");
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

std::string_view time_record_refusal(const TimeExportColumns& columns) {
  if (columns.booking_type_text.size() > kBookingTypeWidth) return kBookingTypeOutOfRange;
  if (columns.function_code.size() > kFunctionCodeWidth) return kFunctionCodeTooLong;
  return {};
}

HandlerResult export_time_booking(MasterData& master_data, ExportFile& target1,
                                  const Reporter& reporter, const BookingLine& line) {
  // A date or time that cannot fill its columns refuses the booking before any lookup.
  std::string_view refusal = booking_moment_refusal(line.date(), line.time());
  if (!refusal.empty()) {
    report_refused_booking(reporter, line, refusal);
    return {Outcome::kRefused, db::kSuccess, std::string(refusal)};
  }

  const MasterData::Badge badge = master_data.badge(line.badge(), line.date());
  if (HandlerResult ended = ending_lookup(badge.status); ends_run(ended.outcome)) return ended;
  if (!MasterData::found(badge)) {
    report_refused_booking(reporter, line, kBadgeNotFound);
    return handler_result(Outcome::kRefused, badge.status, std::string(kBadgeNotFound));
  }
  const std::string& client_schema = badge.client_schema;
  const std::string& personnel_number = badge.personnel_number;

  const MasterData::FunctionCode code =
      master_data.function_code(client_schema, line.function_code());
  // A schema that does not exist, or a name that is none, refuses this booking; a switch that
  // failed for the session's or the database's sake ends the run. The codes are missing from
  // a schema that lacks their tables (the central one, for a client row without schema).
  if (code.switch_status != db::kSchemaMissing && code.switch_status != db::kInvalidIdentifier) {
    if (HandlerResult ended = ending_lookup(code.switch_status); ends_run(ended.outcome)) {
      return ended;
    }
  }
  for (const std::int32_t status : {code.type_status, code.translation_status}) {
    if (status == db::kTableMissing) continue;
    if (HandlerResult ended = ending_lookup(status); ends_run(ended.outcome)) return ended;
  }
  if (code.switch_status != db::kSuccess) {
    const std::string message =
        "!!! Schema konnte nicht gewechselt werden: " + client_schema + " !!!\n";
    reporter.log(message);
    reporter.console(message);
    return handler_result(Outcome::kRefused, code.switch_status,
                          "Schema konnte nicht gewechselt werden: " + client_schema);
  }
  if (code.type_status != db::kSuccess) {
    report_missing_booking_type(reporter, line, client_schema, personnel_number);
  }
  std::int32_t status = code.type_status;
  std::string column_function_code = line.function_code();
  if (!code.booking_type.empty()) {
    status = code.translation_status;
    if (status == db::kSuccess) column_function_code = code.new_code;
  }

  const TimeExportColumns columns{client_schema,     personnel_number,     line.date(), line.time(),
                                  code.booking_type, column_function_code, line.text()};
  refusal = time_record_refusal(columns);  // the date and time were checked before the lookups
  if (!refusal.empty()) {
    report_refused_booking(reporter, line, refusal);
    return handler_result(Outcome::kRefused, status, std::string(refusal));
  }
  target1.write(format_time_export_record(columns));
  return handler_result(Outcome::kDone, status);
}

void TimeBookingHandler::prefetch(RunContext& run,
                                  const std::vector<const BookingLine*>& lines) const {
  MasterData& master_data = *run.master_data();
  std::vector<db::BadgeKey> badges;
  for (const BookingLine* line : lines) badges.push_back({line->badge(), line->date()});
  const std::vector<MasterData::Badge> found = master_data.badges(badges);
  // The function codes in the client schemas of the badges found.
  std::vector<MasterData::CodeKey> codes;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (MasterData::found(found[i]))
      codes.push_back({found[i].client_schema, lines[i]->function_code()});
  }
  master_data.read_ahead_function_codes(codes);
}

HandlerResult TimeBookingHandler::handle(RunContext& run, const Reporter& reporter,
                                         const BookingLine& line) const {
  return export_time_booking(*run.master_data(), run.time_export(), reporter, line);
}

}  // namespace zarvelt
