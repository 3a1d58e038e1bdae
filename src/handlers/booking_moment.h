// The date and time of a booking as the exports take them: a calendar date yyyymmdd and a time
// of day hhmm or hhmmss. A booking whose date or time is anything else is refused by both
// exports, so that no export carries a day 40 or an hour 99 that the import downstream would
// take as it stands.
#pragma once

#include <string_view>

#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// Why date and time cannot be exported ("" when they can): "Datum ungültig :" for a date that
// is not 8 digits of a calendar date (years 0001 to 9999), "Uhrzeit ungültig :" for a time
// that is not 4 or 6 digits of a time of day (hours 00-23, minutes and seconds 00-59).
std::string_view booking_moment_refusal(std::string_view date, std::string_view time);

// Reports a refused booking: the log line "<badge>, <date>, <message>"; in verbose mode a
// console block that adds time and terminal.
void report_refused_booking(const Reporter& reporter, const BookingLine& line,
                            std::string_view message);

}  // namespace zarvelt
