// An export file (target file 1 or 2). Every write, flush, sync and close is checked and a
// failure is remembered, so that the driver can refuse to commit a run whose export did not
// reach the disk. Every file operation goes through the FileSystem given at open (the real one
// by default).
//
// The life of a staged export, and what holds at each stage:
//   opened    export_open_targets() (or open_staged() for one target): the target is opened
//             without emptying it, locked (an exclusive advisory lock, waited for at most
//             kTargetLockWait), then emptied, and its staging file created under a name no
//             other run can have: beside the destination, or in the system's temporary
//             directory for an in-place target. From here until release() the lock is held,
//             so runs on the same target files never overlap.
//   written   the handlers append records to the staging file (write()); the target stays
//             empty, whatever the run does.
//   finished  finish(): flushed, synced to the disk and closed, before the commit; a failure
//             anywhere since opening (failed()) keeps the run from committing.
//   published publish(), after the commit only (a run's two exports together through
//             publish_exports()): the staging file is moved over the destination (the
//             directory synced), or for an in-place target written through into it. The
//             staging file is then gone. A publish that fails leaves the staging file, the
//             only copy of its records, where staging_path() names it.
//   discarded discard(), for a run that is not committed: the staging file is removed and the
//             target keeps what it had (empty: it was emptied at opening).
//   released  release() or the destructor: the lock is given up, after publishing or
//             discarding.
// Invariant: the export and the database rows of a run appear together or not at all; a
// staging file outlives its run only where publishing failed after the commit.
// The driver walks these steps in driver/program.cc (open_files, finish_run).
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "files/file_system.h"

namespace zarvelt {

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

class ExportFile;

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

// Publishes a run's two finished exports as publish() does each, with the shortest window
// between them: both moves back to back, then each directory that a move changed synced once.
// A run killed between the two moves leaves target 1 published and target 2 empty, its
// records in its staging file, until the same booking file is run again. Returns whether each
// export is published.
std::array<bool, 2> publish_exports(ExportFile& target1, ExportFile& target2);

class ExportFile {
 public:
  // One target alone, as export_open_targets does it for each (tag "1" or "2" goes into the
  // staging file's name). Returns false when the target or its staging file cannot be
  // created, or the lock was not had within lock_wait.
  bool open_staged(const std::string& path, std::string_view tag,
                   FileSystem& file_system = real_file_system(),
                   std::chrono::milliseconds lock_wait = kTargetLockWait);

  // Opens path for binary writing ("wb": created, or emptied), unstaged and unlocked. Returns
  // false when it cannot.
  bool open(const std::string& path, FileSystem& file_system = real_file_system());

  // Writes the bytes; a short or failed write marks the file failed. Returns !failed().
  bool write(std::string_view bytes);

  // Hands the buffered bytes to the system, so that a reader of the file sees them. Returns
  // !failed().
  bool flush();

  // Flushes and closes the file (if open). Returns true when every write, the flush and the
  // close succeeded.
  bool close();

  // For a staged export: flushes the staging file to the disk and closes it. Returns true
  // when every write, the flush, the sync and the close succeeded.
  bool finish();

  // Brings a finished staging file to the target: moves it over the destination and syncs the
  // directory, or for an in-place target writes its bytes through into the target and syncs
  // it (a target that is not a regular file may refuse the sync). Returns false, leaving the
  // staging file in place, when that fails. A file that is not staged has nothing to publish.
  bool publish();

  // Closes a staging file that is still open and removes it; the target keeps what it had.
  void discard();

  // Gives up the lock on the target (closing it). Destroying the ExportFile does the same.
  void release();

  // A file is open for writing (the staging file of a staged export).
  bool is_open() const { return file_ != nullptr; }
  // The identity of the target held locked (a staged export's, from opening until release).
  FileId target_id() const { return target_ != nullptr ? target_->info().id : FileId{}; }
  // The target's host path as given on the command line.
  const std::string& path() const { return path_; }
  // Where a staged export is written until it is published; empty: written to path(), or
  // published already.
  const std::string& staging_path() const { return staging_path_; }
  // A write, flush, sync or close went wrong.
  bool failed() const { return failed_; }
  // Written through into the target after the commit instead of replacing it: a target that
  // is not a regular file, has several hard links, or whose directory takes no new file. Its
  // staging file is then in the system's temporary directory.
  bool in_place() const { return in_place_; }

 private:
  friend TargetsOpenResult export_open_targets(ExportFile&, const std::string&, ExportFile&,
                                               const std::string&, const std::string&, FileSystem&,
                                               std::chrono::milliseconds);
  friend std::array<bool, 2> publish_exports(ExportFile&, ExportFile&);

  // publish() without the directory sync: the directory a move changed goes into
  // directory_to_sync (left empty when nothing was moved).
  bool move_into_place(std::string& directory_to_sync);

  void reset(const std::string& path, FileSystem& file_system);
  bool open_target(const std::string& path, FileSystem& file_system);
  LockResult lock_target(std::chrono::steady_clock::time_point deadline);
  bool prepare_staging(std::string_view tag);
  void remove_if_created();

  std::string path_;
  std::string staging_path_;
  std::unique_ptr<File> file_;  // the file being written (the staging file of a staged export)
  bool failed_ = false;
  FileSystem* file_system_ = &real_file_system();
  // A staged export's target: open and locked from before it is emptied until this is
  // destroyed or released, after publishing.
  std::unique_ptr<File> target_;
  // The file that publishing replaces: path, or the file that a link at path points to.
  std::string destination_;
  bool in_place_ = false;
  bool created_ = false;  // the target did not exist before this run opened it
};

}  // namespace zarvelt
