// Small helpers shared by the program.
#ifndef KV_HELPER_H
#define KV_HELPER_H

#include <fx.h>

namespace Helper {
// Writes 512 bytes to stderr as 32 lines of 16 bytes.
void hexDump(const FXuchar* buffer);
}

#endif
