#include "log/transfer_log.h"

#include <cstdio>
#include <filesystem>

#include "log/file_replace.h"

namespace zarvelt {

std::string log_backup_path(const std::string& log_path) {
  const std::filesystem::path log(log_path);
  std::filesystem::path backup = log.parent_path();
  backup /= log.stem().string() + "_bak" + log.extension().string();
  return backup.string();
}

void write_log(const std::string& log_path, std::string_view text) {
  // Text mode, so that the line end is stored as the platform writes text files; the size
  // limit counts the bytes as stored.
  std::FILE* log = std::fopen(log_path.c_str(), "a");
  if (log == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), log);
  std::fputc('\n', log);
  // In append mode the position after the write is the file's size.
  const long size = std::ftell(log);
  std::fclose(log);
  if (size >= 0 && static_cast<std::uint64_t>(size) > kTransferLogLimit) {
    // One backup generation: the full log takes the previous backup's place in one move, and
    // the next line starts a new log. A failed move leaves both the log and the previous
    // backup in place (deleting the backup first would lose it); the next write retries.
    replace_file(log_path, log_backup_path(log_path));
  }
}

}  // namespace zarvelt
