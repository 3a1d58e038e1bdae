// Fuzz target: one booking line through the splitter. Whatever the bytes, the splitter must
// neither crash nor deliver a field that holds a line end or a NUL (the line ends there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "input/splitter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  for (const std::string& field : zarvelt::split_booking_line(line)) {
    if (field.find_first_of(std::string_view("\0\n\r", 3)) != std::string::npos) std::abort();
  }
  return 0;
}
