// Reading one key's value from the configuration file: its two-line records scanned in order, the
// value deciphered from its hexadecimal text.
#include "config/config_reader.h"

#include <cstring>

#include "config/config_line_fields.h"
#include "config/credential_cipher.h"
#include "text/text.h"

namespace zarvelt {

ConfigLookup::~ConfigLookup() { wipe(value); }

namespace {

// Line buffers of 200 and 400 bytes: 199 characters per section line, 399 per entry line.
constexpr std::size_t kSectionLineBuffer = 200;
constexpr std::size_t kEntryLineBuffer = 400;
// Longer fields are cut here; nothing beyond them is read into a result.
constexpr std::size_t kFieldLimit = 200;
constexpr std::size_t kNumberTextLimit = 11;

void cut(std::string& field, std::size_t limit) {
  if (field.size() > limit) field.resize(limit);
}

// The record's fields by the reader's position rules (see config_line_fields.h).
ConfigLookup record_fields(const std::string& section_line, const std::string& entry_line) {
  ConfigLookup record;
  const int section_p1 = find_nth_char(section_line, ';', 1);
  const int section_p2 = find_nth_char(section_line, ';', 2);
  copy_substring(section_line, section_p1 + 1, section_p2 - section_p1 - 1, record.section);
  cut(record.section, kFieldLimit);

  const int p1 = find_nth_char(entry_line, ';', 1);
  const int p2 = find_nth_char(entry_line, ';', 2);
  std::string number_text;
  if (p1 < 0) {
    // A line without ";" has no number field of its own; the whole line is converted, which
    // gives 0 for anything but a line that begins with digits.
    number_text = entry_line;
  } else {
    copy_substring(entry_line, 0, p1, number_text);
  }
  cut(number_text, kNumberTextLimit);
  record.number = decimal_integer(number_text);

  copy_substring(entry_line, p1 + 1, p2 - p1 - 1, record.key);
  cut(record.key, kFieldLimit);

  if (p1 < 0) {
    copy_substring(entry_line, 0, 0, record.value);
  } else {
    // A last line without line break still has its value, up to the end of the line; an empty
    // value stays empty instead of becoming the line end by the length-0 rule.
    const std::size_t line_end = entry_line.find('\n');
    const int nl = static_cast<int>(line_end == std::string::npos ? entry_line.size() : line_end);
    const int length = nl - p2 - 1;
    if (length > 0) copy_substring(entry_line, p2 + 1, length, record.value);
  }
  cut(record.value, kFieldLimit);
  return record;
}

}  // namespace

ConfigLookup read_config_value(std::string_view section, std::string_view key, std::int32_t number,
                               const std::string& path) {
  return read_config_value(section, key, number, path, real_file_system());
}

ConfigLookup read_config_value(std::string_view section, std::string_view key, std::int32_t number,
                               const std::string& path, FileSystem& file_system) {
  // The file is small; it is read whole, in text mode, and given up on a read error.
  std::string contents;
  if (file_system.read_file(path, true, contents) != ReadResult::kOk) return {};

  std::size_t position = 0;
  std::string section_line;
  std::string entry_line;
  for (;;) {
    // A failed section read is left to the entry read, which then fails as well.
    if (!read_bounded_line(contents, position, kSectionLineBuffer, section_line)) {
      section_line.clear();
    }
    if (!read_bounded_line(contents, position, kEntryLineBuffer, entry_line)) {
      ConfigLookup none;
      none.file_read = true;
      return none;
    }

    ConfigLookup record = record_fields(section_line, entry_line);
    record.file_read = true;
    // Any one of the three is enough; callers pass the empty section and 0 and rely on it.
    if (record.section == section || record.key == key || record.number == number) {
      // Deciphered straight into the result, so that no temporary holds the plain text.
      const std::string hex = record.value;
      record.value.assign(decrypted_size(hex.size()), '\0');
      decrypt_hex_text(hex, record.value, kCredentialKey);
      record.value.resize(std::strlen(record.value.c_str()));
      return record;
    }
  }
}

}  // namespace zarvelt
