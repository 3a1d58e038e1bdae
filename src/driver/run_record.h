// The run record: one JSON line per run, every run included (also those that end early), for a
// monitor to read. Appended to ZarveltRuns.jsonl in the log directory with a single write, so
// that the lines of runs that end at the same time never mix.
#pragma once

#include <cstdint>
#include <string>

#include "driver/dispatch.h"

namespace zarvelt {

struct RunRecord {
  std::string start;  // local time, yyyy-mm-ddThh:mm:ss
  std::string end;
  std::int64_t duration_ms = 0;
  bool check = false;
  std::string terminal;
  std::string source;
  std::string target1;
  std::string target2;
  std::int64_t lines_read = 0;
  Counters transferred{};  // by booking kind, each under its kind's record label
  std::int64_t lines_rejected = 0;
  int exit_status = 0;
  std::string reason;  // why the run ended so, in the console's words
  std::string backend;
  std::string reject_file;  // empty: none
  // The status with which the database refused the inserts' duplicate-absorbing form, after
  // which they ran in their plain form; 0: not refused (and not in the record).
  std::int32_t duplicate_hint_refused = 0;
};

// The record as one line of JSON, UTF-8 (texts are taken as Windows-1252), with its LF.
std::string run_record_json(const RunRecord& record);

// Appends the record to the file at path with one write; false when it could not.
bool append_run_record(const std::string& path, const RunRecord& record);

// The local time as yyyy-mm-ddThh:mm:ss (iso) or yyyymmdd-hhmmss (for file names).
std::string local_time_text(bool iso);

}  // namespace zarvelt
