// Placeholder until the run lands.
#include "driver/program.h"

namespace zarvelt {

int run_program(int argc, char**, std::FILE* console) {
  if (argc < 5) {
    std::fputs("Parameterfehler", console);
    return kExitParameterError;
  }
  return kExitCompleted;
}

}  // namespace zarvelt
