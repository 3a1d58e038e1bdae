// Program entry and run: command line, the three files, the database session, the transfer
// loop, the commit and the exit status.
#pragma once

#include <cstdio>

#include "driver/dispatch.h"

namespace zarvelt {

// Exit statuses of a run.
enum ExitStatus : int {
  kExitParameterError = -1,    // fewer than four words, or a terminal name of 256+ characters
  kExitCompleted = 0,          // the transfer loop ran to the end of the source file
  kExitConnectionFailed = 75,  // the connection step failed; a later retry may succeed
  kExitFileError = 94,         // source file cannot be opened, or a target file not created
};

// Longest terminal name accepted on the command line.
inline constexpr size_t kTerminalNameMaxLength = 255;

// What a run did, beyond its exit status.
struct RunOutcome {
  int exit_status = kExitCompleted;
  bool transferred = false;      // the transfer loop ran
  bool exports_complete = true;  // every write, flush and close of both target files succeeded
  bool committed = false;        // the commit reported success
};

// Runs the program with the given command line, printing to console, and the given handlers.
// The exit status does not yet reflect a failed export or commit; the outcome records them.
RunOutcome run_transfer(int argc, char** argv, std::FILE* console,
                        const BookingHandlers& handlers = kBookingHandlers);

// Runs the program with the given command line, printing to console; returns the exit status.
int run_program(int argc, char** argv, std::FILE* console = stdout);

}  // namespace zarvelt
