// The run's master data: what is kept and what is asked, the current schema in line order, and
// the read-ahead of function codes along it.
#include "handlers/master_data.h"

#include <map>

namespace zarvelt {

namespace {

// Only what the database said about its data is kept; a status that concerns the session or
// the run is asked again (and ends the run anyway).
bool keeps(std::int32_t status) { return db::status_scope(status) == db::StatusScope::kBooking; }
// A client schema without the tables of function codes has none of them.
bool keeps_code(std::int32_t status) { return keeps(status) || status == db::kTableMissing; }

}  // namespace

std::vector<MasterData::Badge> SessionMasterData::badges(std::span<const db::BadgeKey> keys) {
  return badges_.answers(
      keys,
      [this](std::span<const db::BadgeKey> missing) {
        std::vector<Badge> answers;
        db::lookup_badges(session_, missing, answers);
        return answers;
      },
      [](const Badge& badge) { return keeps(badge.status); });
}

std::vector<MasterData::Zone> SessionMasterData::zones(std::span<const std::string> zone_keys) {
  return zones_.answers(
      zone_keys,
      [this](std::span<const std::string> missing) {
        std::vector<Zone> answers;
        db::lookup_zones(session_, missing, answers);
        return answers;
      },
      [](const Zone& zone) { return keeps(zone.status); });
}

std::int32_t SessionMasterData::stand_in(const std::string& schema) {
  if (db::session_schema(session_) == schema) return db::kSuccess;
  const std::int32_t status = db::switch_schema(session_, schema);
  if (status == db::kSuccess) switchable_.insert(schema);
  return status;
}

std::vector<MasterData::FunctionCode> SessionMasterData::codes_in(
    const std::string& schema, std::span<const StringPair> keys) {
  return codes_.answers(
      keys,
      [this, &schema](std::span<const StringPair> missing) {
        // The session may stand elsewhere after reading ahead.
        FunctionCode entry;
        entry.switch_status = stand_in(schema);
        std::vector<FunctionCode> found(missing.size(), entry);
        if (entry.switch_status != db::kSuccess) return found;
        std::vector<std::string> asked;
        for (const StringPair& key : missing) asked.push_back(key.second);
        std::vector<db::TextAnswer> types;
        db::lookup_booking_types(session_, asked, types);
        // The function code is translated only for a booking type that exists.
        std::vector<std::string> typed;
        for (std::size_t i = 0; i < asked.size(); ++i) {
          if (types[i].status == db::kSuccess) typed.push_back(asked[i]);
        }
        std::vector<db::TextAnswer> translations;
        if (!typed.empty()) db::translate_function_codes(session_, typed, translations);
        for (std::size_t i = 0, t = 0; i < asked.size(); ++i) {
          found[i].type_status = types[i].status;
          if (types[i].status != db::kSuccess) continue;
          found[i].booking_type = std::move(types[i].text);
          found[i].translation_status = translations[t].status;
          found[i].new_code = std::move(translations[t].text);
          ++t;
        }
        return found;
      },
      [](const FunctionCode& code) {
        return code.switch_status == db::kSuccess && keeps_code(code.type_status) &&
               keeps_code(code.translation_status);
      });
}

MasterData::FunctionCode SessionMasterData::function_code(const std::string& client_schema,
                                                          const std::string& code) {
  if (client_schema != current_schema_) {
    // The switch a booking of another client needs; one that succeeded in this run succeeds
    // again, and one that failed is tried again by the next booking that needs it.
    if (!switchable_.contains(client_schema)) {
      FunctionCode refused;
      refused.switch_status = stand_in(client_schema);
      if (refused.switch_status != db::kSuccess) return refused;
    }
    current_schema_ = client_schema;
  }
  const std::string schema = reading_schema(current_schema_);
  const StringPair key[] = {{schema, code}};
  if (const FunctionCode* kept = codes_.kept(key[0])) return *kept;
  return std::move(codes_in(schema, key).front());
}

void SessionMasterData::read_ahead_function_codes(std::span<const CodeKey> keys) {
  // Where each booking will read its code, following the current schema along the lines as
  // function_code() will (a switch taken to succeed; where it fails, nothing is lost but the
  // round trip).
  std::map<std::string, std::set<std::string>> missing;  // by the schema they are read in
  std::string current = current_schema_;
  for (const CodeKey& key : keys) {
    if (key.client_schema != current) {
      if (key.client_schema.empty()) continue;  // the empty name is refused
      current = key.client_schema;
    }
    const std::string schema = reading_schema(current);
    if (!codes_.contains({schema, key.code})) missing[schema].insert(key.code);
  }
  const auto ask = [this](const std::string& schema, const std::set<std::string>& codes) {
    std::vector<StringPair> keys;
    for (const std::string& code : codes) keys.emplace_back(schema, code);
    codes_in(schema, keys);
  };
  // The session's schema first: it needs no switch.
  const std::string standing = db::session_schema(session_);
  if (const auto here = missing.find(standing); here != missing.end()) ask(standing, here->second);
  for (const auto& [schema, codes] : missing) {
    if (schema != standing) ask(schema, codes);
  }
}

}  // namespace zarvelt
