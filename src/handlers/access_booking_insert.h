// Access booking insert: one row of KVSYSTEM.KVS402ZPK per access booking of the kinds "40p",
// "62p" and "dta", with the access status code the record kind calls for.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "db/statements.h"
#include "handlers/booking_handler.h"
#include "handlers/master_data.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// The access protocol's row: terminal, reader number, the booking's day and moment (converted
// from yyyymmdd and yyyymmddhhmiss), badge (NULL when empty), access status code, ZpkFcd and
// ZpkMld NULL, the server's time of the insert, running number.
extern const db::InsertStatement kAccessInsert;

// The access bookings' handler: the row built from the line (the zone of a "62p" looked up in
// the run's master data, the zones of the lines read ahead asked for at once), and what its
// insert's status makes of the booking.
class AccessBookingHandler final : public BookingHandler {
 public:
  void prefetch(RunContext& run, const std::vector<const BookingLine*>& lines) const override;
  // kWaiting with the row; kSessionLost or kRunMustEnd when the zone lookup failed for the
  // session's or the database's sake.
  HandlerResult handle(RunContext& run, const Reporter& reporter,
                       const BookingLine& line) const override;
  // kDone when the row is stored (status 0) or was stored already (-1). Any other failure is
  // printed as " Insert in Kvs402Zpk fehlgeschlagen, Fehler %d\n" in every mode; it fails the
  // booking, or ends the run when the status concerns the run's writes as such (a read-only
  // database, for example).
  HandlerResult answered(const Reporter& reporter, std::int32_t status) const override;
};

// The access status code of a "40p" booking from its access result (field 11): by its first
// character '1' 100, '9' 204, 'B' or 'Z' 202, 'S' 203, 'U' 201, anything else 200.
std::int32_t access_status_code_for_result(std::string_view access_result);

}  // namespace zarvelt
