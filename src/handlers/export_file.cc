// Export files: staged beside their target, every write checked, locked, flushed, synced and
// published over the target after the commit, or discarded.
#include "handlers/export_file.h"

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

void reset(ExportFile& out, const std::string& path, FileSystem& file_system) {
  out.file_system = &file_system;
  out.path = path;
  out.staging_path.clear();
  out.file.reset();
  out.failed = false;
  out.target.reset();
  out.destination.clear();
  out.in_place = false;
  out.created = false;
}

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

// Opens the target without emptying it (creating it if missing); never waits.
bool open_target(ExportFile& out, const std::string& path, FileSystem& file_system) {
  reset(out, path, file_system);
  out.created = !file_system.info(path).exists;
  out.target = file_system.open(path, OpenMode::kWriteExisting);
  return out.target != nullptr;
}

// Locks the open target, waiting until deadline. Once locked, the path must still name the
// locked file: a run that published meanwhile has replaced it, and the new file is locked
// instead.
LockResult lock_target(ExportFile& out, Clock::time_point deadline) {
  FileSystem& file_system = *out.file_system;
  for (;;) {
    const LockResult locked = out.target->try_lock();
    if (locked == LockResult::kError) return locked;
    if (locked == LockResult::kLocked) {
      const FileInfo mine = out.target->info();
      if (!mine.id.known || file_system.info(out.path).id == mine.id) return locked;
      out.target = file_system.open(out.path, OpenMode::kWriteExisting);
      if (out.target == nullptr) return LockResult::kError;
      continue;
    }
    if (Clock::now() >= deadline) return LockResult::kBusy;
    std::this_thread::sleep_for(kLockRetryInterval);
  }
}

// Empties the locked target and creates its staging file.
bool prepare_staging(ExportFile& out, std::string_view tag) {
  FileSystem& file_system = *out.file_system;
  const FileInfo target = out.target->info();
  if (!target.exists || target.directory) return false;
  if (!out.target->truncate()) return false;
  // A link stays a link: the file it points to is the one that is emptied, replaced or written.
  out.destination = file_system.is_link(out.path) ? file_system.real_path(out.path) : out.path;
  // Only a regular file with one name may be replaced by a new file; the new one gets its
  // owner and permission bits.
  out.in_place = !target.regular || target.links > 1;
  if (!out.in_place) {
    out.file = create_staging_file(file_system, out.destination, tag, out.staging_path);
    if (out.file != nullptr && !out.file->set_owner_and_mode(target)) {
      out.file.reset();
      file_system.remove(out.staging_path);
      out.staging_path.clear();
    }
    // A directory that takes no new file: the target itself is written through.
    out.in_place = out.file == nullptr;
  }
  if (out.in_place) {
    // "zarvelt-" first: a name that begins with a device name (NUL.2...) is that device on
    // Windows.
    const std::string base =
        in_directory(file_system.temp_directory(), "zarvelt-" + file_name_of(out.destination));
    out.file = create_staging_file(file_system, base, tag, out.staging_path);
  }
  return out.file != nullptr;
}

