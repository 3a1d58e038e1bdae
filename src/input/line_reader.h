// Reading the source file's booking lines: one physical line (up to and including its LF) is
// one booking, whatever its length up to a generous bound.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace zarvelt {

// The longest line taken, its line end included. Terminals write lines of about 100 bytes;
// the bound keeps a file without line ends (or a corrupt one) from filling the memory.
inline constexpr std::size_t kMaxLineLength = 65536;

enum class LineRead {
  kLine,     // line holds the next line, its LF included when it has one
  kTooLong,  // the next line exceeded kMaxLineLength; it was skipped to its end, line is empty
  kEnd,      // end of file (or a read error) with nothing read
};

// Reads the next line of a binary file.
LineRead read_booking_line(std::FILE* file, std::string& line);

}  // namespace zarvelt
