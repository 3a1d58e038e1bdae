#include "handlers/event_insert.h"

#include <string>

#include "db/zarvelt_sql.h"

namespace zarvelt {

std::int32_t insert_event(TransferState& state, std::string_view terminal,
                          std::int32_t reader_number, std::string_view badge, std::string_view date,
                          std::string_view time, std::string_view function_code,
                          std::int32_t result_number, std::string_view variable_text) {
  db::EventRecord record;
  record.terminal = terminal;
  record.reader_number = reader_number;
  record.badge = badge;
  record.event_date = date;
  record.event_date_time.append(date).append(time);
  record.function_code = function_code;
  record.result_number = result_number;
  record.variable_text = variable_text;
  return db::insert_event_record(*state.session, record);
}

}  // namespace zarvelt
