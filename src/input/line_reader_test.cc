#include "input/line_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvelt {
namespace {

using ::testing::ElementsAre;

TEST(ReadBookingLineTest, TakesWholeLinesAndSkipsOverLongOnesToTheirEnd) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const std::string longest(kMaxLineLength - 1, 'a');
  const std::string bytes = longest + "\n" +                           // exactly the bound
                            std::string(kMaxLineLength, 'b') + "\n" +  // one byte over
                            std::string(3 * kMaxLineLength, 'c') + "\r\n" + "end";
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  std::vector<std::string> lines;
  std::string line;
  for (LineRead read; (read = read_booking_line(file, line)) != LineRead::kEnd;) {
    lines.push_back(read == LineRead::kTooLong ? "<too long>" : line);
  }
  std::fclose(file);
  EXPECT_THAT(lines, ElementsAre(longest + "\n", "<too long>", "<too long>", "end"));
}

}  // namespace
}  // namespace zarvelt
