#include "handlers/access_booking_insert.h"

namespace zarvelt {

int insert_access_booking(TransferState&, const FieldList&) { return 0; }  // placeholder

}  // namespace zarvelt
