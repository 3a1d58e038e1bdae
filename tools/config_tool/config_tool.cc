#include "config_tool/config_tool.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "config/config_reader.h"
#include "config/config_writer.h"
#include "config/credential_cipher.h"

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
    "present, and creates the file's directory when it is missing; values may hold at most 96\n"
    "characters.\n";

int usage_error(std::ostream& err, const std::string& message) {
  err << "zarvelt_config: " << message << "\n" << kUsage;
  return kConfigToolUsageError;
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
