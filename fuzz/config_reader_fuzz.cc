// Fuzz target: the configuration reader over arbitrary file contents. Each lookup opens and
// reads the file; none may crash, whatever the records, line lengths or hex values.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/config_reader.h"

namespace {

// One file per process, in a directory of its own that is removed at exit.
const std::string& config_path() {
  static const std::string path = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zarvelt-fuzz-config-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    static const std::string directory = pattern;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(directory, ignored);
    });
    return pattern + "/velmarion.ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(config_path().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  for (const char* key : {"LOGIN", "PASS", "NET8", ""}) {
    zarvelt::read_config_value("", key, 0, config_path());
  }
  zarvelt::read_config_value("DB", "", 0, config_path());
  zarvelt::read_config_value("", "", 2, config_path());
  return 0;
}
