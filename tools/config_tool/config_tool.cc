// zarvelt_config's commands: encrypt, decrypt, write, read and the usage.
#include "config_tool/config_tool.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "config/config_reader.h"
#include "config_tool/config_writer.h"
#include "config/credential_cipher.h"
#include "db/session.h"

namespace zarvelt {

namespace {

constexpr const char* kUsage =
    "usage: zarvelt_config encrypt <plain>\n"
    "       zarvelt_config decrypt <hex>\n"
    "       zarvelt_config write <file> LOGIN=<value> PASS=<value> NET8=<value>\n"
    "       zarvelt_config read <file> <KEY>\n"
    "       zarvelt_config --help\n";

constexpr const char* kHelp =
    "\n"
    "The configuration file holds records of two lines each:\n"
    "  0;DB;                  section line: the section is the text between the 1st and 2nd \";\"\n"
    "  <n>;<KEY>;<HEX>        entry line: non-zero number, key, enciphered value\n"
    "Keys used by the transfer program: LOGIN, PASS, NET8. A value is Blowfish (ECB, fixed\n"
    "credential key, little-endian block halves) over the plain text padded with zero bytes to\n"
    "a multiple of 8, written as upper-case hex, 16 digits per block. A lookup takes the first\n"
    "record whose section is empty, whose number is 0 or whose key matches, so every section\n"
    "line needs a non-empty section and every entry line a non-zero number.\n"
    "write keeps the other records of an existing file and replaces the entry of a key that is\n"
    "present, and creates the file's directory when it is missing. Values hold at most 96\n"
    "characters, NET8 at most 41, and LOGIN/PASS@NET8 together at most 100 (what the transfer\n"
    "program takes); longer ones are refused and the file is left as it was.\n";

int usage_error(std::ostream& err, const std::string& message) {
  err << "zarvelt_config: " << message << "\n" << kUsage;
  return kConfigToolUsageError;
}

// What the transfer program takes: a NET8 of at most 41 characters (a longer one is dropped and
// the connection fails with -12154), and "LOGIN/PASS@NET8" of at most 100 (else -12899).
constexpr std::size_t kMaxNet8Length = db::kMaxAliasLength;
constexpr std::size_t kMaxConnectStringLength = db::kMaxConnectStringLength;

// Refuses values the transfer program could never connect with, so that the mistake shows
// here rather than as a failed run. Keys not given keep their value in the file.
bool usable_credentials(const std::string& path, const std::vector<ConfigAssignment>& assignments,
                        std::ostream& err) {
  auto value_of = [&](const std::string& key) {
    for (const ConfigAssignment& assignment : assignments) {
      if (assignment.key == key) return assignment.plain_value;
    }
    return read_config_value("", key, 0, path).value;
  };
  const std::string net8 = value_of("NET8");
  if (net8.size() > kMaxNet8Length) {
    err << "zarvelt_config: NET8 has " << net8.size() << " characters; zarvelt takes at most "
        << kMaxNet8Length
        << " (a longer one fails with -12154): use a shorter path, a PostgreSQL service "
           "(postgresql:service=<name>) or an ODBC data source\n";
    return false;
  }
  const std::size_t connect_length =
      value_of("LOGIN").size() + value_of("PASS").size() + net8.size() + 2;
  if (connect_length > kMaxConnectStringLength) {
    err << "zarvelt_config: LOGIN/PASS@NET8 has " << connect_length
        << " characters; zarvelt takes at most " << kMaxConnectStringLength
        << " (a longer one fails with -12899)\n";
    return false;
  }
  return true;
}

int write_command(const std::vector<std::string>& arguments, std::ostream& err) {
  static const std::set<std::string> kKnownKeys = {"LOGIN", "PASS", "NET8"};
  if (arguments.size() < 3) return usage_error(err, "write needs a file and KEY=value pairs");
  std::vector<ConfigAssignment> assignments;
  std::set<std::string> seen;
  for (std::size_t i = 2; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::size_t equals = argument.find('=');
    const std::string key = argument.substr(0, equals);
    if (equals == std::string::npos || kKnownKeys.count(key) == 0) {
      return usage_error(err, "expected LOGIN=, PASS= or NET8=, not \"" + argument + "\"");
    }
    if (!seen.insert(key).second) return usage_error(err, key + " given twice");
    assignments.push_back({key, argument.substr(equals + 1)});
  }
  if (!usable_credentials(arguments[1], assignments, err)) return kConfigToolFailure;
  // A new installation may not have its Files/ directory yet.
  const std::filesystem::path parent = std::filesystem::path(arguments[1]).parent_path();
  std::error_code failure;
  if (!parent.empty()) std::filesystem::create_directories(parent, failure);
  if (failure) {
    err << "zarvelt_config: cannot create directory " << parent.string() << ": "
        << failure.message() << "\n";
    return kConfigToolFailure;
  }
  const ConfigWriteResult result = write_config_values(arguments[1], assignments);
  if (!result.ok) {
    err << "zarvelt_config: " << result.error << "\n";
    return kConfigToolFailure;
  }
  return kConfigToolSuccess;
}

}  // namespace

int run_config_tool(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err) {
  if (arguments.empty()) return usage_error(err, "no command");
  const std::string& command = arguments[0];
  if (command == "--help") {
    out << kUsage << kHelp;
    return kConfigToolSuccess;
  }
  if (command == "encrypt" || command == "decrypt") {
    if (arguments.size() != 2) return usage_error(err, command + " takes one argument");
    // No key of the file can hold a longer value: the reader would give back part of it.
    if (command == "encrypt" && arguments[1].size() > kMaxPlainValueLength) {
      err << "zarvelt_config: the value has " << arguments[1].size()
          << " characters; a configuration value holds at most " << kMaxPlainValueLength << "\n";
      return kConfigToolFailure;
    }
    out << (command == "encrypt" ? encrypt_text_to_hex(arguments[1], kCredentialKey)
                                 : decrypt_hex_to_text(arguments[1], kCredentialKey))
        << "\n";
    return kConfigToolSuccess;
  }
  if (command == "write") return write_command(arguments, err);
  if (command == "read") {
    if (arguments.size() != 3) return usage_error(err, "read takes a file and a key");
    out << read_config_value("", arguments[2], 0, arguments[1]).value << "\n";
    return kConfigToolSuccess;
  }
  return usage_error(err, "unknown command \"" + command + "\"");
}

}  // namespace zarvelt
