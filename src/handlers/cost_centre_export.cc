#include "handlers/cost_centre_export.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "log/transfer_log.h"

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
void report_too_long(TransferState& state, std::string_view message, const std::string& value) {
  std::string text(message);
  text += value;
  write_log(state.log_path, text);
  std::fwrite(text.data(), 1, text.size(), state.console);
}

}  // namespace

int export_cost_centre_booking(TransferState& state, const FieldList& fields) {
  const std::string& badge = fields.field(0);
  const std::string& cost_centre = fields.field(8);

  std::string record = ddmmyy(fields.field(2));
  // Field 3 goes out unchanged at any length: the columns after it move with its length
  // anyway (hhmm gives a 30-character record), and cutting it would lose part of the time.
  record += fields.field(3);

  std::string badge_column;
  if (badge.size() > kBadgeWidth) {
    report_too_long(state, "----> Ausweis-ID zu lang :", badge);
  } else {
    badge_column = badge;
  }
  std::string cost_centre_column;
  if (cost_centre.size() > kCostCentreWidth) {
    report_too_long(state, "----> Kostenstelle zu lang :", cost_centre);
  } else {
    cost_centre_column = cost_centre;
  }

  // "%-13s" and "%07s": the zero fill is built by hand because printf fills text conversions
  // with blanks whatever the flag says.
  record += badge_column;
  record.append(kBadgeWidth - badge_column.size(), ' ');
  record.append(kCostCentreWidth - cost_centre_column.size(), '0');
  record += cost_centre_column;

  // A failed write is remembered in the export file for the driver; the booking still counts.
  export_write(state.target2, record);
  ++state.counters.cost_centre_bookings;
  return 0;
}

}  // namespace zarvelt
