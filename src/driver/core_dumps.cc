// Keeping the password out of core images and crash dumps, per platform.
#include "driver/core_dumps.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

namespace zarvelt {

void forbid_core_dumps() {
#ifdef _WIN32
  // No fault dialog and no report to the system's error reporting, which would take a dump.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
#else
  const rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace zarvelt
