// The file helpers of test_support.h, in standard C++ alone, so that the unit tests built for
// Windows have them too; running programs is in test_support.cc.
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace zarvelt::testing {

namespace fs = std::filesystem;

fs::path make_temp_dir() {
  static std::mutex mutex;
  static std::mt19937_64 random(std::random_device{}());
  const std::lock_guard<std::mutex> lock(mutex);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "zarvelt-test-%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    const fs::path candidate = fs::temp_directory_path() / name;
    // Created here and nowhere else: a name that exists is tried again.
    if (fs::create_directory(candidate)) {
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace);
      return candidate;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempInstallation::TempInstallation() : root_(make_temp_dir()) {
  fs::create_directories(files_dir());
  fs::create_directories(log_dir());
  fs::create_directories(working_dir());
}

TempInstallation::~TempInstallation() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void write_file(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::optional<std::string> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

CapturedConsole::CapturedConsole() : file_(std::tmpfile()) {
  if (file_ == nullptr) throw std::runtime_error("cannot open a temporary file");
}

CapturedConsole::~CapturedConsole() { std::fclose(file_); }

std::string CapturedConsole::text() {
  std::string written;
  std::fflush(file_);
  std::rewind(file_);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) {
    written.append(buffer, n);
  }
  std::fseek(file_, 0, SEEK_END);
  return written;
}

}  // namespace zarvelt::testing
