#include "fault_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "config_tool/config_writer.h"

namespace zarvelt::testing {

namespace fs = std::filesystem;

namespace {

// Badge 4711 belongs to client MAND01, whose function code K1 has booking type 3; zone Z12
// carries zone number 7.
constexpr const char* kCentralData = R"sql(
insert into KVSYSTEM.KVS112MND values (1, 1, 'MAND01');
insert into KVSYSTEM.KVS301ASW values ('4711', 1, 1, '4711', '2024-01-01 00:00:00', null);
insert into KVSYSTEM.KVS405ZZS values ('Z12', 7);
)sql";
constexpr const char* kClientData = "insert into KVS131FCD values ('K1', 3)";

// A booking time of its own for each number: seconds of the day from 06:00:00 on, then the
// next days of March 2024.
std::string booking_date(int number) {
  char date[16];
  std::snprintf(date, sizeof date, "202403%02d", 1 + number / 60000 % 28);
  return date;
}
std::string booking_time(int number) {
  const int seconds = 6 * 3600 + number % 60000;
  char time[16];
  std::snprintf(time, sizeof time, "%02d%02d%02d", seconds / 3600 % 24, seconds / 60 % 60,
                seconds % 60);
  return time;
}

}  // namespace

std::string time_and_access_line(int number) {
  return "4711,," + booking_date(number) + "," + booking_time(number) +
         ",,T1,1,K1,,,1,1,,,,40p\r\n";
}

std::string cost_centre_line(int number) {
  return "4711,," + booking_date(number) + "," + booking_time(number) + ",,T1,2,,KST" +
         std::to_string(number % 1000) + ",,,,,,,50p\r\n";
}

std::string event_line(int number) {
  return "4711,," + booking_date(number) + "," + booking_time(number) +
         ",,T1,3,025,,,,,200,Z,,dta\r\n";
}

std::string mixed_booking_file(int lines_per_kind) {
  std::string file;
  for (int i = 0; i < lines_per_kind; ++i) {
    file += time_and_access_line(3 * i) + cost_centre_line(3 * i + 1) + event_line(3 * i + 2);
  }
  return file;
}

FaultInstallation::FaultInstallation(DbBackend backend)
    : db_(DbInstallation::create(backend, {"MAND01"}, (tree_.root() / "db").string())) {
  if (!db_->available()) return;
  db_->execute(kCentralData);
  db_->execute(kClientData, "MAND01");
  testing::write_installation_config(tree_.config_path().string(), tree_.working_dir().string(),
                                     *db_);
}

void FaultInstallation::write_source(const std::string& bytes) {
  write_file(in_working_dir("source.txt"), bytes);
}

ProgramRun FaultInstallation::run(const Environment& environment,
                                  const std::vector<std::string>& extra_arguments) {
  std::vector<std::string> arguments = {kFaultTerminal, "source.txt", "target1.txt", "target2.txt"};
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  return run_zarvelt(arguments, tree_.working_dir(), environment);
}

std::vector<std::string> FaultInstallation::stored_rows() {
  std::vector<std::string> rows = db_->query(
      "select 'ZPK', ZpkTrm, ZpkLes, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkLfd "
      "from KVSYSTEM.KVS402ZPK");
  for (std::string& row : db_->query("select 'PROT', BPRTRM, BPRZLS, BPRAWV, BPRDTE, BPRFCD, "
                                     "BPRERG from KVSYSTEM.O2009BUCHPROT")) {
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string FaultInstallation::target1() const {
  return read_file(in_working_dir("target1.txt")).value_or("<missing>");
}
std::string FaultInstallation::target2() const {
  return read_file(in_working_dir("target2.txt")).value_or("<missing>");
}
std::string FaultInstallation::log() const { return read_file(tree_.log_path()).value_or(""); }

std::vector<std::string> FaultInstallation::stray_files() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(tree_.working_dir())) {
    const std::string name = entry.path().filename().string();
    if (name != "source.txt" && name != "target1.txt" && name != "target2.txt") {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

Environment fault_environment(const std::string& path_part, const std::string& calls, int after,
                              const std::string& error, bool short_writes) {
  Environment environment = {
      {"ZARVELT_FAULT_PATH", path_part},
      {"ZARVELT_FAULT_CALLS", calls},
      {"ZARVELT_FAULT_AFTER", std::to_string(after)},
      {"ZARVELT_FAULT_ERRNO", error},
      {"ZARVELT_FAULT_SHORT", short_writes ? "1" : "0"},
  };
#ifdef ZARVELT_FAULT_SHIM
  environment.emplace_back("LD_PRELOAD", ZARVELT_FAULT_SHIM);
  // A sanitized program wants its runtime first in the library list; the library comes first.
  const char* asan_options = std::getenv("ASAN_OPTIONS");
  environment.emplace_back(
      "ASAN_OPTIONS", std::string(asan_options ? asan_options : "") + ":verify_asan_link_order=0");
#endif
  return environment;
}

bool fault_library_available() {
#ifdef ZARVELT_FAULT_SHIM
  return true;
#else
  return false;
#endif
}

}  // namespace zarvelt::testing
