#include "driver/program.h"

#include <cstring>
#include <string>
#include <string_view>

#include "db/sql_hlp.h"
#include "db/status.h"
#include "driver/fixed_paths.h"
#include "driver/transfer_loop.h"
#include "driver/transfer_state.h"
#include "driver/usage.h"
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
  const bool target1_open = export_open_staged(state.target1, target1_path, kTarget1StagingSuffix);
  const bool target2_open = export_open_staged(state.target2, target2_path, kTarget2StagingSuffix);
  if (!(target1_open && target2_open) && state.verbose) {
    std::fputs("Zieldatei kann nicht erzeugt werden\n", state.console);
  }
  return state.source != nullptr && target1_open && target2_open;
}

// A run that ends without its data taken over says why in the log and on the console, in
// every mode: the caller must not take its exit status for a finished transfer.
void report_run_failure(const TransferState& state, const std::string& text) {
  write_log(state.log_path, "\n\n" + text);
  std::fputs((text + "\n").c_str(), state.console);
}

constexpr std::string_view kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

// True when the statuses say the session is gone: every later statement fails at once and the
// run's transaction cannot be committed.
bool session_lost(std::int32_t status) {
  return status == db::kConnectionLost || status == db::kNotConnected;
}

// Flushes both exports to the disk, commits and moves the exports over their targets, in
// this order, so that a failure at any step leaves the database and the targets without
// anything of the run. Returns the exit status.
int finish_run(TransferState& state, db::Session& session, const std::string& source_path,
               RunOutcome& outcome) {
  const bool source_read = std::ferror(state.source) == 0;
  const bool target1_written = export_finish(state.target1);
  const bool target2_written = export_finish(state.target2);
  outcome.exports_complete = target1_written && target2_written;
  if (!source_read) {
    report_run_failure(state, "Quelldatei " + source_path + " konnte nicht gelesen werden" +
                                  std::string(kNothingTakenOver));
  }
  for (const ExportFile* target : {&state.target1, &state.target2}) {
    if (target->failed) {
      report_run_failure(state, "Zieldatei " + target->path + " konnte nicht geschrieben werden" +
                                    std::string(kNothingTakenOver));
    }
  }
  if (!source_read || !outcome.exports_complete) return kExitExportFailed;

  if (session_lost(state.last_status)) {
    report_run_failure(
        state, "Datenbanksitzung abgebrochen, Fehler: " + std::to_string(state.last_status) +
                   std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  if (db::db_commit(session) != 1) {
    report_run_failure(state, "Commit fehlgeschlagen" + std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  outcome.committed = true;

  // After the commit the database holds the run; an export that cannot be moved into place
  // keeps its staging file, the only copy of its records, and names it.
  bool published = true;
  for (ExportFile* target : {&state.target1, &state.target2}) {
    const std::string staging_path = target->staging_path;
    if (!export_publish(*target)) {
      published = false;
      report_run_failure(state, "Zieldatei " + target->path +
                                    " konnte nicht ersetzt werden, die Daten stehen in " +
                                    staging_path);
    }
  }
  outcome.published = published;
  return published ? kExitCompleted : kExitExportFailed;
}

// Connects, logs the header, transfers, commits and publishes. Returns the exit status.
int transfer_with_session(TransferState& state, const BookingHandlers& handlers,
                          const std::string& source_path, RunOutcome& outcome) {
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
  transfer_bookings(state, handlers);
  outcome.transferred = true;
  const int exit_status = finish_run(state, *session, source_path, outcome);
  state.session = nullptr;
  return exit_status;
}

}  // namespace

RunOutcome run_transfer(int argc, char** argv, std::FILE* console,
                        const BookingHandlers& handlers) {
  RunOutcome outcome;
  if (answer_help_or_version(argc, argv, console)) return outcome;  // exit status 0
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
    outcome.exit_status = transfer_with_session(state, handlers, argv[2], outcome);
  } else {
    outcome.exit_status = kExitFileError;
  }

  // Every file that opened is closed here, target file 2 included, rather than left to the
  // process end. A run that was not committed leaves its targets empty and removes its
  // staging files.
  if (state.source != nullptr) std::fclose(state.source);
  state.source = nullptr;
  if (!outcome.committed) {
    export_discard(state.target1);
    export_discard(state.target2);
  }
  return outcome;
}

int run_program(int argc, char** argv, std::FILE* console) {
  return run_transfer(argc, argv, console).exit_status;
}

}  // namespace zarvelt
