// Small helpers shared by the program.
#include "Helper.h"

#include <cstdio>

namespace Helper {

void hexDump(const FXuchar* buffer) {
  const unsigned LINE = 16;
  for (unsigned offset = 0; offset < 512; offset += LINE) {
    fprintf(stderr, "%5d %08lx  ", offset, (unsigned long)offset);
    for (unsigned i = 0; i < LINE; i++) fprintf(stderr, "%02x ", buffer[offset + i]);
    fputc(' ', stderr);
    for (unsigned i = 0; i < LINE; i++) {
      FXuchar c = buffer[offset + i];
      fputc(c < 32 || c > 126 ? '.' : c, stderr);
    }
    fputc('\n', stderr);
  }
}

}  // namespace Helper
