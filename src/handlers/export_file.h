// An export file (target file 1 or 2) opened for binary writing. Every write, flush and close
// is checked and a failure is remembered, so that the driver can refuse to commit a run
// whose export did not reach the disk.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zarvelt {

struct ExportFile {
  std::string path;       // host path as given on the command line
  std::FILE* file = nullptr;
  bool failed = false;    // a write, flush or close went wrong
};

// Opens path for binary writing ("wb": created, or emptied). Returns false when it cannot.
bool export_open(ExportFile& out, const std::string& path);

// Writes the bytes; a short or failed write marks the file failed. Returns !failed.
bool export_write(ExportFile& out, std::string_view bytes);

// Flushes and closes the file (if open). Returns true when every write, the flush and the
// close succeeded.
bool export_close(ExportFile& out);

}  // namespace zarvelt
