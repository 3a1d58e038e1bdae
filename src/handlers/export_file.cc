#include "handlers/export_file.h"

namespace zarvelt {

bool export_open(ExportFile& out, const std::string& path) {
  out.path = path;
  out.failed = false;
  out.file = std::fopen(path.c_str(), "wb");
  return out.file != nullptr;
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

}  // namespace zarvelt
