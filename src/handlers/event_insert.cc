#include "handlers/event_insert.h"

#include "db/statements.h"
#include "text/text.h"

namespace zarvelt {

HandlerResult insert_event(db::Session& session, const BookingLine& line) {
  db::EventRecord record;
  record.terminal = line.terminal();
  record.reader_number = decimal_integer(line.reader_number());
  record.badge = line.badge();
  record.event_date = line.date();
  record.event_date_time = line.date() + line.time();
  record.function_code = line.function_code();
  record.result_number = decimal_integer(line.status_number());
  const std::int32_t status = db::insert_event_record(session, record);
  return handler_result(status == db::kSuccess ? Outcome::kDone : Outcome::kFailed, status);
}

}  // namespace zarvelt
