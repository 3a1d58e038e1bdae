// The program's fixed relative Windows paths; host_path (files/process.h) spells them as this
// host does. Every fixed path is here; nothing else spells a separator.
#pragma once

#include <string_view>

#include "files/process.h"

namespace zarvelt {

inline constexpr std::string_view kConfigFileWindowsPath = "..\\..\\Files\\velmarion.ini";
inline constexpr std::string_view kTransferLogWindowsPath =
    "..\\..\\Velmarion_php\\log\\ZarveltLog.txt";

}  // namespace zarvelt
