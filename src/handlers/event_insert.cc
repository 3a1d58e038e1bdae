#include "handlers/event_insert.h"

#include <cstdio>

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
  char message[80];
  std::snprintf(message, sizeof message, " Insert in O2009BuchProt fehlgeschlagen, Fehler %d\n",
                static_cast<int>(status));
  reporter.console(message);
  return failed_insert_result(status, "Insert in O2009BuchProt fehlgeschlagen");
}

}  // namespace zarvelt
