// The console program's command line: the input is its arguments, separated
// by NUL bytes.  Only parsed: no command runs and no disk is opened.
#include "CommandLine.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1, "kelvarin-cli");
  words.push_back(std::string());
  for (size_t i = 0; i < size; i++) {
    if (data[i] == 0) words.push_back(std::string());
    else words.back() += (char)data[i];
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  CommandLine line;
  UsageError error;
  ParseCommandLine((int)argv.size(), argv.data(), line, error);
  return 0;
}
