#include "driver/core_dumps.h"

#ifdef _WIN32
#include <stdlib.h>
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>
#endif

namespace zarvelt {

void forbid_core_dumps() {
#ifdef _WIN32
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#else
  const rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace zarvelt
