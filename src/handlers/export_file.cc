#include "handlers/export_file.h"

#include "log/file_replace.h"

namespace zarvelt {

bool export_open(ExportFile& out, const std::string& path) {
  out.path = path;
  out.staging_path.clear();
  out.failed = false;
  out.file = std::fopen(path.c_str(), "wb");
  return out.file != nullptr;
}

bool export_open_staged(ExportFile& out, const std::string& path, std::string_view staging_suffix) {
  out.path = path;
  out.staging_path.clear();
  out.failed = false;
  out.file = nullptr;
  // The target is created or emptied at once, so that a failed run leaves it empty.
  std::FILE* target = std::fopen(path.c_str(), "wb");
  if (target == nullptr) return false;
  if (std::fclose(target) != 0) return false;
  out.staging_path = path + std::string(staging_suffix);
  out.file = std::fopen(out.staging_path.c_str(), "wb");
  if (out.file == nullptr) {
    out.staging_path.clear();
    return false;
  }
  return true;
}

bool export_write(ExportFile& out, std::string_view bytes) {
  if (out.file == nullptr) {
    out.failed = true;
    return false;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.file) != bytes.size()) {
    out.failed = true;
  }
  return !out.failed;
}

bool export_close(ExportFile& out) {
  if (out.file == nullptr) return !out.failed;
  if (std::fflush(out.file) != 0) out.failed = true;
  if (std::fclose(out.file) != 0) out.failed = true;
  out.file = nullptr;
  return !out.failed;
}

bool export_finish(ExportFile& out) {
  if (out.file != nullptr && !flush_to_disk(out.file)) out.failed = true;
  return export_close(out);
}

bool export_publish(ExportFile& out) {
  if (out.staging_path.empty()) return !out.failed;
  if (out.file != nullptr || out.failed) return false;
  if (!replace_file(out.staging_path, out.path)) return false;
  out.staging_path.clear();
  return true;
}

void export_discard(ExportFile& out) {
  if (out.file != nullptr) {
    std::fclose(out.file);
    out.file = nullptr;
  }
  if (!out.staging_path.empty()) {
    std::remove(out.staging_path.c_str());
    out.staging_path.clear();
  }
}

}  // namespace zarvelt
