// Program entry and run: command line, the three files, the database session, the transfer
// loop, the commit and the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "driver/transfer_loop.h"

namespace zarvelt {

// Exit statuses of a run.
// Every status but 0 means that nothing of the run was committed, except kExitExportFailed after
// a commit whose export could not be moved into place (logged).
enum ExitStatus : int {
  kExitParameterError = -1,    // fewer than four words, or a terminal name of 256+ characters
  kExitCompleted = 0,          // the transfer loop ran to the end of the source file, committed
  kExitExportFailed = 74,      // the source could not be read or an export file not written
  kExitConnectionFailed = 75,  // the connection step failed; a later retry may succeed
  kExitNotCommitted = 75,      // the session was lost or the commit failed; retry later
  kExitTargetBusy = 75,        // another run held a target file past the wait; retry later
  kExitFileError = 94,         // source file cannot be opened, a target file not created, or
                               // the targets are one file or one of them is the source
};

// Longest terminal name accepted on the command line.
inline constexpr size_t kTerminalNameMaxLength = 255;

// What a run did: its exit status, and what its run record says of it.
struct RunOutcome {
  int exit_status = kExitCompleted;
  bool committed = false;   // the commit reported success
  std::string reason;       // the line that said why the run ended so ("" for a clean run)
  bool check = false;       // a check run
  TransferResult transfer;  // the lines read and rejected, the bookings counted
  std::string backend;      // as the alias chose it; empty: not connected
  std::string reject_file;  // the reject file's path; empty: none kept
  // The status with which the database refused the inserts' duplicate-absorbing form; 0: not.
  std::int32_t duplicate_hint_refused = 0;
};

// The first word that makes a run a check run: everything a run does against the real
// database, then the session ends without its commit; the targets are not touched.
inline constexpr std::string_view kCheckOption = "--check";

// Inserts sent to the database together: ZARVELT_BATCH_SIZE, 1 to 10000, or 1000. With 1 each
// insert waits for its answer before the run goes on; what the run writes is the same.
std::size_t insert_batch_size();

// Runs the program with the given command line, printing to console. The exports reach their
// targets only after a successful commit; a run that fails leaves the targets empty and no
// staging file behind.
RunOutcome run_transfer(int argc, char** argv, std::FILE* console);

// Runs the program with the given command line, printing to console; returns the exit status.
// The process cannot dump core from here on: it is about to hold the database password.
int run_program(int argc, char** argv, std::FILE* console = stdout);

}  // namespace zarvelt
