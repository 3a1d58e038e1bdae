#include "handlers/master_data.h"

#include <set>

#include "db/statements.h"

namespace zarvelt {

const MasterData::Badge& MasterData::badge(const std::string& badge, const std::string& date) {
  const auto key = std::make_pair(badge, date);
  if (const auto found = badges_.find(key); found != badges_.end()) return found->second;
  Badge entry;
  entry.status =
      db::lookup_badge(session_, badge, date, entry.personnel_number, entry.client_schema);
  if (!keeps(entry.status)) {
    uncached_badge_ = std::move(entry);
    return uncached_badge_;
  }
  return badges_.emplace(key, std::move(entry)).first->second;
}

void MasterData::prefetch_badges(const std::vector<std::pair<std::string, std::string>>& keys) {
  std::vector<db::BadgeKey> missing;
  std::set<std::pair<std::string, std::string>> asked;
  for (const auto& key : keys) {
    if (badges_.contains(key) || !asked.insert(key).second) continue;
    missing.push_back({key.first, key.second});
  }
  if (missing.empty()) return;
  std::vector<db::BadgeAnswer> answers;
  db::lookup_badges(session_, missing, answers);
  for (std::size_t i = 0; i < missing.size() && i < answers.size(); ++i) {
    // What is not kept is asked again when a booking needs it.
    if (!keeps(answers[i].status)) continue;
    badges_.emplace(std::make_pair(missing[i].badge, missing[i].date),
                    Badge{answers[i].status, std::move(answers[i].personnel_number),
                          std::move(answers[i].client_schema)});
  }
}

const MasterData::FunctionCode& MasterData::function_code(const std::string& client_schema,
                                                          const std::string& code) {
  const auto key = std::make_pair(client_schema, code);
  // A badge without a client schema is looked up wherever the session is; once the session was
  // switched, the empty name is switched to like any other (and refused).
  const bool depends_on_session = client_schema.empty() && !session_schema_.empty();
  if (const auto found = function_codes_.find(key);
      found != function_codes_.end() && !depends_on_session) {
    return found->second;
  }
  FunctionCode entry;
  if (client_schema != session_schema_) {
    entry.switch_status = db::switch_schema(session_, client_schema);
    // A schema that cannot be switched to is tried again by the next booking that needs it.
    if (entry.switch_status != db::kSuccess) {
      uncached_ = std::move(entry);
      return uncached_;
    }
    session_schema_ = client_schema;
  }
  entry.type_status = db::lookup_booking_type(session_, code, entry.booking_type);
  // The function code is translated only for a booking type that exists.
  if (!entry.booking_type.empty()) {
    entry.translation_status = db::translate_function_code(session_, code, entry.new_code);
  }
  if (!keeps(entry.type_status) || !keeps(entry.translation_status)) {
    uncached_ = std::move(entry);
    return uncached_;
  }
  return function_codes_.emplace(key, std::move(entry)).first->second;
}

std::int32_t MasterData::zone(const std::string& zone_key, std::int32_t& zone_number) {
  if (const auto found = zones_.find(zone_key); found != zones_.end()) {
    zone_number = found->second.second;
    return found->second.first;
  }
  std::int32_t number = 0;
  const std::int32_t status = db::lookup_zone(session_, zone_key, number);
  if (keeps(status)) zones_.emplace(zone_key, std::make_pair(status, number));
  zone_number = number;
  return status;
}

}  // namespace zarvelt