// Removes a target that this run created and did nothing else with: only while the path still
// names the file this run holds and it is empty (another run that created it at the same
// moment may have published there since).
void remove_if_created(ExportFile& out) {
  if (out.target == nullptr || !out.created) return;
  FileSystem& file_system = *out.file_system;
  const FileInfo held = out.target->info();
  const std::string real_target = file_system.real_path(out.path);
  const FileInfo there = file_system.info(real_target);
  out.target.reset();
  if (held.regular && there.id == held.id && there.size == 0) file_system.remove(real_target);
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
  reset(target1, path1, file_system);
  reset(target2, path2, file_system);
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
  for (Entry& entry : entries) entry.open = open_target(*entry.out, *entry.path, file_system);

  // Two paths that only now turn out to be one file (a dangling link to the other's place).
  if (entries[0].open && entries[1].open) {
    const FileId first = entries[0].out->target->info().id;
    if (first.known && first == entries[1].out->target->info().id) {
      for (Entry& entry : entries) remove_if_created(*entry.out);
      reset(target1, path1, file_system);
      reset(target2, path2, file_system);
      return {TargetsOpen::kSameFile, same_targets};
    }
  }

  const Clock::time_point deadline = Clock::now() + lock_wait;
  for (Entry& entry : entries) {
    if (!entry.open) continue;
    const LockResult locked = lock_target(*entry.out, deadline);
    if (locked == LockResult::kBusy) {
      for (Entry& other : entries) remove_if_created(*other.out);
      reset(target1, path1, file_system);
      reset(target2, path2, file_system);
      return {TargetsOpen::kBusy, "Zieldatei " + *entry.path +
                                      " wird von einem anderen Lauf benutzt" + kNothingTakenOver};
    }
    if (locked == LockResult::kError) {
      entry.out->target.reset();
      entry.open = false;
    }
  }
  bool all_open = true;
  for (Entry& entry : entries) {
    if (entry.open) entry.open = prepare_staging(*entry.out, entry.tag);
    all_open = all_open && entry.open;
  }
  return {all_open ? TargetsOpen::kOpen : TargetsOpen::kCannotCreate, {}};
}

bool export_open_staged(ExportFile& out, const std::string& path, std::string_view tag,
                        FileSystem& file_system, std::chrono::milliseconds lock_wait) {
  if (!open_target(out, path, file_system)) return false;
  if (lock_target(out, Clock::now() + lock_wait) != LockResult::kLocked) {
    out.target.reset();
    return false;
  }
  return prepare_staging(out, tag);
}

bool export_open(ExportFile& out, const std::string& path) {
  return export_open(out, path, real_file_system());
}

bool export_open(ExportFile& out, const std::string& path, FileSystem& file_system) {
  reset(out, path, file_system);
  out.file = file_system.open(path, OpenMode::kWrite);
  return out.file != nullptr;
}

bool export_write(ExportFile& out, std::string_view bytes) {
  if (out.file == nullptr) {
    out.failed = true;
    return false;
  }
  if (!out.file->write(bytes)) out.failed = true;
  return !out.failed;
}

bool export_close(ExportFile& out) {
  if (out.file == nullptr) return !out.failed;
  if (!out.file->flush()) out.failed = true;
  if (!out.file->close()) out.failed = true;
  out.file.reset();
  return !out.failed;
}

bool export_finish(ExportFile& out) {
  if (out.file != nullptr && !out.file->sync()) out.failed = true;
  return export_close(out);
}

bool export_publish(ExportFile& out) {
  if (out.staging_path.empty()) return !out.failed;
  if (out.file != nullptr || out.failed) return false;
  FileSystem& file_system = *out.file_system;
  if (!out.in_place) {
    if (!file_system.replace(out.staging_path, out.destination)) return false;
    // The move is done and cannot be taken back; the directory sync makes it last. A failure
    // there leaves the records in the target all the same.
    file_system.sync_directory(directory_of(out.destination));
    out.staging_path.clear();
    return true;
  }
  // Written through: the target stays the file it is (device, FIFO, hard links, a directory
  // that takes no new file); the staging file is removed only once the target holds it all.
  std::string records;
  if (file_system.read_file(out.staging_path, false, records) != ReadResult::kOk) return false;
  if (out.target == nullptr || !out.target->truncate() || !out.target->write(records) ||
      !out.target->flush()) {
    return false;
  }
  // A device answers the sync with EINVAL: only a regular file's sync counts.
  if (!out.target->sync() && out.target->info().regular) return false;
  file_system.remove(out.staging_path);
  out.staging_path.clear();
  return true;
}

void export_discard(ExportFile& out) {
  out.file.reset();  // closed without checking: the run is given up anyway
  if (!out.staging_path.empty()) {
    out.file_system->remove(out.staging_path);
    out.staging_path.clear();
  }
}

void export_release(ExportFile& out) { out.target.reset(); }

}  // namespace zarvelt
