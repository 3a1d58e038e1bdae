// The booking line splitter: comma-separated fields, optionally enclosed in double quotes.
#pragma once

#include <string_view>

#include "input/field_list.h"

namespace zarvelt {

// Splits one booking line. The line ends at its first NUL, LF or CR (or at line.size());
// returns no list (null) when the line yields no field. Fields are kept whole, however long.
FieldListPtr split_booking_line(std::string_view line);

}  // namespace zarvelt
