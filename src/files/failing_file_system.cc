// The failing test file system: calls passed on, and the chosen ones failed with the chosen error.
#include "files/failing_file_system.h"

#include <cerrno>

namespace zarvelt {

namespace {

class FailingFile final : public File {
 public:
  FailingFile(FailingFileSystem& owner, std::string path, std::unique_ptr<File> next)
      : owner_(owner), path_(std::move(path)), next_(std::move(next)) {}

  bool write(std::string_view bytes) override {
    const FileFault* fault = nullptr;
    if (owner_.should_fail(FileOp::kWrite, path_, &fault)) {
      if (fault->short_write) next_->write(bytes.substr(0, bytes.size() / 2));
      errno = ENOSPC;
      return false;
    }
    return next_->write(bytes);
  }
  bool flush() override {
    const bool flushed = next_->flush();
    return !owner_.should_fail(FileOp::kFlush, path_) && flushed;
  }
  bool sync() override {
    const bool synced = next_->sync();
    return !owner_.should_fail(FileOp::kSync, path_) && synced;
  }
  bool close() override {
    // A failing close still closes, as a real one that fails at its flush does.
    const bool closed = next_->close();
    return !owner_.should_fail(FileOp::kClose, path_) && closed;
  }
  std::optional<std::uint64_t> size() override { return next_->size(); }
  FileInfo info() override { return next_->info(); }
  bool truncate() override {
    if (owner_.should_fail(FileOp::kWrite, path_)) return false;
    return next_->truncate();
  }
  LockResult try_lock() override {
    const FileFault* fault = nullptr;
    if (owner_.should_fail(FileOp::kLock, path_, &fault)) return fault->lock;
    return next_->try_lock();
  }
  bool set_owner_and_mode(const FileInfo& like) override { return next_->set_owner_and_mode(like); }

 private:
  FailingFileSystem& owner_;
  std::string path_;
  std::unique_ptr<File> next_;
};

}  // namespace

int FailingFileSystem::calls(FileOp op, const std::string& path_part) const {
  int count = 0;
  for (const Call& call : calls_) {
    if (call.op == op && call.path.find(path_part) != std::string::npos) ++count;
  }
  return count;
}

bool FailingFileSystem::should_fail(FileOp op, const std::string& path, const FileFault** which) {
  calls_.push_back({op, path});
  for (Armed& armed : faults_) {
    if (armed.fault.op != op || path.find(armed.fault.path_part) == std::string::npos) continue;
    const int index = armed.seen++;
    if (index < armed.fault.after) continue;
    if (armed.fault.times >= 0 && index >= armed.fault.after + armed.fault.times) continue;
    if (which != nullptr) *which = &armed.fault;
    return true;
  }
  return false;
}

std::unique_ptr<File> FailingFileSystem::open(const std::string& path, OpenMode mode) {
  if (should_fail(FileOp::kOpen, path)) {
    errno = EACCES;
    return nullptr;
  }
  std::unique_ptr<File> file = next_.open(path, mode);
  if (file == nullptr) return nullptr;
  return std::make_unique<FailingFile>(*this, path, std::move(file));
}

std::unique_ptr<InputFile> FailingFileSystem::open_input(const std::string& path) {
  if (should_fail(FileOp::kOpen, path)) {
    errno = EACCES;
    return nullptr;
  }
  return next_.open_input(path);
}

ReadResult FailingFileSystem::read_file(const std::string& path, bool text, std::string& contents) {
  if (should_fail(FileOp::kRead, path)) {
    contents.clear();
    return ReadResult::kError;
  }
  return next_.read_file(path, text, contents);
}

bool FailingFileSystem::replace(const std::string& from, const std::string& to) {
  if (should_fail(FileOp::kReplace, from)) return false;
  return next_.replace(from, to);
}

bool FailingFileSystem::remove(const std::string& path) {
  if (should_fail(FileOp::kRemove, path)) return false;
  return next_.remove(path);
}

bool FailingFileSystem::sync_directory(const std::string& directory) {
  if (should_fail(FileOp::kSync, directory)) return false;
  return next_.sync_directory(directory);
}

}  // namespace zarvelt
