// A test that reads default.cfg and lang/ from the current directory runs in
// a WorkDir: a fresh temporary folder made the current directory, with the
// process-wide tables of Information cleared on the way in and out.
#ifndef KV_TEST_WORKDIR_H
#define KV_TEST_WORKDIR_H

#include <string>

#include "support/TestImages.h"

namespace kvtest {

// Forgets everything Information has read: configuration, language files and
// the tables made from their headers.
void resetInformation();

class WorkDir {
public:
  WorkDir();
  ~WorkDir();
  // Writes `bytes` to `name` (relative to the folder), making folders on the way.
  void write(const std::string& name, const std::string& bytes);
  std::string path(const std::string& name = "") const { return temp.path(name); }

private:
  TempDir temp;
  std::string previous;
};

// The header line of a language file: the language's name, its code, the
// encoding of its texts and the font it is shown in ("" for the default).
std::string languageHeader(const std::string& name, const std::string& code, int encoding,
                           const std::string& font = "");

// A folder in the build tree for screenshots and other things to look at.
std::string testOutputDir();

}  // namespace kvtest

#endif
