// Access booking insert: the access record built from the line (the access status code by record
// kind), queued, and what its answer makes of the booking.
#include "handlers/access_booking_insert.h"

#include <string>

#include "db/statements.h"
#include "text/text.h"

namespace zarvelt {

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

void prefetch_access_booking_master_data(MasterData& master_data,
                                         const std::vector<const BookingLine*>& lines) {
  std::vector<std::string> zone_keys;
  for (const BookingLine* line : lines) {
    if (line->record_kind() == "62p") zone_keys.push_back(line->zone_key());
  }
  master_data.prefetch_zones(zone_keys);
}

HandlerResult queue_access_booking(InsertQueue& inserts, MasterData& master_data,
                                   const BookingLine& line) {
  const std::string& record_kind = line.record_kind();
  db::AccessRecord record;
  record.terminal = line.terminal();
  record.reader_number = decimal_integer(line.reader_number());
  record.booking_date = line.date();
  record.booking_date_time = line.date() + line.time();
  record.badge = line.badge();

  if (record_kind == "40p") {
    record.access_status_code = access_status_code_for_result(line.access_result());
  } else if (record_kind == "62p") {
    std::int32_t zone_number = 0;
    const std::int32_t status = master_data.zone(line.zone_key(), zone_number);
    if (HandlerResult ended = ending_lookup(status); ends_run(ended.outcome)) return ended;
    // Without a single zone row for the key the booking is stored with code 0.
    record.access_status_code = status == db::kSuccess ? zone_number : 0;
  } else if (record_kind == "dta") {
    record.access_status_code = decimal_integer(line.status_number());
  }
  record.running_number = "001";
  HandlerResult waiting{Outcome::kWaiting, db::kSuccess, {}, {}};
  waiting.ticket = inserts.queue_access(record);
  return waiting;
}

HandlerResult access_booking_answered(const Reporter& reporter, std::int32_t status) {
  if (status == db::kSuccess || status == db::kUniqueConstraint) {
    return handler_result(Outcome::kDone, status);
  }
  return failed_insert(reporter, "Kvs402Zpk", status);
}

HandlerResult insert_access_booking(InsertQueue& inserts, MasterData& master_data,
                                    const Reporter& reporter, const BookingLine& line) {
  const HandlerResult waiting = queue_access_booking(inserts, master_data, line);
  if (waiting.outcome != Outcome::kWaiting) return waiting;
  inserts.flush();
  return access_booking_answered(reporter,
                                 inserts.answer(waiting.ticket).value_or(db::kInternalError));
}

void AccessBookingHandler::prefetch(RunContext& run,
                                    const std::vector<const BookingLine*>& lines) const {
  prefetch_access_booking_master_data(*run.master_data(), lines);
}

HandlerResult AccessBookingHandler::handle(RunContext& run, const Reporter&,
                                           const BookingLine& line) const {
  return queue_access_booking(*run.inserts(), *run.master_data(), line);
}

HandlerResult AccessBookingHandler::answered(RunContext& run, std::int32_t status) const {
  return access_booking_answered(run.reporter(), status);
}

}  // namespace zarvelt
