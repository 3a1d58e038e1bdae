// The booking line splitter: comma-separated fields, optionally enclosed in double quotes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zarvelt {

// Splits one booking line into its fields. The line ends at its first NUL, LF or CR (or at
// line.size()); a line that yields no field gives none. Fields are kept whole, however long.
std::vector<std::string> split_booking_line(std::string_view line);

}  // namespace zarvelt
