// The program's fixed relative Windows paths, and their mapping to the host's separators.
// Every fixed path goes through here; nothing else spells a separator.
#pragma once

#include <string>
#include <string_view>

namespace zarvelt {

inline constexpr std::string_view kConfigFileWindowsPath = "..\\..\\Files\\velmarion.ini";
inline constexpr std::string_view kTransferLogWindowsPath =
    "..\\..\\Velmarion_php\\log\\ZarveltLog.txt";

// On Windows the path as it stands; elsewhere every backslash becomes a slash.
std::string host_path(std::string_view windows_path);

}  // namespace zarvelt
