// The transfer loop: reads the source file line by line, drops faulty lines and lines of other
// terminals, dispatches the rest and writes the summary of the counters to the transfer log.
#pragma once

#include <cstdio>
#include <string>

#include "driver/dispatch.h"
#include "driver/transfer_state.h"

namespace zarvelt {

// At most this many characters per read, the line's LF included when it fits; a longer line
// arrives in pieces, each handled as a line of its own.
inline constexpr size_t kLinePieceLength = 498;

// Reads the next piece of a line from a binary file as fgets with a 499-byte buffer would:
// up to and including LF, at most kLinePieceLength bytes. Returns false at the end of the
// file or on a read error with nothing read.
bool read_line_piece(std::FILE* file, std::string& piece);

// Removes trailing blanks and tabs in place.
void trim_right(std::string& text);

// Zeroes the counters, handles every line of state.source to its end through handlers, writes
// the summary to the log (and in verbose mode the total to the console). Returns 0. Stops
// early, summary still written, once the last status says the session is lost.
int transfer_bookings(TransferState& state, const BookingHandlers& handlers = kBookingHandlers);

}  // namespace zarvelt
