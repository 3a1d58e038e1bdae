// Export files: staged beside their target, every write checked, locked, flushed, synced and
// published over the target after the commit, or discarded.
#include "files/export_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

namespace zarvelt {

namespace {

constexpr std::string_view kTarget1Tag = "1";
constexpr std::string_view kTarget2Tag = "2";
// How often a held lock is tried again while waiting.
constexpr std::chrono::milliseconds kLockRetryInterval{50};
// Attempts at a fresh staging name before giving up (each attempt is a new random name).
constexpr int kStagingNameAttempts = 16;

using Clock = std::chrono::steady_clock;

// A name part that no other run has: this process's id and a random number.
std::string unique_part(FileSystem& file_system) {
  static std::mt19937_64 generator = [] {
    std::seed_seq seed{static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()),
                       static_cast<std::uint64_t>(std::random_device{}())};
    return std::mt19937_64(seed);
  }();
  char random[17];
  std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(generator()));
  return std::to_string(file_system.process_id()) + "-" + random;
}

// Creates a new staging file "<base>.<tag>.<pid>-<random>.tmp", never opening anything that is
// already there (a file or a link of another run, or one left behind).
std::unique_ptr<File> create_staging_file(FileSystem& file_system, const std::string& base,
                                          std::string_view tag, std::string& staging_path) {
  for (int attempt = 0; attempt < kStagingNameAttempts; ++attempt) {
    const std::string candidate =
        base + "." + std::string(tag) + "." + unique_part(file_system) + ".tmp";
    errno = 0;
    std::unique_ptr<File> file = file_system.open(candidate, OpenMode::kCreateNew);
    if (file != nullptr) {
      staging_path = candidate;
      return file;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

// The path of a file named like name in directory.
std::string in_directory(const std::string& directory, const std::string& name) {
  return (std::filesystem::path(directory) / name).string();
}

// True when a and b name the same file: the same device and inode, or, where a file has no
// such identity or does not exist yet, the same path once links are resolved.
bool same_file(FileSystem& file_system, const std::string& a, const std::string& b) {
  const FileInfo info_a = file_system.info(a);
  const FileInfo info_b = file_system.info(b);
  if (info_a.id.known && info_b.id.known) return info_a.id == info_b.id;
  if (info_a.exists != info_b.exists) return false;
  return file_system.real_path(a) == file_system.real_path(b);
}

const std::string kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

}  // namespace

TargetsOpenResult export_open_targets(ExportFile& target1, const std::string& path1,
                                      ExportFile& target2, const std::string& path2,
                                      const std::string& source_path, FileSystem& file_system,
                                      std::chrono::milliseconds lock_wait) {
  target1.reset(path1, file_system);
  target2.reset(path2, file_system);
  const std::string same_targets =
      "Zieldatei " + path1 + " und Zieldatei " + path2 + " sind dieselbe Datei" + kNothingTakenOver;
  if (same_file(file_system, path1, path2)) return {TargetsOpen::kSameFile, same_targets};
  for (const std::string* path : {&path1, &path2}) {
    if (same_file(file_system, *path, source_path)) {
      return {TargetsOpen::kSameFile,
              "Zieldatei " + *path + " ist die Quelldatei " + source_path + kNothingTakenOver};
    }
  }

  struct Entry {
    ExportFile* out;
    const std::string* path;
    std::string_view tag;
    std::string order;
    bool open = false;
  };
  std::array<Entry, 2> entries = {
      Entry{&target1, &path1, kTarget1Tag, file_system.real_path(path1)},
      Entry{&target2, &path2, kTarget2Tag, file_system.real_path(path2)}};
  // One fixed order for every run, so that two runs never wait for each other in a circle.
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.order < b.order; });
  for (Entry& entry : entries) entry.open = entry.out->open_target(*entry.path, file_system);

  // Two paths that only now turn out to be one file (a dangling link to the other's place).
  if (entries[0].open && entries[1].open) {
    const FileId first = entries[0].out->target_id();
    if (first.known && first == entries[1].out->target_id()) {
      for (Entry& entry : entries) entry.out->remove_if_created();
      target1.reset(path1, file_system);
      target2.reset(path2, file_system);
      return {TargetsOpen::kSameFile, same_targets};
    }
  }

  const Clock::time_point deadline = Clock::now() + lock_wait;
  for (Entry& entry : entries) {
    if (!entry.open) continue;
    const LockResult locked = entry.out->lock_target(deadline);
    if (locked == LockResult::kBusy) {
      for (Entry& other : entries) other.out->remove_if_created();
      target1.reset(path1, file_system);
      target2.reset(path2, file_system);
      return {TargetsOpen::kBusy, "Zieldatei " + *entry.path +
                                      " wird von einem anderen Lauf benutzt" + kNothingTakenOver};
    }
    if (locked == LockResult::kError) {
      entry.out->target_.reset();
      entry.open = false;
    }
  }
  bool all_open = true;
  for (Entry& entry : entries) {
    if (entry.open) entry.open = entry.out->prepare_staging(entry.tag);
    all_open = all_open && entry.open;
  }
  return {all_open ? TargetsOpen::kOpen : TargetsOpen::kCannotCreate, {}};
}

