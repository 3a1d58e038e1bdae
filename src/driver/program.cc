// The run from the command line to the exit status: files, session, transfer, commit, publishing
// the exports, and the run record. The export files' stages (opened, written, finished,
// published or discarded, released) are described in files/export_file.h; this file walks
// them in that order.
#include "driver/program.h"

#include <array>
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
#include "driver/fixed_paths.h"
#include "driver/progress.h"
#include "driver/reject_file.h"
#include "driver/run_record.h"
#include "driver/usage.h"
#include "files/process.h"
#include "handlers/run_context.h"
#include "text/text.h"

namespace zarvelt {

namespace {

// The run's header line in the log is this, the server time and a colon.
constexpr std::string_view kHeaderStart =
    "\n\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
    "bergabe am ";

// The run record file in the log directory.
constexpr std::string_view kRunRecordFileName = "ZarveltRuns.jsonl";

constexpr std::string_view kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

std::string log_directory() {
  const std::string log = host_path(kTransferLogWindowsPath);
  const std::size_t slash = log.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : log.substr(0, slash + 1);
}

// One run from its command line's words on (a check run's without "--check") to its outcome,
// which it builds as it goes.
class Run {
 public:
  Run(bool check, std::string start_time) : start_time_(std::move(start_time)) {
    outcome_.check = check;
  }

  RunOutcome run(int argc, char** argv, std::FILE* console);

 private:
  // A run that ends without its data taken over says why in the log and on the console, in
  // every mode: the caller must not take its exit status for a finished transfer.
  void report_failure(const Reporter& reporter, const std::string& text) {
    reporter.log("\n\n" + text);
    reporter.console(text + "\n");
    outcome_.reason = text;
  }
  int open_files(RunContext& run, const char* source_path, const char* target1_path,
                 const char* target2_path);
  int transfer_with_session(RunContext& run, const std::string& source_path);
  int transfer_on(RunContext& run, db::Session& session, const std::string& source_path);
  int finish_run(RunContext& run, db::Session& session, const std::string& source_path,
                 const HandlerResult& transfer);

