// An export file (target file 1 or 2) opened for binary writing. Every write, flush and close
// is checked and a failure is remembered, so that the driver can refuse to commit a run
// whose export did not reach the disk.
//
// A staged export writes into a staging file beside its target and reaches the target only
// when the driver publishes it after the commit; until then the target stays empty, so the
// export and the database rows of a run appear together or not at all.
//
// Every file operation goes through the FileSystem given at open (the real one by default).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "files/file_system.h"

namespace zarvelt {

struct ExportFile {
  std::string path;          // host path of the target as given on the command line
  std::string staging_path;  // where a staged export is written; empty: written to path
  std::unique_ptr<File> file;
  bool failed = false;  // a write, flush or close went wrong
  FileSystem* file_system = &real_file_system();
};

// Opens path for binary writing ("wb": created, or emptied). Returns false when it cannot.
bool export_open(ExportFile& out, const std::string& path);
bool export_open(ExportFile& out, const std::string& path, FileSystem& file_system);

// Creates or empties the target at path, closes it again and opens path + staging_suffix for
// binary writing instead. Returns false when either file cannot be created; the target is
// then left as the attempt left it, and no staging file stays open.
bool export_open_staged(ExportFile& out, const std::string& path, std::string_view staging_suffix);
bool export_open_staged(ExportFile& out, const std::string& path, std::string_view staging_suffix,
                        FileSystem& file_system);

// Writes the bytes; a short or failed write marks the file failed. Returns !failed.
bool export_write(ExportFile& out, std::string_view bytes);

// Flushes and closes the file (if open). Returns true when every write, the flush and the
// close succeeded.
bool export_close(ExportFile& out);

// For a staged export: flushes the staging file to the disk and closes it. Returns true when
// every write, the flush, the sync and the close succeeded.
bool export_finish(ExportFile& out);

// Moves a finished staging file over the target. Returns false, leaving the staging file in
// place, when the move fails. A file that is not staged has nothing to move.
bool export_publish(ExportFile& out);

// Closes a staging file that is still open and removes it; the target keeps what it had.
void export_discard(ExportFile& out);

}  // namespace zarvelt
