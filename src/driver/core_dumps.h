// The program holds the deciphered database password while it connects: a core image or a
// crash dump of the process could carry it to wherever such files go.
#pragma once

namespace zarvelt {

// Keeps the process from writing a core image (Linux: not dumpable, no core size) or a crash
// dump of its own (Windows: no error dialog, no fault report).
void forbid_core_dumps();

}  // namespace zarvelt
