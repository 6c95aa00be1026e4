#include "support/WorkDir.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "Information.h"

namespace kvtest {

void resetInformation() {
  Information::configParams.clear();
  Information::translations = FXString::null;
  Information::langEncodings.clear();
  Information::langFonts.clear();
  Information::currentEncoding = 0;
}

WorkDir::WorkDir() {
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof(cwd))) throw std::runtime_error("getcwd failed");
  previous = cwd;
  if (chdir(temp.path().c_str()) != 0) throw std::runtime_error("chdir failed");
  resetInformation();
}

WorkDir::~WorkDir() {
  resetInformation();
  if (chdir(previous.c_str()) != 0) perror("chdir");
}

void WorkDir::write(const std::string& name, const std::string& bytes) {
  for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
    mkdir(path(name.substr(0, slash)).c_str(), 0755);
  std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string languageHeader(const std::string& name, const std::string& code, int encoding,
                           const std::string& font) {
  return "language='" + name + "'.short='" + code + "'.encoding='" + std::to_string(encoding) +
         "'.font='" + font + "'\n";
}

std::string testOutputDir() {
#ifdef KV_TEST_OUTPUT_DIR
  std::string dir = KV_TEST_OUTPUT_DIR;
#else
  std::string dir = "test-output";
#endif
  mkdir(dir.c_str(), 0755);
  return dir;
}

}  // namespace kvtest
