// The run from the command line to the exit status: files, session, transfer, commit, publishing
// the exports, and the run record.
#include "driver/program.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "db/session.h"
#include "db/status.h"
#include "driver/connect_step.h"
#include "driver/core_dumps.h"
#include "driver/fixed_paths.h"
#include "driver/progress.h"
#include "driver/reject_file.h"
#include "driver/run_record.h"
#include "driver/transfer_loop.h"
#include "driver/usage.h"
#include "handlers/run_context.h"
#include "text/text.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace zarvelt {

namespace {

// The run's header line in the log is this, the server time and a colon.
constexpr std::string_view kHeaderStart =
    "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
    "bergabe am ";

// A run that ends without its data taken over says why in the log and on the console, in
// every mode: the caller must not take its exit status for a finished transfer.
void report_run_failure(const Reporter& reporter, RunOutcome& outcome, const std::string& text) {
  reporter.log("\n\n" + text);
  reporter.console(text + "\n");
  outcome.reason = text;
}

// The run record file in the log directory.
constexpr std::string_view kRunRecordFileName = "ZarveltRuns.jsonl";

long current_process_id() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

// Opens the source and both target files, the targets locked against other runs. Both targets
// are attempted even when the source is missing, so that a caller always finds them created
// (or emptied). Returns kExitCompleted when the run can go on, otherwise its exit status.
int open_files(RunContext& run, RunOutcome& outcome, std::FILE*& source, const char* source_path,
               const char* target1_path, const char* target2_path) {
  source = std::fopen(source_path, "rb");
  if (source == nullptr) run.reporter.verbose_console("Quelldatei auf Server nicht gefunden\n");
  const TargetsOpenResult targets =
      export_open_targets(run.target1, target1_path, run.target2, target2_path, source_path);
  switch (targets.status) {
    case TargetsOpen::kOpen:
      break;
    case TargetsOpen::kSameFile:
      report_run_failure(run.reporter, outcome, targets.message);
      return kExitFileError;
    case TargetsOpen::kBusy:
      report_run_failure(run.reporter, outcome, targets.message);
      return kExitTargetBusy;
    case TargetsOpen::kCannotCreate:
      run.reporter.verbose_console("Zieldatei kann nicht erzeugt werden\n");
      outcome.reason = source == nullptr ? "Quelldatei auf Server nicht gefunden"
                                         : "Zieldatei kann nicht erzeugt werden";
      return kExitFileError;
  }
  if (source == nullptr) {
    outcome.reason = "Quelldatei auf Server nicht gefunden";
    return kExitFileError;
  }
  return kExitCompleted;
}

constexpr std::string_view kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

// Flushes both exports to the disk, commits and moves the exports over their targets, in
// this order, so that a failure at any step leaves the database and the targets without
// anything of the run. Returns the exit status.
int finish_run(RunContext& run, std::FILE* source, const std::string& source_path,
               const HandlerResult& transfer, bool check, RunOutcome& outcome) {
  const Reporter& reporter = run.reporter;
  // A check run is read on the console: it shows what the real run would have taken over.
  if (check) reporter.console(summary_text(run.counters));
  const bool source_read = std::ferror(source) == 0;
  const bool target1_written = run.target1.finish();
  const bool target2_written = run.target2.finish();
  const bool exports_complete = target1_written && target2_written;
  if (!source_read) {
    report_run_failure(reporter, outcome,
                       "Quelldatei " + source_path + " konnte nicht gelesen werden" +
                           std::string(kNothingTakenOver));
  }
  for (const ExportFile* target : {&run.target1, &run.target2}) {
    if (target->failed()) {
      report_run_failure(reporter, outcome,
                         "Zieldatei " + target->path() + " konnte nicht geschrieben werden" +
                             std::string(kNothingTakenOver));
    }
  }
  if (!source_read || !exports_complete) return kExitExportFailed;

  if (transfer.outcome == Outcome::kSessionLost) {
    report_run_failure(reporter, outcome,
                       "Datenbanksitzung abgebrochen, Fehler: " + std::to_string(transfer.status) +
                           std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  if (transfer.outcome == Outcome::kRunMustEnd) {
    report_run_failure(reporter, outcome,
                       "Datenbank nimmt die Buchungen nicht an, Fehler: " +
                           std::to_string(transfer.status) + std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  if (check) {
    // The session ends without its commit: every backend then rolls the transaction back.
    const std::string text =
        "Pr\xFC"
        "flauf: nichts \xFC"
        "bernommen";
    run.reporter.log("\n\n" + text);
    run.reporter.console(text + "\n");
    outcome.reason = text;
    return kExitCompleted;
  }
  const std::int32_t commit_status = db::commit(*run.session);
  if (commit_status != db::kSuccess) {
    report_run_failure(reporter, outcome,
                       "Commit fehlgeschlagen, Fehler: " + std::to_string(commit_status) +
                           std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  outcome.committed = true;

  // After the commit the database holds the run; an export that cannot be moved into place
  // keeps its staging file, the only copy of its records, and names it.
  bool published = true;
  for (ExportFile* target : {&run.target1, &run.target2}) {
    const std::string staging_path = target->staging_path();
    if (!target->publish()) {
      published = false;
      report_run_failure(reporter, outcome,
                         "Zieldatei " + target->path() +
                             " konnte nicht ersetzt werden, die Daten stehen in " + staging_path);
    }
  }
  return published ? kExitCompleted : kExitExportFailed;
}

// What the run's files and session are, for the run record.
struct RunFacts {
  bool check = false;
  Counters counters;
  std::int64_t lines_read = 0;
  std::int64_t lines_rejected = 0;
  std::string backend;
  std::string reject_file;
  std::int32_t duplicate_hint_refused = 0;
};

std::string log_directory() {
  const std::string log = host_path(kTransferLogWindowsPath);
  const std::size_t slash = log.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : log.substr(0, slash + 1);
}

std::int64_t file_size(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long size = std::ftell(file);
  std::rewind(file);
  return size < 0 ? 0 : size;
}

// Connects, logs the header, transfers, commits and publishes. Returns the exit status.
int transfer_with_session(RunContext& run, std::FILE* source, const std::string& source_path,
                          const std::string& start_time, RunFacts& facts, RunOutcome& outcome) {
  db::SessionPtr session;
  const std::int32_t connected =
      connect_step(host_path(kConfigFileWindowsPath), run.reporter, session, &facts.backend);
  if (connected != db::kSuccess) {
    outcome.reason = "Datenbankverbindung fehlgeschlagen, Fehler: " + std::to_string(connected);
    return kExitConnectionFailed;
  }
  run.session = session.get();
  session->batch_size = insert_batch_size();
  MasterData master_data(*session);
  run.master_data = &master_data;
  SessionInsertQueue inserts(*session);
  run.inserts = &inserts;

  // The server time is the run's first statement: a session that cannot answer it (SQLite's
  // file locked by another writer past the busy timeout, for example) is a failed connection,
  // reported before any booking is read.
  std::string server_time;
  const std::int32_t time_status = db::read_server_time(*session, server_time);
  if (time_status != db::kSuccess) {
    report_connection_failure(run.reporter, time_status);
    outcome.reason = "Datenbankverbindung fehlgeschlagen, Fehler: " + std::to_string(time_status);
    return kExitConnectionFailed;
  }
  run.reporter.log(std::string(kHeaderStart) + server_time + ":" +
                   (facts.check ? " Pr\xFC"
                                  "flauf"
                                : ""));

  // Lines that do not get through go to a reject file of this run; a check run only names
  // them on the console.
  RejectFile reject_file(
      log_directory() + reject_file_name(run.terminal_name, start_time, current_process_id()),
      run.reporter);
  RejectReport reject_report(run.reporter);
  RejectSink& rejects = facts.check ? static_cast<RejectSink&>(reject_report) : reject_file;
  std::optional<TerminalProgress> progress;
  if (TerminalProgress::is_terminal(stderr)) progress.emplace(stderr, file_size(source));

  const TransferResult transfer =
      transfer_bookings(run, source, kBookingHandlers, &rejects, progress ? &*progress : nullptr);
  if (progress) progress->finish();
  facts.lines_read = transfer.lines_read;
  facts.lines_rejected = transfer.lines_rejected;
  const int exit_status =
      finish_run(run, source, source_path, transfer.ended, facts.check, outcome);
  // A run that is not taken over is fed again whole: its reject file would only mislead.
  if (!outcome.committed) reject_file.discard();
  facts.reject_file = reject_file.path();
  facts.duplicate_hint_refused = db::duplicate_hint_refusal(*session);
  run.session = nullptr;
  run.master_data = nullptr;
  run.inserts = nullptr;
  return exit_status;
}

// The run proper, from the command line's words on (a check run's without "--check").
RunOutcome run_with_arguments(int argc, char** argv, std::FILE* console,
                              const std::string& start_time, RunFacts& facts) {
  RunOutcome outcome;
  if (argc < 5) {
    std::fputs("Parameterfehler", console);
    outcome.exit_status = kExitParameterError;
    outcome.reason = "Parameterfehler";
    return outcome;
  }
  const bool verbose = argc > 5 && upper_case(argv[5]) == "/D";
  if (std::strlen(argv[1]) > kTerminalNameMaxLength) {
    std::fputs("Terminalname zu lang", console);
    outcome.exit_status = kExitParameterError;
    outcome.reason = "Terminalname zu lang";
    return outcome;
  }
  RunContext run;
  run.terminal_name = argv[1];
  run.reporter = Reporter(host_path(kTransferLogWindowsPath), console, verbose);

  // A check run writes its exports into files of its own, removed at the end: the targets are
  // neither emptied nor locked.
  std::string target1 = argv[3];
  std::string target2 = argv[4];
  if (facts.check) {
    const std::string prefix = (std::filesystem::temp_directory_path() /
                                ("zarvelt-check-" + std::to_string(current_process_id())))
                                   .string();
    target1 = prefix + "-1.txt";
    target2 = prefix + "-2.txt";
  }

  std::FILE* source = nullptr;
  outcome.exit_status = open_files(run, outcome, source, argv[2], target1.c_str(), target2.c_str());
  if (outcome.exit_status == kExitCompleted) {
    outcome.exit_status = transfer_with_session(run, source, argv[2], start_time, facts, outcome);
  }

  // Every file that opened is closed here, target file 2 included, rather than left to the
  // process end. A run that was not committed leaves its targets empty and removes its
  // staging files.
  if (source != nullptr) std::fclose(source);
  if (!outcome.committed) {
    run.target1.discard();
    run.target2.discard();
  }
  // Only now may another run on the same targets go on.
  run.target1.release();
  run.target2.release();
  if (facts.check) {
    std::remove(target1.c_str());
    std::remove(target2.c_str());
  }
  facts.counters = run.counters;
  return outcome;
}

}  // namespace

std::size_t insert_batch_size() {
  constexpr std::size_t kDefault = 1000;
  const char* text = std::getenv("ZARVELT_BATCH_SIZE");
  if (text == nullptr) return kDefault;
  const std::int32_t size = decimal_integer(text);
  return size >= 1 && size <= 10000 && std::to_string(size) == text ? static_cast<std::size_t>(size)
                                                                    : kDefault;
}

RunOutcome run_transfer(int argc, char** argv, std::FILE* console) {
  RunOutcome outcome;
  if (answer_help_or_version(argc, argv, console)) return outcome;  // exit status 0
  const auto started = std::chrono::steady_clock::now();
  RunRecord record;
  record.start = local_time_text(true);
  const std::string start_time = local_time_text(false);
  RunFacts facts;
  // "--check" as the first word makes the rest the command line of a check run.
  if (argc > 1 && argv[1] == kCheckOption) {
    facts.check = true;
    --argc;
    ++argv;
  }
  outcome = run_with_arguments(argc, argv, console, start_time, facts);

  record.end = local_time_text(true);
  record.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  record.check = facts.check;
  for (int i = 1; i < argc && i <= 4; ++i) {
    std::string* fields[] = {&record.terminal, &record.source, &record.target1, &record.target2};
    *fields[i - 1] = argv[i];
  }
  record.lines_read = facts.lines_read;
  record.lines_rejected = facts.lines_rejected;
  record.time_bookings = facts.counters.time_bookings;
  record.access_bookings = facts.counters.access_bookings;
  record.cost_centre_bookings = facts.counters.cost_centre_bookings;
  record.events = facts.counters.events;
  record.exit_status = outcome.exit_status;
  record.reason = outcome.reason.empty() ? std::string(
                                               "\xDC"
                                               "bergabe abgeschlossen")
                                         : outcome.reason;
  record.backend = facts.backend;
  record.reject_file = facts.reject_file;
  record.duplicate_hint_refused = facts.duplicate_hint_refused;
  append_run_record(log_directory() + std::string(kRunRecordFileName), record);
  return outcome;
}

int run_program(int argc, char** argv, std::FILE* console) {
  forbid_core_dumps();
  return run_transfer(argc, argv, console).exit_status;
}

}  // namespace zarvelt
