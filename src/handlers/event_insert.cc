#include "handlers/event_insert.h"

#include "db/statements.h"
#include "text/text.h"

namespace zarvelt {

HandlerResult insert_event(db::Session& session, const Reporter& reporter,
                           const BookingLine& line) {
  db::EventRecord record;
  record.terminal = line.terminal();
  record.reader_number = decimal_integer(line.reader_number());
  record.badge = line.badge();
  record.event_date = line.date();
  record.event_date_time = line.date() + line.time();
  record.function_code = line.function_code();
  record.result_number = decimal_integer(line.status_number());
  const std::int32_t status = db::insert_event_record(session, record);
  if (status == db::kSuccess) return {Outcome::kDone, status, {}};
  if (status == db::kUniqueConstraint) return {Outcome::kDuplicate, status, {}};
  return failed_insert(reporter, "O2009BuchProt", status);
}

}  // namespace zarvelt
