// Placeholder until the client layer lands.
#include "db/zarvelt_sql.h"

namespace zarvelt::db {

std::int32_t lookup_badge(Session&, std::string_view, std::string_view, std::string&,
                          std::string&) {
  return kNotConnected;
}
std::int32_t lookup_booking_type(Session&, std::string_view, std::string&) { return kNotConnected; }
std::int32_t translate_function_code(Session&, std::string_view, std::string&) {
  return kNotConnected;
}
std::int32_t lookup_zone(Session&, std::string_view, std::int32_t& zone_number) {
  zone_number = 0;
  return kNotConnected;
}
std::int32_t insert_access_record(Session&, const AccessRecord&) { return kNotConnected; }
std::int32_t insert_event_record(Session&, const EventRecord&) { return kNotConnected; }

}  // namespace zarvelt::db
