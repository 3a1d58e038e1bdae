#include "log/transfer_log.h"

#include <cstdio>
#include <filesystem>

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
    // One backup generation: the previous backup goes, the full log takes its place, and the
    // next line starts a new log. Failures leave the log in place; the next write retries.
    const std::string backup = log_backup_path(log_path);
    std::remove(backup.c_str());
    std::rename(log_path.c_str(), backup.c_str());
  }
}

}  // namespace zarvelt
