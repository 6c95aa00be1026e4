// How the cost of a text lookup grows with the size of the language files.
//
// The files are read and indexed once per load, so a lookup should cost the
// same however large they are, and a load should grow with their size.  The
// shipped files are the baseline (1x); the run then adds copies of the
// Russian file under other language codes (2x, 4x, 8x the text) and reports
// each cost as a ratio to the baseline, plus what the wizard's start-up (one
// lookup per key) costs at each size.
//
//   build/bench/bench_lookup
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Information.h"
#include "TextKeys.h"

static std::string readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

static void writeFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

static std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Seconds per GetString(key, lang) over every key of the table, repeated
// until the run takes a while.  A language without texts is the worst case
// of a line-by-line reading (every line is read); a real one stops at the
// matching line, which may stand anywhere in the listing order.
static double secondsPerLookup(Information& info, const char* lang) {
  const std::vector<TextKeys::KeyUse>& keys = TextKeys::All();
  size_t lookups = 0;
  auto start = std::chrono::steady_clock::now();
  double elapsed = 0;
  do {
    for (const TextKeys::KeyUse& use : keys) info.GetString(use.key, lang);
    lookups += keys.size();
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < 0.5);
  return elapsed / lookups;
}

// Seconds to read the files again and find the first text: the cost of one
// load, which the lookups after it no longer pay.
static double secondsPerLoad(Information& info) {
  const char* key = TextKeys::All().front().key;
  size_t loads = 0;
  auto start = std::chrono::steady_clock::now();
  double elapsed = 0;
  do {
    Information::translations = FXString::null;
    info.GetString(key, "DE");
    loads++;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < 0.5);
  return elapsed / loads;
}

int main() {
  const std::string source = KV_SOURCE_DIR;
  char folder[] = "/tmp/kvbench.XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) return 1;
  mkdir("lang", 0755);
  const std::string russian = readFile(source + "/lang/ru.lng");
  for (const char* name : {"en.lng", "de.lng", "ru.lng"})
    writeFile(std::string("lang/") + name, readFile(source + "/lang/" + name));

  std::printf("%-6s %8s | %16s %6s | %16s %6s | %18s | %10s %6s\n", "size", "bytes", "missing us/look", "ratio",
              "German us/look", "ratio", "wizard start (ms)", "load (ms)", "ratio");
  double baseline = 0, baselineDE = 0, baseLoad = 0;
  size_t baseBytes = 0;
  int copies = 0;
  for (int factor : {1, 2, 4, 8}) {
    Information::translations = FXString::null;
    Information::langEncodings.clear();
    Information::ReadTranslations();
    // Grow the files until the text is `factor` times the shipped size.
    if (factor == 1) baseBytes = (size_t)Information::translations.length();
    while ((size_t)Information::translations.length() < factor * baseBytes) {
      std::string code = "X" + std::to_string(++copies);
      writeFile("lang/copy" + std::to_string(copies) + ".lng",
                replaceAll(replaceAll(russian, "'RU'", "'" + code + "'"), "languages=", "#"));
      Information::translations = FXString::null;
      Information::ReadTranslations();
    }
    Information info;
    double missing = secondsPerLookup(info, "none");
    double german = secondsPerLookup(info, "DE");
    double load = secondsPerLoad(info);
    if (factor == 1) baseline = missing, baselineDE = german, baseLoad = load;
    // The wizard looks up each key once when it is built; with the fall-back
    // to English a missing text costs two lookups.
    std::printf("%-6s %8d | %16.1f %6.2f | %16.1f %6.2f | %18.1f | %10.2f %6.2f\n",
                (std::to_string(factor) + "x").c_str(), Information::translations.length(), missing * 1e6,
                missing / baseline, german * 1e6, german / baselineDE, german * TextKeys::All().size() * 1e3,
                load * 1e3, load / baseLoad);
  }
  std::string cleanup = std::string("rm -rf ") + folder;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
