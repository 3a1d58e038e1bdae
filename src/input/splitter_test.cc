#include "input/splitter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "input/booking_line.h"

namespace zarvelt {
namespace {

using Fields = std::vector<std::string>;

std::optional<Fields> split(std::string_view line) {
  Fields fields = split_booking_line(line);
  if (fields.empty()) return std::nullopt;
  return fields;
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
        SplitCase{"\" a \",b", Fields{" a ", "b"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) {
      // Its index and the line spelt out ("a,b" is 0_a_Comma_b); several lines spell alike.
      std::string name = std::to_string(info.index);
      bool in_word = false;
      for (const char c : info.param.line) {
        const bool alphanumeric =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric || !in_word) name += '_';
        in_word = alphanumeric;
        name += alphanumeric ? std::string(1, c)
                : c == ','   ? "Comma"
                : c == '"'   ? "Quote"
                : c == ' '   ? "Blank"
                : c == '\t'  ? "Tab"
                : c == '\0'  ? "Nul"
                             : "Other";
      }
      return info.param.line.empty() ? name + "_Empty" : name;
    });

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

TEST(BookingLineTest, MissingFieldsReadAsEmptyAndTheBadgeLosesItsPadding) {
  BookingLine line(split_booking_line("0815 \t,,20240305,0800,,T1,3,001,text"));
  line.trim_badge();
  EXPECT_EQ(line.badge(), "0815");
  EXPECT_EQ(line.terminal(), "T1");
  EXPECT_EQ(line.text(), "text");
  EXPECT_EQ(line.record_kind(), "");
  EXPECT_EQ(line.field_count(), 9);
}

}  // namespace
}  // namespace zarvelt
