// The master data a run looks up: badges on dates, the function codes of client schemas and zone
// keys. The handlers see the interface; the run's is SessionMasterData, which keeps what it was
// told for the run: each key is asked of the database once, and the session schema is switched
// only when a lookup in a client schema must go to the database. Across a network every
// statement is a round trip, and a terminal's file asks the same few keys again and again; where
// the backend sends statements together, the transfer reads a few hundred lines ahead and asks
// for their keys at once (the read-ahead's bounds: driver/transfer_loop.cc). Master data is as
// of that first asking; what others change while a run goes on is seen by the next run. A run
// that meets more keys than it keeps forgets them and asks again, so that its memory stays
// bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/session.h"
#include "db/statements.h"

namespace zarvelt {

class MasterData {
 public:
  // A badge's personnel number and client schema, and the lookup's status (0 or kNullFetched
  // when found).
  using Badge = db::BadgeAnswer;
  static bool found(const Badge& badge) {
    return badge.status == db::kSuccess || badge.status == db::kNullFetched;
  }
  struct FunctionCode {
    std::int32_t switch_status = db::kSuccess;     // of the switch to the client schema
    std::int32_t type_status = db::kSuccess;       // of the booking type lookup
    std::string booking_type;                      // decimal; empty when none was found
    std::int32_t translation_status = db::kNoRow;  // looked up only for a booking type found
    std::string new_code;                          // the replacement, when one was found
  };
  // A zone key's zone number (0 unless its lookup's status is 0).
  using Zone = db::ZoneAnswer;
  // A function code of a time booking of a client schema.
  struct CodeKey {
    std::string client_schema;
    std::string code;
  };

  virtual ~MasterData() = default;

  // True where asking for many keys at once costs fewer round trips than one by one: the
  // handlers then ask for the keys of the lines read ahead before they handle them.
  virtual bool reads_ahead() const = 0;

  // The personnel number and client schema of each badge on its date (yyyymmdd), in the
  // order of keys; one key is a read-ahead of one.
  virtual std::vector<Badge> badges(std::span<const db::BadgeKey> keys) = 0;
  // The zone number of each zone key, in order.
  virtual std::vector<Zone> zones(std::span<const std::string> zone_keys) = 0;

  // The booking type and the replacement of a function code for a time booking of a client
  // schema, as a run handling one booking after the other gets them: a client schema other
  // than the current one is switched to (a failed switch leaves the type and translation
  // statuses as they are: not looked up), and the codes are read in the current schema, or,
  // before any successful switch, where connecting put the session. The current schema is the
  // time bookings' record, in line order.
  virtual FunctionCode function_code(const std::string& client_schema, const std::string& code) = 0;
  // Asks at once for the function codes that time bookings will ask for, in the order of their
  // lines, following the current schema along them as function_code() will, without moving it.
  virtual void read_ahead_function_codes(std::span<const CodeKey> keys) = 0;

