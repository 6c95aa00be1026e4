#include "compat/Assert.h"

#include <cstdio>

namespace kv {

static void toStderr(const char* text) { fputs(text, stderr); }

static AssertSink assertSink = toStderr;

AssertSink setAssertSink(AssertSink sink) {
  AssertSink previous = assertSink;
  assertSink = sink ? sink : toStderr;
  return previous;
}

void assertFailed(const char* expression, const char* file, unsigned int line) {
  char text[1024];
  snprintf(text, sizeof(text), "%s(%u): FXASSERT(%s) failed.\n", file, line, expression);
  assertSink(text);
}

}  // namespace kv
