// The configuration file reader: two-line records (section line, entry line), fields split at
// ";", values enciphered as hexadecimal text. The file is opened and closed per lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/file_system.h"

namespace zarvelt {

// The results of one lookup: the matching record, or all empty when none matches.
// The value is a credential: every lookup wipes its storage when it goes out of scope.
struct ConfigLookup {
  ConfigLookup() = default;
  ConfigLookup(const ConfigLookup&) = default;
  ConfigLookup& operator=(const ConfigLookup&) = default;
  ~ConfigLookup();

  std::string value;  // deciphered value
  std::string section;
  std::string key;
  std::int32_t number = 0;
  bool file_read = false;  // the file could be opened and read (whether or not a record matched)
};

// Looks up the first record that matches section, key or number (any one of the three) in
// the file at path (host path) and deciphers its value with the credential key. A missing
// file or key gives the empty value, silently (file_read tells the two apart). The value is the
// deciphered text up to its first zero byte.
ConfigLookup read_config_value(std::string_view section, std::string_view key, std::int32_t number,
                               const std::string& path);
// The same, reading the file through the given file system.
ConfigLookup read_config_value(std::string_view section, std::string_view key, std::int32_t number,
                               const std::string& path, FileSystem& file_system);

}  // namespace zarvelt
