// An export file (target file 1 or 2). Every write, flush, sync and close is checked and a
// failure is remembered, so that the driver can refuse to commit a run whose export did not
// reach the disk.
//
// A staged export writes into a staging file and reaches its target only when the driver
// publishes it after the commit; until then the target stays empty, so the export and the
// database rows of a run appear together or not at all. While a run has its targets open it
// holds an exclusive advisory lock on each of them, from before emptying them until after
// publishing, so runs on the same target files never overlap.
//
// Every file operation goes through the FileSystem given at open (the real one by default).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "files/file_system.h"

namespace zarvelt {

struct ExportFile {
  std::string path;            // host path of the target as given on the command line
  std::string staging_path;    // where a staged export is written; empty: written to path
  std::unique_ptr<File> file;  // the file being written (the staging file of a staged export)
  bool failed = false;         // a write, flush, sync or close went wrong
  FileSystem* file_system = &real_file_system();

  // A staged export's target: open and locked from before it is emptied until this is
  // destroyed or released, after publishing.
  std::unique_ptr<File> target;
  // The file that publishing replaces: path, or the file that a link at path points to.
  std::string destination;
  // Written through into the target after the commit instead of replacing it: a target that is
  // not a regular file, has several hard links, or whose directory takes no new file. Its
  // staging file is then in the system's temporary directory.
  bool in_place = false;
  bool created = false;  // the target did not exist before this run opened it
};

// How long a run waits for another run to release a target file before giving up.
inline constexpr std::chrono::milliseconds kTargetLockWait{10000};

enum class TargetsOpen {
  kOpen,          // both targets locked and emptied, both staging files open
  kCannotCreate,  // a target (or its staging file) could not be created or opened
  kSameFile,      // the targets are one file, or one of them is the source: nothing touched
  kBusy,          // another run held a target past the wait: nothing touched
};

struct TargetsOpenResult {
  TargetsOpen status = TargetsOpen::kOpen;
  std::string message;  // for kSameFile and kBusy, without line breaks
};

// Opens the two targets of a run for staged exports:
// 1. refuses (kSameFile) when path1 and path2 name the same file, or either names the source
//    file (links followed; same device and inode), before anything is created or emptied;
// 2. opens each target without emptying it (created if missing), in a fixed order (by the path
//    with its links resolved), and takes an exclusive lock on it, waiting at most lock_wait in
//    all (kBusy); a target that publishing replaced meanwhile is opened again;
// 3. empties the targets and creates a staging file for each, under a name no other run can
//    have (created exclusively, never through a link): beside the destination, or in the
//    system's temporary directory for an in-place target.
// Both targets are attempted even when one fails (kCannotCreate), so a caller finds each one
// that can be created created (or emptied).
TargetsOpenResult export_open_targets(ExportFile& target1, const std::string& path1,
                                      ExportFile& target2, const std::string& path2,
                                      const std::string& source_path,
                                      FileSystem& file_system = real_file_system(),
                                      std::chrono::milliseconds lock_wait = kTargetLockWait);

// One target alone, as export_open_targets does it for each (tag "1" or "2" goes into the
// staging file's name). Returns false when the target or its staging file cannot be created,
// or the lock was not had within lock_wait.
bool export_open_staged(ExportFile& out, const std::string& path, std::string_view tag,
                        FileSystem& file_system = real_file_system(),
                        std::chrono::milliseconds lock_wait = kTargetLockWait);

// Opens path for binary writing ("wb": created, or emptied), unstaged and unlocked. Returns
// false when it cannot.
bool export_open(ExportFile& out, const std::string& path);
bool export_open(ExportFile& out, const std::string& path, FileSystem& file_system);

// Writes the bytes; a short or failed write marks the file failed. Returns !failed.
bool export_write(ExportFile& out, std::string_view bytes);

// Flushes and closes the file (if open). Returns true when every write, the flush and the
// close succeeded.
bool export_close(ExportFile& out);

// For a staged export: flushes the staging file to the disk and closes it. Returns true when
// every write, the flush, the sync and the close succeeded.
bool export_finish(ExportFile& out);

// Brings a finished staging file to the target: moves it over the destination and syncs the
// directory, or for an in-place target writes its bytes through into the target and syncs it
// (a target that is not a regular file may refuse the sync). Returns false, leaving the
// staging file in place, when that fails. A file that is not staged has nothing to publish.
bool export_publish(ExportFile& out);

// Closes a staging file that is still open and removes it; the target keeps what it had.
void export_discard(ExportFile& out);

// Gives up the lock on the target (closing it). Destroying the ExportFile does the same.
void export_release(ExportFile& out);

}  // namespace zarvelt
