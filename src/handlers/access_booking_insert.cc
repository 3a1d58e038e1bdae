// Access booking insert: the row built from the line (the access status code by record kind),
// and what its insert's status makes of the booking.
#include "handlers/access_booking_insert.h"

#include <string>

#include "text/text.h"

namespace zarvelt {

namespace {

using Column = db::InsertColumn::Kind;
constexpr db::InsertColumn kAccessColumns[] = {
    {"ZpkTrm", Column::kText, 256}, {"ZpkLes", Column::kInteger},  {"ZpkDtm", Column::kDate, 11},
    {"ZpkUhr", Column::kDate, 20},  {"ZpkAsw", Column::kText, 20}, {"ZpkZus", Column::kInteger},
    {"ZpkFcd", Column::kNull},      {"ZpkMld", Column::kNull},     {"ZpkDat", Column::kServerTime},
    {"ZpkLfd", Column::kText, 4},
};

}  // namespace

const db::InsertStatement kAccessInsert = {"KVS402ZPK", "ZpkTrm,ZpkLes,ZpkUhr,ZpkAsw,ZpkLfd",
                                           kAccessColumns};

std::int32_t access_status_code_for_result(std::string_view access_result) {
  switch (access_result.empty() ? '\0' : access_result.front()) {
    case '1':
      return 100;
    case '9':
      return 204;
    case 'B':
    case 'Z':
      return 202;
    case 'S':
      return 203;
    case 'U':
      return 201;
    default:
      return 200;
  }
}

void AccessBookingHandler::prefetch(RunContext& run,
                                    const std::vector<const BookingLine*>& lines) const {
  std::vector<std::string> zone_keys;
  for (const BookingLine* line : lines) {
    if (line->record_kind() == "62p") zone_keys.push_back(line->zone_key());
  }
  if (!zone_keys.empty()) run.master_data()->zones(zone_keys);
}

HandlerResult AccessBookingHandler::handle(RunContext& run, const Reporter&,
                                           const BookingLine& line) const {
  const std::string& record_kind = line.record_kind();
  std::int32_t access_status_code = 0;
  if (record_kind == "40p") {
    access_status_code = access_status_code_for_result(line.access_result());
  } else if (record_kind == "62p") {
    const MasterData::Zone zone = run.master_data()->zone(line.zone_key());
    if (HandlerResult ended = ending_lookup(zone.status); ends_run(ended.outcome)) return ended;
    // Without a single zone row for the key the booking is stored with code 0.
    access_status_code = zone.status == db::kSuccess ? zone.zone_number : 0;
  } else if (record_kind == "dta") {
    access_status_code = decimal_integer(line.status_number());
  }
  HandlerResult waiting{Outcome::kWaiting, db::kSuccess, {}, {}};
  waiting.insert = {&kAccessInsert,
                    {line.terminal(), decimal_integer(line.reader_number()), line.date(),
                     line.date() + line.time(), line.badge(), access_status_code, "001"}};
  return waiting;
}

HandlerResult AccessBookingHandler::answered(const Reporter& reporter, std::int32_t status) const {
  if (status == db::kSuccess || status == db::kUniqueConstraint) {
    return handler_result(Outcome::kDone, status);
  }
  return failed_insert(reporter, "Kvs402Zpk", status);
}

}  // namespace zarvelt
