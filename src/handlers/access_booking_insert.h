// Access booking insert: one row of KVSYSTEM.KVS402ZPK per access booking of the kinds "40p",
// "62p" and "dta", with the access status code the record kind calls for.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "db/session.h"
#include "handlers/booking_handler.h"
#include "handlers/insert_queue.h"
#include "handlers/master_data.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// The access bookings' handler: the insert queued in the run's queue (the zone of a "62p"
// looked up in the run's master data, asked for ahead by prefetch_access_booking_master_data),
// and its answer made the booking's outcome by access_booking_answered.
class AccessBookingHandler final : public BookingHandler {
 public:
  void prefetch(RunContext& run, const std::vector<const BookingLine*>& lines) const override;
  HandlerResult handle(RunContext& run, const Reporter& reporter,
                       const BookingLine& line) const override;
  HandlerResult answered(RunContext& run, std::int32_t status) const override;
};

// Builds the access record and inserts it: kDone when it is stored (status 0) or was stored
// already (-1). Any other failure is printed as " Insert in Kvs402Zpk fehlgeschlagen, Fehler
// %d\n" in every mode; it fails the booking, or ends the run when the status concerns the
// run's writes as such (a read-only database, for example), as does a zone lookup that fails
// for the database's sake.
HandlerResult insert_access_booking(InsertQueue& inserts, MasterData& master_data,
                                    const Reporter& reporter, const BookingLine& line);

// The same in two halves: the insert queued (kWaiting with its ticket), and what its status,
// once it is in, makes of the booking.
HandlerResult queue_access_booking(InsertQueue& inserts, MasterData& master_data,
                                   const BookingLine& line);
HandlerResult access_booking_answered(const Reporter& reporter, std::int32_t status);

// Asks for the zones the access bookings of lines will look up, all at once.
void prefetch_access_booking_master_data(MasterData& master_data,
                                         const std::vector<const BookingLine*>& lines);

// The access status code of a "40p" booking from its access result (field 11): by its first
// character '1' 100, '9' 204, 'B' or 'Z' 202, 'S' 203, 'U' 201, anything else 200.
std::int32_t access_status_code_for_result(std::string_view access_result);

}  // namespace zarvelt
