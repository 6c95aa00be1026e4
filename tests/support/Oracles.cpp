#include "support/Oracles.h"

#include <fstream>
#include <sstream>

#include "support/LostDisk.h"
#include "support/TestImages.h"

namespace kvtest {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool copySparse(const std::string& from, const std::string& to) {
  return sh("cp --sparse=always " + quote(from) + " " + quote(to)) == 0;
}

std::map<std::string, std::string> blkidProbe(const std::string& image, unsigned long long sector,
                                              unsigned long long sectors) {
  std::string out;
  sh("blkid -p -o export --offset " + std::to_string(sector * 512) +
         (sectors ? " --size " + std::to_string(sectors * 512) : std::string()) + " " + quote(image),
     &out);
  std::map<std::string, std::string> fields;
  for (const std::string& line : splitLines(out)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

std::string onJson(const std::string& document, const std::string& python) {
  std::string out = runProgram("python3 -c " + quote("import json,sys\nd=json.load(sys.stdin)\n" + python),
                               document)
                        .out;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

int checkSchema(const std::string& schema, const std::string& document, std::string* complaints) {
  const std::string source = KV_SOURCE_DIR;
  TempDir dir;
  std::ofstream(dir.path("document.json")) << document;
  return sh("python3 " + quote(source + "/tests/support/json_schema_check.py") + " " +
                quote(source + "/cli/schema/" + schema) + " " + quote(dir.path("document.json")),
            complaints);
}

}  // namespace kvtest
