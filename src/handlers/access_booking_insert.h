// Access booking insert: one row of KVSYSTEM.KVS402ZPK per access booking.
#pragma once

#include "driver/transfer_state.h"
#include "input/field_list.h"

namespace zarvelt {

// Builds the access record, inserts it and counts it (status 0, or -1 for a row already
// stored). Always returns 0.
int insert_access_booking(TransferState& state, const FieldList& fields);

}  // namespace zarvelt
