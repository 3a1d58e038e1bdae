// Writing the configuration file's records, each value enciphered, the whole file replaced in one
// step so that a failed write leaves the old one.
#include "config_tool/config_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "config/config_line_fields.h"
#include "config/credential_cipher.h"
#include "text/text.h"

namespace zarvelt {

namespace {

// The reader takes an entry line of at most 399 characters, line end included, and a key of
// at most 200.
constexpr std::size_t kMaxEntryLineLength = 399;
constexpr std::size_t kMaxKeyLength = 200;
// Every record the writer adds gets this section line.
constexpr std::string_view kSectionLine = "0;DB;";
constexpr std::int32_t kHighestNumber = std::numeric_limits<std::int32_t>::max();

ConfigWriteResult failure(std::string error) { return {false, std::move(error)}; }

ConfigWriteResult no_number_left() { return failure("no record number left above the highest"); }

ConfigWriteResult too_long(std::string_view key) {
  return failure("the entry line of " + std::string(key) + " would be longer than " +
                 std::to_string(kMaxEntryLineLength) + " characters");
}

std::string entry_line(std::int32_t number, std::string_view key, std::string_view hex_value) {
  std::string line = std::to_string(number);
  line += ';';
  line += key;
  line += ';';
  line += hex_value;
  return line;
}

// The key of an entry line as the reader sees it in a well-formed record: the text between
// the first and the second ";".
std::string key_of(std::string_view line) {
  const int p1 = find_nth_char(line, ';', 1);
  const int p2 = find_nth_char(line, ';', 2);
  if (p1 < 0 || p2 <= p1) return {};
  return std::string(line.substr(p1 + 1, p2 - p1 - 1));
}

std::int32_t number_of(std::string_view line) {
  return decimal_integer(line.substr(0, line.find(';')));
}

ConfigWriteResult check_assignment(const ConfigAssignment& assignment) {
  const std::string& key = assignment.key;
  if (key.empty() || key.size() > kMaxKeyLength ||
      key.find_first_of(std::string_view(";\r\n\0", 4)) != std::string::npos) {
    return failure("invalid key \"" + key + "\"");
  }
  if (assignment.plain_value.find('\0') != std::string::npos) {
    return failure("the value of " + key + " holds a zero byte");
  }
  if (assignment.plain_value.size() > kMaxPlainValueLength) {
    return failure("the value of " + key + " is longer than " +
                   std::to_string(kMaxPlainValueLength) + " characters");
  }
  return {};
}

// The lines of an existing file without their line ends; an empty list for a missing file.
ConfigWriteResult read_lines(FileSystem& file_system, const std::string& path,
                             std::vector<std::string>& lines) {
  std::string content;
  const ReadResult read = file_system.read_file(path, false, content);
  if (read == ReadResult::kMissing) return {};
  if (read != ReadResult::kOk) return failure("cannot read " + path);

  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  if (lines.size() % 2 != 0) {
    return failure(path + " is not a sequence of two-line records (odd number of lines)");
  }
  return {};
}

}  // namespace

std::string format_config_record(std::int32_t number, std::string_view key,
                                 std::string_view hex_value) {
  return std::string(kSectionLine) + "\n" + entry_line(number, key, hex_value) + "\n";
}

ConfigWriteResult write_config_values(const std::string& path,
                                      const std::vector<ConfigAssignment>& assignments) {
  return write_config_values(path, assignments, real_file_system());
}

ConfigWriteResult write_config_values(const std::string& path,
                                      const std::vector<ConfigAssignment>& assignments,
                                      FileSystem& file_system) {
  for (const ConfigAssignment& assignment : assignments) {
    if (ConfigWriteResult checked = check_assignment(assignment); !checked.ok) return checked;
  }
  std::vector<std::string> lines;
  if (ConfigWriteResult read = read_lines(file_system, path, lines); !read.ok) return read;

  std::int32_t highest_number = 0;
  for (std::size_t i = 1; i < lines.size(); i += 2) {
    highest_number = std::max(highest_number, number_of(lines[i]));
  }

  std::string content;
  std::vector<bool> written(assignments.size(), false);
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    std::string entry = lines[i + 1];
    const std::string key = key_of(entry);
    for (std::size_t a = 0; a < assignments.size(); ++a) {
      if (assignments[a].key != key) continue;
      std::int32_t number = number_of(entry);
      // Number 0 would make the record match every lookup.
      if (number == 0) {
        if (highest_number == kHighestNumber) return no_number_left();
        number = ++highest_number;
      }
      entry =
          entry_line(number, key, encrypt_text_to_hex(assignments[a].plain_value, kCredentialKey));
      if (entry.size() + 1 > kMaxEntryLineLength) return too_long(assignments[a].key);
      written[a] = true;
    }
    content += lines[i] + "\n" + entry + "\n";
  }
  for (std::size_t a = 0; a < assignments.size(); ++a) {
    if (written[a]) continue;
    if (highest_number == kHighestNumber) return no_number_left();
    const std::string hex_value = encrypt_text_to_hex(assignments[a].plain_value, kCredentialKey);
    ++highest_number;
    if (entry_line(highest_number, assignments[a].key, hex_value).size() + 1 >
        kMaxEntryLineLength) {
      return too_long(assignments[a].key);
    }
    content += format_config_record(highest_number, assignments[a].key, hex_value);
  }
  const std::string temporary_path = path + ".tmp";
  // Text mode: CR LF line ends where the platform has them, as the reader expects.
  std::unique_ptr<File> file = file_system.open(temporary_path, OpenMode::kWriteText);
  // The system's reason (no such directory, permission denied, disk full...) is what the
  // administrator needs to fix it.
  if (!file) return failure("cannot create " + temporary_path + ": " + std::strerror(errno));
  const bool wrote = file->write(content);
  const int write_errno = errno;
  if (!file->close() || !wrote) {
    const std::string reason = std::strerror(wrote ? errno : write_errno);
    file_system.remove(temporary_path);
    return failure("cannot write " + temporary_path + ": " + reason);
  }
  if (!file_system.replace(temporary_path, path)) {
    const std::string reason = std::strerror(errno);
    file_system.remove(temporary_path);
    return failure("cannot replace " + path + ": " + reason);
  }
  return {};
}

}  // namespace zarvelt
