// Time booking export: resolves one time booking against the database (badge to personnel
// number and client schema, function code to booking type and replacement code) and writes
// one 81-character line and LF to target file 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "files/export_file.h"
#include "handlers/booking_handler.h"
#include "handlers/master_data.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// The time bookings' handler: export_time_booking over the run's master data and target file 1,
// the badges and function codes of the lines read ahead asked for at once.
class TimeBookingHandler final : public BookingHandler {
 public:
  void prefetch(RunContext& run, const std::vector<const BookingLine*>& lines) const override;
  HandlerResult handle(RunContext& run, const Reporter& reporter,
                       const BookingLine& line) const override;
};

// Handles one "40p" time booking or "dta" time booking: kDone when the record was written to
// target1, kRefused when the booking was refused (badge not valid on the date, schema switch
// failed, or a value that would shift the record's columns), each reported; kSessionLost or
// kRunMustEnd when a lookup failed for the session's or the database's sake. The lookups go
// through the run's master data.
HandlerResult export_time_booking(MasterData& master_data, ExportFile& target1,
                                  const Reporter& reporter, const BookingLine& line);

// The values of one time export record, unfilled, as the booking and the lookups gave them.
struct TimeExportColumns {
  std::string_view client_schema;
  std::string_view personnel_number;
  std::string_view date;               // field 2, yyyymmdd
  std::string_view time;               // field 3, hhmm followed by anything
  std::string_view booking_type_text;  // decimal, empty when no booking type was found
  std::string_view function_code;      // field 7 or its replacement
  std::string_view text;               // field 8
};

// The record line: schema "%-20s", personnel number "%-8s", dd.mm.yyyy, hh:mm, booking type
// zero-filled to 5, function code "%-3s", text "%-30s" (cut to 30), then LF. Values longer
// than their columns are written whole; time_record_refusal() keeps them out.
std::string format_time_export_record(const TimeExportColumns& columns);

// Why the record would not keep its 81 columns ("" when it would), for a booking whose date and
// time passed booking_moment_refusal() before its lookups: a booking type of more than 5
// characters (below -9999) and a function code of more than 3 characters. The text is cut,
// never refused.
std::string_view time_record_refusal(const TimeExportColumns& columns);

}  // namespace zarvelt
