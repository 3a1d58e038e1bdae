// Cost-centre booking export: one fixed-width record, no line break, to target file 2.
#pragma once

#include "driver/transfer_state.h"
#include "input/field_list.h"

namespace zarvelt {

// Appends one record to target file 2 and counts it. Never refuses a booking; returns 0.
int export_cost_centre_booking(TransferState& state, const FieldList& fields);

}  // namespace zarvelt