  // One key: a read-ahead of one key.
  virtual Badge badge(const std::string& badge, const std::string& date) {
    const db::BadgeKey key[] = {{badge, date}};
    return std::move(badges(key).front());
  }
  virtual Zone zone(const std::string& zone_key) {
    const std::string key[] = {zone_key};
    return zones(key).front();
  }
};

// Answers kept for a run by key: the one path of every lookup, of one key or of many: the keys
// not kept are asked at once, each once, and what keep() accepts of their answers is kept. At
// most kMaxKept are kept; beyond, the kept ones are forgotten and asked again, so that a file of
// a million distinct keys runs in the memory of an ordinary one.
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class KeptAnswers {
 public:
  static constexpr std::size_t kMaxKept = 16384;

  // ask(missing keys) gives their answers in the same order; keep(answer) says which to keep.
  template <typename Ask, typename Keep>
  std::vector<Value> answers(std::span<const Key> keys, Ask&& ask, Keep&& keep) {
    std::vector<Value> found(keys.size());
    std::vector<Key> missing;
    std::vector<std::size_t> from(keys.size(), kKept);  // its place among the missing
    std::unordered_map<Key, std::size_t, Hash> places;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (const auto kept = kept_.find(keys[i]); kept != kept_.end()) {
        found[i] = kept->second;
        continue;
      }
      const auto [place, added] = places.try_emplace(keys[i], missing.size());
      if (added) missing.push_back(keys[i]);
      from[i] = place->second;
    }
    if (missing.empty()) return found;
    std::vector<Value> asked = ask(std::span<const Key>(missing));
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (from[i] != kKept) found[i] = asked[from[i]];
    }
    for (std::size_t j = 0; j < missing.size(); ++j) {
      if (!keep(asked[j])) continue;
      if (kept_.size() >= kMaxKept) kept_.clear();
      kept_.emplace(std::move(missing[j]), std::move(asked[j]));
    }
    return found;
  }

  bool contains(const Key& key) const { return kept_.contains(key); }
  // The answer kept for key, null when there is none (the lookup of every booking: mostly kept).
  const Value* kept(const Key& key) const {
    const auto found = kept_.find(key);
    return found == kept_.end() ? nullptr : &found->second;
  }

 private:
  static constexpr std::size_t kKept = static_cast<std::size_t>(-1);
  // Hashed: a terminal's file asks for every booking, and two strings hashed cost less than
  // the compares down an ordered tree. Nothing iterates over them.
  std::unordered_map<Key, Value, Hash> kept_;
};

// The run's master data, over its session.
class SessionMasterData final : public MasterData {
 public:
  // reads_ahead: the run asks for the keys of lines read ahead at once.
  SessionMasterData(db::Session& session, bool reads_ahead)
      : session_(session), reads_ahead_(reads_ahead) {}

  bool reads_ahead() const override { return reads_ahead_; }
  std::vector<Badge> badges(std::span<const db::BadgeKey> keys) override;
  std::vector<Zone> zones(std::span<const std::string> zone_keys) override;
  Badge badge(const std::string& badge, const std::string& date) override {
    const Badge* kept = badges_.kept({badge, date});
    return kept != nullptr ? *kept : MasterData::badge(badge, date);
  }
  Zone zone(const std::string& zone_key) override {
    const Zone* kept = zones_.kept(zone_key);
    return kept != nullptr ? *kept : MasterData::zone(zone_key);
  }
  FunctionCode function_code(const std::string& client_schema, const std::string& code) override;
  void read_ahead_function_codes(std::span<const CodeKey> keys) override;

 private:
  using StringPair = std::pair<std::string, std::string>;
  static std::size_t hash_of(const std::string& first, const std::string& second) {
    const std::size_t hash = std::hash<std::string>{}(first);
    return hash ^
           (std::hash<std::string>{}(second) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2));
  }
  struct PairHash {
    std::size_t operator()(const StringPair& key) const { return hash_of(key.first, key.second); }
    std::size_t operator()(const db::BadgeKey& key) const { return hash_of(key.badge, key.date); }
  };

  // The codes (each a reading schema and a code), asked where not kept: the session put into
  // schema, where they are all read, first.
  std::vector<FunctionCode> codes_in(const std::string& schema, std::span<const StringPair> keys);
  // Puts the session into schema unless it stands there; the switch's status.
  std::int32_t stand_in(const std::string& schema);
  // Where the function codes of a booking are read while current is the current schema.
  std::string reading_schema(const std::string& current) const {
    return current.empty() ? db::home_schema(session_) : current;
  }

  db::Session& session_;
  bool reads_ahead_;
  // The client schema of the last successful switch of a time booking, in line order; empty:
  // none yet.
  std::string current_schema_;
  // Schemas switched to successfully in this run: a switch to them again succeeds as well.
  std::set<std::string> switchable_;
  KeptAnswers<db::BadgeKey, Badge, PairHash> badges_;      // by badge and date
  KeptAnswers<StringPair, FunctionCode, PairHash> codes_;  // by reading schema and code
  KeptAnswers<std::string, Zone> zones_;
};

}  // namespace zarvelt
