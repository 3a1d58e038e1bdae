// Zero-filling of export columns.
#include "handlers/zero_fill.h"

#include <gtest/gtest.h>

namespace zarvelt {
namespace {

TEST(ZeroFillTest, FillsAnyTextOnTheLeftAndNeverShortens) {
  struct Case {
    std::string_view text;
    std::size_t width;
    std::string_view filled;
  };
  const Case cases[] = {
      {"7", 5, "00007"},           {"-12", 5, "00-12"},  {"", 5, "00000"},
      {"32767", 5, "32767"},       {"-5", 5, "000-5"},   {"-10000", 5, "-10000"},
      {"4711", 7, "0004711"},      {"AB", 7, "00000AB"}, {"", 7, "0000000"},
      {"ABCDEFGH", 7, "ABCDEFGH"}, {" 1", 4, "00 1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zero_fill_left(c.text, c.width), c.filled) << "'" << c.text << "' width " << c.width;
  }
}

}  // namespace
}  // namespace zarvelt
