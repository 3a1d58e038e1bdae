#include "handlers/time_booking_export.h"

#include <gtest/gtest.h>

#include <string>

namespace zarvelt {
namespace {

TimeExportColumns worked_columns() {
  return {"MAND01", "4711", "20240305", "143015", "3", "K1", ""};
}

TEST(TimeExportRecordTest, WorkedRecordByteForByte) {
  const std::string expected = "MAND01" + std::string(14, ' ') + "4711" + std::string(4, ' ') +
                               "05.03.2024" + "14:30" + "00003" + "K1 " + std::string(30, ' ') +
                               "\n";
  const std::string record = format_time_export_record(worked_columns());
  EXPECT_EQ(record, expected);
  EXPECT_EQ(record.size(), 82u);
}

TEST(TimeExportRecordTest, ColumnsStayInPlace) {
  struct Case {
    const char* name;
    TimeExportColumns columns;
    std::size_t position;  // 0-based start of the column in the record
    std::string column;
  };
  const std::string full_text(30, 'x');
  const std::string long_text = full_text + "CUT";
  const Case cases[] = {
      {"empty schema and personnel number",
       {"", "", "20240305", "143015", "3", "K1", ""},
       0,
       std::string(28, ' ') + "05.03.2024"},
      {"hhmm time", {"M", "1", "20240305", "0705", "3", "K1", ""}, 38, "07:05"},
      {"seconds never shown", {"M", "1", "20240305", "070500", "3", "K1", ""}, 38, "07:0500003"},
      {"negative booking type", {"M", "1", "20240305", "1430", "-5", "K1", ""}, 43, "000-5"},
      {"booking type -12", {"M", "1", "20240305", "1430", "-12", "K1", ""}, 43, "00-12"},
      {"largest booking type", {"M", "1", "20240305", "1430", "32767", "K1", ""}, 43, "32767"},
      {"missing booking type", {"M", "1", "20240305", "1430", "", "K1", ""}, 43, "00000"},
      {"three-character code", {"M", "1", "20240305", "1430", "3", "K12", ""}, 48, "K12"},
      {"empty code", {"M", "1", "20240305", "1430", "3", "", "T"}, 48, "   T"},
      {"full text", {"M", "1", "20240305", "1430", "3", "K1", full_text}, 51, full_text + "\n"},
      {"text cut to 30",
       {"M", "1", "20240305", "1430", "3", "K1", long_text},
       51,
       full_text + "\n"},
      {"full schema and number",
       {"ABCDEFGHIJKLMNOPQRST", "12345678", "20240305", "1430", "3", "K1", ""},
       0,
       "ABCDEFGHIJKLMNOPQRST1234567805.03.2024"},
  };
  for (const Case& c : cases) {
    const std::string record = format_time_export_record(c.columns);
    EXPECT_EQ(record.size(), 82u) << c.name;
    EXPECT_EQ(record.substr(c.position, c.column.size()), c.column) << c.name;
  }
}

TEST(TimeExportRecordTest, RefusesValuesThatWouldShiftColumns) {
  struct Case {
    TimeExportColumns columns;
    std::string_view refusal;
  };
  const Case cases[] = {
      {worked_columns(), ""},
      {{"M", "1", "20240305", "1430", "-9999", "K12", ""}, ""},
      {{"M", "1", "20240305", "1430", "-10000", "K1", ""},
       "Buchungstyp au\xDF"
       "erhalb des Bereichs :"},
      {{"M", "1", "20240305", "1430", "-32768", "K1", ""},
       "Buchungstyp au\xDF"
       "erhalb des Bereichs :"},
      {{"M", "1", "20240305", "1430", "3", "K123", ""}, "Buchungsart zu lang :"},
      {{"M", "1", "2024035", "1430", "3", "K1", ""}, "Datum ung\xFCltig :"},
      {{"M", "1", "202403051", "1430", "3", "K1", ""}, "Datum ung\xFCltig :"},
      {{"M", "1", "2024-3-5", "1430", "3", "K1", ""}, "Datum ung\xFCltig :"},
      {{"M", "1", "", "1430", "3", "K1", ""}, "Datum ung\xFCltig :"},
      {{"M", "1", "20240305", "143", "3", "K1", ""}, "Uhrzeit ung\xFCltig :"},
      {{"M", "1", "20240305", "", "3", "K1", ""}, "Uhrzeit ung\xFCltig :"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(time_record_refusal(c.columns), c.refusal)
        << c.columns.date << " " << c.columns.time << " " << c.columns.booking_type_text << " "
        << c.columns.function_code;
  }
}

}  // namespace
}  // namespace zarvelt
