// Small helpers shared by the program.
#ifndef KV_HELPER_H
#define KV_HELPER_H

#include <fx.h>

namespace Helper {
// Traces 512 bytes (level 9) as 32 lines of 16 bytes.
void hexDump(const FXuchar* buffer);
}

// Strict decimal numbers, as options give them: digits only, no sign, no
// blanks, no overflow.
bool ParseUnsigned(const FXString& text, FXulong& value);
bool ParseInt(const FXString& text, FXint& value);

#endif