bool ExportFile::open_staged(const std::string& path, std::string_view tag, FileSystem& file_system,
                             std::chrono::milliseconds lock_wait) {
  if (!open_target(path, file_system)) return false;
  if (lock_target(Clock::now() + lock_wait) != LockResult::kLocked) {
    target_.reset();
    return false;
  }
  return prepare_staging(tag);
}

bool ExportFile::open(const std::string& path, FileSystem& file_system) {
  reset(path, file_system);
  file_ = file_system.open(path, OpenMode::kWrite);
  return file_ != nullptr;
}

bool ExportFile::write(std::string_view bytes) {
  if (file_ == nullptr) {
    failed_ = true;
    return false;
  }
  if (!file_->write(bytes)) failed_ = true;
  return !failed_;
}

bool ExportFile::flush() {
  if (file_ != nullptr && !file_->flush()) failed_ = true;
  return !failed_;
}

bool ExportFile::close() {
  if (file_ == nullptr) return !failed_;
  if (!file_->flush()) failed_ = true;
  if (!file_->close()) failed_ = true;
  file_.reset();
  return !failed_;
}

bool ExportFile::finish() {
  if (file_ != nullptr && !file_->sync()) failed_ = true;
  return close();
}

bool ExportFile::publish() {
  std::string directory;
  if (!move_into_place(directory)) return false;
  // The move is done and cannot be taken back; the directory sync makes it last. A failure
  // there leaves the records in the target all the same.
  if (!directory.empty()) file_system_->sync_directory(directory);
  return true;
}

std::array<bool, 2> publish_exports(ExportFile& target1, ExportFile& target2) {
  // The two moves back to back: nothing that could be interrupted stands between them.
  std::string directory1;
  std::string directory2;
  const bool published1 = target1.move_into_place(directory1);
  const bool published2 = target2.move_into_place(directory2);
  if (!directory1.empty()) target1.file_system_->sync_directory(directory1);
  if (!directory2.empty() && directory2 != directory1) {
    target2.file_system_->sync_directory(directory2);
  }
  return {published1, published2};
}

bool ExportFile::move_into_place(std::string& directory_to_sync) {
  directory_to_sync.clear();
  if (staging_path_.empty()) return !failed_;
  if (file_ != nullptr || failed_) return false;
  FileSystem& file_system = *file_system_;
  if (!in_place_) {
    if (!file_system.replace(staging_path_, destination_)) return false;
    directory_to_sync = directory_of(destination_);
    staging_path_.clear();
    return true;
  }
  // Written through: the target stays the file it is (device, FIFO, hard links, a directory
  // that takes no new file); the staging file is removed only once the target holds it all.
  std::string records;
  if (file_system.read_file(staging_path_, false, records) != ReadResult::kOk) return false;
  if (target_ == nullptr || !target_->truncate() || !target_->write(records) || !target_->flush()) {
    return false;
  }
  // A device answers the sync with EINVAL: only a regular file's sync counts.
  if (!target_->sync() && target_->info().regular) return false;
  file_system.remove(staging_path_);
  staging_path_.clear();
  return true;
}

