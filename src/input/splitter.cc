// Splitting a booking line into fields: commas, double quotes, the line end.
#include "input/splitter.h"

#include <string>

namespace zarvelt {

namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';
constexpr char kBlank = ' ';

bool is_line_end(char c) { return c == '\0' || c == '\n' || c == '\r'; }

// Walks one line byte by byte. Reading past the line's end yields NUL, so every state sees the
// end of the view as a line end and nothing is ever read beyond it.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : line_(line) {}
  char peek() const { return position_ < line_.size() ? line_[position_] : '\0'; }
  char take() {
    char c = peek();
    if (position_ < line_.size()) ++position_;
    return c;
  }

 private:
  std::string_view line_;
  size_t position_ = 0;
};

}  // namespace

std::vector<std::string> split_booking_line(std::string_view line) {
  std::vector<std::string> list;
  LineReader reader(line);
  // The character most recently taken within a field. Only "is it a comma" matters: an
  // unquoted field ended by a comma owes the line one more (empty) field if nothing follows.
  char marker = '\0';
  std::string field;

  while (true) {
    // Field start.
    field.clear();
    while (reader.peek() == kBlank) reader.take();
    char first = reader.peek();
    if (is_line_end(first)) {
      if (marker == kComma) list.emplace_back();
      return list;
    }
    if (first == kComma) {
      reader.take();
      list.emplace_back();
      marker = '\0';
      continue;
    }
    if (first != kQuote) {
      // Unquoted field: runs to the next comma or line end; blanks, tabs and quotes are text.
      while (true) {
        char c = reader.peek();
        marker = c;
        if (is_line_end(c)) break;  // left for the next field start, which ends the line
        reader.take();
        if (c == kComma) break;
        field.push_back(c);
      }
      list.push_back(field);
      continue;
    }
    // Quoted field.
    reader.take();
    while (true) {
      char c = reader.peek();
      marker = c;
      if (is_line_end(c)) break;  // a missing closing quote is accepted
      reader.take();
      if (c != kQuote) {
        field.push_back(c);
        continue;
      }
      char after = reader.peek();
      if (after == kQuote) {
        reader.take();
        field.push_back(kQuote);
        continue;
      }
      // The closing quote ends the field. A comma after it is consumed without becoming the
      // marker; anything else starts the next field, even without a comma in between.
      if (after == kComma) reader.take();
      break;
    }
    list.push_back(field);
  }
}

}  // namespace zarvelt
