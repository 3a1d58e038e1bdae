#include "handlers/access_booking_insert.h"

#include <cstdio>
#include <string>

#include "db/zarvelt_sql.h"
#include "driver/dispatch.h"

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

int insert_access_booking(TransferState& state, const FieldList& fields) {
  const std::string& record_kind = fields.field(15);
  db::AccessRecord record;
  record.terminal = fields.field(5);
  record.reader_number = field_integer(fields.field(6));
  record.booking_date = fields.field(2);
  record.booking_date_time = fields.field(2) + fields.field(3);
  record.badge = fields.field(0);

  if (record_kind == "40p") {
    record.access_status_code = access_status_code_for_result(fields.field(11));
  } else if (record_kind == "62p") {
    std::int32_t zone_number = 0;
    state.last_status =
        db::lookup_zone(*state.session, fields.field(13) + fields.field(12), zone_number);
    // Without a single zone row for the key the booking is stored with code 0.
    record.access_status_code = state.last_status == db::kSuccess ? zone_number : 0;
  } else if (record_kind == "dta") {
    record.access_status_code = field_integer(fields.field(12));
  }
  record.running_number = "001";

  state.last_status = db::insert_access_record(*state.session, record);
  if (state.last_status == db::kSuccess || state.last_status == db::kUniqueConstraint) {
    ++state.counters.access_bookings;
  } else {
    std::fprintf(state.console, " Insert in Kvs402Zpk fehlgeschlagen, Fehler %d\n",
                 static_cast<int>(state.last_status));
  }
  return 0;
}

}  // namespace zarvelt
