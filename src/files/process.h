// The process as the system knows it: its id, its working directory, its console, its clock and
// its crash dumps. Like the file system, the platform's own calls for these stand only here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace zarvelt {

// This process's id.
std::uint64_t current_process_id();

// The working directory as the system names it; empty when it cannot say.
std::string current_directory();

// True when stream is a terminal (a console a person reads), not a file or a pipe.
bool is_terminal(std::FILE* stream);

// The local time of the moment.
std::tm local_time(std::time_t moment);

// A relative Windows path as this host spells it: on Windows as it stands, elsewhere with every
// backslash a slash.
std::string host_path(std::string_view windows_path);

// Keeps the process from writing a core image (Linux: not dumpable, no core size) or a crash
// dump of its own (Windows: no error dialog, no fault report). The program holds the deciphered
// database password while it connects: such a file could carry it to wherever they go.
void forbid_core_dumps();

}  // namespace zarvelt
