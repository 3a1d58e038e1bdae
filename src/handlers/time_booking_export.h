// Time booking export: resolves one time booking against the database and writes one
// 81-character line (and LF) to target file 1.
#pragma once

#include "driver/transfer_state.h"
#include "input/field_list.h"

namespace zarvelt {

// Returns 0 when the record was written, -1 when the booking was refused.
int export_time_booking(TransferState& state, const FieldList& fields);

}  // namespace zarvelt
