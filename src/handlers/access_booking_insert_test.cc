#include "handlers/access_booking_insert.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace zarvelt {
namespace {

TEST(AccessStatusCodeTest, ByFirstCharacterOfTheAccessResult) {
  struct Case {
    std::string_view access_result;
    std::int32_t code;
  };
  const Case cases[] = {
      {"1", 100}, {"9", 204}, {"B", 202}, {"Z", 202},  {"S", 203},  {"U", 201}, {"A", 200},
      {"G", 200}, {"P", 200}, {"b", 200}, {"U3", 201}, {"19", 100}, {"2", 200}, {"", 200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(access_status_code_for_result(c.access_result), c.code) << c.access_result;
  }
}

TEST(FieldIntegerValueTest, StandardDecimalConversionThatSaturates) {
  struct Case {
    std::string_view text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"100", 100},
      {"", 0},
      {"abc", 0},
      {"  \t42", 42},
      {"+7", 7},
      {"-15x", -15},
      {"12 34", 12},
      {"- 5", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-2147483649", -2147483647 - 1},
      {"99999999999999999999999999", 2147483647},
      {"-99999999999999999999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(field_integer_value(c.text), c.value) << "'" << c.text << "'";
  }
}

}  // namespace
}  // namespace zarvelt
