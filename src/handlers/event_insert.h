// Event protocol insert: one row of KVSYSTEM.O2009BUCHPROT per event ("dta" line with a badge,
// a function code other than "024" and a status number other than "100").
#pragma once

#include "db/session.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"

namespace zarvelt {

// Inserts the line's event (event date and time: date immediately followed by time; reader
// and result number as the integer values of fields 6 and 12; no variable text, stored as
// NULL): kDone when it is stored, kFailed with the status otherwise (a duplicate included: an
// event already stored is not counted again). Values longer than their columns are refused by
// the statement, never cut. Prints and logs nothing.
HandlerResult insert_event(db::Session& session, const BookingLine& line);

}  // namespace zarvelt
