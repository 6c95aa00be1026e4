// Assertions and tracing as the program uses them on FOX 1.6.
//
// FOX 1.6 compiles FXASSERT away unless DEBUG is defined and prints its own
// format.  Kelvarin always checks its assertions, reports a failure as
// "file(line): FXASSERT(expr) failed." on the assertion output and carries on.
#ifndef KV_COMPAT_ASSERT_H
#define KV_COMPAT_ASSERT_H

#include <fx.h>

namespace kv {
void assertFailed(const char* expression, const char* file, unsigned int line);

// Where assertion reports go; tests capture them.  Defaults to stderr.
typedef void (*AssertSink)(const char* text);
AssertSink setAssertSink(AssertSink sink);
}  // namespace kv

#undef FXASSERT
#define FXASSERT(exp) ((exp) ? ((void)0) : kv::assertFailed(#exp, __FILE__, __LINE__))

// Trace lines print when the trace level given with -tracelevel exceeds their level.
#define KV_TRACE(level, ...) FX::fxtrace((level), __VA_ARGS__)

#endif
