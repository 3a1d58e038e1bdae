// Placeholder until the reader lands.
#include "config/config_reader.h"

namespace zarvelt {

ConfigLookup read_config_value(std::string_view, std::string_view, std::int32_t,
                               const std::string&) {
  return {};
}

}  // namespace zarvelt
