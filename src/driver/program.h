// Program entry and run: command line, the three files, the database session, the transfer
// loop, the commit and the exit status.
#pragma once

#include <cstdio>

namespace zarvelt {

// Exit statuses of a run.
enum ExitStatus : int {
  kExitParameterError = -1,   // fewer than four words, or a terminal name of 256+ characters
  kExitCompleted = 0,         // the transfer loop ran to the end of the source file
  kExitConnectionFailed = 75, // the connection step failed; a later retry may succeed
  kExitFileError = 94,        // source file cannot be opened, or a target file not created
};

// Runs the program with the given command line, printing to console; returns the exit status.
int run_program(int argc, char** argv, std::FILE* console = stdout);

}  // namespace zarvelt
