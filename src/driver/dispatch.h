// Dispatch of one booking line of the named terminal to its handler or pair of handlers, by
// the record kind (field 15) and fields 0, 7, 10, 11 and 12.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/transfer_state.h"
#include "input/field_list.h"

namespace zarvelt {

// The four handlers, as one seam: the program passes kBookingHandlers, tests a recording fake.
struct BookingHandlers {
  int (*export_time_booking)(TransferState& state, const FieldList& fields);
  int (*insert_access_booking)(TransferState& state, const FieldList& fields);
  int (*export_cost_centre_booking)(TransferState& state, const FieldList& fields);
  std::int32_t (*insert_event)(TransferState& state, std::string_view terminal,
                               std::int32_t reader_number, std::string_view badge,
                               std::string_view date, std::string_view time,
                               std::string_view function_code, std::int32_t result_number,
                               std::string_view variable_text);
};

// The program's own handlers.
extern const BookingHandlers kBookingHandlers;

// Fewer fields than this and the dispatch would read fields the line does not have.
inline constexpr int kBookingFieldCount = 16;

// Runs the handlers that the dispatch table gives for a line of the named terminal with at
// least kBookingFieldCount fields (field 0 already trimmed). Unknown record kinds, and "40p"
// with fields 10 and 11 both empty, run nothing. An event insert sets the last status and,
// when it succeeds, counts the event.
void dispatch_booking(TransferState& state, const FieldList& fields,
                      const BookingHandlers& handlers);

// The integer value of a field: leading white space, an optional sign, decimal digits up to
// the first other character; 0 without digits. Values beyond 32 bits saturate.
std::int32_t field_integer(std::string_view text);

}  // namespace zarvelt
