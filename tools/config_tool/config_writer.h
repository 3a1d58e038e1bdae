// Writing the configuration file: one two-line record "0;DB;" / "<n>;<KEY>;<HEX>" per key, the
// value enciphered under the credential key. Used by the configuration tool; the transfer
// program itself never writes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.h"

namespace zarvelt {

// The longest plain value the reader gives back whole: its enciphered form (16 hex digits per
// started 8 bytes) must stay within the reader's 200-character value field.
inline constexpr std::size_t kMaxPlainValueLength = 96;

// One key of the configuration file with its plain value.
struct ConfigAssignment {
  std::string key;
  std::string plain_value;
};

// The outcome of a write; error says what went wrong when ok is false.
struct ConfigWriteResult {
  bool ok = true;
  std::string error;
};

// The record for one key, both lines with "\n": "0;DB;\n<number>;<key>;<hex_value>\n".
std::string format_config_record(std::int32_t number, std::string_view key,
                                 std::string_view hex_value);

// Writes the assignments into the file at path, creating it if missing. Records of other keys
// are kept as they are; the entry line of a key that is present is replaced (every occurrence),
// keeping its number unless that is 0. New keys are appended with the next numbers above the
// highest present (1, 2, 3 ... in a new file). Refuses, leaving the file untouched, keys that
// are empty or hold ";" or a line break, values that hold a zero byte or are longer than
// kMaxPlainValueLength, and existing files that are not a sequence of two-line records. The
// file is replaced as a whole (written beside it, then renamed over it).
ConfigWriteResult write_config_values(const std::string& path,
                                      const std::vector<ConfigAssignment>& assignments);
// The same through the given file system.
ConfigWriteResult write_config_values(const std::string& path,
                                      const std::vector<ConfigAssignment>& assignments,
                                      FileSystem& file_system);

}  // namespace zarvelt
