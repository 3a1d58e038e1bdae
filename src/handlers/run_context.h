// Everything one run works with once its files are open and its session connected: the
// session with its master data, the two export files, the reporter and the counters. The driver
// sets it up; each handler takes the parts it uses.
#pragma once

#include <cstdint>
#include <string>

#include "db/session.h"
#include "handlers/export_file.h"
#include "handlers/insert_queue.h"
#include "handlers/master_data.h"
#include "log/reporter.h"

namespace zarvelt {

struct Counters {
  std::int32_t time_bookings = 0;
  std::int32_t access_bookings = 0;
  std::int32_t cost_centre_bookings = 0;
  std::int32_t events = 0;
};

struct RunContext {
  std::string terminal_name;  // at most 255 characters
  Reporter reporter;
  db::Session* session = nullptr;
  ExportFile target1;  // time booking export
  ExportFile target2;  // cost-centre export
  Counters counters;
  MasterData* master_data = nullptr;  // the lookups of the run, over session
  InsertQueue* inserts = nullptr;     // where the run's inserts wait, over session
};

}  // namespace zarvelt
