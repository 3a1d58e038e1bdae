// The zarvelt executable: the library's run and nothing else.
#include "driver/program.h"

int main(int argc, char** argv) { return zarvelt::run_program(argc, argv); }
