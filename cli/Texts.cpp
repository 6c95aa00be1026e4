#include "Texts.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <vector>

static const FXchar NOT_AVAILABLE[] = "<not available>";

static bool isDirectory(const FXString& path) {
  struct stat st;
  return stat(path.text(), &st) == 0 && S_ISDIR(st.st_mode);
}

static FXString programDirectory(const char* argv0) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  FXString exe = n > 0 ? FXString(buffer, (FXint)n) : FXString(argv0 ? argv0 : "");
  FXint slash = exe.rfind('/');
  return slash > 0 ? exe.left(slash) : FXString(".");
}

bool Texts::LoadData(const char* argv0) {
  std::vector<FXString> places;
  places.push_back(".");
  if (const char* dir = getenv("KELVARIN_DATADIR")) places.push_back(dir);
  FXString own = programDirectory(argv0);
  places.push_back(own);
  places.push_back(own + "/../share/kelvarin");

  // Information reads relative to the current directory; visit the data
  // directory for the reading and come back, so image names given on the
  // command line keep their meaning.
  int here = open(".", O_RDONLY | O_DIRECTORY);
  bool found = false;
  for (const FXString& place : places) {
    if (!isDirectory(place + "/lang")) continue;
    if (chdir(place.text()) != 0) continue;
    Information::ReadConfigParams();
    Information::ReadTranslations();
    found = !Information::translations.empty();
    if (here >= 0 && fchdir(here) != 0) break;
    if (found) break;
  }
  if (here >= 0) close(here);
  setlocale(LC_CTYPE, "");  // only the character set: numbers keep their '.'
  return found;
}

Texts::Texts(Information* info) : info(info) {}

void Texts::use(Information* i) { info = i; }

bool Texts::has(const FXchar* key) { return info && info->GetString(key) != NOT_AVAILABLE; }

FXString Texts::get(const FXchar* key) {
  if (!has(key)) return key;
  return toTerminal(info->GetString(key));
}

static bool isAscii(const FXString& text) {
  for (FXint i = 0; i < text.length(); i++)
    if ((FXuchar)text[i] >= 0x80) return false;
  return true;
}

static bool localeIsUtf8OrNone() {
  const FXchar* codeset = nl_langinfo(CODESET);
  return strcmp(codeset, "UTF-8") == 0 || strcmp(codeset, "ANSI_X3.4-1968") == 0;
}

FXString Texts::toTerminal(const FXString& text) {
  if (isAscii(text) || localeIsUtf8OrNone()) return text;
  FXString target = nl_langinfo(CODESET);
  target.append("//TRANSLIT");
  return ConvertCharset(text, "UTF-8", target.text());
}

FXint Texts::displayWidth(const FXString& text) {
  // UTF-8 continuation bytes take no column; in a single-byte character set
  // every byte does.
  bool utf8 = localeIsUtf8OrNone();
  FXint width = 0;
  for (FXint i = 0; i < text.length(); i++)
    if (!utf8 || ((FXuchar)text[i] & 0xC0) != 0x80) width++;
  return width;
}

FXString ConvertCharset(const FXString& text, const FXchar* from, const FXchar* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return text;
  std::vector<char> in(text.text(), text.text() + text.length());
  std::vector<char> out(text.length() * 4 + 16);
  char* inp = in.data();
  size_t inLeft = in.size();
  char* outp = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != (size_t)-1) break;
    if (errno == E2BIG) break;  // four bytes per character always suffice
    // A byte the source set does not define: show it as '?' and go on.
    inp++;
    inLeft--;
    if (outLeft == 0) break;
    *outp++ = '?';
    outLeft--;
  }
  iconv(cd, nullptr, nullptr, &outp, &outLeft);
  iconv_close(cd);
  return FXString(out.data(), (FXint)(out.size() - outLeft));
}
