// Fuzz target: a whole run of the program over a fuzzed booking file of terminal T1, into an
// SQLite installation of its own (a temporary directory per process, with master data for
// every kind of booking). Every run must end with status 0, commit, and leave no staging file;
// the database is reset to its first state before each run so that runs stay alike.
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config_tool/config_writer.h"
#include "driver/program.h"

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) std::abort();
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void create_database(const fs::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "transfer_fuzz: %s\n", message ? message : "?");
    std::abort();
  }
  sqlite3_close(db);
}

// Badge 4711 of client MAND01 with function codes K1 and K2 (K2 translated to Q12), badge
// 4712 of a client whose schema does not exist, a client with a hostile schema name, zones
// Z1200 and Z2200 (twice).
constexpr const char* kMasterData = R"sql(
insert into KVS112MND values (1, 1, 'MAND01');
insert into KVS112MND values (1, 2, 'NOSUCH');
insert into KVS112MND values (1, 3, 'X";DROP TABLE Y--');
insert into KVS301ASW values ('4711', 1, 1, '4711', '2024-01-01 00:00:00', null);
insert into KVS301ASW values ('4712', 1, 2, 'P2', null, null);
insert into KVS301ASW values ('4713', 1, 3, 'P3', null, null);
insert into KVS405ZZS values ('Z1200', 7);
insert into KVS405ZZS values ('Z2200', 8);
insert into KVS405ZZS values ('Z2200', 9);
)sql";
constexpr const char* kClientData = R"sql(
insert into KVS131FCD values ('K1', 3);
insert into KVS131FCD values ('K2', -12);
insert into KVS131FCDUEB values ('K2', 'Q12');
)sql";

struct Installation {
  fs::path root;
  fs::path central;   // the database the run writes
  fs::path pristine;  // its first state
};

// Built once per process; the process then works in root/a/b, as the program expects.
const Installation& installation() {
  static const Installation built = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "zarvelt-fuzz-transfer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    Installation i{pattern, fs::path(pattern) / "db" / "KVSYSTEM.db",
                   fs::path(pattern) / "db" / "KVSYSTEM.pristine"};
    for (const char* directory : {"Files", "Velmarion_php/log", "a/b", "db"}) {
      fs::create_directories(i.root / directory);
    }
    const fs::path sql = fs::path(ZARVELT_SOURCE_DIR) / "sql" / "sqlite";
    create_database(i.central, read_text(sql / "central.sql") + kMasterData);
    create_database(i.root / "db" / "MAND01.db", read_text(sql / "client.sql") + kClientData);
    fs::copy_file(i.central, i.pristine);
    const zarvelt::ConfigWriteResult written = zarvelt::write_config_values(
        (i.root / "Files" / "velmarion.ini").string(),
        {{"LOGIN", "zarvelt"}, {"PASS", "fuzz"}, {"NET8", "sqlite3:../../db/KVSYSTEM.db"}});
    if (!written.ok) std::abort();
    fs::current_path(i.root / "a" / "b");
    static const std::string root = i.root.string();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(root, ignored);
    });
    return i;
  }();
  return built;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Installation& i = installation();
  // libFuzzer's timeout alarm interrupts system calls; the copy is simply made again.
  std::error_code copy_error;
  do {
    fs::copy_file(i.pristine, i.central, fs::copy_options::overwrite_existing, copy_error);
  } while (copy_error == std::errc::interrupted);
  if (copy_error) std::abort();
  {
    std::ofstream source("source.txt", std::ios::binary | std::ios::trunc);
    source.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::FILE* console = std::fopen("/dev/null", "w");
  if (console == nullptr) std::abort();
  std::vector<std::string> words = {"zarvelt",     "T1",          "source.txt",
                                    "target1.txt", "target2.txt", "/D"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  const zarvelt::RunOutcome outcome =
      zarvelt::run_transfer(static_cast<int>(argv.size()), argv.data(), console);
  std::fclose(console);

  if (outcome.exit_status != zarvelt::kExitCompleted || !outcome.committed) {
    std::fprintf(stderr, "transfer_fuzz: exit status %d\n", outcome.exit_status);
    std::abort();
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
    if (entry.path().extension() == ".tmp") std::abort();
  }
  // Each run leaves its run record line and, when it rejected lines, its reject files: not
  // kept across thousands of runs.
  std::error_code ignored;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(i.root / "Velmarion_php" / "log")) {
    if (entry.path().filename() != "ZarveltLog.txt") fs::remove(entry.path(), ignored);
  }
  return 0;
}
