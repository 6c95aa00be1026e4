// Small helpers shared by the program.
#include "Helper.h"

#include <climits>
#include <cstdio>

#include "compat/Assert.h"

namespace Helper {

void hexDump(const FXuchar* buffer) {
  const unsigned LINE = 16;
  for (unsigned offset = 0; offset < 512; offset += LINE) {
    FXString line, chars;
    line.format("%5d %08lx  ", offset, (unsigned long)offset);
    for (unsigned i = 0; i < LINE; i++) {
      FXuchar c = buffer[offset + i];
      line += FXStringFormat("%02x ", c);
      chars += (FXchar)(c < 32 || c > 126 ? '.' : c);
    }
    KV_TRACE(9, "%s %s\n", line.text(), chars.text());
  }
}

}  // namespace Helper

bool ParseUnsigned(const FXString& text, FXulong& value) {
  if (text.empty() || text.length() > 20) return false;
  FXulong v = 0;
  for (FXint i = 0; i < text.length(); i++) {
    FXchar c = text[i];
    if (c < '0' || c > '9') return false;
    FXulong digit = (FXulong)(c - '0');
    if (v > (~(FXulong)0 - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

bool ParseInt(const FXString& text, FXint& value) {
  FXulong v;
  if (!ParseUnsigned(text, v) || v > (FXulong)INT_MAX) return false;
  value = (FXint)v;
  return true;
}
