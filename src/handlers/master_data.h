// The master data a run looks up, kept for the run: each badge on each date, each function code
// of each client schema and each zone key is asked of the database once, and the session schema
// is switched only when a lookup in a client schema must go to the database. Across a network
// every statement is a round trip; a terminal's file asks the same few keys again and again.
// Where the backend sends statements together, the transfer reads a few hundred lines ahead
// and asks for their keys at once (the read-ahead's bounds: driver/transfer_loop.cc). Master data
// is as of that first asking; what others change while a run goes on is seen by the next run. A run
// that meets more keys than it keeps forgets them and asks again, so that its memory stays bounded.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/session.h"

namespace zarvelt {

class MasterData {
 public:
  explicit MasterData(db::Session& session) : session_(session) {}

  struct Badge {
    std::int32_t status = db::kSuccess;  // of the lookup: 0 or kNullFetched when found
    std::string personnel_number;
    std::string client_schema;
  };
  // The personnel number and client schema of a badge on a date (yyyymmdd).
  const Badge& badge(const std::string& badge, const std::string& date);

  // Asks the database at once for those of the badges on their dates (badge, date) that are
  // not known yet, so that a run reading ahead pays one round trip for many bookings.
  void prefetch_badges(const std::vector<std::pair<std::string, std::string>>& keys);
  // The badge as known already, without asking; null when it is not.
  const Badge* known_badge(const std::string& badge, const std::string& date) const {
    const auto found = badges_.find(std::make_pair(badge, date));
    return found == badges_.end() ? nullptr : &found->second;
  }
  // The same for the function codes that time bookings will ask for, (client schema, code) in
  // the order of their lines, and for zone keys. A schema that cannot be switched to, and
  // the empty schema after a switch, are left to function_code().
  void prefetch_function_codes(const std::vector<std::pair<std::string, std::string>>& keys);
  void prefetch_zones(const std::vector<std::string>& zone_keys);

  struct FunctionCode {
    std::int32_t switch_status = db::kSuccess;     // of the switch to the client schema
    std::int32_t type_status = db::kSuccess;       // of the booking type lookup
    std::string booking_type;                      // decimal; empty when none was found
    std::int32_t translation_status = db::kNoRow;  // looked up only for a booking type found
    std::string new_code;                          // the replacement, when one was found
  };
  // The booking type and the replacement of a function code for a time booking of a client
  // schema, as a run handling one booking after the other gets them: a client schema other
  // than the current one is switched to (a failed switch leaves the type and translation
  // statuses as they are: not looked up), and the codes are read in the current schema, or,
  // before any successful switch, where connecting put the session. The current schema is
  // the handlers' record, in line order; the read-ahead may move the session as it likes.
  const FunctionCode& function_code(const std::string& client_schema, const std::string& code);

  // The zone number of a zone key; its lookup's status.
  std::int32_t zone(const std::string& zone_key, std::int32_t& zone_number);

 private:
  // Keys kept at most of each kind (badges on dates, function codes of schemas, zone keys);
  // beyond, the kept ones are forgotten and asked again, so that a file of a million distinct
  // keys runs in the memory of an ordinary one.
  static constexpr std::size_t kMaxKept = 16384;
  template <typename Map>
  static void bound(Map& kept) {
    if (kept.size() >= kMaxKept) kept.clear();
  }

  // Only what the database said about its data is kept; a status that concerns the session
  // or the run is asked again (and ends the run anyway).
  static bool keeps(std::int32_t status) {
    return db::status_scope(status) == db::StatusScope::kBooking;
  }
  // A client schema without the tables of function codes has none of them.
  static bool keeps_code(std::int32_t status) {
    return keeps(status) || status == db::kTableMissing;
  }

  // Puts the session into schema unless it stands there; the switch's status.
  std::int32_t stand_in(const std::string& schema);
  // Where the function codes of a booking are read while current is the current schema.
  std::string reading_schema(const std::string& current) const {
    return current.empty() ? db::home_schema(session_) : current;
  }

  // The caches are hashed: a terminal's file asks them for every booking, and two strings
  // hashed cost less than the compares down an ordered tree. Nothing iterates over them.
  struct PairHash {
    std::size_t operator()(const std::pair<std::string, std::string>& key) const {
      const std::size_t first = std::hash<std::string>{}(key.first);
      return first ^ (std::hash<std::string>{}(key.second) + 0x9e3779b97f4a7c15ULL + (first << 6) +
                      (first >> 2));
    }
  };
  template <typename Value>
  using PairMap = std::unordered_map<std::pair<std::string, std::string>, Value, PairHash>;

  db::Session& session_;
  // The client schema of the last successful switch of a time booking, in line order; empty:
  // none yet.
  std::string current_schema_;
  // Schemas switched to successfully in this run: a switch to them again succeeds as well.
  std::set<std::string> switchable_;
  PairMap<Badge> badges_;
  PairMap<FunctionCode> function_codes_;
  std::unordered_map<std::string, std::pair<std::int32_t, std::int32_t>> zones_;  // status, number
  FunctionCode uncached_;
  Badge uncached_badge_;
};

}  // namespace zarvelt
