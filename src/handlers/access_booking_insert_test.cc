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

}  // namespace
}  // namespace zarvelt
