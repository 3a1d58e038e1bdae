// Moving a finished file over another in one step, and forcing a file's bytes to the disk:
// what the export files and the log rotation need so that a failure never leaves half a file.
#pragma once

#include <cstdio>
#include <string>

namespace zarvelt {

// Moves the file at from over the file at to, replacing it if it exists. The move is atomic
// where the file system offers it (same directory). Returns false and leaves both files as
// they were when it fails.
bool replace_file(const std::string& from, const std::string& to);

// Writes the stream's buffer and asks the system to put the file's bytes on the disk. Returns
// false when either step fails.
bool flush_to_disk(std::FILE* file);

}  // namespace zarvelt
