// The state of one run, set up by the program entry and read or updated by the transfer loop
// and the handlers. Passed explicitly; there are no globals.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "handlers/export_file.h"

namespace zarvelt {

namespace db {
struct Session;
}

struct Counters {
  std::int32_t time_bookings = 0;
  std::int32_t access_bookings = 0;
  std::int32_t cost_centre_bookings = 0;
  std::int32_t events = 0;
};

struct TransferState {
  std::string terminal_name;  // at most 255 characters
  bool verbose = false;       // "/D"
  std::FILE* console = stdout;
  std::string log_path;  // host path of the transfer log
  std::FILE* source = nullptr;
  ExportFile target1;  // time booking export
  ExportFile target2;  // cost-centre export
  Counters counters;
  std::int32_t last_status = 0;  // status of the last database step
  std::string current_schema;    // client schema the time booking export last switched to
  db::Session* session = nullptr;
};

}  // namespace zarvelt
