// The documents against the code: the operators' table of booking kinds (names, summary lines,
// run record counts) against the kinds table, their table of record kinds (which line goes
// where) against the kinds' case rules, and the design notes' arrows between the modules of src/
// against what each module's files include.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/dispatch.h"
#include "test_support.h"

namespace zarvelt {
namespace {

// The rows of the Markdown table whose header row begins with header, each row's cells trimmed.
std::vector<std::vector<std::string>> table_rows(const std::string& document,
                                                 const std::string& header) {
  std::vector<std::vector<std::string>> rows;
  std::size_t at = document.find("\n" + header);
  if (at == std::string::npos) return rows;
  at = document.find('\n', document.find('\n', at + 1) + 1);  // past the header and the rule
  while (at != std::string::npos && document.compare(at + 1, 1, "|") == 0) {
    const std::size_t end = document.find('\n', at + 1);
    const std::string line = document.substr(at + 2, end - at - 2);
    std::vector<std::string> cells;
    for (std::size_t from = 0, bar; (bar = line.find('|', from)) != std::string::npos;
         from = bar + 1) {
      std::string cell = line.substr(from, bar - from);
      cell.erase(0, cell.find_first_not_of(' '));
      cell.erase(cell.find_last_not_of(' ') + 1);
      cells.push_back(cell);
    }
    rows.push_back(cells);
    at = end;
  }
  return rows;
}

// The text between the backticks of a cell, blanks included.
std::string code_of(const std::string& cell) {
  const std::size_t tick = cell.find('`');
  return tick == std::string::npos ? cell
                                   : cell.substr(tick + 1, cell.find('`', tick + 1) - tick - 1);
}

std::string operations_document() {
  return testing::read_file(std::filesystem::path(ZARVELT_SOURCE_DIR) / "doc" / "operations.md")
      .value_or("");
}

TEST(DocumentsTest, BookingKindsAreTheKindsTable) {
  const auto rows = table_rows(operations_document(), "| Booking kind |");
  ASSERT_EQ(rows.size(), kBookingKinds.size()) << "the table of booking kinds in operations.md";
  for (std::size_t kind = 0; kind < kBookingKinds.size(); ++kind) {
    ASSERT_EQ(rows[kind].size(), 4u);
    EXPECT_EQ(code_of(rows[kind][2]), kBookingKinds[kind].summary_label) << rows[kind][0];
    EXPECT_EQ(code_of(rows[kind][3]), kBookingKinds[kind].record_label) << rows[kind][0];
  }
}

// Which fields a condition of the record-kind table sets (the badge is 4711 unless it says
// otherwise): the case rules in the document's words.
const std::map<std::string, std::map<int, std::string>> kConditions = {
    {"field 10 and field 11 set", {{10, "1"}, {11, "1"}}},
    {"only field 10 set", {{10, "1"}}},
    {"only field 11 set", {{11, "1"}}},
    {"function code `024`", {{7, "024"}}},
    {"otherwise, status number `100`", {{7, "025"}, {12, "100"}}},
    {"otherwise, no badge", {{0, ""}, {7, "025"}, {12, "200"}}},
    {"otherwise", {{7, "025"}, {12, "200"}}},
    {"", {}},
};

TEST(DocumentsTest, RecordKindsGoWhereTheCaseRulesSend) {
  const std::string document = operations_document();
  // Each kind's destination as the document names it.
  std::vector<std::string> destinations;
  for (const auto& row : table_rows(document, "| Booking kind |")) destinations.push_back(row[1]);
  ASSERT_EQ(destinations.size(), kBookingKinds.size());
  std::vector<bool> documented(kBookingKinds.size(), false);
  const auto rows = table_rows(document, "| Record kind | Condition | Goes to |");
  ASSERT_FALSE(rows.empty()) << "the table of record kinds in operations.md";
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 3u);
    const std::string& condition = row[1];
    SCOPED_TRACE(row[0] + " " + condition);
    const auto fields = kConditions.find(condition);
    ASSERT_NE(fields, kConditions.end()) << "a condition this test does not know";
    std::vector<std::string> values(16);
    values[0] = "4711";
    values[5] = "T01";
    values[15] = code_of(row[0]);
    for (const auto& [field, value] : fields->second)
      values[static_cast<std::size_t>(field)] = value;
    const LineKinds taken = kinds_taking(BookingLine(values), kBookingKinds);
    std::string goes_to;
    for (int i = 0; i < taken.count; ++i) {
      goes_to += (i > 0 ? ", then " : "") + destinations[taken.kinds[i]];
      documented[taken.kinds[i]] = true;
    }
    // What the document adds in brackets is said of the destination, not another one.
    EXPECT_EQ(row[2].substr(0, row[2].find(" (")), goes_to);
  }
  for (std::size_t kind = 0; kind < kBookingKinds.size(); ++kind) {
    EXPECT_TRUE(documented[kind]) << kBookingKinds[kind].record_label
                                  << " takes no documented line";
  }
}

// The modules each module of src/ may include (doc/design.md, "Architecture"); tests are left out.
const std::map<std::string, std::set<std::string>> kArrows = {
    {"driver", {"handlers", "db", "log", "input", "config", "files", "text"}},
    {"handlers", {"db", "log", "input", "files", "text"}},
    {"config", {"files", "text"}},
    {"log", {"files", "text"}},
    {"db", {"text"}},
    {"input", {"text"}},
    {"files", {}},
    {"text", {}},
};

TEST(DocumentsTest, ModulesIncludeOnlyDownwards) {
  namespace fs = std::filesystem;
  std::set<std::string> modules;
  for (const auto& entry : fs::directory_iterator(fs::path(ZARVELT_SOURCE_DIR) / "src")) {
    const std::string module = entry.path().filename().string();
    modules.insert(module);
    ASSERT_TRUE(kArrows.contains(module)) << "src/" << module << " has no place in the arrows";
    for (const auto& file : fs::directory_iterator(entry.path())) {
      const std::string name = file.path().filename().string();
      if (name.ends_with("_test.cc")) continue;
      const std::string text = testing::read_file(file.path()).value_or("");
      for (std::size_t at = text.find("#include \""); at != std::string::npos;
           at = text.find("#include \"", at + 1)) {
        const std::size_t start = at + 10;
        const std::string included = text.substr(start, text.find('/', start) - start);
        if (included == module) continue;
        EXPECT_TRUE(kArrows.at(module).contains(included))
            << "src/" << module << "/" << name << " includes " << included;
      }
    }
  }
  EXPECT_EQ(modules.size(), kArrows.size());
}

}  // namespace
}  // namespace zarvelt
