// Cost-centre booking export: one fixed-width record, no line break, to target file 2.
#pragma once

#include "files/export_file.h"
#include "handlers/booking_handler.h"
#include "handlers/outcome.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// The cost-centre bookings' handler: export_cost_centre_booking into target file 2.
class CostCentreHandler final : public BookingHandler {
 public:
  HandlerResult handle(RunContext& run, const Reporter& reporter,
                       const BookingLine& line) const override;
};

// Appends the booking's record to target2: kDone (a failed write is remembered in target2 for
// the driver). A booking whose date is no calendar date or whose time is no time of day is
// refused and logged (kRefused); an over-long badge or cost centre is reported and its column
// left empty.
HandlerResult export_cost_centre_booking(ExportFile& target2, const Reporter& reporter,
                                         const BookingLine& line);

}  // namespace zarvelt
