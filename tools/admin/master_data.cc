// Loading master data from CSV files: each file checked whole, then inserted.
#include "admin/master_data.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

namespace zarvelt::admin {

namespace fs = std::filesystem;

const std::vector<TableLayout>& table_layouts() {
  static const std::vector<TableLayout> layouts = {
      {"clients.csv",
       "KVS112MND",
       true,
       {{"licence", "MNDLIZ", ColumnKind::kInteger, 0, true},
        {"client", "MNDNUM", ColumnKind::kInteger, 0, true},
        {"schema", "MNDSCH", ColumnKind::kText, 20, false}}},
      {"badges.csv",
       "KVS301ASW",
       true,
       {{"badge", "ASWNUM", ColumnKind::kText, 50, true},
        {"licence", "ASWLIZ", ColumnKind::kInteger, 0, true},
        {"client", "ASWMND", ColumnKind::kInteger, 0, true},
        {"personnel_number", "ASWPNR", ColumnKind::kText, 8, false},
        {"valid_from", "ASWGVO", ColumnKind::kDate, 0, false},
        {"valid_to", "ASWGBI", ColumnKind::kDate, 0, false}}},
      {"zones.csv",
       "KVS405ZZS",
       true,
       {{"zone_key", "ZZSTCD", ColumnKind::kText, 19, true},
        {"zone", "ZZSNUM", ColumnKind::kInteger, 0, true}}},
      {"booking_types.csv",
       "KVS131FCD",
       false,
       {{"function_code", "FCDNUM", ColumnKind::kText, 19, true},
        {"booking_type", "FCDTYP", ColumnKind::kSmallInteger, 0, false}}},
      {"translations.csv",
       "KVS131FCDUEB",
       false,
       {{"function_code", "FCDOLD", ColumnKind::kText, 19, true},
        {"new_function_code", "FCDNEW", ColumnKind::kText, 3, false}}},
  };
  return layouts;
}

std::string upper_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool all_ascii_digits(std::string_view text) {
  for (char c : text) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

}  // namespace

bool is_schema_name(const std::string& name) {
  if (name.empty() || name.size() > 20 || !is_ascii_letter(name[0])) return false;
  for (char c : name) {
    if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '_') return false;
  }
  return upper_case(name) != "KVSYSTEM";
}

bool parse_csv(const std::string& text, std::vector<CsvRecord>& records, std::string& error) {
  std::size_t at = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a UTF-8 byte order mark
  int line = 1;
  while (at < text.size()) {
    CsvRecord record{line, {}};
    std::string field;
    bool quoted = false;
    bool record_done = false;
    while (!record_done) {
      if (at >= text.size()) {
        if (quoted) {
          error = "line " + std::to_string(record.line) + ": quote not closed";
          return false;
        }
        record_done = true;
        break;
      }
      const char c = text[at++];
      if (quoted) {
        if (c == '"' && at < text.size() && text[at] == '"') {
          field += '"';
          ++at;
        } else if (c == '"') {
          quoted = false;
        } else {
          if (c == '\n') ++line;
          field += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        record.fields.push_back(field);
        field.clear();
      } else if (c == '\n' || c == '\r') {
        if (c == '\r' && at < text.size() && text[at] == '\n') ++at;
        ++line;
        record_done = true;
      } else {
        field += c;
      }
    }
    record.fields.push_back(field);
    const bool blank = record.fields.size() == 1 && record.fields[0].empty();
    if (!blank) records.push_back(std::move(record));
  }
  return true;
}

namespace {

std::optional<std::string> check_integer(const std::string& text, std::int64_t low,
                                         std::int64_t high) {
  const std::size_t digits_from = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  const std::size_t digit_count = text.size() - digits_from;
  if (digit_count < 1 || digit_count > 10 || !all_ascii_digits(text.substr(digits_from))) {
    return "\"" + text + "\" is not a whole number";
  }
  const std::int64_t value = std::stoll(text);
  if (value < low || value > high) {
    return "\"" + text + "\" is outside " + std::to_string(low) + " to " + std::to_string(high);
  }
  return std::nullopt;
}

// Dates are stored as 'YYYY-MM-DD HH:MM:SS'; a day alone means its midnight.
std::optional<std::string> normalise_date(const std::string& text, std::string& date) {
  // Two-digit field of text at pos, or -1 when it is not two digits.
  auto number_at = [&text](std::size_t pos) {
    const std::string_view two = std::string_view(text).substr(pos, 2);
    return two.size() == 2 && all_ascii_digits(two) ? (two[0] - '0') * 10 + (two[1] - '0') : -1;
  };
  const bool has_time = text.size() == 19;
  const bool shape = (text.size() == 10 || has_time) && all_ascii_digits(text.substr(0, 4)) &&
                     text[4] == '-' && text[7] == '-' &&
                     (!has_time || (text[10] == ' ' && text[13] == ':' && text[16] == ':'));
  const int month = shape ? number_at(5) : -1;
  const int day = shape ? number_at(8) : -1;
  const bool time_ok =
      !has_time || (number_at(11) >= 0 && number_at(11) <= 23 && number_at(14) >= 0 &&
                    number_at(14) <= 59 && number_at(17) >= 0 && number_at(17) <= 59);
  if (!shape || month < 1 || month > 12 || day < 1 || day > 31 || !time_ok) {
    return "\"" + text + "\" is no date YYYY-MM-DD or YYYY-MM-DD HH:MM:SS";
  }
  date = has_time ? text : text + " 00:00:00";
  return std::nullopt;
}

}  // namespace

bool read_text_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad();
}

