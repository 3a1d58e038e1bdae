#include "handlers/export_file.h"

namespace zarvelt {

bool export_open(ExportFile& out, const std::string& path) {
  return export_open(out, path, real_file_system());
}

bool export_open(ExportFile& out, const std::string& path, FileSystem& file_system) {
  out.file_system = &file_system;
  out.path = path;
  out.staging_path.clear();
  out.failed = false;
  out.file = file_system.open(path, OpenMode::kWrite);
  return out.file != nullptr;
}

bool export_open_staged(ExportFile& out, const std::string& path, std::string_view staging_suffix) {
  return export_open_staged(out, path, staging_suffix, real_file_system());
}

bool export_open_staged(ExportFile& out, const std::string& path, std::string_view staging_suffix,
                        FileSystem& file_system) {
  out.file_system = &file_system;
  out.path = path;
  out.staging_path.clear();
  out.failed = false;
  out.file.reset();
  // The target is created or emptied at once, so that a failed run leaves it empty.
  std::unique_ptr<File> target = file_system.open(path, OpenMode::kWrite);
  if (target == nullptr) return false;
  if (!target->close()) return false;
  out.staging_path = path + std::string(staging_suffix);
  out.file = file_system.open(out.staging_path, OpenMode::kWrite);
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
  if (!out.file_system->replace(out.staging_path, out.path)) return false;
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

}  // namespace zarvelt
