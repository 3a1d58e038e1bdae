// The reject file and its reasons file, created exclusively at the first rejected line, and the
// console report of a check run.
#include "driver/reject_file.h"

#include <fcntl.h>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zarvelt {

namespace {

std::string reason_line(std::int64_t line_number, std::string_view reason) {
  return "Zeile " + std::to_string(line_number) + ": " + std::string(reason) + "\n";
}

// Opens path for writing only when no file is there yet, never through a link.
std::FILE* create_exclusively(const std::string& path) {
#ifdef _WIN32
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0644);
  return fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
  return fd < 0 ? nullptr : fdopen(fd, "wb");
#endif
}

}  // namespace

std::string reject_file_name(std::string_view terminal, std::string_view start_time, long pid) {
  std::string name = "ZarveltReject_";
  for (char c : terminal) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    name += kept ? c : '_';
  }
  name.append("_").append(start_time).append("_").append(std::to_string(pid)).append(".txt");
  return name;
}

std::string reasons_file_path(const std::string& reject_path) {
  const std::string stem =
      reject_path.ends_with(".txt") ? reject_path.substr(0, reject_path.size() - 4) : reject_path;
  return stem + "_Gruende.txt";
}

RejectFile::RejectFile(std::string reject_path, const Reporter& reporter)
    : path_(std::move(reject_path)), reporter_(reporter) {}

RejectFile::~RejectFile() {
  if (lines_ != nullptr) std::fclose(lines_);
  if (reasons_ != nullptr) std::fclose(reasons_);
}

bool RejectFile::create() {
  if (created_ || failed_) return created_;
  lines_ = create_exclusively(path_);
  reasons_ = lines_ == nullptr ? nullptr : create_exclusively(reasons_file_path(path_));
  if (reasons_ == nullptr) {
    if (lines_ != nullptr) {
      std::fclose(lines_);
      lines_ = nullptr;
      std::remove(path_.c_str());
    }
    failed_ = true;
    const std::string message =
        "Fehlerdatei " + path_ + " kann nicht erzeugt werden, die Gr\xFCnde stehen nur im Log";
    reporter_.log("\n\n" + message);
    reporter_.console(message + "\n");
    return false;
  }
  created_ = true;
  return true;
}

void RejectFile::reject(std::int64_t line_number, std::string_view bytes, std::string_view reason) {
  if (!create()) return;
  // Each line is flushed at once: a run that ends unexpectedly still leaves what it rejected.
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), lines_);
  const std::string text = reason_line(line_number, reason);
  std::fwrite(text.data(), 1, text.size(), reasons_);
  if (std::fflush(lines_) != 0 || std::fflush(reasons_) != 0) {
    const std::string message = "Fehlerdatei " + path_ + " konnte nicht geschrieben werden";
    reporter_.log("\n\n" + message);
    reporter_.console(message + "\n");
  }
}

void RejectFile::discard() {
  if (!created_) return;
  std::fclose(lines_);
  std::fclose(reasons_);
  lines_ = reasons_ = nullptr;
  std::remove(path_.c_str());
  std::remove(reasons_file_path(path_).c_str());
  created_ = false;
}

void RejectReport::reject(std::int64_t line_number, std::string_view, std::string_view reason) {
  reporter_.console(reason_line(line_number, reason));
}

}  // namespace zarvelt