bool read_table_file(const TableLayout& layout, const std::string& schema, const std::string& path,
                     TableLoad& load, std::string& error) {
  load = {&layout, schema, path, {}};
  std::string text;
  if (!read_text_file(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  std::vector<CsvRecord> records;
  if (!parse_csv(text, records, error)) {
    error = path + ": " + error;
    return false;
  }
  std::string expected_header;
  for (const ColumnLayout& column : layout.columns) {
    if (!expected_header.empty()) expected_header += ',';
    expected_header += column.csv_name;
  }
  std::string header;
  if (!records.empty()) {
    for (const std::string& name : records[0].fields) {
      if (!header.empty()) header += ',';
      header += name;
    }
  }
  if (upper_case(header) != upper_case(expected_header)) {
    error = path + ": line 1: the header must be \"" + expected_header + "\"";
    return false;
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    const std::string where = path + ": line " + std::to_string(record.line) + ": ";
    if (record.fields.size() != layout.columns.size()) {
      error = where + std::to_string(record.fields.size()) + " fields, " +
              std::to_string(layout.columns.size()) + " expected";
      return false;
    }
    Row row;
    for (std::size_t c = 0; c < layout.columns.size(); ++c) {
      const ColumnLayout& column = layout.columns[c];
      const std::string& field = record.fields[c];
      if (field.empty()) {
        if (column.required) {
          error = where + column.csv_name + " is empty";
          return false;
        }
        row.push_back(std::nullopt);
        continue;
      }
      std::optional<std::string> problem;
      std::string value = field;
      switch (column.kind) {
        case ColumnKind::kInteger:
          problem = check_integer(field, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max());
          break;
        case ColumnKind::kSmallInteger:
          problem = check_integer(field, -32768, 32767);
          break;
        case ColumnKind::kText:
          if (field.size() > column.max_length) {
            problem = "\"" + field + "\" is longer than " + std::to_string(column.max_length) +
                      " characters";
          }
          break;
        case ColumnKind::kDate:
          problem = normalise_date(field, value);
          break;
      }
      if (problem) {
        error = where + column.csv_name + ": " + *problem;
        return false;
      }
      row.push_back(value);
    }
    load.rows.push_back(std::move(row));
  }
  return true;
}

bool read_csv_directory(const std::string& directory, std::vector<TableLoad>& loads,
                        std::string& error) {
  std::error_code failure;
  if (!fs::is_directory(directory, failure)) {
    error = directory + ": no such directory";
    return false;
  }
  std::vector<std::string> client_schemas;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, failure)) {
    if (!entry.is_directory()) continue;
    const std::string name = entry.path().filename().string();
    if (!is_schema_name(name)) {
      error = entry.path().string() + ": directory name is no client schema name";
      return false;
    }
    client_schemas.push_back(name);
  }
  std::sort(client_schemas.begin(), client_schemas.end());
  for (const TableLayout& layout : table_layouts()) {
    const std::vector<std::string> places =
        layout.central ? std::vector<std::string>{""} : client_schemas;
    for (const std::string& place : places) {
      const fs::path path = fs::path(directory) / place / layout.file;
      if (!fs::exists(path, failure)) continue;
      TableLoad load;
      const std::string schema = layout.central ? "KVSYSTEM" : upper_case(place);
      if (!read_table_file(layout, schema, path.lexically_normal().string(), load, error)) {
        return false;
      }
      loads.push_back(std::move(load));
    }
  }
  if (loads.empty()) {
    error = directory + ": no CSV file to load (see zarvelt_admin --help)";
    return false;
  }
  return true;
}

}  // namespace zarvelt::admin
