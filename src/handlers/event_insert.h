// Event protocol insert: one row of KVSYSTEM.O2009BUCHPROT per event ("dta" line with a badge,
// a function code other than "024" and a status number other than "100").
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/transfer_state.h"

namespace zarvelt {

// Inserts one event (event date and time: date immediately followed by time; an empty
// variable text is stored as NULL) and returns the insert's statement status. Values longer
// than their columns are refused by the statement, never cut. Prints and logs nothing; the
// caller keeps the status and counts the event. state.session must be open.
std::int32_t insert_event(TransferState& state, std::string_view terminal,
                          std::int32_t reader_number, std::string_view badge, std::string_view date,
                          std::string_view time, std::string_view function_code,
                          std::int32_t result_number, std::string_view variable_text);

}  // namespace zarvelt
