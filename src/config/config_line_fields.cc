// Bounded line reads and the field rules of the configuration file's section and entry lines.
#include "config/config_line_fields.h"

namespace zarvelt {

bool read_bounded_line(std::string_view text, std::size_t& position, std::size_t buffer_size,
                       std::string& line) {
  line.clear();
  bool read_any = false;
  while (line.size() + 1 < buffer_size && position < text.size()) {
    char c = text[position++];
    read_any = true;
    // Text-mode reading: CR LF is one line end, a lone CR stays.
    if (c == '\r' && position < text.size() && text[position] == '\n') {
      c = '\n';
      ++position;
    }
    line.push_back(c);
    if (c == '\n') break;
  }
  const std::size_t zero = line.find('\0');
  if (zero != std::string::npos) line.resize(zero);
  return read_any;
}

int find_nth_char(std::string_view text, char c, int n) {
  int found = -1;
  int count = 0;
  if (n < 1) return -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != c) continue;
    found = static_cast<int>(i);
    if (++count == n) break;
  }
  return found;
}

void copy_substring(std::string_view text, int start, int length, std::string& target) {
  if (length < 0 || start < 0) return;
  const auto from = static_cast<std::size_t>(start);
  if (from >= text.size()) {
    target.clear();
    return;
  }
  const std::size_t count = length == 0 ? std::string_view::npos : static_cast<std::size_t>(length);
  target.assign(text.substr(from, count));
}

}  // namespace zarvelt
