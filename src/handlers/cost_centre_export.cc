#include "handlers/cost_centre_export.h"

namespace zarvelt {

int export_cost_centre_booking(TransferState&, const FieldList&) { return 0; }  // placeholder

}  // namespace zarvelt
