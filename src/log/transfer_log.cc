// Appending a line to the transfer log, with its rotation into the backup.
#include "log/transfer_log.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace zarvelt {

std::string log_backup_path(const std::string& log_path) {
  const std::filesystem::path log(log_path);
  std::filesystem::path backup = log.parent_path();
  backup /= log.stem().string() + "_bak" + log.extension().string();
  return backup.string();
}

void write_log(const std::string& log_path, std::string_view text) {
  write_log(real_file_system(), log_path, text);
}

void write_log(FileSystem& file_system, const std::string& log_path, std::string_view text) {
  // Text mode, so that the line end is stored as the platform writes text files; the size
  // limit counts the bytes as stored.
  std::unique_ptr<File> log = file_system.open(log_path, OpenMode::kAppendText);
  if (log == nullptr) return;
  std::string line(text);
  line += '\n';
  log->write(line);
  // In append mode the file's size after the write includes the line just written.
  const std::optional<std::uint64_t> size = log->size();
  log->close();
  if (size && *size > kTransferLogLimit) {
    // One backup generation: the full log takes the previous backup's place in one move, and
    // the next line starts a new log. A failed move leaves both the log and the previous
    // backup in place (deleting the backup first would lose it); the next write retries.
    file_system.replace(log_path, log_backup_path(log_path));
  }
}

}  // namespace zarvelt
