// Where the programs find default.cfg, lang/ and res/: the current directory
// first, then $KELVARIN_DATADIR, the program's own directory and the
// installed data folder, each read from the first place that has it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Information.h"
#include "Installation.h"
#include "support/WorkDir.h"

using kvtest::WorkDir;

namespace {

enum Place { CURRENT, ENVIRONMENT, BESIDE, INSTALLED, NOWHERE };
const char* const PLACE_NAMES[] = {"current", "environment", "beside", "installed", "nowhere"};

// What one place holds, each file saying which place it is in.
struct Holds {
  bool texts, config, picture;
};

// An installation tree (usr/bin, usr/share/kelvarin), a folder for
// $KELVARIN_DATADIR, and the current directory, filled as a case asks.
class Places {
public:
  explicit Places(const Holds (&holds)[4]) {
    folders[CURRENT] = "";
    folders[ENVIRONMENT] = "env/";
    folders[BESIDE] = "tree/usr/bin/";
    folders[INSTALLED] = "tree/usr/share/kelvarin/";
    for (int p = CURRENT; p <= INSTALLED; p++) fill(folders[p], PLACE_NAMES[p], holds[p]);
    // Someone else's lang/ folder in the current directory, without a
    // language file in it, is passed over.
    if (!holds[CURRENT].texts) dir.write("lang/readme.txt", "not a language\n");
    setenv("KELVARIN_DATADIR", dir.path("env").c_str(), 1);
    Information::dataPlaces = Installation::DataPlaces(dir.path("tree/usr/bin/kelvarin").c_str());
  }
  ~Places() {
    unsetenv("KELVARIN_DATADIR");
    Information::dataPlaces.assign(1, ".");
  }

  // The place the texts came from.
  Place texts() {
    Information::ReadTranslations();
    for (int p = CURRENT; p <= INSTALLED; p++)
      if (Information::translations.find(PLACE_NAMES[p]) >= 0) return (Place)p;
    return NOWHERE;
  }
  Place config() {
    Information::ReadConfigParams();
    return placeNamed(Information::GetConfigParam("place"));
  }
  Place picture() { return placeOf(Information::DataPath("res/backimage.png")); }

private:
  WorkDir dir;
  std::string folders[4];

  void fill(const std::string& folder, const std::string& name, const Holds& holds) {
    if (holds.texts) dir.write(folder + "lang/en.lng", "# " + name + "\nlanguages='EN'\n");
    if (holds.config) dir.write(folder + "default.cfg", "place=" + name + "\n");
    if (holds.picture) dir.write(folder + "res/backimage.png", name);
  }
  static Place placeNamed(const FXString& name) {
    for (int p = CURRENT; p <= INSTALLED; p++)
      if (name == PLACE_NAMES[p]) return (Place)p;
    return NOWHERE;
  }
  Place placeOf(const FXString& path) {
    FILE* f = fopen(path.text(), "r");
    if (!f) return NOWHERE;
    char text[32] = "";
    size_t n = fread(text, 1, sizeof(text) - 1, f);
    fclose(f);
    return placeNamed(FXString(text, (FXint)n));
  }
};

}  // namespace

TEST(DataPlaces, EachFileComesFromTheFirstPlaceThatHasIt) {
  const Holds all = {true, true, true}, none = {false, false, false};
  struct Case {
    const char* what;
    Holds holds[4];  // current, environment, beside, installed
    Place texts, config, picture;
  } cases[] = {
      {"everywhere", {all, all, all, all}, CURRENT, CURRENT, CURRENT},
      {"not here", {none, all, all, all}, ENVIRONMENT, ENVIRONMENT, ENVIRONMENT},
      {"a build tree", {none, none, all, all}, BESIDE, BESIDE, BESIDE},
      {"installed only", {none, none, none, all}, INSTALLED, INSTALLED, INSTALLED},
      {"a configuration of one's own", {{false, true, false}, none, none, all}, INSTALLED, CURRENT, INSTALLED},
      {"a picture beside, texts installed", {none, none, {false, false, true}, all}, INSTALLED, INSTALLED, BESIDE},
      {"nothing", {none, none, none, none}, NOWHERE, NOWHERE, NOWHERE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Places places(c.holds);
    EXPECT_STREQ(PLACE_NAMES[c.texts], PLACE_NAMES[places.texts()]);
    EXPECT_STREQ(PLACE_NAMES[c.config], PLACE_NAMES[places.config()]);
    EXPECT_STREQ(PLACE_NAMES[c.picture], PLACE_NAMES[places.picture()]);
  }
}
