// Reading one booking line, bounded, a longer one skipped to its end.
#include "input/line_reader.h"

namespace zarvelt {

LineRead read_booking_line(std::FILE* file, std::string& line) {
  line.clear();
  int c = EOF;
  while (line.size() < kMaxLineLength && (c = std::getc(file)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') return LineRead::kLine;
  }
  if (line.size() < kMaxLineLength) return line.empty() ? LineRead::kEnd : LineRead::kLine;
  // Over the bound: the rest of the line is read and dropped, so that no part of it is ever
  // taken for a line of its own.
  line.clear();
  while ((c = std::getc(file)) != EOF && c != '\n') {
  }
  return LineRead::kTooLong;
}

}  // namespace zarvelt
