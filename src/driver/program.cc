#include "driver/program.h"

#include <cstring>
#include <string>
#include <string_view>

#include "db/session.h"
#include "db/status.h"
#include "driver/connect_step.h"
#include "driver/core_dumps.h"
#include "driver/fixed_paths.h"
#include "driver/transfer_loop.h"
#include "driver/usage.h"
#include "handlers/run_context.h"
#include "text/text.h"

namespace zarvelt {

namespace {

// The run's header line in the log is this, the server time and a colon.
constexpr std::string_view kHeaderStart =
    "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
    "bergabe am ";

// A run that ends without its data taken over says why in the log and on the console, in
// every mode: the caller must not take its exit status for a finished transfer.
void report_run_failure(const Reporter& reporter, const std::string& text) {
  reporter.log("\n\n" + text);
  reporter.console(text + "\n");
}

// Opens the source and both target files, the targets locked against other runs. Both targets
// are attempted even when the source is missing, so that a caller always finds them created
// (or emptied). Returns kExitCompleted when the run can go on, otherwise its exit status.
int open_files(RunContext& run, std::FILE*& source, const char* source_path,
               const char* target1_path, const char* target2_path) {
  source = std::fopen(source_path, "rb");
  if (source == nullptr) run.reporter.verbose_console("Quelldatei auf Server nicht gefunden\n");
  const TargetsOpenResult targets =
      export_open_targets(run.target1, target1_path, run.target2, target2_path, source_path);
  switch (targets.status) {
    case TargetsOpen::kOpen:
      break;
    case TargetsOpen::kSameFile:
      report_run_failure(run.reporter, targets.message);
      return kExitFileError;
    case TargetsOpen::kBusy:
      report_run_failure(run.reporter, targets.message);
      return kExitTargetBusy;
    case TargetsOpen::kCannotCreate:
      run.reporter.verbose_console("Zieldatei kann nicht erzeugt werden\n");
      return kExitFileError;
  }
  return source != nullptr ? kExitCompleted : kExitFileError;
}

constexpr std::string_view kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

// Flushes both exports to the disk, commits and moves the exports over their targets, in
// this order, so that a failure at any step leaves the database and the targets without
// anything of the run. Returns the exit status.
int finish_run(RunContext& run, std::FILE* source, const std::string& source_path,
               const HandlerResult& transfer, RunOutcome& outcome) {
  const Reporter& reporter = run.reporter;
  const bool source_read = std::ferror(source) == 0;
  const bool target1_written = export_finish(run.target1);
  const bool target2_written = export_finish(run.target2);
  const bool exports_complete = target1_written && target2_written;
  if (!source_read) {
    report_run_failure(reporter, "Quelldatei " + source_path + " konnte nicht gelesen werden" +
                                     std::string(kNothingTakenOver));
  }
  for (const ExportFile* target : {&run.target1, &run.target2}) {
    if (target->failed) {
      report_run_failure(reporter, "Zieldatei " + target->path +
                                       " konnte nicht geschrieben werden" +
                                       std::string(kNothingTakenOver));
    }
  }
  if (!source_read || !exports_complete) return kExitExportFailed;

  if (transfer.outcome == Outcome::kSessionLost) {
    report_run_failure(reporter,
                       "Datenbanksitzung abgebrochen, Fehler: " + std::to_string(transfer.status) +
                           std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  if (transfer.outcome == Outcome::kRunMustEnd) {
    report_run_failure(reporter, "Datenbank nimmt die Buchungen nicht an, Fehler: " +
                                     std::to_string(transfer.status) +
                                     std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  const std::int32_t commit_status = db::commit(*run.session);
  if (commit_status != db::kSuccess) {
    report_run_failure(reporter, "Commit fehlgeschlagen, Fehler: " + std::to_string(commit_status) +
                                     std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  outcome.committed = true;

  // After the commit the database holds the run; an export that cannot be moved into place
  // keeps its staging file, the only copy of its records, and names it.
  bool published = true;
  for (ExportFile* target : {&run.target1, &run.target2}) {
    const std::string staging_path = target->staging_path;
    if (!export_publish(*target)) {
      published = false;
      report_run_failure(reporter, "Zieldatei " + target->path +
                                       " konnte nicht ersetzt werden, die Daten stehen in " +
                                       staging_path);
    }
  }
  return published ? kExitCompleted : kExitExportFailed;
}

// Connects, logs the header, transfers, commits and publishes. Returns the exit status.
int transfer_with_session(RunContext& run, std::FILE* source, const std::string& source_path,
                          RunOutcome& outcome) {
  db::SessionPtr session;
  if (connect_step(host_path(kConfigFileWindowsPath), run.reporter, session) != db::kSuccess) {
    return kExitConnectionFailed;
  }
  run.session = session.get();

  // The server time is the run's first statement: a session that cannot answer it (SQLite's
  // file locked by another writer past the busy timeout, for example) is a failed connection,
  // reported before any booking is read.
  std::string server_time;
  const std::int32_t time_status = db::read_server_time(*session, server_time);
  if (time_status != db::kSuccess) {
    report_connection_failure(run.reporter, time_status);
    return kExitConnectionFailed;
  }
  run.reporter.log(std::string(kHeaderStart) + server_time + ":");
  const HandlerResult transfer = transfer_bookings(run, source);
  const int exit_status = finish_run(run, source, source_path, transfer, outcome);
  run.session = nullptr;
  return exit_status;
}

}  // namespace

RunOutcome run_transfer(int argc, char** argv, std::FILE* console) {
  RunOutcome outcome;
  if (answer_help_or_version(argc, argv, console)) return outcome;  // exit status 0
  if (argc < 5) {
    std::fputs("Parameterfehler", console);
    outcome.exit_status = kExitParameterError;
    return outcome;
  }
  const bool verbose = argc > 5 && upper_case(argv[5]) == "/D";
  if (std::strlen(argv[1]) > kTerminalNameMaxLength) {
    std::fputs("Terminalname zu lang", console);
    outcome.exit_status = kExitParameterError;
    return outcome;
  }
  RunContext run;
  run.terminal_name = argv[1];
  run.reporter = Reporter(host_path(kTransferLogWindowsPath), console, verbose);

  std::FILE* source = nullptr;
  outcome.exit_status = open_files(run, source, argv[2], argv[3], argv[4]);
  if (outcome.exit_status == kExitCompleted) {
    outcome.exit_status = transfer_with_session(run, source, argv[2], outcome);
  }

  // Every file that opened is closed here, target file 2 included, rather than left to the
  // process end. A run that was not committed leaves its targets empty and removes its
  // staging files.
  if (source != nullptr) std::fclose(source);
  if (!outcome.committed) {
    export_discard(run.target1);
    export_discard(run.target2);
  }
  // Only now may another run on the same targets go on.
  export_release(run.target1);
  export_release(run.target2);
  return outcome;
}

int run_program(int argc, char** argv, std::FILE* console) {
  forbid_core_dumps();
  return run_transfer(argc, argv, console).exit_status;
}

}  // namespace zarvelt
