// The configuration tool's commands (encrypt, decrypt, write, read, --help), apart from main
// so that tests can run them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zarvelt {

inline constexpr int kConfigToolSuccess = 0;
inline constexpr int kConfigToolFailure = 1;     // the file or its directory could not be written
inline constexpr int kConfigToolUsageError = 2;  // wrong command or arguments

// Runs one command; arguments exclude the program name. Results go to out, messages to err.
// Returns the exit status.
int run_config_tool(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err);

}  // namespace zarvelt
