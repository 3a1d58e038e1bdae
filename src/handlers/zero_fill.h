// Zero-filled text columns of the export records: a text right-aligned in its column with the
// digit 0 on the left, whatever the text holds (digits, a minus sign, letters or nothing).
// printf's "%05s" fills with blanks, so the export formats build these columns here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarvelt {

// text preceded by as many '0' as make it width characters long; a longer text is returned
// whole, never shortened. zero_fill_left("-12", 5) is "00-12", zero_fill_left("", 5) "00000".
std::string zero_fill_left(std::string_view text, std::size_t width);

}  // namespace zarvelt
