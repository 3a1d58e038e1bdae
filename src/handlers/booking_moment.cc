// The calendar checks of a booking's date and time before they fill export columns.
#include "handlers/booking_moment.h"

#include <string>

namespace zarvelt {

namespace {

constexpr std::string_view kDateInvalid = "Datum ung\xFCltig :";
constexpr std::string_view kTimeInvalid = "Uhrzeit ung\xFCltig :";

// The value of count digits from pos, or -1 when one of them is no digit.
int digits_value(std::string_view text, std::size_t pos, std::size_t count) {
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool is_calendar_date(std::string_view date) {
  if (date.size() != 8) return false;
  const int year = digits_value(date, 0, 4);
  const int month = digits_value(date, 4, 2);
  const int day = digits_value(date, 6, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool is_time_of_day(std::string_view time) {
  if (time.size() != 4 && time.size() != 6) return false;
  const int hours = digits_value(time, 0, 2);
  const int minutes = digits_value(time, 2, 2);
  const int seconds = time.size() == 6 ? digits_value(time, 4, 2) : 0;
  return hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59 && seconds >= 0 &&
         seconds <= 59;
}

}  // namespace

std::string_view booking_moment_refusal(std::string_view date, std::string_view time) {
  if (!is_calendar_date(date)) return kDateInvalid;
  if (!is_time_of_day(time)) return kTimeInvalid;
  return {};
}

void report_refused_booking(const Reporter& reporter, const BookingLine& line,
                            std::string_view message) {
  std::string text = line.badge();
  text.append(", ").append(line.date()).append(", ").append(message);
  reporter.log(text);
  if (reporter.verbose()) {
    reporter.console(std::string(message) + "\n  Ausweis   : " + line.badge() +
                     "\n   Datum    : " + line.date() + "\n   Uhrzeit  : " + line.time() +
                     "\n   Terminal : " + line.terminal() + "\n\n");
  }
}

}  // namespace zarvelt
