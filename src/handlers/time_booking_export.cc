#include "handlers/time_booking_export.h"

namespace zarvelt {

int export_time_booking(TransferState&, const FieldList&) { return -1; }  // placeholder

}  // namespace zarvelt