  RunOutcome outcome_;
  std::string start_time_;
  FileSystem& files_ = real_file_system();
  std::unique_ptr<InputFile> source_;
};

// Opens the source and both target files, the targets locked against other runs. Both targets
// are attempted even when the source is missing, so that a caller always finds them created
// (or emptied). Returns kExitCompleted when the run can go on, otherwise its exit status.
int Run::open_files(RunContext& run, const char* source_path, const char* target1_path,
                    const char* target2_path) {
  source_ = files_.open_input(source_path);
  if (source_ == nullptr) run.reporter().verbose_console("Quelldatei auf Server nicht gefunden\n");
  const TargetsOpenResult targets = export_open_targets(
      run.time_export(), target1_path, run.cost_centre_export(), target2_path, source_path);
  switch (targets.status) {
    case TargetsOpen::kOpen:
      break;
    case TargetsOpen::kSameFile:
      report_failure(run.reporter(), targets.message);
      return kExitFileError;
    case TargetsOpen::kBusy:
      report_failure(run.reporter(), targets.message);
      return kExitTargetBusy;
    case TargetsOpen::kCannotCreate:
      run.reporter().verbose_console("Zieldatei kann nicht erzeugt werden\n");
      outcome_.reason = source_ == nullptr ? "Quelldatei auf Server nicht gefunden"
                                           : "Zieldatei kann nicht erzeugt werden";
      return kExitFileError;
  }
  if (source_ == nullptr) {
    outcome_.reason = "Quelldatei auf Server nicht gefunden";
    return kExitFileError;
  }
  return kExitCompleted;
}

// Flushes both exports to the disk, commits and moves the exports over their targets, in
// this order, so that a failure at any step leaves the database and the targets without
// anything of the run. Returns the exit status.
int Run::finish_run(RunContext& run, db::Session& session, const std::string& source_path,
                    const HandlerResult& transfer) {
  const Reporter& reporter = run.reporter();
  ExportFile* const exports[] = {&run.time_export(), &run.cost_centre_export()};
  // A check run is read on the console: it shows what the real run would have taken over.
  if (outcome_.check) reporter.console(summary_text(outcome_.transfer.counted));
  const bool source_read = !source_->failed();
  const bool target1_written = exports[0]->finish();
  const bool target2_written = exports[1]->finish();
  const bool exports_complete = target1_written && target2_written;
  if (!source_read) {
    report_failure(reporter, "Quelldatei " + source_path + " konnte nicht gelesen werden" +
                                 std::string(kNothingTakenOver));
  }
  for (const ExportFile* target : exports) {
    if (target->failed()) {
      report_failure(reporter, "Zieldatei " + target->path() + " konnte nicht geschrieben werden" +
                                   std::string(kNothingTakenOver));
    }
  }
  if (!source_read || !exports_complete) return kExitExportFailed;

  if (transfer.outcome == Outcome::kSessionLost) {
    report_failure(reporter, "Datenbanksitzung abgebrochen, Fehler: " +
                                 std::to_string(transfer.status) + std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  if (transfer.outcome == Outcome::kRunMustEnd) {
    report_failure(reporter, "Datenbank nimmt die Buchungen nicht an, Fehler: " +
                                 std::to_string(transfer.status) + std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  if (outcome_.check) {
    // The session ends without its commit: every backend then rolls the transaction back.
    const std::string text =
        "Pr\xFC"
        "flauf: nichts \xFC"
        "bernommen";
    reporter.log("\n\n" + text);
    reporter.console(text + "\n");
    outcome_.reason = text;
    return kExitCompleted;
  }
  const std::int32_t commit_status = db::commit(session);
  if (commit_status != db::kSuccess) {
    report_failure(reporter, "Commit fehlgeschlagen, Fehler: " + std::to_string(commit_status) +
                                 std::string(kNothingTakenOver));
    return kExitNotCommitted;
  }
  outcome_.committed = true;

  // After the commit the database holds the run; an export that cannot be moved into place
  // keeps its staging file, the only copy of its records, and names it.
  const std::string staging_paths[] = {exports[0]->staging_path(), exports[1]->staging_path()};
  const std::array<bool, 2> published = publish_exports(*exports[0], *exports[1]);
  for (std::size_t i = 0; i < published.size(); ++i) {
    if (!published[i]) {
      report_failure(reporter, "Zieldatei " + exports[i]->path() +
                                   " konnte nicht ersetzt werden, die Daten stehen in " +
                                   staging_paths[i]);
    }
  }
  return published[0] && published[1] ? kExitCompleted : kExitExportFailed;
}

// Connects, logs the header, transfers, commits and publishes. Returns the exit status.
int Run::transfer_with_session(RunContext& run, const std::string& source_path) {
  db::SessionPtr session;
  const std::int32_t connected =
      connect_step(host_path(kConfigFileWindowsPath), run.reporter(), session, &outcome_.backend);
  if (connected != db::kSuccess) {
    outcome_.reason = "Datenbankverbindung fehlgeschlagen, Fehler: " + std::to_string(connected);
    return kExitConnectionFailed;
  }
  run.use_session(*session, insert_batch_size());
  const int exit_status = transfer_on(run, *session, source_path);
  run.end_session();
  return exit_status;
}

int Run::transfer_on(RunContext& run, db::Session& session, const std::string& source_path) {
  // The server time is the run's first statement: a session that cannot answer it (SQLite's
  // file locked by another writer past the busy timeout, for example) is a failed connection,
  // reported before any booking is read.
  std::string server_time;
  const std::int32_t time_status = db::read_server_time(session, server_time);
  if (time_status != db::kSuccess) {
    report_connection_failure(run.reporter(), time_status);
    outcome_.reason = "Datenbankverbindung fehlgeschlagen, Fehler: " + std::to_string(time_status);
    return kExitConnectionFailed;
  }
  run.reporter().log(std::string(kHeaderStart) + server_time + ":" +
                     (outcome_.check ? " Pr\xFC"
                                       "flauf"
                                     : ""));

  // Lines that do not get through go to a reject file of this run; a check run only names
  // them on the console.
  RejectFile reject_file(log_directory() + reject_file_name(run.terminal_name(), start_time_,
                                                            static_cast<long>(files_.process_id())),
                         run.reporter());
  RejectReport reject_report(run.reporter());
  RejectSink& rejects = outcome_.check ? static_cast<RejectSink&>(reject_report) : reject_file;
  std::optional<TerminalProgress> progress;
  if (is_terminal(stderr)) {
    progress.emplace(stderr, static_cast<std::int64_t>(files_.file_size(source_path).value_or(0)));
  }

  outcome_.transfer = transfer_bookings(run, source_->stream(), kBookingKinds, &rejects,
                                        progress ? &*progress : nullptr);
  if (progress) progress->finish();
  const int exit_status = finish_run(run, session, source_path, outcome_.transfer.ended);
  // A run that is not taken over is fed again whole: its reject file would only mislead.
  if (!outcome_.committed) reject_file.discard();
  outcome_.reject_file = reject_file.path();
  outcome_.duplicate_hint_refused = db::duplicate_hint_refusal(session);
  return exit_status;
}

RunOutcome Run::run(int argc, char** argv, std::FILE* console) {
  if (argc < 5) {
    std::fputs("Parameterfehler", console);
    outcome_.exit_status = kExitParameterError;
    outcome_.reason = "Parameterfehler";
    return outcome_;
  }
  const bool verbose = argc > 5 && upper_case(argv[5]) == "/D";
  if (std::strlen(argv[1]) > kTerminalNameMaxLength) {
    std::fputs("Terminalname zu lang", console);
    outcome_.exit_status = kExitParameterError;
    outcome_.reason = "Terminalname zu lang";
    return outcome_;
  }
  RunContext run(argv[1], Reporter(host_path(kTransferLogWindowsPath), console, verbose));

  // A check run writes its exports into files of its own, removed at the end: the targets are
  // neither emptied nor locked.
  std::string target1 = argv[3];
  std::string target2 = argv[4];
  if (outcome_.check) {
    const std::string prefix = (std::filesystem::path(files_.temp_directory()) /
                                ("zarvelt-check-" + std::to_string(files_.process_id())))
                                   .string();
    target1 = prefix + "-1.txt";
    target2 = prefix + "-2.txt";
  }

  outcome_.exit_status = open_files(run, argv[2], target1.c_str(), target2.c_str());
  if (outcome_.exit_status == kExitCompleted) {
    outcome_.exit_status = transfer_with_session(run, argv[2]);
  }

  // Every file that opened is closed here, target file 2 included, rather than left to the
  // process end. A run that was not committed leaves its targets empty and removes its
  // staging files.
  source_.reset();
  ExportFile* const exports[] = {&run.time_export(), &run.cost_centre_export()};
  if (!outcome_.committed) {
    for (ExportFile* target : exports) target->discard();
  }
  // Only now may another run on the same targets go on.
  for (ExportFile* target : exports) target->release();
  if (outcome_.check) {
    files_.remove(target1);
    files_.remove(target2);
  }
  return outcome_;
}

}  // namespace

// The batch is one of the three bounds on what a run holds (driver/transfer_loop.cc).
std::size_t insert_batch_size() {
  constexpr std::size_t kDefault = 1000;
  const char* text = std::getenv("ZARVELT_BATCH_SIZE");
  if (text == nullptr) return kDefault;
  const std::int32_t size = decimal_integer(text);
  return size >= 1 && size <= 10000 && std::to_string(size) == text ? static_cast<std::size_t>(size)
                                                                    : kDefault;
}

RunOutcome run_transfer(int argc, char** argv, std::FILE* console) {
  if (answer_help_or_version(argc, argv, console)) return {};  // exit status 0
  const auto started = std::chrono::steady_clock::now();
  RunRecord record;
  record.start = local_time_text(true);
  const std::string start_time = local_time_text(false);
  // "--check" as the first word makes the rest the command line of a check run.
  const bool check = argc > 1 && argv[1] == kCheckOption;
  if (check) {
    --argc;
    ++argv;
  }
  const RunOutcome outcome = Run(check, start_time).run(argc, argv, console);

  record.end = local_time_text(true);
  record.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  record.check = outcome.check;
  for (int i = 1; i < argc && i <= 4; ++i) {
    std::string* fields[] = {&record.terminal, &record.source, &record.target1, &record.target2};
    *fields[i - 1] = argv[i];
  }
  record.lines_read = outcome.transfer.lines_read;
  record.lines_rejected = outcome.transfer.lines_rejected;
  record.transferred = outcome.transfer.counted;
  record.exit_status = outcome.exit_status;
  record.reason = outcome.reason.empty() ? std::string(
                                               "\xDC"
                                               "bergabe abgeschlossen")
                                         : outcome.reason;
  record.backend = outcome.backend;
  record.reject_file = outcome.reject_file;
  record.duplicate_hint_refused = outcome.duplicate_hint_refused;
  append_run_record(log_directory() + std::string(kRunRecordFileName), record);
  return outcome;
}

int run_program(int argc, char** argv, std::FILE* console) {
  forbid_core_dumps();
  return run_transfer(argc, argv, console).exit_status;
}

}  // namespace zarvelt
