// The help and version texts.
#include "driver/usage.h"

#include <cstring>

namespace zarvelt {

namespace {

// Plain ASCII, so that it reads the same on a Windows-1252 console and a UTF-8 terminal.
constexpr const char* kUsage =
    "usage: zarvelt <terminal> <source file> <target file 1> <target file 2> [/D]\n"
    "       zarvelt --check <terminal> <source file> <target file 1> <target file 2> [/D]\n"
    "       zarvelt --help | -h | /? | --version\n"
    "\n"
    "Transfers the booking lines of one terminal from the source file: time bookings to\n"
    "target file 1, cost-centre bookings to target file 2, access bookings and events into\n"
    "the database, committed once at the end. /D (any letter case) echoes every line read\n"
    "and prints the details of bookings that could not be resolved.\n"
    "--check as the first word does the same against the database, then keeps nothing: no\n"
    "row, the targets untouched, no reject file; it prints the summary and the lines a real\n"
    "run would reject, and ends with the exit status the real run would give.\n"
    "\n"
    "Run it from a directory two levels below the installation root:\n"
    "  ../../Files/velmarion.ini               configuration: LOGIN, PASS, NET8, enciphered\n"
    "                                          (write it with zarvelt_config)\n"
    "  ../../Velmarion_php/log/ZarveltLog.txt  transfer log, appended by every run\n"
    "\n"
    "Exit status: 0 transferred (single bookings may have failed, see the log);\n"
    "-1 (255) parameter error; 74 the source file could not be read or an export file not\n"
    "written; 75 no database connection, or nothing committed (retry later); 94 the source\n"
    "file cannot be opened or a target file cannot be created. See man zarvelt.\n";

}  // namespace

bool answer_help_or_version(int argc, char** argv, std::FILE* console) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "/?") == 0) {
    std::fputs(kUsage, console);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::fputs("zarvelt " ZARVELT_VERSION "\n", console);
    return true;
  }
  return false;
}

}  // namespace zarvelt
