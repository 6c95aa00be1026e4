// The language-file parser and the check of each translation's format
// against the arguments its key is used with: the input is a language file.
#include <sys/stat.h>

#include "FuzzSupport.h"
#include "Information.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::quiet();
  static bool placed = [] {
    Information::dataPlaces.assign(1, kvfuzz::scratch().c_str());
    return mkdir((kvfuzz::scratch() + "/lang").c_str(), 0700) == 0;
  }();
  if (!placed) return 0;
  kvfuzz::put("lang/xx.lng", data, size);
  Information::translations = FXString::null;
  Information::langEncodings.clear();
  Information::langFonts.clear();
  Information texts;
  std::vector<FXString> codes, names;
  texts.GetAvailableLang(codes, names);
  for (const FXString& code : codes) {
    texts.ChooseLanguage(code);
    // Keys used with each kind of arguments, filled as the program fills them.
    texts.GetString("kelvarin-cli.list.001");
    texts.Format("Analyse.CheckOptions.001", "-file");
    texts.Format("Analyse.CheckOne.001", "NTFS", 63.0);
    texts.Format("Analyse.CheckOne.010", (FXuint)3);
    texts.Format("Kelvarin.onCmd_Next.010", 63.0, 2048.0);
  }
  return 0;
}
