// The transfer log: one append per line, rotated into a single backup past 10 MiB.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/file_system.h"

namespace zarvelt {

// Above this many bytes (strictly) the log is moved aside into its backup.
inline constexpr std::uint64_t kTransferLogLimit = 10485760;

// The backup of a log at log_path: the same directory, the file name's stem with "_bak"
// ("ZarveltLog.txt" -> "ZarveltLog_bak.txt").
std::string log_backup_path(const std::string& log_path);

// Appends text and one line end to the log at log_path (host path), opening and closing the
// file for this one line. Silent when the log cannot be opened or written.
void write_log(const std::string& log_path, std::string_view text);
// The same through the given file system (its open, write, close, size and the rotation's move).
void write_log(FileSystem& file_system, const std::string& log_path, std::string_view text);

}  // namespace zarvelt
