// Moving a finished file over another in one step, and forcing a file's bytes to the disk:
// what the export files and the log rotation need so that a failure never leaves half a file.
#pragma once

#include <cstdio>
#include <string>

namespace zarvelt {

// Moves the file at from over the file at to, replacing it if it exists. The move is atomic
// where the file system offers it (same directory). Returns false and leaves both files as
// they were when it fails.
//
// Windows: MoveFileEx with replace and write-through. A target that is open (a run holds its
// lock on it; every such handle shares deletion) refuses that; it is then replaced with POSIX
// semantics (Windows 10 1809 and later on NTFS), or else moved aside under a name of its own,
// the new file moved into its place and the old one deleted (it goes when its last handle is
// closed). If the second move fails the old file is moved back.
bool replace_file(const std::string& from, const std::string& to);

// Writes the stream's buffer and asks the system to put the file's bytes on the disk. Returns
// false when either step fails.
bool flush_to_disk(std::FILE* file);

}  // namespace zarvelt
