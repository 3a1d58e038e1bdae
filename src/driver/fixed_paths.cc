// The fixed relative paths mapped to the host's separators.
#include "driver/fixed_paths.h"

namespace zarvelt {

std::string host_path(std::string_view windows_path) {
  std::string path(windows_path);
#ifndef _WIN32
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
#endif
  return path;
}

}  // namespace zarvelt
