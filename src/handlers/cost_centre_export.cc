// Cost-centre booking export: the fixed-width record and its refusals.
#include "handlers/cost_centre_export.h"

#include <string>
#include <string_view>

#include "handlers/booking_moment.h"
#include "handlers/zero_fill.h"

namespace zarvelt {

namespace {

constexpr size_t kBadgeWidth = 13;
constexpr size_t kCostCentreWidth = 7;

// ddmmyy from a checked yyyymmdd date.
std::string ddmmyy(std::string_view date) {
  std::string column(date.substr(6, 2));
  column.append(date.substr(4, 2)).append(date.substr(2, 2));
  return column;
}

// Reports an over-long value to the log and, without a line end, to the console.
void report_too_long(const Reporter& reporter, std::string_view message, const std::string& value) {
  std::string text(message);
  text += value;
  reporter.log(text);
  reporter.console(text);
}

}  // namespace

HandlerResult export_cost_centre_booking(ExportFile& target2, const Reporter& reporter,
                                         const BookingLine& line) {
  const std::string& badge = line.badge();
  const std::string& cost_centre = line.cost_centre();
  // A date or time that is none would go out as a day 40 or an hour 99.
  const std::string_view refusal = booking_moment_refusal(line.date(), line.time());
  if (!refusal.empty()) {
    report_refused_booking(reporter, line, refusal);
    return {Outcome::kRefused, db::kSuccess, std::string(refusal)};
  }

  std::string record = ddmmyy(line.date());
  // The time goes out as it is, hhmm or hhmmss: the record is 30 or 32 characters long.
  record += line.time();

  std::string badge_column;
  if (badge.size() > kBadgeWidth) {
    report_too_long(reporter, "----> Ausweis-ID zu lang :", badge);
  } else {
    badge_column = badge;
  }
  std::string cost_centre_column;
  if (cost_centre.size() > kCostCentreWidth) {
    report_too_long(reporter, "----> Kostenstelle zu lang :", cost_centre);
  } else {
    cost_centre_column = cost_centre;
  }

  // "%-13s" and "%07s".
  record += badge_column;
  record.append(kBadgeWidth - badge_column.size(), ' ');
  record += zero_fill_left(cost_centre_column, kCostCentreWidth);

  // A failed write is remembered in the export file for the driver; the booking still counts.
  target2.write(record);
  return {Outcome::kDone, db::kSuccess, {}};
}

HandlerResult CostCentreHandler::handle(RunContext& run, const Reporter& reporter,
                                        const BookingLine& line) const {
  return export_cost_centre_booking(run.cost_centre_export(), reporter, line);
}

}  // namespace zarvelt
