#include "handlers/master_data.h"

#include <set>

#include "db/statements.h"

namespace zarvelt {

const MasterData::Badge& MasterData::badge(const std::string& badge, const std::string& date) {
  const auto key = std::make_pair(badge, date);
  if (const auto found = badges_.find(key); found != badges_.end()) return found->second;
  if (badges_.size() > kMaxKeptBadges) badges_.clear();
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
  if (!db::sends_together(session_)) return;  // one by one when needed costs the same
  // A long run over many days meets more badges on more dates than it should keep: the
  // memory stays bounded, and what is forgotten is asked again when needed.
  if (badges_.size() > kMaxKeptBadges) badges_.clear();
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

void MasterData::prefetch_function_codes(
    const std::vector<std::pair<std::string, std::string>>& keys) {
  if (!db::sends_together(session_)) return;
  std::map<std::string, std::set<std::string>> missing;  // by client schema
  for (const auto& key : keys) {
    if (!key.first.empty() && !function_codes_.contains(key)) missing[key.first].insert(key.second);
  }
  // The session's schema first: it needs no switch.
  std::vector<std::string> schemas;
  if (missing.contains(session_schema_)) schemas.push_back(session_schema_);
  for (const auto& [schema, codes] : missing) {
    if (schema != session_schema_) schemas.push_back(schema);
  }
  for (const std::string& schema : schemas) {
    if (schema != session_schema_) {
      if (db::switch_schema(session_, schema) != db::kSuccess) continue;
      session_schema_ = schema;
    }
    const std::vector<std::string> codes(missing[schema].begin(), missing[schema].end());
    std::vector<db::TextAnswer> types;
    db::lookup_booking_types(session_, codes, types);
    // Translations are looked up only for codes with a booking type, as function_code() does.
    std::vector<std::string> typed;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (types[i].status == db::kSuccess) typed.push_back(codes[i]);
    }
    std::vector<db::TextAnswer> translations;
    db::translate_function_codes(session_, typed, translations);
    for (std::size_t i = 0, t = 0; i < codes.size(); ++i) {
      FunctionCode entry;
      entry.type_status = types[i].status;
      if (types[i].status == db::kSuccess) {
        entry.booking_type = types[i].text;
        entry.translation_status = translations[t].status;
        entry.new_code = translations[t].text;
        ++t;
      }
      if (keeps(entry.type_status) && keeps(entry.translation_status)) {
        function_codes_.emplace(std::make_pair(schema, codes[i]), std::move(entry));
      }
    }
  }
}

void MasterData::prefetch_zones(const std::vector<std::string>& zone_keys) {
  if (!db::sends_together(session_)) return;
  std::vector<std::string> missing;
  for (const std::string& key : std::set<std::string>(zone_keys.begin(), zone_keys.end())) {
    if (!zones_.contains(key)) missing.push_back(key);
  }
  if (missing.empty()) return;
  std::vector<db::ZoneAnswer> answers;
  db::lookup_zones(session_, missing, answers);
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (keeps(answers[i].status)) {
      zones_.emplace(missing[i], std::make_pair(answers[i].status, answers[i].zone_number));
    }
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