void ExportFile::discard() {
  file_.reset();  // closed without checking: the run is given up anyway
  if (!staging_path_.empty()) {
    file_system_->remove(staging_path_);
    staging_path_.clear();
  }
}

void ExportFile::release() { target_.reset(); }

void ExportFile::reset(const std::string& path, FileSystem& file_system) {
  file_system_ = &file_system;
  path_ = path;
  staging_path_.clear();
  file_.reset();
  failed_ = false;
  target_.reset();
  destination_.clear();
  in_place_ = false;
  created_ = false;
}

// Opens the target without emptying it (creating it if missing); never waits.
bool ExportFile::open_target(const std::string& path, FileSystem& file_system) {
  reset(path, file_system);
  created_ = !file_system.info(path).exists;
  target_ = file_system.open(path, OpenMode::kWriteExisting);
  return target_ != nullptr;
}

// Locks the open target, waiting until deadline. Once locked, the path must still name the
// locked file: a run that published meanwhile has replaced it, and the new file is locked
// instead.
LockResult ExportFile::lock_target(Clock::time_point deadline) {
  FileSystem& file_system = *file_system_;
  for (;;) {
    const LockResult locked = target_->try_lock();
    if (locked == LockResult::kError) return locked;
    if (locked == LockResult::kLocked) {
      const FileInfo mine = target_->info();
      if (!mine.id.known || file_system.info(path_).id == mine.id) return locked;
      target_ = file_system.open(path_, OpenMode::kWriteExisting);
      if (target_ == nullptr) return LockResult::kError;
      continue;
    }
    if (Clock::now() >= deadline) return LockResult::kBusy;
    std::this_thread::sleep_for(kLockRetryInterval);
  }
}

// Empties the locked target and creates its staging file.
bool ExportFile::prepare_staging(std::string_view tag) {
  FileSystem& file_system = *file_system_;
  const FileInfo target = target_->info();
  if (!target.exists || target.directory) return false;
  if (!target_->truncate()) return false;
  // A link stays a link: the file it points to is the one that is emptied, replaced or written.
  destination_ = file_system.is_link(path_) ? file_system.real_path(path_) : path_;
  // Only a regular file with one name may be replaced by a new file; the new one gets its
  // owner and permission bits.
  in_place_ = !target.regular || target.links > 1;
  if (!in_place_) {
    file_ = create_staging_file(file_system, destination_, tag, staging_path_);
    if (file_ != nullptr && !file_->set_owner_and_mode(target)) {
      file_.reset();
      file_system.remove(staging_path_);
      staging_path_.clear();
    }
    // A directory that takes no new file: the target itself is written through.
    in_place_ = file_ == nullptr;
  }
  if (in_place_) {
    // "zarvelt-" first: a name that begins with a device name (NUL.2...) is that device on
    // Windows.
    const std::string base =
        in_directory(file_system.temp_directory(), "zarvelt-" + file_name_of(destination_));
    file_ = create_staging_file(file_system, base, tag, staging_path_);
  }
  return file_ != nullptr;
}

// Removes a target that this run created and did nothing else with: only while the path still
// names the file this run holds and it is empty (another run that created it at the same
// moment may have published there since).
void ExportFile::remove_if_created() {
  if (target_ == nullptr || !created_) return;
  FileSystem& file_system = *file_system_;
  const FileInfo held = target_->info();
  const std::string real_target = file_system.real_path(path_);
  const FileInfo there = file_system.info(real_target);
  target_.reset();
  if (held.regular && there.id == held.id && there.size == 0) file_system.remove(real_target);
}

}  // namespace zarvelt
