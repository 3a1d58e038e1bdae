#include "handlers/cost_centre_export.h"

#include <string>
#include <string_view>

#include "handlers/zero_fill.h"

namespace zarvelt {

namespace {

constexpr size_t kBadgeWidth = 13;
constexpr size_t kCostCentreWidth = 7;

// ddmmyy from a yyyymmdd date. The field's form is not checked upstream, so the column is
// built only from positions the text has: a missing position becomes '0' and characters
// beyond the eighth are ignored. The column is always 6 characters and never reads past the
// field ("2024" gives 000024, "" gives 000000).
std::string ddmmyy(std::string_view date) {
  static constexpr size_t kPositions[] = {6, 7, 4, 5, 2, 3};
  std::string column;
  for (size_t position : kPositions) {
    column.push_back(position < date.size() ? date[position] : '0');
  }
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

  std::string record = ddmmyy(line.date());
  // Field 3 goes out unchanged at any length: the columns after it move with its length
  // anyway (hhmm gives a 30-character record), and cutting it would lose part of the time.
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
  export_write(target2, record);
  return {Outcome::kDone, db::kSuccess};
}

}  // namespace zarvelt
