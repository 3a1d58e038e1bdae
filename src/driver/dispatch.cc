#include "driver/dispatch.h"

#include <limits>

#include "handlers/access_booking_insert.h"
#include "handlers/cost_centre_export.h"
#include "handlers/event_insert.h"
#include "handlers/time_booking_export.h"

namespace zarvelt {

const BookingHandlers kBookingHandlers = {
    &export_time_booking,
    &insert_access_booking,
    &export_cost_centre_booking,
    &insert_event,
};

namespace {

enum Field : int {
  kBadge = 0,
  kDate = 2,
  kTime = 3,
  kTerminal = 5,
  kReaderNumber = 6,
  kFunctionCode = 7,
  kTimeBookingMark = 10,
  kAccessResult = 11,
  kStatusNumber = 12,
  kRecordKind = 15,
};

// Row 8: the event, then its access booking whatever the event insert returned.
void handle_event(TransferState& state, const FieldList& fields, const BookingHandlers& handlers) {
  state.last_status = handlers.insert_event(
      state, fields.field(kTerminal), field_integer(fields.field(kReaderNumber)),
      fields.field(kBadge), fields.field(kDate), fields.field(kTime), fields.field(kFunctionCode),
      field_integer(fields.field(kStatusNumber)), "");
  if (state.last_status == 0) ++state.counters.events;
  handlers.insert_access_booking(state, fields);
}

}  // namespace

void dispatch_booking(TransferState& state, const FieldList& fields,
                      const BookingHandlers& handlers) {
  const std::string& kind = fields.field(kRecordKind);
  if (kind == "40p") {
    const bool time_booking = !fields.field(kTimeBookingMark).empty();
    const bool access_booking = !fields.field(kAccessResult).empty();
    if (time_booking) handlers.export_time_booking(state, fields);      // rows 1, 2
    if (access_booking) handlers.insert_access_booking(state, fields);  // rows 1, 3
  } else if (kind == "dta") {
    if (fields.field(kFunctionCode) == "024") {
      handlers.insert_access_booking(state, fields);  // row 5
    } else if (fields.field(kStatusNumber) == "100") {
      handlers.export_time_booking(state, fields);  // row 6, whatever the badge
    } else if (fields.field(kBadge).empty()) {
      handlers.insert_access_booking(state, fields);  // row 7
    } else {
      handle_event(state, fields, handlers);  // row 8
    }
  } else if (kind == "62p") {
    handlers.insert_access_booking(state, fields);
  } else if (kind == "50p") {
    handlers.export_cost_centre_booking(state, fields);
  }
}

std::int32_t field_integer(std::string_view text) {
  size_t i = 0;
  auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Saturating, where the old conversion had no defined result past 32 bits.
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kMax + 1) value = kMax + 1;
  }
  if (negative) value = -value;
  if (value > kMax) return static_cast<std::int32_t>(kMax);
  if (value < kMin) return static_cast<std::int32_t>(kMin);
  return static_cast<std::int32_t>(value);
}

}  // namespace zarvelt
