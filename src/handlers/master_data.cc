// The run's master data: the caches, their bounds, the current schema in line order, and the
// read-ahead's lookups of many keys at once.
#include "handlers/master_data.h"

#include <map>
#include <set>

#include "db/statements.h"

namespace zarvelt {

const MasterData::Badge& MasterData::badge(const std::string& badge, const std::string& date) {
  const auto key = std::make_pair(badge, date);
  if (const auto found = badges_.find(key); found != badges_.end()) return found->second;
  bound(badges_);
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
  bound(badges_);
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

std::int32_t MasterData::stand_in(const std::string& schema) {
  if (db::session_schema(session_) == schema) return db::kSuccess;
  const std::int32_t status = db::switch_schema(session_, schema);
  if (status == db::kSuccess) switchable_.insert(schema);
  return status;
}

void MasterData::prefetch_function_codes(
    const std::vector<std::pair<std::string, std::string>>& keys) {
  if (!db::sends_together(session_)) return;
  // Where each booking will read its code, following the current schema along the lines as
  // function_code() will (a switch taken to succeed; where it fails, nothing is lost but the
  // round trip).
  std::map<std::string, std::set<std::string>> missing;  // by the schema they are read in
  std::string current = current_schema_;
  for (const auto& [client_schema, code] : keys) {
    if (client_schema != current) {
      if (client_schema.empty()) continue;  // the empty name is refused
      current = client_schema;
    }
    const std::string schema = reading_schema(current);
    if (!function_codes_.contains(std::make_pair(schema, code))) missing[schema].insert(code);
  }
  // The session's schema first: it needs no switch.
  std::vector<std::string> schemas;
  if (missing.contains(db::session_schema(session_))) {
    schemas.push_back(db::session_schema(session_));
  }
  for (const auto& [schema, codes] : missing) {
    if (schema != db::session_schema(session_)) schemas.push_back(schema);
  }
  for (const std::string& schema : schemas) {
    if (stand_in(schema) != db::kSuccess) continue;
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
      if (keeps_code(entry.type_status) && keeps_code(entry.translation_status)) {
        bound(function_codes_);
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
      bound(zones_);
      zones_.emplace(missing[i], std::make_pair(answers[i].status, answers[i].zone_number));
    }
  }
}

const MasterData::FunctionCode& MasterData::function_code(const std::string& client_schema,
                                                          const std::string& code) {
  if (client_schema != current_schema_) {
    // The switch a booking of another client needs; one that succeeded in this run succeeds
    // again, and one that failed is tried again by the next booking that needs it.
    if (!switchable_.contains(client_schema)) {
      FunctionCode refused;
      refused.switch_status = stand_in(client_schema);
      if (refused.switch_status != db::kSuccess) {
        uncached_ = std::move(refused);
        return uncached_;
      }
    }
    current_schema_ = client_schema;
  }
  const std::string schema = reading_schema(current_schema_);
  const auto key = std::make_pair(schema, code);
  if (const auto found = function_codes_.find(key); found != function_codes_.end()) {
    return found->second;
  }
  FunctionCode entry;
  // The session may stand elsewhere after reading ahead.
  entry.switch_status = stand_in(schema);
  if (entry.switch_status != db::kSuccess) {
    uncached_ = std::move(entry);
    return uncached_;
  }
  entry.type_status = db::lookup_booking_type(session_, code, entry.booking_type);
  // The function code is translated only for a booking type that exists.
  if (!entry.booking_type.empty()) {
    entry.translation_status = db::translate_function_code(session_, code, entry.new_code);
  }
  if (!keeps_code(entry.type_status) || !keeps_code(entry.translation_status)) {
    uncached_ = std::move(entry);
    return uncached_;
  }
  bound(function_codes_);
  return function_codes_.emplace(key, std::move(entry)).first->second;
}

std::int32_t MasterData::zone(const std::string& zone_key, std::int32_t& zone_number) {
  if (const auto found = zones_.find(zone_key); found != zones_.end()) {
    zone_number = found->second.second;
    return found->second.first;
  }
  std::int32_t number = 0;
  const std::int32_t status = db::lookup_zone(session_, zone_key, number);
  if (keeps(status)) {
    bound(zones_);
    zones_.emplace(zone_key, std::make_pair(status, number));
  }
  zone_number = number;
  return status;
}

}  // namespace zarvelt
