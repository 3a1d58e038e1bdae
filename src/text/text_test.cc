#include "text/text.h"

#include <gtest/gtest.h>

#include <utility>

namespace zarvelt {
namespace {

TEST(DecimalIntegerTest, ConvertsAsTheStandardDecimalConversionSaturatingAt32Bits) {
  const std::pair<const char*, std::int32_t> cases[] = {{"12", 12},
                                                        {" \t12x", 12},
                                                        {"-7", -7},
                                                        {"+3", 3},
                                                        {"", 0},
                                                        {"x1", 0},
                                                        {"- 1", 0},
                                                        {"007", 7},
                                                        {"2147483647", 2147483647},
                                                        {"99999999999", 2147483647},
                                                        {"-2147483648", -2147483647 - 1},
                                                        {"-99999999999", -2147483647 - 1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(decimal_integer(text), value) << text;
}

TEST(TrimRightTest, RemovesTrailingBlanksAndTabsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"0815", "0815"},     {"0815 \t ", "0815"}, {" \t", ""},          {"", ""},
      {" 08 15", " 08 15"}, {"0815\r", "0815\r"}, {"0815\n ", "0815\n"}};
  for (const auto& [text, trimmed] : cases) {
    std::string value = text;
    trim_right(value);
    EXPECT_EQ(value, trimmed) << "[" << text << "]";
  }
}

TEST(UpperCaseTest, ChangesOnlyTheLettersAToZ) {
  EXPECT_EQ(upper_case("/d kvSystem_1 \xFC"), "/D KVSYSTEM_1 \xFC");
}

}  // namespace
}  // namespace zarvelt
