// Event protocol insert: one row of KVSYSTEM.O2009BUCHPROT per event.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/transfer_state.h"

namespace zarvelt {

// Inserts one event and returns the insert's statement status. Prints and logs nothing.
std::int32_t insert_event(TransferState& state, std::string_view terminal,
                          std::int32_t reader_number, std::string_view badge,
                          std::string_view date, std::string_view time,
                          std::string_view function_code, std::int32_t result_number,
                          std::string_view variable_text);

}  // namespace zarvelt
