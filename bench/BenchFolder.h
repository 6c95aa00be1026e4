// Where a benchmark keeps its images: the folder named on its command line,
// or a fresh one under /tmp.
#ifndef KV_BENCH_BENCHFOLDER_H
#define KV_BENCH_BENCHFOLDER_H

#include <stdlib.h>

#include <string>

// Empty when no folder could be made.
inline std::string BenchFolder(int argc, char** argv) {
  if (argc > 1) return argv[1];
  char pattern[] = "/tmp/kvbench.XXXXXX";
  return mkdtemp(pattern) ? std::string(pattern) : std::string();
}

#endif
