#include "handlers/event_insert.h"

namespace zarvelt {

std::int32_t insert_event(TransferState&, std::string_view, std::int32_t, std::string_view,
                          std::string_view, std::string_view, std::string_view, std::int32_t,
                          std::string_view) {
  return -3113;  // placeholder
}

}  // namespace zarvelt
