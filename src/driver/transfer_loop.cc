#include "driver/transfer_loop.h"

#include <cinttypes>
#include <cstdint>

#include "db/status.h"
#include "input/splitter.h"
#include "log/transfer_log.h"

namespace zarvelt {

namespace {

constexpr int kFewestFields = 8;  // 7 fields or fewer make a faulty line, of any terminal
constexpr int kTerminalField = 5;

void report_faulty_line(const TransferState& state) {
  std::fputs("FEHLERHAFTER BUCHUNGSSATZ !!\n", state.console);
}

void handle_line(TransferState& state, const std::string& line, const BookingHandlers& handlers) {
  if (state.verbose) {
    // "%s": the echo ends where the text does, at a NUL inside the line.
    std::fputs(line.c_str(), state.console);
  }
  FieldListPtr fields = split_booking_line(line);
  if (!fields) return;
  if (fields->count() < kFewestFields) {
    report_faulty_line(state);
  } else if (fields->field(kTerminalField) != state.terminal_name) {
    // Another terminal's line: skipped without a message.
  } else if (fields->count() < kBookingFieldCount) {
    // The dispatch and the handlers read fields up to 15; a line of this terminal without them
    // is as faulty as a short one.
    report_faulty_line(state);
  } else {
    trim_right(fields->fields[0]);
    dispatch_booking(state, *fields, handlers);
  }
  release_field_list(fields);
}

void write_summary(TransferState& state) {
  const Counters& c = state.counters;
  if (state.verbose) {
    const std::int64_t total =
        std::int64_t{c.time_bookings} + c.access_bookings + c.cost_centre_bookings + c.events;
    std::fprintf(state.console, "%" PRId64 " Buchungen uebergeben", total);
  }
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "\n\xFC"
                "bergeben:\n"
                "   Zeitbuchungen         : %d\n"
                "   Zutrittsbuchungen:    : %d\n"
                "   Kostenstellenbuchungen: %d\n"
                "   Ereignisse:           : %d\n",
                static_cast<int>(c.time_bookings), static_cast<int>(c.access_bookings),
                static_cast<int>(c.cost_centre_bookings), static_cast<int>(c.events));
  write_log(state.log_path, summary);
}

}  // namespace

bool read_line_piece(std::FILE* file, std::string& piece) {
  piece.clear();
  int c;
  while (piece.size() < kLinePieceLength && (c = std::getc(file)) != EOF) {
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

void trim_right(std::string& text) {
  const size_t end = text.find_last_not_of(" \t");
  text.erase(end == std::string::npos ? 0 : end + 1);
}

int transfer_bookings(TransferState& state, const BookingHandlers& handlers) {
  state.counters = Counters{};
  std::string line;
  while (state.source != nullptr && read_line_piece(state.source, line)) {
    handle_line(state, line, handlers);
    // A lost session fails every later statement at once and cannot commit; going on would
    // only fill the log and the console with one failure per booking.
    if (state.last_status == db::kConnectionLost || state.last_status == db::kNotConnected) break;
  }
  write_summary(state);
  return 0;
}

}  // namespace zarvelt
