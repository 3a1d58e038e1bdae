#include "driver/program.h"

#include <cstring>
#include <string>
#include <string_view>

#include "db/sql_hlp.h"
#include "driver/fixed_paths.h"
#include "driver/transfer_loop.h"
#include "driver/transfer_state.h"
#include "log/transfer_log.h"

namespace zarvelt {

namespace {

// The run's header line in the log is this, the server time and a colon.
constexpr std::string_view kHeaderStart =
    "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
    "bergabe am ";
// Followed by the status of the connection step.
constexpr std::string_view kConnectionFailed = "\n\nDatenbankverbindung fehlgeschlagen, Fehler: ";

// Upper-cases the letters a to z only, leaving every other byte as it is.
std::string upper_case(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Opens the source and both target files. Both targets are attempted even when the source is
// missing, so that a caller always finds them created (or emptied).
bool open_files(TransferState& state, const char* source_path, const char* target1_path,
                const char* target2_path) {
  state.source = std::fopen(source_path, "rb");
  if (state.source == nullptr && state.verbose) {
    std::fputs("Quelldatei auf Server nicht gefunden\n", state.console);
  }
  const bool target1_open = export_open(state.target1, target1_path);
  const bool target2_open = export_open(state.target2, target2_path);
  if (!(target1_open && target2_open) && state.verbose) {
    std::fputs("Zieldatei kann nicht erzeugt werden\n", state.console);
  }
  return state.source != nullptr && target1_open && target2_open;
}

// Flushes and closes both target files; true when every write, flush and close succeeded.
// Closing a file twice is harmless: the second close only repeats the verdict.
bool close_targets(TransferState& state) {
  const bool target1_complete = export_close(state.target1);
  const bool target2_complete = export_close(state.target2);
  return target1_complete && target2_complete;
}

// Connects, logs the header, transfers and commits. Returns the exit status.
int transfer_with_session(TransferState& state, const BookingHandlers& handlers,
                          RunOutcome& outcome) {
  db::SessionPtr session;
  state.last_status =
      db::open_db_session(session, host_path(kConfigFileWindowsPath), state.console);
  // Success without a session would leave nothing to run the bookings on.
  if (state.last_status == 0 && session == nullptr) state.last_status = db::kNotConnected;
  if (state.last_status != 0) {
    write_log(state.log_path, std::string(kConnectionFailed) + std::to_string(state.last_status));
    return kExitConnectionFailed;
  }
  state.session = session.get();

  std::string server_time;
  db::read_server_time(*session, server_time);
  write_log(state.log_path, std::string(kHeaderStart) + server_time + ":");
  const int status = transfer_bookings(state, handlers);
  outcome.transferred = true;
  // The exports are on disk, or known to have failed, before the transaction is committed.
  outcome.exports_complete = close_targets(state);
  outcome.committed = db::db_commit(*session) == 1;
  state.session = nullptr;
  return status;
}

}  // namespace

RunOutcome run_transfer(int argc, char** argv, std::FILE* console,
                        const BookingHandlers& handlers) {
  RunOutcome outcome;
  if (argc < 5) {
    std::fputs("Parameterfehler", console);
    outcome.exit_status = kExitParameterError;
    return outcome;
  }

  TransferState state;
  state.console = console;
  state.verbose = argc > 5 && upper_case(argv[5]) == "/D";
  if (std::strlen(argv[1]) > kTerminalNameMaxLength) {
    std::fputs("Terminalname zu lang", console);
    outcome.exit_status = kExitParameterError;
    return outcome;
  }
  state.terminal_name = argv[1];
  state.log_path = host_path(kTransferLogWindowsPath);

  if (open_files(state, argv[2], argv[3], argv[4])) {
    outcome.exit_status = transfer_with_session(state, handlers, outcome);
  } else {
    outcome.exit_status = kExitFileError;
  }

  // Every file that opened is closed here, target file 2 included, rather than left to the
  // process end, where a write that fails at the flush would go unnoticed.
  if (state.source != nullptr) std::fclose(state.source);
  state.source = nullptr;
  outcome.exports_complete = close_targets(state);
  return outcome;
}

int run_program(int argc, char** argv, std::FILE* console) {
  return run_transfer(argc, argv, console).exit_status;
}

}  // namespace zarvelt
