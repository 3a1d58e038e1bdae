// Small text conversions that every module needs in the same form: the decimal value of a
// field, letter case and trailing blanks. Below every other module; includes none of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zarvelt {

// The integer value of a text as the standard decimal conversion reads it: leading white
// space, an optional sign, decimal digits up to the first other character; 0 without digits.
// Values beyond 32 bits saturate instead of being undefined.
std::int32_t decimal_integer(std::string_view text);

// Upper-cases the letters a to z only, leaving every other byte as it is.
std::string upper_case(std::string_view text);

// Removes trailing blanks and tabs in place.
void trim_right(std::string& text);

// Overwrites the text's whole storage with zero bytes in a way the compiler may not drop and
// leaves it empty, for texts that held a secret (a deciphered password, a connect string).
void wipe(std::string& text);

}  // namespace zarvelt
