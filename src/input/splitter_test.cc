#include "input/splitter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zarvelt {
namespace {

using Fields = std::vector<std::string>;

std::optional<Fields> split(std::string_view line) {
  FieldListPtr list = split_booking_line(line);
  if (!list) return std::nullopt;
  return list->fields;
}

struct SplitCase {
  std::string line;
  std::optional<Fields> fields;  // nothing: the line yields no list
};

class SplitterTableTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitterTableTest, YieldsTheFieldsOfTheLine) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(split(c.line), c.fields) << "line: [" << c.line << "]";
  // Every line end gives the same result as the end of the text.
  EXPECT_EQ(split(c.line + "\n"), c.fields) << "line with LF: [" << c.line << "]";
  EXPECT_EQ(split(c.line + "\r\n"), c.fields) << "line with CR LF: [" << c.line << "]";
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, SplitterTableTest,
    ::testing::Values(
        SplitCase{"a,b,c", Fields{"a", "b", "c"}}, SplitCase{"a,b,", Fields{"a", "b", ""}},
        SplitCase{"a,b,,", Fields{"a", "b", ""}}, SplitCase{"a,b,,,", Fields{"a", "b", "", ""}},
        SplitCase{"a,,b", Fields{"a", "", "b"}}, SplitCase{",a", Fields{"", "a"}},
        SplitCase{",", Fields{""}}, SplitCase{",,", Fields{"", ""}},
        SplitCase{"a, ", Fields{"a", ""}}, SplitCase{" a , b", Fields{"a ", "b"}},
        SplitCase{"a\tb, c", Fields{"a\tb", "c"}}, SplitCase{"ab\"c,d", Fields{"ab\"c", "d"}},
        SplitCase{"\"a,b\",c", Fields{"a,b", "c"}}, SplitCase{"\"a\"\"b\",c", Fields{"a\"b", "c"}},
        SplitCase{"\"\"\"a\"", Fields{"\"a"}}, SplitCase{"\"\",x", Fields{"", "x"}},
        SplitCase{"\"a\",", Fields{"a"}}, SplitCase{"\"a\",,", Fields{"a", ""}},
        SplitCase{"\"ab\"cd,e", Fields{"ab", "cd", "e"}},
        SplitCase{"\"ab\" ,c", Fields{"ab", "", "c"}}, SplitCase{"\"a\" \"b\"", Fields{"a", "b"}},
        SplitCase{"\"abc", Fields{"abc"}}, SplitCase{"a,\"b\"", Fields{"a", "b"}},
        SplitCase{"a,b\0c,d"s, Fields{"a", "b"}}, SplitCase{"", std::nullopt},
        SplitCase{"   ", std::nullopt},
        // A tab is not a blank: it begins a field.
        SplitCase{"\t,a", Fields{"\t", "a"}},
        // Blanks inside quotes stay.
        SplitCase{"\" a \",b", Fields{" a ", "b"}}));

TEST(SplitterTest, LineEndsAtItsFirstLineEnd) {
  EXPECT_EQ(split("\na,b"), std::nullopt);
  EXPECT_EQ(split("\ra,b"), std::nullopt);
  EXPECT_EQ(split("a,b\rc,d"), (Fields{"a", "b"}));
  EXPECT_EQ(split("a,\nb"), (Fields{"a", ""}));
}

TEST(SplitterTest, FieldsLongerThanTheFieldBufferAreKeptWhole) {
  std::string long_field(400, 'x');
  EXPECT_EQ(split(long_field + ",b"), (Fields{long_field, "b"}));
  EXPECT_EQ(split("\"" + long_field + "\",b"), (Fields{long_field, "b"}));
}

TEST(SplitterTest, SlotsGrowInStepsOfTenAndKeepTheOrder) {
  auto line_of = [](int count) {
    std::string line;
    for (int i = 0; i < count; ++i) line += (i ? "," : "") + std::to_string(i);
    return line;
  };
  const struct {
    int fields;
    size_t slots;
  } steps[] = {{1, 10}, {10, 10}, {11, 20}, {20, 20}, {21, 30}};
  for (const auto& step : steps) {
    FieldListPtr list = split_booking_line(line_of(step.fields));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), step.fields);
    EXPECT_EQ(list->fields.capacity(), step.slots) << step.fields << " fields";
    for (int i = 0; i < step.fields; ++i) EXPECT_EQ(list->field(i), std::to_string(i));
  }
}

TEST(FieldListTest, MissingFieldsReadAsEmptyAndReleaseClearsTheList) {
  FieldListPtr list;
  EXPECT_TRUE(append_field(list, "badge"));
  EXPECT_EQ(list->field(0), "badge");
  EXPECT_EQ(list->field(15), "");
  EXPECT_EQ(list->field(-1), "");
  release_field_list(list);
  EXPECT_EQ(list, nullptr);
  release_field_list(list);  // no list: nothing happens
}

}  // namespace
}  // namespace zarvelt
