// The reject file and its reasons file, created exclusively at the first rejected line, and the
// console report of a check run.
#include "driver/reject_file.h"

namespace zarvelt {

namespace {

std::string reason_line(std::int64_t line_number, std::string_view reason) {
  return "Zeile " + std::to_string(line_number) + ": " + std::string(reason) + "\n";
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

RejectFile::RejectFile(std::string reject_path, const Reporter& reporter, FileSystem& file_system)
    : path_(std::move(reject_path)), reporter_(reporter), file_system_(file_system) {}

bool RejectFile::create() {
  if (created_ || failed_) return created_;
  // Created only where no file is yet, never through a link.
  lines_ = file_system_.open(path_, OpenMode::kCreateNewShared);
  if (lines_ != nullptr) {
    reasons_ = file_system_.open(reasons_file_path(path_), OpenMode::kCreateNewShared);
  }
  if (reasons_ == nullptr) {
    if (lines_ != nullptr) {
      lines_.reset();
      file_system_.remove(path_);
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
  const bool lines_written = lines_->write(bytes);
  const bool reasons_written = reasons_->write(reason_line(line_number, reason));
  if (!lines_written || !reasons_written || !lines_->flush() || !reasons_->flush()) {
    const std::string message = "Fehlerdatei " + path_ + " konnte nicht geschrieben werden";
    reporter_.log("\n\n" + message);
    reporter_.console(message + "\n");
  }
}

void RejectFile::discard() {
  if (!created_) return;
  lines_.reset();
  reasons_.reset();
  file_system_.remove(path_);
  file_system_.remove(reasons_file_path(path_));
  created_ = false;
}

void RejectReport::reject(std::int64_t line_number, std::string_view, std::string_view reason) {
  reporter_.console(reason_line(line_number, reason));
}

}  // namespace zarvelt
