// An analyser over a fuzzed image, built as the program builds it, with
// the engine's process-wide state reset first so runs do not leak into
// each other.
#ifndef KV_FUZZ_ENGINE_RUN_H
#define KV_FUZZ_ENGINE_RUN_H

#include <memory>
#include <string>
#include <vector>

#include "Analyse.h"

namespace kvfuzz {

// Nothing a target does ever reaches a real disk: every run is a simulation.
std::unique_ptr<Analyse> simulatedAnalyser(std::vector<std::string> options);

}  // namespace kvfuzz

#endif
