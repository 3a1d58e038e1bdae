// A FileSystem for tests that fails on demand: it passes every call to another file system (the
// real one by default) and makes chosen calls on chosen paths fail, as a full disk, a broken
// device, a missing file or another run holding a lock would. In-process, on every platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "files/file_system.h"

namespace zarvelt {

enum class FileOp { kOpen, kRead, kWrite, kFlush, kSync, kClose, kReplace, kRemove, kLock };

struct FileFault {
  FileOp op;
  // The call fails only for paths that contain this ("" = any): the file's path as opened, the
  // path read or removed, the source of a move (kReplace), the directory synced (kSync).
  std::string path_part;
  int after = 0;                        // this many matching calls succeed first
  int times = -1;                       // then this many fail (-1: every later one)
  bool short_write = false;             // kWrite: write the first half of the bytes, then fail
  LockResult lock = LockResult::kBusy;  // kLock: what the failing lock answers
};

class FailingFileSystem final : public FileSystem {
 public:
  explicit FailingFileSystem(FileSystem& next = real_file_system()) : next_(next) {}

  void fail(FileFault fault) { faults_.push_back({std::move(fault), 0}); }
  void fail(FileOp op, std::string path_part, int after = 0) {
    fail(FileFault{op, std::move(path_part), after});
  }
  void clear() { faults_.clear(); }
  // How many calls of op on matching paths were made (failed or not).
  int calls(FileOp op, const std::string& path_part = "") const;

  // True when this call of op on path is to fail; counts the call.
  bool should_fail(FileOp op, const std::string& path, const FileFault** which = nullptr);

  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override;
  std::unique_ptr<InputFile> open_input(const std::string& path) override;
  ReadResult read_file(const std::string& path, bool text, std::string& contents) override;
  bool replace(const std::string& from, const std::string& to) override;
  bool remove(const std::string& path) override;
  FileInfo info(const std::string& path) override { return next_.info(path); }
  std::optional<std::uint64_t> file_size(const std::string& path) override {
    return next_.file_size(path);
  }
  bool is_link(const std::string& path) override { return next_.is_link(path); }
  bool sync_directory(const std::string& directory) override;
  std::string real_path(const std::string& path) override { return next_.real_path(path); }
  std::string temp_directory() override {
    return temp_directory_.empty() ? next_.temp_directory() : temp_directory_;
  }
  // Puts the temporary directory elsewhere (empty: the next file system's).
  void set_temp_directory(std::string directory) { temp_directory_ = std::move(directory); }
  std::uint64_t process_id() override { return next_.process_id(); }

 private:
  struct Armed {
    FileFault fault;
    int seen = 0;
  };
  struct Call {
    FileOp op;
    std::string path;
  };
  FileSystem& next_;
  std::vector<Armed> faults_;
  std::vector<Call> calls_;
  std::string temp_directory_;
};

}  // namespace zarvelt
