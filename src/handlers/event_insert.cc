// Event protocol insert: the event record built from the line, queued, and what its answer makes of
// the event.
#include "handlers/event_insert.h"

#include "db/statements.h"
#include "text/text.h"

namespace zarvelt {

HandlerResult queue_event(InsertQueue& inserts, const BookingLine& line) {
  db::EventRecord record;
  record.terminal = line.terminal();
  record.reader_number = decimal_integer(line.reader_number());
  record.badge = line.badge();
  record.event_date = line.date();
  record.event_date_time = line.date() + line.time();
  record.function_code = line.function_code();
  record.result_number = decimal_integer(line.status_number());
  HandlerResult waiting{Outcome::kWaiting, db::kSuccess, {}, {}};
  waiting.ticket = inserts.queue_event(record);
  return waiting;
}

HandlerResult event_answered(const Reporter& reporter, std::int32_t status) {
  if (status == db::kSuccess) return {Outcome::kDone, status, {}};
  if (status == db::kUniqueConstraint) return {Outcome::kDuplicate, status, {}};
  return failed_insert(reporter, "O2009BuchProt", status);
}

HandlerResult insert_event(InsertQueue& inserts, const Reporter& reporter,
                           const BookingLine& line) {
  const HandlerResult waiting = queue_event(inserts, line);
  inserts.flush();
  return event_answered(reporter, inserts.answer(waiting.ticket).value_or(db::kInternalError));
}

HandlerResult EventHandler::handle(RunContext& run, const Reporter&,
                                   const BookingLine& line) const {
  return queue_event(*run.inserts(), line);
}

HandlerResult EventHandler::answered(RunContext& run, std::int32_t status) const {
  return event_answered(run.reporter(), status);
}

}  // namespace zarvelt
