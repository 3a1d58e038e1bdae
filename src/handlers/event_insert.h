// Event protocol insert: one row of KVSYSTEM.O2009BUCHPROT per event ("dta" line with a badge,
// a function code other than "024" and a status number other than "100").
#pragma once

#include "handlers/booking_handler.h"
#include "handlers/insert_queue.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// The events' handler: the insert queued in the run's queue, and its answer made the event's
// outcome by event_answered.
class EventHandler final : public BookingHandler {
 public:
  HandlerResult handle(RunContext& run, const Reporter& reporter,
                       const BookingLine& line) const override;
  HandlerResult answered(RunContext& run, std::int32_t status) const override;
};

// Inserts the line's event (event date and time: date immediately followed by time; reader
// and result number as the integer values of fields 6 and 12; no variable text, stored as
// NULL): kDone when it is stored. An event already stored (-1) gives kDuplicate: not counted
// again, nothing said; any other failure is printed as " Insert in O2009BuchProt fehlgeschlagen,
// Fehler %d\n" in every mode, and ends the run when the status concerns the run's writes as such.
// Values longer than their columns are refused by the statement, never cut.
HandlerResult insert_event(InsertQueue& inserts, const Reporter& reporter, const BookingLine& line);

// The same in two halves: the insert queued (kWaiting with its ticket), and what its status,
// once it is in, makes of the event.
HandlerResult queue_event(InsertQueue& inserts, const BookingLine& line);
HandlerResult event_answered(const Reporter& reporter, std::int32_t status);

}  // namespace zarvelt
