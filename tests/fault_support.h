// A complete installation for runs of the real program under faults: the installation tree, a
// database (SQLite or PostgreSQL) with master data for every kind of booking, a configuration
// file that points at it, a booking file, and what a run left behind (rows of the run, export
// files, stray files). Also the environment that loads the fault-injection library.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db_fixture.h"
#include "test_support.h"

namespace zarvelt::testing {

// The terminal whose bookings the installation's booking file holds.
inline constexpr const char* kFaultTerminal = "T1";

// Booking lines of kFaultTerminal, numbered so that each line has its own booking time:
// a time booking with its access booking, a cost-centre booking and
// an event with its access booking.
std::string time_and_access_line(int number);
std::string cost_centre_line(int number);
std::string event_line(int number);

// lines_per_kind of each of the three kinds, interleaved.
std::string mixed_booking_file(int lines_per_kind);

class FaultInstallation {
 public:
  explicit FaultInstallation(DbBackend backend = DbBackend::kSqlite);

  bool available() const { return db_->available(); }
  DbInstallation& db() { return *db_; }
  TempInstallation& tree() { return tree_; }
  std::filesystem::path in_working_dir(const std::string& name) const {
    return tree_.working_dir() / name;
  }

  void write_source(const std::string& bytes);

  // Runs the program as "T1 source.txt target1.txt target2.txt" plus extra arguments.
  ProgramRun run(const Environment& environment = {},
                 const std::vector<std::string>& extra_arguments = {});

  // The run-dependent columns of every access and event row, sorted; empty when nothing of
  // any run is in the database.
  std::vector<std::string> stored_rows();
  std::string target1() const;
  std::string target2() const;
  std::string log() const;
  // Names in the working directory other than the source and the two targets.
  std::vector<std::string> stray_files() const;

 private:
  TempInstallation tree_;
  std::unique_ptr<DbInstallation> db_;
};

// The environment that loads the fault-injection library into the program: fail the given
// calls (comma-separated, empty for all) on files whose path contains path_part, after
// `after` of them succeeded.
Environment fault_environment(const std::string& path_part, const std::string& calls, int after = 0,
                              const std::string& error = "ENOSPC", bool short_writes = false);

// True when the fault-injection library was built (Linux).
bool fault_library_available();

}  // namespace zarvelt::testing
