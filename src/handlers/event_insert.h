// Event protocol insert: one row of KVSYSTEM.O2009BUCHPROT per event ("dta" line with a badge,
// a function code other than "024" and a status number other than "100").
#pragma once

#include <cstdint>

#include "db/statements.h"
#include "handlers/booking_handler.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// The event protocol's row: terminal, reader number, badge, the event's day and moment
// (converted from yyyymmdd and yyyymmddhhmiss), function code, result number, variable text
// (NULL when empty).
extern const db::InsertStatement kEventInsert;

// The events' handler: the row built from the line (event date and time: date immediately
// followed by time; reader and result number as the integer values of fields 6 and 12; no
// variable text), and what its insert's status makes of the event. Values longer than their
// columns are refused by the insert, never cut.
class EventHandler final : public BookingHandler {
 public:
  HandlerResult handle(RunContext& run, const Reporter& reporter,
                       const BookingLine& line) const override;
  // kDone when the event is stored. An event already stored (-1) gives kDuplicate: not counted
  // again, nothing said; any other failure is printed as " Insert in O2009BuchProt
  // fehlgeschlagen, Fehler %d\n" in every mode, and ends the run when the status concerns the
  // run's writes as such.
  HandlerResult answered(const Reporter& reporter, std::int32_t status) const override;
};

}  // namespace zarvelt
