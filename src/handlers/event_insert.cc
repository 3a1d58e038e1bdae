// Event protocol insert: the row built from the line, and what its insert's status makes of the
// event.
#include "handlers/event_insert.h"

#include "text/text.h"

namespace zarvelt {

namespace {

using Column = db::InsertColumn::Kind;
constexpr db::InsertColumn kEventColumns[] = {
    {"BPRTRM", Column::kText, 256}, {"BPRZLS", Column::kInteger},    {"BPRAWV", Column::kText, 51},
    {"BPRDAT", Column::kDate, 9},   {"BPRDTE", Column::kDate, 15},   {"BPRFCD", Column::kText, 6},
    {"BPRERG", Column::kInteger},   {"BPRVAR", Column::kText, 2001},
};

}  // namespace

const db::InsertStatement kEventInsert = {"O2009BUCHPROT", "BPRTRM,BPRZLS,BPRAWV,BPRDTE,BPRFCD",
                                          kEventColumns};

HandlerResult EventHandler::handle(RunContext&, const Reporter&, const BookingLine& line) const {
  HandlerResult waiting{Outcome::kWaiting, db::kSuccess, {}, {}};
  waiting.insert = {&kEventInsert,
                    {line.terminal(), decimal_integer(line.reader_number()), line.badge(),
                     line.date(), line.date() + line.time(), line.function_code(),
                     decimal_integer(line.status_number()), std::string()}};
  return waiting;
}

HandlerResult EventHandler::answered(const Reporter& reporter, std::int32_t status) const {
  if (status == db::kSuccess) return {Outcome::kDone, status, {}, {}};
  if (status == db::kUniqueConstraint) return {Outcome::kDuplicate, status, {}, {}};
  return failed_insert(reporter, "O2009BuchProt", status);
}

}  // namespace zarvelt
